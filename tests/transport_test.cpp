// The ASPI binding and the execution step with its variants, against the
// simulated bus.
#include <algorithm>
#include <chrono>

#include "sim_fixture.h"

namespace tamro::test {
namespace {

using namespace std::chrono;

// ---- Binding ------------------------------------------------------------

class Binding : public SimBus {};

TEST_F(Binding, ReportsEachFailingStepWithItsMessage) {
    testing::ReleaseAspiBinding();
    testing::SetAspiModuleName("wnaspi32_not_installed");
    EXPECT_STREQ(BindAspi(), " ASPI, LoadLibraryEx(wnaspi32) failed!!");
    testing::SetAspiModuleName("wnaspi_no_support_info");
    EXPECT_STREQ(BindAspi(), "ASPI,GetProcAddress(GetASPI32Sup)failed");
    testing::SetAspiModuleName("wnaspi_no_send_command");
    EXPECT_STREQ(BindAspi(), "ASPI,GetProcAddress(SendASPI32Com)failed");
    // A failed binding leaves nothing half bound.
    EXPECT_EQ(Aspi().sendCommand, nullptr);
    EXPECT_EQ(Aspi().library, nullptr);
    testing::SetAspiModuleName("wnaspi32");
    EXPECT_EQ(BindAspi(), nullptr);
    EXPECT_NE(Aspi().sendCommand, nullptr);
}

TEST_F(Binding, ScanTextsKeepTheirLeadingBlanks) {
    EXPECT_EQ(std::string(kAspiInitError), std::string(19, ' ') + "Can't ASPI Init Error.");
    EXPECT_EQ(std::string(kHaInquiryError), std::string(19, ' ') + "Can't get HA-Inquiry.");
}

TEST_F(Binding, InitReportsAdapterCountIncludingZero) {
    sim_add_adapter("SIMASPI", "SECOND", 16, 15);
    EXPECT_EQ(AspiInit(), 2);
    sim_clear_bus();
    EXPECT_EQ(AspiInit(), 0);
}

TEST_F(Binding, InitFailsWithoutSuccessStatusOrEvent) {
    sim_set_support_status(SS_ERR);
    EXPECT_EQ(AspiInit(), -1);
    sim_set_support_status(SS_COMP);
    testing::ReleaseAspiBinding();
    ASSERT_EQ(BindAspi(), nullptr);
    testing::SetEventFactory([] { return std::unique_ptr<platform::CompletionEvent>(); });
    EXPECT_EQ(AspiInit(), -1);
}

TEST_F(Binding, RepeatedBindingKeepsTheOneEvent) {
    void* handle = Aspi().completionEvent->Handle();
    ASSERT_EQ(BindAspi(), nullptr);
    ASSERT_GE(AspiInit(), 1);
    EXPECT_EQ(Aspi().completionEvent->Handle(), handle);
}

TEST_F(Binding, HaInquiryCopiesTheIdentifiersOrFails) {
    sim_add_adapter("MGR", "ADAPTER", 16, 15);
    std::uint8_t out[48] = {};
    EXPECT_EQ(HaInquiry(1, out), 2);
    EXPECT_EQ(std::memcmp(out, "MGR", 3), 0);
    EXPECT_EQ(std::memcmp(out + 16, "ADAPTER", 7), 0);
    EXPECT_EQ(out[32 + 3], 16);

    std::uint8_t untouched[48] = {};
    sim_set_adapter_invalid(1, 1);
    EXPECT_EQ(HaInquiry(1, untouched), -1);
    EXPECT_EQ(HaInquiry(9, untouched), -1);
    for (std::uint8_t b : untouched) ASSERT_EQ(b, 0);
}

TEST_F(Binding, DeviceTypesAsTheScanSeesThem) {
    sim_add_device(0, 3, DTYPE_CDROM);
    sim_add_device(0, 4, DTYPE_SEQD);
    EXPECT_EQ(GetDevType(0, 0), 0);
    EXPECT_EQ(GetDevType(0, 3), 5);
    EXPECT_EQ(GetDevType(0, 4), 1);
    EXPECT_EQ(GetDevType(0, 1), 255);
    EXPECT_EQ(GetDevType(0, 7), 255);  // the adapter itself
    EXPECT_EQ(GetDevType(4, 0), -1);
}

// ---- Outcome tables of the variants ------------------------------------

enum class Cmd { Read, StartStop, DefectData, WriteBuffer, WriteSpecial, Probe };

struct Outcome {
    const char* name;
    int haStat, srbStatus, targStat, senseKey;
    std::uint8_t byte2Flags;
    // Expected result per command, in the order of Cmd.
    int result[6];
    // Expected message per command ("" = the slot is left alone); %s = label.
    const char* message;
    int errorKind;
};

void PrintTo(const Outcome& o, std::ostream* os) { *os << o.name; }

const char* Label(Cmd c) {
    switch (c) {
        case Cmd::Read: return "Read(10)";
        case Cmd::StartStop: return "Start/Stop Unit";
        case Cmd::DefectData: return "ReadDefectData";
        case Cmd::WriteBuffer: return "Write Buffer";
        case Cmd::WriteSpecial: return "Write Special";
        case Cmd::Probe: return "";
    }
    return "";
}

int Opcode(Cmd c) {
    switch (c) {
        case Cmd::Read: return 0x28;
        case Cmd::StartStop: return 0x1B;
        case Cmd::DefectData: return 0x37;
        case Cmd::WriteBuffer: return 0x3B;
        case Cmd::WriteSpecial: return 0xFA;
        case Cmd::Probe: return 0x00;
    }
    return -1;
}

int RunCommand(Cmd c) {
    static std::uint8_t buffer[65536];
    switch (c) {
        case Cmd::Read: return Read10(0, 0, 0, 512, 16, buffer);
        case Cmd::StartStop: return StartStopUnit(0, 0, 1);
        case Cmd::DefectData: return ReadDefectData10(0, 0, 0, buffer);
        case Cmd::WriteBuffer: return WriteBuffer(0, 0, 4096, 0);
        case Cmd::WriteSpecial: {
            FactorySet10(0, 0, 1);
            const int r = WriteSpecial(0, 0, buffer, 0xFFDB, 1, 0xD0, 16);
            FactorySet10(0, 0, 0);
            return r;
        }
        case Cmd::Probe: return TestUnitReady(0, 0);
    }
    return 99;
}

std::string Expand(const char* format, const char* label) {
    char text[128];
    std::snprintf(text, sizeof text, format, label);
    return text;
}

class Variants : public SimBus, public ::testing::WithParamInterface<Outcome> {};

TEST_P(Variants, JudgeEachOutcomeAsTheirTableSays) {
    const Outcome& o = GetParam();
    for (int c = 0; c < 6; ++c) {
        const Cmd cmd = static_cast<Cmd>(c);
        SCOPED_TRACE(Label(cmd));
        ClearDriveTable();
        std::strcpy(Slot().lastError, "untouched");
        sim_clear_faults();
        SimFault f = NextFault(Opcode(cmd));
        f.ha_stat = o.haStat;
        f.srb_status = o.srbStatus;
        f.targ_stat = o.targStat;
        f.sense_key = o.senseKey;
        f.asc = 0x11;
        f.sense_byte2_flags = o.byte2Flags;
        ASSERT_EQ(sim_add_fault(0, 0, &f), 0);

        EXPECT_EQ(RunCommand(cmd), o.result[c]);
        const bool writesSlot = o.result[c] == -1 && cmd != Cmd::Probe;
        if (writesSlot) {
            EXPECT_EQ(LastError(), Expand(o.message, Label(cmd)));
            EXPECT_EQ(Slot().errorKind, o.errorKind);
        } else {
            EXPECT_EQ(LastError(), "untouched");
            EXPECT_EQ(Slot().errorKind, 0);
        }
        if (writesSlot && o.errorKind == 2) {
            EXPECT_EQ(Slot().senseData[2] & 0x0F, o.senseKey);
            EXPECT_EQ(Slot().senseData[12], 0x11);
            EXPECT_EQ(Slot().failedCdb[0], Opcode(cmd));
        } else {
            EXPECT_EQ(Slot().senseData[0], 0);
            EXPECT_EQ(Slot().failedCdb[0], 0);
        }
    }
}

//                      Read StSt Dfct WBuf WSpc Probe
INSTANTIATE_TEST_SUITE_P(
    Outcomes, Variants,
    ::testing::Values(
        Outcome{"Good", -1, -1, -1, -1, 0, {0, 0, 0, 0, 0, 0}, "", 0},
        Outcome{"OverrunWithGood", 0x12, -1, 0, -1, 0, {0, -1, -1, -1, -1, -1},
                "%s: Data overrun/underrun occured.", 1},
        Outcome{"SelectionTimeout", 0x11, -1, -1, -1, 0, {-1, -1, -1, -1, -1, -1},
                "%s: Selection timeout.", 1},
        Outcome{"ErrStatusWithGood", -1, SS_ERR, 0, -1, 0, {0, 0, 0, 0, 0, 0}, "", 0},
        Outcome{"AbortedWithGood", -1, SS_ABORTED, 0, -1, 0, {-1, 0, 0, 0, 0, 0},
                "%s: SCSI command aborted.", 1},
        Outcome{"MediumError", -1, -1, -1, 3, 0, {-1, -1, -1, -1, -1, 1}, "Error: %s: Check Condition.", 2},
        Outcome{"RecoveredError", -1, -1, -1, 1, 0, {-1, -1, -1, 0, 0, 1}, "Error: %s: Check Condition.", 2},
        Outcome{"RecoveredWithIncorrectLength", -1, -1, -1, 1, 0x20, {-1, -1, -1, 0, 0, 1},
                "Error: %s: Check Condition.", 2},
        Outcome{"Busy", -1, -1, STATUS_BUSY, -1, 0, {-1, -1, -1, -1, -1, 8}, "Error: %s: Invalid Status.", 1},
        Outcome{"ReservationConflict", -1, -1, 0x18, -1, 0, {-1, -1, -1, -1, -1, -1},
                "Error: %s: Invalid Status.", 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Messages ------------------------------------------------------------

class Messages : public SimBus {};

TEST_F(Messages, HostAdapterStatusTable) {
    const std::pair<int, const char*> rows[] = {
        {0x09, "Read(10): Host adapter timeout."},
        {0x0B, "Read(10): Host adapter command timeout."},
        {0x0D, "Read(10): Message reject received."},
        {0x0E, "Read(10): SCSI Bus reset occured."},
        {0x0F, "Read(10): SCSI Bus parity error occured."},
        {0x10, "Read(10): Adapter failed at Request Sense."},
        {0x11, "Read(10): Selection timeout."},
        {0x13, "Read(10): unexpected Busfree occured."},
        {0x14, "Read(10): Target Bus sequence error."},
        {0x01, "Read(10): Host adapter error 01."},
        {0xA5, "Read(10): Host adapter error a5."},
    };
    std::uint8_t buffer[8192];
    for (const auto& [status, text] : rows) {
        SimFault f = NextFault(0x28);
        f.ha_stat = status;
        sim_add_fault(0, 0, &f);
        EXPECT_EQ(Read10(0, 0, 0, 512, 16, buffer), -1);
        EXPECT_EQ(LastError(), text);
        EXPECT_EQ(Slot().errorKind, 1);
    }
}

TEST_F(Messages, RequestStatusTable) {
    const std::pair<int, const char*> rows[] = {
        {0x02, "Inquiry(6): SCSI command aborted."},
        {0x03, "Inquiry(6): unable to abort SCSI command."},
        {0x82, "Inquiry(6): SCSI device not installed."},
        {0xE0, "Inquiry(6): Invalid parameter in SRB."},
        {0xE1, "Inquiry(6): Buffer alignment problem."},
        {0xE2, "Inquiry(6): Device access security violetion."},
        {0xE6, "Inquiry(6): Buffer size too big to handle."},
        {0x81, "Inquiry(6): SCSI error 81."},
        {0xFF, "Inquiry(6): SCSI error ff."},
    };
    std::uint8_t buffer[80];
    for (const auto& [status, text] : rows) {
        SimFault f = NextFault(0x12);
        f.srb_status = status;
        sim_add_fault(0, 0, &f);
        EXPECT_EQ(Inquiry6(0, 0, buffer), -1);
        EXPECT_EQ(LastError(), text);
        EXPECT_EQ(Slot().errorKind, 1);
    }
    // SS_ERR has a text of its own, though the standard step lets it pass.
    ReportSrbStatus(0x04, "Inquiry(6)");
    EXPECT_EQ(LastError(), "Inquiry(6): SCSI command completed with error.");
}

TEST_F(Messages, LongLabelsAreCutToTheField) {
    std::string label(200, 'x');
    ReportHaStat(0x77, label.c_str());
    EXPECT_EQ(std::strlen(Slot().lastError), 63u);
}

TEST_F(Messages, OnlyCheckConditionReplacesSenseAndCdb) {
    std::uint8_t buffer[8192];
    SimFault cc = NextFault(0x28);
    cc.sense_key = 3;
    cc.asc = 0x11;
    sim_add_fault(0, 0, &cc);
    ASSERT_EQ(Read10(0, 0, 7, 512, 16, buffer), -1);
    const std::vector<std::uint8_t> sense(Slot().senseData, Slot().senseData + 48);
    EXPECT_EQ(sense[0] & 0x7F, 0x70);
    EXPECT_EQ(sense[7], 40);  // fixed format, 48 bytes in all

    SimFault transport = NextFault(0x2F);
    transport.ha_stat = 0x11;
    sim_add_fault(0, 0, &transport);
    ASSERT_EQ(Verify10(0, 0, 0, 1), -1);
    EXPECT_EQ(LastError(), "Verify: Selection timeout.");
    EXPECT_EQ(Slot().errorKind, 1);
    EXPECT_EQ(std::vector<std::uint8_t>(Slot().senseData, Slot().senseData + 48), sense);
    EXPECT_EQ(Slot().failedCdb[0], 0x28);

    // Success changes neither the message nor the kind.
    ASSERT_EQ(Read10(0, 0, 0, 512, 16, buffer), 0);
    EXPECT_EQ(LastError(), "Verify: Selection timeout.");
    EXPECT_EQ(Slot().errorKind, 1);
}

TEST_F(Messages, FailuresLandInTheCurrentSlotOnly) {
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    sim_add_disk(0, 2, &cfg);
    SimFault f = NextFault(0x01);
    f.ha_stat = 0x11;
    sim_add_fault(0, 2, &f);
    currentSlot = 3;
    EXPECT_EQ(Rezero6(0, 2), -1);
    EXPECT_STREQ(DriveTable[3].lastError, "Rezero(6): Selection timeout.");
    EXPECT_STREQ(DriveTable[0].lastError, "");
    // Past the table (the slot display leaves currentSlot at 7): no slot is hit.
    currentSlot = 7;
    sim_add_fault(0, 2, &f);
    EXPECT_EQ(Rezero6(0, 2), -1);
    for (const DriveSlot& s : DriveTable) EXPECT_NE(std::string(s.lastError), "x");
    EXPECT_STREQ(CurrentDrive().lastError, "Rezero(6): Selection timeout.");
    EXPECT_STREQ(DriveTable[6].lastError, "");
}

// ---- Unit attention ------------------------------------------------------

class UnitAttention : public SimBus {};

TEST_F(UnitAttention, OneIsReissuedSilently) {
    std::uint8_t buffer[8];
    sim_unit_attention(0, 0, 1);
    EXPECT_EQ(ReadCapacity10(0, 0, buffer), 0);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Slot().errorKind, 0);
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 2u);
    EXPECT_EQ(Cdb(trace[0]), Cdb(trace[1]));
    EXPECT_EQ(buffer[7] | buffer[6] << 8, 512);
}

TEST_F(UnitAttention, TheSecondAnswerIsWhatTheCallerSees) {
    sim_unit_attention(0, 0, 1);
    SimFault f;
    sim_fault_init(&f);
    f.opcode = 0x2B;
    f.times = 1;
    f.sense_key = 4;
    f.asc = 0x15;
    sim_add_fault(0, 0, &f);
    EXPECT_EQ(Seek10(0, 0, 5), -1);
    EXPECT_EQ(LastError(), "Error: Seek(10): Check Condition.");
    EXPECT_EQ(Slot().senseData[12], 0x15);
}

TEST_F(UnitAttention, EndlessAttentionGivesUp) {
    sim_unit_attention(0, 0, 1000);
    EXPECT_EQ(Rezero6(0, 0), -1);
    EXPECT_EQ(LastError(), "Error: Rezero(6): Unit Attention repeated.");
    EXPECT_EQ(Slot().errorKind, 2);
    EXPECT_EQ(Slot().senseData[12], 0x29);
    EXPECT_EQ(Slot().failedCdb[0], 0x01);
    EXPECT_EQ(sim_trace_count(), static_cast<std::size_t>(kMaxUnitAttentionReissues + 1));

    // The probe gives up too, as a CHECK CONDITION, and writes nothing.
    ClearDriveTable();
    EXPECT_EQ(TestUnitReady(0, 0), 1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Slot().errorKind, 0);
}

TEST_F(UnitAttention, ProbeReissuesToo) {
    sim_unit_attention(0, 0, 1);
    EXPECT_EQ(TestUnitReady(0, 0), 0);
    EXPECT_EQ(sim_trace_count(), 2u);
}

// ---- Waiting -------------------------------------------------------------

class Waiting : public SimBus {};

TEST_F(Waiting, ImmediateCompletionSkipsTheWait) {
    sim_set_completion(SIM_COMPLETE_IMMEDIATE);
    std::uint8_t buffer[80];
    event->forced = platform::WaitResult::TimedOut;  // would fail if waited on
    EXPECT_EQ(Inquiry6(0, 0, buffer), 0);
    EXPECT_EQ(event->waits, 0);
    EXPECT_EQ(std::memcmp(buffer + 8, "HALCYON", 7), 0);
}

TEST_F(Waiting, AsynchronousCompletionIsWaitedFor) {
    std::uint8_t buffer[80] = {};
    EXPECT_EQ(Inquiry6(0, 0, buffer), 0);
    EXPECT_EQ(event->waits, 1);
    EXPECT_EQ(std::memcmp(buffer + 8, "HALCYON", 7), 0);
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 1u);
    EXPECT_EQ(trace[0].post_proc, Aspi().completionEvent->Handle());
}

TEST_F(Waiting, EachKindWaitsItsOwnTime) {
    testing::SetAspiWaits({30, 120, 70});
    std::uint8_t buffer[8192];
    const struct {
        std::function<int()> run;
        int opcode;
        std::uint32_t waitMs;
        const char* message;
    } rows[] = {
        {[&] { return Read10(0, 0, 0, 512, 16, buffer); }, 0x28, 30, "Error: Read(10): Event Timeout."},
        {[&] { return StartStopUnit(0, 0, 0); }, 0x1B, 120, "Error: Start/Stop Unit: Event Timeout."},
        {[&] { return WriteBuffer(0, 0, 512, 0); }, 0x3B, 70, "Error: Write Buffer: Event Timeout."},
    };
    for (const auto& row : rows) {
        SimFault f = NextFault(row.opcode);
        f.never_complete = 1;
        sim_add_fault(0, 0, &f);
        const std::size_t firstWait = event->timeouts.size();
        const auto start = steady_clock::now();
        EXPECT_EQ(row.run(), -1);
        const auto waited = duration_cast<milliseconds>(steady_clock::now() - start).count();
        ASSERT_GT(event->timeouts.size(), firstWait);
        EXPECT_EQ(event->timeouts[firstWait], row.waitMs);
        EXPECT_GE(waited, static_cast<long>(row.waitMs));
        EXPECT_EQ(LastError(), row.message);
        EXPECT_EQ(Slot().errorKind, 1);
    }
    // A timed-out probe writes nothing.
    ClearDriveTable();
    SimFault f = NextFault(0x00);
    f.never_complete = 1;
    sim_add_fault(0, 0, &f);
    EXPECT_EQ(TestUnitReady(0, 0), -1);
    EXPECT_EQ(LastError(), "");
}

TEST_F(Waiting, RealWaitsAreTheProgramsOwn) {
    const AspiWaits real;
    EXPECT_EQ(real.standardMs, 10000u);
    EXPECT_EQ(real.longMs, 100000u);
    EXPECT_EQ(real.downloadMs, 60000u);
}

TEST_F(Waiting, AbandonedWait) {
    event->forced = platform::WaitResult::Abandoned;
    std::uint8_t buffer[12];
    FactorySet10(0, 0, 1);
    EXPECT_EQ(LastError(), "Error: Factory Set(10): Event Abandoned.");
    EXPECT_EQ(GetSer10(0, 0, buffer), -1);
    EXPECT_EQ(LastError(), "Error: GetSer(10): Event Abandoned.");
    EXPECT_EQ(Slot().errorKind, 1);
    ClearDriveTable();
    EXPECT_EQ(TestUnitReady(0, 0), -1);
    EXPECT_EQ(LastError(), "");
}

TEST_F(Waiting, FailedWaitJudgesTheBlockAsItStands) {
    testing::SetAspiWaits({20, 20, 20});
    event->forced = platform::WaitResult::Failed;
    // The request never completes, so the block still reads SS_PENDING: that
    // must not pass for a success, not even where the status is not examined.
    SimFault f;
    sim_fault_init(&f);
    f.never_complete = 1;
    sim_add_fault(0, 0, &f);
    std::uint8_t buffer[8192];
    EXPECT_EQ(Read10(0, 0, 0, 512, 16, buffer), -1);
    EXPECT_EQ(LastError(), "Read(10): SCSI error 00.");
    EXPECT_EQ(StartStopUnit(0, 0, 1), -1);
    EXPECT_EQ(LastError(), "Start/Stop Unit: SCSI error 00.");
    EXPECT_EQ(Slot().errorKind, 1);
}

// ---- Requests that outlive their wait ----------------------------------------

// Requests are carried out inside the call, so that a late or never-ending
// one is the bus's at once, whatever the load of the machine.
class LateCompletion : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        sim_set_completion(SIM_COMPLETE_IMMEDIATE);
    }
};

