// The pieces of the Windows SCSI pass-through library, apart from its
// exported entry points and the Win32 calls, so that tests can drive them on
// any platform through a stand-in for CreateFileA and DeviceIoControl.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "spti_ioctl.h"
#include "transport/srb.h"

namespace spti {

using Handle = void*;

// Win32 error codes the library tells apart (winerror.h).
enum : std::uint32_t {
    kErrorInvalidFunction = 1,
    kErrorFileNotFound = 2,
    kErrorPathNotFound = 3,
    kErrorAccessDenied = 5,
    kErrorNotEnoughMemory = 8,
    kErrorOutOfMemory = 14,
    kErrorDevNotExist = 55,
    kErrorInvalidParameter = 87,
    kErrorSemTimeout = 121,
    kErrorNoAccess = 998,
    kErrorBusReset = 1111,
    kErrorDeviceNotConnected = 1167,
    kErrorPrivilegeNotHeld = 1314,
    kErrorNoSystemResources = 1450,
    kErrorTimeout = 1460,
};

// What the library asks of Windows. Each call returns 0 or the Win32 error.
class System {
public:
    enum class Access { Query, ReadWrite };

    virtual ~System() = default;
    // CreateFileA of a device ("\\.\Scsi2:", "\\.\PhysicalDrive0"): Query
    // opens without read or write access, enough for the FILE_ANY_ACCESS
    // controls and granted to every user; the pass-through needs ReadWrite.
    virtual std::uint32_t Open(const std::string& path, Access access, Handle* handle) = 0;
    virtual std::uint32_t Control(Handle handle, std::uint32_t code, void* in, std::uint32_t inLength, void* out,
                                  std::uint32_t outLength, std::uint32_t* returned) = 0;
    virtual void Close(Handle handle) = 0;
    // The miniport driver Windows records for SCSI port N, or empty.
    virtual std::string PortDriver(int port) = 0;
};

struct Target {
    std::uint8_t type = 0;  // peripheral device type
    // Where requests go: the disk of the class driver that claimed the unit
    // (the port refuses user requests for claimed units), else the port.
    std::string device;
};

// One SCSI port of the machine, as one ASPI host adapter.
struct Adapter {
    int port = 0;                    // N of \\.\ScsiN:
    std::string driver;              // its miniport driver's name
    std::uint8_t initiatorId = 7;    // the adapter's own ID on path 0
    std::map<int, Target> targets;   // by SCSI ID, path 0, LUN 0
    int targetsSupported = 8;
    std::uint32_t alignmentMask = 0;    // what data buffers must be aligned to
    std::uint32_t maximumTransfer = 0;  // bytes per request, 0 when not told
};

constexpr int kPortsProbed = 64;
constexpr int kDisksProbed = 128;

std::string PortPath(int port);
std::string DiskPath(int disk);

// The units on path 0 LUN 0 in one inquiry-data answer (its first returned
// bytes), and the initiator's ID in *initiatorId when the answer tells it.
// Offsets are checked, never trusted.
struct Unit {
    int target;
    std::uint8_t type;  // peripheral device type
};
std::vector<Unit> ParseInquiryData(const std::uint8_t* answer, std::size_t returned, std::uint8_t* initiatorId);

// The machine's SCSI ports in ascending number, with the disks of the class
// driver placed at their SCSI addresses.
std::vector<Adapter> Enumerate(System& system);

// How long the port driver may take over a command, matching the program's
// own waits for that kind of command.
std::uint32_t TimeoutSeconds(std::uint8_t opcode);

// What a failed CreateFileA or DeviceIoControl leaves in the block.
struct ErrorOutcome {
    std::uint8_t status;  // SRB_Status
    std::uint8_t haStat;  // SRB_HaStat
};
ErrorOutcome OutcomeForError(std::uint32_t error);

class Library {
public:
    Library(std::vector<Adapter> adapters, System& system);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Replaces what the library knows of the machine's devices.
    void Refresh(std::vector<Adapter> adapters);
    std::uint32_t SupportInfo();
    std::uint32_t Send(void* request);

private:
    std::uint32_t HaInquiry(SRB_HAInquiry& srb) const;
    std::uint32_t DevType(SRB_GDEVBlock& srb) const;
    std::uint32_t Execute(SRB_ExecSCSICmd& srb);
    std::uint32_t Abort(SRB_Abort& srb) const;
    std::uint32_t Fail(SRB_ExecSCSICmd& srb, std::uint32_t error);
    const Adapter* Find(std::uint8_t ha) const;
    void CloseAll();

    // A device's read-write handle, kept until the next refresh; one request
    // at a time goes through it, while other devices' go on at once.
    struct Device {
        std::mutex busy;
        Handle handle = nullptr;
    };
    Device& DeviceFor(const std::string& path);

    std::vector<Adapter> adapters_;
    System& system_;
    std::map<std::string, Device> open_;
    std::mutex openLock_;  // the map itself
    // Requests share it; a refresh takes it alone, once they are done.
    std::shared_mutex mutex_;
};

}  // namespace spti
