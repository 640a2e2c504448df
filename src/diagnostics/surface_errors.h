// How the surface tests judge a failed command: which list its record goes
// to, whether the drive's error rate is still acceptable, and the reason
// left in comment. Shared by the procedures of surface_tests.cpp.
#pragma once

#include <cstdint>

#include "discovery/drive_table.h"

namespace tamro::surface {

// The procedure whose command failed, for its message and its rules.
enum class Procedure { SeqVerify, RandRead, RandWrite, SeqWrite };

// What the procedure does after the failure.
struct Verdict {
    bool fatal = false;  // the procedure returns -1 (errorKind 7 already set)
    // The error-rate exit: the counter gets the blocks the command moved
    // before the error (see the procedures).
    bool rateExceeded = false;
    std::uint32_t errorLba = 0;
};

// The fixed-format sense fields read here.
bool SenseValid(const std::uint8_t* sense);
std::uint8_t SenseKey(const std::uint8_t* sense);
std::uint32_t SenseInformation(const std::uint8_t* sense);
std::uint8_t SenseAsc(const std::uint8_t* sense);

// Appends the slot's senseData and failedCdb as one record. A full list
// keeps its records and its count; the limits make that unreachable within
// one drive's tests.
void AppendRecord(const DriveSlot& slot, std::int32_t& count, ErrorRecord* list);

// Judges the failure of a verify, read or write of `count` blocks at `lba`
// that just returned -1, and writes comment and errorKind as the rules say.
Verdict Classify(DriveSlot& slot, Procedure procedure, std::uint32_t lba, std::uint32_t count);

// The failure of a stop, start or seek: no limit, no sense key test; always
// fatal. `message` is the procedure's check-condition text.
void FailWithoutTolerance(DriveSlot& slot, const char* message);

// The blocks of a command of `count` blocks at `lba` that lie before
// errorLba; a drive that reports an error outside the command's own range
// is not believed past its ends.
std::uint32_t BlocksBefore(std::uint32_t errorLba, std::uint32_t lba, std::uint32_t count);

// Copies text into a 64-byte slot field, cut to fit.
void SetText(char (&field)[64], const char* text);

}  // namespace tamro::surface