TEST_F(LateCompletion, AStaleSignalNeverDecidesTheNextRequest) {
    testing::SetAspiWaits({30, 30, 30, 10});
    std::uint8_t read[8192];
    std::memset(read, 0x5A, sizeof read);
    CompleteLate(0x28, SIM_LATE_UNTIL_RELEASED);
    EXPECT_EQ(Read10(0, 0, 0, 512, 16, read), -1);
    EXPECT_EQ(LastError(), "Error: Read(10): Event Timeout.");
    EXPECT_EQ(Slot().errorKind, 1);
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), 1u);

    // The read completes once the inquiry is waited for, the inquiry only
    // after the next wait: the read's signal is taken for a stale one and
    // the inquiry is judged by its own completion.
    testing::SetAspiWaits({500, 500, 500, 10});
    CompleteLate(0x12, SIM_LATE_UNTIL_RELEASED);
    const int waitsBefore = event->waits;
    event->beforeWait = [] { sim_release_late(0, 0, -1); };
    std::uint8_t inquiry[80] = {};
    EXPECT_EQ(Inquiry6(0, 0, inquiry), 0);
    EXPECT_EQ(event->waits - waitsBefore, 2);
    EXPECT_EQ(std::memcmp(inquiry + 8, "HALCYON", 7), 0);
    // The late data went to the transport's block, never to the caller.
    EXPECT_TRUE(std::all_of(read, read + sizeof read, [](std::uint8_t b) { return b == 0x5A; }));
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), 1u);
}

