// The kernel's SCSI generic driver through its asynchronous interface: a
// request header is written to the device node, and the finished header is
// read back once the node polls readable. One thread of the library's own
// collects every completion.
#pragma once

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
    explicit SgDriver(OpenNode open = OpenSgNode);
    ~SgDriver() override;

    void Start(Completion done) override;
    int Submit(const std::string& node, const sg_io_hdr_t& io) override;

private:
    // One open device node, with the requests the kernel holds on it.
    struct Node {
        std::string path;
        int fd = -1;
        std::vector<void*> inFlight;  // usr_ptr of each
        bool retired = false;         // takes no new request; closed once empty
        bool hungUp = false;          // the device is leaving; read, not polled
    };

    void Run();
    enum class Reads { One, UntilNoneLeft };
    void Collect(Node& node, Reads reads);
    void Wake();

    OpenNode open_;
    Completion done_;
    std::mutex mutex_;
    std::list<Node> nodes_;  // only the completion thread removes nodes
    int wake_ = -1;          // eventfd: a node was opened or the driver stops
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace sgaspi
