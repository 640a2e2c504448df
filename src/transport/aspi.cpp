#include "transport/aspi.h"

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>

#include "transport/request_block.h"

namespace tamro {

namespace {

struct ScratchFailure {
    char lastError[kMessageSize];
    std::int32_t errorKind;
    std::uint8_t senseData[kSenseLength];
    std::uint8_t failedCdb[10];
} scratch;

FailureFields ScratchFields() {
    return {scratch.lastError, &scratch.errorKind, scratch.senseData, scratch.failedCdb};
}

FailureFieldsSource failureSource = nullptr;
AspiWaits waits;
std::string moduleName = "wnaspi32";
testing::EventFactory eventFactory;

void SetLastError(const char* format, ...) __attribute__((format(printf, 1, 2)));
void SetLastError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(CurrentFailureFields().lastError, kMessageSize, format, args);
    va_end(args);
}

void Fail(std::int32_t kind, const char* format, const char* label) {
    SetLastError(format, label);
    *CurrentFailureFields().errorKind = kind;
}

enum class Variant { Standard, Long, Download, SpecialWrite, Probe };

std::uint32_t WaitFor(Variant v) {
    switch (v) {
        case Variant::Long: return waits.longMs;
        case Variant::Download: return waits.downloadMs;
        default: return waits.standardMs;
    }
}

int Execute(Variant v, const char* label, RequestBlock& request) {
    const bool probe = v == Variant::Probe;
    AspiBinding& aspi = Aspi();
    if (aspi.sendCommand == nullptr) {
        if (!probe) Fail(kErrorTransport, "Error: %s: ASPI not bound.", label);
        return -1;
    }

    const SRB_ExecSCSICmd* srb = &request.Srb();
    const std::uint32_t sent = request.Send(aspi.sendCommand);
    platform::CompletionEvent* event = request.Event();
    if (sent == SS_PENDING && event != nullptr) {
        // A block given up here is still the library's: the request block
        // aborts it when the command is done with it.
        switch (AwaitCompletion(*event, *srb, WaitFor(v))) {
            case platform::WaitResult::Signalled:
                event->Reset();
                break;
            case platform::WaitResult::Abandoned:
                if (!probe) Fail(kErrorTransport, "Error: %s: Event Abandoned.", label);
                return -1;
            case platform::WaitResult::TimedOut:
                if (!probe) Fail(kErrorTransport, "Error: %s: Event Timeout.", label);
                return -1;
            case platform::WaitResult::Failed:
                break;  // judge the block by what it holds
        }
    }

    const std::uint8_t haStat = srb->SRB_HaStat;
    if (haStat != HASTAT_OK && !(v == Variant::Standard && haStat == HASTAT_DO_DU)) {
        if (probe) return -1;
        ReportHaStat(haStat, label);
        *CurrentFailureFields().errorKind = kErrorTransport;
        return -1;
    }

    // The standard step accepts only SS_COMP and SS_ERR. The variants do not
    // look at the request status, except that a block still pending was never
    // completed and must not pass for a success.
    const std::uint8_t status = RequestStatus(*srb);
    const bool statusFails = v == Variant::Standard ? (status != SS_COMP && status != SS_ERR)
                                                    : status == SS_PENDING;
    if (statusFails) {
        if (probe) return -1;
        ReportSrbStatus(status, label);
        *CurrentFailureFields().errorKind = kErrorTransport;
        return -1;
    }

    switch (srb->SRB_TargStat) {
        case STATUS_GOOD:
            return 0;
        case STATUS_CHKCOND: {
            if (srb->SenseArea[12] == 0x29) return kReissue;
            const bool recovered = (srb->SenseArea[2] & 0x0F) == 1;
            if (recovered && (v == Variant::Download || v == Variant::SpecialWrite)) return 0;
            if (probe) return 1;
            FailureFields f = CurrentFailureFields();
            std::memcpy(f.senseData, srb->SenseArea, kSenseLength);
            std::memcpy(f.failedCdb, srb->CDBByte, 10);
            Fail(kErrorCheckCondition, "Error: %s: Check Condition.", label);
            return -1;
        }
        case STATUS_BUSY:
            if (probe) return 8;
            [[fallthrough]];
        default:
            if (probe) return -1;
            Fail(kErrorTransport, "Error: %s: Invalid Status.", label);
            return -1;
    }
}

}  // namespace

void SetFailureFieldsSource(FailureFieldsSource source) { failureSource = source; }

FailureFields CurrentFailureFields() { return failureSource ? failureSource() : ScratchFields(); }

AspiBinding& Aspi() {
    static AspiBinding binding;
    return binding;
}