TEST_F(LateCompletion, ATimedOutRequestIsAbortedAndItsBlockUsedAgain) {
    testing::SetAspiWaits({20, 20, 20, 1000});
    for (int i = 0; i < 2 * static_cast<int>(kRequestBlocks); ++i) {
        SimFault hang = NextFault(0x2B);
        hang.never_complete = 1;
        sim_add_fault(0, 0, &hang);
        EXPECT_EQ(Seek10(0, 0, 5), -1);
        EXPECT_EQ(LastError(), "Error: Seek(10): Event Timeout.");
    }
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), 0u);
    std::uint8_t capacity[8];
    EXPECT_EQ(ReadCapacity10(0, 0, capacity), 0);
}

TEST_F(LateCompletion, WhenEveryBlockIsHeldNothingMoreIsSent) {
    testing::SetAspiWaits({20, 20, 20, 5});
    for (std::size_t i = 0; i < kRequestBlocks; ++i) {
        CompleteLate(0x01, SIM_LATE_UNTIL_RELEASED);
        EXPECT_EQ(Rezero6(0, 0), -1);
        EXPECT_EQ(LastError(), "Error: Rezero(6): Event Timeout.");
    }
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), kRequestBlocks);
    EXPECT_FALSE(RequestBlocksExhausted());
    sim_trace_clear();
    std::uint8_t buffer[80];
    EXPECT_EQ(Inquiry6(0, 0, buffer), -1);
    EXPECT_EQ(LastError(), "Error: Inquiry(6): Not sent, no free request block.");
    EXPECT_EQ(Slot().errorKind, 1);
    EXPECT_TRUE(RequestBlocksExhausted());
    ClearDriveTable();
    EXPECT_EQ(TestUnitReady(0, 0), -1);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(sim_trace_count(), 0u);
}

