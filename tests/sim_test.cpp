// The simulated bus driven directly through its ASPI entry points, with
// hand-built request blocks and a completion event of the test's own.
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

namespace {

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

std::uint32_t be(const std::uint8_t* p, int n) {
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
std::string Outcome(const Cmd& c) {
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

Bytes Cdb10(std::uint8_t op, std::uint32_t lba, std::uint16_t count) {
    return {op, 0, std::uint8_t(lba >> 24), std::uint8_t(lba >> 16), std::uint8_t(lba >> 8), std::uint8_t(lba),
            0, std::uint8_t(count >> 8), std::uint8_t(count), 0};
}

Bytes FactoryCdb(const char* key) {
    Bytes cdb(10, 0);
    cdb[0] = 0xF0;
    for (int i = 0; i < 7; ++i) cdb[std::size_t(i) + 2] = std::uint8_t(key[i]);
    return cdb;
}

const Bytes kGetSer{0xF9, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0};
const Bytes kGetHsp{0xF9, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0};
const Bytes kGetLog{0xFD, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0};
const Bytes kTestUnitReady{0x00, 0, 0, 0, 0, 0};

void Fill(SRB_ExecSCSICmd& s, int ha, int target, const Bytes& cdb, std::uint8_t flags, std::uint8_t* buf,
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

// ---- Adapters and devices ------------------------------------------------

TEST_F(Sim, SupportInfoReportsStatusAndAdapterCount) {
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0102u);
    sim_set_support_status(SS_ERR);
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0402u);
    sim_clear_bus();
    EXPECT_EQ(GetASPI32SupportInfo(), 0x0100u);
}

TEST_F(Sim, AdapterInquiryFieldsAndInvalidAdapters) {
    SRB_HAInquiry q{};
    q.SRB_HaId = 1;
    ASSERT_EQ(SendASPI32Command(&q), SS_COMP);
    EXPECT_EQ(q.SRB_Status, SS_COMP);
    EXPECT_EQ(q.HA_Count, 2);
    EXPECT_EQ(q.HA_SCSI_ID, 15);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(q.HA_ManagerId), 16), "SIMASPI         ");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(q.HA_Identifier), 16), "SIM-HBA 1       ");
    EXPECT_EQ(q.HA_Unique[0] | q.HA_Unique[1], 0);
    EXPECT_EQ(q.HA_Unique[3], 16);
    EXPECT_EQ(q.HA_Unique[4] | q.HA_Unique[5] << 8 | q.HA_Unique[6] << 16 | q.HA_Unique[7] << 24, 0x00100000);

    q = SRB_HAInquiry{};
    q.SRB_HaId = 2;
    EXPECT_EQ(SendASPI32Command(&q), SS_INVALID_HA);
    EXPECT_EQ(q.SRB_Status, SS_INVALID_HA);

    // Still counted, but answers nothing.
    sim_set_adapter_invalid(1, 1);
    EXPECT_EQ(GetASPI32SupportInfo() & 0xFF, 2u);
    q = SRB_HAInquiry{};
    q.SRB_HaId = 1;
    EXPECT_EQ(SendASPI32Command(&q), SS_INVALID_HA);
    SRB_GDEVBlock g{};
    g.SRB_Cmd = SC_GET_DEV_TYPE;
    g.SRB_HaId = 1;
    EXPECT_EQ(SendASPI32Command(&g), SS_INVALID_HA);
    EXPECT_EQ(Outcome(Exec(1, 0, kTestUnitReady)), "status 81 ha 00 targ 00");
}

TEST_F(Sim, DeviceTypes) {
    const struct {
        int ha, target, lun;
        std::uint32_t status;
        int type;
    } rows[] = {
        {0, 0, 0, SS_COMP, DTYPE_DASD},   {0, 3, 0, SS_COMP, DTYPE_CDROM}, {0, 7, 0, SS_NO_DEVICE, -1},
        {1, 15, 0, SS_NO_DEVICE, -1},     {1, 9, 0, SS_NO_DEVICE, -1},     {0, 0, 1, SS_NO_DEVICE, -1},
        {3, 0, 0, SS_INVALID_HA, -1},
    };
    for (const auto& r : rows) {
        SRB_GDEVBlock g{};
        g.SRB_Cmd = SC_GET_DEV_TYPE;
        g.SRB_HaId = std::uint8_t(r.ha);
        g.SRB_Target = std::uint8_t(r.target);
        g.SRB_Lun = std::uint8_t(r.lun);
        g.SRB_DeviceType = 0x77;
        EXPECT_EQ(SendASPI32Command(&g), r.status) << r.ha << "/" << r.target << "/" << r.lun;
        EXPECT_EQ(g.SRB_Status, r.status);
        if (r.type >= 0) {
            EXPECT_EQ(g.SRB_DeviceType, r.type);
        }
    }
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    EXPECT_EQ(sim_add_disk(0, 7, &cfg), -1) << "the adapter's own ID";
    EXPECT_EQ(sim_add_disk(0, 0, &cfg), -1) << "taken";
}

