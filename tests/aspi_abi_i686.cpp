// A shipped wnaspi32.dll as a 32-bit Windows program meets it: loaded by name
// from the program's folder, the two entry points found by their undecorated
// names and called through pointers of the published type (cdecl, one
// pointer argument), request blocks laid out byte by byte at the published
// offsets. What a 64-bit build cannot check: 4-byte pointers inside the
// blocks, the 116-byte SRB_ExecSCSICmd, who pops the argument.
//
// Usage: aspi_abi_i686 sim|spti (which library sits beside it). Exit 0 when
// every check holds.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "transport/srb.h"

static_assert(sizeof(void*) == 4, "the published layout is the 32-bit one");

namespace {

// The published types of the entry points.
using SupportInfoFn = DWORD(__cdecl*)(void);
using SendCommandFn = DWORD(__cdecl*)(void*);

// SRB_ExecSCSICmd by offset, as the published tables give it.
enum : std::size_t {
    kCmd = 0,
    kStatus = 1,
    kHaId = 2,
    kFlags = 3,
    kTarget = 8,
    kBufLen = 12,
    kBufPointer = 16,
    kSenseLen = 20,
    kCdbLen = 21,
    kTargStat = 23,
    kPostProc = 24,
    kCdb = 48,
    kSense = 64,
    kExecSize = 116,
};
// The program's own declarations agree with them.
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == kBufPointer);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == kPostProc);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == kCdb);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == kSense);
static_assert(sizeof(SRB_ExecSCSICmd) == kExecSize);

int failures = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok) ++failures;
}

std::string Folder(const std::string& path) { return path.substr(0, path.find_last_of("\\/")); }

std::string ModulePath(HMODULE m) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(m, path, MAX_PATH);
    return path;
}

// Calls send(block) the way a cdecl caller does and returns how many bytes
// the stack pointer moved across the call: 0 when the library leaves the
// argument to the caller, 4 when it pops it itself (stdcall).
std::int32_t StackMovedBy(SendCommandFn send, void* block) {
    std::int32_t moved;
    void* arg = block;
    SendCommandFn fn = send;
    asm volatile(
        "movl %%esp, %%esi\n\t"
        "andl $-16, %%esp\n\t"
        "movl %%esp, %%edi\n\t"
        "subl $12, %%esp\n\t"
        "pushl %%ecx\n\t"
        "call *%%edx\n\t"
        "movl %%edi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "subl $16, %%ecx\n\t"
        "movl %%esi, %%esp\n\t"
        : "=c"(moved), "+d"(fn)
        : "0"(arg)
        : "eax", "esi", "edi", "memory", "cc");
    return -moved;
}

// A block with 16 guard bytes after its published end: a library that
// believes in another layout writes past 116 bytes.
struct GuardedBlock {
    std::uint8_t bytes[kExecSize + 16];
    GuardedBlock() {
        std::memset(bytes, 0, kExecSize);
        std::memset(bytes + kExecSize, 0xA5, 16);
    }
    bool GuardIntact() const {
        for (std::size_t i = kExecSize; i < sizeof bytes; ++i)
            if (bytes[i] != 0xA5) return false;
        return true;
    }
    template <typename T>
    void Put(std::size_t offset, T value) {
        std::memcpy(bytes + offset, &value, sizeof value);
    }
};

GuardedBlock ExecBlock(int ha, int target, const std::uint8_t (&cdb)[6], std::uint8_t* data, std::uint32_t length,
                       HANDLE event) {
    GuardedBlock b;
    b.Put<std::uint8_t>(kCmd, SC_EXEC_SCSI_CMD);
    b.Put<std::uint8_t>(kHaId, static_cast<std::uint8_t>(ha));
    b.Put<std::uint8_t>(kFlags, SRB_EVENT_NOTIFY | (length ? SRB_DIR_IN : 0));
    b.Put<std::uint8_t>(kTarget, static_cast<std::uint8_t>(target));
    b.Put<std::uint32_t>(kBufLen, length);
    b.Put<std::uint32_t>(kBufPointer, reinterpret_cast<std::uintptr_t>(data));
    b.Put<std::uint8_t>(kSenseLen, 18);
    b.Put<std::uint8_t>(kCdbLen, 6);
    b.Put<std::uint32_t>(kPostProc, reinterpret_cast<std::uintptr_t>(event));
    std::memcpy(b.bytes + kCdb, cdb, 6);
    return b;
}

// Sends the block and waits for its completion event when the library keeps it.
std::uint8_t Execute(SendCommandFn send, GuardedBlock& b, HANDLE event) {
    ResetEvent(event);
    if (send(b.bytes) == SS_PENDING) WaitForSingleObject(event, 5000);
    return b.bytes[kStatus];
}

