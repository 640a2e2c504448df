#include "sg_driver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace sgaspi {

namespace {

// How often a device that is being removed is read for the requests it
// still returns: its node polls as hung up for good, so it is not polled.
constexpr int kHungUpRetryMs = 10;

}  // namespace

int OpenSgNode(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? -errno : fd;
}

SgDriver::SgDriver(OpenNode open) : open_(std::move(open)), wake_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SgDriver::~SgDriver() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    Wake();
    if (thread_.joinable()) thread_.join();
    // A request still in the kernel is dropped with its descriptor: the
    // kernel copies data and sense out only when a request is read back.
    for (Node& node : nodes_) ::close(node.fd);
    if (wake_ >= 0) ::close(wake_);
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
    for (bool retry = true;; retry = false) {
        Node* node = nullptr;
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
                node = &*nodes_.insert(nodes_.end(), Node{path, fd, {}, false, false});
                Wake();  // the completion thread polls it from now on
            }
            // Listed before the kernel has it, and so kept open: its completion
            // may be read back before write() has returned.
            node->inFlight.push_back(io.usr_ptr);
        }
        ssize_t written;
        while ((written = ::write(node->fd, &io, sizeof io)) < 0 && errno == EINTR) {
        }
        if (written == static_cast<ssize_t>(sizeof io)) return 0;
        const int error = written < 0 ? errno : EIO;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = std::find(node->inFlight.begin(), node->inFlight.end(), io.usr_ptr);
        if (it != node->inFlight.end()) node->inFlight.erase(it);
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

void SgDriver::Run() {
    std::vector<pollfd> polled;
    std::vector<Node*> owners;
    std::vector<Node*> hungUp;
    for (;;) {
        polled.assign(1, pollfd{wake_, POLLIN, 0});
        owners.assign(1, nullptr);
        hungUp.clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
            for (auto it = nodes_.begin(); it != nodes_.end();) {
                if (it->retired && it->inFlight.empty()) {
                    ::close(it->fd);
                    it = nodes_.erase(it);
                    continue;
                }
                if (it->hungUp) {
                    hungUp.push_back(&*it);
                } else {
                    polled.push_back(pollfd{it->fd, POLLIN, 0});
                    owners.push_back(&*it);
                }
                ++it;
            }
        }
        if (::poll(polled.data(), polled.size(), hungUp.empty() ? -1 : kHungUpRetryMs) < 0) continue;
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
            std::lock_guard<std::mutex> lock(mutex_);
            if (node.retired && node.inFlight.empty()) return;
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
