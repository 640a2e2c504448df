// The surface tests of one drive: START/STOP cycles, Sequential Verify,
// random reads, writes and seeks, and the 100MB writes at both ends, chosen
// by the window's test mode and the write permission.
#pragma once

#include <cstddef>
#include <cstdint>

#include "discovery/engine_observer.h"

namespace tamro {

// The media test of the drive in currentSlot. 0 when every procedure of the
// chosen mode completed; -1 with errorKind 7 and the reason in comment when
// one failed. Sets readErrorLimit and otherErrorLimit at entry (99 both for a
// drive that enters with errorKind 9) and the slot's test-mode bit of
// runFlags. PBar must stand at the drive's start position.
int RunSurfaceTests(std::uint8_t hostAdapter, std::uint8_t targetId);

// The Sequential Verify of the Extended mode alone, over the whole drive in
// currentSlot, with its progress and its error rules; for measurements of the
// command path. 0, or -1 as RunSurfaceTests.
int RunSequentialVerify(std::uint8_t hostAdapter, std::uint8_t targetId);

// The mode chosen for the run.
TestMode CurrentTestMode();

// How many equal shares one drive's part of PBar is cut into: one per
// procedure plus one for the error hit check (8, 5, 4, 3), and 1 in Quick
// mode, where the hit check is the drive's only procedure.
int ShareDivisor(TestMode mode, bool writes);

// One procedure's part of PBar for the drive, multiplied by kShareScale:
// (PBar maximum / selectedCount) / ShareDivisor, in integer divisions.
inline constexpr std::uint32_t kShareScale = 10000;
std::uint32_t TestShare(TestMode mode, bool writes);

// The most read-type errors the surface tests allow on a drive of this size;
// `previous` is kept for lastLba 0.
std::int32_t ReadErrorLimitFor(std::uint32_t lastLba, std::int32_t previous);

// The reason given to a drive that cannot be tested because it holds a
// single block.
inline constexpr char kDriveTooSmall[] = "Drive capacity too small to test.";

// Whether every transfer of the drive's tests in this mode (up to 128 blocks
// in the 100MB writes, else 16) fits the largest transfer a command carries.
// A block length of 0 would make every transfer empty.
bool BlockLengthTestable(std::int32_t blockSize, TestMode mode, bool writes);

// The data buffer of the read and write procedures: the 256 KiB the
// procedures were laid out for, or more when the drive's block size makes a
// transfer larger than that.
std::size_t SurfaceBufferBytes(std::int32_t blockSize, bool writes);

}  // namespace tamro
