// The kernel's SCSI generic driver through its asynchronous interface: a
// request header is written to the device node, and the finished header is
// read back once the node polls readable. The caller waits on its own node
// for a short bound first, so that a request the kernel returns at once never
// crosses threads; one thread of the library's own collects every other
// completion, and ends a caller's wait once its bound has passed, so that the
// caller's wait arms no timer of its own for every request.
#pragma once

#include <chrono>
#include <list>
#include <mutex>
#include <thread>

#include "sg_backend.h"

namespace sgaspi {

// Opens a device node for requests; the descriptor, or -errno.
using OpenNode = std::function<int(const std::string& node)>;

// O_RDWR | O_NONBLOCK: a request is written, and read back only when ready.
int OpenSgNode(const std::string& node);

class SgDriver final : public Driver {
public:
    // How long SubmitAndAwait holds its caller, give or take the completion
    // thread's wake-up that ends the wait: longer than a disk takes over one
    // short random transfer (a seek and a turn, under 20 ms; an emulated
    // disk's READ(10) took 0.4-0.7 ms, past the 0.5 ms first tried), far
    // shorter than the program's own waits. The caller would only wait for
    // the event meanwhile; what takes longer is worth a hand-over.
    static constexpr std::chrono::microseconds kCallerBound{20000};

    explicit SgDriver(OpenNode open = OpenSgNode, std::chrono::microseconds callerBound = kCallerBound);
    ~SgDriver() override;

    void Start(Completion done) override;
    int Submit(const std::string& node, const sg_io_hdr_t& io) override;
    int SubmitAndAwait(const std::string& node, const sg_io_hdr_t& io, sg_io_hdr_t& finished) override;

private:
    // One open device node, with the requests the kernel holds on it.
    struct Node {
        std::string path;
        int fd = -1;
        std::vector<void*> inFlight;  // usr_ptr of each
        bool retired = false;         // takes no new request; closed once empty
        bool hungUp = false;          // the device is leaving; read, not polled
        bool claimed = false;         // a caller reads it; the thread keeps off
        // The claiming caller's wait, on `waitSet` (an epoll set of the node
        // and `release`): it ends when `release` (an eventfd) is readable,
        // which the thread makes it at `deadline`.
        int release = -1;
        int waitSet = -1;
        std::chrono::steady_clock::time_point deadline{};
        bool released = false;
    };

    // Writes the request to its node; 0 or -errno. With `claim`, the caller
    // gets the node to itself when no other caller has it (*claimed).
    int Hand(const std::string& path, const sg_io_hdr_t& io, bool claim, Node** node, bool* claimed);
    // Reads the claimed node until the request comes back or the bound ends;
    // then gives the node back. True when it came back (into `finished`).
    bool AwaitOwn(Node& node, void* own, sg_io_hdr_t& finished);
    // The caller's wait set of a node just opened; none (-1) when it cannot
    // be made.
    static void MakeWaitSet(Node& node);
    static void Close(Node& node);
    // Whether the completion thread has anything to read on the node.
    static bool Polled(const Node& node) { return !node.claimed && !node.hungUp && !node.inFlight.empty(); }
    // Under the lock: the claiming caller's wait is over, and a release that
    // came too late for it is taken back.
    static void Unclaim(Node& node);
    // Under the lock: ends the waits whose bound has passed; the time until
    // the next one's, or none.
    std::chrono::nanoseconds ReleaseDue();

    void Run();
    enum class Reads { One, UntilNoneLeft };
    void Collect(Node& node, Reads reads);
    void Wake();

    OpenNode open_;
    std::chrono::microseconds callerBound_;
    Completion done_;
    std::mutex mutex_;
    std::list<Node> nodes_;  // only the completion thread removes nodes
    int wake_ = -1;          // eventfd: a node was opened or the driver stops
    bool stopping_ = false;
    // Callers' waits: counted, so that the thread keeps watching a little
    // while after the last one instead of being woken for every next one.
    std::uint64_t claims_ = 0;
    bool watching_ = false;  // the thread will look at the callers' bounds
    std::thread thread_;
};

}  // namespace sgaspi
