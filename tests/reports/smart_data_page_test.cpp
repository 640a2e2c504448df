// The SMART data page against a simulated drive whose logging data and head
// parameters each test writes byte by byte.
#include "reports/smart_data_page.h"

#include <cstdio>

#include "sim_fixture.h"

namespace tamro::test {
namespace {

class SmartPage : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        log_ = sim_disk_log_data(0, 0);
        hsp_ = sim_disk_hsp_data(0, 0);
        std::memset(log_, 0, 32768);
        std::memset(hsp_, 0, 30);
    }

    void Put(std::size_t at, std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) log_[at++] = b;
    }

    // The values the tests print, at the offsets of one column of the table.
    void FillValues(std::size_t base, std::size_t seekBase, std::size_t alternates, std::size_t spinUp) {
        Put(base + 0, {0x00, 0x01, 0xE2, 0x40});   // power-on minutes
        Put(base + 10, {0x00, 0x00, 0x04, 0x00});  // samples by each read sector head
        Put(base + 14, {0x01, 0x23, 0x45, 0x67});  // read sectors by each head
        Put(base + 18, {0x00, 0x01});              // head 0 read errors
        Put(base + 26, {0x00, 0x02});
        Put(base + 34, {0x00, 0x03});
        Put(base + 42, {0x0A, 0x0B});
        Put(base + 50, {0x77, 0x77});              // a fifth head's slot
        Put(seekBase + 0, {0x00, 0x00, 0x30, 0x00});
        Put(seekBase + 4, {0x00, 0x20, 0x00, 0x10});
        Put(seekBase + 8, {0x01, 0x2C});
        Put(seekBase + 16, {0x00, 0x05});
        Put(seekBase + 24, {0x00, 0x06});
        Put(seekBase + 32, {0x00, 0x07});
        Put(alternates, {0x01, 0xF0});
        log_[spinUp] = 0xFF;
    }

    static std::string Page(int logLayout) {
        Slot().logLayout = logLayout;
        std::FILE* f = std::tmpfile();
        EXPECT_NE(f, nullptr);
        EXPECT_EQ(WriteSmartDataPage(0, 0, f), 0);
        std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
        std::rewind(f);
        EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
        std::fclose(f);
        return text;
    }

    std::uint8_t* log_ = nullptr;
    std::uint8_t* hsp_ = nullptr;
};

const std::string kTitle = "\r\n              <<< SMART DATA PAGE >>>\r\n";
const std::string kReadPart =
    " 1. Power on time\r\n"
    "  The accumulated Power-on time (min.)            : 0001E240\r\n"
    " 2. Read error rate\r\n"
    "  Number of samples by each Read sector Head      : 00000400\r\n"
    "  Number of Read sectors by each Head             : 01234567\r\n"
    "   HD = 00  Current number of Read errors           : 0001\r\n"
    "   HD = 01  Current number of Read errors           : 0002\r\n"
    "   HD = 02  Current number of Read errors           : 0003\r\n"
    "   HD = 03  Current number of Read errors           : 0A0B\r\n"
    " 3. Seek error rate\r\n"
    "  Number of samples                               : 00003000\r\n";
const std::string kTail =
    " 4. Number of remaining alternate sectors\r\n"
    "  Number of remaining alternate sectors           : 000001F0\r\n"
    " 5. Spin-up time\r\n"
    "  Current Spin-up time (sec.)                     : 000000FF\r\n";
const std::string kPerHeadSeeks =
    "  Number of seek operation by each Head           : 00200010\r\n"
    "   HD = 00  Current number of Seek errors           : 012C\r\n"
    "   HD = 01  Current number of Seek errors           : 0005\r\n"
    "   HD = 02  Current number of Seek errors           : 0006\r\n"
    "   HD = 03  Current number of Seek errors           : 0007\r\n";

TEST_F(SmartPage, LayoutAServesLogLayoutsOneAndTwoWithTheTotalSeekErrors) {
    FillValues(30, 210, 228, 236);
    hsp_[8] = 3;
    hsp_[14] = 9;  // not the head count of this layout
    const std::string expected = kTitle + kReadPart +
                                 "  Number of seek operation                        : 00200010\r\n"
                                 "  Current number of seek errors                   : 0000012C\r\n" +
                                 kTail;
    EXPECT_EQ(Page(1), expected);
    EXPECT_EQ(Page(2), expected);
}

