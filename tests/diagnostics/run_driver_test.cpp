// The run driver against the simulated bus: each verdict, the mode pages,
// the progress over several drives, and the log it leaves.
#include "run_fixture.h"

namespace tamro::test {
namespace {

using Outcome = Runthread::Outcome;

class Run : public RunBus {};

// One medium error logged by the drive at this LBA.
void LogMediumError(int target, std::uint32_t lba) {
    std::uint8_t sense[48] = {0xF0, 0, 0x03, static_cast<std::uint8_t>(lba >> 24), static_cast<std::uint8_t>(lba >> 16),
                              static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 40};
    sense[12] = 0x11;
    ASSERT_EQ(sim_disk_set_log_entry(0, target, 0, 100, 200, sense), 0);
}

TEST_F(Run, AHealthyDrivePassesThroughTheFullPath) {
    SimDiskConfig c = Disk("PASS0000");
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    ASSERT_TRUE(ui::Form().IsChecked(ControlId::ID0D));
    EXPECT_EQ(Runthread::Execute(), Outcome::Finished);

    const DriveSlot& s = DriveTable[0];
    EXPECT_EQ(s.runFlags, kFlagIdentity | kFlagPlistValid | kFlagGlistValid | kFlagQuick | kFlagPass);
    EXPECT_EQ(s.errorKind, 0);
    EXPECT_STREQ(s.comment, "This drive seems to have no problem.");
    EXPECT_EQ(s.plistCount, 100);
    EXPECT_EQ(s.glistCount, 0);
    EXPECT_EQ(std::strlen(s.startTime), 24u);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "PASS");
    EXPECT_EQ(ui::Form().FontColor(ControlId::J0), ui::colors::kGreen);
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::ID0));
    // Defect lists, the SA area, the three pages, the stop, then the log's
    // SMART page.
    EXPECT_EQ(Ops(0), (std::vector<std::uint8_t>{0x37, 0x37, 0xF0, 0xF9, 0xFD, 0xF0, 0x1A, 0x15, 0x1A, 0x15, 0xF0,
                                                 0x1A, 0x15, 0xF0, 0xF0, 0x1B, 0xF0, 0xF0, 0xFD, 0xF9, 0xF0}));
    const std::string log = Log("PASS0000");
    EXPECT_TRUE(Has(log, "Primary Defect List : 100. \r\n"));
    EXPECT_TRUE(Has(log, "<<< SMART DATA PAGE >>>"));
    EXPECT_TRUE(Has(log, "<<< This drive seems to have no problem. >>>\r\n"));
    EXPECT_TRUE(Has(log, "*  PASS  *"));
    // The finishing step.
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_EQ(ui::Form().FontColor(ControlId::DCONF), ui::colors::kGreen);
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::TEST));
    EXPECT_EQ(ui::Form().Position(ControlId::PBar), 1000);
    EXPECT_EQ(ui::Form().Caption(ControlId::PBarLabel), "100");
    EXPECT_EQ(ui::Form().Caption(ControlId::TBarLabel), "100");
}

TEST_F(Run, TheModePagesAreLeftStrict) {
    SimDiskConfig c = Disk("MODES000");
    sim_add_disk(0, 0, &c);
    std::uint8_t before[3][20], after[3][20];
    const int pages[3] = {0x01, 0x07, 0x08};
    ScanAndShow();
    for (int i = 0; i < 3; ++i) ASSERT_GT(sim_disk_mode_page(0, 0, pages[i], before[i], 20), 0);
    Runthread::Execute();
    for (int i = 0; i < 3; ++i) ASSERT_GT(sim_disk_mode_page(0, 0, pages[i], after[i], 20), 0);
    EXPECT_EQ(after[0][2], (before[0][2] & 0x2F) | 0x04);
    EXPECT_EQ(after[1][2], (before[1][2] & 0x2F) | 0x04);
    EXPECT_EQ(after[2][2], (before[2][2] & 0xFB) | 0x01);
    // Nothing else of the pages moved.
    for (int i = 0; i < 3; ++i)
        for (int b = 3; b < 12; ++b) EXPECT_EQ(after[i][b], before[i][b]) << "page " << pages[i] << " byte " << b;
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
}

