#include "sg_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sgaspi {

namespace {

// How often a device that is being removed is read for the requests it
// still returns: its node polls as hung up for good, so it is not polled.
constexpr std::chrono::milliseconds kHungUpRetry{10};

// What each descriptor of a caller's wait set stands for.
constexpr std::uint32_t kNodeReady = 0, kReleased = 1;

}  // namespace

int OpenSgNode(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

SgDriver::SgDriver(OpenNode open, std::chrono::microseconds callerBound)
    : open_(std::move(open)), callerBound_(callerBound), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SgDriver::~SgDriver() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
    // A request still in the kernel is dropped with its descriptor: the
    // kernel copies data and sense out only when a request is read back.
    for (Node& node : nodes_) Close(node);
    if (wake_ >= 0) ::close(wake_);
}

void SgDriver::Close(Node& node) {
    ::close(node.fd);
    if (node.release >= 0) ::close(node.release);
    if (node.waitSet >= 0) ::close(node.waitSet);
}

// The set is kept for the node's life, so that a wait registers nothing.
void SgDriver::MakeWaitSet(Node& node) {
    node.release = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    node.waitSet = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event ready{};
    ready.events = EPOLLIN;
    ready.data.u32 = kNodeReady;
    bool made = node.release >= 0 && node.waitSet >= 0 &&
                ::epoll_ctl(node.waitSet, EPOLL_CTL_ADD, node.fd, &ready) == 0;
    ready.data.u32 = kReleased;
    made = made && ::epoll_ctl(node.waitSet, EPOLL_CTL_ADD, node.release, &ready) == 0;
    if (made) return;
    if (node.release >= 0) ::close(node.release);
    if (node.waitSet >= 0) ::close(node.waitSet);
    node.release = node.waitSet = -1;
}

void SgDriver::Start(Completion done) {
    done_ = std::move(done);
    if (wake_ < 0) return;  // Submit refuses every request
    thread_ = std::thread([this] { Run(); });
}

