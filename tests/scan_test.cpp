// The bus scan against the simulated bus: the table it fills and the
// commands it sends.
#include "discovery/scan.h"

#include "sim_fixture.h"
#include "ui/window_model.h"

namespace tamro::test {
namespace {

class Scan : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        sim_clear_bus();
        ui::Form().Reset();
    }

    static std::string ErrorLine() { return ui::Form().Caption(ui::ControlId::error); }

    static int Adapter(int targets = 8, int ownId = 7) { return sim_add_adapter("SIMASPI", "SCAN", targets, ownId); }

    static SimDiskConfig Disk(int vendor = SIM_VENDOR_HALCYON, const char* serial = "SER00001") {
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        cfg.vendor = vendor;
        cfg.serial = serial;
        return cfg;
    }

    static std::vector<SimTraceEntry> TraceFor(int ha, int target) {
        std::vector<SimTraceEntry> out;
        for (const auto& e : Trace())
            if (e.ha == ha && e.target == target) out.push_back(e);
        return out;
    }

    static std::vector<std::uint8_t> Opcodes(const std::vector<SimTraceEntry>& trace) {
        std::vector<std::uint8_t> out;
        for (const auto& e : trace) out.push_back(e.cdb[0]);
        return out;
    }
};

TEST_F(Scan, AHealthyDriveFillsItsSlotInCommandOrder) {
    Adapter();
    SimDiskConfig cfg = Disk();
    cfg.last_lba = 0x00123456;
    cfg.block_size = 520;
    cfg.log_generation = 3;
    sim_add_disk(0, 2, &cfg);

    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 1);
    EXPECT_EQ(currentSlot, 1);
    const DriveSlot& s = DriveTable[0];
    EXPECT_EQ(s.hostAdapter, 0);
    EXPECT_EQ(s.targetId, 2);
    EXPECT_EQ(s.errorKind, 0);
    EXPECT_EQ(s.vendorClass, kVendorHalcyon);
    EXPECT_EQ(s.logLayout, 3);
    EXPECT_STREQ(s.serialNumber, "SER00001");
    EXPECT_EQ(s.blockSize, 520);
    EXPECT_EQ(s.lastLba, 0x00123456u);
    EXPECT_STREQ(s.lastError, "Initial status for comment.");
    EXPECT_STREQ(s.comment, "Initial status for comment.");
    EXPECT_EQ(std::memcmp(s.inquiryData + 8, "HALCYON ", 8), 0);
    EXPECT_EQ(Opcodes(TraceFor(0, 2)),
              (std::vector<std::uint8_t>{0x00, 0x12, 0x1B, 0xF0, 0xFD, 0xF0, 0xF0, 0xF9, 0xF0, 0x1B, 0x25}));
    // Factory mode is on exactly around the vendor commands.
    EXPECT_EQ(sim_disk_factory_mode(0, 2), 0);
}

TEST_F(Scan, NoHostAdapterIsNotAFailure) {
    EXPECT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 0);
    EXPECT_EQ(ErrorLine(), "");
}

TEST_F(Scan, AnAdapterReportingNoTargetCountIsScannedForEight) {
    Adapter(0, 15);
    SimDiskConfig a = Disk(SIM_VENDOR_HALCYON, "TARGET07"), b = Disk(SIM_VENDOR_HALCYON, "TARGET08");
    sim_add_disk(0, 7, &a);
    sim_add_disk(0, 8, &b);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 1);
    EXPECT_STREQ(DriveTable[0].serialNumber, "TARGET07");
    EXPECT_TRUE(TraceFor(0, 8).empty());
}

TEST_F(Scan, SevenSlotsInAdapterThenTargetOrderAndTheEighthUntouched) {
    Adapter(8, 7);
    Adapter(16, 15);
    const char* serials[] = {"DISK0000", "DISK0001", "DISK0002", "DISK0003", "DISK0004", "DISK0005", "DISK0006",
                             "DISK0007"};
    // Four on the second adapter first in the list, to prove adapter order wins.
    for (int i = 0; i < 4; ++i) {
        SimDiskConfig c = Disk(SIM_VENDOR_HALCYON, serials[i + 4]);
        sim_add_disk(1, i, &c);
    }
    for (int i = 0; i < 4; ++i) {
        SimDiskConfig c = Disk(SIM_VENDOR_HALCYON, serials[i]);
        sim_add_disk(0, 2 * i, &c);
    }
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 7);
    for (int i = 0; i < 7; ++i) EXPECT_STREQ(DriveTable[i].serialNumber, serials[i]) << i;
    EXPECT_EQ(DriveTable[6].hostAdapter, 1);
    EXPECT_EQ(DriveTable[6].targetId, 2);
    EXPECT_TRUE(TraceFor(1, 3).empty());
}

