// tamro-cli: the scan, the run and the microcode download without the
// window, for scripts and for several drives at once. It loads wnaspi32 from
// beside itself as the window does and writes the same logs, and reaches
// every drive of every adapter, beyond the window's seven rows.
#include "cli/command_line.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "cli/cli_front_end.h"
#include "cli/options.h"
#include "cli/results.h"
#include "diagnostics/health_check.h"
#include "diagnostics/run_driver.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "microcode/microcode.h"
#include "platform/console.h"
#include "platform/folders.h"
#include "transport/aspi.h"
#include "transport/commands.h"

namespace tamro::cli {

namespace {

[[noreturn]] void End(int status) {
    std::fflush(nullptr);
    // The library's threads end with the process.
    std::_Exit(status);
}

class Session {
public:
    Session(const Options& o, CliFrontEnd& front) : o_(o), front_(front) {
        results_.command = o.command;
        if (o.command == Command::Run) results_.mode = o.mode;
        results_.writes = o.write;
        if (o.command == Command::Microcode) results_.microcodeFile = platform::FullPath(o.microcodeFile);
        results_.startedAt = std::time(nullptr);
    }

    // Ctrl-C or SIGTERM, on the console's thread: as EXIT in the window.
    // Each drive at work stops at its next command and leaves factory mode;
    // the work's thread then reports once. A second interrupt says what is
    // still awaited.
    void Interrupt(platform::InterruptKind kind) {
        // The console runs one interrupt at a time; the kind is in place
        // before the work's thread can see the count.
        if (interrupts_.load() == 0) {
            kind_ = kind == platform::InterruptKind::Interrupt ? Interruption::Interrupt : Interruption::Terminate;
            interrupts_ = 1;
            std::fputs("\ntamro-cli: stopping: each drive at work stops at its next command and leaves factory mode\n",
                       stderr);
            RequestStopAtNextCommand();
            return;
        }
        ++interrupts_;
        const std::vector<CommandInFlight> waiting = CommandsInFlight();
        if (waiting.empty()) std::fputs("tamro-cli: still stopping: the last commands are coming back\n", stderr);
        for (const CommandInFlight& c : waiting)
            std::fprintf(stderr, "tamro-cli: still waiting for %s %.*s, at most %lld s\n",
                         AddressText(c.ha, c.id).c_str(), static_cast<int>(c.label.size()), c.label.data(),
                         static_cast<long long>((c.atMost.count() + 999) / 1000));
    }

    int Execute() {
        if (!CheckOutputs()) return Finish();
        try {
            if (!Scan() || o_.command == Command::Scan) return Finish();
            Work();
        } catch (const CommandsStopped&) {
            // The stop met a command on this thread: the scan, or the drive
            // list judging a drive that failed at the scan.
        }
        return Finish();
    }

private:
    // Everything the work will write, proven writable before the library is
    // loaded: a scan already switches every drive's factory mode on and off.
    bool CheckOutputs() {
        for (Output* output : {&json_, &metrics_}) {
            if (output->file.empty() || output->file == kStandardOutput) continue;
            std::string why;
            const auto target = platform::ReplaceableFile(output->file, why);
            if (!target) {
                // Neither output is written: a script finds none rather than
                // one that says less than it asked for.
                json_.refused = metrics_.refused = true;
                return Refuse(std::string(output->option) + " " + output->file + ": it " + why);
            }
            output->path = *target;
        }
        if (o_.command != Command::Scan && o_.command != Command::Health) {
            const std::string folder = o_.logs.empty() ? "." : o_.logs;
            if (const std::string why = platform::PrepareWritableFolder(folder); !why.empty()) {
                return Refuse("the log folder " + platform::FullPath(folder) + " " + why);
            }
            if (!o_.logs.empty() && !platform::SetCurrentFolder(o_.logs))
                return Refuse("cannot use " + o_.logs + " for the logs");
        }
        if (o_.command == Command::Microcode && !LoadMicrocodeImage(results_.microcodeFile)) {
            std::string why = front_.LastStatus();
            return Refuse(why.empty() ? "the microcode file cannot be loaded" : why);
        }
        return true;
    }

