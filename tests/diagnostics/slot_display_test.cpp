// The slot display after a real scan of the simulated bus.
#include "run_fixture.h"

namespace tamro::test {
namespace {

class Slots : public RunBus {
protected:
    // INQUIRY data with these texts at their places.
    static void Inquiry(int target, const char* vendor8, const char* product16, const char* revision4) {
        std::uint8_t inq[96] = {0, 0, 2, 2, 91};
        std::memcpy(inq + 8, vendor8, 8);
        std::memcpy(inq + 16, product16, 16);
        std::memcpy(inq + 32, revision4, 4);
        sim_disk_set_inquiry(0, target, inq, sizeof inq);
    }
};

TEST_F(Slots, AnEmptyBus) {
    ScanAndShow();
    for (int n = 0; n < 7; ++n) {
        EXPECT_EQ(ui::Form().Caption(kLines[n]), "HA#x/IDxx   Non Connection ");
        EXPECT_EQ(ui::Form().Caption(kJudges[n]), " ------ ");
        EXPECT_FALSE(ui::Form().IsEnabled(kBoxes[n]) && ui::Form().IsChecked(kBoxes[n]));
    }
    EXPECT_FALSE(ui::Form().IsVisible(ControlId::Panel3));
    EXPECT_EQ(currentSlot, 0);
}

TEST_F(Slots, TwoDrivesAndFiveEmptyLines) {
    SimDiskConfig a = Disk("SLOTA000"), b = Disk("SLOTB000");
    sim_add_disk(0, 0, &a);
    sim_add_disk(0, 9, &b);
    Inquiry(0, "HALCYON ", "HX36LPW SCSI    ", "0104");
    ScanAndShow();
    EXPECT_EQ(ui::Form().Caption(ControlId::id0l), "HA#0/ID00  HALCYON HX36LPW S 0104 #SLOTA000");
    EXPECT_EQ(ui::Form().FontColor(ControlId::id0l), ui::colors::kGreen);
    EXPECT_EQ(ui::Form().Caption(ControlId::id1l).substr(0, 11), "HA#0/ID09  ");
    for (int n = 2; n < 7; ++n) {
        EXPECT_EQ(ui::Form().Caption(kLines[n]), "HA#x/IDxx  Non Connection ");
        EXPECT_EQ(ui::Form().Caption(kJudges[n]), " ------ ");
        EXPECT_EQ(ui::Form().FontColor(kLines[n]), ui::colors::kBlack);
    }
    for (int n = 0; n < 2; ++n) {
        EXPECT_TRUE(ui::Form().IsChecked(kBoxes[n]));
        EXPECT_TRUE(ui::Form().IsEnabled(kBoxes[n]));
        EXPECT_EQ(ui::Form().Caption(kJudges[n]), "");
        EXPECT_FALSE(ui::Form().IsEnabled(ControlId::ID0));
    }
    EXPECT_TRUE(ui::Form().IsVisible(ControlId::Panel3));
    EXPECT_EQ(currentSlot, 7);
}

TEST_F(Slots, IdentityTextsByVendorClass) {
    sim_add_adapter("SIMASPI", "SECOND", 16, 15);
    SimDiskConfig unisys = Disk("UNI00000", SIM_VENDOR_UNISYS), hp = Disk("HPHP0000", SIM_VENDOR_HP),
                  far = Disk("FAR00000");
    sim_add_disk(0, 0, &unisys);
    sim_add_disk(0, 1, &hp);
    sim_add_disk(1, 12, &far);
    // Bytes 16-35 written so that every offset shows in the line.
    Inquiry(0, "UNISYS  ", "ABCDEFGHIJKLMNOP", "QRST");
    Inquiry(1, "HP      ", "ABCDEFGHIJKLMNOP", "QRST");
    std::uint8_t farInq[96] = {0, 0, 2, 2, 91};
    std::memcpy(farInq + 8, "HALCYON HX36LP  ", 16);
    std::memcpy(farInq + 24, "        0104", 12);
    sim_disk_set_inquiry(1, 12, farInq, sizeof farInq);
    ScanAndShow();
    // UNISYS: vendor 8-13, product 22-30, revision 32-35.
    EXPECT_EQ(ui::Form().Caption(ControlId::id0l), "HA#0/ID00  UNISYS  GHIJKLMNO QRST #UNI00000");
    // HP: vendor 8-14, product 16-19, revision 28-31.
    EXPECT_EQ(ui::Form().Caption(ControlId::id1l), "HA#0/ID01  HP      ABCD      MNOP #HPHP0000");
    EXPECT_EQ(ui::Form().Caption(ControlId::id2l), "HA#1/ID12  HALCYON HX36LP    0104 #FAR00000");
}

TEST_F(Slots, AMakersDriveWithoutItsLogIsShownButNotTicked) {
    SimDiskConfig c = Disk("NOLOG000");
    c.log_readable = 0;
    sim_add_disk(0, 0, &c);
    Inquiry(0, "HALCYON ", "HX36LPW SCSI    ", "0104");
    ScanAndShow();
    EXPECT_EQ(ui::Form().Caption(ControlId::id0l), "HA#0/ID00  HALCYON HX36LP    0104 #NOLOG000");
    EXPECT_EQ(ui::Form().FontColor(ControlId::id0l), ui::colors::kMaroon);
    EXPECT_FALSE(ui::Form().IsChecked(ControlId::ID0D));
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "");
}

TEST_F(Slots, AnUnidentifiedDriveShowsDashesAndKeepsItsBox) {
    SimDiskConfig c = Disk("NOINQ000");
    sim_add_disk(0, 3, &c);
    SimFault f = NextFault(0x12);
    f.times = 0;
    f.ha_stat = 0x11;
    sim_add_fault(0, 3, &f);
    ui::Form().Enable(ControlId::ID0D);
    ui::Form().Check(ControlId::ID0D);
    ScanAndShow();
    EXPECT_EQ(ui::Form().Caption(ControlId::id0l), "HA#0/ID03  Device name not available.");
    EXPECT_EQ(ui::Form().FontColor(ControlId::id0l), ui::colors::kMaroon);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), " ------ ");
    EXPECT_TRUE(ui::Form().IsChecked(ControlId::ID0D));  // untouched
}

TEST_F(Slots, ADriveThatFailedAtTheScanIsJudgedAndLoggedAtOnce) {
    SimDiskConfig c = Disk("NOSTART0");
    c.start_unit_fails = 1;
    sim_add_disk(0, 0, &c);
    ScanAndShow();
    EXPECT_EQ(ui::Form().Caption(ControlId::id0l), "HA#0/ID00  This Drive had check condition.");
    EXPECT_EQ(ui::Form().FontColor(ControlId::id0l), ui::colors::kRed);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "");  // the verdict's text is replaced
    EXPECT_FALSE(ui::Form().IsChecked(ControlId::ID0D));
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::ID0));
    EXPECT_TRUE(DriveTable[0].runFlags & kFlagFail);
    const std::string log = Log("NOSTART0");
    EXPECT_TRUE(Has(log, "<<< Error: Start/Stop Unit: Check Condition. >>>"));
    EXPECT_TRUE(Has(log, "*  FAIL  *"));
}

}  // namespace
}  // namespace tamro::test
