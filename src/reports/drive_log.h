// The drive test log: one plain-text file per judged drive, named after the
// drive's serial number and written whole in one pass.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace tamro {

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

}  // namespace tamro