TEST_F(LateCompletion, QuarantinedBlocksComeBackOnceTheLibraryLetsGo) {
    testing::SetAspiWaits({20, 20, 20, 5});
    for (std::size_t i = 0; i < kRequestBlocks; ++i) {
        CompleteLate(0x01, SIM_LATE_UNTIL_RELEASED);
        EXPECT_EQ(Rezero6(0, 0), -1);
    }
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), kRequestBlocks);
    const std::uint64_t sent = RequestsSent();
    EXPECT_EQ(ReleaseLate(), kRequestBlocks);
    std::uint8_t inquiry[80] = {};
    EXPECT_EQ(Inquiry6(0, 0, inquiry), 0);
    EXPECT_EQ(std::memcmp(inquiry + 8, "HALCYON", 7), 0);
    EXPECT_EQ(RequestsSent(), sent + 1);
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), 0u);
    EXPECT_FALSE(RequestBlocksExhausted());
}

TEST_F(LateCompletion, AFactoryResetThatFindsNoBlockIsSentWhenOneComesBack) {
    testing::SetAspiWaits({20, 20, 20, 5});
    ASSERT_EQ(FactorySet10(0, 0, 1), 0);
    for (std::size_t i = 0; i < kRequestBlocks; ++i) {
        CompleteLate(0x01, SIM_LATE_UNTIL_RELEASED);
        Rezero6(0, 0);
    }
    EXPECT_EQ(FactorySet10(0, 0, 0), -1);
    EXPECT_TRUE(FactoryResetOwed(0, 0));
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 1);
    EXPECT_EQ(ReleaseLate(), kRequestBlocks);
    std::uint8_t capacity[8];
    EXPECT_EQ(ReadCapacity10(0, 0, capacity), 0);
    EXPECT_FALSE(FactoryResetOwed(0, 0));
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
}

