// Inside the QEMU guest: the program's command path through the SCSI generic
// library beside it against sg3-utils doing the same commands on the same
// disk, one round per call, so that each ratio compares runs made moments
// apart.
//
//   guest_bench <host-adapter> <target> <sg-node> <round> <results-file>
//
// A round: VERIFY(10)s of F000h blocks over the disk's start through the
// program's command function, the same through the program's Sequential
// Verify procedure, and sg_verify in the same chunks; then 4 000 READ(10)s
// of 16 blocks at LBA 0 through the command function, into a transfer area
// as the surface tests read, and sg_read doing the same (it reads from one
// offset over and over). Each program figure is taken half before and half
// after its sg3-utils run (the loops in two halves, the procedure twice), so
// that a host getting faster or slower during the round weighs on both sides
// alike. One line is appended to the results file: each time in
// milliseconds, the ratios, and the guest's inter-processor interrupts
// (rescheduling and function calls) per command of the Read(10) loop and of
// sg_read.
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "diagnostics/surface_tests.h"
#include "discovery/drive_table.h"
#include "transport/aspi.h"
#include "transport/commands.h"

extern char** environ;

namespace {

using namespace tamro;
using Clock = std::chrono::steady_clock;

constexpr int kReads = 4000;
constexpr std::uint16_t kReadBlocks = 16;
constexpr std::uint32_t kVerifyChunk = 61440;
// The verifies cover the disk's first 64 GiB (2 185 commands), so that a
// round stays short in a guest under software emulation.
constexpr std::uint32_t kVerifyExtent = 1u << 27;

struct Disk {
    std::uint8_t ha = 0, id = 0;
    std::string node;
    std::uint32_t lastLba = 0;
    std::uint32_t blockSize = 0;
} disk;

// As the surface tests read: into a transfer area, lent as it is.
TransferArea buffer(0);

bool Open() {
    if (BindAspi() != nullptr || AspiInit() < 1) return false;
    currentSlot = kSlotCount;  // failures go to the spare record
    std::uint8_t capacity[8] = {};
    if (ReadCapacity10(disk.ha, disk.id, capacity) != 0) return false;
    disk.lastLba = static_cast<std::uint32_t>(capacity[0]) << 24 | capacity[1] << 16 | capacity[2] << 8 | capacity[3];
    disk.blockSize = static_cast<std::uint32_t>(capacity[4]) << 24 | capacity[5] << 16 | capacity[6] << 8 | capacity[7];
    buffer = TransferArea(std::size_t{disk.blockSize} * kReadBlocks);
    disk.lastLba = std::min(disk.lastLba, kVerifyExtent - 1);
    CurrentDrive().lastLba = disk.lastLba;
    CurrentDrive().blockSize = static_cast<std::int32_t>(disk.blockSize);
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

// Milliseconds the work took, or a negative value when it failed.
template <class Work>
double Timed(const char* name, Work work) {
    const Clock::time_point start = Clock::now();
    if (!work()) {
        std::fprintf(stderr, "%s failed: %s\n", name, CurrentDrive().lastError);
        return -1;
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One half of the verifies: the first or the second half of the extent.
bool Verify10Loop(bool secondHalf) {
    const std::uint64_t blocks = std::uint64_t{disk.lastLba} + 1;
    const std::uint64_t middle = blocks / 2 / kVerifyChunk * kVerifyChunk;
    const std::uint64_t end = secondHalf ? blocks : middle;
    for (std::uint64_t lba = secondHalf ? middle : 0; lba < end;) {
        const auto n = static_cast<std::uint16_t>(std::min<std::uint64_t>(kVerifyChunk, end - lba));
        if (Verify10(disk.ha, disk.id, static_cast<std::uint32_t>(lba), n) != 0) return false;
        lba += n;
    }
    return true;
}

bool SequentialVerifyProcedure() { return RunSequentialVerify(disk.ha, disk.id) == 0; }

bool SgVerify() {
    return Spawn({"sg_verify", "--bpc=" + std::to_string(kVerifyChunk),
                  "--count=" + std::to_string(std::uint64_t{disk.lastLba} + 1), disk.node});
}

bool Read10Loop() {
    for (int i = 0; i < kReads / 2; ++i)
        if (Read10(disk.ha, disk.id, 0, disk.blockSize, kReadBlocks, buffer) != 0) return false;
    return true;
}

// Rescheduling and function-call interrupts so far, summed over the CPUs:
// what waking a thread on another CPU costs.
long InterProcessorInterrupts() {
    std::ifstream in("/proc/interrupts");
    long total = 0;
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        if (name != "RES:" && name != "CAL:") continue;
        for (long n; words >> n;) total += n;
    }
    return total;
}

bool SgRead() {
    return Spawn({"sg_read", "if=" + disk.node, "bs=" + std::to_string(disk.blockSize),
                  "bpt=" + std::to_string(kReadBlocks), "count=" + std::to_string(kReads * kReadBlocks)});
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s <host-adapter> <target> <sg-node> <round> <results-file>\n", argv[0]);
        return 2;
    }
    disk.ha = static_cast<std::uint8_t>(std::atoi(argv[1]));
    disk.id = static_cast<std::uint8_t>(std::atoi(argv[2]));
    disk.node = argv[3];
    const int round = std::atoi(argv[4]);
    if (!Open()) {
        std::fprintf(stderr, "no disk at %d/%d: %s\n", disk.ha, disk.id, CurrentDrive().lastError);
        return 1;
    }
    const double verify10 = Timed("Verify10 loop", [] { return Verify10Loop(false); });
    const double procedure = Timed("Sequential Verify procedure", SequentialVerifyProcedure);
    const double sgVerify = Timed("sg_verify", SgVerify);
    const double procedureB = Timed("Sequential Verify procedure", SequentialVerifyProcedure);
    const double verify10b = Timed("Verify10 loop", [] { return Verify10Loop(true); });
    const long before = InterProcessorInterrupts();
    const double read10 = Timed("Read10 loop", Read10Loop);
    const long between = InterProcessorInterrupts();
    const double sgRead = Timed("sg_read", SgRead);
    const long after = InterProcessorInterrupts();
    const double read10b = Timed("Read10 loop", Read10Loop);
    const long last = InterProcessorInterrupts();
    if (std::min({verify10, verify10b, procedure, procedureB, sgVerify, read10, read10b, sgRead}) < 0) return 1;
    const double verifies = verify10 + verify10b, procedures = (procedure + procedureB) / 2, reads = read10 + read10b;
    char line[320];
    std::snprintf(line, sizeof line,
                  "round=%d verify10_ms=%.1f procedure_ms=%.1f sg_verify_ms=%.1f read10_ms=%.1f sg_read_ms=%.1f "
                  "verify10_ratio=%.2f procedure_ratio=%.2f read10_ratio=%.2f read10_ipis=%.2f sg_read_ipis=%.2f",
                  round, verifies, procedures, sgVerify, reads, sgRead, verifies / sgVerify, procedures / sgVerify,
                  reads / sgRead, static_cast<double>(between - before + last - after) / kReads,
                  static_cast<double>(after - between) / kReads);
    std::puts(line);
    std::ofstream(argv[5], std::ios::app) << line << '\n';
    return 0;
}
