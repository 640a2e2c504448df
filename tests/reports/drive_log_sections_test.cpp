// The verdict sections of the drive log: what each FAIL reason prints, the
// running-test block with its error records, the log entry blocks of the
// drive's own error log, and the totals.
#include "reports/drive_log.h"

#include "log_fixture.h"

namespace tamro::test {
namespace {

class LogSections : public LogFolder {
protected:
    // The file between the start time and the stop time (no SMART page).
    static std::string Body() {
        EXPECT_EQ(WriteDriveLog(), 0);
        const std::string text = ReadFile("SER12345.log");
        const std::string head = std::string("Start Time          : ") + kStart;
        const std::string tail = std::string("Stop Time           : ") + kStop;
        EXPECT_TRUE(text.starts_with(head) && text.ends_with(tail)) << text;
        if (text.size() < head.size() + tail.size()) return text;
        return text.substr(head.size(), text.size() - head.size() - tail.size());
    }

    // A record whose rows are given as hex text.
    static void Record(ErrorRecord& r, const char* row0, const char* row1, const char* row2, const char* cdb) {
        Hex(r.senseData, row0);
        Hex(r.senseData + 16, row1);
        Hex(r.senseData + 32, row2);
        Hex(r.failedCdb, cdb);
    }

    // Log entry e in use: its two stamps (little-endian) and sense rows.
    static void Entry(int e, std::uint32_t stamp1, std::uint32_t stamp2, const char* row0, const char* row1,
                      const char* row2) {
        std::uint8_t* p = Slot().smartLogEntries[e];
        for (int i = 0; i < 4; ++i) {
            p[i] = static_cast<std::uint8_t>(stamp1 >> (8 * i));
            p[4 + i] = static_cast<std::uint8_t>(stamp2 >> (8 * i));
        }
        Hex(p + 8, row0);
        Hex(p + 24, row1);
        Hex(p + 40, row2);
    }
};

const char kSenseRow0[] = "F0000300010203040A00000011000000";
const char kSenseRow1[] = "0102030405060708090A0B0C0D0E0F10";
const char kSenseRow2[] = "000000000000000000000000000000AA";
const std::string kSenseDump = std::string("         ") + kSenseRow0 + "\r\n         " + kSenseRow1 +
                               "\r\n         " + kSenseRow2 + "\r\n             CDB=28000102030400001000\r\n";

TEST_F(LogSections, EachFailReasonPrintsItsOwnLines) {
    const std::string running =
        "<<< This is running test result. >>>\r\n\r\n"
        "Read Error Num.     : 0. \r\nRecovered Read Error: 0. \r\n"
        "Other Error Num.    : 0. \r\nRecovered OtherError: 0. \r\n"
        "\r\n<<< Hard error was detected. >>>\r\n";
    const std::pair<int, std::string> kinds[] = {
        {0, "<<< It is program bug. >>>\r\n"},
        {1, "<<< Read(10): Selection timeout. >>>\r\n"},
        {2, "<<< Read(10): Selection timeout. >>>\r\n" + kSenseDump},
        {3, "\r\n<<< SMART LOG was not supported in SA area >>>\r\n"},
        {4, "<<< It was failed to read logging data. >>>\r\n" + kSenseDump},
        {5, "<<< This drive is not Halcyon disk series. >>>\r\n"},
        {6, "<<< The error duplicate. >>>\r\n"},
        {7, running},
        {8, "\r\n<<< Hard error was detected. >>>\r\n"},
        {9, "<<< It is program bug. >>>\r\n"},
    };
    DriveSlot& s = Slot();
    s.runFlags = kFlagFail;
    std::strcpy(s.lastError, "Read(10): Selection timeout.");
    std::strcpy(s.comment, "Hard error was detected.");
    Hex(s.senseData, kSenseRow0);
    Hex(s.senseData + 16, kSenseRow1);
    Hex(s.senseData + 32, kSenseRow2);
    Hex(s.failedCdb, "28 00 01 02 03 04 00 00 10 00");
    for (const auto& [kind, lines] : kinds) {
        SCOPED_TRACE(kind);
        s.errorKind = kind;
        EXPECT_EQ(Body(), "\r\n" + lines + kFailBanner);
    }
}

TEST_F(LogSections, NoJudgeShowsTheRunningTestWithItsRecords) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagLogUnusable | kFlagNoJudge;
    s.errorKind = kLogUnreadableAtScan;
    s.blockSize = 4096;
    s.blocksRead = 0xFFFFFFFFu;  // 1.40737e14 bits, past any 32-bit product
    s.blocksWritten = 320000;
    s.seekCount = 105000;
    s.otherErrorCount = 1;
    Record(s.otherErrors[0], "70000100000000000000000017000000", "000000000000000000000000000000C1",
           "000000000000000000000000000000C2", "2A000000100000001000");
    std::strcpy(s.comment, "This drive can not be judged due to other than Corvid series.");
    EXPECT_EQ(Body(),
              "\r\n<<< SMART LOG was not supported in SA area >>>\r\n"
              "\r\n<<< This is running test result. >>>\r\n"
              "Total Read Bit Num. : 1.407E+14. \r\n"
              "Total Write Block.  : 320000. \r\n"
              "Total Seek Count.   : 105000. \r\n"
              "\r\n"
              "Read Error Num.     : 0. \r\nRecovered Read Error: 0. \r\n"
              "Other Error Num.    : 0. \r\nRecovered OtherError: 1. \r\n"
              "    70000100000000000000000017000000     "
              "\r\n    000000000000000000000000000000C1     "
              "\r\n    000000000000000000000000000000C2     "
              "\r\n       *CDB=2A000000100000001000\r\n"
              "\r\n<<< This drive can not be judged due to other than Corvid series. >>>\r\n" +
                  kNoJudgeBanner);
}

TEST_F(LogSections, TotalsPast32BitsArePrintedWhole) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagLogUnusable | kFlagNoJudge;
    s.errorKind = kLogUnreadableAtScan;
    s.blockSize = 512;
    s.blocksRead = 0xFFFFFFFFull + 40000 * 16;  // Extended, read only, on 2^32 blocks
    s.blocksWritten = 0x100000010ull;
    const std::string body = Body();
    EXPECT_NE(body.find("Total Read Bit Num. : 1.759E+13. \r\n"), std::string::npos) << body;
    EXPECT_NE(body.find("Total Write Block.  : 4294967312. \r\n"), std::string::npos) << body;
}