// The stray completion comes while a later request is in flight (completed
// asynchronously, with a service time), so that it would land on that
// request if its block were reused.
TEST_F(LateCompletion, ACompletionAfterASuccessfulAbortDecidesNoOtherRequest) {
    testing::SetAspiWaits({30, 30, 30, 200});
    SimFault stray = NextFault(0x28);
    stray.complete_after_ms = SIM_LATE_UNTIL_RELEASED;
    stray.completes_again_ms = SIM_LATE_UNTIL_RELEASED;
    stray.sense_key = 3;
    stray.asc = 0x11;
    ASSERT_EQ(sim_add_fault(0, 0, &stray), 0);
    std::uint8_t read[8192];
    EXPECT_EQ(Read10(0, 0, 0, 512, 16, read), -1);
    EXPECT_EQ(LastError(), "Error: Read(10): Event Timeout.");
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), 0u);
    ASSERT_EQ(sim_held_requests(0, 0), 1);

    sim_set_completion(SIM_COMPLETE_ASYNC);
    sim_set_service_time_us(1000);
    testing::SetAspiWaits({5000, 5000, 5000, 200});
    int commands = 0;
    event->beforeWait = [&commands] {
        if (commands == 2) sim_release_late(0, 0, -1);
    };
    // Commands go on past the stray completion, each judged by its own.
    for (; commands < 10; ++commands) {
        std::uint8_t inquiry[80] = {};
        ASSERT_EQ(Inquiry6(0, 0, inquiry), 0) << LastError() << " after " << commands;
        ASSERT_EQ(std::memcmp(inquiry + 8, "HALCYON", 7), 0);
    }
    EXPECT_EQ(sim_held_requests(0, 0), 0);
}