TEST_F(Run, AFailingCachingPageStillLeavesFactoryMode) {
    for (int failing : {0x1A, 0x15}) {
        SCOPED_TRACE(failing);
        sim_clear_bus();
        sim_add_adapter("SIMASPI", "RUN", 16, 15);
        SimDiskConfig c = Disk("CACHE000");
        sim_add_disk(0, 0, &c);
        ui::Form().Reset();
        Quick();
        ScanAndShow();
        SimFault f = NextFault(failing);
        f.skip = 2;  // pages 01h and 07h pass
        f.sense_key = 5;
        f.asc = 0x24;
        sim_add_fault(0, 0, &f);
        Runthread::Execute();
        const auto ops = Ops(0);
        const std::vector<std::uint8_t> expected =
            failing == 0x1A ? std::vector<std::uint8_t>{0x1A, 0x15, 0x1A, 0x15, 0xF0, 0x1A, 0xF0, 0xF0, 0x1B, 0xF0}
                            : std::vector<std::uint8_t>{0x1A, 0x15, 0x1A, 0x15, 0xF0, 0x1A, 0x15, 0xF0, 0xF0, 0x1B, 0xF0};
        ASSERT_GT(ops.size(), 6 + expected.size());
        EXPECT_EQ(std::vector<std::uint8_t>(ops.begin() + 6, ops.begin() + 6 + static_cast<long>(expected.size())),
                  expected);
        EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
        EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
        EXPECT_EQ(DriveTable[0].errorKind, 2);
        EXPECT_STREQ(DriveTable[0].lastError,
                     failing == 0x1A ? "Error: Mode Sense: Check Condition." : "Error: Mode Select: Check Condition.");
    }
}

TEST_F(Run, WithoutTheLogSignatureOnlyTheSurfaceTestsRun) {
    SimDiskConfig c = Disk("NOSIGN00");
    c.log_signature = 0;
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    Runthread::Execute();
    const DriveSlot& s = DriveTable[0];
    EXPECT_EQ(s.errorKind, kLogNotSupported);
    EXPECT_TRUE(s.runFlags & kFlagLogUnusable);
    EXPECT_TRUE(s.runFlags & kFlagPass);
    EXPECT_STREQ(s.comment, "This drive seems to have no problem.");
    EXPECT_FALSE(Sent(0, 0x1A));
    EXPECT_FALSE(Sent(0, 0x15));
    EXPECT_TRUE(Has(Log("NOSIGN00"), "\r\n<<< SMART LOG was not supported in SA area >>>\r\n"));
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "PASS");
}

TEST_F(Run, ALogThatCannotBeReadFailsWithoutTests) {
    SimDiskConfig c = Disk("LOGFAIL0");
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    SimFault f = NextFault(0xFD);
    f.sense_key = 3;
    f.asc = 0x11;
    sim_add_fault(0, 0, &f);
    Standard();
    Runthread::Execute();
    const DriveSlot& s = DriveTable[0];
    EXPECT_EQ(s.errorKind, kLogReadFailed);
    EXPECT_TRUE(s.runFlags & kFlagFail);
    EXPECT_FALSE(Sent(0, 0x28));  // no surface test
    EXPECT_FALSE(Sent(0, 0x1A));
    EXPECT_EQ(Ops(0).back(), 0xF0);
    EXPECT_TRUE(Sent(0, 0x1B));  // stopped
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
    EXPECT_TRUE(Has(Log("LOGFAIL0"), "<<< It was failed to read logging data. >>>\r\n"));
}

TEST_F(Run, ATransportFailureReadingTheLogFailsTheDrive) {
    SimDiskConfig c = Disk("HSPFAIL0");
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    SimFault f = NextFault(0xF9);
    f.ha_stat = 0x11;
    sim_add_fault(0, 0, &f);
    Runthread::Execute();
    EXPECT_EQ(DriveTable[0].errorKind, 1);
    EXPECT_STREQ(DriveTable[0].lastError, "GetHsp(10): Selection timeout.");
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
    EXPECT_FALSE(Sent(0, 0x1A));
}

TEST_F(Run, AFailedDefectListReadEndsTheDriveAtOnce) {
    SimDiskConfig c = Disk("DEFECT00");
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    SimFault f = NextFault(0x37);
    f.skip = 1;
    f.sense_key = 4;
    f.asc = 0x44;
    sim_add_fault(0, 0, &f);
    Runthread::Execute();
    const DriveSlot& s = DriveTable[0];
    EXPECT_TRUE(s.runFlags & kFlagPlistValid);
    EXPECT_FALSE(s.runFlags & kFlagGlistValid);
    EXPECT_EQ(s.errorKind, 2);
    // No stop after a failed defect list read.
    EXPECT_EQ(Ops(0), (std::vector<std::uint8_t>{0x37, 0x37, 0xF0, 0xFD, 0xF9, 0xF0}));
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
}

