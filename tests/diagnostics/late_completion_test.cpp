// Requests that a library finishes after their wait gave up, in a whole scan
// and run: the late one fails its own drive only, and the drive after it is
// judged by its own answers. Run under the sanitizer build too, where a late
// write into a caller's memory would be caught.
#include "run_fixture.h"

namespace tamro::test {
namespace {

constexpr unsigned kWaitMs = 500;

class LateRequest : public RunBus {
protected:
    void SetUp() override {
        RunBus::SetUp();
        // Requests are carried out inside the call, so that a late one is the
        // library's before its wait ends, whatever the load of the machine.
        // The library keeps what it is asked to abort, so the late request
        // completes into a quarantined block: once the second drive's first
        // command is waited for, and that command at its next wait. The late
        // signal thus arrives while that command's block is pending.
        testing::SetAspiWaits({kWaitMs, kWaitMs, kWaitMs, 20});
        event->beforeWait = [] {
            if (sim_held_requests(0, 1) > 0 && sim_release_late(0, 0, -1) == 0) sim_release_late(0, 1, -1);
        };
        for (int t = 0; t < 2; ++t) {
            SimDiskConfig c = Disk(t == 0 ? "LATE0000" : "LATE0001");
            sim_add_disk(0, t, &c);
        }
    }

    static void SecondDriveStartsSlowly(int opcode) { CompleteLate(opcode, SIM_LATE_UNTIL_RELEASED, 1); }

