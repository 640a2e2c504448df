#include "transport/commands.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>
#include <utility>

#include "transport/aspi.h"
#include "transport/request_block.h"

#ifndef TAMRO_FACTORY_ON_KEY
#error "TAMRO_FACTORY_ON_KEY must be defined by the build"
#endif
#ifndef TAMRO_FACTORY_OFF_KEY
#error "TAMRO_FACTORY_OFF_KEY must be defined by the build"
#endif

namespace tamro {

std::uint8_t microcodeImage[kMicrocodeCapacity];
std::int32_t microcodeLength = 0;

std::shared_ptr<void> TransferArea::GiveUpStorage(bool keepContent) {
    std::shared_ptr<void> lent = storage_;
    // Read back from storage the library may still read, never from storage
    // it may still write.
    storage_ = keepContent ? std::make_shared<std::vector<std::uint8_t>>(*storage_)
                           : std::make_shared<std::vector<std::uint8_t>>(storage_->size());
    return lent;
}

namespace {

static_assert(sizeof(TAMRO_FACTORY_ON_KEY) == 8 && sizeof(TAMRO_FACTORY_OFF_KEY) == 8,
              "factory-mode keywords have seven characters");

enum class Dir : std::uint8_t { None = 0, In = SRB_DIR_IN, Out = SRB_DIR_OUT };
using Step = int (*)(const char*, RequestBlock&);

// The request a command sends; filled in afresh for every issue.
struct Request {
    std::uint8_t ha, id;
    Dir dir;
    std::uint64_t length;
    std::uint8_t* buffer;  // the caller's: the library never sees it
    std::uint8_t cdbLength;
    std::uint8_t cdb[10];
    TransferArea* area = nullptr;  // lent as it is, instead of buffer
};

// The block lent to the library, with the caller's data copied in; for data
// in too, so that bytes the drive does not send keep the caller's values. A
// transfer area holds the caller's values already.
void Fill(const Request& r, RequestBlock& request) {
    SRB_ExecSCSICmd& srb = request.Srb();
    ClearBlock(&srb, sizeof srb);
    srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
    srb.SRB_HaId = r.ha;
    srb.SRB_Target = r.id;
    srb.SRB_Lun = 0;
    srb.SRB_Flags = static_cast<std::uint8_t>(SRB_EVENT_NOTIFY | static_cast<std::uint8_t>(r.dir));
    const bool data = r.dir != Dir::None;
    srb.SRB_BufLen = data ? static_cast<std::uint32_t>(r.length) : 0;
    std::uint8_t* const lent = r.area != nullptr ? r.area->data() : request.Data();
    srb.SRB_BufPointer = data ? lent : nullptr;
    if (data && r.length != 0 && r.area == nullptr) std::memcpy(lent, r.buffer, srb.SRB_BufLen);
    srb.SRB_SenseLen = kSenseLength;
    srb.SRB_CDBLen = r.cdbLength;
    std::memcpy(srb.CDBByte, r.cdb, r.cdbLength);
    platform::CompletionEvent* event = request.Event();
    srb.SRB_PostProc = event != nullptr ? event->Handle() : nullptr;
}

// A command that is not sent. The probe (no label) writes nothing.
int Refuse(const char* label, const char* format) {
    if (label == nullptr) return -1;
    const FailureFields f = CurrentFailureFields();
    std::snprintf(f.lastError, kMessageSize, format, label);
    *f.errorKind = kErrorTransport;
    return -1;
}

// Sends the request and re-issues it while the drive answers unit attention
// (ASC 29h), up to a bound; the probe gives up as a plain CHECK CONDITION,
// since it never writes the slot. Data reaches the caller's buffer only from
// a block that the library has finished with. `sent` says whether the
// request reached the library at all.
int Send(Step step, const char* label, const Request& r, bool* sent = nullptr) {
    if (sent != nullptr) *sent = false;
    if (r.dir != Dir::None && r.length > kTransferCapacity) return Refuse(label, "Error: %s: Invalid Length.");
    if (r.area != nullptr && r.length > r.area->size()) return Refuse(label, "Error: %s: Invalid Length.");
    RequestBlock request;
    if (!request) return Refuse(label, "Error: %s: Not sent, no free request block.");
    if (sent != nullptr) *sent = true;
    int result = 0;
    for (int reissues = 0;; ++reissues) {
        Fill(r, request);
        result = step(label, request);
        if (result != kReissue) break;
        if (reissues == kMaxUnitAttentionReissues) {
            result = label == nullptr ? 1 : ReportPersistentUnitAttention(label, &request.Srb());
            break;
        }
    }
    if (r.area != nullptr) {
        if (request.HeldByLibrary()) request.Keep(r.area->GiveUpStorage(r.dir == Dir::Out));
    } else if (r.dir == Dir::In && r.length != 0 && !request.HeldByLibrary()) {
        std::memcpy(r.buffer, request.Data(), r.length);
    }
    return result;
}

int ProbeStep(const char*, RequestBlock& request) { return ExecScsiCmdProbe(request); }

void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

void PutBe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void PutBe24(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 16);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v);
}