TEST_F(Sim, DefaultBusDisks) {
    const struct {
        int ha, target;
        const char* vendor;
        int generation;  // 0: GetLog fails
    } rows[] = {
        {0, 0, "HALCYON ", 4}, {0, 1, "COMPAQ  ", 1}, {0, 2, "UNISYS  ", 2}, {0, 4, "HALCYON ", 0},
        {0, 5, "OTHERCO ", 4}, {1, 0, "HP      ", 4}, {1, 1, "HALCYON ", 3},
    };
    const std::uint16_t lowest[] = {0, 0x1000, 0x2000, 0x2800}, highest[] = {0x0FFF, 0x1FFF, 0x27FF, 0xFFFF};
    std::set<std::string> serials;
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.ha << "/" << r.target);
        Cmd inq = In(r.ha, r.target, {0x12, 0, 0, 0, 80, 0}, 80);
        EXPECT_EQ(std::string(inq.data.begin() + 8, inq.data.begin() + 16), r.vendor);
        Factory(r.ha, r.target, true);
        Cmd ser = In(r.ha, r.target, kGetSer, 12);
        serials.insert(std::string(ser.data.begin() + 4, ser.data.end()));
        Cmd log = In(r.ha, r.target, kGetLog, 32768);
        if (r.generation == 0) {
            EXPECT_EQ(Outcome(log), "3/11h");
        } else {
            const std::uint32_t value = be(&log.data[6], 2);
            EXPECT_GE(value, lowest[r.generation - 1]);
            EXPECT_LE(value, highest[r.generation - 1]);
        }
        Factory(r.ha, r.target, false);
        Cmd cap = In(r.ha, r.target, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
        if (r.target == 1 && r.ha == 1) continue;  // the one that cannot spin up
        EXPECT_GE(be(&cap.data[0], 4), 4000000u);
        EXPECT_LE(be(&cap.data[0], 4), 72000000u);
    }
    EXPECT_EQ(serials.size(), std::size(rows));
    EXPECT_EQ(serials.count("HS0A1234"), 1u);
    EXPECT_EQ(Outcome(Exec(1, 1, {0x1B, 0, 0, 0, 1, 0})), "4/44h");
    // Nothing on the adapters' IDs past the seven disks and the CD-ROM.
    for (int ha = 0; ha < 2; ++ha)
        for (int t = 0; t < 16; ++t) {
            SRB_GDEVBlock g{};
            g.SRB_Cmd = SC_GET_DEV_TYPE;
            g.SRB_HaId = std::uint8_t(ha);
            g.SRB_Target = std::uint8_t(t);
            const bool listed = std::any_of(std::begin(rows), std::end(rows),
                                            [&](const auto& r) { return r.ha == ha && r.target == t; });
            EXPECT_EQ(SendASPI32Command(&g) == SS_COMP, listed || (ha == 0 && t == 3)) << ha << "/" << t;
        }
}

// ---- Completion ------------------------------------------------------------

TEST_F(Sim, AsyncCompletionFillsTheBlockThenSignals) {
    sim_set_service_time_us(20000);
    std::uint8_t buf[8] = {};
    SRB_ExecSCSICmd s;
    Fill(s, 0, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x48, buf, 8, ev.handle());
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(ev.take(0), 0u);
    ASSERT_EQ(ev.take(5000), 1u);
    EXPECT_EQ(s.SRB_Status, SS_COMP);
    EXPECT_EQ(be(buf, 4), 35566479u);
    EXPECT_EQ(be(buf + 4, 4), 512u);

    // Without the notify flag the block completes silently.
    sim_set_service_time_us(0);
    Fill(s, 0, 0, kTestUnitReady, 0, nullptr, 0, ev.handle());
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    for (int i = 0; i < 5000 && std::atomic_ref<std::uint8_t>(s.SRB_Status).load() == SS_PENDING; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(s.SRB_Status, SS_COMP);
    EXPECT_EQ(ev.take(20), 0u);
}

TEST_F(Sim, ImmediateModeCompletesInsideTheCall) {
    sim_set_completion(SIM_COMPLETE_IMMEDIATE);
    std::uint8_t buf[8] = {};
    SRB_ExecSCSICmd s;
    Fill(s, 1, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x48, buf, 8, ev.handle());
    EXPECT_EQ(SendASPI32Command(&s), SS_COMP);
    EXPECT_EQ(s.SRB_Status, SS_COMP);
    EXPECT_EQ(be(buf, 4), 35566479u);
    Fill(s, 0, 9, kTestUnitReady, 0x40, nullptr, 0, ev.handle());
    EXPECT_EQ(SendASPI32Command(&s), SS_ERR);
    EXPECT_EQ(s.SRB_HaStat, HASTAT_SEL_TO);
    EXPECT_EQ(ev.take(20), 0u);
}

TEST_F(Sim, QueuedRequestsAllCompleteInOrder) {
    // Enough requests behind a slow drive to outgrow the queue.
    sim_set_service_time_us(300);
    constexpr int kCount = 150;
    // An event per request: each completion signals its own request's event
    // exactly once, also where an event holds only one signal at a time.
    std::vector<SRB_ExecSCSICmd> srbs(kCount);
    std::vector<Bytes> bufs(kCount, Bytes(1024));
    std::vector<std::unique_ptr<Event>> events(kCount);
    for (int i = 0; i < kCount; ++i) {
        events[i] = std::make_unique<Event>();
        Fill(srbs[i], 0, 0, Cdb10(0x28, 1000u * i, 2), 0x48, bufs[i].data(), 1024, events[i]->handle());
        ASSERT_EQ(SendASPI32Command(&srbs[i]), SS_PENDING);
    }
    for (int i = 0; i < kCount; ++i) ASSERT_EQ(events[i]->take(5000), 1u) << i;
    for (int i = 0; i < kCount; ++i) EXPECT_EQ(events[i]->take(0), 0u) << i;
    EXPECT_EQ(ev.take(0), 0u);
    Bytes expect(1024);
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(srbs[i].SRB_Status, SS_COMP);
        sim_read_pattern(1000u * i, 512, expect.data(), expect.size());
        EXPECT_EQ(bufs[i], expect) << i;
    }
}

