#include "transport/request_block.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "transport/aspi.h"

namespace tamro {

enum class Use : std::uint8_t { Free, Lent, Quarantined };

struct PooledRequest {
    SRB_ExecSCSICmd srb;
    std::atomic<Use> use{Use::Free};
    // The free block of the highest rank is taken first (see Release).
    std::atomic<std::int64_t> rank{0};
    std::shared_ptr<void> kept;  // touched only by the block's holder
    alignas(64) std::uint8_t data[kTransferCapacity];
};

struct RequestLane {
    PooledRequest pool[kRequestBlocks];
    std::atomic<std::int64_t> releases{0};
    std::atomic<std::size_t> quarantined{0};
    std::atomic<std::uint64_t> lent{0};
    std::atomic<bool> exhausted{false};
    // Null for the first lane, which uses the binding's event.
    std::unique_ptr<platform::CompletionEvent> event;
    bool leased = false;

    platform::CompletionEvent* Event() const { return event ? event.get() : Aspi().completionEvent.get(); }
};

namespace {

// Never freed, nor destroyed at exit: a library may write into a block, or
// into the area a block keeps, long after the program gave up waiting for it.
RequestLane& FirstLane() {
    static RequestLane* const lane = new RequestLane;
    return *lane;
}

struct Lanes {
    std::mutex mutex;
    std::vector<RequestLane*> extra;
};

Lanes& lanes() {
    static Lanes* l = new Lanes;  // outlives every thread that may still lease
    return *l;
}

thread_local RequestLane* threadLane = nullptr;

RequestLane& CurrentLane() { return threadLane ? *threadLane : FirstLane(); }

template <class Visit>
void ForEachLane(Visit visit) {
    visit(FirstLane());
    Lanes& l = lanes();
    std::lock_guard lock(l.mutex);
    for (RequestLane* lane : l.extra) visit(*lane);
}

// The block released last is taken first, its buffer still in the cache. A
// block whose request was given up ranks below every other, the one given up
// longest ago first: a library that completes that request once more (after
// a successful abort, against its word) then finds it idle.
void Release(RequestLane& lane, PooledRequest& e, bool givenUp) {
    constexpr std::int64_t kGivenUp = std::int64_t{1} << 62;
    const std::int64_t now = lane.releases.fetch_add(1, std::memory_order_relaxed) + 1;
    e.rank.store(givenUp ? -kGivenUp + (kGivenUp / 2 - now) : now, std::memory_order_relaxed);
}

// Quarantined blocks whose request has left SS_PENDING are the library's no
// more. Looked at only while there are any.
void Reclaim(RequestLane& lane) {
    if (lane.quarantined.load(std::memory_order_acquire) == 0) return;
    for (PooledRequest& e : lane.pool) {
        if (e.use.load(std::memory_order_acquire) != Use::Quarantined || RequestStatus(e.srb) == SS_PENDING) continue;
        Use expected = Use::Quarantined;
        if (e.use.compare_exchange_strong(expected, Use::Free, std::memory_order_acq_rel))
            lane.quarantined.fetch_sub(1, std::memory_order_release);
    }
}

}  // namespace

LaneLease::LaneLease() : lane_(nullptr) {
    Lanes& l = lanes();
    std::lock_guard lock(l.mutex);
    for (RequestLane* lane : l.extra) {
        if (lane->leased) continue;
        lane_ = lane;
        break;
    }
    if (lane_ == nullptr) {
        std::unique_ptr<platform::CompletionEvent> event = CreateRequestEvent();
        if (!event) return;
        lane_ = new RequestLane;
        lane_->event = std::move(event);
        l.extra.push_back(lane_);
    }
    lane_->leased = true;
    threadLane = lane_;
}

LaneLease::~LaneLease() {
    if (lane_ == nullptr) return;
    threadLane = nullptr;
    std::lock_guard lock(lanes().mutex);
    lane_->leased = false;
}

RequestBlock::RequestBlock() : lane_(&CurrentLane()), entry_(nullptr) {
    RequestLane& lane = *lane_;
    Reclaim(lane);
    for (;;) {
        PooledRequest* best = nullptr;
        for (PooledRequest& e : lane.pool) {
            if (e.use.load(std::memory_order_relaxed) != Use::Free) continue;
            if (best == nullptr || e.rank.load(std::memory_order_relaxed) > best->rank.load(std::memory_order_relaxed))
                best = &e;
        }
        if (best == nullptr) {
            lane.exhausted.store(true, std::memory_order_relaxed);
            return;
        }
        Use expected = Use::Free;
        if (best->use.compare_exchange_strong(expected, Use::Lent, std::memory_order_acquire)) {
            entry_ = best;
            entry_->kept.reset();
            lane.lent.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
}

RequestBlock::~RequestBlock() {
    if (entry_ == nullptr) return;
    const bool givenUp = HeldByLibrary();
    if (givenUp) AbortRequest(entry_->srb, Event());
    Release(*lane_, *entry_, givenUp);
    if (HeldByLibrary()) {
        lane_->quarantined.fetch_add(1, std::memory_order_release);
        entry_->use.store(Use::Quarantined, std::memory_order_release);
    } else {
        entry_->use.store(Use::Free, std::memory_order_release);
    }
}

platform::CompletionEvent* RequestBlock::Event() const { return lane_->Event(); }

SRB_ExecSCSICmd& RequestBlock::Srb() { return entry_->srb; }

std::uint8_t* RequestBlock::Data() { return entry_->data; }

std::uint32_t RequestBlock::Send(SendASPI32CommandFn send) {
    const std::uint32_t answer = send(&entry_->srb);
    accepted_ = answer == SS_PENDING;
    return answer;
}

void RequestBlock::Keep(std::shared_ptr<void> storage) { entry_->kept = std::move(storage); }

bool RequestBlock::HeldByLibrary() const { return accepted_ && RequestStatus(entry_->srb) == SS_PENDING; }

bool RequestBlocksExhausted() { return CurrentLane().exhausted.load(std::memory_order_relaxed); }

bool AnyRequestLaneExhausted() {
    bool any = false;
    ForEachLane([&any](RequestLane& lane) { any |= lane.exhausted.load(std::memory_order_relaxed); });
    return any;
}

std::uint64_t RequestsSent() { return CurrentLane().lent.load(std::memory_order_relaxed); }

std::uint8_t RequestStatus(const SRB_ExecSCSICmd& srb) {
    // The library writes the status last, from its own thread.
    return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(srb.SRB_Status)).load(std::memory_order_acquire);
}

namespace testing {

std::size_t QuarantinedRequestBlocks() {
    std::size_t count = 0;
    ForEachLane([&count](RequestLane& lane) {
        for (const PooledRequest& e : lane.pool) count += e.use.load() == Use::Quarantined ? 1 : 0;
    });
    return count;
}

void ReturnQuarantinedRequestBlocks() {
    ForEachLane([](RequestLane& lane) {
        for (PooledRequest& e : lane.pool) {
            Use expected = Use::Quarantined;
            if (e.use.compare_exchange_strong(expected, Use::Free)) lane.quarantined.fetch_sub(1);
        }
        lane.exhausted.store(false);
    });
}

}  // namespace testing

}  // namespace tamro
