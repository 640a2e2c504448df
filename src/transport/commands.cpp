#include "transport/commands.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <thread>
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

using Clock = std::chrono::steady_clock;
using Address = std::pair<std::uint8_t, std::uint8_t>;

// A command in flight: its drive, its name, and when its wait, then the
// abort of a request given up, have ended at the latest.
struct Flight {
    Address drive;
    std::string_view label;
    Clock::time_point deadline;
};

// A drive whose factory mode was switched on and not yet off. At a stop only
// the thread that switched it on switches it off: another thread's Set may
// still be in flight. A switch-off that found no request block is owed: it
// goes out before the next command that any thread can send.
struct FactoryMode {
    std::thread::id owner;
    bool setInFlight = false;    // no switch-off goes out until it is back
    bool resetOwed = false;
    bool resetGoingOut = false;  // a switch-off on its way: no Set goes out meanwhile
};

// What the stop at exit needs to know: the commands in flight and the drives
// left in factory mode.
struct Traffic {
    std::mutex mutex;
    std::condition_variable settled;
    bool stopRequested = false;
    int stopped = 0;
    std::list<Flight> flights;
    std::map<Address, FactoryMode> factory;
    // Drives whose last switch-off was sent and failed: they may still be in
    // factory mode. Nobody sends it again for that; the next one that
    // succeeds clears it.
    std::set<Address> resetFailed;

    void ResetAnswered(Address drive, bool succeeded) {
        if (succeeded)
            resetFailed.erase(drive);
        else
            resetFailed.insert(drive);
    }

    // A switch-off owed while the library keeps every block cannot be sent
    // by anyone: the exit does not wait for it. Asked after every command, so
    // the lanes are looked at only when a drive is left in factory mode.
    bool SettledLocked() const {
        if (!flights.empty()) return false;
        if (factory.empty()) return true;
        return AnyRequestLaneExhausted() &&
               std::all_of(factory.begin(), factory.end(), [](const auto& f) { return f.second.resetOwed; });
    }
};

// Never destroyed: a worker may still be stopping while the program ends.
Traffic& traffic() {
    static Traffic* const t = new Traffic;
    return *t;
}

// The longest a request of this step may take: its wait, then the abort.
Clock::duration Longest(Step step) {
    const AspiWaits& waits = CurrentAspiWaits();
    const std::uint32_t wait = step == ExecScsiCmdLong       ? waits.longMs
                               : step == ExecScsiCmdDownload ? waits.downloadMs
                                                             : waits.standardMs;
    return std::chrono::milliseconds(wait) + std::chrono::milliseconds(waits.abortMs);
}

// Records a command in flight (the traffic's lock held).
std::list<Flight>::iterator Depart(Address drive, std::string_view label, Step step) {
    Traffic& t = traffic();
    return t.flights.insert(t.flights.end(), Flight{drive, label, Clock::now() + Longest(step)});
}

