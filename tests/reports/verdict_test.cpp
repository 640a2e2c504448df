// The verdict operations: the slot's verdict bits and stop time, its JUDGE
// label, and the log and log button that finish the slot.
#include "diagnostics/verdict.h"

#include <cctype>

#include "log_fixture.h"

namespace tamro::test {
namespace {

using ui::ControlId;

// "Www Mmm dd hh:mm:ss yyyy": 'a' a letter, '9' a digit, others as they are.
bool IsTimeText(const char* text) {
    const char shape[] = "aaa aaa 99 99:99:99 9999";
    for (std::size_t i = 0; i < sizeof shape; ++i) {
        const char c = text[i];
        const bool fits = shape[i] == 'a' ? std::isalpha(static_cast<unsigned char>(c)) != 0
                          : shape[i] == '9' ? std::isdigit(static_cast<unsigned char>(c)) != 0
                                            : c == shape[i];
        if (!fits) return false;
    }
    return true;
}

class Verdict : public LogFolder {
protected:
    static ControlId Row(ControlId first, int slot) {
        return ui::ControlAt(ui::IndexOf(first) + 4 * static_cast<std::size_t>(slot));
    }
};

TEST_F(Verdict, MarkPassStampsTheTimeAddsThePassBitAndShowsPass) {
    currentSlot = 3;
    DriveSlot& s = DriveTable[3];
    s.runFlags = kFlagIdentity | kFlagQuick;
    EXPECT_EQ(MarkPass(), 0);
    EXPECT_EQ(s.runFlags, kFlagIdentity | kFlagQuick | kFlagPass);
    EXPECT_TRUE(IsTimeText(s.stopTime)) << s.stopTime;
    EXPECT_EQ(ui::Form().Caption(ControlId::J3), "PASS");
    EXPECT_EQ(ui::Form().FontColor(ControlId::J3), ui::colors::kGreen);
    EXPECT_EQ(ui::Form().Caption(ControlId::J0), "");
}

TEST_F(Verdict, MarkFailOrNoGivesNoJudgeOnlyForKind9) {
    struct Case {
        int errorKind;
        std::uint32_t bit;
        const char* text;
        ui::Rgb colour;
    };
    const Case cases[] = {
        {9, kFlagNoJudge, "------ ", ui::colors::kMaroon}, {5, kFlagFail, "------ ", ui::colors::kMaroon},
        {8, kFlagFail, "FAIL", ui::colors::kRed},           {0, kFlagFail, "FAIL", ui::colors::kRed},
        {2, kFlagFail, "FAIL", ui::colors::kRed},
    };
    for (int slot = 0; slot < 5; ++slot) {
        const Case& c = cases[slot];
        SCOPED_TRACE(c.errorKind);
        currentSlot = slot;
        DriveTable[slot].errorKind = c.errorKind;
        EXPECT_EQ(MarkFailOrNo(), 0);
        EXPECT_EQ(DriveTable[slot].runFlags, c.bit);
        EXPECT_EQ(std::strlen(DriveTable[slot].stopTime), 24u);
        EXPECT_EQ(ui::Form().Caption(Row(ControlId::J0, slot)), c.text);
        EXPECT_EQ(ui::Form().FontColor(Row(ControlId::J0, slot)), c.colour);
    }
}

TEST_F(Verdict, APassDriveIsFinishedWithItsLogAndItsLogButton) {
    DriveSlot& s = Slot();
    s.runFlags = kFlagIdentity | kFlagPlistValid | kFlagGlistValid | kFlagLogUnusable | kFlagQuick;
    s.plistCount = 12;
    s.glistCount = 1;
    std::strcpy(s.comment, "This drive seems to have no problem.");
    ASSERT_EQ(MarkPass(), 0);
    EXPECT_FALSE(ui::Form().IsEnabled(ControlId::ID0));
    ASSERT_EQ(FinishSlot(), 0);

    // The log sees the verdict bit and the stop time of MarkPass.
    const std::string text = ReadFile("SER12345.log");
    EXPECT_TRUE(text.starts_with("Start Time          : Mon Jan 05 09:10:11 2026\r\nDrive ID            : 00\r\n"));
    EXPECT_TRUE(text.ends_with("\r\n<<< This drive seems to have no problem. >>>\r\n" + kPassBanner +
                               "Stop Time           : " + s.stopTime))
        << text;
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::ID0));
    EXPECT_FALSE(ui::Form().IsEnabled(ControlId::ID1));
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "");
}

TEST_F(Verdict, ANoJudgeDriveGetsTheNoJudgeBanner) {
    currentSlot = 2;
    DriveSlot& s = DriveTable[2];
    std::strcpy(s.serialNumber, "NOJUDGE1");
    s.errorKind = kLogUnreadableAtScan;
    s.logLayout = 255;
    ASSERT_EQ(MarkFailOrNo(), 0);
    ASSERT_EQ(FinishSlot(), 0);
    EXPECT_TRUE(ReadFile("NOJUDGE1.log").ends_with(kNoJudgeBanner + "Stop Time           : " + s.stopTime));
    EXPECT_TRUE(ui::Form().IsEnabled(ControlId::ID2));
}

TEST_F(Verdict, ALogThatCannotBeCreatedLeavesTheSlotUnfinished) {
    std::filesystem::create_directory("SER12345.log");
    ui::Form().Hide(ControlId::ALARM);
    ASSERT_EQ(MarkFailOrNo(), 0);
    EXPECT_EQ(FinishSlot(), -1);
    EXPECT_FALSE(ui::Form().IsEnabled(ControlId::ID0));
    EXPECT_EQ(ui::Form().Caption(ControlId::DCONF), "** Now saving test result of the drive. **");
    EXPECT_TRUE(ui::Form().IsVisible(ControlId::ALARM));
    EXPECT_EQ(ui::Form().Caption(ControlId::error), "Cannot open file SER12345.log\r\n");
}

}  // namespace
}  // namespace tamro::test