TEST_F(SmartPage, LayoutBPrintsTheSameBytesAsHeadZerosSeekErrors) {
    FillValues(30, 210, 380, 388);
    hsp_[8] = 3;
    EXPECT_EQ(Page(3), kTitle + kReadPart + kPerHeadSeeks + kTail);
}

TEST_F(SmartPage, LayoutCTakesItsHeadCountFromByte14) {
    FillValues(60, 240, 410, 418);
    hsp_[8] = 0x1D;
    hsp_[14] = 3;
    EXPECT_EQ(Page(4), kTitle + kReadPart + kPerHeadSeeks + kTail);
}

TEST_F(SmartPage, ColonsLineUpInColumns51And53) {
    FillValues(30, 210, 380, 388);
    hsp_[8] = 3;
    const std::string page = Page(3);
    int lines = 0;
    for (std::size_t at = 0, end; (end = page.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = page.substr(at, end - at);
        if (line.find(':') == std::string::npos) continue;
        ++lines;
        EXPECT_EQ(line.find(':') + 1, line.starts_with("   HD = ") ? 53u : 51u) << line;
    }
    EXPECT_EQ(lines, 15);
}

TEST_F(SmartPage, CommandsRunInFactoryMode) {
    Page(4);
    const auto trace = Trace();
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_EQ(trace[0].cdb[0], 0xF0);
    EXPECT_EQ(std::memcmp(trace[0].cdb + 2, TAMRO_FACTORY_ON_KEY, 7), 0);
    EXPECT_EQ(Cdb(trace[1]), (std::vector<std::uint8_t>{0xFD, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0}));
    EXPECT_EQ(Cdb(trace[2]), (std::vector<std::uint8_t>{0xF9, 0x02, 0x01, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(trace[3].cdb[0], 0xF0);
    EXPECT_EQ(std::memcmp(trace[3].cdb + 2, TAMRO_FACTORY_OFF_KEY, 7), 0);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
}

TEST_F(SmartPage, OtherLayoutsWriteAndSendNothing) {
    EXPECT_EQ(Page(255), "");
    EXPECT_EQ(Page(0), "");
    EXPECT_EQ(sim_trace_count(), 0u);
}

TEST_F(SmartPage, AFailedGetLogPrintsZerosAndAFailedGetHspNoHeadLines) {
    FillValues(30, 210, 228, 236);
    hsp_[8] = 3;
    SimFault log = NextFault(0xFD);
    log.sense_key = 3;
    log.asc = 0x11;
    log.execute = 1;  // the data arrives, yet the command fails
    sim_add_fault(0, 0, &log);
    SimFault hsp = NextFault(0xF9);
    hsp.sense_key = 5;
    hsp.asc = 0x24;
    sim_add_fault(0, 0, &hsp);
    EXPECT_EQ(Page(2),
              kTitle +
                  " 1. Power on time\r\n"
                  "  The accumulated Power-on time (min.)            : 00000000\r\n"
                  " 2. Read error rate\r\n"
                  "  Number of samples by each Read sector Head      : 00000000\r\n"
                  "  Number of Read sectors by each Head             : 00000000\r\n"
                  " 3. Seek error rate\r\n"
                  "  Number of samples                               : 00000000\r\n"
                  "  Number of seek operation                        : 00000000\r\n"
                  "  Current number of seek errors                   : 00000000\r\n"
                  " 4. Number of remaining alternate sectors\r\n"
                  "  Number of remaining alternate sectors           : 00000000\r\n"
                  " 5. Spin-up time\r\n"
                  "  Current Spin-up time (sec.)                     : 00000000\r\n");
    EXPECT_EQ(Slot().errorKind, 2);  // the commands still report as usual
}

TEST_F(SmartPage, MoreThanTwentyHeadsStopAtTheRoomOfThePerHeadAreas) {
    hsp_[8] = 0xFF;
    Put(48 + 8 * 19, {0x00, 0x19});
    Put(380, {0xAB, 0xCD});  // what a 21st head's seek slot would reach
    const std::string page = Page(3);
    EXPECT_NE(page.find("   HD = 19  Current number of Read errors           : 0019\r\n"), std::string::npos);
    EXPECT_EQ(page.find("HD = 20"), std::string::npos);
    EXPECT_EQ(page.find(": ABCD\r\n"), std::string::npos);
    EXPECT_NE(page.find("  Number of remaining alternate sectors           : 0000ABCD\r\n"), std::string::npos);
}

}  // namespace
}  // namespace tamro::test
