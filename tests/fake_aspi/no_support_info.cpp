// A wnaspi32 stand-in that lacks GetASPI32SupportInfo.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void*) { return 0; }
