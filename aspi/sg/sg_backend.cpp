#include "sg_backend.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace sgaspi {

namespace fs = std::filesystem;

namespace {

// What the library reports where a request got no SCSI status at all, so
// that no caller mistakes it for GOOD.
constexpr std::uint8_t kNoStatus = 0xFF;

std::string ReadLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

void PutText(std::uint8_t* field, std::size_t size, const std::string& text) {
    std::memset(field, ' ', size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

}  // namespace

std::vector<Adapter> Enumerate(const std::string& sysRoot, const std::string& devRoot) {
    std::map<int, Adapter> hosts;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(sysRoot) / "class" / "scsi_generic", ec)) {
        const std::string name = entry.path().filename().string();
        std::error_code linkError;
        const fs::path device = fs::canonical(entry.path() / "device", linkError);
        if (linkError) continue;
        int host, channel, target, lun;
        char extra;
        if (std::sscanf(device.filename().c_str(), "%d:%d:%d:%d%c", &host, &channel, &target, &lun, &extra) != 4)
            continue;
        // ASPI knows one bus per adapter and addresses LUN 0 only.
        if (channel != 0 || lun != 0 || host < 0 || target < 0 || target > 255) continue;
        const std::string type = ReadLine(device / "type");
        Adapter& a = hosts[host];
        a.host = host;
        a.targets[target] = Target{devRoot + "/" + name, static_cast<std::uint8_t>(std::atoi(type.c_str()) & 0x1F)};
    }
    std::vector<Adapter> out;
    for (auto& [host, a] : hosts) {
        a.procName = ReadLine(fs::path(sysRoot) / "class" / "scsi_host" / ("host" + std::to_string(host)) / "proc_name");
        const int highest = a.targets.empty() ? 0 : a.targets.rbegin()->first;
        a.targetsSupported = std::clamp(highest + 1, 8, 16);
        out.push_back(std::move(a));
    }
    return out;
}

unsigned TimeoutMs(std::uint8_t opcode) {
    switch (opcode) {
        case 0x1B:  // START STOP UNIT
        case 0x37:  // READ DEFECT DATA
            return 100000;
        case 0x3B:  // WRITE BUFFER
            return 60000;
        default:
            return 10000;
    }
}

bool Translate(SRB_ExecSCSICmd& srb, sg_io_hdr_t& io, std::uint8_t* sense, std::uint8_t* refusal) {
    std::memset(&io, 0, sizeof io);
    io.interface_id = 'S';
    const bool in = srb.SRB_Flags & SRB_DIR_IN, out = srb.SRB_Flags & SRB_DIR_OUT;
    const bool badCdb = srb.SRB_CDBLen == 0 || srb.SRB_CDBLen > sizeof srb.CDBByte;
    const bool badData = srb.SRB_BufLen > 0 && (srb.SRB_BufPointer == nullptr || in == out);
    if (badCdb || badData) {
        *refusal = SS_INVALID_SRB;
        return false;
    }
    io.cmd_len = srb.SRB_CDBLen;
    io.cmdp = srb.CDBByte;
    io.mx_sb_len = static_cast<unsigned char>(kSenseLength);
    io.sbp = sense;
    io.dxfer_direction = srb.SRB_BufLen == 0 ? SG_DXFER_NONE : in ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
    io.dxfer_len = srb.SRB_BufLen;
    io.dxferp = srb.SRB_BufLen == 0 ? nullptr : srb.SRB_BufPointer;
    io.timeout = TimeoutMs(srb.CDBByte[0]);
    return true;
}

std::uint8_t HostAdapterStatus(unsigned hostStatus, unsigned driverStatus) {
    if ((driverStatus & 0x0F) == 0x06) return HASTAT_COMMAND_TIMEOUT;  // DRIVER_TIMEOUT
    switch (hostStatus) {
        case 0x00: return HASTAT_OK;
        case 0x01:                           // DID_NO_CONNECT
        case 0x04: return HASTAT_SEL_TO;     // DID_BAD_TARGET
        case 0x02: return HASTAT_TIMEOUT;    // DID_BUS_BUSY
        case 0x03:                           // DID_TIME_OUT
        case 0x05: return HASTAT_COMMAND_TIMEOUT;  // DID_ABORT, after a time-out
        case 0x06: return HASTAT_PARITY_ERROR;     // DID_PARITY
        case 0x07: return HASTAT_PHASE_ERR;        // DID_ERROR
        case 0x08: return HASTAT_BUS_RESET;        // DID_RESET
        case 0x09: return HASTAT_BUS_FREE;         // DID_BAD_INTR
        default: return static_cast<std::uint8_t>(0x80 | (hostStatus & 0x7F));
    }
}

