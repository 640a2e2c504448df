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
// alike. Then the same READ(10) 2 000 times through a bare SG_IO loop and
// through the bare bounded wait of the SCSI generic library (write, a wait on
// an epoll set of the node and an eventfd, read), with neither the program's
// code nor the library's: the floor of each way of waiting. One line is
// appended to the results file: each time in milliseconds, the ratios, the
// same ratios of CPU time (the guest's own and its children's: in a guest
// that counts instructions for time, each is a count of instructions), the
// CPU time per READ(10) of each path, and the guest's inter-processor
// interrupts (rescheduling and function calls) per command of the Read(10)
// loop and of sg_read.
#include <fcntl.h>
#include <scsi/sg.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Milliseconds of CPU time so far: the guest's own threads' and those of
// its children that have ended.
double CpuMs() {
    double ms = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage u{};
        getrusage(who, &u);
        ms += (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    }
    return ms;
}

// Milliseconds the work took and the CPU time it used; negative when it failed.
struct Took {
    double ms = -1, cpuMs = -1;
};

template <class Work>
Took Timed(const char* name, Work work) {
    const double cpu = CpuMs();
    const Clock::time_point start = Clock::now();
    if (!work()) {
        std::fprintf(stderr, "%s failed: %s\n", name, CurrentDrive().lastError);
        return {};
    }
    return {std::chrono::duration<double, std::milli>(Clock::now() - start).count(), CpuMs() - cpu};
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

// The floors: the Read10 loop's commands with neither the program nor the
// library, through SG_IO, or through the library's way of waiting.
constexpr int kFloorReads = kReads / 2;

sg_io_hdr_t ReadHeader(std::uint8_t (&cdb)[10], std::vector<std::uint8_t>& data, std::uint8_t (&sense)[32]) {
    cdb[0] = 0x28;
    cdb[8] = kReadBlocks;
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_FROM_DEV;
    io.cmd_len = sizeof cdb;
    io.cmdp = cdb;
    io.dxfer_len = static_cast<unsigned>(data.size());
    io.dxferp = data.data();
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = 10000;
    return io;
}

bool SgIoLoop() {
    const int fd = open(disk.node.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return false;
    std::uint8_t cdb[10] = {}, sense[32];
    std::vector<std::uint8_t> data(std::size_t{disk.blockSize} * kReadBlocks);
    bool ok = true;
    for (int i = 0; i < kFloorReads && ok; ++i) {
        sg_io_hdr_t io = ReadHeader(cdb, data, sense);
        ok = ioctl(fd, SG_IO, &io) == 0 && io.status == 0 && io.host_status == 0;
    }
    close(fd);
    return ok;
}

bool BoundedWaitLoop() {
    const int fd = open(disk.node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    const int release = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    const int waitSet = epoll_create1(EPOLL_CLOEXEC);
    epoll_event ready{};
    ready.events = EPOLLIN;
    bool ok = fd >= 0 && release >= 0 && waitSet >= 0 && epoll_ctl(waitSet, EPOLL_CTL_ADD, fd, &ready) == 0 &&
              epoll_ctl(waitSet, EPOLL_CTL_ADD, release, &ready) == 0;
    std::uint8_t cdb[10] = {}, sense[32];
    std::vector<std::uint8_t> data(std::size_t{disk.blockSize} * kReadBlocks);
    for (int i = 0; i < kFloorReads && ok; ++i) {
        sg_io_hdr_t io = ReadHeader(cdb, data, sense);
        ok = write(fd, &io, sizeof io) == static_cast<ssize_t>(sizeof io) && epoll_wait(waitSet, &ready, 1, -1) == 1 &&
             read(fd, &io, sizeof io) == static_cast<ssize_t>(sizeof io) && io.status == 0 && io.host_status == 0;
    }
    for (const int d : {fd, release, waitSet})
        if (d >= 0) close(d);
    return ok;
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
    const Took verify10 = Timed("Verify10 loop", [] { return Verify10Loop(false); });
    const Took procedure = Timed("Sequential Verify procedure", SequentialVerifyProcedure);
    const Took sgVerify = Timed("sg_verify", SgVerify);
    const Took procedureB = Timed("Sequential Verify procedure", SequentialVerifyProcedure);
    const Took verify10b = Timed("Verify10 loop", [] { return Verify10Loop(true); });
    const long before = InterProcessorInterrupts();
    const Took read10 = Timed("Read10 loop", Read10Loop);
    const long between = InterProcessorInterrupts();
    const Took sgRead = Timed("sg_read", SgRead);
    const long after = InterProcessorInterrupts();
    const Took read10b = Timed("Read10 loop", Read10Loop);
    const long last = InterProcessorInterrupts();
    const Took sgIo = Timed("SG_IO loop", SgIoLoop);
    const Took bounded = Timed("bounded wait loop", BoundedWaitLoop);
    for (const Took& t : {verify10, verify10b, procedure, procedureB, sgVerify, read10, read10b, sgRead, sgIo, bounded})
        if (t.ms < 0) return 1;
    // The procedure is run twice, each loop in two halves.
    const auto ratio = [](const Took& a, const Took& b, const Took& sg3, double runs, double Took::*of) {
        return (a.*of + b.*of) / runs / (sg3.*of);
    };
    constexpr double kUsPerMsPerRead = 1000.0 / kFloorReads;
    char line[640];
    std::snprintf(line, sizeof line,
                  "round=%d verify10_ms=%.1f procedure_ms=%.1f sg_verify_ms=%.1f read10_ms=%.1f sg_read_ms=%.1f "
                  "verify10_ratio=%.2f procedure_ratio=%.2f read10_ratio=%.2f "
                  "verify10_cpu_ratio=%.2f procedure_cpu_ratio=%.2f read10_cpu_ratio=%.2f "
                  "read10_cpu_us=%.1f sg_read_cpu_us=%.1f sg_io_cpu_us=%.1f bounded_cpu_us=%.1f "
                  "read10_ipis=%.2f sg_read_ipis=%.2f",
                  round, verify10.ms + verify10b.ms, (procedure.ms + procedureB.ms) / 2, sgVerify.ms,
                  read10.ms + read10b.ms, sgRead.ms, ratio(verify10, verify10b, sgVerify, 1, &Took::ms),
                  ratio(procedure, procedureB, sgVerify, 2, &Took::ms), ratio(read10, read10b, sgRead, 1, &Took::ms),
                  ratio(verify10, verify10b, sgVerify, 1, &Took::cpuMs),
                  ratio(procedure, procedureB, sgVerify, 2, &Took::cpuMs),
                  ratio(read10, read10b, sgRead, 1, &Took::cpuMs), (read10.cpuMs + read10b.cpuMs) * 1000 / kReads,
                  sgRead.cpuMs * 1000 / kReads, sgIo.cpuMs * kUsPerMsPerRead, bounded.cpuMs * kUsPerMsPerRead,
                  static_cast<double>(between - before + last - after) / kReads,
                  static_cast<double>(after - between) / kReads);
    std::puts(line);
    std::ofstream(argv[5], std::ios::app) << line << '\n';
    return 0;
}
