// The health check: what it sends (nothing that writes, no surface test),
// what its record holds, and a drive it cannot read, which it reports with
// the reason. The drive table stays as the scan left it.
#include <cstring>

#include "diagnostics/health_check.h"
#include "run_fixture.h"

namespace tamro::test {
namespace {

class HealthCheck : public RunBus {
protected:
    void SetUp() override {
        RunBus::SetUp();
        SimDiskConfig c = Disk("HEALTH00");
        sim_add_disk(0, 0, &c);
        ScanAndShow();
        std::memcpy(&scanned, &DriveTable[0], sizeof scanned);
    }
    void ExpectTableAsScanned() const { EXPECT_EQ(std::memcmp(&scanned, &DriveTable[0], sizeof scanned), 0); }
    DriveSlot scanned{};
};

TEST_F(HealthCheck, ReadsDefectsLogAndPageWithoutWritingAnything) {
    const auto r = CheckDriveHealth(0);
    // The defect lists, the error log, the SMART page: each inside factory
    // mode where the run reads them so.
    EXPECT_EQ(Ops(0), (std::vector<std::uint8_t>{0x37, 0x37, 0xF0, 0xF9, 0xFD, 0xF0, 0xF0, 0xFD, 0xF9, 0xF0}));
    EXPECT_EQ(r->kind, ReportKind::Health);
    EXPECT_EQ(r->healthError, "");
    EXPECT_EQ(r->judged.plistCount, 100);
    EXPECT_TRUE(r->judged.runFlags & kFlagGlistValid);
    ASSERT_TRUE(r->smartPage);
    EXPECT_TRUE(r->smartPage->logRead);
    EXPECT_FALSE(r->logRetested);
    EXPECT_TRUE(r->logPath.empty());
    EXPECT_TRUE(fs::is_empty(fs::current_path()));  // no log
    ExpectTableAsScanned();
}

TEST_F(HealthCheck, SaysWhatCouldNotBeRead) {
    SimFault page = NextFault(0xFD);  // the SMART page's GetLog(10)
    page.skip = 1;
    page.sense_key = 3;
    ASSERT_EQ(sim_add_fault(0, 0, &page), 0);
    auto r = CheckDriveHealth(0);
    EXPECT_EQ(r->healthError, "The SMART data page cannot be read: Error: GetLog(10): Check Condition.");
    ASSERT_TRUE(r->smartPage);
    EXPECT_FALSE(r->smartPage->logRead);
    ExpectTableAsScanned();

    SimFault log = NextFault(0xFD);  // the error log's own GetLog(10)
    log.sense_key = 3;
    ASSERT_EQ(sim_add_fault(0, 0, &log), 0);
    sim_trace_clear();
    r = CheckDriveHealth(0);
    EXPECT_EQ(r->healthError, "The drive's error log cannot be read: Error: GetLog(10): Check Condition.");
    EXPECT_FALSE(r->smartPage);
    EXPECT_EQ(Ops(0).back(), 0xF0);  // factory mode closed
    ExpectTableAsScanned();
}

// A drive that refuses both switch-offs (the second and the fourth 0xF0) is
// left in factory mode: the record says so and the check is not a read.
TEST_F(HealthCheck, AFactoryResetThatFailsLeavesItNotRead) {
    for (unsigned skip : {1u, 3u}) {
        SimFault reset = NextFault(0xF0);
        reset.skip = skip;
        reset.sense_key = 5;
        reset.asc = 0x24;
        ASSERT_EQ(sim_add_fault(0, 0, &reset), 0);
    }
    auto r = CheckDriveHealth(0);
    ASSERT_EQ(sim_disk_factory_mode(0, 0), 1);
    EXPECT_TRUE(r->factoryModeLeftOn);
    EXPECT_EQ(r->healthError, "Factory ReSet(10) failed: the drive may still be in factory mode.");
    ASSERT_TRUE(r->smartPage);
    EXPECT_TRUE(r->smartPage->logRead);
    ExpectTableAsScanned();

    // The next check's switch-offs succeed, and the drive is off again.
    r = CheckDriveHealth(0);
    EXPECT_FALSE(r->factoryModeLeftOn);
    EXPECT_EQ(r->healthError, "");
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
}

}  // namespace
}  // namespace tamro::test
