// A wnaspi32 stand-in that lacks SendASPI32Command.
#include <cstdint>

#include "fake_export.h"

extern "C" FAKE_ASPI_EXPORT std::uint32_t GetASPI32SupportInfo() { return 0x0100; }
