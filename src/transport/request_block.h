// The request blocks and data buffers that the program lends to the library.
//
// A library holds a request from SendASPI32Command until the block leaves
// SS_PENDING, and may finish it long after the program stopped waiting for
// it. So no block or buffer it is given lives on a caller's stack or heap:
// both come from a small static pool, and command data is copied in and out,
// or the block keeps the transfer area it was lent with.
// A block that the library keeps even when asked to abort it is quarantined
// until the library lets go of it; a block whose request was given up is
// taken again only when no other is free, so that a library that completes
// such a request once more writes into an idle block.
//
// Drives tested at once each have a lane of their own: blocks and a
// completion event that no other drive's request takes, signals or waits on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/completion_event.h"
#include "transport/commands.h"
#include "transport/srb.h"

namespace tamro {

constexpr std::size_t kRequestBlocks = 4;

struct PooledRequest;
struct RequestLane;

// The calling thread's own lane for as long as the lease lives; without one
// a thread uses the first lane, whose event is the binding's. A lane is never
// freed: when its lease ends it waits, with any block the library still
// holds, for the next lease.
class LaneLease {
public:
    LaneLease();
    ~LaneLease();
    LaneLease(const LaneLease&) = delete;
    LaneLease& operator=(const LaneLease&) = delete;
    // False when the lane's completion event could not be created; the
    // thread then stays on the first lane.
    explicit operator bool() const { return lane_ != nullptr; }

private:
    RequestLane* lane_;
};

// One block of the pool with its data buffer, for the time of one command.
class RequestBlock {
public:
    // Takes the free block released last, one whose request was given up
    // only when no other is free; none when the library holds every block.
    // Quarantined blocks the library has let go of come back first.
    RequestBlock();
    // Gives the block back. One that the library still holds is first asked
    // to abort and given a short while; if the library keeps it even then,
    // the block is quarantined.
    ~RequestBlock();
    RequestBlock(const RequestBlock&) = delete;
    RequestBlock& operator=(const RequestBlock&) = delete;

    explicit operator bool() const { return entry_ != nullptr; }
    SRB_ExecSCSICmd& Srb();
    std::uint8_t* Data();

    // Hands the block to the library; the answer says whether it took it.
    std::uint32_t Send(SendASPI32CommandFn send);
    // Sent, accepted and not yet finished: the library may still write it.
    bool HeldByLibrary() const;
    // Keeps a transfer area's storage that the request was sent with until
    // the block is taken again, which a block given up is only once no
    // other is free: as long as the library may write it, at the least.
    void Keep(std::shared_ptr<void> storage);
    // The event the library signals for this block: its lane's; none before
    // the binding has one.
    platform::CompletionEvent* Event() const;

private:
    RequestLane* lane_;
    PooledRequest* entry_;
    bool accepted_ = false;
};

// Whether any lane found every block held by the library: an owed switch-off
// of a factory mode may then never be sent.
bool AnyRequestLaneExhausted();

// SRB_Status as the library last wrote it.
std::uint8_t RequestStatus(const SRB_ExecSCSICmd& srb);

namespace testing {
// Over every lane.
std::size_t QuarantinedRequestBlocks();
// Puts quarantined blocks back into use and forgets that the pool ran dry;
// only once the library can no longer write them (the simulated bus forgets
// what it holds when it is cleared).
void ReturnQuarantinedRequestBlocks();
}  // namespace testing

}  // namespace tamro
