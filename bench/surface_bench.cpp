// A whole Standard read-only run of the surface tests (40000 random reads of
// 16 blocks, 45000 random seeks) against a simulated drive with zero service
// time, with the window's model taking every status line and bar change and
// a listener standing in for the view. Next to it the same 85000 requests
// hand-built straight to SendASPI32Command: the difference is the program's
// own cost per command, status line and progress included.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <vector>

#include "diagnostics/run_random.h"
#include "diagnostics/surface_tests.h"
#include "discovery/drive_table.h"
#include "sim_control.h"
#include "transport/aspi.h"
#include "ui/window_model.h"

namespace {

using namespace tamro;
using ui::ControlId;

constexpr std::uint32_t kLastLba = 999999;
constexpr int kCommands = 85000;

bool Setup(int completion) {
    sim_clear_bus();
    sim_set_service_time_us(0);
    sim_set_completion(completion);
    sim_add_adapter("SIMASPI", "BENCH", 8, 7);
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    cfg.last_lba = kLastLba;
    sim_add_disk(0, 0, &cfg);
    ClearDriveTable();
    currentSlot = 0;
    DriveTable[0].lastLba = kLastLba;
    DriveTable[0].blockSize = 512;
    return BindAspi() == nullptr && AspiInit() >= 1;
}

// What a view does on the worker's thread: it is told that something
// changed and wakes up later; here it only counts the calls.
std::atomic<long> wakes{0};

void StandardRun(benchmark::State& state, int completion) {
    if (!Setup(completion)) {
        state.SkipWithError("no simulated bus");
        return;
    }
    ui::WindowModel& form = ui::Form();
    form.Reset();
    form.Uncheck(ControlId::ExtTest);
    form.Check(ControlId::StdTest);
    form.SetChangeListener([](bool) { wakes.fetch_add(1, std::memory_order_relaxed); });
    selectedCount = 1;
    writePermitted = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DriveSlot& slot = DriveTable[0];
        slot.errorKind = 0;
        slot.blocksRead = slot.seekCount = 0;
        form.SetProgress(ControlId::PBar, 0);
        form.TakeChanges();
        sim_trace_clear();
        ResetRunRandom();
        state.ResumeTiming();
        if (RunSurfaceTests(0, 0) != 0 || slot.seekCount != static_cast<std::uint32_t>(kCommands)) {
            state.SkipWithError(slot.comment);
            break;
        }
    }
    form.SetChangeListener(nullptr);
    state.counters["per_command"] = benchmark::Counter(
        static_cast<double>(kCommands) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    sim_trace_clear();
}

// The run's requests, built by hand, sent straight to the library.
void BareRequests(benchmark::State& state, int completion) {
    if (!Setup(completion)) {
        state.SkipWithError("no simulated bus");
        return;
    }
    std::vector<std::uint32_t> lbas(kCommands);
    ResetRunRandom();
    for (int i = 0; i < kCommands; ++i) {
        std::uint32_t r = DrawRandomLba(kLastLba);
        if (i < 40000 && r + 16 > kLastLba) r = kLastLba - 15;
        lbas[static_cast<std::size_t>(i)] = r;
    }
    static std::uint8_t buffer[262144];
    auto send = Aspi().sendCommand;
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(Aspi().completionEvent->Handle()));
    SRB_ExecSCSICmd srb;
    for (auto _ : state) {
        for (int i = 0; i < kCommands; ++i) {
            const bool isRead = i < 40000;
            const std::uint32_t lba = lbas[static_cast<std::size_t>(i)];
            std::memset(&srb, 0, sizeof srb);
            srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
            srb.SRB_Flags = static_cast<std::uint8_t>(SRB_EVENT_NOTIFY | (isRead ? SRB_DIR_IN : 0));
            srb.SRB_BufLen = isRead ? 8192 : 0;
            srb.SRB_BufPointer = isRead ? buffer : nullptr;
            srb.SRB_SenseLen = 48;
            srb.SRB_CDBLen = 10;
            srb.SRB_PostProc = Aspi().completionEvent->Handle();
            srb.CDBByte[0] = isRead ? 0x28 : 0x2B;
            srb.CDBByte[2] = static_cast<std::uint8_t>(lba >> 24);
            srb.CDBByte[3] = static_cast<std::uint8_t>(lba >> 16);
            srb.CDBByte[4] = static_cast<std::uint8_t>(lba >> 8);
            srb.CDBByte[5] = static_cast<std::uint8_t>(lba);
            srb.CDBByte[8] = isRead ? 16 : 0;
            if (send(&srb) == SS_PENDING) {
                pollfd p{fd, POLLIN, 0};
                poll(&p, 1, 10000);
                std::uint64_t v;
                if (read(fd, &v, sizeof v) != sizeof v) state.SkipWithError("lost completion");
            }
        }
        benchmark::DoNotOptimize(buffer);
        state.PauseTiming();
        sim_trace_clear();
        state.ResumeTiming();
    }
    state.counters["per_command"] = benchmark::Counter(
        static_cast<double>(kCommands) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void Configure(benchmark::internal::Benchmark* b) {
    b->Repetitions(5)->ReportAggregatesOnly(true)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(StandardRun, async, SIM_COMPLETE_ASYNC)->Apply(Configure);
BENCHMARK_CAPTURE(BareRequests, async, SIM_COMPLETE_ASYNC)->Apply(Configure);
BENCHMARK_CAPTURE(StandardRun, immediate, SIM_COMPLETE_IMMEDIATE)->Apply(Configure);
BENCHMARK_CAPTURE(BareRequests, immediate, SIM_COMPLETE_IMMEDIATE)->Apply(Configure);

}  // namespace

BENCHMARK_MAIN();