// A transfer area is lent as it is. One whose request is given up stays with
// that request, whose late data never reaches the area, and the area goes on
// with storage of its own (freed too early, the late write is caught by ASan).
TEST_F(LateCompletion, AnAreaGivenUpStaysWithItsRequest) {
    TransferArea written(8192), read(8192);
    std::memset(written.data(), 0x3C, written.size());
    ASSERT_EQ(Write10(0, 0, 100, 512, 16, written), 0);
    EXPECT_EQ(Trace().back().buf, written.data());
    ASSERT_EQ(Read10(0, 0, 100, 512, 16, read), 0);
    EXPECT_EQ(Trace().back().buf, read.data());
    std::uint8_t copied[8192];
    ASSERT_EQ(Read10(0, 0, 100, 512, 16, copied), 0);
    EXPECT_EQ(std::memcmp(read.data(), copied, sizeof copied), 0);

    testing::SetAspiWaits({30, 30, 30, 10});
    const auto all = [](TransferArea& a, std::uint8_t v) {
        return std::all_of(a.data(), a.data() + a.size(), [v](std::uint8_t b) { return b == v; });
    };
    const std::uint8_t* lent = written.data();
    CompleteLate(0x2A, SIM_LATE_UNTIL_RELEASED);
    EXPECT_EQ(Write10(0, 0, 100, 512, 16, written), -1);
    EXPECT_NE(written.data(), lent);
    EXPECT_TRUE(all(written, 0x3C));
    CompleteLate(0x28, SIM_LATE_UNTIL_RELEASED);
    EXPECT_EQ(Read10(0, 0, 100, 512, 16, read), -1);
    EXPECT_TRUE(all(read, 0));
    EXPECT_EQ(ReleaseLate(), 2u);
    EXPECT_TRUE(all(read, 0));
    ASSERT_EQ(Read10(0, 0, 100, 512, 16, read), 0);
    EXPECT_EQ(std::memcmp(read.data(), copied, sizeof copied), 0);
}

