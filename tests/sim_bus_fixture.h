// The simulated bus driven directly through its ASPI entry points: hand-built
// request blocks, a completion event of the test's own, and the fixture.
#pragma once

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim_control.h"
#include "sim_microcode.h"
#include "transport/srb.h"

extern "C" std::uint32_t GetASPI32SupportInfo(void);
extern "C" std::uint32_t SendASPI32Command(void* srb);

namespace simbus {

using Bytes = std::vector<std::uint8_t>;

// What a program puts into SRB_PostProc: an eventfd on Linux, which counts
// every signal, and an auto-reset Win32 event on Windows, which holds at
// most one.
class Event {
public:
#ifdef _WIN32
    Event() : handle_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~Event() { CloseHandle(handle_); }
    void* handle() const { return handle_; }
    // Signals since the last take (at most 1 here), waiting up to ms for one.
    std::uint64_t take(int ms) { return WaitForSingleObject(handle_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0; }
#else
    Event() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}
    ~Event() { close(fd_); }
    void* handle() const { return reinterpret_cast<void*>(static_cast<std::intptr_t>(fd_)); }
    // Signals counted since the last take, waiting up to ms for the first.
    std::uint64_t take(int ms) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return 0;
        std::uint64_t v = 0;
        return read(fd_, &v, sizeof v) == sizeof v ? v : 0;
    }
#endif
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

private:
#ifdef _WIN32
    HANDLE handle_;
#else
    int fd_;
#endif
};

inline std::uint32_t be(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | p[i];
    return v;
}

enum class Dir { none, in, out };

struct Cmd {
    SRB_ExecSCSICmd srb{};
    Bytes data;
    std::uint8_t key() const { return srb.SenseArea[2] & 0x0F; }
    std::uint32_t info() const { return be(srb.SenseArea + 3, 4); }
};

// "good", "K/AAh" for a CHECK CONDITION, or the three status bytes.
inline std::string Outcome(const Cmd& c) {
    const SRB_ExecSCSICmd& s = c.srb;
    char text[48];
    if (s.SRB_Status == SS_COMP && s.SRB_HaStat == 0 && s.SRB_TargStat == 0) return "good";
    if (s.SRB_Status == SS_ERR && s.SRB_HaStat == 0 && s.SRB_TargStat == STATUS_CHKCOND)
        std::snprintf(text, sizeof text, "%X/%02Xh", c.key(), s.SenseArea[12]);
    else
        std::snprintf(text, sizeof text, "status %02X ha %02X targ %02X", s.SRB_Status, s.SRB_HaStat,
                      s.SRB_TargStat);
    return text;
}

inline Bytes Cdb10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
    return {op, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16), std::uint8_t(lba >> 8), std::uint8_t(lba),
            0, std::uint8_t(count >> 8), std::uint8_t(count), 0};
}

inline Bytes FactoryCdb(const char* key) {
    Bytes cdb(10, 0);
    cdb[0] = 0xF0;
    for (int i = 0; i < 7; ++i) cdb[std::size_t(i) + 2] = std::uint8_t(key[i]);
    return cdb;
}

inline const Bytes kGetSer{0xF9, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0};
inline const Bytes kGetHsp{0xF9, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0};
inline const Bytes kGetLog{0xFD, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0};
inline const Bytes kTestUnitReady{0x00, 0, 0, 0, 0, 0};

inline void Fill(SRB_ExecSCSICmd& s, int ha, int target, const Bytes& cdb, std::uint8_t flags, std::uint8_t* buf,
                 std::uint32_t len, void* post) {
    s = SRB_ExecSCSICmd{};
    s.SRB_Cmd = SC_EXEC_SCSI_CMD;
    s.SRB_HaId = static_cast<std::uint8_t>(ha);
    s.SRB_Flags = flags;
    s.SRB_Target = static_cast<std::uint8_t>(target);
    s.SRB_BufLen = len;
    s.SRB_BufPointer = buf;
    s.SRB_SenseLen = kSenseLength;
    s.SRB_CDBLen = static_cast<std::uint8_t>(cdb.size());
    std::memcpy(s.CDBByte, cdb.data(), cdb.size());
    s.SRB_PostProc = post;
}

class Sim : public ::testing::Test {
protected:
    void SetUp() override {
        sim_reset_default();
        sim_set_service_time_us(0);
        sim_trace_clear();
    }
    void TearDown() override { sim_reset_default(); }

    // Sends one request the way the program does and waits for it.
    Cmd Exec(int ha, int target, const Bytes& cdb, Dir dir = Dir::none, std::uint32_t len = 0, Bytes out = {}) {
        Cmd c;
        c.data = dir == Dir::out ? std::move(out) : Bytes(len, 0xEE);
        c.data.resize(len, 0);
        const std::uint8_t flags = SRB_EVENT_NOTIFY | (dir == Dir::in ? SRB_DIR_IN : dir == Dir::out ? SRB_DIR_OUT : 0);
        Fill(c.srb, ha, target, cdb, flags, len ? c.data.data() : nullptr, len, ev.handle());
        if (SendASPI32Command(&c.srb) == SS_PENDING) {
            EXPECT_EQ(ev.take(5000), 1u) << "no completion signal";
        }
        return c;
    }
    Cmd In(int ha, int target, const Bytes& cdb, std::uint32_t len) { return Exec(ha, target, cdb, Dir::in, len); }

    void Factory(int ha, int target, bool on) {
        ASSERT_EQ(Outcome(Exec(ha, target, FactoryCdb(on ? TAMRO_FACTORY_ON_KEY : TAMRO_FACTORY_OFF_KEY))), "good");
    }
    Bytes GetLog(int ha, int target) {
        Factory(ha, target, true);
        Cmd c = In(ha, target, kGetLog, 32768);
        Factory(ha, target, false);
        EXPECT_EQ(Outcome(c), "good");
        return c.data;
    }
    Bytes ModeSense(int page, std::uint8_t alloc = 0xFF) {
        Cmd c = In(0, 0, {0x1A, 0x08, std::uint8_t(page), 0, alloc, 0}, alloc);
        EXPECT_EQ(Outcome(c), "good");
        return c.data;
    }

    Event ev;
};

}  // namespace simbus
