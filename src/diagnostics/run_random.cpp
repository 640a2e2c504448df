#include "diagnostics/run_random.h"

namespace tamro {

namespace {

// One sequence per thread, as the runtime keeps it: a fresh worker thread
// starts from 1 even before it resets.
thread_local std::uint32_t state = 1;

}  // namespace

void ResetRunRandom() { state = 1; }

std::uint32_t NextRunRandom() {
    state = state * 22695477u + 1u;  // unsigned: wraps modulo 2^32
    return (state >> 16) & kRunRandomMax;
}

std::uint32_t ScaleRandomLba(std::uint32_t x, std::uint32_t lastLba) {
    // The product is exact in the 64-bit mantissa; only the multiplication by
    // the rounded reciprocal rounds, as the original arithmetic did.
    constexpr long double kReciprocal = 1.0L / 32767.0L;
    const long double scaled = static_cast<long double>(x) * static_cast<long double>(lastLba) * kReciprocal;
    if (scaled >= static_cast<long double>(lastLba)) return lastLba;
    return static_cast<std::uint32_t>(scaled);
}

std::uint32_t DrawRandomLba(std::uint32_t lastLba) { return ScaleRandomLba(NextRunRandom(), lastLba); }

}  // namespace tamro
