// Inside the QEMU guest: the program's command path through the SCSI generic
// library against sg3-utils doing the same commands on the same disk.
//
//   guest_bench <host-adapter> <target> <sg-node> [benchmark options]
//
// The program's side is the Random Seek Read's draw of 16-block READ(10)s
// and the Sequential Verify's F000h-block VERIFY(10) chunks, sent through
// the program's command functions; sg_dd reads the same number of 16-block
// READ(10)s (in order: it has no random mode) and sg_verify verifies the
// whole disk in the same chunks.
#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diagnostics/run_random.h"
#include "discovery/drive_table.h"
#include "transport/aspi.h"
#include "transport/commands.h"

extern char** environ;

namespace {

using namespace tamro;

constexpr int kReads = 10000;
constexpr std::uint16_t kReadBlocks = 16;
constexpr std::uint32_t kVerifyChunk = 61440;

struct Disk {
    std::uint8_t ha = 0, id = 0;
    std::string node;
    std::uint32_t lastLba = 0;
    std::uint32_t blockSize = 0;
} disk;

std::vector<std::uint8_t> buffer;

bool Open() {
    if (BindAspi() != nullptr || AspiInit() < 1) return false;
    currentSlot = kSlotCount;  // failures go to the spare record
    std::uint8_t capacity[8] = {};
    if (ReadCapacity10(disk.ha, disk.id, capacity) != 0) return false;
    disk.lastLba = static_cast<std::uint32_t>(capacity[0]) << 24 | capacity[1] << 16 | capacity[2] << 8 | capacity[3];
    disk.blockSize = static_cast<std::uint32_t>(capacity[4]) << 24 | capacity[5] << 16 | capacity[6] << 8 | capacity[7];
    buffer.assign(std::size_t{disk.blockSize} * kReadBlocks, 0);
    return disk.lastLba >= kReadBlocks;
}

bool Spawn(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ProgramRandomRead10(benchmark::State& state) {
    for (auto _ : state) {
        ResetRunRandom();
        for (int i = 0; i < kReads; ++i) {
            std::uint32_t lba = DrawRandomLba(disk.lastLba);
            if (std::uint64_t{lba} + kReadBlocks > disk.lastLba) lba = disk.lastLba - (kReadBlocks - 1);
            if (Read10(disk.ha, disk.id, lba, disk.blockSize, kReadBlocks, buffer.data()) != 0) {
                state.SkipWithError(CurrentDrive().lastError);
                return;
            }
        }
    }
}

void ProgramSequentialRead10(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kReads; ++i) {
            if (Read10(disk.ha, disk.id, static_cast<std::uint32_t>(i) * kReadBlocks, disk.blockSize, kReadBlocks,
                       buffer.data()) != 0) {
                state.SkipWithError(CurrentDrive().lastError);
                return;
            }
        }
    }
}

void SgDdRead10(benchmark::State& state) {
    for (auto _ : state) {
        if (!Spawn({"sg_dd", "if=" + disk.node, "of=/dev/null", "bs=" + std::to_string(disk.blockSize),
                    "bpt=" + std::to_string(kReadBlocks), "count=" + std::to_string(kReads * kReadBlocks)})) {
            state.SkipWithError("sg_dd failed");
            return;
        }
    }
}

void ProgramSequentialVerify(benchmark::State& state) {
    for (auto _ : state) {
        const std::uint64_t end = std::uint64_t{disk.lastLba} + 1;
        for (std::uint64_t lba = 0; lba < end;) {
            const auto n = static_cast<std::uint16_t>(std::min<std::uint64_t>(kVerifyChunk, end - lba));
            if (Verify10(disk.ha, disk.id, static_cast<std::uint32_t>(lba), n) != 0) {
                state.SkipWithError(CurrentDrive().lastError);
                return;
            }
            lba += n;
        }
    }
}

void SgVerify(benchmark::State& state) {
    for (auto _ : state) {
        if (!Spawn({"sg_verify", "--bpc=" + std::to_string(kVerifyChunk),
                    "--count=" + std::to_string(std::uint64_t{disk.lastLba} + 1), disk.node})) {
            state.SkipWithError("sg_verify failed");
            return;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s <host-adapter> <target> <sg-node> [benchmark options]\n", argv[0]);
        return 2;
    }
    disk.ha = static_cast<std::uint8_t>(std::atoi(argv[1]));
    disk.id = static_cast<std::uint8_t>(std::atoi(argv[2]));
    disk.node = argv[3];
    if (!Open()) {
        std::fprintf(stderr, "no disk at %d/%d: %s\n", disk.ha, disk.id, CurrentDrive().lastError);
        return 1;
    }
    for (auto* b : {benchmark::RegisterBenchmark("ProgramRandomRead10", ProgramRandomRead10),
                    benchmark::RegisterBenchmark("ProgramSequentialRead10", ProgramSequentialRead10),
                    benchmark::RegisterBenchmark("SgDdRead10", SgDdRead10),
                    benchmark::RegisterBenchmark("ProgramSequentialVerify", ProgramSequentialVerify),
                    benchmark::RegisterBenchmark("SgVerify", SgVerify)})
        b->Iterations(1)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime()->Unit(benchmark::kMillisecond);
    argv[3] = argv[0];
    int rest = argc - 3;
    benchmark::Initialize(&rest, argv + 3);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