TEST_F(Sim, RequestBlockChecks) {
    EXPECT_EQ(Outcome(Exec(0, 9, kTestUnitReady)), "status 04 ha 11 targ 00");
    EXPECT_EQ(Outcome(Exec(1, 0, Cdb10(0x28, 0, 1), Dir::out, 512)), "status E0 ha 00 targ 00");
    EXPECT_EQ(Outcome(Exec(1, 0, Cdb10(0x2A, 0, 1), Dir::in, 512)), "status E0 ha 00 targ 00");
    EXPECT_EQ(Outcome(Exec(1, 0, {0x28, 0, 0, 0, 0, 0}, Dir::in, 512)), "status E0 ha 00 targ 00");
    // Neither direction bit: the command decides.
    Cmd c;
    Fill(c.srb, 1, 0, Cdb10(0x28, 0, 1), SRB_EVENT_NOTIFY, nullptr, 512, ev.handle());
    ASSERT_EQ(SendASPI32Command(&c.srb), SS_PENDING);
    ASSERT_EQ(ev.take(5000), 1u);
    EXPECT_EQ(Outcome(c), "status E0 ha 00 targ 00");  // length without a buffer
    EXPECT_EQ(Outcome(Exec(1, 0, Cdb10(0x28, 0, 1), Dir::none, 512)), "good");
    EXPECT_EQ(Outcome(Exec(1, 0, Cdb10(0x28, 0, 4096), Dir::in, 2u << 20)), "status E6 ha 00 targ 00");
}

// ---- Standard commands ------------------------------------------------------

TEST_F(Sim, InquiryByVendorClassAndLength) {
    Cmd sun = In(0, 0, {0x12, 0, 0, 0, 96, 0}, 96);
    EXPECT_EQ(sun.data[0], DTYPE_DASD);
    EXPECT_EQ(sun.data[4], 91);
    EXPECT_EQ(std::string(sun.data.begin() + 25, sun.data.begin() + 28), "SUN");
    EXPECT_NE(std::string(sun.data.begin() + 67, sun.data.begin() + 70), "EMC");
    Cmd emc = In(1, 1, {0x12, 0, 0, 0, 96, 0}, 96);
    EXPECT_EQ(std::string(emc.data.begin() + 67, emc.data.begin() + 70), "EMC");
    EXPECT_NE(std::string(emc.data.begin() + 25, emc.data.begin() + 28), "SUN");
    Cmd cd = In(0, 3, {0x12, 0, 0, 0, 36, 0}, 36);
    EXPECT_EQ(cd.data[0], DTYPE_CDROM);
    EXPECT_EQ(Outcome(In(0, 3, Cdb10(0x28, 0, 1), 512)), "5/20h");

    // The shortest of allocation length, buffer and data wins.
    Cmd shortAlloc = In(0, 0, {0x12, 0, 0, 0, 36, 0}, 80);
    EXPECT_NE(shortAlloc.data[35], 0xEE);
    EXPECT_EQ(shortAlloc.data[36], 0xEE);
    Cmd shortBuf = In(0, 0, {0x12, 0, 0, 0, 96, 0}, 20);
    EXPECT_EQ(Outcome(shortBuf), "good");
    EXPECT_EQ(std::string(shortBuf.data.begin() + 8, shortBuf.data.begin() + 15), "HALCYON");
}

TEST_F(Sim, StartStopAndNotReady) {
    EXPECT_EQ(Outcome(Exec(0, 0, {0x1B, 0, 0, 0, 0, 0})), "good");
    EXPECT_EQ(sim_disk_started(0, 0), 0);
    EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "2/04h");
    EXPECT_EQ(Outcome(In(0, 0, Cdb10(0x28, 0, 1), 512)), "2/04h");
    EXPECT_EQ(Outcome(Exec(0, 0, {0x1B, 0, 0, 0, 1, 0})), "good");
    EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good");
    EXPECT_EQ(Outcome(Exec(1, 1, {0x1B, 0, 0, 0, 1, 0})), "4/44h");
    EXPECT_EQ(sim_disk_started(1, 1), 0);
    EXPECT_EQ(Outcome(Exec(0, 0, {0xC5, 0, 0, 0, 0, 0})), "5/20h");
}

TEST_F(Sim, DefectListHeaders) {
    Cmd p = In(0, 0, {0x37, 0, 0x15, 0, 0, 0, 0, 0, 4, 0}, 4);
    EXPECT_EQ(p.data, (Bytes{0, 0x15, 0x09, 0xC0}));  // 312 defects * 8
    Cmd g = In(0, 0, {0x37, 0, 0x0D, 0, 0, 0, 0, 0, 4, 0}, 4);
    EXPECT_EQ(g.data, (Bytes{0, 0x0D, 0, 8}));
    // Allocation length bounds the transfer, not the reported list length.
    Cmd two = In(0, 0, {0x37, 0, 0x15, 0, 0, 0, 0, 0, 12, 0}, 32);
    EXPECT_EQ(be(&two.data[2], 2), 2496u);
    EXPECT_NE(Bytes(two.data.begin() + 4, two.data.begin() + 12), Bytes(8, 0xEE));
    EXPECT_EQ(two.data[12], 0xEE);
}

