// The two ASPI entry points, and how a SCSI request completes: checked,
// traced, then either carried out at once or handed to its target's worker
// thread, which finishes the block and signals the caller's event (a Win32
// event on Windows, an eventfd on Linux). A request that completes late, or
// never, stays with that worker until it is due or aborted. Each target has
// a worker of its own, so that targets are served side by side, as drives
// that disconnect while they work share a real bus.
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <optional>
#include <thread>
#include <variant>

#include "sim_internal.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

struct Job {
    SRB_ExecSCSICmd* srb;
    unsigned service_us;
    Clock::time_point sent;
};

// A request carried out but not yet completed: it completes when due (never,
// for one that never completes), or when it is aborted. A stray one was
// aborted already and completes all the same, into the buffer and with the
// event it was sent with, whatever the block holds by then.
struct Held {
    SRB_ExecSCSICmd* srb;
    Clock::time_point due;
    Outcome outcome;
    std::uint8_t opcode = 0;  // as sent: a stray one's block may hold another by now
    void* buf = nullptr;
    void* event = nullptr;
    bool stray = false;
};

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Completion is announced the way the platform's ASPI does it: SetEvent on
// Windows, a write of 1 to the eventfd on Linux.
void signal_event(void* event) {
#ifdef _WIN32
    SetEvent(static_cast<HANDLE>(event));
#else
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(event));
    const std::uint64_t one = 1;
    while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
#endif
}

// Writes the outcome into the block, SRB_Status last: from then on the
// caller may reuse the block, so whether to signal is read before. A held
// request counts as held (in_hand) until its status is written.
void finish_into(SRB_ExecSCSICmd* srb, const Outcome& o, bool notify, void* buf, void* event,
                 std::atomic<std::size_t>* in_hand = nullptr) {
    if (notify && o.signal_first_us != 0) {
        signal_event(event);
        std::this_thread::sleep_for(std::chrono::microseconds(o.signal_first_us));
        notify = false;
    }
    srb->SRB_HaStat = o.ha_stat;
    srb->SRB_TargStat = o.targ_stat;
    if (o.has_sense) {
        const std::size_t n = std::min<std::size_t>(srb->SRB_SenseLen, sizeof srb->SenseArea);
        std::memset(srb->SenseArea, 0, n);
        std::memcpy(srb->SenseArea, o.sense.data(), std::min(n, kSenseLength));
    }
    if (!o.data.empty() && buf) std::memcpy(buf, o.data.data(), o.data.size());
    std::atomic_ref<std::uint8_t>(srb->SRB_Status).store(o.srb_status, std::memory_order_release);
    if (in_hand) in_hand->fetch_sub(1, std::memory_order_release);
    if (notify) signal_event(event);
}

