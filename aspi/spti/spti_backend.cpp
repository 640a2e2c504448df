#include "spti_backend.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace spti {

namespace {

// What the library reports where a request got no SCSI status at all, so
// that no caller mistakes it for GOOD.
constexpr std::uint8_t kNoStatus = 0xFF;

// The host adapter status for a Windows error that has no ASPI meaning of
// its own: the pass-through itself failed.
constexpr std::uint8_t kHaStatWindowsError = 0xFF;

constexpr std::size_t kInquiryAnswerSize = 64 * 1024;

// The pass-through block with its sense buffer behind it, in and out of one
// DeviceIoControl.
struct Request {
    PassThroughDirect sptd;
    std::uint8_t sense[kSenseLength];
};

struct ErrorRow {
    std::uint32_t error;
    ErrorOutcome outcome;
};

// As aspi/sg maps the same outcomes from errno (README, the two status tables).
constexpr ErrorRow kErrorTable[] = {
    {kErrorAccessDenied, {SS_ILLEGAL_MODE, HASTAT_OK}},
    {kErrorPrivilegeNotHeld, {SS_ILLEGAL_MODE, HASTAT_OK}},
    // The device has gone, or no target answers: one reason for one event.
    {kErrorFileNotFound, {SS_ERR, HASTAT_SEL_TO}},
    {kErrorPathNotFound, {SS_ERR, HASTAT_SEL_TO}},
    {kErrorDevNotExist, {SS_ERR, HASTAT_SEL_TO}},
    {kErrorDeviceNotConnected, {SS_ERR, HASTAT_SEL_TO}},
    {kErrorSemTimeout, {SS_ERR, HASTAT_COMMAND_TIMEOUT}},  // the port driver's time-out
    {kErrorTimeout, {SS_ERR, HASTAT_COMMAND_TIMEOUT}},
    {kErrorBusReset, {SS_ERR, HASTAT_BUS_RESET}},
    {kErrorNotEnoughMemory, {SS_BUFFER_TO_BIG, HASTAT_OK}},
    {kErrorOutOfMemory, {SS_BUFFER_TO_BIG, HASTAT_OK}},
    {kErrorNoSystemResources, {SS_BUFFER_TO_BIG, HASTAT_OK}},
    {kErrorInvalidParameter, {SS_INVALID_SRB, HASTAT_OK}},
    {kErrorInvalidFunction, {SS_INVALID_SRB, HASTAT_OK}},  // e.g. a claimed unit asked through its port
    {kErrorNoAccess, {SS_INVALID_SRB, HASTAT_OK}},
};

void PutText(std::uint8_t* field, std::size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

void ApplyResult(SRB_ExecSCSICmd& srb, const Request& request) {
    const std::uint8_t targStat = request.sptd.ScsiStatus;
    std::uint8_t haStat = HASTAT_OK;
    if (targStat == STATUS_GOOD && request.sptd.DataTransferLength < srb.SRB_BufLen) haStat = HASTAT_DO_DU;
    srb.SRB_HaStat = haStat;
    srb.SRB_TargStat = targStat;
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (targStat == STATUS_CHKCOND)
        std::memcpy(srb.SenseArea, request.sense, std::min<std::size_t>(request.sptd.SenseInfoLength, kSenseLength));
    srb.SRB_Status = haStat == HASTAT_OK && targStat == STATUS_GOOD ? SS_COMP : SS_ERR;
}

}  // namespace

std::string PortPath(int port) { return "\\\\.\\Scsi" + std::to_string(port) + ":"; }
std::string DiskPath(int disk) { return "\\\\.\\PhysicalDrive" + std::to_string(disk); }

std::vector<Unit> ParseInquiryData(const std::uint8_t* answer, std::size_t returned, std::uint8_t* initiatorId) {
    std::vector<Unit> units;
    if (returned < offsetof(AdapterBusInfo, BusData)) return units;
    const std::size_t buses = answer[0];
    for (std::size_t b = 0; b < buses; ++b) {
        const std::size_t at = offsetof(AdapterBusInfo, BusData) + b * sizeof(Bus);
        if (at + sizeof(Bus) > returned) break;
        Bus bus;
        std::memcpy(&bus, answer + at, sizeof bus);
        if (b == 0 && bus.InitiatorBusId < 16) *initiatorId = bus.InitiatorBusId;
        std::size_t offset = bus.InquiryDataOffset;
        // A bus has at most 256 units of 256 LUNs; a chain longer than that loops.
        for (int guard = 0; offset != 0 && guard < 65536; ++guard) {
            InquiryData unit;
            if (offset > returned || returned - offset < offsetof(InquiryData, InquiryData)) break;
            std::memcpy(&unit, answer + offset, offsetof(InquiryData, InquiryData));
            const std::size_t dataAt = offset + offsetof(InquiryData, InquiryData);
            if (unit.PathId == 0 && unit.Lun == 0 && unit.InquiryDataLength > 0 && dataAt < returned) {
                const std::uint8_t peripheral = answer[dataAt];
                // Any qualifier but 0: no device is connected there now.
                if (peripheral >> 5 == 0) units.push_back(Unit{unit.TargetId, static_cast<std::uint8_t>(peripheral & 0x1F)});
            }
            offset = unit.NextInquiryDataOffset;
        }
    }
    return units;
}

std::vector<Adapter> Enumerate(System& system) {
    std::map<int, Adapter> ports;
    std::vector<std::uint8_t> answer(kInquiryAnswerSize);
    for (int port = 0; port < kPortsProbed; ++port) {
        Handle handle = nullptr;
        if (system.Open(PortPath(port), System::Access::Query, &handle) != 0) continue;
        Adapter& a = ports[port];
        a.port = port;
        std::uint32_t returned = 0;
        if (system.Control(handle, kIoctlGetInquiryData, nullptr, 0, answer.data(), kInquiryAnswerSize, &returned) == 0) {
            const auto units = ParseInquiryData(answer.data(), std::min<std::size_t>(returned, kInquiryAnswerSize), &a.initiatorId);
            for (const Unit& u : units) a.targets[u.target] = Target{u.type, PortPath(port)};
        }
        Capabilities caps{};
        if (system.Control(handle, kIoctlGetCapabilities, nullptr, 0, &caps, sizeof caps, &returned) == 0 &&
            returned >= offsetof(Capabilities, AlignmentMask) + sizeof caps.AlignmentMask) {
            // A mask is a power of two less one, at most a page or so;
            // anything else is not one to align by.
            const std::uint32_t mask = caps.AlignmentMask;
            a.alignmentMask = mask <= 0xFFFF && (mask & (mask + 1)) == 0 ? mask : 0;
            a.maximumTransfer = caps.MaximumTransferLength;
        }
        system.Close(handle);
        a.driver = system.PortDriver(port);
    }
    // The disks of the class driver, each at its SCSI address; a port whose
    // own device cannot be opened still gets its disks.
    for (int disk = 0; disk < kDisksProbed; ++disk) {
        Handle handle = nullptr;
        if (system.Open(DiskPath(disk), System::Access::Query, &handle) != 0) continue;
        Address address{};
        std::uint32_t returned = 0;
        const bool known = system.Control(handle, kIoctlGetAddress, nullptr, 0, &address, sizeof address, &returned) == 0 &&
                           returned >= sizeof address;
        system.Close(handle);
        if (!known || address.PathId != 0 || address.Lun != 0) continue;
        const bool newPort = ports.find(address.PortNumber) == ports.end();
        Adapter& a = ports[address.PortNumber];
        if (newPort) {
            a.port = address.PortNumber;
            a.driver = system.PortDriver(a.port);
        }
        const bool listed = a.targets.count(address.TargetId) != 0;
        Target& t = a.targets[address.TargetId];
        if (!listed) t.type = DTYPE_DASD;
        t.device = DiskPath(disk);
    }
    std::vector<Adapter> out;
    for (auto& [port, a] : ports) {
        const int highest = a.targets.empty() ? 0 : a.targets.rbegin()->first;
        a.targetsSupported = std::clamp(highest + 1, 8, 16);
        out.push_back(std::move(a));
    }
    return out;
}

std::uint32_t TimeoutSeconds(std::uint8_t opcode) {
    switch (opcode) {
        case 0x1B:  // START STOP UNIT
        case 0x37:  // READ DEFECT DATA
            return 100;
        case 0x3B:  // WRITE BUFFER
            return 60;
        default:
            return 10;
    }
}

ErrorOutcome OutcomeForError(std::uint32_t error) {
    for (const ErrorRow& row : kErrorTable)
        if (row.error == error) return row.outcome;
    return {SS_ERR, kHaStatWindowsError};
}

Library::Library(std::vector<Adapter> adapters, System& system) : adapters_(std::move(adapters)), system_(system) {}

Library::~Library() { CloseAll(); }

void Library::CloseAll() {
    for (auto& [path, device] : open_)
        if (device.handle != nullptr) system_.Close(device.handle);
    open_.clear();
}

void Library::Refresh(std::vector<Adapter> adapters) {
    std::unique_lock lock(mutex_);
    CloseAll();
    adapters_ = std::move(adapters);
}

Library::Device& Library::DeviceFor(const std::string& path) {
    std::lock_guard lock(openLock_);
    return open_[path];  // a map's entries stay where they are
}

std::uint32_t Library::SupportInfo() {
    std::shared_lock lock(mutex_);
    return static_cast<std::uint32_t>(SS_COMP) << 8 | static_cast<std::uint32_t>(std::min<std::size_t>(adapters_.size(), 255));
}

const Adapter* Library::Find(std::uint8_t ha) const { return ha < adapters_.size() ? &adapters_[ha] : nullptr; }

std::uint32_t Library::HaInquiry(SRB_HAInquiry& srb) const {
    const Adapter* a = Find(srb.SRB_HaId);
    if (a == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    srb.HA_Count = static_cast<std::uint8_t>(std::min<std::size_t>(adapters_.size(), 255));
    srb.HA_SCSI_ID = a->initiatorId;
    PutText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, "WIN SPTI ASPI");
    PutText(srb.HA_Identifier, sizeof srb.HA_Identifier, a->driver.empty() ? "scsi" : a->driver);
    std::memset(srb.HA_Unique, 0, sizeof srb.HA_Unique);
    srb.HA_Unique[3] = static_cast<std::uint8_t>(a->targetsSupported);
    return srb.SRB_Status = SS_COMP;
}

std::uint32_t Library::DevType(SRB_GDEVBlock& srb) const {
    const Adapter* a = Find(srb.SRB_HaId);
    if (a == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    const auto t = a->targets.find(srb.SRB_Target);
    if (srb.SRB_Lun != 0 || t == a->targets.end()) return srb.SRB_Status = SS_NO_DEVICE;
    srb.SRB_DeviceType = t->second.type;
    return srb.SRB_Status = SS_COMP;
}

std::uint32_t Library::Fail(SRB_ExecSCSICmd& srb, std::uint32_t error) {
    const ErrorOutcome outcome = OutcomeForError(error);
    srb.SRB_HaStat = outcome.haStat;
    return srb.SRB_Status = outcome.status;
}

std::uint32_t Library::Execute(SRB_ExecSCSICmd& srb) {
    const Adapter* a = Find(srb.SRB_HaId);
    if (a == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = kNoStatus;
    const auto t = a->targets.find(srb.SRB_Target);
    if (srb.SRB_Lun != 0 || t == a->targets.end()) return Fail(srb, kErrorDevNotExist);
    const bool in = srb.SRB_Flags & SRB_DIR_IN, out = srb.SRB_Flags & SRB_DIR_OUT;
    const std::uint32_t length = srb.SRB_BufLen;
    if (srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte ||
        (length > 0 && (srb.SRB_BufPointer == nullptr || in == out)))
        return srb.SRB_Status = SS_INVALID_SRB;
    if (a->maximumTransfer != 0 && length > a->maximumTransfer) return srb.SRB_Status = SS_BUFFER_TO_BIG;

    Device& device = DeviceFor(t->second.device);
    std::lock_guard busy(device.busy);
    if (device.handle == nullptr) {
        if (const std::uint32_t error = system_.Open(t->second.device, System::Access::ReadWrite, &device.handle)) {
            device.handle = nullptr;
            return Fail(srb, error);
        }
    }

    // The port driver refuses a buffer off the adapter's alignment: carry
    // such a transfer through one of the library's own.
    std::uint8_t* data = length == 0 ? nullptr : srb.SRB_BufPointer;
    const std::uintptr_t mask = a->alignmentMask;
    std::vector<std::uint8_t> bounce;
    if (data != nullptr && (reinterpret_cast<std::uintptr_t>(data) & mask) != 0) {
        if (length > SIZE_MAX - mask) return srb.SRB_Status = SS_BUFFER_TO_BIG;
        try {
            bounce.resize(length + mask);
        } catch (const std::bad_alloc&) {
            return srb.SRB_Status = SS_BUFFER_TO_BIG;
        }
        const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(bounce.data());
        data = bounce.data() + (((start + mask) & ~mask) - start);
        if (out) std::memcpy(data, srb.SRB_BufPointer, length);
    }

    Request request{};
    PassThroughDirect& sptd = request.sptd;
    sptd.Length = sizeof sptd;
    sptd.TargetId = srb.SRB_Target;
    sptd.CdbLength = srb.SRB_CDBLen;
    sptd.SenseInfoLength = kSenseLength;
    sptd.DataIn = length == 0 ? kDataUnspecified : in ? kDataIn : kDataOut;
    sptd.DataTransferLength = length;
    sptd.TimeOutValue = TimeoutSeconds(srb.CDBByte[0]);
    sptd.DataBuffer = data;
    sptd.SenseInfoOffset = offsetof(Request, sense);
    std::memcpy(sptd.Cdb, srb.CDBByte, srb.SRB_CDBLen);

    std::uint32_t returned = 0;
    if (const std::uint32_t error = system_.Control(device.handle, kIoctlPassThroughDirect, &request, sizeof request,
                                                    &request, sizeof request, &returned)) {
        // The device may have gone: open it afresh next time.
        system_.Close(device.handle);
        device.handle = nullptr;
        return Fail(srb, error);
    }
    if (in && data != srb.SRB_BufPointer)
        std::memcpy(srb.SRB_BufPointer, data, std::min(sptd.DataTransferLength, length));
    ApplyResult(srb, request);
    return srb.SRB_Status;
}

std::uint32_t Library::Abort(SRB_Abort& srb) const {
    if (Find(srb.SRB_HaId) == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    if (srb.SRB_ToAbort == nullptr) return srb.SRB_Status = SS_INVALID_SRB;
    // Every request is finished before SendASPI32Command returns: the block
    // named already holds its outcome and nothing is left to abort.
    return srb.SRB_Status = SS_COMP;
}

std::uint32_t Library::Send(void* request) {
    if (request == nullptr) return SS_INVALID_SRB;
    // Requests of several threads go on at once; a refresh waits for them.
    std::shared_lock lock(mutex_);
    auto* header = static_cast<SRB_Header*>(request);
    switch (header->SRB_Cmd) {
        case SC_HA_INQUIRY: return HaInquiry(*static_cast<SRB_HAInquiry*>(request));
        case SC_GET_DEV_TYPE: return DevType(*static_cast<SRB_GDEVBlock*>(request));
        // Carried out at once: the pass-through is synchronous, so the block
        // is finished before this returns and no completion is signalled.
        case SC_EXEC_SCSI_CMD: return Execute(*static_cast<SRB_ExecSCSICmd*>(request));
        case SC_ABORT_SRB: return Abort(*static_cast<SRB_Abort*>(request));
        default: return header->SRB_Status = SS_INVALID_SRB;
    }
}

}  // namespace spti