void SgDriver::Wake() {
    const std::uint64_t one = 1;
    while (::write(wake_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

int SgDriver::Submit(const std::string& path, const sg_io_hdr_t& io) {
    Node* node = nullptr;
    bool claimed = false;
    return Hand(path, io, false, &node, &claimed);
}

int SgDriver::SubmitAndAwait(const std::string& path, const sg_io_hdr_t& io, sg_io_hdr_t& finished) {
    Node* node = nullptr;
    bool claimed = false;
    const int handed = Hand(path, io, callerBound_.count() > 0, &node, &claimed);
    if (handed < 0 || !claimed) return handed;
    return AwaitOwn(*node, io.usr_ptr, finished) ? 1 : 0;
}

int SgDriver::Hand(const std::string& path, const sg_io_hdr_t& io, bool claim, Node** claimedNode, bool* claimed) {
    for (bool retry = true;; retry = false) {
        Node* node = nullptr;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (wake_ < 0) return -ENFILE;
            const auto found = std::find_if(nodes_.begin(), nodes_.end(),
                                            [&](const Node& n) { return n.path == path && !n.retired; });
            if (found != nodes_.end()) {
                node = &*found;
            } else {
                const int fd = open_(path);
                if (fd < 0) return fd;
                node = &*nodes_.insert(nodes_.end(), Node{});
                node->path = path;
                node->fd = fd;
                // Without it the node's requests all go to the thread.
                MakeWaitSet(*node);
            }
            const bool polled = Polled(*node);
            bool watch = false;
            if (claim && !node->claimed && node->waitSet >= 0) {
                node->claimed = true;
                node->deadline = std::chrono::steady_clock::now() + callerBound_;
                *claimed = true;
                *claimedNode = node;
                ++claims_;
                watch = !watching_;
                watching_ = true;
            }
            // Listed before the kernel has it, and so kept open: its completion
            // may be read back before write() has returned.
            node->inFlight.push_back(io.usr_ptr);
            // The completion thread polls only nodes that hold requests no
            // caller waits for: tell it of one that now does.
            wake = watch || (!polled && Polled(*node));
        }
        if (wake) Wake();
        ssize_t written;
        while ((written = ::write(node->fd, &io, sizeof io)) < 0 && errno == EINTR) {
        }
        if (written == static_cast<ssize_t>(sizeof io)) return 0;
        const int error = written < 0 ? errno : EIO;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = std::find(node->inFlight.begin(), node->inFlight.end(), io.usr_ptr);
        if (it != node->inFlight.end()) node->inFlight.erase(it);
        if (*claimed) {
            Unclaim(*node);
            *claimed = false;
            *claimedNode = nullptr;
            if (Polled(*node)) Wake();
        }
        // A device that has gone: the next request opens its node afresh. A
        // descriptor whose queue is full of requests the kernel still holds
        // (each one given up by the program): a fresh descriptor has a queue
        // of its own, and the old one is kept until they come back.
        const bool gone = error == ENODEV || error == ENXIO;
        if (gone || error == EDOM) {
            node->retired = true;
            Wake();
        }
        if (error != EDOM || !retry) return -error;
    }
}

void SgDriver::Unclaim(Node& node) {
    node.claimed = false;
    if (!node.released) return;
    node.released = false;
    std::uint64_t count;
    while (::read(node.release, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

bool SgDriver::AwaitOwn(Node& node, void* own, sg_io_hdr_t& finished) {
    for (;;) {
        // No time-out here: the thread ends the wait at its bound.
        epoll_event ready[2];
        const int count = ::epoll_wait(node.waitSet, ready, 2, -1);
        if (count < 0 && errno == EINTR) continue;
        std::uint32_t nodeEvents = 0;
        for (int i = 0; i < count; ++i)
            if (ready[i].data.u32 == kNodeReady) nodeEvents = ready[i].events;
        // The bound has passed, or a device that is leaving or a descriptor
        // that has failed: the completion thread sorts those out.
        if (count <= 0 || (nodeEvents & (EPOLLHUP | EPOLLERR)) != 0) break;
        if ((nodeEvents & EPOLLIN) == 0) break;
        sg_io_hdr_t back{};
        const ssize_t got = ::read(node.fd, &back, sizeof back);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got != static_cast<ssize_t>(sizeof back)) break;
        bool mine = false;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            const auto it = std::find(node.inFlight.begin(), node.inFlight.end(), back.usr_ptr);
            if (it != node.inFlight.end()) node.inFlight.erase(it);
            if (back.usr_ptr == own) {
                // The node is not touched after this: with its last request
                // back, the thread may close a retired one.
                mine = true;
                Unclaim(node);
                wake = Polled(node) || node.retired;
            }
        }
        if (mine) {
            if (wake) Wake();
            finished = back;
            return true;
        }
        done_(back, 0);  // an earlier request that its caller gave up
    }
    {
        // Ours is still in flight, so the node stays open until this is done.
        std::lock_guard<std::mutex> lock(mutex_);
        Unclaim(node);
    }
    Wake();
    return false;
}

std::chrono::nanoseconds SgDriver::ReleaseDue() {
    const auto now = std::chrono::steady_clock::now();
    auto next = std::chrono::nanoseconds::max();
    for (Node& node : nodes_) {
        if (!node.claimed || node.released) continue;
        if (node.deadline > now) {
            next = std::min(next, std::chrono::duration_cast<std::chrono::nanoseconds>(node.deadline - now));
            continue;
        }
        node.released = true;
        const std::uint64_t one = 1;
        while (::write(node.release, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
    return next;
}

void SgDriver::Run() {
    std::vector<pollfd> polled;
    std::vector<Node*> owners;
    std::vector<Node*> hungUp;
    std::uint64_t claimsSeen = 0;
    for (;;) {
        polled.assign(1, pollfd{wake_, POLLIN, 0});
        owners.assign(1, nullptr);
        hungUp.clear();
        auto timeout = std::chrono::nanoseconds::max();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            // While callers come one after another the thread wakes about
            // once per bound, not once per request; it stops watching one
            // bound after the last.
            timeout = ReleaseDue();
            if (timeout == std::chrono::nanoseconds::max() && claims_ != claimsSeen) timeout = callerBound_;
            if (timeout == std::chrono::nanoseconds::max()) watching_ = false;
            claimsSeen = claims_;
            for (auto it = nodes_.begin(); it != nodes_.end();) {
                if (it->retired && it->inFlight.empty() && !it->claimed) {
                    Close(*it);
                    it = nodes_.erase(it);
                    continue;
                }
                if (it->hungUp && !it->claimed) {
                    hungUp.push_back(&*it);
                } else if (Polled(*it)) {
                    polled.push_back(pollfd{it->fd, POLLIN, 0});
                    owners.push_back(&*it);
                }
                ++it;
            }
        }
        if (!hungUp.empty()) timeout = std::min<std::chrono::nanoseconds>(timeout, kHungUpRetry);
        timespec bound{};
        if (timeout != std::chrono::nanoseconds::max()) {
            bound.tv_sec = static_cast<time_t>(timeout.count() / 1000000000);
            bound.tv_nsec = static_cast<long>(timeout.count() % 1000000000);
        }
        if (::ppoll(polled.data(), polled.size(), timeout == std::chrono::nanoseconds::max() ? nullptr : &bound,
                    nullptr) < 0)
            continue;
        if (polled[0].revents != 0) {
            std::uint64_t count;
            while (::read(wake_, &count, sizeof count) < 0 && errno == EINTR) {
            }
        }
        for (std::size_t i = 1; i < polled.size(); ++i) {
            if (polled[i].revents == 0) continue;
            const bool hangUp = (polled[i].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
            if (hangUp) {
                // A device being removed: it takes no new request, and what it
                // still holds is read back until it has returned everything.
                std::lock_guard<std::mutex> lock(mutex_);
                owners[i]->hungUp = true;
                owners[i]->retired = true;
            }
            Collect(*owners[i], hangUp ? Reads::UntilNoneLeft : Reads::One);
        }
        for (Node* node : hungUp) Collect(*node, Reads::UntilNoneLeft);
    }
}

void SgDriver::Collect(Node& node, Reads reads) {
    for (;;) {
        {
            // A node whose requests have all been given up is never read
            // again: a read would copy into buffers that are no longer lent.
            // One that a caller reads now is the caller's.
            std::lock_guard<std::mutex> lock(mutex_);
            if ((node.retired && node.inFlight.empty()) || node.claimed) return;
        }
        sg_io_hdr_t io{};
        const ssize_t got = ::read(node.fd, &io, sizeof io);
        if (got == static_cast<ssize_t>(sizeof io)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const auto it = std::find(node.inFlight.begin(), node.inFlight.end(), io.usr_ptr);
                if (it != node.inFlight.end()) node.inFlight.erase(it);
            }
            done_(io, 0);
            // A polled node that has more to return polls readable again at once.
            if (reads == Reads::One) return;
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && errno == EAGAIN) return;
        // The device has gone (ENODEV), or the descriptor has ended: nothing
        // more comes back on it, so every request it held is lost.
        const int error = got < 0 ? errno : ENODEV;
        std::vector<void*> lost;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lost.swap(node.inFlight);
            node.retired = true;
        }
        for (void* request : lost) {
            sg_io_hdr_t failed{};
            failed.usr_ptr = request;
            done_(failed, error);
        }
        return;
    }
}

}  // namespace sgaspi
