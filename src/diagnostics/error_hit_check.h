// The re-test of every error that the drive recorded in its own SMART log:
// does each logged error still occur?
#pragma once

#include <cstdint>

namespace tamro {

// Re-tests the log entries of the drive in currentSlot (4 for log layout 1,
// 90 for layouts 2 to 4, none for any other layout) and stores each entry's
// outcome in the slot's retest table. 0 when errorKind is 0 at the end;
// otherwise errorKind becomes 6 and the result is -1. PBar must stand at the
// drive's start position.
int ErrorHitCheck(std::uint8_t hostAdapter, std::uint8_t targetId);

// Log entries that the check examines for a log layout.
int LogEntryCount(std::int32_t logLayout);

}  // namespace tamro
