// Every command's request block as the drive receives it.
#include "sim_fixture.h"

namespace tamro::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

class Commands : public SimBus {
protected:
    // The one request that `run` sent, after checking its common fields.
    static constexpr int kAnyResult = -99;
    SimTraceEntry Sent(const std::function<int()>& run, int expected = 0) {
        sim_trace_clear();
        const int result = run();
        if (expected != kAnyResult) {
            EXPECT_EQ(result, expected);
        }
        const auto trace = Trace();
        EXPECT_EQ(trace.size(), 1u);
        if (trace.empty()) return {};
        const SimTraceEntry& e = trace.front();
        EXPECT_EQ(e.ha, 0);
        EXPECT_EQ(e.target, 0);
        EXPECT_EQ(e.lun, 0);
        EXPECT_EQ(e.sense_len, 48);
        EXPECT_EQ(e.post_proc, Aspi().completionEvent->Handle());
        return e;
    }

    static Bytes Key(const char* key) { return Bytes(key, key + 7); }

    std::uint8_t buffer[65536] = {};
};

TEST_F(Commands, StandardCommandsCarryTheirFixedCdbs) {
    const struct {
        const char* name;
        std::function<int(std::uint8_t*)> run;
        Bytes cdb;
        std::uint8_t flags;
        std::uint32_t length;
    } rows[] = {
        {"TestUnitReady", [](std::uint8_t*) { return TestUnitReady(0, 0); }, {0, 0, 0, 0, 0, 0}, 0x40, 0},
        {"Inquiry6", [](std::uint8_t* b) { return Inquiry6(0, 0, b); }, {0x12, 0, 0, 0, 0x50, 0}, 0x48, 80},
        {"StartStopUnit start", [](std::uint8_t*) { return StartStopUnit(0, 0, 1); }, {0x1B, 0, 0, 0, 1, 0}, 0x40, 0},
        {"ReadCapacity10", [](std::uint8_t* b) { return ReadCapacity10(0, 0, b); },
         {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 0x48, 8},
        {"ReadDefectData10 primary", [](std::uint8_t* b) { return ReadDefectData10(0, 0, 0, b); },
         {0x37, 0, 0x15, 0, 0, 0, 0, 0, 4, 0}, 0x48, 4},
        {"ReadDefectData10 grown", [](std::uint8_t* b) { return ReadDefectData10(0, 0, 1, b); },
         {0x37, 0, 0x0D, 0, 0, 0, 0, 0, 4, 0}, 0x48, 4},
        {"ReadDefectData10 any non-zero flag", [](std::uint8_t* b) { return ReadDefectData10(0, 0, 0x100, b); },
         {0x37, 0, 0x0D, 0, 0, 0, 0, 0, 4, 0}, 0x48, 4},
        {"Rezero6", [](std::uint8_t*) { return Rezero6(0, 0); }, {0x01, 0, 0, 0, 0, 0}, 0x40, 0},
        {"Seek10", [](std::uint8_t*) { return Seek10(0, 0, 0x000A1B2C); },
         {0x2B, 0, 0x00, 0x0A, 0x1B, 0x2C, 0, 0, 0, 0}, 0x40, 0},
        {"Read10", [](std::uint8_t* b) { return Read10(0, 0, 0x00012345, 512, 16, b); },
         {0x28, 0, 0x00, 0x01, 0x23, 0x45, 0, 0x00, 0x10, 0}, 0x48, 8192},
        {"Write10", [](std::uint8_t* b) { return Write10(0, 0, 0x000F4000, 512, 128, b); },
         {0x2A, 0, 0x00, 0x0F, 0x40, 0x00, 0, 0x00, 0x80, 0}, 0x50, 65536},
        {"Verify10", [](std::uint8_t*) { return Verify10(0, 0, 0x0000F000, 0xF000); },
         {0x2F, 0, 0x00, 0x00, 0xF0, 0x00, 0, 0xF0, 0x00, 0}, 0x40, 0},
        {"ModeSense6", [](std::uint8_t* b) { return ModeSense6(0, 0, b, 0x08, 24); },
         {0x1A, 0x08, 0x08, 0, 24, 0}, 0x48, 24},
        {"ModeSense6 page control bits kept", [](std::uint8_t* b) { return ModeSense6(0, 0, b, 0x41, 16); },
         {0x1A, 0x08, 0x41, 0, 16, 0}, 0x48, 16},
        // Last: a stopped drive answers NOT READY to what follows.
        {"StartStopUnit stop", [](std::uint8_t*) { return StartStopUnit(0, 0, 0); }, {0x1B, 0, 0, 0, 0, 0}, 0x40, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const SimTraceEntry e = Sent([&] { return row.run(buffer); });
        EXPECT_EQ(Cdb(e), row.cdb);
        EXPECT_EQ(e.flags, row.flags);
        EXPECT_EQ(e.buf_len, row.length);
        // The library gets a block and a buffer of the transport's own.
        if (row.length) {
            EXPECT_NE(e.buf, nullptr);
            EXPECT_NE(e.buf, buffer);
        } else {
            EXPECT_EQ(e.buf, nullptr);
        }
    }
}

TEST_F(Commands, DataIsCopiedInAndOut) {
    // Bytes the drive does not send keep what the caller had.
    std::memset(buffer, 0xA5, sizeof buffer);
    ASSERT_EQ(ModeSense6(0, 0, buffer, 0x01, 0x118), 0);
    EXPECT_EQ(buffer[4], 0x81);  // the page, PS bit set
    EXPECT_EQ(buffer[0x117], 0xA5);
    std::uint8_t read[1024];
    ASSERT_EQ(Read10(0, 0, 9, 512, 2, read), 0);
    std::uint8_t expected[1024];
    sim_read_pattern(9, 512, expected, sizeof expected);
    EXPECT_EQ(std::memcmp(read, expected, sizeof read), 0);
}

TEST_F(Commands, ATransferBeyondTheTransportsBufferIsNotSent) {
    sim_trace_clear();
    static std::uint8_t big[kTransferCapacity + 512];
    EXPECT_EQ(Read10(0, 0, 0, 512, kTransferCapacity / 512 + 1, big), -1);
    EXPECT_EQ(LastError(), "Error: Read(10): Invalid Length.");
    EXPECT_EQ(Slot().errorKind, 1);
    EXPECT_EQ(Write10(0, 0, 0, 0x80000000u, 2, big), -1);  // no 32-bit wrap to a small length
    EXPECT_EQ(sim_trace_count(), 0u);
    EXPECT_EQ(Read10(0, 0, 0, 512, kTransferCapacity / 512, big), 0);
}

TEST_F(Commands, ModeSelectSendsThePageBack) {
    ASSERT_EQ(ModeSense6(0, 0, buffer, 0x01, 16), 0);
    buffer[0] = 0;
    buffer[4] &= 0x7F;
    buffer[6] = static_cast<std::uint8_t>((buffer[6] & 0x2F) | 0x04);
    const SimTraceEntry e = Sent([&] { return ModeSelect6(0, 0, buffer, 16); });
    EXPECT_EQ(Cdb(e), (Bytes{0x15, 0x10, 0, 0, 16, 0}));
    EXPECT_EQ(e.flags, 0x50);
    EXPECT_EQ(e.buf_len, 16u);
    std::uint8_t page[12];
    ASSERT_EQ(sim_disk_mode_page(0, 0, 0x01, page, sizeof page), 12);
    EXPECT_EQ(page[2], buffer[6]);
}

TEST_F(Commands, ModeLengthsAboveAByteKeepOnlyTheLowByteInTheCdb) {
    SimTraceEntry e = Sent([&] { return ModeSense6(0, 0, buffer, 0x08, 0x118); }, kAnyResult);
    EXPECT_EQ(e.cdb[4], 0x18);
    EXPECT_EQ(e.buf_len, 0x118u);
    e = Sent([&] { return ModeSelect6(0, 0, buffer, 0x1FF); }, kAnyResult);
    EXPECT_EQ(e.cdb[4], 0xFF);
    EXPECT_EQ(e.buf_len, 0x1FFu);
}

TEST_F(Commands, VendorCommands) {
    SimTraceEntry e = Sent([] { return FactorySet10(0, 0, 1); });
    Bytes on{0xF0, 0};
    for (std::uint8_t b : Key(TAMRO_FACTORY_ON_KEY)) on.push_back(b);
    on.push_back(0);
    EXPECT_EQ(Cdb(e), on);
    EXPECT_EQ(e.flags, 0x40);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 1);

    e = Sent([&] { return GetSer10(0, 0, buffer); });
    EXPECT_EQ(Cdb(e), (Bytes{0xF9, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(e.buf_len, 12u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer + 4), 8), "SIM00000");

    e = Sent([&] { return GetHsp10(0, 0, buffer); });
    EXPECT_EQ(Cdb(e), (Bytes{0xF9, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(e.buf_len, 30u);

    e = Sent([&] { return GetLog10(0, 0, buffer); });
    EXPECT_EQ(Cdb(e), (Bytes{0xFD, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0}));
    EXPECT_EQ(e.buf_len, 32768u);
    EXPECT_EQ(e.flags, 0x48);

    // Sector 208 has no bits above 8: byte 4 holds the head alone.
    e = Sent([&] { return WriteSpecial(0, 0, buffer, 0xFFDB, 5, 208, 16); });
    EXPECT_EQ(Cdb(e), (Bytes{0xFA, 0, 0xFF, 0xDB, 0x05, 0xD0, 0, 16, 0, 0}));
    EXPECT_EQ(e.flags, 0x50);
    EXPECT_EQ(e.buf_len, 8192u);
    // Bits 8-9 of the sector go to bits 6-7 of byte 4; the head keeps 6 bits.
    e = Sent([&] { return WriteSpecial(0, 0, buffer, 0x0102, 0x7F, 0x3A5, 1); });
    EXPECT_EQ(Cdb(e), (Bytes{0xFA, 0, 0x01, 0x02, 0xFF, 0xA5, 0, 1, 0, 0}));
    EXPECT_EQ(e.buf_len, 512u);

    e = Sent([] { return FactorySet10(0, 0, 0); });
    Bytes off{0xF0, 0};
    for (std::uint8_t b : Key(TAMRO_FACTORY_OFF_KEY)) off.push_back(b);
    off.push_back(0);
    EXPECT_EQ(Cdb(e), off);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);

    // Any value but 1 switches factory mode off.
    e = Sent([] { return FactorySet10(0, 0, 2); });
    EXPECT_EQ(Cdb(e), off);
}

TEST_F(Commands, FactoryLabelsNameTheDirection) {
    SimFault f = NextFault(0xF0);
    f.ha_stat = 0x11;
    sim_add_fault(0, 0, &f);
    EXPECT_EQ(FactorySet10(0, 0, 1), -1);
    EXPECT_EQ(LastError(), "Factory Set(10): Selection timeout.");
    sim_add_fault(0, 0, &f);
    EXPECT_EQ(FactorySet10(0, 0, 0), -1);
    EXPECT_EQ(LastError(), "Factory ReSet(10): Selection timeout.");
}

TEST_F(Commands, LabelsOfTheRest) {
    const struct {
        int opcode;
        std::function<int(std::uint8_t*)> run;
        const char* message;
    } rows[] = {
        {0x12, [](std::uint8_t* b) { return Inquiry6(0, 0, b); }, "Inquiry(6): Selection timeout."},
        {0xF9, [](std::uint8_t* b) { return GetSer10(0, 0, b); }, "GetSer(10): Selection timeout."},
        {0x1B, [](std::uint8_t*) { return StartStopUnit(0, 0, 1); }, "Start/Stop Unit: Selection timeout."},
        {0x25, [](std::uint8_t* b) { return ReadCapacity10(0, 0, b); }, "Read Capacity: Selection timeout."},
        {0x37, [](std::uint8_t* b) { return ReadDefectData10(0, 0, 1, b); }, "ReadDefectData: Selection timeout."},
        {0xF9, [](std::uint8_t* b) { return GetHsp10(0, 0, b); }, "GetHsp(10): Selection timeout."},
        {0xFD, [](std::uint8_t* b) { return GetLog10(0, 0, b); }, "GetLog(10): Selection timeout."},
        {0xFA, [](std::uint8_t* b) { return WriteSpecial(0, 0, b, 1, 1, 1, 1); }, "Write Special: Selection timeout."},
        {0x2A, [](std::uint8_t* b) { return Write10(0, 0, 0, 512, 1, b); }, "Write(10): Selection timeout."},
        {0x2F, [](std::uint8_t*) { return Verify10(0, 0, 0, 1); }, "Verify: Selection timeout."},
        {0x1A, [](std::uint8_t* b) { return ModeSense6(0, 0, b, 1, 16); }, "Mode Sense: Selection timeout."},
        {0x15, [](std::uint8_t* b) { return ModeSelect6(0, 0, b, 16); }, "Mode Select: Selection timeout."},
        {0x3B, [](std::uint8_t*) { return WriteBuffer(0, 0, 16, 0); }, "Write Buffer: Selection timeout."},
    };
    for (const auto& row : rows) {
        SimFault f = NextFault(row.opcode);
        f.ha_stat = 0x11;
        sim_add_fault(0, 0, &f);
        EXPECT_EQ(row.run(buffer), -1);
        EXPECT_EQ(LastError(), row.message);
        sim_clear_faults();
    }
}

TEST_F(Commands, WriteBufferSendsTheImageSlice) {
    for (std::size_t i = 0; i < kMicrocodeCapacity; ++i) microcodeImage[i] = static_cast<std::uint8_t>(i * 7 + (i >> 11));
    const SimTraceEntry e = Sent([] { return WriteBuffer(0, 0, 0x8000, 0x10000); });
    EXPECT_EQ(Cdb(e), (Bytes{0x3B, 0x05, 0, 0x01, 0x00, 0x00, 0x00, 0x80, 0x00, 0}));
    EXPECT_EQ(e.flags, 0x50);
    EXPECT_EQ(e.buf_len, 0x8000u);
    EXPECT_NE(e.buf, microcodeImage + 0x10000);
    std::vector<std::uint8_t> image(0x18000);
    ASSERT_EQ(sim_disk_download_image(0, 0, image.data(), image.size()), 0x18000u);
    EXPECT_TRUE(std::equal(image.begin() + 0x10000, image.end(), microcodeImage + 0x10000));
}

TEST_F(Commands, WriteBufferNeverReadsPastTheImage) {
    sim_trace_clear();
    EXPECT_EQ(WriteBuffer(0, 0, 0x8000, kMicrocodeCapacity - 0x4000), -1);
    EXPECT_EQ(WriteBuffer(0, 0, 1, 0xFFFFFFFFu), -1);
    EXPECT_EQ(sim_trace_count(), 0u);
    EXPECT_EQ(Slot().errorKind, 1);
    EXPECT_EQ(WriteBuffer(0, 0, 0x4000, kMicrocodeCapacity - 0x4000), 0);
}

TEST_F(Commands, AddressesReachTheRightTarget) {
    sim_add_adapter("SIMASPI", "SECOND", 16, 15);
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    sim_add_disk(1, 12, &cfg);
    sim_trace_clear();
    EXPECT_EQ(Rezero6(1, 12), 0);
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].ha, 1);
    EXPECT_EQ(trace[0].target, 12);
}

}  // namespace
}  // namespace tamro::test
