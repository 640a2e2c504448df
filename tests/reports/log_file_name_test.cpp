// The log's file name from a serial number that the drive reports.
#include "reports/drive_log.h"

#include "log_fixture.h"

namespace tamro::test {
namespace {

TEST(LogFileName, OrdinarySerialNumbersAreKept) {
    EXPECT_EQ(LogFileName("SER12345"), "SER12345.log");
    EXPECT_EQ(LogFileName("HA#0ID05"), "HA#0ID05.log");
    EXPECT_EQ(LogFileName("AB 12   "), "AB 12   .log");
    EXPECT_EQ(LogFileName("3K.1-A_b"), "3K.1-A_b.log");
    EXPECT_EQ(LogFileName("CONSOLE1"), "CONSOLE1.log");
}

TEST(LogFileName, WhatCouldLeaveTheFolderOrBeRefusedIsReplaced) {
    EXPECT_EQ(LogFileName("../../x"), "______x.log");
    EXPECT_EQ(LogFileName("/etc/pw"), "_etc_pw.log");
    EXPECT_EQ(LogFileName("A\\B:C*D"), "A_B_C_D.log");
    EXPECT_EQ(LogFileName("<>\"|?"), "_____.log");
    EXPECT_EQ(LogFileName("A\r\nB\x7F"), "A__B_.log");
    EXPECT_EQ(LogFileName("ABC."), "ABC_.log");  // else "ABC..log"
    EXPECT_EQ(LogFileName(".."), "__.log");
    EXPECT_EQ(LogFileName("con"), "_con.log");  // device names, whatever follows
    EXPECT_EQ(LogFileName("NUL  "), "_NUL  .log");
    EXPECT_EQ(LogFileName("LPT1.A"), "_LPT1.A.log");
    EXPECT_EQ(LogFileName(std::string_view("AB\0/../", 7)), "AB.log");
}

TEST(LogFileName, AFieldWithoutItsTerminatorIsReadToItsEnd) {
    char serial[24];
    std::memset(serial, 'Z', sizeof serial);
    EXPECT_EQ(LogFileName(serial), std::string(24, 'Z') + ".log");
}

class LogFileNameOnDisk : public LogFolder {};

TEST_F(LogFileNameOnDisk, ASerialWithSeparatorsWritesInTheWorkingFolder) {
    std::filesystem::create_directory(folder_ / "work");
    std::filesystem::current_path(folder_ / "work");
    std::strcpy(Slot().serialNumber, "../evil");
    ASSERT_EQ(WriteDriveLog(), 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(folder_ / "work" / "___evil.log"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 1);  // only "work"
    std::filesystem::current_path(folder_);
}

}  // namespace
}  // namespace tamro::test
