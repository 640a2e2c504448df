// The simulator's default bus, as a newcomer meets it: every kind of slot
// line, every verdict in the modes that give it, the logs that say why, and
// the sample microcode images that the drives of one family take.
#include "microcode/microcode.h"
#include "ui/main_window.h"
#include "run_fixture.h"

namespace tamro::test {
namespace {

// Slots in scan order: SUN, COMPAQ, UNISYS, HALCYON without a readable log,
// another maker's disk, HP, EMC that cannot spin up (the CD-ROM at HA#0/ID03
// is skipped).
enum Place { kSun, kCompaq, kUnisys, kNoLog, kOtherMaker, kHp, kNoStart };

class DefaultBus : public RunBus {
protected:
    void SetUp() override {
        RunBus::SetUp();
        sim_reset_default();
        sim_set_service_time_us(0);
        sim_set_completion(SIM_COMPLETE_IMMEDIATE);
    }

    static std::string Judge(int slot) { return ui::Form().Caption(kJudges[slot]); }
    static std::string LogOf(int slot) { return Log(DriveTable[static_cast<std::size_t>(slot)].serialNumber); }

    static void RunTicked(bool ext, bool std, bool quick) {
        SetMode(ext, std, quick);
        ASSERT_EQ(Runthread::Execute(), Runthread::Outcome::Finished);
    }

