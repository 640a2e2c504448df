// The two ASPI entry points, and how a SCSI request completes: checked,
// traced, then either carried out at once or handed to the one worker
// thread, which finishes the block and signals the caller's eventfd.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "sim_internal.h"

namespace sim {
namespace {

struct Job {
    SRB_ExecSCSICmd* srb;
    unsigned service_us;
};

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// Single consumer queue on a ring that only grows, so steady traffic does
// not allocate.
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

private:
    // A client that waits for each completion sends its next request within
    // microseconds; spinning that long saves a futex round trip.
    static constexpr std::chrono::microseconds kSpin{100};

    void grow() {
        std::vector<Job> bigger(ring_.size() * 2);
        for (std::size_t i = 0; i < size_; ++i) bigger[i] = ring_[(head_ + i) % ring_.size()];
        ring_.swap(bigger);
        head_ = 0;
    }

    Job pop() {
        // try_lock while spinning: blocking on a producer that still holds
        // the lock would cost a futex sleep and wake-up per request.
        const auto until = std::chrono::steady_clock::now() + kSpin;
        do {
            if (queued_.load(std::memory_order_acquire) != 0 && mu_.try_lock()) {
                std::lock_guard<std::mutex> lock(mu_, std::adopt_lock);
                if (size_ != 0) return take();
            }
            cpu_relax();
        } while (std::chrono::steady_clock::now() < until);
        std::unique_lock<std::mutex> lock(mu_);
        while (size_ == 0) {
            sleeping_ = true;
            cv_.wait(lock);
            sleeping_ = false;
        }
        return take();
    }

    Job take() {
        const Job job = ring_[head_];
        head_ = (head_ + 1) % ring_.size();
        --size_;
        queued_.store(size_, std::memory_order_relaxed);
        return job;
    }

    void run();

    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Job> ring_;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
    std::atomic<std::size_t> queued_{0};
    bool sleeping_ = false;
    std::thread thread_;
};

// Never destroyed, like the state: see state().
Worker& worker() {
    static Worker* const w = new Worker;
    return *w;
}

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

// Fills the block except SRB_Status and returns the status to set; false
// when the request is to stay pending for ever (the block is not touched).
bool execute(SRB_ExecSCSICmd* srb, std::uint8_t* status) {
    State& s = state();
    Outcome o;
    {
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
    }
    if (!o.complete) return false;
    srb->SRB_HaStat = o.ha_stat;
    srb->SRB_TargStat = o.targ_stat;
    if (o.has_sense) {
        const std::size_t n = std::min<std::size_t>(srb->SRB_SenseLen, sizeof srb->SenseArea);
        std::memset(srb->SenseArea, 0, n);
        std::memcpy(srb->SenseArea, o.sense.data(), std::min(n, kSenseLength));
    }
    *status = o.srb_status;
    return true;
}

void service(unsigned us) {
    if (us) std::this_thread::sleep_for(std::chrono::microseconds(us));
}

void Worker::run() {
    for (;;) {
        const Job job = pop();
        service(job.service_us);
        // Read what the signal needs first: once SRB_Status is set the
        // caller may reuse the block.
        const bool notify = (job.srb->SRB_Flags & SRB_EVENT_NOTIFY) != 0;
        const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(job.srb->SRB_PostProc));
        std::uint8_t status = 0;
        if (!execute(job.srb, &status)) continue;
        std::atomic_ref<std::uint8_t>(job.srb->SRB_Status).store(status, std::memory_order_release);
        if (notify) {
            const std::uint64_t one = 1;
            while (::write(fd, &one, sizeof one) < 0 && errno == EINTR) {
            }
        }
    }
}

std::uint32_t exec_request(SRB_ExecSCSICmd* srb) {
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
        std::uint8_t status = 0;
        if (!execute(srb, &status)) return SS_PENDING;
        srb->SRB_Status = status;
        return status;
    }
    worker().submit(Job{srb, us});
    return SS_PENDING;
}

}  // namespace
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
    default: static_cast<SRB_Header*>(request)->SRB_Status = SS_INVALID_SRB; return SS_INVALID_SRB;
    }
}