void finish(SRB_ExecSCSICmd* srb, const Outcome& o, bool may_signal,
            std::atomic<std::size_t>* in_hand = nullptr) {
    const bool notify = may_signal && (srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0;
    finish_into(srb, o, notify, srb->SRB_BufPointer, srb->SRB_PostProc, in_hand);
}

void finish(const Held& h, std::atomic<std::size_t>& in_hand) {
    if (!h.stray) return finish(h.srb, h.outcome, true, &in_hand);
    finish_into(h.srb, h.outcome, h.event != nullptr, h.buf, h.event, &in_hand);
}

enum class Abort { aborted, refused, not_held };

// Single consumer queue on a ring that only grows, so steady traffic does
// not allocate; beside it the requests held for a late completion.
class Worker {
public:
    Worker() : ring_(64), thread_([this] { run(); }) { thread_.detach(); }

    void submit(const Job& job) {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            if (size_ == ring_.size()) grow();
            ring_[(head_ + size_) % ring_.size()] = job;
            ++size_;
            queued_.store(size_, std::memory_order_release);
            wake = sleeping_;
        }
        if (wake) cv_.notify_one();
    }

    void hold(Held h) {
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            held_.push_back(std::move(h));
            note_next_due();
            wake = sleeping_;
        }
        if (wake) cv_.notify_one();
    }

    // A request still queued, or held after it was carried out, ends now
    // with SS_ABORTED; one being carried out right now just completes.
    Abort abort(const void* srb) {
        SRB_ExecSCSICmd* target = nullptr;
        bool wake = false;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = std::find_if(held_.begin(), held_.end(),
                                   [srb](const Held& x) { return x.srb == srb && !x.stray; });
            if (it != held_.end()) {
                if (it->outcome.abort_fails) return Abort::refused;
                target = it->srb;
                if (it->outcome.completes_again_ms != 0) {
                    it->stray = true;
                    it->due = Clock::now() + std::chrono::milliseconds(it->outcome.completes_again_ms);
                    it->buf = target->SRB_BufPointer;
                    it->event = (target->SRB_Flags & SRB_EVENT_NOTIFY) ? target->SRB_PostProc : nullptr;
                    wake = sleeping_;
                } else {
                    held_.erase(it);
                }
                note_next_due();
            } else if (!(target = unqueue(srb))) {
                return Abort::not_held;
            }
        }
        if (wake) cv_.notify_one();
        Outcome aborted;
        aborted.srb_status = SS_ABORTED;
        finish(target, aborted, true);
        return Abort::aborted;
    }

    void forget_held() {
        std::lock_guard<std::mutex> lock(mu_);
        held_.clear();
        note_next_due();
    }

    // The late request held longest (with that operation code, or any for
    // -1) completes now, on the caller's thread.
    bool release_late(int opcode) {
        std::optional<Held> h;
        {
            std::lock_guard<std::mutex> lock(mu_);
            auto it = std::find_if(held_.begin(), held_.end(), [opcode](const Held& x) {
                return (x.stray || x.outcome.complete) && (opcode < 0 || x.opcode == opcode);
            });
            if (it == held_.end()) return false;
            h = std::move(*it);
            held_.erase(it);
            note_next_due();
            ++finishing_;
        }
        finish(*h, finishing_);
        return true;
    }

    // Held ones, and those taken out to complete whose status is not written.
    std::size_t held_count() {
        std::lock_guard<std::mutex> lock(mu_);
        return held_.size() + finishing_.load(std::memory_order_acquire);
    }

