// tamro-cli: the scan, the run and the microcode download without the
// window, for scripts and for several drives at once. It loads wnaspi32 from
// beside itself as the window does and writes the same logs.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/cli_front_end.h"
#include "cli/options.h"
#include "cli/results.h"
#include "diagnostics/run_driver.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "microcode/microcode.h"
#include "platform/console.h"
#include "platform/folders.h"
#include "reports/drive_log.h"
#include "transport/commands.h"

#ifndef TAMRO_VERSION
#define TAMRO_VERSION "0"
#endif

namespace tamro::cli {

namespace {

[[noreturn]] void End(int status) {
    std::fflush(nullptr);
    // Parked workers and the library's threads end with the process.
    std::_Exit(status);
}

const char* ModeName(TestMode mode) {
    switch (mode) {
        case TestMode::Standard: return "standard";
        case TestMode::Extended: return "extended";
        case TestMode::Quick: break;
    }
    return "quick";
}

// The drives the work is for: those named, or what the window would tick.
// False, with the reason on stderr, when one named is not on the bus.
bool ChooseDrives(const Options& o, std::array<bool, kSlotCount>& chosen) {
    chosen.fill(false);
    if (!o.drives) {
        for (int s = 0; s < kSlotCount; ++s)
            chosen[static_cast<std::size_t>(s)] =
                DescribeSlot(DriveTable[static_cast<std::size_t>(s)]).state == SlotState::Testable;
        return true;
    }
    bool found = true;
    for (const Address& a : *o.drives) {
        bool here = false;
        for (int s = 0; s < driveCount && s < kSlotCount; ++s) {
            const DriveSlot& slot = DriveTable[static_cast<std::size_t>(s)];
            if (slot.hostAdapter != a.hostAdapter || slot.targetId != a.targetId) continue;
            chosen[static_cast<std::size_t>(s)] = here = true;
        }
        if (!here) std::fprintf(stderr, "tamro-cli: no drive at %d:%d in the scan\n", a.hostAdapter, a.targetId);
        found &= here;
    }
    return found;
}

class Session {
public:
    Session(const Options& o, CliFrontEnd& front) : o_(o), front_(front) {
        work_.command = o.command == Command::Run ? "run" : "microcode";
        work_.mode = o.command == Command::Run ? ModeName(o.mode) : o.microcodeFile;
        work_.writes = o.write;
    }

    // What the work came to, on stdout and in the JSON file; the exit status.
    int Report() {
        for (int s = 0; s < kSlotCount; ++s) work_.logs[static_cast<std::size_t>(s)] = front_.LogPath(s);
        std::fputs("\n", stdout);
        PrintSummary(stdout, work_);
        int status = ExitStatusOf(work_);
        if (!jsonPath_.empty() && !WriteResultsJson(jsonPath_, work_)) {
            std::fprintf(stderr, "tamro-cli: cannot write %s\n", jsonPath_.c_str());
            status = kNothingRun;
        }
        return status;
    }

    // Ctrl-C or SIGTERM: as EXIT in the window. Nothing more is sent, every
    // drive at work leaves factory mode, and no log stays half written.
    [[noreturn]] void Interrupt() {
        std::fputs("\ntamro-cli: stopping: the drives at work are taken out of factory mode\n", stderr);
        RequestStopAtNextCommand();
        WaitForCommandsToSettle(SettleBound());
        DiscardUnfinishedLogs();
        End(started_ ? Report() : kNothingRun);
    }

    int Execute() {
        if (!o_.jsonFile.empty()) jsonPath_ = platform::FullPath(o_.jsonFile);
        std::string image;
        if (o_.command == Command::Microcode) image = platform::FullPath(o_.microcodeFile);
        if (!o_.logs.empty() && !platform::SetCurrentFolder(o_.logs)) {
            std::fprintf(stderr, "tamro-cli: cannot use %s for the logs\n", o_.logs.c_str());
            return kNothingRun;
        }
        if (!Scan()) return kNothingRun;
        if (o_.command == Command::Scan) return kAllPass;

        if (o_.command == Command::Microcode && !LoadMicrocodeImage(image)) {
            std::fprintf(stderr, "tamro-cli: %s\n", front_.LastStatus().c_str());
            return kNothingRun;
        }
        std::array<bool, kSlotCount> chosen{};
        const bool allFound = ChooseDrives(o_, chosen);
        if (std::find(chosen.begin(), chosen.end(), true) == chosen.end()) {
            std::fputs("tamro-cli: no drive to work on\n", stderr);
            return kNothingRun;
        }
        // The window judges and logs a drive that failed at the scan as it
        // shows the list; so does this, and reports it unless drives were
        // named.
        ShowSlots(ScanFailures::JudgeAndLog);
        for (int s = 0; s < kSlotCount; ++s)
            work_.reported[static_cast<std::size_t>(s)] =
                chosen[static_cast<std::size_t>(s)] ||
                (!o_.drives && DescribeSlot(DriveTable[static_cast<std::size_t>(s)]).state == SlotState::FailedAtScan);
        front_.Choose(chosen);
        writePermitted = o_.write ? 1 : 0;
        started_ = true;
        if (o_.command == Command::Run) {
            const auto count = static_cast<int>(std::count(chosen.begin(), chosen.end(), true));
            Runthread::ExecuteInParallel(o_.jobs > 0 ? o_.jobs : count);
        } else {
            MicroCodethread::Execute();
        }
        const int status = Report();
        // A drive named but not on the bus was not judged either.
        return !allFound && status == kAllPass ? kSomeNotJudged : status;
    }

private:
    // Two scans in a row, the second decides, as at the window's start.
    bool Scan() {
        ScanBuses();
        if (ScanBuses() == -1) {
            std::string why = front_.ScanFailureText();
            while (!why.empty() && why.front() == ' ') why.erase(0, 1);
            std::fprintf(stderr, "tamro-cli: %s\n", why.c_str());
            return false;
        }
        if (o_.command == Command::Scan) {
            if (o_.json)
                PrintDriveListJson(stdout);
            else
                PrintDriveList(stdout);
        }
        return true;
    }

    const Options& o_;
    CliFrontEnd& front_;
    WorkDone work_;
    std::string jsonPath_;
    bool started_ = false;
};

}  // namespace

}  // namespace tamro::cli

int main(int argc, char** argv) {
    using namespace tamro::cli;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const Parsed parsed = ParseOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "tamro-cli: %s\nTry 'tamro-cli --help'.\n", parsed.error.c_str());
        return kNothingRun;
    }
    const Options& o = *parsed.options;
    if (o.command == Command::Help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (o.command == Command::Version) {
        std::printf("tamro-cli %s\n", TAMRO_VERSION);
        return 0;
    }
    const auto display = o.command == Command::Scan                 ? CliFrontEnd::Display::Quiet
                         : tamro::platform::IsTerminal(stderr) ? CliFrontEnd::Display::Bars
                                                               : CliFrontEnd::Display::Lines;
    static CliFrontEnd front(display, o.mode, tamro::platform::FullPath(o.microcodeFile));
    tamro::SetFrontEnd(front, front);
    static Session session(o, front);
    tamro::platform::OnInterrupt([] { session.Interrupt(); });
    End(session.Execute());
}
