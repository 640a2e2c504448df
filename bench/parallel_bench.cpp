// A Standard run of several drives at the bus's own service time, as
// tamro-cli runs them. The default bus one drive after another against all
// at once; and 4, 15 and 30 sound drives all at once against the slowest of
// them alone, with the peak resident memory of each. Wall time, one
// iteration each: a run takes seconds.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "diagnostics/run_driver.h"
#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "sim_control.h"

namespace {

using namespace tamro;
using Seconds = std::chrono::duration<double>;

// Standard mode on the drives the window would tick, or on one of them
// alone; reports go nowhere.
class Choices final : public QuietObserver, public WorkChoices {
public:
    int only = -1;
    bool Chosen(int slot) const override {
        if (only >= 0 && slot != only) return false;
        return slot >= 0 && slot < SlotsInTable() && slot < driveCount &&
               DescribeSlot(Slot(slot)).state == SlotState::Testable;
    }
    TestMode Mode() const override { return TestMode::Standard; }
    std::string MicrocodeFileName() const override { return {}; }
};

Choices& TheChoices() {
    static Choices choices;
    SetFrontEnd(choices, choices);
    return choices;
}

// A folder of its own for the logs, for as long as it lives.
class LogFolder {
public:
    LogFolder()
        : folder_(std::filesystem::temp_directory_path() / ("tamro-parallel-bench-" + std::to_string(getpid()))),
          previous_(std::filesystem::current_path()) {
        std::filesystem::create_directories(folder_);
        std::filesystem::current_path(folder_);
    }
    ~LogFolder() {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

private:
    std::filesystem::path folder_, previous_;
};

// `drives` sound drives, fifteen to an adapter (own ID 7), at the bus's own
// service time; scanned whole.
void SoundBus(int drives) {
    sim_clear_bus();
    sim_set_service_time_us(SIM_DEFAULT_SERVICE_US);
    for (int a = 0; a * 15 < drives; ++a) {
        sim_add_adapter("SIMASPI", "BENCH", 16, 7);
        for (int n = 0; n < 15 && a * 15 + n < drives; ++n) {
            SimDiskConfig cfg;
            sim_disk_config_init(&cfg);
            char serial[16];
            std::snprintf(serial, sizeof serial, "BN%02d%04d", a, n);
            cfg.serial = serial;
            sim_add_disk(a, n < 7 ? n : n + 1, &cfg);
        }
    }
    sim_set_completion(SIM_COMPLETE_ASYNC);
    writePermitted = 0;
    ScanBuses(ScanReach::EveryDrive);
    ShowSlots(ScanFailures::Leave);
}

// The peak resident set from here on (Linux: the high-water mark is reset).
void ResetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double PeakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

Seconds TimedRun(int jobs, bool& finished) {
    const auto start = std::chrono::steady_clock::now();
    finished = Runthread::ExecuteInParallel(jobs) == Runthread::Outcome::Finished;
    return std::chrono::steady_clock::now() - start;
}

void DefaultBus(benchmark::State& state, bool allAtOnce) {
    Choices& choices = TheChoices();
    LogFolder logs;
    int drives = 0;
    for (auto _ : state) {
        state.PauseTiming();
        sim_reset_default();
        sim_set_completion(SIM_COMPLETE_ASYNC);
        writePermitted = 0;
        ScanBuses();
        ShowSlots(ScanFailures::Leave);
        choices.only = -1;
        drives = 0;
        for (int s = 0; s < kSlotCount; ++s) drives += choices.Chosen(s) ? 1 : 0;
        state.ResumeTiming();
        if (Runthread::ExecuteInParallel(allAtOnce ? drives : 1) != Runthread::Outcome::Finished)
            state.SkipWithError("the run stopped");
    }
    state.counters["drives"] = drives;
}

// All at once against the slowest drive alone on the same bus: the time
// reported is all at once; "alone_s" the slowest alone, "ratio" the one
// over the other, "peak_MiB" the resident peak of the run of all.
void SoundDrives(benchmark::State& state) {
    Choices& choices = TheChoices();
    LogFolder logs;
    const int drives = static_cast<int>(state.range(0));
    for (auto _ : state) {
        // Every drive is alike; the first and the last of the bus stand for
        // the nearest and the farthest from the scan.
        double alone = 0;
        for (int one : {0, drives - 1}) {
            SoundBus(drives);
            choices.only = one;
            bool finished = false;
            alone = std::max(alone, TimedRun(1, finished).count());
            if (!finished) state.SkipWithError("the drive alone stopped");
        }
        SoundBus(drives);
        choices.only = -1;
        ResetPeakMemory();
        const double before = PeakMemoryMiB();
        bool finished = false;
        const double all = TimedRun(drives, finished).count();
        if (!finished) state.SkipWithError("the run stopped");
        state.SetIterationTime(all);
        state.counters["alone_s"] = alone;
        state.counters["ratio"] = all / alone;
        state.counters["peak_MiB"] = PeakMemoryMiB();
        state.counters["grown_MiB"] = PeakMemoryMiB() - before;
    }
    state.counters["drives"] = drives;
}

BENCHMARK_CAPTURE(DefaultBus, OneAtATime, false)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(DefaultBus, AllAtOnce, true)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK(SoundDrives)->Arg(4)->Arg(15)->Arg(30)->Iterations(1)->Unit(benchmark::kSecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
