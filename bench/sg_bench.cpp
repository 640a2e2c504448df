// What the Linux SCSI generic library costs per request, caller's CPU and
// wall time: one round trip through its completion thread, the same finished
// on the caller's thread within its bound, and the exchange done synchronously. A socket stands in for the sg node and a
// thread answers every request at once, so that only the library's own
// hand-over (submit, poll, read back, block filled, event signalled) is left
// in the difference.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/completion_event.h"
#include "sg_driver.h"

namespace {

using namespace sgaspi;

// A device that answers every request GOOD as soon as it arrives, until its
// peer closes.
class EchoDevice {
public:
    EchoDevice() {
        if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends_) != 0) ends_[0] = ends_[1] = -1;
        device_ = std::thread([this] {
            sg_io_hdr_t io;
            while (recv(ends_[1], &io, sizeof io, 0) == static_cast<ssize_t>(sizeof io)) {
                io.status = 0;
                if (send(ends_[1], &io, sizeof io, 0) < 0) break;
            }
        });
    }
    ~EchoDevice() {
        shutdown(ends_[1], SHUT_RDWR);
        device_.join();
        close(ends_[1]);
    }
    int node() const { return ends_[0]; }  // closed by whoever opened it

private:
    int ends_[2];
    std::thread device_;
};

std::uint8_t buffer[8192];

SRB_ExecSCSICmd Read(void* event) {
    SRB_ExecSCSICmd srb{};
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
    srb.SRB_Target = 0;
    srb.SRB_BufLen = sizeof buffer;
    srb.SRB_BufPointer = buffer;
    srb.SRB_SenseLen = 48;
    srb.SRB_CDBLen = 10;
    srb.SRB_PostProc = event;
    srb.CDBByte[0] = 0x28;
    srb.CDBByte[8] = 16;
    return srb;
}

// The program's side is a bare poll on the event, as a program that waits
// for each request would do it; a request finished in the call has none.
// Caller's bound 0: every request through the completion thread; the
// library's own bound: the common path, finished on the caller's thread.
void Through(benchmark::State& state, std::chrono::microseconds callerBound) {
    EchoDevice device;
    const int node = device.node();
    fcntl(node, F_SETFL, O_NONBLOCK);
    Library library({Adapter{0, "bench", {{0, Target{"/dev/sg0", 0}}}, 8}},
                    std::make_unique<SgDriver>([node](const std::string&) { return node; }, callerBound));
    auto event = tamro::platform::CreateCompletionEvent();
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(event->Handle()));
    std::int64_t onCaller = 0;
    for (auto _ : state) {
        SRB_ExecSCSICmd srb = Read(event->Handle());
        const std::uint32_t sent = library.Send(&srb);
        bool done = sent == SS_COMP;
        if (sent == SS_PENDING) {
            pollfd p{fd, POLLIN, 0};
            std::uint64_t signals;
            done = poll(&p, 1, 10000) == 1 && read(fd, &signals, sizeof signals) == sizeof signals;
        } else {
            ++onCaller;
        }
        if (!done || srb.SRB_Status != SS_COMP) {
            state.SkipWithError("request not completed");
            break;
        }
    }
    state.counters["on_caller"] = benchmark::Counter(static_cast<double>(onCaller), benchmark::Counter::kAvgIterations);
}

void ThroughTheCompletionThread(benchmark::State& state) { Through(state, std::chrono::microseconds(0)); }
void OnTheCallersThread(benchmark::State& state) { Through(state, SgDriver::kCallerBound); }

void Synchronous(benchmark::State& state) {
    EchoDevice device;
    const int node = device.node();
    for (auto _ : state) {
        SRB_ExecSCSICmd srb = Read(nullptr);
        sg_io_hdr_t io;
        std::uint8_t sense[kSenseLength];
        std::uint8_t refusal;
        Translate(srb, io, sense, &refusal);
        if (send(node, &io, sizeof io, 0) < 0 || recv(node, &io, sizeof io, 0) != static_cast<ssize_t>(sizeof io)) {
            state.SkipWithError("no answer");
            break;
        }
        srb.SRB_Status = ApplyResult(srb, io, sense);
        benchmark::DoNotOptimize(srb);
    }
    close(node);
}

BENCHMARK(ThroughTheCompletionThread)->UseRealTime();
BENCHMARK(OnTheCallersThread)->UseRealTime();
BENCHMARK(Synchronous)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
