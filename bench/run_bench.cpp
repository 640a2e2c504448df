// A Standard read-only run of three simulated drives with zero service time,
// the window's model attached, from the run worker's start to its end. Then
// the pace an operator sees: one drive of the default bus, at the bus's own
// service time, in each test mode.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>

#include "diagnostics/run_driver.h"
#include "discovery/drive_table.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "sim_control.h"
#include "ui/window_model.h"

namespace {

using namespace tamro;
using ui::ControlId;

void ThreeDrivesStandard(benchmark::State& state, int completion) {
    const auto folder = std::filesystem::temp_directory_path() / ("tamro-run-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    for (auto _ : state) {
        state.PauseTiming();
        sim_clear_bus();
        sim_set_service_time_us(0);
        sim_set_completion(completion);
        sim_add_adapter("SIMASPI", "BENCH", 8, 7);
        for (int t = 0; t < 3; ++t) {
            SimDiskConfig cfg;
            sim_disk_config_init(&cfg);
            sim_add_disk(0, t, &cfg);
        }
        ui::Form().Reset();
        ui::Form().Check(ControlId::StdTest);
        writePermitted = 0;
        ScanBuses();
        ShowSlots();
        sim_trace_clear();
        state.ResumeTiming();
        if (Runthread::Execute() != Runthread::Outcome::Finished) state.SkipWithError("the run stopped");
    }
    state.counters["commands"] = static_cast<double>(sim_trace_count() + sim_trace_dropped());
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

BENCHMARK_CAPTURE(ThreeDrivesStandard, async, SIM_COMPLETE_ASYNC)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ThreeDrivesStandard, immediate, SIM_COMPLETE_IMMEDIATE)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

enum class Mode { quick, standard, extended, extendedWrites };

// The default bus's first drive (it passes in every mode) alone.
void DefaultBusOneDrive(benchmark::State& state, Mode mode) {
    const auto folder = std::filesystem::temp_directory_path() / ("tamro-pace-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    for (auto _ : state) {
        state.PauseTiming();
        sim_reset_default();
        ui::Form().Reset();
        ui::Form().Uncheck(ControlId::StdTest);
        ui::Form().Check(mode == Mode::quick      ? ControlId::SmtTest
                         : mode == Mode::standard ? ControlId::StdTest
                                                  : ControlId::ExtTest);
        writePermitted = mode == Mode::extendedWrites ? 1 : 0;
        ScanBuses();
        ShowSlots();
        for (std::size_t n = 1; n < std::size(ui::kSelectBoxes); ++n) ui::Form().Uncheck(ui::kSelectBoxes[n]);
        state.ResumeTiming();
        if (Runthread::Execute() != Runthread::Outcome::Finished) state.SkipWithError("the run stopped");
        if ((DriveTable[0].runFlags & 0x0040) == 0) state.SkipWithError("the drive did not pass");
    }
    writePermitted = 0;
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

BENCHMARK_CAPTURE(DefaultBusOneDrive, quick, Mode::quick)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(DefaultBusOneDrive, standard, Mode::standard)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(DefaultBusOneDrive, extended, Mode::extended)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(DefaultBusOneDrive, extended_writes, Mode::extendedWrites)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