const AspiWaits& CurrentAspiWaits() { return waits; }

namespace testing {
void SetAspiWaits(const AspiWaits& w) { waits = w; }
void SetAspiModuleName(const std::string& name) { moduleName = name; }
void SetEventFactory(EventFactory factory) { eventFactory = std::move(factory); }
void ReleaseAspiBinding() {
    AspiBinding& aspi = Aspi();
    aspi.completionEvent.reset();
    platform::ReleaseModule(aspi.library);
    aspi.library = nullptr;
    aspi.supportInfo = nullptr;
    aspi.sendCommand = nullptr;
}
}  // namespace testing

std::string AspiLibraryPath() { return platform::ModulePath(Aspi().library, "SendASPI32Command"); }

const char* BindAspi() {
    AspiBinding& aspi = Aspi();
    platform::ModuleHandle library = platform::LoadModule(moduleName);
    if (library == nullptr) return " ASPI, LoadLibraryEx(wnaspi32) failed!!";
    auto supportInfo = reinterpret_cast<GetASPI32SupportInfoFn>(
        platform::FindEntryPoint(library, "GetASPI32SupportInfo"));
    if (supportInfo == nullptr) {
        platform::ReleaseModule(library);
        return "ASPI,GetProcAddress(GetASPI32Sup)failed";
    }
    auto sendCommand = reinterpret_cast<SendASPI32CommandFn>(
        platform::FindEntryPoint(library, "SendASPI32Command"));
    if (sendCommand == nullptr) {
        platform::ReleaseModule(library);
        return "ASPI,GetProcAddress(SendASPI32Com)failed";
    }
    // Every scan binds again; the library stays loaded once, never unloaded.
    if (aspi.library == library) platform::ReleaseModule(library);
    aspi.library = library;
    aspi.supportInfo = supportInfo;
    aspi.sendCommand = sendCommand;
    return nullptr;
}

int AspiInit() {
    AspiBinding& aspi = Aspi();
    if (aspi.supportInfo == nullptr) return -1;
    const std::uint32_t info = aspi.supportInfo();
    if (((info >> 8) & 0xFF) != SS_COMP) return -1;
    // One event for the life of the process: a request that timed out may
    // still signal it later, so its handle must never be closed and reused.
    if (!aspi.completionEvent) {
        aspi.completionEvent = CreateRequestEvent();
        if (!aspi.completionEvent) return -1;
    }
    return static_cast<int>(info & 0xFF);
}

int HaInquiry(std::uint8_t hostAdapter, std::uint8_t out[48]) {
    AspiBinding& aspi = Aspi();
    if (aspi.sendCommand == nullptr) return -1;
    SRB_HAInquiry srb;
    ClearBlock(&srb, sizeof srb);
    srb.SRB_Cmd = SC_HA_INQUIRY;
    srb.SRB_HaId = hostAdapter;
    if (aspi.sendCommand(&srb) == SS_INVALID_HA) return -1;
    std::memcpy(out, srb.HA_ManagerId, 48);
    return srb.HA_Count;
}

int GetDevType(std::uint8_t hostAdapter, std::uint8_t targetId) {
    AspiBinding& aspi = Aspi();
    if (aspi.sendCommand == nullptr) return -1;
    SRB_GDEVBlock srb;
    ClearBlock(&srb, sizeof srb);
    srb.SRB_Cmd = SC_GET_DEV_TYPE;
    srb.SRB_HaId = hostAdapter;
    srb.SRB_Target = targetId;
    switch (aspi.sendCommand(&srb)) {
        case SS_COMP: return srb.SRB_DeviceType;
        case SS_INVALID_HA: return -1;
        case SS_NO_DEVICE: return 255;
        default: return 0;
    }
}

int ExecScsiCmd(const char* label, RequestBlock& request) { return Execute(Variant::Standard, label, request); }
int ExecScsiCmdLong(const char* label, RequestBlock& request) { return Execute(Variant::Long, label, request); }
int ExecScsiCmdDownload(const char* label, RequestBlock& request) {
    return Execute(Variant::Download, label, request);
}
int ExecScsiCmdSpecialWrite(const char* label, RequestBlock& request) {
    return Execute(Variant::SpecialWrite, label, request);
}
int ExecScsiCmdProbe(RequestBlock& request) { return Execute(Variant::Probe, "", request); }