std::uint8_t ApplyResult(SRB_ExecSCSICmd& srb, const sg_io_hdr_t& io, const std::uint8_t* sense) {
    std::uint8_t haStat = HostAdapterStatus(io.host_status, io.driver_status);
    const std::uint8_t targStat = io.status;
    if (haStat == HASTAT_OK && targStat == STATUS_GOOD && io.resid != 0) haStat = HASTAT_DO_DU;
    srb.SRB_HaStat = haStat;
    srb.SRB_TargStat = targStat;
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    if (targStat == STATUS_CHKCOND) std::memcpy(srb.SenseArea, sense, std::min<std::size_t>(io.sb_len_wr, kSenseLength));
    if (io.host_status == 0x05 && (io.driver_status & 0x0F) != 0x06) return SS_ABORTED;
    return haStat == HASTAT_OK && targStat == STATUS_GOOD ? SS_COMP : SS_ERR;
}

std::uint8_t ApplyError(SRB_ExecSCSICmd& srb, int error) {
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = kNoStatus;
    switch (error) {
        // The device, or its node, has gone: no target answers any more.
        case ENOENT:
        case ENODEV:
        case ENXIO:
            srb.SRB_HaStat = HASTAT_SEL_TO;
            return SS_ERR;
        case EACCES:
        case EPERM: return SS_ILLEGAL_MODE;
        case ENOMEM: return SS_BUFFER_TO_BIG;
        case EINVAL:
        case EFAULT: return SS_INVALID_SRB;
        default: return SS_ERR;
    }
}

Library::Library(std::vector<Adapter> adapters, Ioctl ioctl) : adapters_(std::move(adapters)), ioctl_(std::move(ioctl)) {}

Library::Library(std::vector<Adapter> adapters, std::unique_ptr<Driver> driver)
    : adapters_(std::move(adapters)), driver_(std::move(driver)) {
    driver_->Start([this](const sg_io_hdr_t& io, int error) { Complete(io, error); });
}

// The driver goes first, so that nothing completes into a library being
// destroyed; blocks it still held stay pending.
Library::~Library() { driver_.reset(); }

void Library::Refresh(std::vector<Adapter> adapters) {
    std::lock_guard<std::mutex> lock(mutex_);
    adapters_ = std::move(adapters);
}

std::uint32_t Library::SupportInfo() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<std::uint32_t>(SS_COMP) << 8 | static_cast<std::uint32_t>(std::min<std::size_t>(adapters_.size(), 255));
}

const Adapter* Library::Find(std::uint8_t ha) const { return ha < adapters_.size() ? &adapters_[ha] : nullptr; }