TEST_F(Sim, ModeSenseVariants) {
    Bytes cur = ModeSense(0x01, 16);
    EXPECT_EQ(Bytes(cur.begin(), cur.begin() + 6), (Bytes{15, 0, 0, 0, 0x81, 0x0A}));
    EXPECT_EQ(cur[6] & 0xC0, 0xC0);  // shipped with automatic reallocation
    Bytes caching = ModeSense(0x08, 24);
    EXPECT_EQ(Bytes(caching.begin(), caching.begin() + 6), (Bytes{23, 0, 0, 0, 0x88, 0x12}));

    Bytes mask = ModeSense(0x41, 16);
    EXPECT_EQ(mask[6], 0xFF);
    EXPECT_EQ(mask[8], 0x00);

    Cmd withBlocks = In(0, 0, {0x1A, 0x00, 0x01, 0, 0xFF, 0}, 0xFF);
    EXPECT_EQ(withBlocks.data[0], 23);
    EXPECT_EQ(withBlocks.data[3], 8);
    EXPECT_EQ(be(&withBlocks.data[9], 3), 512u);
    EXPECT_EQ(withBlocks.data[12], 0x81);

    Cmd shortAlloc = In(0, 0, {0x1A, 0x08, 0x08, 0, 10, 0}, 24);
    EXPECT_EQ(shortAlloc.data[0], 23);
    EXPECT_EQ(shortAlloc.data[6], 0x04);  // write cache on
    EXPECT_EQ(shortAlloc.data[10], 0xEE);
    EXPECT_EQ(Outcome(In(0, 0, {0x1A, 0x08, 0x1C, 0, 0xFF, 0}, 0xFF)), "5/24h");
}

TEST_F(Sim, ModeSelectRoundTripAndErrors) {
    // The edits the run makes to page 01h.
    Bytes page = ModeSense(0x01, 16);
    page.resize(16);
    page[0] = 0;
    page[4] &= 0x7F;
    page[6] = std::uint8_t((page[6] & 0x2F) | 0x04);
    const Bytes select{0x15, 0x10, 0, 0, 16, 0};
    EXPECT_EQ(Outcome(Exec(0, 0, select, Dir::out, 16, page)), "good");
    EXPECT_EQ(ModeSense(0x01, 16)[6], page[6]);
    std::uint8_t stored[12];
    ASSERT_EQ(sim_disk_mode_page(0, 0, 0x01, stored, sizeof stored), 12);
    EXPECT_EQ(stored[2], 0x04);
    EXPECT_EQ(ModeSense(0x81, 16)[6], 0xC0);  // defaults stay

    // Each refused with 5/26h, leaving the page as it was.
    const std::pair<int, std::uint8_t> bad[] = {
        {0, 15},    // mode data length must be 0
        {4, 0x81},  // PS set
        {5, 0x0B},  // wrong page length
        {9, 0x01},  // a field that cannot change
        {4, 0x1C},  // a page the drive lacks
    };
    for (const auto& [at, value] : bad) {
        Bytes list = page;
        list[6] = 0x00;
        list[std::size_t(at)] = value;
        EXPECT_EQ(Outcome(Exec(0, 0, select, Dir::out, 16, list)), "5/26h") << at;
        EXPECT_EQ(ModeSense(0x01, 16)[6], page[6]) << at;
    }
    EXPECT_EQ(Outcome(Exec(0, 0, {0x15, 0x10, 0, 0, 12, 0}, Dir::out, 12, page)), "5/1Ah");
    EXPECT_EQ(Outcome(Exec(0, 0, {0x15, 0x00, 0, 0, 16, 0}, Dir::out, 16, page)), "5/24h");
}

TEST_F(Sim, LbaRangeChecks) {
    constexpr std::uint32_t last = 35566479;
    EXPECT_EQ(Outcome(In(0, 0, Cdb10(0x28, last, 1), 512)), "good");
    Cmd over = In(0, 0, Cdb10(0x28, last - 1, 4), 2048);
    EXPECT_EQ(Outcome(over), "5/21h");
    EXPECT_EQ(over.srb.SenseArea[0], 0xF0);
    EXPECT_EQ(over.info(), last + 1);
    Cmd seek = Exec(0, 0, Cdb10(0x2B, last + 5, 0));
    EXPECT_EQ(Outcome(seek), "5/21h");
    EXPECT_EQ(seek.info(), last + 5);
    EXPECT_EQ(Outcome(Exec(0, 0, Cdb10(0x2F, last - 15, 16))), "good");
    EXPECT_EQ(Outcome(Exec(0, 0, Cdb10(0x2F, last - 15, 17))), "5/21h");
    EXPECT_EQ(Outcome(Exec(0, 0, Cdb10(0x2A, 0xFFFFFFFF, 1), Dir::out, 512)), "5/21h");
}

TEST_F(Sim, ReadDataAndShortBuffers) {
    Cmd r = In(0, 0, Cdb10(0x28, 0x1234, 16), 8192);
    EXPECT_EQ(Outcome(r), "good");
    Bytes expect(8192);
    sim_read_pattern(0x1234, 512, expect.data(), expect.size());
    EXPECT_EQ(r.data, expect);
    EXPECT_EQ(be(&r.data[512], 4), 0x1235u);

    Cmd shortRead = In(0, 0, Cdb10(0x28, 0x1234, 16), 1000);
    EXPECT_EQ(Outcome(shortRead), "status 04 ha 12 targ 00");
    EXPECT_EQ(shortRead.data, Bytes(expect.begin(), expect.begin() + 1000));
    EXPECT_EQ(Outcome(Exec(0, 0, Cdb10(0x2A, 0, 2), Dir::out, 512)), "status 04 ha 12 targ 00");
    EXPECT_EQ(Outcome(In(0, 0, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 4)), "status 04 ha 12 targ 00");
}