// The simulated bus: two adapters, a disk at HA#0/ID00.
void CheckSimulatedBus(SupportInfoFn supportInfo, SendCommandFn send) {
    const DWORD info = supportInfo();
    Check(((info >> 8) & 0xFF) == SS_COMP && (info & 0xFF) == 2, "GetASPI32SupportInfo: SS_COMP, 2 adapters");

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::uint8_t data[36 + 16];
    std::memset(data, 0xEE, sizeof data);
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    GuardedBlock b = ExecBlock(0, 0, inquiry, data, 36, event);
    Check(Execute(send, b, event) == SS_COMP, "INQUIRY through SRB_BufPointer and SRB_PostProc completes");
    Check(b.bytes[kTargStat] == STATUS_GOOD, "SRB_TargStat at 23 is good");
    Check(data[0] == DTYPE_DASD && std::memcmp(data + 8, "HALCYON ", 8) == 0, "the INQUIRY data reached the buffer");
    Check(data[36] == 0xEE, "no byte past SRB_BufLen");
    Check(b.GuardIntact(), "nothing written past 116 bytes");

    // An operation code the disk does not know: its sense lands at 64.
    const std::uint8_t unknown[6] = {0x02, 0, 0, 0, 0, 0};
    GuardedBlock c = ExecBlock(0, 0, unknown, nullptr, 0, event);
    Check(Execute(send, c, event) == SS_ERR, "an unknown command ends in SS_ERR");
    Check(c.bytes[kTargStat] == STATUS_CHKCOND, "SRB_TargStat at 23 is check condition");
    Check((c.bytes[kSense] & 0x7F) == 0x70 && (c.bytes[kSense + 2] & 0x0F) == 5 && c.bytes[kSense + 12] == 0x20,
          "the sense data (illegal request, invalid operation code) at 64");
    Check(c.GuardIntact(), "nothing written past 116 bytes");
    CloseHandle(event);
}

// The pass-through library: whatever the machine holds, one adapter past the
// last is refused in the block's own status byte.
void CheckPassThrough(SupportInfoFn supportInfo, SendCommandFn send) {
    const DWORD info = supportInfo();
    std::printf("GetASPI32SupportInfo: 0x%04lx\n", static_cast<unsigned long>(info));
    constexpr std::uint8_t kNoAdapters = 0xE8;
    const std::uint8_t status = (info >> 8) & 0xFF;
    Check(status == SS_COMP || status == kNoAdapters, "GetASPI32SupportInfo: SS_COMP or no adapters");
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const std::uint8_t tur[6] = {0x00, 0, 0, 0, 0, 0};
    GuardedBlock b = ExecBlock(static_cast<int>(info & 0xFF), 0, tur, nullptr, 0, event);
    Check(send(b.bytes) == SS_INVALID_HA && b.bytes[kStatus] == SS_INVALID_HA,
          "an adapter past the last is SS_INVALID_HA");
    Check(b.GuardIntact(), "nothing written past 116 bytes");
    CloseHandle(event);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string kind = argc > 1 ? argv[1] : "";
    if (kind != "sim" && kind != "spti") {
        std::fprintf(stderr, "usage: aspi_abi_i686 sim|spti\n");
        return 2;
    }
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);

    HMODULE m = LoadLibraryA("wnaspi32.dll");
    Check(m != nullptr, "wnaspi32.dll loads by name");
    if (m == nullptr) return 1;
    Check(Folder(ModulePath(m)) == Folder(self), "the one beside the program: " + ModulePath(m));
    Check((GetProcAddress(m, "sim_reset_default") != nullptr) == (kind == "sim"), "it is the " + kind + " library");

    auto entry = [m](const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); };
    auto supportInfo = reinterpret_cast<SupportInfoFn>(entry("GetASPI32SupportInfo"));
    auto send = reinterpret_cast<SendCommandFn>(entry("SendASPI32Command"));
    Check(supportInfo != nullptr && send != nullptr, "both entry points by their undecorated names");
    if (supportInfo == nullptr || send == nullptr) return 1;
    Check(GetProcAddress(m, "_SendASPI32Command@4") == nullptr && GetProcAddress(m, "SendASPI32Command@4") == nullptr,
          "no stdcall-decorated names");

    // An adapter inquiry holds no pointer and completes at once: the call
    // itself is what is checked.
    SRB_HAInquiry inquiry{};
    inquiry.SRB_Cmd = SC_HA_INQUIRY;
    Check(StackMovedBy(send, &inquiry) == 0, "SendASPI32Command leaves its argument to the caller (cdecl)");

    if (kind == "sim")
        CheckSimulatedBus(supportInfo, send);
    else
        CheckPassThrough(supportInfo, send);
    std::printf("%s library: %s\n", kind.c_str(), failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
