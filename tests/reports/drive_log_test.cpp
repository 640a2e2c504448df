// Whole drive logs, byte for byte: which items a drive's runFlags bring in,
// the identity block, and how the file is created.
#include "reports/drive_log.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include "log_fixture.h"

namespace tamro::test {
namespace {

using ui::ControlId;

class DriveLog : public LogFolder {};

const std::string kIdentity =
    "\r\nDrive ID            : 00\r\n"
    "Model Number        : HALCYON HC-3182W        512 Bytes/Sct.\r\n"
    "Serial Number       : SER12345\r\n"
    "F/W Revision        : HA05\r\n";

TEST_F(DriveLog, APassDriveOfTheFullPathHoldsEveryItemInOrder) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagIdentity | kFlagPlistValid | kFlagGlistValid | kFlagStandard | kFlagPass;
    s.plistCount = 100;
    s.logLayout = 4;
    s.blocksRead = 640000;
    s.seekCount = 85000;
    s.readErrorCount = 1;
    Hex(s.readErrors[0].senseData, "70 00 01");
    std::strcpy(s.comment, "This drive seems to have no problem.");
    std::uint8_t* log = sim_disk_log_data(0, 0);
    std::memset(log, 0, 32768);
    log[62] = 0x01;   // power-on minutes 00000100
    log[418] = 0x0C;  // spin-up
    std::memset(sim_disk_hsp_data(0, 0), 0, 30);  // one head

    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("SER12345.log"),
              std::string("Start Time          : Mon Jan 05 09:10:11 2026") + kIdentity +
                  "Primary Defect List : 100. \r\n"
                  "Grown   Defect List : 0. \r\n"
                  "\r\n*** This drive was diagnosed with Standard test mode ***\r\n"
                  "\r\n              <<< SMART DATA PAGE >>>\r\n"
                  " 1. Power on time\r\n"
                  "  The accumulated Power-on time (min.)            : 00000100\r\n"
                  " 2. Read error rate\r\n"
                  "  Number of samples by each Read sector Head      : 00000000\r\n"
                  "  Number of Read sectors by each Head             : 00000000\r\n"
                  "   HD = 00  Current number of Read errors           : 0000\r\n"
                  " 3. Seek error rate\r\n"
                  "  Number of samples                               : 00000000\r\n"
                  "  Number of seek operation by each Head           : 00000000\r\n"
                  "   HD = 00  Current number of Seek errors           : 0000\r\n"
                  " 4. Number of remaining alternate sectors\r\n"
                  "  Number of remaining alternate sectors           : 00000000\r\n"
                  " 5. Spin-up time\r\n"
                  "  Current Spin-up time (sec.)                     : 0000000C\r\n"
                  "\r\n<<< This is the duplication test result of SMART LOG >>>\r\n"
                  "\r\n       No error data in SMART LOG.\r\n"
                  "\r\nTotal Read Bit Num. : 2.621E+09. \r\n"
                  "Total Seek Count.   : 85000. \r\n"
                  "\r\n"
                  "Read Error Num.     : 0. \r\n"
                  "Recovered Read Error: 1. \r\n"
                  "Other Error Num.    : 0. \r\n"
                  "Recovered OtherError: 0. \r\n"
                  "\r\n"
                  "\r\n<<< This drive seems to have no problem. >>>\r\n" +
                  kPassBanner + "Stop Time           : Mon Jan 05 09:40:02 2026");
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "** Now saving test result of the drive. **");
}

TEST_F(DriveLog, ADriveJudgedFailAtOnceForNotBeingIdentified) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagIdentity | kFlagFail;
    s.errorKind = kNotIdentified;
    s.targetId = 5;
    s.blockSize = 0;
    std::strcpy(s.serialNumber, "HA#0ID05");
    const std::string verdict = "\r\n<<< This drive is not Halcyon disk series. >>>\r\n" + kFailBanner +
                                "Stop Time           : Mon Jan 05 09:40:02 2026";

    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("HA#0ID05.log"), std::string("Start Time          : Mon Jan 05 09:10:11 2026") +
                                            "\r\nDrive ID            : 05\r\n"
                                            "Model Number        : HALCYON HC-3182W        0 Bytes/Sct.\r\n"
                                            "Serial Number       : HA#0ID05\r\n"
                                            "F/W Revision        : HA05\r\n" +
                                            verdict);

    s.inquiryData[4] = 0;  // INQUIRY itself failed
    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("HA#0ID05.log"), std::string("Start Time          : Mon Jan 05 09:10:11 2026") +
                                            "\r\nDrive ID            : 05\r\n"
                                            "Model Number        : Device name not available.\r\n"
                                            "Serial Number       : HA#0ID05\r\n"
                                            "F/W Revision        : Device name not available.\r\n" +
                                            verdict);
    EXPECT_EQ(sim_trace_count(), 0u);
}

const char kStartUnitSense[] = "70000200000000 0A00000000 04020000";
const std::string kStartUnitDump =
    "         70000200000000" "0A00000000" "04020000"
    "\r\n         00000000000000000000000000000000"
    "\r\n         00000000000000000000000000000000"
    "\r\n             CDB=1B000000010000000000\r\n";

