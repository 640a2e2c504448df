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
struct DriveReport;

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

// The verdict's reason in the words of the slot's log.
std::string VerdictReason(const DriveSlot& s);

// Writes the current slot's log, replacing a file of the same name, and
// gives its full path. 0 when written; -1 when the file could not be
// created, with the alarm then showing "Cannot open file <name>".
int WriteDriveLog(std::string* path = nullptr);
// The same, filling `report` with the slot as judged, the SMART data page as
// read for the log, and the log's path or why it could not be written.
int WriteDriveLog(DriveReport& report);

// Removes what logs still in writing have written so far: for a stop that
// ends their writers, which then never finish them.
void DiscardUnfinishedLogs();

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

// A log written whole or not at all: its text goes to "<name>.part", which
// replaces the log only once complete, so that a program stopped meanwhile
// leaves the previous log or none, never half of one.
class LogFile {
public:
    explicit LogFile(std::string name);
    // One never committed is removed.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;
    // Null when the file could not be created.
    std::FILE* get() const { return file_; }
    const std::string& Name() const { return name_; }
    // Closes it and puts it in place, giving its full path; false, with the
    // alarm as for a log that cannot be created and its words in `failure`,
    // when that failed.
    bool Commit(std::string* path, std::string* failure = nullptr);

private:
    std::string name_;
    std::string part_;
    std::FILE* file_ = nullptr;
};
// The error panel for a log that could not be created; gives its words.
std::string ShowOpenFailure(const std::string& fileName);
}  // namespace logparts

}  // namespace tamro