private:
    // A client that waits for each completion sends its next request within
    // microseconds; spinning that long saves a futex round trip.
    static constexpr std::chrono::microseconds kSpin{100};
    using Work = std::variant<Job, Held>;

    void grow() {
        std::vector<Job> bigger(ring_.size() * 2);
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = ring_[(head_ + i) % ring_.size()];
        ring_.swap(bigger);
        head_ = 0;
    }

    // Takes a queued job out of the ring (mu_ held).
    SRB_ExecSCSICmd* unqueue(const void* srb) {
        for (std::size_t i = 0; i < size_; ++i) {
            if (ring_[(head_ + i) % ring_.size()].srb != srb) continue;
            SRB_ExecSCSICmd* found = ring_[(head_ + i) % ring_.size()].srb;
            for (std::size_t j = i; j + 1 < size_; ++j)
                ring_[(head_ + j) % ring_.size()] = ring_[(head_ + j + 1) % ring_.size()];
            --size_;
            queued_.store(size_, std::memory_order_relaxed);
            return found;
        }
        return nullptr;
    }

    void note_next_due() {
        Clock::time_point next = Clock::time_point::max();
        for (const Held& h : held_) next = std::min(next, h.due);
        next_due_.store(next.time_since_epoch().count(), std::memory_order_relaxed);
    }

    bool due(Clock::time_point now) const {
        return next_due_.load(std::memory_order_relaxed) <= now.time_since_epoch().count();
    }

    // Spinning pays only while a core is free for it: with more targets at
    // work than spare cores, a spin takes the time of the very threads that
    // would send the next request, and the worker waits on its condition.
    static std::atomic<int>& awake() {
        static std::atomic<int> count{0};  // workers not waiting on their condition
        return count;
    }
    static bool spin_pays() {
        static const int spare = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
        return awake().load(std::memory_order_relaxed) <= spare;
    }

    Work next() {
        // try_lock while spinning: blocking on a producer that still holds
        // the lock would cost a futex sleep and wake-up per request.
        const auto until = spin_pays() ? Clock::now() + kSpin : Clock::now();
        Clock::time_point now;
        do {
            now = Clock::now();
            if ((queued_.load(std::memory_order_acquire) != 0 || due(now)) && mu_.try_lock()) {
                std::lock_guard<std::mutex> lock(mu_, std::adopt_lock);
                if (auto w = take(now)) return std::move(*w);
            }
            cpu_relax();
        } while (now < until);
        std::unique_lock<std::mutex> lock(mu_);
        for (;;) {
            if (auto w = take(Clock::now())) return std::move(*w);
            sleeping_ = true;
            awake().fetch_sub(1, std::memory_order_relaxed);
            const Clock::time_point next{Clock::duration{next_due_.load(std::memory_order_relaxed)}};
            if (next == Clock::time_point::max())
                cv_.wait(lock);
            else
                cv_.wait_until(lock, next);
            awake().fetch_add(1, std::memory_order_relaxed);
            sleeping_ = false;
        }
    }

    // A held request that is due first, else the oldest job (mu_ held).
    std::optional<Work> take(Clock::time_point now) {
        auto it = std::find_if(held_.begin(), held_.end(), [now](const Held& h) { return h.due <= now; });
        if (it != held_.end()) {
            Held h = std::move(*it);
            held_.erase(it);
            note_next_due();
            ++finishing_;
            return Work{std::move(h)};
        }
        if (size_ == 0) return std::nullopt;
        const Job job = ring_[head_];
        head_ = (head_ + 1) % ring_.size();
        --size_;
        queued_.store(size_, std::memory_order_relaxed);
        return Work{job};
    }

    void serve(const Job& job);
    void run();

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Job> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::atomic<std::size_t> queued_{0};
    std::vector<Held> held_;
    std::atomic<std::size_t> finishing_{0};
    std::atomic<Clock::rep> next_due_{Clock::time_point::max().time_since_epoch().count()};
    bool sleeping_ = false;
    Clock::time_point served_{};  // when the last request's service ended; the worker's own
    std::thread thread_;
};

// The worker of each target that has had a request, made on first use and,
// like the state, never destroyed (see state()). Targets past the last slot
// hold no device and only time out: they share one worker per adapter, so
// that IDs up to 255 do not start a thread each.
class Workers {
public:
    Worker& of(int ha, int target) {
        auto& lane = lanes_[static_cast<std::size_t>(ha * kPerAdapter + std::min(target, kMaxTargets))];
        if (Worker* w = lane.load(std::memory_order_acquire)) return *w;
        std::lock_guard<std::mutex> lock(mu_);
        Worker* w = lane.load(std::memory_order_relaxed);
        if (!w) {
            w = new Worker;
            lane.store(w, std::memory_order_release);
        }
        return *w;
    }

    // A request stays with the worker it was handed to, so asking each in
    // turn finds it wherever it is.
    Abort abort(const void* srb) {
        for (auto& lane : lanes_) {
            Worker* w = lane.load(std::memory_order_acquire);
            const Abort a = w ? w->abort(srb) : Abort::not_held;
            if (a != Abort::not_held) return a;
        }
        return Abort::not_held;
    }

    void forget_held() {
        for (auto& lane : lanes_)
            if (Worker* w = lane.load(std::memory_order_acquire)) w->forget_held();
    }