TEST_F(Scan, OtherDeviceTypesAreNeverOpened) {
    Adapter();
    sim_add_device(0, 0, DTYPE_CDROM);
    sim_add_device(0, 1, DTYPE_SEQD);
    SimDiskConfig c = Disk();
    sim_add_disk(0, 3, &c);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 1);
    EXPECT_EQ(DriveTable[0].targetId, 3);
    EXPECT_TRUE(TraceFor(0, 0).empty());
    EXPECT_TRUE(TraceFor(0, 1).empty());
}

TEST_F(Scan, TestUnitReadyWithCheckConditionStillIdentifies) {
    Adapter();
    SimDiskConfig c = Disk();
    sim_add_disk(0, 0, &c);
    SimFault f = NextFault(0x00);
    f.sense_key = 2;
    f.asc = 0x04;
    sim_add_fault(0, 0, &f);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 1);
    EXPECT_EQ(DriveTable[0].errorKind, 0);
    EXPECT_STREQ(DriveTable[0].serialNumber, "SER00001");
}

TEST_F(Scan, ADriveThatFailsTestUnitReadyIsDroppedAndItsSlotReused) {
    Adapter();
    SimDiskConfig a = Disk(SIM_VENDOR_HALCYON, "DROPPED0"), b = Disk(SIM_VENDOR_HALCYON, "KEPT0000"),
                  c = Disk(SIM_VENDOR_HALCYON, "DROPPED1");
    sim_add_disk(0, 1, &a);
    sim_add_disk(0, 2, &b);
    sim_add_disk(0, 3, &c);
    SimFault f = NextFault(0x00);
    f.times = 0;
    f.ha_stat = 0x11;
    sim_add_fault(0, 1, &f);
    sim_add_fault(0, 3, &f);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(driveCount, 1);
    EXPECT_EQ(DriveTable[0].targetId, 2);
    EXPECT_STREQ(DriveTable[0].serialNumber, "KEPT0000");
    // The last dropped drive leaves only its address and the two texts.
    EXPECT_EQ(DriveTable[1].targetId, 3);
    EXPECT_STREQ(DriveTable[1].comment, "Initial status for comment.");
    EXPECT_EQ(DriveTable[1].errorKind, 0);
    EXPECT_EQ(Opcodes(TraceFor(0, 3)), std::vector<std::uint8_t>{0x00});
}