// Sends the request and re-issues it while the drive answers unit attention
// (ASC 29h), up to a bound; the probe gives up as a plain CHECK CONDITION,
// since it never writes the slot. Data reaches the caller's buffer only from
// a block that the library has finished with. `sent` says whether the
// request reached the library at all. Each re-issue starts the flight's
// clock again.
int Send(Step step, const char* label, const Request& r, Flight& flight, bool* sent) {
    *sent = false;
    if (r.dir != Dir::None && r.length > kTransferCapacity) return Refuse(label, "Error: %s: Invalid Length.");
    if (r.area != nullptr && r.length > r.area->size()) return Refuse(label, "Error: %s: Invalid Length.");
    RequestBlock request;
    if (!request) return Refuse(label, "Error: %s: Not sent, no free request block.");
    *sent = true;
    int result = 0;
    for (int reissues = 0;; ++reissues) {
        Fill(r, request);
        result = step(label, request);
        if (result != kReissue) break;
        if (reissues == kMaxUnitAttentionReissues) {
            result = label == nullptr ? 1 : ReportPersistentUnitAttention(label, &request.Srb());
            break;
        }
        std::lock_guard lock(traffic().mutex);
        flight.deadline = Clock::now() + Longest(step);
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

constexpr char kProbeLabel[] = "Test Unit Ready";

enum class Factory : std::uint8_t { None, On, Off };

// Sends the switch-offs of the drives that `pick` chooses, on the caller's
// thread, none while the drive's Set or another switch-off is in flight.
// They write nothing into the current slot, which may be another drive's;
// one that finds no request block is owed, one that fails is only noted.
template <class Pick>
void SendResets(std::unique_lock<std::mutex>& lock, Pick pick) {
    Traffic& t = traffic();
    std::vector<Address> claimed;
    for (auto& [drive, mode] : t.factory) {
        if (mode.setInFlight || mode.resetGoingOut || !pick(mode)) continue;
        mode.resetGoingOut = true;
        claimed.push_back(drive);
    }
    for (const Address& drive : claimed) {
        const auto flight = Depart(drive, kFactoryOffLabel, ProbeStep);
        lock.unlock();
        bool sent = false;
        const int result = Send(ProbeStep, nullptr, FactoryRequest(drive.first, drive.second, 0), *flight, &sent);
        lock.lock();
        t.flights.erase(flight);
        if (sent) t.ResetAnswered(drive, result == 0);
        const auto mode = t.factory.find(drive);
        if (mode == t.factory.end()) continue;
        mode->second.resetGoingOut = false;
        if (sent)
            t.factory.erase(mode);
        else
            mode->second.resetOwed = true;
    }
    if (!claimed.empty()) t.settled.notify_all();
}

bool Owed(const FactoryMode& mode) { return mode.resetOwed; }

// The thread that meets the stop request switches off what it switched on
// (its own Sets are all back: a thread sends one command at a time) and what
// is owed, then unwinds to its entry point.
[[noreturn]] void StopHere(std::unique_lock<std::mutex>& lock) {
    const std::thread::id self = std::this_thread::get_id();
    SendResets(lock, [self](const FactoryMode& mode) { return mode.owner == self || mode.resetOwed; });
    Traffic& t = traffic();
    ++t.stopped;
    t.settled.notify_all();
    throw CommandsStopped{};
}

// A thread that ends with a drive it switched on still in factory mode
// (none of the program's paths does) switches it off on its way out.
struct ClosedAtThreadEnd {
    bool armed = false;
    ~ClosedAtThreadEnd() {
        if (!armed) return;
        std::unique_lock lock(traffic().mutex);
        SendResets(lock, [self = std::this_thread::get_id()](const FactoryMode& mode) { return mode.owner == self; });
    }
};
thread_local ClosedAtThreadEnd closedAtThreadEnd;

// How a Set or a ReSet that has come back changes the drive's record.
void Switched(Factory factory, Address drive, bool sent, bool succeeded, bool wasOn) {
    Traffic& t = traffic();
    if (factory == Factory::Off && sent) t.ResetAnswered(drive, succeeded);
    const auto mode = t.factory.find(drive);
    if (mode == t.factory.end()) return;
    FactoryMode& m = mode->second;
    if (factory == Factory::On) {
        m.setInFlight = false;
        if (sent) {
            // This thread switches it off again, whatever was owed before.
            m.owner = std::this_thread::get_id();
            m.resetOwed = false;
        } else if (!wasOn) {
            t.factory.erase(mode);
        }
    } else if (!m.setInFlight) {
        if (sent)
            t.factory.erase(mode);
        else
            m.resetOwed = true;
    }
}

int Issue(Step step, const char* label, const Request& r, Factory factory = Factory::None) {
    Traffic& t = traffic();
    const Address drive{r.ha, r.id};
    std::unique_lock lock(t.mutex);
    SendResets(lock, Owed);
    if (factory == Factory::On) {
        t.settled.wait(lock, [&] {
            const auto mode = t.factory.find(drive);
            return mode == t.factory.end() || !mode->second.resetGoingOut;
        });
    }
    // Also a stop asked while the lock was let go above.
    if (t.stopRequested) StopHere(lock);
    bool wasOn = false;
    if (factory == Factory::On) {
        // Counted before it is sent: a switch-on that fails may still have
        // reached the drive, and a spare ReSet does no harm.
        wasOn = t.factory.contains(drive);
        t.factory[drive].setInFlight = true;
        closedAtThreadEnd.armed = true;
    }
    const auto flight = Depart(drive, label != nullptr ? label : kProbeLabel, step);
    lock.unlock();
    bool sent = false;
    const int result = Send(step, label, r, *flight, &sent);
    lock.lock();
    t.flights.erase(flight);
    if (factory != Factory::None) Switched(factory, drive, sent, result == 0, wasOn);
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

std::vector<CommandInFlight> CommandsInFlight() {
    Traffic& t = traffic();
    std::lock_guard lock(t.mutex);
    const Clock::time_point now = Clock::now();
    std::vector<CommandInFlight> out;
    out.reserve(t.flights.size());
    for (const Flight& f : t.flights) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(f.deadline - now);
        out.push_back({f.drive.first, f.drive.second, f.label, std::max(left, std::chrono::milliseconds(0))});
    }
    return out;
}

bool WaitForCommandsToSettle(std::chrono::milliseconds bound) {
    Traffic& t = traffic();
    std::unique_lock lock(t.mutex);
    return t.settled.wait_for(lock, bound, [&t] { return t.SettledLocked(); });
}

bool FactoryResetOwed(std::uint8_t ha, std::uint8_t id) {
    Traffic& t = traffic();
    std::lock_guard lock(t.mutex);
    const auto mode = t.factory.find({ha, id});
    return mode != t.factory.end() && mode->second.resetOwed;
}

bool FactoryModeMayBeOn(std::uint8_t ha, std::uint8_t id) {
    Traffic& t = traffic();
    std::lock_guard lock(t.mutex);
    const auto mode = t.factory.find({ha, id});
    return (mode != t.factory.end() && mode->second.resetOwed) || t.resetFailed.contains({ha, id});
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
    return traffic().factory.contains({ha, id});
}
}  // namespace testing

}  // namespace tamro
