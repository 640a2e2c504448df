// A wnaspi32 stand-in that lacks SendASPI32Command.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() { return 0x0100; }
