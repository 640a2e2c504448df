#include "transport/request_block.h"

#include <atomic>

#include "transport/aspi.h"

namespace tamro {

enum class Use : std::uint8_t { Free, Lent, Quarantined };

struct PooledRequest {
    SRB_ExecSCSICmd srb;
    std::atomic<Use> use{Use::Free};
    alignas(64) std::uint8_t data[kTransferCapacity];
};

namespace {

// Static and never freed: a library may write into a block long after the
// program gave up waiting for it.
PooledRequest pool[kRequestBlocks];

}  // namespace

RequestBlock::RequestBlock() : entry_(nullptr) {
    for (PooledRequest& e : pool) {
        Use expected = Use::Free;
        if (e.use.compare_exchange_strong(expected, Use::Lent, std::memory_order_acquire)) {
            entry_ = &e;
            return;
        }
    }
}

RequestBlock::~RequestBlock() {
    if (entry_ == nullptr) return;
    if (HeldByLibrary()) AbortRequest(entry_->srb);
    entry_->use.store(HeldByLibrary() ? Use::Quarantined : Use::Free, std::memory_order_release);
}

SRB_ExecSCSICmd& RequestBlock::Srb() { return entry_->srb; }

std::uint8_t* RequestBlock::Data() { return entry_->data; }

std::uint32_t RequestBlock::Send(SendASPI32CommandFn send) {
    const std::uint32_t answer = send(&entry_->srb);
    accepted_ = answer == SS_PENDING;
    return answer;
}

bool RequestBlock::HeldByLibrary() const { return accepted_ && RequestStatus(entry_->srb) == SS_PENDING; }

std::uint8_t RequestStatus(const SRB_ExecSCSICmd& srb) {
    // The library writes the status last, from its own thread.
    return std::atomic_ref<std::uint8_t>(const_cast<std::uint8_t&>(srb.SRB_Status)).load(std::memory_order_acquire);
}

namespace testing {

std::size_t QuarantinedRequestBlocks() {
    std::size_t quarantined = 0;
    for (const PooledRequest& e : pool) quarantined += e.use.load() == Use::Quarantined ? 1 : 0;
    return quarantined;
}

void ReturnQuarantinedRequestBlocks() {
    for (PooledRequest& e : pool) {
        Use expected = Use::Quarantined;
        e.use.compare_exchange_strong(expected, Use::Free);
    }
}

}  // namespace testing

}  // namespace tamro