Request Cdb6(std::uint8_t ha, std::uint8_t id, Dir dir, std::uint64_t length, std::uint8_t* buffer,
             std::uint8_t b0, std::uint8_t b1 = 0, std::uint8_t b2 = 0, std::uint8_t b3 = 0,
             std::uint8_t b4 = 0) {
    return Request{ha, id, dir, length, buffer, 6, {b0, b1, b2, b3, b4, 0, 0, 0, 0, 0}};
}

Request Cdb10(std::uint8_t ha, std::uint8_t id, Dir dir, std::uint64_t length, std::uint8_t* buffer,
              std::uint8_t b0, std::uint8_t b1 = 0) {
    return Request{ha, id, dir, length, buffer, 10, {b0, b1, 0, 0, 0, 0, 0, 0, 0, 0}};
}

// Read(10), Write(10) and Verify share one CDB shape: LBA in 2-5, count in 7-8.
Request BlockCdb(std::uint8_t ha, std::uint8_t id, Dir dir, std::uint64_t length, std::uint8_t* buffer,
                 std::uint8_t opcode, std::uint32_t lba, std::uint16_t count) {
    Request r = Cdb10(ha, id, dir, length, buffer, opcode);
    PutBe32(&r.cdb[2], lba);
    PutBe16(&r.cdb[7], count);
    return r;
}

Request FactoryRequest(std::uint8_t ha, std::uint8_t id, int on) {
    const char* key = on == 1 ? TAMRO_FACTORY_ON_KEY : TAMRO_FACTORY_OFF_KEY;
    Request r = Cdb10(ha, id, Dir::None, 0, nullptr, 0xF0);
    for (int i = 0; i < 7; ++i) r.cdb[2 + i] = static_cast<std::uint8_t>(key[i]);
    return r;
}

constexpr char kFactoryOnLabel[] = "Factory Set(10)";
constexpr char kFactoryOffLabel[] = "Factory ReSet(10)";

// What the stop at exit needs to know: the commands in flight and the drives
// whose factory mode was switched on and not yet off. A switch-off that found
// no request block is owed: it goes out before the next command that can be
// sent.
enum class Factory : std::uint8_t { None, On, Off };
using Address = std::pair<std::uint8_t, std::uint8_t>;

struct Traffic {
    std::mutex mutex;
    std::condition_variable settled;
    bool stopRequested = false;
    int inFlight = 0;
    int stopped = 0;
    std::set<Address> factoryOn;
    std::set<Address> resetOwed;

    // A switch-off owed while the library keeps every block cannot be sent
    // by anyone: the exit does not wait for it. Asked after every command, so
    // the lanes are looked at only when a drive is left in factory mode.
    bool SettledLocked() const {
        if (inFlight != 0) return false;
        if (factoryOn.empty()) return true;
        return AnyRequestLaneExhausted() &&
               std::includes(resetOwed.begin(), resetOwed.end(), factoryOn.begin(), factoryOn.end());
    }
};

Traffic& traffic() {
    static Traffic t;
    return t;
}

// The owed switch-offs, on the caller's thread; they write nothing into the
// current slot, which may be another drive's.
void SendOwedResets(std::unique_lock<std::mutex>& lock) {
    Traffic& t = traffic();
    const std::set<Address> owed = t.resetOwed;
    lock.unlock();
    for (const auto& [ha, id] : owed) {
        bool sent = false;
        Send(ProbeStep, nullptr, FactoryRequest(ha, id, 0), &sent);
        if (!sent) continue;
        std::lock_guard relock(t.mutex);
        t.resetOwed.erase({ha, id});
        t.factoryOn.erase({ha, id});
    }
    lock.lock();
}

// The thread that meets the stop request closes the factory mode it left
// open, then waits for the program's end.
[[noreturn]] void StopHere(std::unique_lock<std::mutex> lock) {
    Traffic& t = traffic();
    const auto open = std::exchange(t.factoryOn, {});
    ++t.inFlight;
    lock.unlock();
    for (const auto& [ha, id] : open) Send(ExecScsiCmd, kFactoryOffLabel, FactoryRequest(ha, id, 0));
    lock.lock();
    --t.inFlight;
    ++t.stopped;
    t.settled.notify_all();
    std::condition_variable never;
    for (;;) never.wait(lock);
}

