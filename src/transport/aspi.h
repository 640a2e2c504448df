// The ASPI binding and the execution of one SCSI request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/completion_event.h"
#include "platform/dynamic_library.h"
#include "transport/srb.h"

namespace tamro {

class RequestBlock;

// Where a failed command leaves its message and sense: the fields of the
// current drive slot. The drive table installs the source; until then a
// scratch record takes them.
struct FailureFields {
    char* lastError;          // 64 bytes
    std::int32_t* errorKind;
    std::uint8_t* senseData;  // 48 bytes
    std::uint8_t* failedCdb;  // 10 bytes
};
using FailureFieldsSource = FailureFields (*)();
void SetFailureFieldsSource(FailureFieldsSource source);
FailureFields CurrentFailureFields();

constexpr std::size_t kMessageSize = 64;

// errorKind values written by the transport.
constexpr std::int32_t kErrorTransport = 1;
constexpr std::int32_t kErrorCheckCondition = 2;

// The standard step's answer that asks the command function to build the
// block again and re-issue the command (unit attention, ASC 29h).
constexpr int kReissue = 6;

// Unit attentions in a row after which a command gives up; a drive that
// reports a reset on every command would otherwise hold the program forever.
constexpr int kMaxUnitAttentionReissues = 8;

struct AspiBinding {
    platform::ModuleHandle library = nullptr;
    GetASPI32SupportInfoFn supportInfo = nullptr;
    SendASPI32CommandFn sendCommand = nullptr;
    std::unique_ptr<platform::CompletionEvent> completionEvent;
};

// The one binding of the process.
AspiBinding& Aspi();

// How long each kind of request may take before its wait gives up.
struct AspiWaits {
    std::uint32_t standardMs = 10000;
    std::uint32_t longMs = 100000;
    std::uint32_t downloadMs = 60000;
    // What a request that the library still holds after its wait is given
    // to finish once it is asked to abort.
    std::uint32_t abortMs = 1000;
};
const AspiWaits& CurrentAspiWaits();

// Seams for tests only; the program never calls them.
namespace testing {
void SetAspiWaits(const AspiWaits& waits);
void SetAspiModuleName(const std::string& name);  // default "wnaspi32"
using EventFactory = std::function<std::unique_ptr<platform::CompletionEvent>()>;
void SetEventFactory(EventFactory factory);  // empty: the platform's event
// Forgets the binding and the event (no request may be in flight).
void ReleaseAspiBinding();
}  // namespace testing

// What the scan shows when the library reports no success, or when a host
// adapter inquiry fails (the leading blanks belong to the texts).
inline constexpr const char kAspiInitError[] = "                   Can't ASPI Init Error.";
inline constexpr const char kHaInquiryError[] = "                   Can't get HA-Inquiry.";

// Loads wnaspi32 and resolves its entry points. Null on success, else the
// message of the step that failed.
const char* BindAspi();

// The file of the library bound, empty before it is bound.
std::string AspiLibraryPath();

// Host adapter count (0-255), or -1 when the library does not report SS_COMP
// or the completion event cannot be created.
int AspiInit();

// Copies the 48 bytes from HA_ManagerId on into out; returns HA_Count, or -1
// for an invalid host adapter (out untouched).
int HaInquiry(std::uint8_t hostAdapter, std::uint8_t out[48]);

// SRB_DeviceType, -1 for an invalid host adapter, 255 for no device, 0 for
// any other answer.
int GetDevType(std::uint8_t hostAdapter, std::uint8_t targetId);

// The execution step and its variants: send a filled request, wait for it
// and judge the outcome. 0 success, -1 failure (message and errorKind in the
// current slot), kReissue for a unit attention with ASC 29h.
int ExecScsiCmd(const char* label, RequestBlock& request);
int ExecScsiCmdLong(const char* label, RequestBlock& request);
int ExecScsiCmdDownload(const char* label, RequestBlock& request);
int ExecScsiCmdSpecialWrite(const char* label, RequestBlock& request);
// Writes nothing: 0 GOOD, 1 CHECK CONDITION, 8 BUSY, -1 anything else.
int ExecScsiCmdProbe(RequestBlock& request);

// Waits on the completion event until this block has left SS_PENDING, at
// most timeoutMs. A signal that finds the block still pending, and still so a
// moment later, was left by an earlier request finishing late: it is taken
// and the wait goes on.
platform::WaitResult AwaitCompletion(platform::CompletionEvent& event, const SRB_ExecSCSICmd& srb,
                                     std::uint32_t timeoutMs);

// Asks the library to abort a request that it still holds (SC_ABORT_SRB)
// and waits a short while on its event for the block to finish, aborted or
// not.
void AbortRequest(SRB_ExecSCSICmd& srb, platform::CompletionEvent* event);

// A completion event as the binding's is made (the test seam included); null
// when the system refuses one.
std::unique_ptr<platform::CompletionEvent> CreateRequestEvent();

// The failure of a command that kept answering unit attention: sense and CDB
// are saved as for a CHECK CONDITION. Returns -1.
int ReportPersistentUnitAttention(const char* label, const SRB_ExecSCSICmd* srb);

void ReportHaStat(int status, const char* label);
void ReportSrbStatus(int status, const char* label);

void ClearBlock(void* buffer, std::size_t length);

}  // namespace tamro