    static void ExpectSecondDrivePassed() {
        const DriveSlot& s = DriveTable[1];
        EXPECT_EQ(s.errorKind, 0) << s.lastError;
        EXPECT_STREQ(s.comment, "This drive seems to have no problem.");
        EXPECT_EQ(ui::Form().Caption(ControlId::J1), "PASS");
        EXPECT_TRUE(Has(Log("LATE0001"), "*  PASS  *"));
    }
};

TEST_F(LateRequest, AReadOfTheErrorHitCheck) {
    for (int t = 0; t < 2; ++t) {
        std::uint8_t sense[48] = {0xF0, 0, 0x03, 0, 0, 0x13, 0x88, 40};  // medium error at LBA 5000
        sense[12] = 0x11;
        ASSERT_EQ(sim_disk_set_log_entry(0, t, 0, 100, 200, sense), 0);
    }
    ScanAndShow();
    CompleteLate(0x28, SIM_LATE_UNTIL_RELEASED, 0, 1);  // the run's second Read(10)
    SecondDriveStartsSlowly(0x37);
    EXPECT_EQ(Runthread::Execute(), Runthread::Outcome::Finished);
    EXPECT_STREQ(DriveTable[0].retest[0].message, "Error: Read(10): Event Timeout.");
    EXPECT_EQ(testing::QuarantinedRequestBlocks(), 0u);  // finished late, back in use
    ExpectSecondDrivePassed();
}

TEST_F(LateRequest, AModeSense) {
    ScanAndShow();
    CompleteLate(0x1A, SIM_LATE_UNTIL_RELEASED, 0);
    SecondDriveStartsSlowly(0x37);
    Runthread::Execute();
    EXPECT_STREQ(DriveTable[0].lastError, "Error: Mode Sense: Event Timeout.");
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
    ExpectSecondDrivePassed();
}

TEST_F(LateRequest, AnInquiryOfTheScan) {
    CompleteLate(0x12, SIM_LATE_UNTIL_RELEASED, 0);
    SecondDriveStartsSlowly(0x00);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(DriveTable[0].errorKind, kNotIdentified);
    EXPECT_STREQ(DriveTable[0].lastError, "Error: Inquiry(6): Event Timeout.");
    const DriveSlot& s = DriveTable[1];
    EXPECT_EQ(s.errorKind, 0) << s.lastError;
    EXPECT_EQ(std::memcmp(s.inquiryData + 8, "HALCYON", 7), 0);
    EXPECT_STREQ(s.serialNumber, "LATE0001");
    EXPECT_EQ(s.blockSize, 512);
}

// Four requests of the first drive outlive their wait, the library refusing
// to abort them, so that it holds every block: the blocks come back once it
// lets go, three while it still keeps the fourth, the last before the scan.
TEST_F(LateRequest, FourThatTheLibraryKeepsLeaveTheNeighbourAndTheNextScanWhole) {
    testing::SetAspiWaits({kWaitMs, kWaitMs, kWaitMs, 5});
    ScanAndShow();
    // The first Mode Sense, then the whole stop: Factory Set, Stop Unit,
    // Factory ReSet.
    CompleteLate(0x1A, SIM_LATE_UNTIL_RELEASED);
    CompleteLate(0x1B, SIM_LATE_UNTIL_RELEASED);
    SimFault factory = NextFault(0xF0);
    factory.skip = 2;
    factory.times = 2;
    factory.complete_after_ms = SIM_LATE_UNTIL_RELEASED;
    factory.abort_fails = 1;
    ASSERT_EQ(sim_add_fault(0, 0, &factory), 0);
    event->beforeWait = [] {
        if (sim_held_requests(0, 0) == static_cast<int>(kRequestBlocks))
            for (std::size_t i = 1; i < kRequestBlocks; ++i) sim_release_late(0, 0, -1);
    };
    EXPECT_EQ(Runthread::Execute(), Runthread::Outcome::Finished);
    EXPECT_STREQ(DriveTable[0].lastError, "Error: Mode Sense: Event Timeout.");
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
    ExpectSecondDrivePassed();

    EXPECT_EQ(ReleaseLate(), 1u);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 2);
    EXPECT_STREQ(DriveTable[0].serialNumber, "LATE0000");
    EXPECT_STREQ(DriveTable[1].serialNumber, "LATE0001");
}

// The first drive answers nothing from its GetHsp(10) on, and the library
// keeps every request: the run stops with the alarm once no block is left.
TEST_F(LateRequest, ADriveThatHangsForGoodStopsTheWorkVisibly) {
    testing::SetAspiWaits({50, 50, 50, 5});
    ScanAndShow();
    SimFault hang;
    sim_fault_init(&hang);
    hang.skip = 3;  // both defect lists and the Factory Set pass
    hang.never_complete = 1;
    hang.abort_fails = 1;
    ASSERT_EQ(sim_add_fault(0, 0, &hang), 0);
    EXPECT_EQ(Runthread::Execute(), Runthread::Outcome::Stopped);

    ui::WindowModel& form = ui::Form();
    EXPECT_TRUE(form.IsVisible(ControlId::ALARM));
    EXPECT_TRUE(form.IsEnabled(ControlId::OK));
    EXPECT_EQ(form.Caption(ControlId::error), kRequestBlocksExhaustedText);
    EXPECT_EQ(form.Caption(ControlId::J0), "FAIL");
    EXPECT_TRUE(Has(Log("LATE0000"), "<<< Factory mode is still on: Factory ReSet(10) could not be sent. >>>"));
    EXPECT_TRUE(WaitForCommandsToSettle(std::chrono::milliseconds(0)));  // the exit waits for nothing
    EXPECT_EQ(form.Caption(ControlId::J1), "");
    EXPECT_FALSE(fs::exists("LATE0001.log"));
    EXPECT_FALSE(Sent(1, 0x37));

    ui::Form().Reset();
    EXPECT_EQ(ScanBuses(), -1);
    EXPECT_EQ(form.Caption(ControlId::error), kRequestBlocksExhaustedText);
}

// The library took the last free block with the first drive's last command:
// the next drive's first command finds none and the drive stays unjudged.
TEST_F(LateRequest, ADriveThatNoCommandReachedIsNotJudged) {
    testing::SetAspiWaits({20, 20, 20, 5});
    ScanAndShow();
    ui::Form().SetChecked(kBoxes[0], false);
    for (std::size_t i = 0; i < kRequestBlocks; ++i) {
        CompleteLate(0x01, SIM_LATE_UNTIL_RELEASED);
        Rezero6(0, 0);
    }
    ASSERT_FALSE(RequestBlocksExhausted());
    EXPECT_EQ(Runthread::Execute(), Runthread::Outcome::Stopped);
    EXPECT_EQ(ui::Form().Caption(ControlId::J1), "");
    EXPECT_FALSE(fs::exists("LATE0001.log"));
    EXPECT_EQ(ui::Form().Caption(ControlId::error), kRequestBlocksExhaustedText);
}

}  // namespace
}  // namespace tamro::test