    // The worker of a target that holds a device, if it has had a request.
    Worker* find(int ha, int target) {
        if (ha < 0 || ha >= kMaxAdapters || target < 0 || target >= kMaxTargets) return nullptr;
        return lanes_[static_cast<std::size_t>(ha * kPerAdapter + target)].load(std::memory_order_acquire);
    }

private:
    static constexpr int kPerAdapter = kMaxTargets + 1;
    std::mutex mu_;
    std::array<std::atomic<Worker*>, kMaxAdapters * kPerAdapter> lanes_{};
};

Workers& workers() {
    static Workers* const w = new Workers;
    return *w;
}

Worker& worker_of(const SRB_ExecSCSICmd* srb) { return workers().of(srb->SRB_HaId, srb->SRB_Target); }

void record(State& s, const SRB_ExecSCSICmd* srb) {
    SimTraceEntry e{};
    e.ha = srb->SRB_HaId;
    e.target = srb->SRB_Target;
    e.lun = srb->SRB_Lun;
    e.flags = srb->SRB_Flags;
    e.cdb_len = srb->SRB_CDBLen;
    e.sense_len = srb->SRB_SenseLen;
    std::memcpy(e.cdb, srb->CDBByte, sizeof e.cdb);
    e.buf_len = srb->SRB_BufLen;
    e.buf = srb->SRB_BufPointer;
    e.post_proc = srb->SRB_PostProc;
    if (s.trace.size() < kTraceCapacity) {
        s.trace.push_back(e);
    } else {
        s.trace[s.trace_next] = e;
        s.trace_next = (s.trace_next + 1) % kTraceCapacity;
        ++s.trace_dropped;
    }
}

bool srb_valid(const SRB_ExecSCSICmd* srb) {
    if (srb->SRB_BufLen > 0 && !srb->SRB_BufPointer) return false;
    if (srb->SRB_CDBLen == 0 || srb->SRB_CDBLen > sizeof srb->CDBByte) return false;
    const std::uint8_t op = srb->CDBByte[0];
    if (srb->SRB_CDBLen < cdb_length_for(op)) return false;
    const Direction dir = data_direction(op);
    if (dir == Direction::in && (srb->SRB_Flags & SRB_DIR_OUT)) return false;
    if (dir == Direction::out && (srb->SRB_Flags & SRB_DIR_IN)) return false;
    return true;
}

// What the request comes to; the block is not written yet.
Outcome carry_out(SRB_ExecSCSICmd* srb) {
    State& s = state();
    Outcome o;
    std::lock_guard<std::mutex> lock(s.mu);
    Device* d = nullptr;
    if (!usable_adapter(s, srb->SRB_HaId)) {
        o.srb_status = SS_INVALID_HA;  // the bus changed while it was queued
    } else if (!srb_valid(srb)) {
        o.srb_status = SS_INVALID_SRB;
    } else if (srb->SRB_BufLen > kMaxTransfer) {
        o.srb_status = SS_BUFFER_TO_BIG;
    } else if ((d = find_device(s, srb->SRB_HaId, srb->SRB_Target)) == nullptr) {
        o.srb_status = SS_ERR;
        o.ha_stat = HASTAT_SEL_TO;
    } else {
        const Command c{srb->CDBByte, srb->SRB_Lun, srb->SRB_BufPointer, srb->SRB_BufLen};
        o = run_command(*d, c);
    }
    return o;
}

// A request that is not to complete now goes to its target's worker to wait.
bool held(SRB_ExecSCSICmd* srb, Outcome& o, Clock::time_point sent) {
    if (o.complete && o.delay_ms == 0) return false;
    const Clock::time_point due =
        o.complete ? sent + std::chrono::milliseconds(o.delay_ms) : Clock::time_point::max();
    worker_of(srb).hold(Held{srb, due, std::move(o), srb->CDBByte[0]});
    return true;
}