    bool Refuse(const std::string& why) {
        std::fprintf(stderr, "tamro-cli: %s\n", why.c_str());
        results_.error = why;
        return false;
    }

    // Two scans in a row, the second decides, as at the window's start.
    bool Scan() {
        ScanBuses(ScanReach::EveryDrive);
        const int scanned = ScanBuses(ScanReach::EveryDrive);
        results_.library = AspiLibraryPath();
        if (scanned == -1) {
            std::string why = front_.ScanFailureText();
            while (!why.empty() && why.front() == ' ') why.erase(0, 1);
            return Refuse(why);
        }
        if (driveCount == 0)
            return Refuse(std::string("no drive reachable through ") +
                          (results_.library.empty() ? "wnaspi32" : results_.library) + ": " +
                          platform::DriveAccessHint());
        // The seven rows, empty ones included, then every drive beyond them.
        const int slots = std::max(kSlotCount, std::min<int>(driveCount, SlotsInTable()));
        scanned_.clear();
        for (int s = 0; s < slots; ++s) scanned_.push_back(ScannedRow(s));
        reported_.assign(scanned_.size(), false);
        if (o_.command == Command::Scan) {
            for (const DriveRow& row : scanned_)
                if (row.state != SlotState::Empty) results_.drives.push_back(row);
            if (json_.file != kStandardOutput) PrintDriveList(stdout);
        }
        return true;
    }

    // The drives the work is for: those named, or what the window would
    // tick. A drive named that the scan did not find is reported absent.
    std::vector<bool> ChooseDrives() {
        std::vector<bool> chosen(scanned_.size(), false);
        // A health check reads every drive the scan found, and says of those
        // it cannot read why.
        const bool every = o_.command == Command::Health;
        for (std::size_t s = 0; s < scanned_.size(); ++s) {
            const SlotState state = scanned_[s].state;
            chosen[s] =
                !o_.drives && (every ? state != SlotState::Empty : state == SlotState::Testable);
        }
        for (const Address& a : o_.drives.value_or(std::vector<Address>{})) {
            bool here = false;
            for (std::size_t s = 0; s < scanned_.size() && static_cast<int>(s) < driveCount; ++s) {
                const DriveSlot& slot = scanned_[s].report->judged;
                if (slot.hostAdapter != a.hostAdapter || slot.targetId != a.targetId) continue;
                chosen[s] = here = true;
            }
            if (!here && std::find(results_.absent.begin(), results_.absent.end(), a) == results_.absent.end()) {
                std::fprintf(stderr, "tamro-cli: no drive at %d:%d in the scan\n", a.hostAdapter, a.targetId);
                results_.absent.push_back(a);
            }
        }
        return chosen;
    }

    void Work() {
        const std::vector<bool> chosen = ChooseDrives();
        if (std::find(chosen.begin(), chosen.end(), true) == chosen.end()) {
            Refuse("no drive to work on");
            return;
        }
        const auto count = static_cast<int>(std::count(chosen.begin(), chosen.end(), true));
        const int jobs = o_.jobs > 0 ? o_.jobs : std::min(count, kMostJobs);
        if (o_.command == Command::Health) {
            // Read only: no drive is judged or logged, not even one that
            // failed at the scan.
            reported_ = chosen;
            front_.Choose(chosen);
            CheckHealthInParallel(jobs);
            return;
        }
        // The window judges and logs a drive that failed at the scan as it
        // shows the list; so does this, and reports it unless drives were
        // named.
        for (std::size_t s = 0; s < scanned_.size(); ++s)
            reported_[s] = chosen[s] || (!o_.drives && scanned_[s].state == SlotState::FailedAtScan);
        ShowSlots(ScanFailures::JudgeAndLog);
        front_.Choose(chosen);
        writePermitted = o_.write ? 1 : 0;
        if (o_.command == Command::Run) {
            Runthread::ExecuteInParallel(jobs);
        } else {
            MicroCodethread::Execute();
        }
    }

