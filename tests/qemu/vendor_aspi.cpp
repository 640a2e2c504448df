// A test-only wnaspi32 for the QEMU guest, never installed. QEMU's disks
// refuse the maker's vendor commands and READ DEFECT DATA; this library sits
// in front of the SCSI generic library (sg/libwnaspi32.so beside it) and,
// for disks whose serial number marks them as the maker's, answers those
// commands the way the maker's firmware would, but only after the disk
// itself has refused them: a disk that is gone, stalled or failing still
// fails them with the real stack's own outcome. Every other request is
// forwarded unchanged.
#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "transport/srb.h"

namespace {

constexpr char kMakerSerialPrefix[] = "HC";

constexpr std::uint8_t kReadDefectData = 0x37;
constexpr std::uint8_t kFactorySet = 0xF0;
constexpr std::uint8_t kVendorGet = 0xF9;
constexpr std::uint8_t kGetLog = 0xFD;

constexpr std::size_t kSerLength = 12;
constexpr std::size_t kHspLength = 30;
constexpr std::size_t kLogLength = 32768;
constexpr std::uint16_t kLogGeneration = 0x0100;  // the first layout; no 'S' signature is written
constexpr std::uint16_t kPrimaryDefects = 12;
constexpr std::uint8_t kHeads = 4;

struct Inner {
    GetASPI32SupportInfoFn supportInfo = nullptr;
    SendASPI32CommandFn send = nullptr;
};

// The SCSI generic library in the sg folder beside this one.
const Inner& Library() {
    static const Inner inner = [] {
        Inner in;
        Dl_info self{};
        if (dladdr(reinterpret_cast<void*>(&Library), &self) == 0 || self.dli_fname == nullptr) return in;
        std::string path = self.dli_fname;
        path = path.substr(0, path.find_last_of('/') + 1) + "sg/libwnaspi32.so";
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) return in;
        in.supportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(dlsym(handle, "GetASPI32SupportInfo"));
        in.send = reinterpret_cast<SendASPI32CommandFn>(dlsym(handle, "SendASPI32Command"));
        return in;
    }();
    return inner;
}

// What the library knows of one disk since the last scan began.
struct Disk {
    std::string serial;  // blank-padded to 8 characters; empty: not the maker's
    bool factory = false;
};

std::mutex mutex;
std::map<std::pair<int, int>, Disk> disks;

// A request of this library's own, sent to the inner library and waited for.
// Its block and buffer live on the heap: when the wait gives up they are left
// to the inner library, which may still complete them.
struct OwnRequest {
    SRB_ExecSCSICmd srb{};
    std::unique_ptr<std::uint8_t[]> data;
    int event = -1;
};

std::uint32_t WaitMs(std::uint8_t opcode) { return opcode == kReadDefectData ? 100000 : 10000; }

// Sends `request` and waits for it; false when it did not complete in time
// (the request is then abandoned to the inner library).
bool Run(OwnRequest* request) {
    SRB_ExecSCSICmd& srb = request->srb;
    request->event = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (request->event < 0) {
        srb.SRB_Status = SS_ERR;
        return true;
    }
    srb.SRB_PostProc = reinterpret_cast<void*>(static_cast<std::intptr_t>(request->event));
    if (Library().send(&srb) != SS_PENDING) {
        close(request->event);
        return true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(WaitMs(srb.CDBByte[0]));
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{request->event, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) > 0) break;
    }
    close(request->event);
    return true;
}

