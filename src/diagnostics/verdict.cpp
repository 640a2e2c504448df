#include "diagnostics/verdict.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"
#include "platform/time_text.h"
#include "reports/drive_log.h"

namespace tamro {

namespace {

// currentSlot names no slot when the slot display has left it past the last.
bool OnARow() { return currentSlot >= 0 && currentSlot < SlotsInTable(); }

void StampTime(char (&field)[64], std::optional<std::time_t>& at) {
    at = std::time(nullptr);
    const std::string now = platform::LocalTimeText(*at);
    std::memset(field, 0, sizeof field);
    std::memcpy(field, now.data(), std::min(now.size(), sizeof field - 1));
}

void StampStopTime(DriveSlot& slot) { StampTime(slot.stopTime, CurrentRunJournal().stoppedAt); }

void ShowJudge(const char* text, Tone tone) {
    if (OnARow()) Observer().Judge(currentSlot, text, tone, true);
}

}  // namespace

RunJournal& CurrentRunJournal() {
    thread_local RunJournal journal;
    return journal;
}

void StampStartTime(DriveSlot& slot) {
    CurrentRunJournal() = RunJournal{};
    StampTime(slot.startTime, CurrentRunJournal().startedAt);
}

std::shared_ptr<DriveReport> NewReport(ReportKind kind) {
    auto report = std::make_shared<DriveReport>();
    report->kind = kind;
    report->slot = currentSlot;
    RunJournal journal = std::exchange(CurrentRunJournal(), RunJournal{});
    report->startedAt = journal.startedAt;
    report->stoppedAt = journal.stoppedAt;
    report->procedures = std::move(journal.procedures);
    report->logRetested = journal.logRetested;
    return report;
}

int MarkPass() {
    DriveSlot& slot = CurrentDrive();
    StampStopTime(slot);
    slot.runFlags |= kFlagPass;
    ShowJudge("PASS", Tone::Green);
    return 0;
}

int MarkFailOrNo() {
    DriveSlot& slot = CurrentDrive();
    StampStopTime(slot);
    slot.runFlags |= slot.errorKind == kLogUnreadableAtScan ? kFlagNoJudge : kFlagFail;
    if (slot.errorKind == kNotIdentified || slot.errorKind == kLogUnreadableAtScan)
        ShowJudge("------ ", Tone::Maroon);
    else
        ShowJudge("FAIL", Tone::Red);
    return 0;
}

int FinishSlot() {
    const std::shared_ptr<DriveReport> report = NewReport(ReportKind::Run);
    const int written = WriteDriveLog(*report);
    if (OnARow()) Observer().DriveReported(report);
    if (written != 0) return -1;
    if (OnARow()) Observer().LogWritten(currentSlot, report->logPath);
    ShowStatus("");
    return 0;
}

}  // namespace tamro