TEST_F(Run, AReproducedLoggedErrorFailsTheDrive) {
    SimDiskConfig c = Disk("REPRO000");
    sim_add_disk(0, 0, &c);
    LogMediumError(0, 5000);
    SimMediaFault m;
    sim_media_fault_init(&m);
    m.first_lba = m.last_lba = 5000;
    sim_add_media_fault(0, 0, &m);
    ScanAndShow();
    Runthread::Execute();
    const DriveSlot& s = DriveTable[0];
    EXPECT_EQ(s.errorKind, kLoggedErrorReproduced);
    EXPECT_TRUE(s.runFlags & kFlagTestsFailed);
    EXPECT_TRUE(s.runFlags & kFlagFail);
    const std::string log = Log("REPRO000");
    EXPECT_TRUE(Has(log, "<<< This is the duplication test result of SMART LOG >>>"));
    EXPECT_TRUE(Has(log, "<<< The error duplicate. >>>"));
}

TEST_F(Run, FailedSurfaceTestsGiveTheirReason) {
    SimDiskConfig c = Disk("SURFACE0");
    c.last_lba = 99999;
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    SimFault f = NextFault(0x2B);
    f.ha_stat = 0x11;
    sim_add_fault(0, 0, &f);
    Standard();
    Runthread::Execute();
    const DriveSlot& s = DriveTable[0];
    EXPECT_EQ(s.errorKind, kSurfaceTestFailed);
    EXPECT_STREQ(s.comment, "Seek(10): Selection timeout.");
    EXPECT_TRUE(s.runFlags & kFlagTestsFailed);
    EXPECT_TRUE(s.runFlags & kFlagStandard);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "FAIL");
    EXPECT_TRUE(Has(Log("SURFACE0"), "<<< This is running test result. >>>"));
}

TEST_F(Run, TheGrownListRule) {
    const struct {
        int vendor;
        std::uint32_t grown;
        const char* verdict;
    } rows[] = {{SIM_VENDOR_SUN, 1, "PASS"}, {SIM_VENDOR_SUN, 2, "FAIL"}, {SIM_VENDOR_COMPAQ, 2, "PASS"}};
    int t = 0;
    for (const auto& row : rows) {
        SimDiskConfig c = Disk("GROWN000", row.vendor);
        c.grown_defects = row.grown;
        sim_add_disk(0, t++, &c);
    }
    ScanAndShow();
    Runthread::Execute();
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ui::Form().Caption(kJudges[i]), rows[i].verdict);
        EXPECT_EQ(DriveTable[static_cast<std::size_t>(i)].glistCount, static_cast<std::int32_t>(rows[i].grown));
    }
    EXPECT_EQ(DriveTable[1].errorKind, kGrownDefectsOutOfSpec);
    EXPECT_STREQ(DriveTable[1].comment, "This glist number is out of spec.");
}

