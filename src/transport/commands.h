// One function per SCSI command the program sends, each with its fixed CDB.
//
// Every function takes the host adapter and the target ID first and returns
// 0 for success or -1 for failure, with the message and errorKind already in
// the current drive slot. Buffers belong to the caller and hold at least the
// transfer length; the library never sees them, since a request may outlive
// its wait: data is copied into the transport's own block and back. A
// transfer area is lent as it is instead, for the surface tests' many reads
// and writes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace tamro {

constexpr std::size_t kMicrocodeCapacity = 524288;

// The largest transfer one command carries; a longer one is not sent
// ("Error: %s: Invalid Length.").
constexpr std::uint32_t kTransferCapacity = 524288;

// The microcode file as loaded; WriteBuffer sends slices of it.
extern std::uint8_t microcodeImage[kMicrocodeCapacity];
extern std::int32_t microcodeLength;

// A data buffer that Read10 and Write10 lend to the library as it is, with no
// copy in or out. A library may hold a request long after the program gave up
// waiting for it: the storage then stays with that request until the library
// lets go of it, and the area goes on with storage of its own, holding what
// was to be written, or zeros after a read.
class TransferArea {
public:
    explicit TransferArea(std::size_t bytes) : storage_(std::make_shared<std::vector<std::uint8_t>>(bytes)) {}
    std::uint8_t* data() { return storage_->data(); }
    std::size_t size() const { return storage_->size(); }

    // The storage lent until now, for the request that keeps it.
    std::shared_ptr<void> GiveUpStorage(bool keepContent);

private:
    std::shared_ptr<std::vector<std::uint8_t>> storage_;
};

// The probe: 0 ready, 1 CHECK CONDITION, 8 BUSY, -1 anything else. It never
// writes into the slot.
int TestUnitReady(std::uint8_t ha, std::uint8_t id);

int Inquiry6(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer80);
int GetSer10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer12);
int StartStopUnit(std::uint8_t ha, std::uint8_t id, std::uint8_t start);
int ReadCapacity10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer8);
int ReadDefectData10(std::uint8_t ha, std::uint8_t id, std::uint16_t grownList, std::uint8_t* buffer4);
int FactorySet10(std::uint8_t ha, std::uint8_t id, int on);
int GetHsp10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer30);
int GetLog10(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer32768);
int WriteSpecial(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer, std::uint16_t cylinder,
                 std::uint8_t head, std::uint16_t sector, std::uint8_t count);
int Rezero6(std::uint8_t ha, std::uint8_t id);
int Seek10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba);
int Read10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
           std::uint16_t count, std::uint8_t* buffer);
int Write10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
            std::uint16_t count, std::uint8_t* buffer);
int Read10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
           std::uint16_t count, TransferArea& area);
int Write10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint32_t blockSize,
            std::uint16_t count, TransferArea& area);
int Verify10(std::uint8_t ha, std::uint8_t id, std::uint32_t lba, std::uint16_t count);
int ModeSense6(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer, std::uint8_t page,
               std::uint32_t allocationLength);
int ModeSelect6(std::uint8_t ha, std::uint8_t id, std::uint8_t* buffer, std::uint32_t length);
// Sends `length` bytes of microcodeImage from `offset` on.
int WriteBuffer(std::uint8_t ha, std::uint8_t id, std::uint32_t length, std::uint32_t offset);

// Ending the program while workers are at work. From this call on no thread
// sends another command: the next one a thread issues is not sent; instead
// that thread switches off the factory mode of every drive it switched on
// itself (its own Sets have all come back by then) and any switch-off still
// owed, then throws CommandsStopped.
void RequestStopAtNextCommand();
bool StopRequested();

// Thrown by every command function once a stop was requested, in place of
// the command: the thread unwinds to its entry point, which catches it and
// ends or parks the thread. No request block is held at the throw.
struct CommandsStopped {};

// A command the library has now, for whoever waits on a stop.
struct CommandInFlight {
    std::uint8_t ha, id;
    std::string_view label;            // "Start/Stop Unit", "Factory ReSet(10)", ...
    std::chrono::milliseconds atMost;  // its wait's time-out, then the abort of a request given up
};
// Every command in flight now, in the order they were sent.
std::vector<CommandInFlight> CommandsInFlight();

// Waits until no command is in flight and no drive is left in factory mode,
// at most `bound`. True when that was reached.
bool WaitForCommandsToSettle(std::chrono::milliseconds bound);

// The longest that can take with the present waits: the command in flight,
// then the Factory ReSet that closes it, either given up and aborted.
std::chrono::milliseconds SettleBound();

// True once a command found every request block held by the library, even
// after it was asked to abort them: from then on commands are refused
// ("Not sent, no free request block."), and only a restart helps.
bool RequestBlocksExhausted();
inline constexpr char kRequestBlocksExhaustedText[] =
    "The ASPI library keeps requests it does not give back. Please restart the program.";

// Requests handed to the library so far: two readings tell whether anything
// reached a drive in between.
std::uint64_t RequestsSent();

// Whether the switch-off of the drive's factory mode could not be sent for
// want of a request block and is still owed.
bool FactoryResetOwed(std::uint8_t ha, std::uint8_t id);

// Whether the drive may still be in factory mode: its switch-off is owed, or
// the last one it was sent failed (the drive answered it with an error, or
// never answered). Only a switch-off that succeeds clears that.
bool FactoryModeMayBeOn(std::uint8_t ha, std::uint8_t id);

namespace testing {
// Lets commands through again.
void ClearStopRequest();
// Threads stopped by the request so far.
int StoppedCommandThreads();
// Whether the command layer counts ha/id as left in factory mode.
bool FactoryModeLeftOn(std::uint8_t ha, std::uint8_t id);
}  // namespace testing

}  // namespace tamro
