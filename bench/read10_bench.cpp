// Cost of one Read(10) of 16 blocks through the whole stack, against the
// simulated bus with zero service time, next to the bare library round trip
// (a hand-built request straight to SendASPI32Command). The difference is
// the program's own cost per command, copying the data in and out or, as the
// surface tests read, lending a transfer area as it is.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <unistd.h>

#include <cstring>

#include "discovery/drive_table.h"
#include "sim_control.h"
#include "transport/aspi.h"
#include "transport/commands.h"

namespace {

using namespace tamro;

std::uint8_t buffer[8192];
TransferArea area(8192);

bool Setup(int completion) {
    sim_clear_bus();
    sim_set_service_time_us(0);
    sim_set_completion(completion);
    sim_add_adapter("SIMASPI", "BENCH", 8, 7);
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    sim_add_disk(0, 0, &cfg);
    ClearDriveTable();
    currentSlot = 0;
    return BindAspi() == nullptr && AspiInit() >= 1;
}

template <class Into>
void ThroughTheProgram(benchmark::State& state, int completion, Into& into) {
    if (!Setup(completion)) {
        state.SkipWithError("no simulated bus");
        return;
    }
    std::uint32_t lba = 0;
    for (auto _ : state) {
        if (Read10(0, 0, lba, 512, 16, into) != 0) {
            state.SkipWithError(DriveTable[0].lastError);
            break;
        }
        lba = (lba + 4099) % 900000;
        benchmark::DoNotOptimize(into);
    }
    sim_trace_clear();
}

void ThroughTheProgram(benchmark::State& state, int completion) { ThroughTheProgram(state, completion, buffer); }
void IntoAnArea(benchmark::State& state, int completion) { ThroughTheProgram(state, completion, area); }

void BareLibrary(benchmark::State& state, int completion) {
    if (!Setup(completion)) {
        state.SkipWithError("no simulated bus");
        return;
    }
    auto send = Aspi().sendCommand;
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(Aspi().completionEvent->Handle()));
    SRB_ExecSCSICmd srb;
    std::uint32_t lba = 0;
    for (auto _ : state) {
        std::memset(&srb, 0, sizeof srb);
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
        srb.SRB_BufLen = sizeof buffer;
        srb.SRB_BufPointer = buffer;
        srb.SRB_SenseLen = 48;
        srb.SRB_CDBLen = 10;
        srb.SRB_PostProc = Aspi().completionEvent->Handle();
        srb.CDBByte[0] = 0x28;
        srb.CDBByte[2] = static_cast<std::uint8_t>(lba >> 24);
        srb.CDBByte[3] = static_cast<std::uint8_t>(lba >> 16);
        srb.CDBByte[4] = static_cast<std::uint8_t>(lba >> 8);
        srb.CDBByte[5] = static_cast<std::uint8_t>(lba);
        srb.CDBByte[8] = 16;
        if (send(&srb) == SS_PENDING) {
            pollfd p{fd, POLLIN, 0};
            poll(&p, 1, 10000);
            std::uint64_t v;
            if (read(fd, &v, sizeof v) != sizeof v) state.SkipWithError("lost completion");
        }
        lba = (lba + 4099) % 900000;
        benchmark::DoNotOptimize(buffer);
    }
    sim_trace_clear();
}

void Configure(benchmark::internal::Benchmark* b) {
    b->Repetitions(7)->ReportAggregatesOnly(true)->MinTime(0.3)->UseRealTime();
}

BENCHMARK_CAPTURE(ThroughTheProgram, async, SIM_COMPLETE_ASYNC)->Apply(Configure);
BENCHMARK_CAPTURE(BareLibrary, async, SIM_COMPLETE_ASYNC)->Apply(Configure);
BENCHMARK_CAPTURE(ThroughTheProgram, immediate, SIM_COMPLETE_IMMEDIATE)->Apply(Configure);
BENCHMARK_CAPTURE(IntoAnArea, immediate, SIM_COMPLETE_IMMEDIATE)->Apply(Configure);
BENCHMARK_CAPTURE(BareLibrary, immediate, SIM_COMPLETE_IMMEDIATE)->Apply(Configure);

}  // namespace

BENCHMARK_MAIN();