TEST_F(LogSections, ThreeReadErrorsMakeTwoGroupsTheSecondWithOneRecord) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagFail;
    s.errorKind = kSurfaceTestFailed;
    s.blocksRead = 125;
    s.seekCount = 3;
    s.readErrorCount = 3;
    Record(s.readErrors[0], "70000100000000000000000018000000", "000000000000000000000000000000A0",
           "000000000000000000000000000000B0", "28000000100000001000");
    Record(s.readErrors[1], "70000300000000000000000011000000", "000000000000000000000000000000A1",
           "000000000000000000000000000000B1", "28000000200000001000");
    Record(s.readErrors[2], "F0000100000012340000000017000000", "000000000000000000000000000000A2",
           "000000000000000000000000000000B2", "2F000000300000F00000");
    std::strcpy(s.comment, "This error rate is out of spec.");
    EXPECT_EQ(Body(),
              "\r\n<<< This is running test result. >>>\r\n"
              "Total Read Bit Num. : 5.120E+05. \r\n"
              "Total Seek Count.   : 3. \r\n"
              "\r\n"
              "Read Error Num.     : 1. \r\nRecovered Read Error: 2. \r\n"
              "    70000100000000000000000018000000     70000300000000000000000011000000"
              "\r\n    000000000000000000000000000000A0     000000000000000000000000000000A1"
              "\r\n    000000000000000000000000000000B0     000000000000000000000000000000B1"
              "\r\n       *CDB=28000000100000001000            *CDB=28000000200000001000\r\n"
              "    F0000100000012340000000017000000     "
              "\r\n    000000000000000000000000000000A2     "
              "\r\n    000000000000000000000000000000B2     "
              "\r\n       *CDB=2F000000300000F00000\r\n"
              "Other Error Num.    : 0. \r\nRecovered OtherError: 0. \r\n"
              "\r\n<<< This error rate is out of spec. >>>\r\n" +
                  kFailBanner);
}

TEST_F(LogSections, CountsBeyondTheListsNeverReadPastThem) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagNoJudge;
    s.readErrorCount = 1000;
    s.otherErrorCount = -5;
    for (ErrorRecord& r : s.readErrors) Hex(r.senseData, "70000300");
    const std::string body = Body();
    EXPECT_NE(body.find("Read Error Num.     : 100. \r\n"), std::string::npos);
    EXPECT_NE(body.find("Other Error Num.    : 0. \r\n"), std::string::npos);
    EXPECT_EQ(std::count(body.begin(), body.end(), '*'), 2 * 50 + 30);  // 50 groups of two CDBs, the banner
}