// ---- Vendor commands --------------------------------------------------------

TEST_F(Sim, FactoryModeGatesVendorCommands) {
    EXPECT_EQ(Outcome(In(0, 0, kGetSer, 12)), "5/20h");
    EXPECT_EQ(Outcome(In(0, 0, kGetLog, 32768)), "5/20h");
    EXPECT_EQ(Outcome(Exec(0, 0, {0xFA, 0, 0xFF, 0xDB, 2, 0xD0, 0, 1, 0, 0}, Dir::out, 512)), "5/20h");
    EXPECT_EQ(Outcome(Exec(0, 0, FactoryCdb("WRONGKY"))), "5/24h");
    std::string nearMiss = TAMRO_FACTORY_ON_KEY;
    nearMiss[6] ^= 1;
    EXPECT_EQ(Outcome(Exec(0, 0, FactoryCdb(nearMiss.c_str()))), "5/24h");
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);

    Factory(0, 0, true);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 1);
    Cmd ser = In(0, 0, kGetSer, 12);
    EXPECT_EQ(std::string(ser.data.begin() + 4, ser.data.end()), "HS0A1234");
    EXPECT_EQ(Outcome(Exec(0, 0, {0xFA, 0, 0xFF, 0xDB, 2, 0xD0, 0, 16, 0, 0}, Dir::out, 8192)), "good");
    EXPECT_EQ(Outcome(In(0, 0, {0xF9, 0x07, 0x01, 0, 0, 0, 0, 0, 0, 0}, 12)), "5/24h");
    Factory(0, 0, false);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
    EXPECT_EQ(Outcome(In(0, 0, kGetSer, 12)), "5/20h");
}

TEST_F(Sim, LogLayoutByGeneration) {
    sim_clear_bus();
    ASSERT_EQ(sim_add_adapter("SIMASPI", "GEN", 8, 7), 0);
    const std::size_t offsets[] = {344, 344, 496, 692}, spacing[] = {56, 56, 56, 72};
    const int entries[] = {4, 90, 90, 90};
    std::uint8_t sense[48] = {0xF0, 0, 0x03, 0, 0, 0x12, 0x34, 40, 0, 0, 0, 0, 0x11};
    for (int g = 1; g <= 4; ++g) {
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        cfg.log_generation = g;
        ASSERT_EQ(sim_add_disk(0, g, &cfg), 0);
        ASSERT_EQ(sim_disk_set_log_entry(0, g, entries[g - 1] - 1, 0x11223344, 0x55667788, sense), 0);
        EXPECT_EQ(sim_disk_set_log_entry(0, g, entries[g - 1], 1, 2, sense), -1);

        SCOPED_TRACE(g);
        const Bytes log = GetLog(0, g);
        const std::size_t off = offsets[g - 1];
        EXPECT_EQ(log[off - 4], 'S');
        EXPECT_EQ(Bytes(log.begin() + off, log.begin() + off + 56), Bytes(56, 0)) << "entries start empty";
        const std::size_t at = off + spacing[g - 1] * std::size_t(entries[g - 1] - 1);
        EXPECT_EQ(Bytes(log.begin() + at, log.begin() + at + 8), (Bytes{0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55}));
        EXPECT_EQ(Bytes(log.begin() + at + 8, log.begin() + at + 56), Bytes(sense, sense + 48));
    }
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    cfg.log_signature = 0;
    ASSERT_EQ(sim_add_disk(0, 0, &cfg), 0);
    EXPECT_EQ(GetLog(0, 0)[688], 0);
}

TEST_F(Sim, SmartValuesSitWhereTheirLayoutPutsThem) {
    // 0/0 generation 4 with 8 heads, 1/1 generation 3 with 10, 0/1 generation 1 with 4.
    const Bytes c = GetLog(0, 0), b = GetLog(1, 1), a = GetLog(0, 1);
    for (std::size_t pos : {60, 70, 74, 240, 244}) EXPECT_NE(be(&c[pos], 4), 0u) << pos;
    for (int h = 0; h < 8; ++h) {
        EXPECT_NE(be(&c[78 + 8 * h], 2), 0u) << h;   // read errors
        EXPECT_NE(be(&c[248 + 8 * h], 2), 0u) << h;  // seek errors
    }
    EXPECT_EQ(be(&c[78 + 8 * 8], 2), 0u) << "no ninth head";
    EXPECT_NE(be(&c[410], 2) * c[418], 0u);
    EXPECT_NE(be(&b[218 + 8 * 5], 2) * be(&b[380], 2) * b[388], 0u);
    EXPECT_NE(be(&a[218], 2) * be(&a[228], 2) * a[236], 0u);
    EXPECT_EQ(be(&a[226], 2), 0u) << "layout A keeps one seek error total";

    // The default bus logs recovered errors the drive can re-read.
    const std::uint8_t* e = &c[692 + 8];
    EXPECT_EQ(e[0], 0xF0);
    EXPECT_EQ(e[2] & 0x0F, 1);
    EXPECT_LE(be(e + 3, 4), 35566479u);
    EXPECT_EQ(c[692 + 72 * 2 + 8], 0) << "a couple, not more";
}

