#include "transport/request_block.h"

#include <atomic>

#include "transport/aspi.h"

namespace tamro {

enum class Use : std::uint8_t { Free, Lent, Quarantined };

struct PooledRequest {
    SRB_ExecSCSICmd srb;
    std::atomic<Use> use{Use::Free};
    // The free block of the highest rank is taken first (see Release).
    std::atomic<std::int64_t> rank{0};
    alignas(64) std::uint8_t data[kTransferCapacity];
};

namespace {

// Static and never freed: a library may write into a block long after the
// program gave up waiting for it.
PooledRequest pool[kRequestBlocks];

std::atomic<std::int64_t> releases{0};
std::atomic<std::size_t> quarantined{0};
std::atomic<std::uint64_t> lent{0};
std::atomic<bool> exhausted{false};

// The block released last is taken first, its buffer still in the cache. A
// block whose request was given up ranks below every other, the one given up
// longest ago first: a library that completes that request once more (after
// a successful abort, against its word) then finds it idle.
void Release(PooledRequest& e, bool givenUp) {
    constexpr std::int64_t kGivenUp = std::int64_t{1} << 62;
    const std::int64_t now = releases.fetch_add(1, std::memory_order_relaxed) + 1;
    e.rank.store(givenUp ? -kGivenUp + (kGivenUp / 2 - now) : now, std::memory_order_relaxed);
}

// Quarantined blocks whose request has left SS_PENDING are the library's no
// more. Looked at only while there are any.
void Reclaim() {
    if (quarantined.load(std::memory_order_acquire) == 0) return;
    for (PooledRequest& e : pool) {
        if (e.use.load(std::memory_order_acquire) != Use::Quarantined || RequestStatus(e.srb) == SS_PENDING) continue;
        Use expected = Use::Quarantined;
        if (e.use.compare_exchange_strong(expected, Use::Free, std::memory_order_acq_rel))
            quarantined.fetch_sub(1, std::memory_order_release);
    }
}

}  // namespace

RequestBlock::RequestBlock() : entry_(nullptr) {
    Reclaim();
    for (;;) {
        PooledRequest* best = nullptr;
        for (PooledRequest& e : pool) {
            if (e.use.load(std::memory_order_relaxed) != Use::Free) continue;
            if (best == nullptr || e.rank.load(std::memory_order_relaxed) > best->rank.load(std::memory_order_relaxed))
                best = &e;
        }
        if (best == nullptr) {
            exhausted.store(true, std::memory_order_relaxed);
            return;
        }
        Use expected = Use::Free;
        if (best->use.compare_exchange_strong(expected, Use::Lent, std::memory_order_acquire)) {
            entry_ = best;
            lent.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
}

RequestBlock::~RequestBlock() {
    if (entry_ == nullptr) return;
    const bool givenUp = HeldByLibrary();
    if (givenUp) AbortRequest(entry_->srb);
    Release(*entry_, givenUp);
    if (HeldByLibrary()) {
        quarantined.fetch_add(1, std::memory_order_release);
        entry_->use.store(Use::Quarantined, std::memory_order_release);
    } else {
        entry_->use.store(Use::Free, std::memory_order_release);
    }
}

SRB_ExecSCSICmd& RequestBlock::Srb() { return entry_->srb; }

std::uint8_t* RequestBlock::Data() { return entry_->data; }

std::uint32_t RequestBlock::Send(SendASPI32CommandFn send) {
    const std::uint32_t answer = send(&entry_->srb);
    accepted_ = answer == SS_PENDING;
    return answer;
}

bool RequestBlock::HeldByLibrary() const { return accepted_ && RequestStatus(entry_->srb) == SS_PENDING; }

bool RequestBlocksExhausted() { return exhausted.load(std::memory_order_relaxed); }

std::uint64_t RequestsSent() { return lent.load(std::memory_order_relaxed); }

std::uint8_t RequestStatus(const SRB_ExecSCSICmd& srb) {
    // The library writes the status last, from its own thread.
    return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(srb.SRB_Status)).load(std::memory_order_acquire);
}

namespace testing {

std::size_t QuarantinedRequestBlocks() {
    std::size_t count = 0;
    for (const PooledRequest& e : pool) count += e.use.load() == Use::Quarantined ? 1 : 0;
    return count;
}

void ReturnQuarantinedRequestBlocks() {
    for (PooledRequest& e : pool) {
        Use expected = Use::Quarantined;
        if (e.use.compare_exchange_strong(expected, Use::Free)) quarantined.fetch_sub(1);
    }
    exhausted.store(false);
}

}  // namespace testing

}  // namespace tamro
