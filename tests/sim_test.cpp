// The simulated bus driven directly through its ASPI entry points, with
// hand-built request blocks and a completion event of the test's own.
#include "sim_bus_fixture.h"

namespace simbus {

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

}  // namespace simbus
