// Drives tested at once on the default bus (SIM_DEFAULT_SERVICE_US per
// command): each thread sends its requests one after another and waits for
// each, as the program's thread per drive does. Targets are served side by
// side, so two threads on two targets should take about the time of one;
// two threads on one target take the time of both.
#include <benchmark/benchmark.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "sim_control.h"
#include "transport/srb.h"

extern "C" std::uint32_t SendASPI32Command(void* srb);

namespace {

constexpr int kRequests = 100;

// Reads of 16 blocks at spread LBAs; false at the first one that fails.
bool ReadAll(int ha, int target) {
    const int fd = eventfd(0, EFD_CLOEXEC);
    std::uint8_t buffer[8192];
    bool ok = fd >= 0;
    for (int i = 0; ok && i < kRequests; ++i) {
        const std::uint32_t lba = 4099u * static_cast<std::uint32_t>(i);
        SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = static_cast<std::uint8_t>(ha);
        srb.SRB_Target = static_cast<std::uint8_t>(target);
        srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
        srb.SRB_BufLen = sizeof buffer;
        srb.SRB_BufPointer = buffer;
        srb.SRB_SenseLen = kSenseLength;
        srb.SRB_CDBLen = 10;
        srb.SRB_PostProc = reinterpret_cast<void*>(static_cast<std::intptr_t>(fd));
        const std::uint8_t cdb[10] = {0x28, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16),
                                      std::uint8_t(lba >> 8), std::uint8_t(lba), 0, 0, 16, 0};
        std::memcpy(srb.CDBByte, cdb, sizeof cdb);
        if (SendASPI32Command(&srb) == SS_PENDING) {
            pollfd p{fd, POLLIN, 0};
            std::uint64_t signals = 0;
            ok = poll(&p, 1, 10000) == 1 && read(fd, &signals, sizeof signals) == sizeof signals;
        }
        ok = ok && std::atomic_ref<std::uint8_t>(srb.SRB_Status).load() == SS_COMP;
    }
    if (fd >= 0) close(fd);
    return ok;
}

// Each thread's drive: HA#0/ID00 and HA#0/ID02 of the default bus, or
// HA#0/ID00 for all of them.
void Drives(benchmark::State& state, int threads, bool oneTarget) {
    sim_reset_default();
    for (auto _ : state) {
        std::atomic<int> failed{0};
        std::vector<std::thread> senders;
        for (int t = 0; t < threads; ++t)
            senders.emplace_back([&failed, t, oneTarget] {
                if (!ReadAll(0, oneTarget ? 0 : 2 * t)) ++failed;
            });
        for (auto& s : senders) s.join();
        if (failed != 0) {
            state.SkipWithError("a read failed");
            break;
        }
    }
    sim_trace_clear();
}

void Configure(benchmark::internal::Benchmark* b) {
    b->Repetitions(5)->ReportAggregatesOnly(true)->MinTime(0.3)->UseRealTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(Drives, one_drive, 1, false)->Apply(Configure);
BENCHMARK_CAPTURE(Drives, two_drives, 2, false)->Apply(Configure);
BENCHMARK_CAPTURE(Drives, two_threads_one_drive, 2, true)->Apply(Configure);

}  // namespace

BENCHMARK_MAIN();