int Issue(Step step, const char* label, const Request& r, Factory factory = Factory::None) {
    Traffic& t = traffic();
    {
        std::unique_lock lock(t.mutex);
        if (t.stopRequested) StopHere(std::move(lock));
        ++t.inFlight;
        if (!t.resetOwed.empty()) SendOwedResets(lock);
        // Counted before it is sent: a switch-on that fails may still have
        // reached the drive, and a spare ReSet does no harm.
        if (factory == Factory::On) t.factoryOn.insert({r.ha, r.id});
    }
    bool sent = false;
    const int result = Send(step, label, r, &sent);
    std::lock_guard lock(t.mutex);
    if (factory == Factory::On && !sent && !t.resetOwed.contains({r.ha, r.id})) t.factoryOn.erase({r.ha, r.id});
    if (factory == Factory::Off) {
        if (sent) {
            t.factoryOn.erase({r.ha, r.id});
            t.resetOwed.erase({r.ha, r.id});
        } else if (t.factoryOn.contains({r.ha, r.id})) {
            t.resetOwed.insert({r.ha, r.id});
        }
    }
    --t.inFlight;
    if (t.SettledLocked()) t.settled.notify_all();
    return result;
}

}  // namespace

int TestUnitReady(std::uint8_t ha, std::uint8_t id) {
    return Issue(ProbeStep, nullptr, Cdb6(ha, id, Dir::None, 0, nullptr, 0x00));
}

int Inquiry6(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer80) {
    return Issue(ExecScsiCmd, "Inquiry(6)", Cdb6(ha, id, Dir::In, 80, buffer80, 0x12, 0, 0, 0, 80));
}

int GetSer10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer12) {
    Request r = Cdb10(ha, id, Dir::In, 12, buffer12, 0xF9, 0x03);
    r.cdb[2] = 0x01;
    return Issue(ExecScsiCmd, "GetSer(10)", r);
}

int StartStopUnit(std::uint8_t ha, std::uint8_t id, std::uint8_t start) {
    return Issue(ExecScsiCmdLong, "Start/Stop Unit", Cdb6(ha, id, Dir::None, 0, nullptr, 0x1B, 0, 0, 0, start));
}

int ReadCapacity10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer8) {
    return Issue(ExecScsiCmd, "Read Capacity", Cdb10(ha, id, Dir::In, 8, buffer8, 0x25));
}

int ReadDefectData10(std::uint8_t ha, std::uint8_t id, std::uint16_t grownList, std::uint8_t* buffer4) {
    Request r = Cdb10(ha, id, Dir::In, 4, buffer4, 0x37);
    r.cdb[2] = grownList != 0 ? 0x0D : 0x15;
    r.cdb[8] = 4;
    return Issue(ExecScsiCmdLong, "ReadDefectData", r);
}

int FactorySet10(std::uint8_t ha, std::uint8_t id, int on) {
    return Issue(ExecScsiCmd, on == 1 ? kFactoryOnLabel : kFactoryOffLabel, FactoryRequest(ha, id, on),
                 on == 1 ? Factory::On : Factory::Off);
}

int GetHsp10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer30) {
    Request r = Cdb10(ha, id, Dir::In, 30, buffer30, 0xF9, 0x02);
    r.cdb[2] = 0x01;
    return Issue(ExecScsiCmd, "GetHsp(10)", r);
}

int GetLog10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer32768) {
    Request r = Cdb10(ha, id, Dir::In, 32768, buffer32768, 0xFD);
    r.cdb[8] = 0x0D;
    return Issue(ExecScsiCmd, "GetLog(10)", r);
}

int WriteSpecial(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer, std::uint16_t cylinder,
                 std::uint8_t head, std::uint16_t sector, std::uint8_t count) {
    Request r = Cdb10(ha, id, Dir::Out, static_cast<std::uint32_t>(count) * 512, buffer, 0xFA);
    PutBe16(&r.cdb[2], cylinder);
    r.cdb[4] = static_cast<std::uint8_t>((head & 0x3F) | ((sector >> 2) & 0xC0));
    r.cdb[5] = static_cast<std::uint8_t>(sector);
    r.cdb[7] = count;
    return Issue(ExecScsiCmdSpecialWrite, "Write Special", r);
}

