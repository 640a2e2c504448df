// A wnaspi32 stand-in that lacks GetASPI32SupportInfo.
#include <cstdint>

#include "fake_export.h"

extern "C" FAKE_ASPI_EXPORT std::uint32_t SendASPI32Command(void*) { return 0; }