TEST_F(Run, AMakersDriveWithoutItsLogIsNeverPassed) {
    SimDiskConfig passes = Disk("NOLOGOK0"), fails = Disk("NOLOGBAD"), sunGrown = Disk("NOLOGSUN", SIM_VENDOR_SUN);
    passes.log_readable = fails.log_readable = 0;
    sunGrown.log_readable = 0;
    sunGrown.grown_defects = 3;
    fails.last_lba = 99999;
    sim_add_disk(0, 0, &passes);
    sim_add_disk(0, 1, &fails);
    sim_add_disk(0, 2, &sunGrown);
    ScanAndShow();
    // The SUN drive has no maker's vendor name, so the scan leaves it 5.
    EXPECT_EQ(DriveTable[2].errorKind, kNotIdentified);
    // A maroon line is shown but not ticked: tick both maker's drives.
    EXPECT_EQ(DriveTable[0].errorKind, kLogUnreadableAtScan);
    ui::Form().Check(ControlId::ID0D);
    ui::Form().Check(ControlId::ID1D);
    SimFault f = NextFault(0x2B);
    f.ha_stat = 0x11;
    sim_add_fault(0, 1, &f);
    Standard();
    Runthread::Execute();

    EXPECT_EQ(DriveTable[0].runFlags & (kFlagPass | kFlagFail | kFlagNoJudge), kFlagNoJudge);
    EXPECT_STREQ(DriveTable[0].comment, "This drive can not be judged due to other than Corvid series.");
    EXPECT_EQ(DriveTable[0].errorKind, kLogUnreadableAtScan);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "------ ");
    EXPECT_EQ(ui::Form().FontColor(ControlId::J0), ui::colors::kMaroon);
    EXPECT_TRUE(Has(Log("NOLOGOK0"), "*  NO Judge  *"));
    EXPECT_FALSE(Sent(0, 0xFD) && Ops(0)[2] == 0xF0 && Ops(0)[3] == 0xF9);  // no SA area read

    EXPECT_EQ(DriveTable[1].runFlags & (kFlagPass | kFlagFail | kFlagNoJudge), kFlagNoJudge);
    EXPECT_STREQ(DriveTable[1].comment, "There were excessive errors.");
    EXPECT_EQ(DriveTable[1].errorKind, kLogUnreadableAtScan);
}

TEST_F(Run, AnUnidentifiedDriveIsJudgedAtOnceUnderItsAddress) {
    sim_add_device(0, 4, DTYPE_CDROM);
    SimDiskConfig c = Disk("IGNORED0");
    sim_add_disk(0, 5, &c);
    SimFault f = NextFault(0x12);
    f.times = 0;
    f.ha_stat = 0x11;
    sim_add_fault(0, 5, &f);
    ScanAndShow();
    ASSERT_EQ(DriveTable[0].errorKind, kNotIdentified);
    ui::Form().Check(ControlId::ID0D);
    Runthread::Execute();
    EXPECT_STREQ(DriveTable[0].serialNumber, "HA#0ID05");
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "------ ");
    EXPECT_TRUE(DriveTable[0].runFlags & kFlagFail);
    EXPECT_TRUE(Ops(5).empty());
    EXPECT_TRUE(fs::exists("HA#0ID05.log"));
}

TEST_F(Run, ABlockLengthNoTransferCanCarryFailsWithoutSurfaceCommands) {
    // 64 KiB reads 0 in its low half, 66048 reads 512 there.
    const std::uint32_t lengths[] = {0x00010000, 0x00010200, 512};
    for (int t = 0; t < 3; ++t) {
        SimDiskConfig c = Disk("BLOCKLEN");
        c.block_size = lengths[t];
        sim_add_disk(0, t, &c);
        LogMediumError(t, 5000);  // so that Quick mode would read
    }
    ScanAndShow();
    DriveTable[2].blockSize = 0;  // as a drive reporting a length of 0 leaves it
    Runthread::Execute();
    const char* reasons[] = {"Block length of 65536 bytes cannot be tested.",
                             "Block length of 66048 bytes cannot be tested.",
                             "Block length of 0 bytes cannot be tested."};
    for (int t = 0; t < 3; ++t) {
        SCOPED_TRACE(t);
        const DriveSlot& s = DriveTable[static_cast<std::size_t>(t)];
        EXPECT_STREQ(s.comment, reasons[t]);
        EXPECT_EQ(ui::Form().Caption(kJudges[t]), "FAIL");
        for (std::uint8_t op : {0x28, 0x2A, 0x2B, 0x2F, 0xFA}) EXPECT_FALSE(Sent(t, op)) << int(op);
    }
    EXPECT_TRUE(Has(Log("BLOCKLEN"), "\r\n<<< Block length of 0 bytes cannot be tested. >>>\r\n"));
}

TEST_F(Run, DrivesWithoutAPrintableSerialNumberKeepLogsOfTheirOwn) {
    SimDiskConfig blank = Disk("        "), empty = Disk("");
    sim_add_disk(0, 2, &blank);
    sim_add_disk(0, 3, &empty);
    ScanAndShow();
    Runthread::Execute();
    EXPECT_STREQ(DriveTable[0].serialNumber, "HA#0ID02");
    EXPECT_STREQ(DriveTable[1].serialNumber, "HA#0ID03");
    EXPECT_TRUE(Has(Log("HA#0ID02"), "*  PASS  *"));
    EXPECT_TRUE(Has(Log("HA#0ID03"), "*  PASS  *"));
}