TEST_F(Scan, SlotOutcomes) {
    Adapter(16, 15);
    SimDiskConfig inquiryFails = Disk(SIM_VENDOR_HALCYON, "INQFAIL0");
    SimDiskConfig other = Disk(SIM_VENDOR_OTHER, "OTHER000");
    SimDiskConfig halcyonNoLog = Disk(SIM_VENDOR_HALCYON, "NOLOG000");
    halcyonNoLog.log_readable = 0;
    halcyonNoLog.last_lba = 4095;
    halcyonNoLog.block_size = 512;
    SimDiskConfig compaqNoLog = Disk(SIM_VENDOR_COMPAQ, "CPQNOLOG");
    compaqNoLog.log_readable = 0;
    SimDiskConfig noSerial = Disk(SIM_VENDOR_HALCYON, "NOSERIAL");
    SimDiskConfig startFails = Disk(SIM_VENDOR_HALCYON, "NOSTART0");
    startFails.start_unit_fails = 1;
    SimDiskConfig noCapacity = Disk(SIM_VENDOR_HALCYON, "NOCAPA00");
    const SimDiskConfig* disks[] = {&inquiryFails, &other, &halcyonNoLog, &compaqNoLog, &noSerial, &startFails, &noCapacity};
    for (int t = 0; t < 7; ++t) sim_add_disk(0, t, disks[t]);
    SimFault f = NextFault(0x12);
    f.ha_stat = 0x11;
    sim_add_fault(0, 0, &f);
    f = NextFault(0xF9);
    f.sense_key = 5;
    f.asc = 0x20;
    sim_add_fault(0, 4, &f);
    f = NextFault(0x25);
    f.sense_key = 4;
    f.asc = 0x44;
    sim_add_fault(0, 6, &f);

    ASSERT_EQ(ScanBuses(), 0);
    ASSERT_EQ(driveCount, 7);

    EXPECT_EQ(DriveTable[0].errorKind, 5);
    EXPECT_STREQ(DriveTable[0].lastError, "Inquiry(6): Selection timeout.");
    EXPECT_EQ(DriveTable[0].inquiryData[8], 0);

    EXPECT_EQ(DriveTable[1].errorKind, 5);
    EXPECT_EQ(DriveTable[1].vendorClass, 255);
    EXPECT_EQ(DriveTable[1].logLayout, 255);
    EXPECT_STREQ(DriveTable[1].lastError, "This drive is not HALCYON disk series.");
    EXPECT_EQ(std::memcmp(DriveTable[1].inquiryData + 8, "OTHERCO", 7), 0);
    EXPECT_EQ(Opcodes(TraceFor(0, 1)), (std::vector<std::uint8_t>{0x00, 0x12}));

    EXPECT_EQ(DriveTable[2].errorKind, 9);
    EXPECT_EQ(DriveTable[2].logLayout, 255);
    EXPECT_STREQ(DriveTable[2].lastError, "This drive is not HALCYON disk series.");
    EXPECT_STREQ(DriveTable[2].serialNumber, "NOLOG000");
    EXPECT_EQ(DriveTable[2].lastLba, 4095u);
    EXPECT_EQ(DriveTable[2].blockSize, 512);

    EXPECT_EQ(DriveTable[3].errorKind, 5);
    EXPECT_EQ(DriveTable[3].vendorClass, kVendorCompaq);
    EXPECT_STREQ(DriveTable[3].serialNumber, "");
    EXPECT_EQ(sim_disk_factory_mode(0, 3), 0);

    EXPECT_EQ(DriveTable[4].errorKind, 5);
    EXPECT_STREQ(DriveTable[4].serialNumber, "");
    EXPECT_EQ(DriveTable[4].lastLba, 0u);
    EXPECT_EQ(sim_disk_factory_mode(0, 4), 0);  // switched off on the failure path

    EXPECT_EQ(DriveTable[5].errorKind, 2);
    EXPECT_STREQ(DriveTable[5].lastError, "Error: Start/Stop Unit: Check Condition.");
    EXPECT_STREQ(DriveTable[5].serialNumber, "NOSTART0");
    EXPECT_EQ(DriveTable[5].lastLba, 0u);

    EXPECT_EQ(DriveTable[6].errorKind, 2);
    EXPECT_STREQ(DriveTable[6].lastError, "Error: Read Capacity: Check Condition.");
    EXPECT_EQ(DriveTable[6].senseData[12], 0x44);
    EXPECT_EQ(DriveTable[6].blockSize, 0);
}

TEST_F(Scan, VendorClassesInTheirOrder) {
    std::uint8_t inq[80] = {};
    auto put = [&](int at, const char* text) { std::memcpy(inq + at, text, std::strlen(text)); };
    EXPECT_EQ(VendorClassOf(inq), 255);
    put(8, "HP      ");
    EXPECT_EQ(VendorClassOf(inq), kVendorHp);
    put(8, "HALCYON ");
    EXPECT_EQ(VendorClassOf(inq), kVendorHalcyon);
    put(8, "UNISYS  ");
    EXPECT_EQ(VendorClassOf(inq), kVendorUnisys);
    put(67, "EMC");
    EXPECT_EQ(VendorClassOf(inq), kVendorEmc);
    put(8, "COMPAQ  ");
    EXPECT_EQ(VendorClassOf(inq), kVendorCompaq);
    put(16, "XXXXXXXXXSUNXXXX");
    EXPECT_EQ(VendorClassOf(inq), kVendorSun);
    // Near misses.
    std::uint8_t near[80] = {};
    std::memcpy(near + 8, "HALCYO", 6);
    EXPECT_EQ(VendorClassOf(near), 255);
    std::memcpy(near + 8, "H P", 3);
    EXPECT_EQ(VendorClassOf(near), 255);
}

