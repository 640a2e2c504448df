// The run's random generator and the random LBA draw of the surface tests.
//
// The generator is the runtime's linear congruential one, kept here rather
// than taken from the C library so that every run draws the same LBAs on
// every platform: state = state * 22695477 + 1 (mod 2^32), output
// (state >> 16) & 7FFFh. Each thread starts from state 1; the run worker
// resets it once when it starts and never reseeds it, so Random Seek Read,
// Random Seek Write and Random Seek of all drives of a run share one
// sequence.
#pragma once

#include <cstdint>

namespace tamro {

inline constexpr std::uint32_t kRunRandomMax = 0x7FFF;

// Back to state 1 on the calling thread.
void ResetRunRandom();

// The next output, 0 to 32767.
std::uint32_t NextRunRandom();

// x * lastLba * (1 / 32767) in extended floating point, truncated toward
// zero; 0 to lastLba.
std::uint32_t ScaleRandomLba(std::uint32_t x, std::uint32_t lastLba);

// Draws the next output and scales it to 0..lastLba.
std::uint32_t DrawRandomLba(std::uint32_t lastLba);

}  // namespace tamro