void service(unsigned us) {
    if (us) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void Worker::serve(const Job& job) {
    // The drive starts on a request when it arrives, or when it is done with
    // the one before: a worker that got the processor late has already
    // spent that much of the service time, and sleeps only for the rest.
    if (job.service_us != 0) {
        const Clock::time_point done = std::max(job.sent, served_) + std::chrono::microseconds(job.service_us);
        if (done > Clock::now()) std::this_thread::sleep_until(done);
        served_ = done;
    }
    Outcome o = carry_out(job.srb);
    if (!held(job.srb, o, job.sent)) finish(job.srb, o, true);
}

void Worker::run() {
    awake().fetch_add(1, std::memory_order_relaxed);
    for (;;) {
        Work w = next();
        if (const Job* job = std::get_if<Job>(&w))
            serve(*job);
        else
            finish(std::get<Held>(w), finishing_);
    }
}

std::uint32_t exec_request(SRB_ExecSCSICmd* srb) {
    const Clock::time_point sent = Clock::now();
    State& s = state();
    unsigned us = 0;
    int mode = SIM_COMPLETE_ASYNC;
    {
        std::lock_guard<std::mutex> lock(s.mu);
        record(s, srb);
        if (!usable_adapter(s, srb->SRB_HaId)) {
            srb->SRB_Status = SS_INVALID_HA;
            return SS_INVALID_HA;
        }
        us = s.service_us;
        mode = s.completion;
    }
    srb->SRB_Status = SS_PENDING;
    if (mode == SIM_COMPLETE_IMMEDIATE) {
        service(us);
        Outcome o = carry_out(srb);
        if (held(srb, o, sent)) return SS_PENDING;
        finish(srb, o, false);  // done inside the call: no event
        return o.srb_status;
    }
    worker_of(srb).submit(Job{srb, us, sent});
    return SS_PENDING;
}

std::uint32_t abort_request(SRB_Abort* request) {
    State& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mu);
        if (!usable_adapter(s, request->SRB_HaId)) {
            request->SRB_Status = SS_INVALID_HA;
            return SS_INVALID_HA;
        }
    }
    const std::uint8_t status = workers().abort(request->SRB_ToAbort) == Abort::aborted ? SS_COMP : SS_ABORT_FAIL;
    request->SRB_Status = status;
    return status;
}

}  // namespace

void forget_held_requests() { workers().forget_held(); }

bool release_late_request(int ha, int target, int opcode) {
    Worker* w = workers().find(ha, target);
    return w != nullptr && w->release_late(opcode);
}

std::size_t held_requests(int ha, int target) {
    Worker* w = workers().find(ha, target);
    return w ? w->held_count() : 0;
}

}  // namespace sim

extern "C" SIM_EXPORT std::uint32_t GetASPI32SupportInfo(void) {
    sim::State& s = sim::state();
    std::lock_guard<std::mutex> lock(s.mu);
    return (static_cast<std::uint32_t>(s.support_status & 0xFF) << 8) |
           static_cast<std::uint32_t>(s.adapters.size());
}

extern "C" SIM_EXPORT std::uint32_t SendASPI32Command(void* request) {
    if (!request) return SS_INVALID_SRB;
    sim::State& s = sim::state();
    // Only the command byte is common to all blocks; read it as a byte.
    switch (static_cast<const std::uint8_t*>(request)[0]) {
    case SC_HA_INQUIRY: {
        std::lock_guard<std::mutex> lock(s.mu);
        return sim::ha_inquiry(s, static_cast<SRB_HAInquiry*>(request));
    }
    case SC_GET_DEV_TYPE: {
        std::lock_guard<std::mutex> lock(s.mu);
        return sim::get_dev_type(s, static_cast<SRB_GDEVBlock*>(request));
    }
    case SC_EXEC_SCSI_CMD: return sim::exec_request(static_cast<SRB_ExecSCSICmd*>(request));
    case SC_ABORT_SRB: return sim::abort_request(static_cast<SRB_Abort*>(request));
    default: static_cast<SRB_Header*>(request)->SRB_Status = SS_INVALID_SRB; return SS_INVALID_SRB;
    }
}