std::uint32_t Library::HaInquiry(SRB_HAInquiry& srb) const {
    const Adapter* a = Find(srb.SRB_HaId);
    if (a == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    srb.HA_Count = static_cast<std::uint8_t>(std::min<std::size_t>(adapters_.size(), 255));
    srb.HA_SCSI_ID = 7;
    PutText(srb.HA_ManagerId, sizeof srb.HA_ManagerId, "LINUX SG ASPI");
    PutText(srb.HA_Identifier, sizeof srb.HA_Identifier, a->procName.empty() ? "scsi" : a->procName);
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

std::uint32_t Library::Execute(SRB_ExecSCSICmd& srb) {
    std::unique_lock<std::mutex> lock(mutex_);
    const Adapter* a = Find(srb.SRB_HaId);
    if (a == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = kNoStatus;
    const auto t = a->targets.find(srb.SRB_Target);
    if (srb.SRB_Lun != 0 || t == a->targets.end()) return srb.SRB_Status = ApplyError(srb, ENODEV);
    if (driver_) return Submit(lock, srb, t->second.node);
    sg_io_hdr_t io;
    std::uint8_t sense[kSenseLength] = {};
    std::uint8_t refusal = SS_INVALID_SRB;
    if (!Translate(srb, io, sense, &refusal)) return srb.SRB_Status = refusal;
    const int result = ioctl_(t->second.node, io);
    return srb.SRB_Status = result < 0 ? ApplyError(srb, -result) : ApplyResult(srb, io, sense);
}

// The driver is called without the lock: while the caller waits for its own
// request, the completion thread may finish others.
std::uint32_t Library::Submit(std::unique_lock<std::mutex>& lock, SRB_ExecSCSICmd& srb, const std::string& node) {
    std::unique_ptr<Held> held;
    if (spare_.empty()) {
        held = std::make_unique<Held>();
    } else {
        held = std::move(spare_.back());
        spare_.pop_back();
    }
    std::uint8_t refusal = SS_INVALID_SRB;
    if (!Translate(srb, held->io, held->sense, &refusal)) {
        spare_.push_back(std::move(held));
        return srb.SRB_Status = refusal;
    }
    std::memset(held->sense, 0, sizeof held->sense);
    held->srb = &srb;
    held->io.usr_ptr = held.get();
    // Pending and held before the driver has it: the completion may come at
    // once, and finds the block.
    srb.SRB_Status = SS_PENDING;
    Held* const request = held.get();
    held_.push_back(std::move(held));
    const std::string path = node;  // adapters_ may be refreshed meanwhile
    lock.unlock();
    sg_io_hdr_t finished{};
    const int result = driver_->SubmitAndAwait(path, request->io, finished);
    lock.lock();
    if (result == 0) return SS_PENDING;
    const auto it = std::find_if(held_.begin(), held_.end(), [&](const auto& h) { return h.get() == request; });
    spare_.push_back(std::move(*it));
    held_.erase(it);
    const std::uint8_t status = result < 0 ? ApplyError(srb, -result) : ApplyResult(srb, finished, request->sense);
    std::atomic_ref<std::uint8_t>(srb.SRB_Status).store(status, std::memory_order_release);
    return status;
}

std::uint32_t Library::Abort(SRB_Abort& srb) {
    if (Find(srb.SRB_HaId) == nullptr) return srb.SRB_Status = SS_INVALID_HA;
    const bool held = std::any_of(held_.begin(), held_.end(),
                                  [&](const auto& h) { return h->srb == srb.SRB_ToAbort; });
    // The sg driver cannot take a command back: a request it holds stays
    // pending until the kernel returns it, and its block is completed then
    // with its real outcome. A block the library no longer holds has its
    // outcome already; there is nothing left to abort.
    return srb.SRB_Status = held ? SS_ABORT_FAIL : SS_COMP;
}

void Library::Complete(const sg_io_hdr_t& io, int error) {
    bool notify = false;
    int event = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = std::find_if(held_.begin(), held_.end(), [&](const auto& h) { return h.get() == io.usr_ptr; });
        if (it == held_.end()) return;
        std::unique_ptr<Held> held = std::move(*it);
        held_.erase(it);
        SRB_ExecSCSICmd& srb = *held->srb;
        // Read what the signal needs first: once SRB_Status leaves SS_PENDING
        // the program may reuse the block.
        notify = (srb.SRB_Flags & SRB_EVENT_NOTIFY) != 0;
        event = static_cast<int>(reinterpret_cast<std::intptr_t>(srb.SRB_PostProc));
        const std::uint8_t status = error != 0 ? ApplyError(srb, error) : ApplyResult(srb, io, held->sense);
        std::atomic_ref<std::uint8_t>(srb.SRB_Status).store(status, std::memory_order_release);
        spare_.push_back(std::move(held));
    }
    // Signalled outside the lock: the program's next request would otherwise
    // wake only to wait for it.
    if (notify) {
        const std::uint64_t one = 1;
        while (::write(event, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }
}

std::uint32_t Library::Send(void* request) {
    if (request == nullptr) return SS_INVALID_SRB;
    auto* header = static_cast<SRB_Header*>(request);
    if (header->SRB_Cmd == SC_EXEC_SCSI_CMD) return Execute(*static_cast<SRB_ExecSCSICmd*>(request));
    std::lock_guard<std::mutex> lock(mutex_);
    switch (header->SRB_Cmd) {
        case SC_HA_INQUIRY: return HaInquiry(*static_cast<SRB_HAInquiry*>(request));
        case SC_GET_DEV_TYPE: return DevType(*static_cast<SRB_GDEVBlock*>(request));
        case SC_ABORT_SRB: return Abort(*static_cast<SRB_Abort*>(request));
        default: return header->SRB_Status = SS_INVALID_SRB;
    }
}

}  // namespace sgaspi
