// The pieces of the Linux SCSI generic pass-through library, apart from its
// exported entry points, so that tests can drive them over a fake device tree
// and a stand-in for the ioctl.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
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

// Fills the block's results from a finished sg request (SRB_Status last).
void ApplyResult(SRB_ExecSCSICmd& srb, const sg_io_hdr_t& io, const std::uint8_t* sense);

// The request status for an ioctl or open that failed with errno.
std::uint8_t StatusForErrno(int error);

using Ioctl = std::function<int(const std::string& node, sg_io_hdr_t& io)>;  // 0 or -errno

class Library {
public:
    Library(std::vector<Adapter> adapters, Ioctl ioctl);

    // Replaces what the library knows of the machine's devices.
    void Refresh(std::vector<Adapter> adapters);
    std::uint32_t SupportInfo();
    std::uint32_t Send(void* request);

    const std::vector<Adapter>& Adapters() const { return adapters_; }

private:
    std::uint32_t HaInquiry(SRB_HAInquiry& srb) const;
    std::uint32_t DevType(SRB_GDEVBlock& srb) const;
    std::uint32_t Execute(SRB_ExecSCSICmd& srb);
    const Adapter* Find(std::uint8_t ha) const;

    std::vector<Adapter> adapters_;
    Ioctl ioctl_;
    std::mutex mutex_;
};

// The real ioctl on the device node (descriptors kept open per node).
int DeviceIoctl(const std::string& node, sg_io_hdr_t& io);

}  // namespace sgaspi