TEST_F(LateCompletion, ASignalBeforeTheStatusIsNotTakenForAStaleOne) {
    sim_set_completion(SIM_COMPLETE_ASYNC);
    testing::SetAspiWaits({2000, 2000, 2000, 10});
    SimFault early;
    sim_fault_init(&early);
    early.signal_first_us = 300;
    early.execute = 1;
    ASSERT_EQ(sim_add_fault(0, 0, &early), 0);
    std::uint8_t inquiry[80] = {};
    std::uint8_t capacity[8] = {};
    EXPECT_EQ(Inquiry6(0, 0, inquiry), 0) << LastError();
    EXPECT_EQ(ReadCapacity10(0, 0, capacity), 0) << LastError();
    EXPECT_EQ(std::memcmp(inquiry + 8, "HALCYON", 7), 0);
    EXPECT_EQ(capacity[6], 0x02);  // 512-byte blocks

    // A status written long after its signal (a busy machine) is still found
    // before the request times out.
    SimFault late;
    sim_fault_init(&late);
    late.signal_first_us = 40000;
    late.execute = 1;
    ASSERT_EQ(sim_add_fault(0, 0, &late), 0);
    EXPECT_EQ(ReadCapacity10(0, 0, capacity), 0) << LastError();
}

}  // namespace
}  // namespace tamro::test
