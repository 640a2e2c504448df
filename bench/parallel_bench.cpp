// A Standard run of several drives at the bus's own service time, one drive
// after another against all at once, as tamro-cli runs them: the default
// bus's testable drives (two of which fail within a second), and four sound
// drives of one kind. Wall time, one iteration each: a run takes seconds.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>

#include "diagnostics/run_driver.h"
#include "discovery/drive_table.h"
#include "discovery/engine_observer.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "sim_control.h"

namespace {

using namespace tamro;

// Standard mode on the drives the window would tick; reports go nowhere.
class Choices final : public QuietObserver, public WorkChoices {
public:
    bool Chosen(int slot) const override {
        return slot >= 0 && slot < kSlotCount &&
               DescribeSlot(DriveTable[static_cast<std::size_t>(slot)]).state == SlotState::Testable;
    }
    TestMode Mode() const override { return TestMode::Standard; }
    std::string MicrocodeFileName() const override { return {}; }
};

enum class Bus { Default, FourSound };

void Standard(benchmark::State& state, Bus bus, bool allAtOnce) {
    static Choices choices;
    SetFrontEnd(choices, choices);
    const auto folder = std::filesystem::temp_directory_path() / ("tamro-parallel-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    int drives = 0;
    for (auto _ : state) {
        state.PauseTiming();
        if (bus == Bus::Default) {
            sim_reset_default();
        } else {
            sim_clear_bus();
            sim_set_service_time_us(SIM_DEFAULT_SERVICE_US);
            sim_add_adapter("SIMASPI", "BENCH", 8, 7);
            for (int t = 0; t < 4; ++t) {
                SimDiskConfig cfg;
                sim_disk_config_init(&cfg);
                sim_add_disk(0, t, &cfg);
            }
        }
        sim_set_completion(SIM_COMPLETE_ASYNC);
        writePermitted = 0;
        ScanBuses();
        ShowSlots(ScanFailures::Leave);
        drives = 0;
        for (int s = 0; s < kSlotCount; ++s) drives += choices.Chosen(s) ? 1 : 0;
        state.ResumeTiming();
        if (Runthread::ExecuteInParallel(allAtOnce ? drives : 1) != Runthread::Outcome::Finished)
            state.SkipWithError("the run stopped");
    }
    state.counters["drives"] = drives;
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

BENCHMARK_CAPTURE(Standard, DefaultBusOneAtATime, Bus::Default, false)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(Standard, DefaultBusAllAtOnce, Bus::Default, true)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(Standard, FourSoundDrivesOneAtATime, Bus::FourSound, false)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(Standard, FourSoundDrivesAllAtOnce, Bus::FourSound, true)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