namespace {

// A library may set the event a moment before it writes SRB_Status. A signal
// that finds its block pending gets this long a look again before it is taken
// for a stale one; a completion that signalled in order never comes here.
constexpr std::chrono::microseconds kStatusRecheck{2000};
constexpr std::uint32_t kStaleSliceMs = 10;

bool LeavesPendingSoon(const SRB_ExecSCSICmd& srb) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + kStatusRecheck;
    do {
        if (RequestStatus(srb) != SS_PENDING) return true;
        std::this_thread::yield();
    } while (Clock::now() < until);
    return RequestStatus(srb) != SS_PENDING;
}

}  // namespace

platform::WaitResult AwaitCompletion(platform::CompletionEvent& event, const SRB_ExecSCSICmd& srb,
                                     std::uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // Once a signal was taken for a stale one, it may have been this block's
    // after all, its status written later than the second look allowed (a
    // busy machine): the status is then looked at between short waits, so
    // that the request does not time out done.
    bool tookAStaleSignal = false;
    for (;;) {
        const std::uint32_t slice = tookAStaleSignal ? std::min(timeoutMs, kStaleSliceMs) : timeoutMs;
        const platform::WaitResult result = event.Wait(slice);
        const bool pending = RequestStatus(srb) == SS_PENDING;
        if (result == platform::WaitResult::TimedOut && tookAStaleSignal && !pending)
            return platform::WaitResult::Signalled;
        if (result == platform::WaitResult::Signalled && pending) {
            if (LeavesPendingSoon(srb)) return result;
            tookAStaleSignal = true;
        } else if (result != platform::WaitResult::TimedOut || slice == timeoutMs) {
            return result;
        }
        const Clock::duration left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return platform::WaitResult::TimedOut;
        // Rounded up: the wait must not end before its time.
        timeoutMs = static_cast<std::uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    }
}

std::unique_ptr<platform::CompletionEvent> CreateRequestEvent() {
    return eventFactory ? eventFactory() : platform::CreateCompletionEvent();
}

void AbortRequest(SRB_ExecSCSICmd& srb, platform::CompletionEvent* event) {
    AspiBinding& aspi = Aspi();
    if (aspi.sendCommand == nullptr) return;
    // Answered before SendASPI32Command returns, so it may live here.
    SRB_Abort abort;
    ClearBlock(&abort, sizeof abort);
    abort.SRB_Cmd = SC_ABORT_SRB;
    abort.SRB_HaId = srb.SRB_HaId;
    abort.SRB_ToAbort = &srb;
    aspi.sendCommand(&abort);
    if (event != nullptr) AwaitCompletion(*event, srb, waits.abortMs);
}

int ReportPersistentUnitAttention(const char* label, const SRB_ExecSCSICmd* srb) {
    FailureFields f = CurrentFailureFields();
    std::memcpy(f.senseData, srb->SenseArea, kSenseLength);
    std::memcpy(f.failedCdb, srb->CDBByte, 10);
    Fail(kErrorCheckCondition, "Error: %s: Unit Attention repeated.", label);
    return -1;
}

void ReportHaStat(int status, const char* label) {
    const char* format = nullptr;
    switch (status) {
        case 0x09: format = "%s: Host adapter timeout."; break;
        case 0x0B: format = "%s: Host adapter command timeout."; break;
        case 0x0D: format = "%s: Message reject received."; break;
        case 0x0E: format = "%s: SCSI Bus reset occured."; break;
        case 0x0F: format = "%s: SCSI Bus parity error occured."; break;
        case 0x10: format = "%s: Adapter failed at Request Sense."; break;
        case 0x11: format = "%s: Selection timeout."; break;
        case 0x12: format = "%s: Data overrun/underrun occured."; break;
        case 0x13: format = "%s: unexpected Busfree occured."; break;
        case 0x14: format = "%s: Target Bus sequence error."; break;
        default: SetLastError("%s: Host adapter error %02x.", label, status); return;
    }
    SetLastError(format, label);
}

void ReportSrbStatus(int status, const char* label) {
    const char* format = nullptr;
    switch (status) {
        case 0x02: format = "%s: SCSI command aborted."; break;
        case 0x03: format = "%s: unable to abort SCSI command."; break;
        case 0x04: format = "%s: SCSI command completed with error."; break;
        case 0x82: format = "%s: SCSI device not installed."; break;
        case 0xE0: format = "%s: Invalid parameter in SRB."; break;
        case 0xE1: format = "%s: Buffer alignment problem."; break;
        case 0xE2: format = "%s: Device access security violetion."; break;
        case 0xE6: format = "%s: Buffer size too big to handle."; break;
        default: SetLastError("%s: SCSI error %02x.", label, status); return;
    }
    SetLastError(format, label);
}

void ClearBlock(void* buffer, std::size_t length) { std::memset(buffer, 0, length); }

}  // namespace tamro