TEST_F(Sim, HeadCountByteByGeneration) {
    sim_clear_bus();
    ASSERT_EQ(sim_add_adapter("SIMASPI", "HSP", 8, 7), 0);
    for (int g = 1; g <= 4; ++g) {
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        cfg.log_generation = g;
        cfg.heads = 6;
        ASSERT_EQ(sim_add_disk(0, g, &cfg), 0);
        Factory(0, g, true);
        Cmd hsp = In(0, g, kGetHsp, 30);
        Factory(0, g, false);
        ASSERT_EQ(Outcome(hsp), "good");
        EXPECT_EQ(hsp.data[g == 4 ? 14 : 8], 5) << g;
        EXPECT_NE(hsp.data[g == 4 ? 8 : 14], 5) << g;
    }
}

TEST_F(Sim, WriteBufferChunksReassemble) {
    Bytes image(100000);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 13 + (i >> 9));
    // Sent from the end backwards, as the download does.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sent;
    for (std::uint32_t r = 100000; r != 0;) {
        const std::uint32_t n = std::min<std::uint32_t>(r, 32768);
        r -= n;
        const Bytes cdb{0x3B, 0x05, 0, std::uint8_t(r >> 16), std::uint8_t(r >> 8), std::uint8_t(r),
                        std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n), 0};
        // Not an image the drive takes: refused once it is whole, at offset 0.
        EXPECT_EQ(Outcome(Exec(0, 0, cdb, Dir::out, n, Bytes(image.begin() + r, image.begin() + r + n))),
                  r == 0 ? "5/26h" : "good");
        sent.emplace_back(r, n);
    }
    ASSERT_EQ(sim_disk_download_chunk_count(0, 0), 4);
    for (int i = 0; i < 4; ++i) {
        std::uint32_t off = 0, len = 0;
        ASSERT_EQ(sim_disk_download_chunk(0, 0, i, &off, &len), 0);
        EXPECT_EQ(std::make_pair(off, len), sent[std::size_t(i)]);
    }
    Bytes got(image.size() + 10, 0xEE);
    EXPECT_EQ(sim_disk_download_image(0, 0, got.data(), got.size()), image.size());
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 100000), image);
    EXPECT_EQ(Outcome(Exec(0, 0, {0x3B, 0x02, 0, 0, 0, 0, 0, 0, 16, 0}, Dir::out, 16)), "5/24h");
    EXPECT_EQ(sim_disk_download_chunk_count(0, 0), 4);
}