TEST_F(DriveLog, ALogRightAfterAScanHasAnEmptyStartTimeAndNoIdentity) {
    DriveSlot& s = Slot();
    s.startTime[0] = '\0';
    s.runFlags = kFlagFail;
    s.errorKind = kCheckCondition;
    std::strcpy(s.lastError, "Error: Start/Stop Unit: Check Condition.");
    Hex(s.senseData, kStartUnitSense);
    Hex(s.failedCdb, "1B 00 00 00 01 00");

    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("SER12345.log"),
              "Start Time          : \r\n<<< Error: Start/Stop Unit: Check Condition. >>>\r\n" + kStartUnitDump +
                  kFailBanner + "Stop Time           : Mon Jan 05 09:40:02 2026");
}

TEST_F(DriveLog, TheSmartPagesOwnFailuresDoNotReplaceTheVerdictsReason) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagFail;
    s.errorKind = kCheckCondition;
    s.logLayout = 4;
    std::strcpy(s.lastError, "Error: Start/Stop Unit: Check Condition.");
    Hex(s.senseData, kStartUnitSense);
    Hex(s.failedCdb, "1B 00 00 00 01 00");
    SimFault hsp = NextFault(0xF9);
    hsp.sense_key = 5;
    hsp.asc = 0x24;
    sim_add_fault(0, 0, &hsp);

    ASSERT_EQ(WriteDriveLog(), 0);
    const std::string text = ReadFile("SER12345.log");
    const std::string tail = "  Current Spin-up time (sec.)                     : ";
    const std::size_t page = text.find(tail);
    ASSERT_NE(page, std::string::npos);
    EXPECT_EQ(text.substr(page + tail.size() + 10),
              "\r\n<<< Error: Start/Stop Unit: Check Condition. >>>\r\n" + kStartUnitDump + kFailBanner +
                  "Stop Time           : Mon Jan 05 09:40:02 2026");
    // The slot itself carries the page command's failure, as any command's.
    EXPECT_EQ(s.failedCdb[0], 0xF9);
}

TEST_F(DriveLog, TheModelStopsAtAZeroAndTheRevisionIsCopiedAsItIs) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagIdentity;
    std::memcpy(s.inquiryData + 8, "ABCDEFGHXYZ\0QQQQQQQQ" "R1\0Z" "HP4X", 28);  // 8-18, 19, 20-27, 28-31, 32-35
    const std::string before =
        "Start Time          : Mon Jan 05 09:10:11 2026\r\nDrive ID            : 00\r\n"
        "Model Number        : ABCDEFGHXYZ 512 Bytes/Sct.\r\nSerial Number       : SER12345\r\n"
        "F/W Revision        : ";
    const std::string after = "\r\nStop Time           : Mon Jan 05 09:40:02 2026";

    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("SER12345.log"), before + "HP4X" + after);

    s.vendorClass = kVendorHp;  // its revision sits in bytes 28-31
    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("SER12345.log"), before + std::string("R1\0Z", 4) + after);
}

TEST_F(DriveLog, TheSecondWriteReplacesTheFirst) {
    Slot().runFlags = kFlagIdentity | kFlagPlistValid;
    ASSERT_EQ(WriteDriveLog(), 0);
    Slot().runFlags = 0;
    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_EQ(ReadFile("SER12345.log"),
              "Start Time          : Mon Jan 05 09:10:11 2026Stop Time           : Mon Jan 05 09:40:02 2026");
}

// Windows keeps a process's current folder from being removed; there the
// first blocker is another program holding the old log open without sharing,
// which makes the creation fail just the same.
#ifdef _WIN32
constexpr const char* kFirstBlocker = "file held open";
#else
constexpr const char* kFirstBlocker = "folder removed";
#endif

TEST_F(DriveLog, AFileThatCannotBeCreatedRaisesTheErrorPanel) {
    ui::WindowModel& form = ui::Form();
    for (const char* blocker : {kFirstBlocker, "name taken by a folder"}) {
        SCOPED_TRACE(blocker);
        form.Hide(ControlId::ALARM);
        form.Show(ControlId::WAIT);
        form.Hide(ControlId::error);
        form.Disable(ControlId::OK);
        form.SetCaption(ControlId::error, "");
        Slot().logLayout = 4;
        Slot().runFlags = kFlagIdentity | kFlagPass;
        std::filesystem::create_directory(folder_ / "work");
        std::filesystem::current_path(folder_ / "work");
#ifdef _WIN32
        HANDLE held = INVALID_HANDLE_VALUE;
        if (blocker == kFirstBlocker) {
            held = CreateFileA("SER12345.log", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
            ASSERT_NE(held, INVALID_HANDLE_VALUE);
        }
#else
        if (blocker == kFirstBlocker) std::filesystem::remove(folder_ / "work");
#endif
        if (blocker != kFirstBlocker) std::filesystem::create_directory("SER12345.log");

        EXPECT_EQ(WriteDriveLog(), -1);
#ifdef _WIN32
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
#endif
        EXPECT_TRUE(form.IsVisible(ControlId::ALARM));
        EXPECT_FALSE(form.IsVisible(ControlId::WAIT));
        EXPECT_TRUE(form.IsVisible(ControlId::error));
        EXPECT_EQ(form.Caption(ControlId::error), "Cannot open file SER12345.log\r\n");
        EXPECT_TRUE(form.IsEnabled(ControlId::OK));
        EXPECT_EQ(form.Caption(ControlId::DCONF), "** Now saving test result of the drive. **");
        EXPECT_EQ(sim_trace_count(), 0u);  // nothing is asked of the drive
        std::filesystem::current_path(folder_);
        std::filesystem::remove_all(folder_ / "work");
    }
}

}  // namespace
}  // namespace tamro::test