const char kEntryRow0[] = "71000400001234560A00000003000000";
const char kEntryRow1[] = "00000000000000000000000000000011";
const char kEntryRow2[] = "00000000000000000000000000000022";

TEST_F(LogSections, APassShowsOnlyTheNewestLogEntryNumberedByItsPlace) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagQuick | kFlagPass;
    std::strcpy(s.comment, "This drive seems to have no problem.");
    Entry(5, 1, 2, "70000300000000000000000011000000", kEntryRow1, kEntryRow2);
    Entry(40, 0x120, 0x340, kEntryRow0, kEntryRow1, kEntryRow2);
    const std::string counts =
        "\r\nRead Error Num.     : 0. \r\nRecovered Read Error: 0. \r\n"
        "Other Error Num.    : 0. \r\nRecovered OtherError: 0. \r\n\r\n"
        "\r\n<<< This drive seems to have no problem. >>>\r\n" +
        kPassBanner;
    EXPECT_EQ(Body(), std::string("\r\n*** This drive was diagnosed with Quick test mode ***\r\n") +
                          "\r\n<<< This is the duplication test result of SMART LOG >>>\r\n"
                          "  SNS41  <<00000288[s]  00000832[s]>>\r\n"
                          "    71000400001234560A00000003000000     "
                          "\r\n    00000000000000000000000000000011  -> This error did not duplicate."
                          "\r\n    00000000000000000000000000000022     \r\n" +
                          counts);

    // A drive whose log was not in the SA area has no entries to show.
    s.errorKind = kLogNotSupported;
    EXPECT_EQ(Body(), "\r\n*** This drive was diagnosed with Quick test mode ***\r\n" + counts);
}

TEST_F(LogSections, TheMiddleRowTellsTheOutcomeOfTheRetest) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagPass;
    Entry(0, 0xFFFFFFFFu, 0, kEntryRow0, kEntryRow1, kEntryRow2);
    RetestResult& r = s.retest[0];
    const std::string header = "\r\n<<< This is the duplication test result of SMART LOG >>>\r\n"
                               "  SNS1  <<4294967295[s]  00000000[s]>>\r\n";
    const std::string middle = std::string("\r\n    ") + kEntryRow1 + "  -> ";

    r.flag = 0xFF;
    r.status = 0xFE;
    EXPECT_NE(Body().find(header + "    " + kEntryRow0 + "     " + middle +
                          "It is not able to determine LBA of this error.\r\n"),
              std::string::npos);
    r.status = 0xFF;
    EXPECT_NE(Body().find(middle + "It is not able to determine LBA of this error.\r\n"), std::string::npos);
    r.status = 1;
    std::memset(r.message, 'M', sizeof r.message);  // a full field without its terminator
    EXPECT_NE(Body().find(middle + "    " + std::string(64, 'M') + "\r\n"), std::string::npos);

    Hex(r.sense, "F1000300" "0000000000000000" "11000000"
                 "000102030405060708090A0B0C0D0E0F"
                 "101112131415161718191A1B1C1D1E1F");
    EXPECT_NE(Body().find(header + "    " + kEntryRow0 + "     F1000300" "0000000000000000" "11000000" + middle +
                          "000102030405060708090A0B0C0D0E0F\r\n    " + kEntryRow2 +
                          "     101112131415161718191A1B1C1D1E1F\r\n"),
              std::string::npos);
}

TEST_F(LogSections, TheDuplicationSectionListsOnlyReproducedEntriesInUse) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagTestsFailed;
    const std::string title = "\r\n<<< This is the duplication test result of SMART LOG >>>\r\n";
    EXPECT_EQ(Body(), title + "\r\n       No error data in SMART LOG.\r\n");

    for (int e : {0, 1, 2, 3}) Entry(e, static_cast<std::uint32_t>(e), 7, kEntryRow0, kEntryRow1, kEntryRow2);
    for (int e : {1, 3, 6}) s.retest[e].sense[0] = 0xF0;  // entry 6 is not in use
    s.retest[2].flag = 0xFF;
    const std::string zeros(32, '0');
    const std::string reproduced = std::string("    ") + kEntryRow0 + "     F0" + std::string(30, '0') +
                                   "\r\n    " + kEntryRow1 + "  -> " + zeros + "\r\n    " + kEntryRow2 + "     " +
                                   zeros + "\r\n";
    EXPECT_EQ(Body(), title + "  SNS1  <<00000001[s]  00000007[s]>>\r\n" + reproduced +
                          "  SNS2  <<00000003[s]  00000007[s]>>\r\n" + reproduced);
}

}  // namespace
}  // namespace tamro::test