TEST_F(Sim, MicrocodeIsTakenOnlyWholeAndForTheDrivesFamily) {
    const std::uint8_t digits[] = "123456789";
    EXPECT_EQ(sim_microcode::Crc32(digits, 9), 0xCBF43926u);  // CRC-32's check value
    Bytes code(9000);
    for (std::size_t i = 0; i < code.size(); ++i) code[i] = std::uint8_t(i * 7 + (i >> 8));
    const Bytes good = sim_microcode::MakeImage("CV-7", code.data(), code.size());  // 0/0 is a CV-7
    Bytes badSum = good;
    badSum.back() ^= 1;
    const struct {
        const char* what;
        Bytes image;
        int field;
    } rows[] = {
        {"another family", sim_microcode::MakeImage("CV-5", code.data(), code.size()), 4},
        {"checksum", badSum, 16},
        {"cut short", Bytes(good.begin(), good.end() - 1), 12},
        {"no header", code, 0},
        {"good after refused ones", good, -1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        Cmd last;
        for (std::uint32_t at = std::uint32_t(r.image.size()); at != 0;) {  // from the end backwards
            const std::uint32_t n = std::min<std::uint32_t>(at, 4096);
            at -= n;
            const Bytes cdb{0x3B, 0x05, 0, 0, std::uint8_t(at >> 8), std::uint8_t(at), 0, std::uint8_t(n >> 8),
                            std::uint8_t(n), 0};
            last = Exec(0, 0, cdb, Dir::out, n, Bytes(r.image.begin() + at, r.image.begin() + at + n));
            if (at != 0) {
                EXPECT_EQ(Outcome(last), "good");
            }
        }
        if (r.field < 0) {
            EXPECT_EQ(Outcome(last), "good");
        } else {
            EXPECT_EQ(Outcome(last), "5/26h");
            EXPECT_EQ(last.srb.SenseArea[15], 0x80);
            EXPECT_EQ(be(&last.srb.SenseArea[16], 2), std::uint32_t(r.field));
        }
    }
}

// ---- Faults -------------------------------------------------------------------

TEST_F(Sim, MediaFaults) {
    SimMediaFault m;
    sim_media_fault_init(&m);
    m.first_lba = 0x2000;
    m.last_lba = 0x2003;
    m.times = 1;
    ASSERT_EQ(sim_add_media_fault(0, 0, &m), 0);
    Cmd hit = In(0, 0, Cdb10(0x28, 0x1FFE, 16), 8192);
    EXPECT_EQ(Outcome(hit), "3/11h");
    EXPECT_EQ(hit.srb.SenseArea[0], 0xF0);
    EXPECT_EQ(hit.info(), 0x2000u);
    EXPECT_EQ(hit.srb.SenseArea[7], 40);
    Bytes good(1024);
    sim_read_pattern(0x1FFE, 512, good.data(), good.size());
    EXPECT_EQ(Bytes(hit.data.begin(), hit.data.begin() + 1024), good) << "blocks before the fault arrive";
    EXPECT_EQ(Outcome(In(0, 0, Cdb10(0x28, 0x1FFE, 16), 8192)), "good") << "times 1";

    sim_media_fault_init(&m);
    m.first_lba = 100;
    m.last_lba = 100;
    m.opcode = 0x2F;
    m.sense_key = 1;
    m.asc = 0x17;
    m.info_valid = 0;
    ASSERT_EQ(sim_add_media_fault(0, 0, &m), 0);
    EXPECT_EQ(Outcome(In(0, 0, Cdb10(0x28, 100, 1), 512)), "good") << "only VERIFY";
    for (int i = 0; i < 2; ++i) {
        Cmd v = Exec(0, 0, Cdb10(0x2F, 90, 20));
        EXPECT_EQ(Outcome(v), "1/17h");
        EXPECT_EQ(v.srb.SenseArea[0], 0x70);
        EXPECT_EQ(v.info(), 0u);
    }
    sim_clear_faults();
    EXPECT_EQ(Outcome(Exec(0, 0, Cdb10(0x2F, 90, 20))), "good");
}

TEST_F(Sim, CommandFaultOverrides) {
    const struct {
        const char* what;
        void (*set)(SimFault&);
        const char* outcome;
    } rows[] = {
        {"ha_stat", [](SimFault& f) { f.ha_stat = HASTAT_TIMEOUT; }, "status 04 ha 09 targ 00"},
        {"srb_status", [](SimFault& f) { f.srb_status = SS_ABORTED; }, "status 02 ha 00 targ 00"},
        {"busy", [](SimFault& f) { f.targ_stat = STATUS_BUSY; }, "status 04 ha 00 targ 08"},
        {"sense",
         [](SimFault& f) {
             f.sense_key = 1;
             f.asc = 0x1C;
             f.sense_byte2_flags = 0x20;  // ILI
             f.info_valid = 1;
             f.info = 0xCAFE;
         },
         "1/1Ch"},
    };
    Cmd c;
    for (const auto& r : rows) {
        SimFault f;
        sim_fault_init(&f);
        f.opcode = 0x3B;
        f.times = 1;
        r.set(f);
        sim_add_fault(0, 0, &f);
        c = Exec(0, 0, {0x3B, 0x05, 0, 0, 0, 0, 0, 0, 16, 0}, Dir::out, 16);
        EXPECT_EQ(Outcome(c), r.outcome) << r.what;
        EXPECT_EQ(sim_disk_download_chunk_count(0, 0), 0) << r.what << ": a failing command is not carried out";
        if (c.srb.SRB_TargStat != STATUS_CHKCOND) {
            EXPECT_EQ(c.srb.SenseArea[0], 0) << r.what;
        }
    }
    EXPECT_EQ(c.srb.SenseArea[2], 0x21);
    EXPECT_EQ(c.info(), 0xCAFEu);

    SimFault f;
    sim_fault_init(&f);
    f.opcode = 0xF0;
    f.execute = 1;
    f.ha_stat = HASTAT_DO_DU;
    sim_add_fault(0, 0, &f);
    EXPECT_EQ(Outcome(Exec(0, 0, FactoryCdb(TAMRO_FACTORY_ON_KEY))), "status 04 ha 12 targ 00");
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 1) << "carried out before reporting";

    // Sense goes no further than SRB_SenseLen.
    sim_unit_attention(0, 0, 1);
    Fill(c.srb, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    std::memset(c.srb.SenseArea, 0xEE, sizeof c.srb.SenseArea);
    c.srb.SRB_SenseLen = 18;
    ASSERT_EQ(SendASPI32Command(&c.srb), SS_PENDING);
    ASSERT_EQ(ev.take(5000), 1u);
    EXPECT_EQ(Outcome(c), "6/29h");
    EXPECT_EQ(c.srb.SenseArea[17], 0);
    EXPECT_EQ(c.srb.SenseArea[18], 0xEE);
}

TEST_F(Sim, FaultCountingSkipTimesAndAnyOpcode) {
    SimFault f;
    sim_fault_init(&f);
    f.opcode = 0x2B;
    f.skip = 2;
    f.times = 2;
    f.sense_key = 3;
    f.asc = 0x02;
    sim_add_fault(0, 0, &f);
    std::string seen;
    for (int i = 0; i < 6; ++i) {
        seen += Outcome(Exec(0, 0, Cdb10(0x2B, 0, 0))) == "good" ? '.' : 'X';
        EXPECT_EQ(Outcome(Exec(0, 0, {0x01, 0, 0, 0, 0, 0})), "good") << "other opcodes pass";
    }
    EXPECT_EQ(seen, "..XX..");

    sim_fault_init(&f);
    f.ha_stat = HASTAT_BUS_RESET;  // every command, for ever
    sim_add_fault(1, 0, &f);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Outcome(Exec(1, 0, {0x01, 0, 0, 0, 0, 0})), "status 04 ha 0E targ 00");
    EXPECT_EQ(Outcome(Exec(0, 2, {0x01, 0, 0, 0, 0, 0})), "good") << "faults stay on their disk";

    ASSERT_EQ(sim_unit_attention(0, 1, 2), 0);
    EXPECT_EQ(Outcome(Exec(0, 1, kTestUnitReady)), "6/29h");
    EXPECT_EQ(Outcome(In(0, 1, {0x12, 0, 0, 0, 36, 0}, 36)), "6/29h");
    EXPECT_EQ(Outcome(Exec(0, 1, kTestUnitReady)), "good");
    EXPECT_EQ(sim_unit_attention(0, 3, 1), -1) << "no disk there";

    sim_clear_faults();
    EXPECT_EQ(Outcome(Exec(1, 0, {0x01, 0, 0, 0, 0, 0})), "good");
}

