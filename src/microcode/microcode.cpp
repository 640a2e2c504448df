#include "microcode/microcode.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "diagnostics/verdict.h"
#include "diagnostics/worker_end.h"
#include "discovery/drive_table.h"
#include "platform/folders.h"
#include "reports/drive_log.h"
#include "reports/drive_report.h"
#include "discovery/engine_observer.h"
#include "transport/commands.h"

namespace tamro {

namespace {

void Refuse(const char* text) {
    microcodeLength = 0;
    ShowStatus(text, Tone::Red);
}

void Status(const char* text) { ShowStatus(text); }

const char* SeriesLine(std::int32_t logLayout) {
    switch (logLayout) {
        case 1: return "\r\n<<< MicroCode DownLoad for CV-4 series >>>\r\n";
        case 2: return "\r\n<<< MicroCode DownLoad for CV-5 series >>>\r\n";
        case 3: return "\r\n<<< MicroCode DownLoad for CV-6 series >>>\r\n";
        case 4: return "\r\n<<< MicroCode DownLoad for CV-7 series >>>\r\n";
        default: return nullptr;
    }
}

// Sends the image from its end backwards; false when a chunk failed.
bool Download(std::uint8_t ha, std::uint8_t id, int driveShare) {
    const auto length = static_cast<std::uint32_t>(microcodeLength);
    const int steps = static_cast<int>(length / kMicrocodeChunk) + 1;
    std::uint32_t remaining = length;
    while (remaining != 0) {
        const std::uint32_t n = remaining < kMicrocodeChunk ? remaining : kMicrocodeChunk;
        remaining -= n;
        if (WriteBuffer(ha, id, n, remaining) != 0) return false;
        SetBar(Bar::Test, BarPosition(Bar::Test) + kProgressMaximum / steps);
        SetBar(Bar::Total, BarPosition(Bar::Total) + driveShare / steps);
    }
    return true;
}

}  // namespace

bool LoadMicrocodeImage(const std::string& path) {
    platform::ReadFailure failure{};
    const auto bytes = platform::ReadRegularFile(path, kMicrocodeCapacity, failure);
    if (!bytes) {
        switch (failure) {
        case platform::ReadFailure::CannotRead: Refuse("Microcode file cannot be read; nothing loaded."); break;
        // A FIFO or a device is not waited on: it is not a file to flash.
        case platform::ReadFailure::NotRegular:
            Refuse("Microcode file is not a regular file; nothing loaded.");
            break;
        case platform::ReadFailure::CannotOpen: Refuse("Microcode file cannot be opened; nothing loaded."); break;
        }
        return false;
    }
    // A cut image could leave a drive without working firmware.
    if (bytes->size() > kMicrocodeCapacity) {
        Refuse("Microcode file is larger than 512 KB; nothing loaded.");
        return false;
    }
    if (bytes->empty()) {
        Refuse("Microcode file is empty; nothing loaded.");
        return false;
    }
    std::copy(bytes->begin(), bytes->end(), microcodeImage);
    microcodeLength = static_cast<std::int32_t>(bytes->size());
    return true;
}

int WriteMicrocodeLog() {
    Status("** Now saving test result of the drive. **");
    const std::shared_ptr<DriveReport> report = NewReport(ReportKind::Microcode);
    report->judged = CurrentDrive();
    report->microcodeFile = Choices().MicrocodeFileName();
    const bool onARow = currentSlot >= 0 && currentSlot < SlotsInTable();
    const DriveSlot& s = report->judged;
    logparts::LogFile log(LogFileName(s.serialNumber));
    std::FILE* f = log.get();
    if (f == nullptr) {
        report->logError = logparts::ShowOpenFailure(log.Name());
        if (onARow) Observer().DriveReported(report);
        return -1;
    }
    logparts::WriteHeader(f, s);
    if (const char* series = SeriesLine(s.logLayout)) std::fputs(series, f);
    std::fprintf(f, "\r\n MicroCode : %s\r\n", report->microcodeFile.c_str());
    if (s.runFlags & kFlagFail) {
        std::fputs("\r\n", f);
        if (s.errorKind == kTransportError || s.errorKind == kCheckCondition)
            logparts::WriteFailure(f, s);
        else
            std::fputs("<<< It is program bug. >>>\r\n", f);
        logparts::WriteFailBanner(f);
    }
    if (s.runFlags & kFlagPass) logparts::WritePassBanner(f);
    logparts::WriteStopTime(f, s);
    const bool committed = log.Commit(&report->logPath, &report->logError);
    if (onARow) Observer().DriveReported(report);
    if (!committed) return -1;
    if (onARow) Observer().LogWritten(currentSlot, report->logPath);
    Status("");
    return 0;
}

MicroCodethread::Outcome MicroCodethread::Execute() try {
    const WorkChoices& choices = Choices();
    const int slots = driveCount < SlotsInTable() ? driveCount : SlotsInTable();
    selectedCount = 0;
    for (int s = 0; s < slots; ++s)
        if (choices.Chosen(s)) ++selectedCount;

    int begun = 0;
    for (int s = 0; s < slots; ++s) {
        currentSlot = s;
        SetBar(Bar::Test, 0);
        if (!choices.Chosen(s)) continue;

        Observer().Judge(s, "Run.", Tone::Navy, true);
        // The boxes stay enabled during a download: one ticked after the
        // count must not divide by zero.
        const int driveShare = kProgressMaximum / (selectedCount > 0 ? selectedCount : 1);
        SetBar(Bar::Total, driveShare * begun);
        ++begun;

        DriveSlot& slot = Slot(s);
        StampStartTime(slot);
        slot.runFlags |= kFlagIdentity;

        NameAfterAddressIfUnnamed(slot);
        if (slot.errorKind != kNoError) {
            if (slot.errorKind != kLogUnreadableAtScan) {
                MarkFailOrNo();
                if (FinishSlot() != 0) return Outcome::Stopped;
                continue;
            }
        }

        const auto ha = static_cast<std::uint8_t>(slot.hostAdapter & 0x0F);
        const auto id = static_cast<std::uint8_t>(slot.targetId & 0x0F);
        ShowStatus("** MicroCode DownLoad **", Tone::Navy);
        const std::uint64_t sentBefore = RequestsSent();
        const bool downloaded = Download(ha, id, driveShare);
        // A drive that no command reached is not judged by the library's fault.
        if (RequestBlocksExhausted() && RequestsSent() == sentBefore) {
            Observer().Judge(s, "", Tone::Unchanged, false);
            StopForKeptRequests();
            return Outcome::Stopped;
        }
        if (!downloaded) {
            MarkFailOrNo();
            WriteMicrocodeLog();
        } else {
            MarkPass();
            WriteMicrocodeLog();
            SetBar(Bar::Test, kProgressMaximum);
        }
        if (RequestBlocksExhausted()) {
            StopForKeptRequests();
            return Outcome::Stopped;
        }
    }

    ShowAnalysisFinished(Work::Download);
    return Outcome::Finished;
} catch (const CommandsStopped&) {
    return Outcome::Interrupted;
}

void MicroCodethread::Start() {
    std::thread([] {
        if (Execute() != Outcome::Finished) ParkWorker();
    }).detach();
}

}  // namespace tamro
