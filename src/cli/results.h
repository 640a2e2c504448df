// What tamro-cli tells when the work is done: the drive list of a scan, the
// table of verdicts, the same as JSON, and the exit status.
#pragma once

#include <array>
#include <cstdio>
#include <string>

#include "discovery/drive_table.h"

namespace tamro::cli {

enum ExitStatus : int { kAllPass = 0, kSomeFail = 1, kSomeNotJudged = 2, kNothingRun = 3 };

// The seven lines as the window's drive list shows them, each with its state.
void PrintDriveList(std::FILE* out);
void PrintDriveListJson(std::FILE* out);

// The drives the work was for and those the drive list judged (a drive that
// failed at the scan gets its log then), and where each log went.
struct WorkDone {
    const char* command;  // "run" or "microcode"
    std::string mode;     // run: quick, standard, extended; microcode: the file
    bool writes = false;
    std::array<bool, kSlotCount> reported{};
    std::array<std::string, kSlotCount> logs{};
};

void PrintSummary(std::FILE* out, const WorkDone& work);
// False when the file could not be written.
bool WriteResultsJson(const std::string& path, const WorkDone& work);
int ExitStatusOf(const WorkDone& work);

}  // namespace tamro::cli