TEST_F(Scan, SunAtProductPositionsWinsOnTheBus) {
    Adapter();
    SimDiskConfig c = Disk(SIM_VENDOR_COMPAQ);
    sim_add_disk(0, 0, &c);
    std::uint8_t inq[96] = {};
    inq[4] = 91;
    std::memcpy(inq + 8, "COMPAQ  ST3456789SUN    0001", 28);
    sim_disk_set_inquiry(0, 0, inq, sizeof inq);
    ASSERT_EQ(ScanBuses(), 0);
    EXPECT_EQ(DriveTable[0].vendorClass, kVendorSun);
}

TEST_F(Scan, LogLayoutBoundaries) {
    EXPECT_EQ(LogLayoutOf(0), 1);
    EXPECT_EQ(LogLayoutOf(4095), 1);
    EXPECT_EQ(LogLayoutOf(4096), 2);
    EXPECT_EQ(LogLayoutOf(8191), 2);
    EXPECT_EQ(LogLayoutOf(8192), 3);
    EXPECT_EQ(LogLayoutOf(10239), 3);
    EXPECT_EQ(LogLayoutOf(10240), 4);
    EXPECT_EQ(LogLayoutOf(65535), 4);
}

TEST_F(Scan, LogGenerationsOnTheBus) {
    Adapter();
    for (int g = 1; g <= 4; ++g) {
        SimDiskConfig c = Disk();
        c.log_generation = g;
        sim_add_disk(0, g - 1, &c);
    }
    ASSERT_EQ(ScanBuses(), 0);
    for (int g = 1; g <= 4; ++g) EXPECT_EQ(DriveTable[g - 1].logLayout, g);
}

TEST_F(Scan, ASecondPassClearsAndRepeatsEveryCommand) {
    Adapter();
    SimDiskConfig a = Disk(SIM_VENDOR_HALCYON, "FIRST000"), b = Disk(SIM_VENDOR_UNISYS, "SECOND00");
    sim_add_disk(0, 0, &a);
    sim_add_disk(0, 5, &b);
    ASSERT_EQ(ScanBuses(), 0);
    const auto first = Trace();
    DriveTable[0].runFlags = 0x41;
    DriveTable[0].readErrorCount = 3;
    DriveTable[3].errorKind = 7;
    selectedCount = 2;
    sim_trace_clear();
    ASSERT_EQ(ScanBuses(), 0);
    const auto second = Trace();
    ASSERT_EQ(first.size(), second.size());
    for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(Cdb(first[i]), Cdb(second[i])) << i;
    EXPECT_EQ(DriveTable[0].runFlags, 0u);
    EXPECT_EQ(DriveTable[0].readErrorCount, 0);
    EXPECT_EQ(DriveTable[3].errorKind, 0);
    EXPECT_EQ(selectedCount, 0);
    EXPECT_EQ(driveCount, 2);
}

TEST_F(Scan, BindingFailuresGoToTheErrorLine) {
    testing::ReleaseAspiBinding();
    testing::SetAspiModuleName("wnaspi32_not_installed");
    EXPECT_EQ(ScanBuses(), -1);
    EXPECT_EQ(ErrorLine(), " ASPI, LoadLibraryEx(wnaspi32) failed!!");
    testing::SetAspiModuleName("wnaspi_no_send_command");
    EXPECT_EQ(ScanBuses(), -1);
    EXPECT_EQ(ErrorLine(), "ASPI,GetProcAddress(SendASPI32Com)failed");
    testing::SetAspiModuleName("wnaspi_no_support_info");
    EXPECT_EQ(ScanBuses(), -1);
    EXPECT_EQ(ErrorLine(), "ASPI,GetProcAddress(GetASPI32Sup)failed");
    testing::SetAspiModuleName("wnaspi32");

    sim_set_support_status(0x00);
    EXPECT_EQ(ScanBuses(), -1);
    EXPECT_EQ(ErrorLine(), "                   Can't ASPI Init Error.");
    sim_set_support_status(SS_COMP);
}

TEST_F(Scan, AFailedAdapterInquiryStopsTheScanButKeepsWhatWasFound) {
    Adapter();
    Adapter();
    SimDiskConfig c = Disk();
    sim_add_disk(0, 0, &c);
    sim_add_disk(1, 0, &c);
    sim_set_adapter_invalid(1, 1);
    EXPECT_EQ(ScanBuses(), -1);
    EXPECT_EQ(ErrorLine(), "                   Can't get HA-Inquiry.");
    EXPECT_EQ(driveCount, 1);
    EXPECT_STREQ(DriveTable[0].serialNumber, "SER00001");
}

}  // namespace
}  // namespace tamro::test