int Rezero6(std::uint8_t ha, std::uint8_t id) {
    return Issue(ExecScsiCmd, "Rezero(6)", Cdb6(ha, id, Dir::None, 0, nullptr, 0x01));
}

int Seek10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba) {
    Request r = Cdb10(ha, id, Dir::None, 0, nullptr, 0x2B);
    PutBe32(&r.cdb[2], lba);
    return Issue(ExecScsiCmd, "Seek(10)", r);
}

int Read10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
           std::uint16_t count, std::uint8_t* buffer) {
    return Issue(ExecScsiCmd, "Read(10)",
                 BlockCdb(ha, id, Dir::In, std::uint64_t{blockSize} * count, buffer, 0x28, lba, count));
}

int Write10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
            std::uint16_t count, std::uint8_t* buffer) {
    return Issue(ExecScsiCmd, "Write(10)",
                 BlockCdb(ha, id, Dir::Out, std::uint64_t{blockSize} * count, buffer, 0x2A, lba, count));
}

int Read10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
           std::uint16_t count, TransferArea& area) {
    Request r = BlockCdb(ha, id, Dir::In, std::uint64_t{blockSize} * count, nullptr, 0x28, lba, count);
    r.area = &area;
    return Issue(ExecScsiCmd, "Read(10)", r);
}

int Write10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
            std::uint16_t count, TransferArea& area) {
    Request r = BlockCdb(ha, id, Dir::Out, std::uint64_t{blockSize} * count, nullptr, 0x2A, lba, count);
    r.area = &area;
    return Issue(ExecScsiCmd, "Write(10)", r);
}

int Verify10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint16_t count) {
    return Issue(ExecScsiCmd, "Verify", BlockCdb(ha, id, Dir::None, 0, nullptr, 0x2F, lba, count));
}

int ModeSense6(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer, std::uint8_t page,
               std::uint32_t allocationLength) {
    return Issue(ExecScsiCmd, "Mode Sense",
                 Cdb6(ha, id, Dir::In, allocationLength, buffer, 0x1A, 0x08, page, 0,
                      static_cast<std::uint8_t>(allocationLength)));
}

int ModeSelect6(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer, std::uint32_t length) {
    return Issue(ExecScsiCmd, "Mode Select",
                 Cdb6(ha, id, Dir::Out, length, buffer, 0x15, 0x10, 0, 0, static_cast<std::uint8_t>(length)));
}

int WriteBuffer(std::uint8_t ha, std::uint8_t id, std::uint32_t length, std::uint32_t offset) {
    // Never send bytes from beyond the image buffer.
    if (offset > kMicrocodeCapacity || length > kMicrocodeCapacity - offset) {
        return Refuse("Write Buffer", "Error: %s: Invalid Length.");
    }
    Request r = Cdb10(ha, id, Dir::Out, length, microcodeImage + offset, 0x3B, 0x05);
    PutBe24(&r.cdb[3], offset);
    PutBe24(&r.cdb[6], length);
    return Issue(ExecScsiCmdDownload, "Write Buffer", r);
}

void RequestStopAtNextCommand() {
    std::lock_guard lock(traffic().mutex);
    traffic().stopRequested = true;
}

bool StopRequested() {
    std::lock_guard lock(traffic().mutex);
    return traffic().stopRequested;
}

std::chrono::milliseconds SettleBound() {
    const AspiWaits& waits = CurrentAspiWaits();
    const std::uint32_t longest = std::max({waits.standardMs, waits.longMs, waits.downloadMs});
    return std::chrono::milliseconds(longest) + std::chrono::milliseconds(waits.standardMs) +
           2 * std::chrono::milliseconds(waits.abortMs);
}

bool WaitForCommandsToSettle(std::chrono::milliseconds bound) {
    Traffic& t = traffic();
    std::unique_lock lock(t.mutex);
    return t.settled.wait_for(lock, bound, [&t] { return t.SettledLocked(); });
}

bool FactoryResetOwed(std::uint8_t ha, std::uint8_t id) {
    std::lock_guard lock(traffic().mutex);
    return traffic().resetOwed.contains({ha, id});
}

namespace testing {
void ClearStopRequest() {
    std::lock_guard lock(traffic().mutex);
    traffic().stopRequested = false;
}

int StoppedCommandThreads() {
    std::lock_guard lock(traffic().mutex);
    return traffic().stopped;
}

bool FactoryModeLeftOn(std::uint8_t ha, std::uint8_t id) {
    std::lock_guard lock(traffic().mutex);
    return traffic().factoryOn.contains({ha, id});
}
}  // namespace testing

}  // namespace tamro