    // Once every worker has stopped: the table, the JSON, the exit status.
    int Finish() {
        if (interrupts_.load() != 0) {
            // A switch-off that found no free request block goes out as soon
            // as one comes back.
            WaitForCommandsToSettle(SettleBound());
            results_.interrupted = kind_.load();
        }
        for (std::size_t s = 0; s < reported_.size(); ++s) {
            if (!reported_[s]) continue;
            DriveRow row = scanned_[s];
            if (auto report = front_.ReportOf(static_cast<int>(s))) row.report = std::move(report);
            results_.drives.push_back(std::move(row));
        }
        results_.stoppedAt = std::time(nullptr);
        const bool toStdout = json_.file == kStandardOutput || metrics_.file == kStandardOutput;
        if (o_.command != Command::Scan && results_.error.empty()) {
            std::FILE* table = toStdout ? stderr : stdout;
            std::fputs("\n", table);
            PrintSummary(table, results_);
        }
        // Every output says the status the process returns: when one file
        // cannot be written, one written already is written again with the
        // status that follows. Stdout comes last, as it can be said only once.
        int status = ExitStatusOf(results_);
        std::vector<Output*> written;
        for (Output* output : {&json_, &metrics_}) {
            if (output->file == kStandardOutput) continue;
            if (Write(*output, status)) written.push_back(output);
            else results_.jsonUnwritten = true;
        }
        if (const int now = ExitStatusOf(results_); now != status) {
            status = now;
            for (Output* output : written) Write(*output, status);
        }
        for (Output* output : {&json_, &metrics_}) {
            if (output->file != kStandardOutput || Write(*output, status)) continue;
            results_.jsonUnwritten = true;
            status = ExitStatusOf(results_);
        }
        return status;
    }

    // Where the JSON or the metrics go: a file checked before the work, or
    // stdout.
    struct Output {
        const char* option;
        std::string file;
        std::string path;
        bool refused = false;
    };

    bool Write(const Output& output, int status) const {
        if (output.file.empty() || output.refused) return true;
        const std::string text = &output == &json_ ? ResultsJson(results_, status) : ResultsMetrics(results_, status);
        if (output.file == kStandardOutput) return std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0;
        if (platform::WriteFileWhole(output.path, text)) return true;
        std::fprintf(stderr, "tamro-cli: cannot write %s\n", output.path.c_str());
        return false;
    }

    const Options& o_;
    CliFrontEnd& front_;
    Results results_;
    std::vector<DriveRow> scanned_;
    std::vector<bool> reported_;
    Output json_{"--json", o_.jsonFile, {}, false};
    Output metrics_{"--metrics", o_.metricsFile, {}, false};
    std::atomic<int> interrupts_{0};
    std::atomic<Interruption> kind_{Interruption::Interrupt};
};

}  // namespace

}  // namespace tamro::cli

namespace tamro::cli {

void RunCommandLine(const std::vector<std::string>& args, const char* moreUsage) {
    const Parsed parsed = ParseOptions(args);
    if (!parsed.options) {
        std::fprintf(stderr, "tamro-cli: %s\n(tamro-cli --help lists the commands and options)\n",
                     parsed.error.c_str());
        End(kNothingRun);
    }
    const Options& o = *parsed.options;
    if (o.command == Command::Help) {
        std::fputs(kUsage, stdout);
        if (moreUsage != nullptr) std::fputs(moreUsage, stdout);
        End(0);
    }
    if (o.command == Command::Version) {
        std::printf("tamro-cli %s\n", TAMRO_VERSION);
        End(0);
    }
    const auto display = o.command == Command::Scan           ? CliFrontEnd::Display::Quiet
                         : platform::IsTerminal(stderr) ? CliFrontEnd::Display::Bars
                                                        : CliFrontEnd::Display::Lines;
    DisplayEnvironment environment;
    environment.columns = [] { return platform::TerminalColumns(stderr); };
    environment.rows = [] { return platform::TerminalRows(stderr); };
    static CliFrontEnd front(display, o.mode, platform::FullPath(o.microcodeFile), environment);
    SetFrontEnd(front, front);
    static Session session(o, front);
    platform::OnInterrupt([](platform::InterruptKind kind) { session.Interrupt(kind); });
    // The clock of the display: bars move on, and a silent drive reports.
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            front.Tick();
        }
    }).detach();
    End(session.Execute());
}

}  // namespace tamro::cli
