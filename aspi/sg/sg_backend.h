// The pieces of the Linux SCSI generic pass-through library, apart from its
// exported entry points, so that tests can drive them over a fake device tree
// and stand-ins for the sg driver.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <scsi/sg.h>

#include "transport/srb.h"

namespace sgaspi {

struct Target {
    std::string node;     // /dev/sgN
    std::uint8_t type;    // peripheral device type
};

// One SCSI host of the machine, as one ASPI host adapter.
struct Adapter {
    int host = 0;                       // the kernel's host number
    std::string procName;               // its driver's name
    std::map<int, Target> targets;      // by SCSI ID, LUN 0, channel 0
    int targetsSupported = 8;
};

// The SCSI generic devices under sysRoot (normally "/sys"), their nodes
// under devRoot (normally "/dev"), grouped by host in ascending host number.
std::vector<Adapter> Enumerate(const std::string& sysRoot, const std::string& devRoot);

// How long the kernel may take over a command, matching the program's own
// waits for that kind of command.
unsigned TimeoutMs(std::uint8_t opcode);

// The sg request for an ASPI request, or false when the block cannot be
// carried (SRB_Status to report in *refusal).
bool Translate(SRB_ExecSCSICmd& srb, sg_io_hdr_t& io, std::uint8_t* sense, std::uint8_t* refusal);

// The ASPI host adapter status for the kernel's host and driver status.
std::uint8_t HostAdapterStatus(unsigned hostStatus, unsigned driverStatus);

// Fills the block's results from a finished sg request, all but SRB_Status,
// which the caller sets last from the value returned.
std::uint8_t ApplyResult(SRB_ExecSCSICmd& srb, const sg_io_hdr_t& io, const std::uint8_t* sense);

// Fills the block's results for a request that the system failed with errno
// (on open, on submission or on the way back), all but SRB_Status, which is
// returned. A device that has gone, or whose node has, is a selection
// time-out: every variant of the program's execution step reads SRB_HaStat.
std::uint8_t ApplyError(SRB_ExecSCSICmd& srb, int error);

// Carries out a request at once and returns 0 or -errno (a stand-in for the
// driver's SG_IO in tests).
using Ioctl = std::function<int(const std::string& node, sg_io_hdr_t& io)>;

// The sg driver's asynchronous interface as the library uses it: a request
// is handed over without waiting and comes back later, on a thread of the
// driver's own, through the completion given to Start. The completion is
// never called from inside Submit.
class Driver {
public:
    // The finished header (error 0), or the errno that lost the request; in
    // either case io.usr_ptr is the one the request was submitted with.
    using Completion = std::function<void(const sg_io_hdr_t& io, int error)>;

    virtual ~Driver() = default;
    virtual void Start(Completion done) = 0;
    // 0 once the driver holds the request; -errno when it was not taken, and
    // then it never completes. The buffers io points to stay valid until
    // the request completes.
    virtual int Submit(const std::string& node, const sg_io_hdr_t& io) = 0;
    // Submit, then wait for the request on the caller's thread for a short
    // bound: 1 when it came back within it (the finished header in
    // `finished`, and the completion is not called for it), 0 when it is left
    // to the completion, -errno as Submit.
    virtual int SubmitAndAwait(const std::string& node, const sg_io_hdr_t& io, sg_io_hdr_t& finished) {
        (void)finished;
        return Submit(node, io);
    }
};

class Library {
public:
    // Every request is carried out inside Send through ioctl and its block is
    // finished when Send returns.
    Library(std::vector<Adapter> adapters, Ioctl ioctl);
    // A request that the driver returns while Send still waits for it is
    // finished there and answered with its status, no event signalled; any
    // other that the driver takes is answered SS_PENDING, its block filled in
    // when the driver returns it (SRB_Status last) and the event in
    // SRB_PostProc signalled.
    Library(std::vector<Adapter> adapters, std::unique_ptr<Driver> driver);
    ~Library();

    // Replaces what the library knows of the machine's devices.
    void Refresh(std::vector<Adapter> adapters);
    std::uint32_t SupportInfo();
    std::uint32_t Send(void* request);

    const std::vector<Adapter>& Adapters() const { return adapters_; }

private:
    // A request the driver holds, with what the driver writes back into.
    struct Held {
        SRB_ExecSCSICmd* srb = nullptr;
        sg_io_hdr_t io{};
        std::uint8_t sense[kSenseLength] = {};
    };

    std::uint32_t HaInquiry(SRB_HAInquiry& srb) const;
    std::uint32_t DevType(SRB_GDEVBlock& srb) const;
    std::uint32_t Execute(SRB_ExecSCSICmd& srb);
    std::uint32_t Submit(std::unique_lock<std::mutex>& lock, SRB_ExecSCSICmd& srb, const std::string& node);
    std::uint32_t Abort(SRB_Abort& srb);
    void Complete(const sg_io_hdr_t& io, int error);
    const Adapter* Find(std::uint8_t ha) const;

    std::vector<Adapter> adapters_;
    Ioctl ioctl_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Held>> held_;
    std::vector<std::unique_ptr<Held>> spare_;  // reused, so that steady traffic does not allocate
    std::unique_ptr<Driver> driver_;
};

}  // namespace sgaspi
