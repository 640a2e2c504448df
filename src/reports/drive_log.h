// The drive test log: one plain-text file per judged drive, named after the
// drive's serial number and written whole in one pass.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace tamro {

struct DriveSlot;

// The log file's name for a serial number, ".log" included. The serial comes
// from the drive, so anything that could leave the current folder or that a
// file system refuses (separators, "..", control characters, <>:"|?*, device
// names) is replaced; an ordinary serial number is kept as it is. The text
// ends at its first NUL. Every place that opens a drive's log uses this.
std::string LogFileName(std::string_view serial);

// A fixed-size text field that may lack its terminator.
template <std::size_t N>
std::string LogFileName(const char (&serial)[N]) {
    const char* end = std::find(serial, serial + N, '\0');
    return LogFileName(std::string_view(serial, static_cast<std::size_t>(end - serial)));
}

// Writes the current slot's log, replacing a file of the same name. 0 when
// written; -1 when the file could not be created, with the error panel then
// showing "Cannot open file <name>".
int WriteDriveLog();

// The parts that the microcode log shares with the drive test log.
namespace logparts {
// "Start Time" and, when the slot asks for it, the identity block.
void WriteHeader(std::FILE* f, const DriveSlot& s);
// "<<< lastError >>>", then for a CHECK CONDITION the sense and CDB dump.
void WriteFailure(std::FILE* f, const DriveSlot& s);
void WriteFailBanner(std::FILE* f);
void WritePassBanner(std::FILE* f);
void WriteStopTime(std::FILE* f, const DriveSlot& s);
// The error panel with `text` in its error line and OK to end the program.
void ShowAlarm(const char* text);
// The error panel for a log that could not be created.
void ShowOpenFailure(const std::string& fileName);
}  // namespace logparts

}  // namespace tamro