// The disk's unit serial number (VPD page 80h), or empty.
std::string ReadSerial(std::uint8_t ha, std::uint8_t target) {
    auto request = std::make_unique<OwnRequest>();
    SRB_ExecSCSICmd& srb = request->srb;
    constexpr std::uint32_t kLength = 64;
    request->data = std::make_unique<std::uint8_t[]>(kLength);
    std::memset(request->data.get(), 0, kLength);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = ha;
    srb.SRB_Target = target;
    srb.SRB_Flags = SRB_DIR_IN | SRB_EVENT_NOTIFY;
    srb.SRB_BufLen = kLength;
    srb.SRB_BufPointer = request->data.get();
    srb.SRB_SenseLen = kSenseLength;
    srb.SRB_CDBLen = 6;
    const std::uint8_t cdb[6] = {0x12, 0x01, 0x80, 0x00, kLength, 0x00};
    std::memcpy(srb.CDBByte, cdb, sizeof cdb);
    if (!Run(request.get())) {
        request.release();  // still held below
        return {};
    }
    if (srb.SRB_HaStat != HASTAT_OK && srb.SRB_HaStat != HASTAT_DO_DU) return {};
    if (srb.SRB_TargStat != STATUS_GOOD) return {};
    const std::uint8_t* page = request->data.get();
    const std::size_t length = std::min<std::size_t>(page[3], kLength - 4);
    std::string serial(reinterpret_cast<const char*>(page + 4), length);
    serial.resize(8, ' ');
    return serial;
}

void PutBe(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) at[i] = static_cast<std::uint8_t>(value);
}

// Completes the caller's block with data of the firmware's own.
std::uint32_t Answer(SRB_ExecSCSICmd& srb, const std::uint8_t* data, std::size_t length) {
    const std::size_t n = std::min<std::size_t>(length, srb.SRB_BufLen);
    if (n > 0 && data != nullptr && srb.SRB_BufPointer != nullptr) std::memcpy(srb.SRB_BufPointer, data, n);
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = STATUS_GOOD;
    return srb.SRB_Status = SS_COMP;
}

std::uint32_t InvalidField(SRB_ExecSCSICmd& srb) {
    std::memset(srb.SenseArea, 0, sizeof srb.SenseArea);
    srb.SenseArea[0] = 0x70;
    srb.SenseArea[2] = 0x05;  // ILLEGAL REQUEST
    srb.SenseArea[7] = 10;
    srb.SenseArea[12] = 0x24;  // INVALID FIELD IN CDB
    srb.SRB_HaStat = HASTAT_OK;
    srb.SRB_TargStat = STATUS_CHKCOND;
    return srb.SRB_Status = SS_ERR;
}

// The maker's firmware: factory mode, serial number, head parameters, the
// log without its signature (so a run takes the path of a drive whose log is
// not supported), and a defect list header.
std::uint32_t Firmware(SRB_ExecSCSICmd& srb, Disk& disk, const std::uint8_t* refused) {
    const std::uint8_t* cdb = srb.CDBByte;
    switch (cdb[0]) {
        case kFactorySet:
            if (std::memcmp(cdb + 2, TAMRO_FACTORY_ON_KEY, 7) == 0) {
                disk.factory = true;
            } else if (std::memcmp(cdb + 2, TAMRO_FACTORY_OFF_KEY, 7) == 0) {
                disk.factory = false;
            } else {
                return InvalidField(srb);
            }
            return Answer(srb, nullptr, 0);
        case kReadDefectData: {
            const bool primary = (cdb[2] & 0x10) != 0;
            std::uint8_t header[4] = {0, static_cast<std::uint8_t>(cdb[2] & 0x1F), 0, 0};
            PutBe(header + 2, primary ? kPrimaryDefects * 8u : 0u, 2);
            return Answer(srb, header, std::min<std::size_t>(sizeof header, (std::size_t{cdb[7]} << 8) | cdb[8]));
        }
        default:
            break;
    }
    // Outside factory mode the firmware does not know the vendor codes: the
    // disk's own refusal stands.
    if (!disk.factory) {
        std::memcpy(srb.SenseArea, refused, sizeof srb.SenseArea);
        srb.SRB_HaStat = HASTAT_OK;
        srb.SRB_TargStat = STATUS_CHKCOND;
        return srb.SRB_Status = SS_ERR;
    }
    if (cdb[0] == kVendorGet && cdb[1] == 0x03 && cdb[2] == 0x01) {
        std::uint8_t ser[kSerLength] = {0, 0, 0, 8};
        std::memcpy(ser + 4, disk.serial.data(), 8);
        return Answer(srb, ser, sizeof ser);
    }
    if (cdb[0] == kVendorGet && cdb[1] == 0x02 && cdb[2] == 0x01) {
        std::uint8_t hsp[kHspLength] = {};
        PutBe(hsp, 1000, 2);  // cylinders
        PutBe(hsp + 2, 200, 2);
        PutBe(hsp + 4, 512, 2);
        hsp[8] = kHeads - 1;
        return Answer(srb, hsp, sizeof hsp);
    }
    if (cdb[0] == kGetLog) {
        static const auto log = [] {
            auto data = std::make_unique<std::uint8_t[]>(kLogLength);
            std::memset(data.get(), 0, kLogLength);
            PutBe(data.get() + 6, kLogGeneration, 2);
            return data;
        }();
        return Answer(srb, log.get(), kLogLength);
    }
    return InvalidField(srb);
}

