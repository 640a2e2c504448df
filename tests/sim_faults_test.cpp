// The simulated bus's fault injection, late completion, aborts and trace,
// driven through its own ASPI entry points.
#include "sim_bus_fixture.h"

namespace simbus {

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
    EXPECT_EQ(sim_held_requests(0, 0), 1);
    EXPECT_EQ(sim_release_late(0, 0, -1), 0) << "not a late one";
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(s.SRB_HaStat, 0x5A);

    sim_set_completion(SIM_COMPLETE_IMMEDIATE);
    sim_add_fault(0, 0, &f);
    Fill(s, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    EXPECT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(ev.take(20), 0u);
}

TEST_F(Sim, ALateRequestIsCarriedOutButCompletesWhenDue) {
    Bytes expected(1024);
    sim_read_pattern(77, 512, expected.data(), expected.size());
    for (int mode : {SIM_COMPLETE_ASYNC, SIM_COMPLETE_IMMEDIATE}) {
        SCOPED_TRACE(mode);
        sim_set_completion(mode);
        // Held until released: meanwhile the block and the buffer are left
        // alone, and the bus serves others.
        SimFault f;
        sim_fault_init(&f);
        f.opcode = 0x28;
        f.times = 1;
        f.complete_after_ms = SIM_LATE_UNTIL_RELEASED;
        sim_add_fault(0, 0, &f);
        Bytes buf(1024, 0xEE);
        SRB_ExecSCSICmd s;
        Fill(s, 0, 0, Cdb10(0x28, 77, 2), SRB_EVENT_NOTIFY | SRB_DIR_IN, buf.data(), 1024, ev.handle());
        ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
        EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good");  // queued after it: it is held now
        EXPECT_EQ(sim_held_requests(0, 0), 1);
        EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
        EXPECT_EQ(buf[0], 0xEE);
        EXPECT_EQ(sim_release_late(0, 1, -1), 0) << "another target's";
        EXPECT_EQ(sim_release_late(0, 0, 0x00), 0) << "another operation code";
        ASSERT_EQ(sim_release_late(0, 0, 0x28), 1);
        EXPECT_EQ(ev.take(0), 1u);
        EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_COMP);
        EXPECT_EQ(buf, expected);
        EXPECT_EQ(sim_held_requests(0, 0), 0);

        // Due after 60 ms: it completes by itself, not before.
        f.complete_after_ms = 60;
        sim_add_fault(0, 0, &f);
        std::fill(buf.begin(), buf.end(), 0xEE);
        Fill(s, 0, 0, Cdb10(0x28, 77, 2), SRB_EVENT_NOTIFY | SRB_DIR_IN, buf.data(), 1024, ev.handle());
        const auto sent = std::chrono::steady_clock::now();
        ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
        ASSERT_EQ(ev.take(5000), 1u);
        EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(60));
        EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_COMP);
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
    f.complete_after_ms = SIM_LATE_UNTIL_RELEASED;
    f.abort_fails = 1;
    sim_add_fault(0, 0, &f);
    Fill(s, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, ev.handle());
    ASSERT_EQ(SendASPI32Command(&s), SS_PENDING);
    EXPECT_EQ(Outcome(Exec(0, 0, kTestUnitReady)), "good");
    EXPECT_EQ(SendASPI32Command(&a), SS_ABORT_FAIL);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_PENDING);
    ASSERT_EQ(sim_release_late(0, 0, -1), 1);
    EXPECT_EQ(ev.take(0), 1u);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(s.SRB_Status).load(), SS_COMP);
}

// ---- Targets side by side ---------------------------------------------------

// A request in service on one target holds back the later ones to that
// target only: another target's request, sent after it, completes first.
TEST_F(Sim, ATargetIsServedWhileAnotherIsBusy) {
    sim_set_service_time_us(1000000);
    Event firstEv, secondEv;
    std::uint8_t capacity[8] = {};
    SRB_ExecSCSICmd first, second;
    Fill(first, 0, 0, Cdb10(0x25, 0, 0), SRB_EVENT_NOTIFY | SRB_DIR_IN, capacity, 8, firstEv.handle());
    ASSERT_EQ(SendASPI32Command(&first), SS_PENDING);
    sim_set_service_time_us(0);
    Fill(second, 0, 0, kTestUnitReady, SRB_EVENT_NOTIFY, nullptr, 0, secondEv.handle());
    ASSERT_EQ(SendASPI32Command(&second), SS_PENDING);

    EXPECT_EQ(Outcome(In(1, 0, Cdb10(0x25, 0, 0), 8)), "good");
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(first.SRB_Status).load(), SS_PENDING);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(second.SRB_Status).load(), SS_PENDING) << "waits for its own target";

    // The same target keeps the order sent, whatever each one's service time.
    ASSERT_EQ(secondEv.take(5000), 1u);
    EXPECT_EQ(std::atomic_ref<std::uint8_t>(first.SRB_Status).load(), SS_COMP);
    EXPECT_EQ(firstEv.take(0), 1u);
    EXPECT_EQ(second.SRB_Status, SS_COMP);
    EXPECT_EQ(be(capacity, 4), 35566479u);
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

}  // namespace simbus