TEST_F(Sim, NeverCompleteLeavesTheBlockAlone) {
    SimFault f;
    sim_fault_init(&f);
    f.opcode = 0x00;
    f.times = 1;
    f.never_complete = 1;
    sim_add_fault(0, 0, &f);
    SRB_ExecSCSICmd s;
    Fill(s, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    s.SRB_HaStat = 0x5A;
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(ev.take(100), 0u);
    EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good") << "the bus goes on";
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(s.SRB_HaStat, 0x5A);

    sim_set_completion(SIM_COMPLETE_IMMEDIATE);
    sim_add_fault(0, 0, &f);
    Fill(s, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    EXPECT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(ev.take(20), 0u);
}

TEST_F(Sim, ALateRequestIsCarriedOutButCompletesWhenDue) {
    for (int mode : {SIM_COMPLETE_ASYNC, SIM_COMPLETE_IMMEDIATE}) {
        SCOPED_TRACE(mode);
        sim_set_completion(mode);
        SimFault f;
        sim_fault_init(&f);
        f.opcode = 0x28;
        f.times = 1;
        f.complete_after_ms = 60;
        sim_add_fault(0, 0, &f);
        Bytes buf(1024, 0xEE);
        SRB_ExecSCSICmd s;
        Fill(s, 0, 0, Cdb10(0x28, 77, 2), SRB_EVENT_NOTIFY | SRB_DIR_IN, buf.data(), 1024, ev.handle());
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
        // Meanwhile the block and the buffer are left alone, and the bus serves others.
        EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good");
        EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
        EXPECT_EQ(buf[0], 0xEE);

        ASSERT_EQ(ev.take(5000), 1u);
        EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(60));
        EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_COMP);
        Bytes expected(1024);
        sim_read_pattern(77, 512, expected.data(), expected.size());
        EXPECT_EQ(buf, expected);
    }
}

TEST_F(Sim, AbortEndsAHeldRequestUnlessTheFaultRefusesIt) {
    SimFault f;
    sim_fault_init(&f);
    f.opcode = 0x00;
    f.times = 1;
    f.never_complete = 1;
    sim_add_fault(0, 0, &f);
    SRB_ExecSCSICmd s;
    Fill(s, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good");  // queued after it: it is held now
    SRB_Abort a{};
    a.SRB_Cmd = SC_ABORT_SRB;
    a.SRB_ToAbort = &s;
    EXPECT_EQ(SendASPI32Command(&a), SS_COMP);
    EXPECT_EQ(a.SRB_Status, SS_COMP);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_ABORTED);
    EXPECT_EQ(ev.take(1000), 1u);
    // Nothing left to abort.
    EXPECT_EQ(SendASPI32Command(&a), SS_ABORT_FAIL);

    // Refused: the late request still completes, with its own outcome.
    f.never_complete = 0;
    f.complete_after_ms = 50;
    f.abort_fails = 1;
    sim_add_fault(0, 0, &f);
    Fill(s, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good");
    EXPECT_EQ(SendASPI32Command(&a), SS_ABORT_FAIL);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(ev.take(5000), 1u);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_COMP);
}

// ---- Trace --------------------------------------------------------------------

TEST_F(Sim, TraceKeepsEveryRequestAsReceived) {
    std::uint8_t buf[8192];
    SRB_ExecSCSICmd s;
    Fill(s, 0, 0, Cdb10(0x28, 0x10, 16), 0x48, buf, sizeof buf, ev.handle());
    s.SRB_SenseLen = 14;
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    ASSERT_EQ(ev.take(5000), 1u);
    Exec(0, 9, kTestUnitReady);
    Exec(6, 0, kTestUnitReady);
    Exec(0, 3, {0x12, 0, 0, 0, 36, 0}, Dir::in, 36);

    ASSERT_EQ(sim_trace_count(), 4u);
    SimTraceEntry e;
    ASSERT_EQ(sim_trace_get(0, &e), 0);
    EXPECT_EQ(e.flags, 0x48);
    EXPECT_EQ(e.cdb_len, 10);
    EXPECT_EQ(e.sense_len, 14);
    EXPECT_EQ(Bytes(e.cdb, e.cdb + 10), Cdb10(0x28, 0x10, 16));
    EXPECT_EQ(e.buf_len, 8192u);
    EXPECT_EQ(e.buf, buf);
    EXPECT_EQ(e.post_proc, ev.handle());
    const int where[][2] = {{0, 0}, {0, 9}, {6, 0}, {0, 3}};
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(sim_trace_get(i, &e), 0);
        EXPECT_EQ(e.ha, where[i][0]);
        EXPECT_EQ(e.target, where[i][1]);
    }
    EXPECT_EQ(sim_trace_get(4, &e), -1);
}

#ifdef _WIN32
// The DLL's export table as the loader sees it: the two ASPI entry points
// and the control interface, nothing of the simulator's inside.
TEST(SimLibrary, ExportsTheEntryPointsAndTheControlInterfaceOnly) {
    const auto* base = reinterpret_cast<const std::uint8_t*>(GetModuleHandleA("wnaspi32.dll"));
    ASSERT_NE(base, nullptr);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> found;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const std::string name = reinterpret_cast<const char*>(base + names[i]);
        found.insert(name);
        EXPECT_TRUE(name == "GetASPI32SupportInfo" || name == "SendASPI32Command" || name.starts_with("sim_"))
            << name;
    }
    EXPECT_EQ(found.count("GetASPI32SupportInfo"), 1u);
    EXPECT_EQ(found.count("SendASPI32Command"), 1u);
    EXPECT_EQ(found.count("sim_reset_default"), 1u);
    EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames);  // nothing by ordinal only
}
#endif

}  // namespace