bool Intercepted(std::uint8_t opcode) {
    return opcode == kReadDefectData || opcode == kFactorySet || opcode == kVendorGet || opcode == kGetLog;
}

// The disk answers first; only its refusal (ILLEGAL REQUEST) of a command
// the maker's firmware knows is replaced by the firmware's answer.
std::uint32_t Execute(SRB_ExecSCSICmd& srb) {
    auto request = std::make_unique<OwnRequest>();
    request->srb = srb;
    if (srb.SRB_BufLen > 0) {
        request->data = std::make_unique<std::uint8_t[]>(srb.SRB_BufLen);
        std::memset(request->data.get(), 0, srb.SRB_BufLen);
        request->srb.SRB_BufPointer = request->data.get();
    }
    if (!Run(request.get())) {
        request.release();  // the inner library still holds it
        srb.SRB_HaStat = HASTAT_COMMAND_TIMEOUT;
        srb.SRB_TargStat = STATUS_GOOD;
        return srb.SRB_Status = SS_ERR;
    }
    const SRB_ExecSCSICmd& done = request->srb;
    const bool refused = done.SRB_HaStat == HASTAT_OK && done.SRB_TargStat == STATUS_CHKCOND &&
                         (done.SenseArea[2] & 0x0F) == 0x05;
    if (refused) {
        std::lock_guard<std::mutex> lock(mutex);
        Disk& disk = disks[{srb.SRB_HaId, srb.SRB_Target}];
        if (disk.serial.empty()) disk.serial = ReadSerial(srb.SRB_HaId, srb.SRB_Target);
        if (disk.serial.rfind(kMakerSerialPrefix, 0) == 0) return Firmware(srb, disk, done.SenseArea);
    }
    if (srb.SRB_BufLen > 0 && srb.SRB_BufPointer != nullptr)
        std::memcpy(srb.SRB_BufPointer, request->data.get(), srb.SRB_BufLen);
    std::memcpy(srb.SenseArea, done.SenseArea, sizeof srb.SenseArea);
    srb.SRB_HaStat = done.SRB_HaStat;
    srb.SRB_TargStat = done.SRB_TargStat;
    return srb.SRB_Status = done.SRB_Status;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) std::uint32_t GetASPI32SupportInfo() {
    if (Library().supportInfo == nullptr) return 0;
    {
        // A new scan: the disks may have changed.
        std::lock_guard<std::mutex> lock(mutex);
        disks.clear();
    }
    return Library().supportInfo();
}

extern "C" __attribute__((visibility("default"))) std::uint32_t SendASPI32Command(void* request) {
    if (Library().send == nullptr) return SS_INVALID_HA;
    auto* header = static_cast<SRB_Header*>(request);
    if (header == nullptr || header->SRB_Cmd != SC_EXEC_SCSI_CMD) return Library().send(request);
    auto& srb = *static_cast<SRB_ExecSCSICmd*>(request);
    if (!Intercepted(srb.CDBByte[0])) return Library().send(request);
    return Execute(srb);
}