    static void Download(const char* sample) {
        const std::string path = std::string(TAMRO_SAMPLES_DIR) + "/" + sample;
        ui::Form().SetFileChooser([path](const ui::FileRequest&) { return std::optional<std::string>(path); });
        ASSERT_TRUE(ui::LoadChosenMicrocode());
        ui::Form().SetFileChooser(nullptr);
        ASSERT_EQ(MicroCodethread::Execute(), MicroCodethread::Outcome::Finished);
    }
};

TEST_F(DefaultBus, SevenLinesOfEveryKind) {
    ScanAndShow();
    ASSERT_EQ(driveCount, 7);
    const struct {
        const char* line;
        ui::Rgb color;
        bool ticked;
    } rows[] = {
        {"HA#0/ID00  HALCYON HC-3182W  S907 #HS0A1234", ui::colors::kGreen, true},
        {"HA#0/ID01  COMPAQ  BD01812A4 3B07 #CQ1B2345", ui::colors::kGreen, true},
        {"HA#0/ID02  UNISYS  HC-3182W  U507 #US2C3456", ui::colors::kGreen, true},  // product from byte 22
        {"HA#0/ID04  HALCYON HC-318    HA07 #HS4D4567", ui::colors::kMaroon, false},
        {"HA#0/ID05  Device name not available.", ui::colors::kMaroon, false},
        {"HA#1/ID00  HP      C6HC      HP07 #HP0A7890", ui::colors::kGreen, true},  // revision from byte 28
        {"HA#1/ID01  This Drive had check condition.", ui::colors::kRed, false},
    };
    for (int n = 0; n < 7; ++n) {
        EXPECT_EQ(ui::Form().Caption(kLines[n]), rows[n].line);
        EXPECT_EQ(ui::Form().FontColor(kLines[n]), rows[n].color) << n;
        EXPECT_EQ(ui::Form().IsChecked(kBoxes[n]), rows[n].ticked) << n;
    }
    const int classes[] = {kVendorSun, kVendorCompaq, kVendorUnisys, kVendorHalcyon, kVendorUnsupported, kVendorHp, kVendorEmc};
    for (int n = 0; n < 7; ++n) EXPECT_EQ(DriveTable[static_cast<std::size_t>(n)].vendorClass, classes[n]) << n;
    EXPECT_TRUE(Has(LogOf(kNoStart), "<<< Error: Start/Stop Unit: Check Condition. >>>"));

    // The CD-ROM is never sent a command.
    sim_trace_clear();
    ASSERT_EQ(ScanBuses(), 0);
    for (const SimTraceEntry& e : Trace()) EXPECT_FALSE(e.ha == 0 && e.target == 3);
}

TEST_F(DefaultBus, QuickRunPassesFailsAndCannotJudge) {
    ScanAndShow();
    ui::Form().Check(kBoxes[kNoLog]);
    RunTicked(false, false, true);
    EXPECT_EQ(Judge(kSun), "PASS");
    EXPECT_EQ(Judge(kCompaq), "FAIL");
    EXPECT_EQ(Judge(kUnisys), "PASS");  // its bad blocks are for the surface tests
    EXPECT_EQ(Judge(kHp), "PASS");
    EXPECT_EQ(Judge(kNoLog), "------ ");
    EXPECT_EQ(DriveTable[kNoLog].runFlags & (kFlagNoJudge | kFlagFail | kFlagPass), kFlagNoJudge);

    // The COMPAQ's logged read error still reads badly: the log shows the
    // entry next to the re-test's sense (ASCQ 00 where the entry has 01).
    const std::string compaq = LogOf(kCompaq);
    EXPECT_TRUE(Has(compaq, "<<< The error duplicate. >>>")) << compaq;
    EXPECT_TRUE(Has(compaq, "    F0000300ABCDE0280000000011010000     F0000300ABCDE0280000000011000000")) << compaq;
    EXPECT_TRUE(Has(LogOf(kSun), "This error did not duplicate."));
    EXPECT_TRUE(Has(LogOf(kNoLog), "This drive can not be judged due to other than Corvid series."));
}

TEST_F(DefaultBus, StandardRunAddsASurfaceFailure) {
    ScanAndShow();
    RunTicked(false, true, false);
    const char* verdicts[7] = {"PASS", "FAIL", "FAIL", "", " ------ ", "PASS", ""};
    for (int n = 0; n < 7; ++n) EXPECT_EQ(Judge(n), verdicts[n]) << n;
    EXPECT_EQ(DriveTable[kSun].seekCount, 85000u);  // every read and seek of the mode
    EXPECT_FALSE(fs::exists("HS4D4567.log"));  // shown, not ticked
    const std::string unisys = LogOf(kUnisys);
    EXPECT_TRUE(Has(unisys, "<<< This error rate is out of spec. >>>")) << unisys;
    EXPECT_TRUE(Has(unisys, "Read Error Num.     : 1. ")) << unisys;
    EXPECT_EQ(DriveTable[kUnisys].readErrors[0].senseData[12], 0x11);
    const std::uint32_t badLba = static_cast<std::uint32_t>(DriveTable[kUnisys].readErrors[0].senseData[3]) << 24 |
                                 static_cast<std::uint32_t>(DriveTable[kUnisys].readErrors[0].senseData[4]) << 16 |
                                 static_cast<std::uint32_t>(DriveTable[kUnisys].readErrors[0].senseData[5]) << 8 |
                                 DriveTable[kUnisys].readErrors[0].senseData[6];
    EXPECT_GE(badLba, 0x00800000u);
    EXPECT_LE(badLba, 0x0083FFFFu);
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
}

TEST_F(DefaultBus, ExtendedWithWritesFindsTheBandByVerifying) {
    ScanAndShow();
    for (Place off : {kCompaq, kHp}) ui::Form().Uncheck(kBoxes[off]);
    writePermitted = 1;
    RunTicked(true, false, false);
    writePermitted = 0;
    EXPECT_EQ(Judge(kSun), "PASS");
    EXPECT_GT(DriveTable[kSun].blocksWritten, 0u);
    EXPECT_EQ(Judge(kUnisys), "FAIL");
    EXPECT_EQ(DriveTable[kUnisys].readErrors[0].failedCdb[0], 0x2F);  // Verify
    EXPECT_TRUE(Has(LogOf(kUnisys), "<<< This error rate is out of spec. >>>"));
}

TEST_F(DefaultBus, ASampleImagePassesOnItsFamilyAndFailsElsewhere) {
    ScanAndShow();
    Download("cv7-sample.frm");
    EXPECT_EQ(Judge(kSun), "PASS");
    EXPECT_EQ(Judge(kHp), "PASS");
    EXPECT_EQ(Judge(kCompaq), "FAIL");
    EXPECT_EQ(Judge(kUnisys), "FAIL");
    // Refused at the last command, offset 0: ILLEGAL REQUEST, invalid field
    // in parameter list, the field pointer at the family (byte 4).
    const std::string refused = LogOf(kUnisys);
    EXPECT_TRUE(Has(refused, "<<< MicroCode DownLoad for CV-5 series >>>")) << refused;
    EXPECT_TRUE(Has(refused, "<<< Error: Write Buffer: Check Condition. >>>\r\n         70000500000000280000000026000080"))
        << refused;
    EXPECT_TRUE(Has(refused, "\r\n         0004")) << refused;
    EXPECT_TRUE(Has(refused, "CDB=3B05000000000006A000")) << refused;

    ASSERT_EQ(ScanBuses(), 0);
    ShowSlots();
    Download("cv5-sample.frm");
    EXPECT_EQ(Judge(kUnisys), "PASS");
    for (Place other : {kSun, kCompaq, kHp}) EXPECT_EQ(Judge(other), "FAIL") << other;
}

}  // namespace
}  // namespace tamro::test