TEST_F(Run, LayoutOneCopiesFourEntries) {
    SimDiskConfig c = Disk("LAYOUT10");
    c.log_generation = 1;
    sim_add_disk(0, 0, &c);
    std::uint8_t* log = sim_disk_log_data(0, 0);
    for (int e = 0; e < 6; ++e) log[344 + 56 * e + 10] = static_cast<std::uint8_t>(0x40 + e);
    ScanAndShow();
    Runthread::Execute();
    for (int e = 0; e < 4; ++e) EXPECT_EQ(DriveTable[0].smartLogEntries[e][10], 0x40 + e);
    EXPECT_EQ(DriveTable[0].smartLogEntries[4][10], 0);
}

TEST_F(Run, TheTotalBarIsSharedAmongTheTickedDrives) {
    for (int t = 0; t < 5; ++t) {
        SimDiskConfig c = Disk("SHARE000");
        c.log_signature = 0;  // the short path: nothing else moves the total bar
        sim_add_disk(0, t, &c);
    }
    ScanAndShow();
    ui::Form().Uncheck(ControlId::ID1D);
    ui::Form().Uncheck(ControlId::ID3D);
    ui::Form().SetProgress(ControlId::TBar, 500);
    ui::Form().TakeChanges();
    std::vector<int> totals;
    int tbarResets = 0;
    ui::Form().SetChangeListener([&](bool) {
        for (const auto& u : ui::Form().TakeChanges().controls) {
            if (u.id == ControlId::PBar) totals.push_back(u.state.position);
            if (u.id == ControlId::TBarLabel && u.state.caption == "  0") ++tbarResets;
        }
    });
    Runthread::Execute();
    ui::Form().SetChangeListener(nullptr);
    EXPECT_EQ(selectedCount, 3);
    EXPECT_EQ(totals, (std::vector<int>{333, 666, 1000}));
    EXPECT_GE(tbarResets, 1);
    EXPECT_EQ(ui::Form().Caption(ControlId::J1), "");
    EXPECT_EQ(ui::Form().Caption(ControlId::J4), "PASS");
    EXPECT_FALSE(fs::exists("SHARE000.log") && DriveTable[1].runFlags != 0);
    EXPECT_EQ(DriveTable[1].runFlags, 0u);
}

TEST_F(Run, NoTickedSlotSendsNothing) {
    SimDiskConfig c = Disk("UNTICK00");
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    ui::Form().Uncheck(ControlId::ID0D);
    EXPECT_EQ(Runthread::Execute(), Outcome::Finished);
    EXPECT_EQ(sim_trace_count(), 0u);
    EXPECT_EQ(ui::Form().Caption(ControlId::PBarLabel), "100");
    EXPECT_EQ(ui::Form().Caption(ControlId::TBarLabel), "100");
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
}

TEST_F(Run, ALogThatCannotBeCreatedStopsTheRun) {
    SimDiskConfig a = Disk("BLOCKED0"), b = Disk("NEVER000");
    sim_add_disk(0, 0, &a);
    sim_add_disk(0, 1, &b);
    ScanAndShow();
    fs::create_directory("BLOCKED0.log");
    ui::Form().Disable(ControlId::TEST);  // as RUN. leaves it
    EXPECT_EQ(Runthread::Execute(), Outcome::Stopped);
    EXPECT_EQ(ui::Form().Caption(ControlId::error), "Cannot open file BLOCKED0.log\r\n");
    EXPECT_TRUE(Ops(1).empty());
    EXPECT_FALSE(ui::Form().IsEnabled(ControlId::TEST));
    EXPECT_EQ(ui::Form().Caption(ControlId::J1), "");
}

TEST_F(Run, AStopThatFailsLeavesTheVerdictAlone) {
    SimDiskConfig c = Disk("NOSTOP00");
    c.log_readable = 0;
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    ui::Form().Check(ControlId::ID0D);
    SimFault f = NextFault(0x1B);
    f.sense_key = 4;
    f.asc = 0x44;
    sim_add_fault(0, 0, &f);
    Runthread::Execute();
    EXPECT_EQ(DriveTable[0].errorKind, kLogUnreadableAtScan);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "------ ");
    EXPECT_TRUE(DriveTable[0].runFlags & kFlagNoJudge);
}

}  // namespace
}  // namespace tamro::test
