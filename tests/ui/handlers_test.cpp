// Every handler of the window and the states they lead through, headless on
// the simulator's default bus.
#include <fstream>

#include "platform/folders.h"
#include "platform/time_text.h"
#include "reports/drive_log.h"
#include "ui/accessible_names.h"
#include "ui/window_front_end.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

namespace colors = ui::colors;

using Settings = WindowTest;

void ExpectChosen(ControlId box, ui::Rgb colour) {
    EXPECT_TRUE(Form().IsChecked(box)) << ui::ControlName(box);
    EXPECT_EQ(Form().FontColor(box), colour) << ui::ControlName(box);
}

void ExpectNotChosen(ControlId box) {
    EXPECT_FALSE(Form().IsChecked(box)) << ui::ControlName(box);
    EXPECT_EQ(Form().FontColor(box), colors::kBlack) << ui::ControlName(box);
}

void ExpectOnlyMode(ControlId chosen) {
    for (ControlId mode : kModes) {
        if (mode == chosen)
            ExpectChosen(mode, colors::kGreen);
        else
            ExpectNotChosen(mode);
    }
}

TEST_F(Settings, FirstStartChoosesStandardAndReadOnly) {
    Start();
    EXPECT_EQ(Form().Caption(ControlId::date), ui::DateText(platform::LocalCalendarTime()));
    Click(ControlId::accept);
    ExpectOnlyMode(ControlId::StdTest);
    ExpectChosen(ControlId::ReadOnly, colors::kGreen);
    ExpectNotChosen(ControlId::WrtPermit);
    EXPECT_EQ(writePermitted, 0);
}

TEST_F(Settings, TestModesAreExclusiveAndTheChosenOneStays) {
    StartAndAccept();
    Click(ControlId::ExtTest);
    ExpectOnlyMode(ControlId::ExtTest);
    Click(ControlId::ExtTest);  // the chosen mode
    ExpectOnlyMode(ControlId::ExtTest);
    Click(ControlId::SmtTest);
    ExpectOnlyMode(ControlId::SmtTest);
    Click(ControlId::StdTest);
    ExpectOnlyMode(ControlId::StdTest);
}

TEST_F(Settings, WrtPermitPermitsAtOnceAndTheQuestionCanTakeItBack) {
    StartAndAccept();
    Click(ControlId::WrtPermit);
    // Permitted before the question is answered.
    EXPECT_EQ(writePermitted, 1);
    ExpectChosen(ControlId::WrtPermit, colors::kRed);
    ExpectNotChosen(ControlId::ReadOnly);
    EXPECT_TRUE(Showing(ControlId::WtComfirm));
    EXPECT_TRUE(Usable(ControlId::WtOK));
    EXPECT_TRUE(Usable(ControlId::WtNG));
    EXPECT_TRUE(Usable(ControlId::Button1));
    EXPECT_FALSE(Usable(ControlId::Button4));
    EXPECT_FALSE(Usable(ControlId::SmtTest));
    EXPECT_FALSE(Usable(ControlId::ReadOnly));
    EXPECT_FALSE(Usable(ControlId::DL));

    Click(ControlId::WtNG);
    EXPECT_EQ(writePermitted, 0);
    ExpectChosen(ControlId::ReadOnly, colors::kGreen);
    ExpectNotChosen(ControlId::WrtPermit);
    EXPECT_FALSE(Showing(ControlId::WtComfirm));
    EXPECT_TRUE(Usable(ControlId::Button4));
    EXPECT_TRUE(Usable(ControlId::SmtTest));

    Click(ControlId::WrtPermit);
    Click(ControlId::WtOK);
    EXPECT_EQ(writePermitted, 1);
    ExpectChosen(ControlId::WrtPermit, colors::kRed);
    EXPECT_FALSE(Showing(ControlId::WtComfirm));
    EXPECT_TRUE(Usable(ControlId::Button4));

    // The chosen WrtPermit asks again.
    Click(ControlId::WrtPermit);
    EXPECT_TRUE(Showing(ControlId::WtComfirm));
    ExpectChosen(ControlId::WrtPermit, colors::kRed);
    EXPECT_EQ(writePermitted, 1);
    Click(ControlId::WtOK);

    // ReadOnly takes it back without a question, and stays when clicked again.
    Click(ControlId::ReadOnly);
    EXPECT_EQ(writePermitted, 0);
    EXPECT_FALSE(Showing(ControlId::WtComfirm));
    ExpectChosen(ControlId::ReadOnly, colors::kGreen);
    ExpectNotChosen(ControlId::WrtPermit);
    Click(ControlId::ReadOnly);
    ExpectChosen(ControlId::ReadOnly, colors::kGreen);
    ExpectNotChosen(ControlId::WrtPermit);
    EXPECT_EQ(writePermitted, 0);
}

using Screens = WindowTest;

TEST_F(Screens, AcceptShowsTheDriveListReadyToRun) {
    Start();
    EXPECT_FALSE(Usable(ControlId::Button4));
    Click(ControlId::accept);
    for (ControlId hidden : {ControlId::disclaimer, ControlId::accept_p, ControlId::cancel_p, ControlId::WtComfirm})
        EXPECT_FALSE(Showing(hidden)) << ui::ControlName(hidden);
    for (ControlId usable : {ControlId::Button1, ControlId::Button4, ControlId::DL, ControlId::Button9,
                             ControlId::ExtTest, ControlId::StdTest, ControlId::SmtTest, ControlId::ReadOnly,
                             ControlId::WrtPermit})
        EXPECT_TRUE(Usable(usable)) << ui::ControlName(usable);
    EXPECT_TRUE(Showing(ControlId::Button8));
    EXPECT_FALSE(Usable(ControlId::Button8));
    EXPECT_EQ(Form().Position(ControlId::PBar), 0);
    EXPECT_EQ(Form().Position(ControlId::TBar), 0);
    EXPECT_EQ(Form().Caption(ControlId::PBarLabel), "  0");
    EXPECT_EQ(Form().Caption(ControlId::TBarLabel), "  0");
    // The slot display has filled the rows and ticked the first drive.
    EXPECT_EQ(Form().Caption(ControlId::id0l).substr(0, 9), "HA#0/ID00");
    EXPECT_TRUE(Form().IsChecked(ControlId::ID0D));
    EXPECT_TRUE(Usable(ControlId::ID0D));
    EXPECT_EQ(Form().Caption(ControlId::J0), "");
    EXPECT_FALSE(Showing(ControlId::MoreDrives));  // the default bus fits the rows
}

// Thirty drives: the rows show the first seven as ever, and the window says
// in words how many more there are and what tests them, to a listener too.
// The drives past the rows are counted, never sent a command.
TEST_F(Screens, AWideBusFillsTheRowsAndSaysHowManyDrivesAreNotShown) {
    sim_reset_wide(2, 15);
    sim_set_service_time_us(0);
    StartAndAccept();
    const char* addresses[] = {"HA#0/ID00", "HA#0/ID01", "HA#0/ID02", "HA#0/ID03",
                               "HA#0/ID04", "HA#0/ID05", "HA#0/ID06"};
    for (int n = 0; n < kSlotCount; ++n) {
        EXPECT_EQ(Form().Caption(ui::kSlotLines[n]).substr(0, 9), addresses[n]);
        EXPECT_TRUE(Form().IsChecked(kSelect[n]));
    }
    ASSERT_TRUE(Showing(ControlId::MoreDrives));
    const std::string notice = Form().Caption(ControlId::MoreDrives);
    EXPECT_EQ(notice, ui::MoreDrivesText(23));
    EXPECT_NE(notice.find("23 more drives"), std::string::npos);
    EXPECT_NE(notice.find("tamro-cli tests every drive"), std::string::npos);
    EXPECT_EQ(ui::AccessibleName(ControlId::MoreDrives, [](ControlId id) { return Form().Caption(id); }), notice);
    for (std::size_t i = 0; i < sim_trace_count(); ++i) {
        SimTraceEntry e;
        ASSERT_EQ(sim_trace_get(i, &e), 0);
        EXPECT_TRUE(e.ha == 0 && e.target < 7) << int(e.ha) << ":" << int(e.target);
    }
    EXPECT_EQ(ui::MoreDrivesText(1).find("1 more drive is"), 0u);
}

TEST_F(Screens, UntickingASlotMarksItsJudgeFieldAndTickingClearsIt) {
    StartAndAccept();
    Click(ControlId::ID0D);
    EXPECT_FALSE(Form().IsChecked(ControlId::ID0D));
    EXPECT_EQ(Form().Caption(ControlId::J0), "------ ");
    Click(ControlId::ID0D);
    EXPECT_TRUE(Form().IsChecked(ControlId::ID0D));
    EXPECT_EQ(Form().Caption(ControlId::J0), "");
    EXPECT_EQ(Form().Caption(ControlId::J1), "");
}

TEST_F(Screens, CancelOnTheDriveListTouchesNoDrive) {
    StartAndAccept();
    Click(ControlId::SmtTest);
    sim_trace_clear();
    Click(ControlId::Button1);
    EXPECT_FALSE(Showing(ControlId::Button4));
    EXPECT_FALSE(Showing(ControlId::Button1));
    EXPECT_TRUE(Usable(ControlId::EXIT));
    EXPECT_TRUE(Usable(ControlId::TEST));
    EXPECT_FALSE(Showing(ControlId::accept));
    EXPECT_FALSE(Showing(ControlId::cancel));
    for (ControlId off : {ControlId::Button8, ControlId::Button9, ControlId::DL})
        EXPECT_FALSE(Usable(off)) << ui::ControlName(off);
    // The boxes stay as they were, though nothing can be started from them.
    EXPECT_TRUE(Form().IsChecked(ControlId::ID0D));
    EXPECT_TRUE(Usable(ControlId::ID0D));
    ExpectOnlyMode(ControlId::SmtTest);
    EXPECT_EQ(sim_trace_count(), 0u);
}

TEST_F(Screens, QuickRunJudgesTheTickedDrivesAndTheLogButtonsOpenTheirLogs) {
    StartAndAccept();
    Click(ControlId::SmtTest);
    for (int n = 2; n < kSlotCount; ++n)
        if (Form().IsChecked(kSelect[n])) Click(kSelect[n]);
    sim_set_service_time_us(3000);  // long enough to look at the running window
    Click(ControlId::Button4);
    for (ControlId off : {ControlId::ID0D, ControlId::ExtTest, ControlId::StdTest, ControlId::SmtTest,
                          ControlId::ReadOnly, ControlId::WrtPermit, ControlId::Button1, ControlId::Button4,
                          ControlId::Button8, ControlId::Button9, ControlId::DL})
        EXPECT_FALSE(Usable(off)) << ui::ControlName(off);
    EXPECT_TRUE(Usable(ControlId::EXIT));
    EXPECT_TRUE(Showing(ControlId::TEST));
    EXPECT_FALSE(RunEnded());
    EXPECT_FALSE(Showing(ControlId::accept));
    EXPECT_TRUE(Showing(ControlId::connect));
    sim_set_service_time_us(0);
    ASSERT_TRUE(WaitUntil(RunEnded));

    EXPECT_EQ(Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_EQ(Form().Caption(ControlId::J5), "------ ");  // unticked before the run
    for (int n = 0; n < 2; ++n) {
        const std::string judge = Form().Caption(kJudge[n]);
        EXPECT_TRUE(judge.find("PASS") != std::string::npos || judge.find("FAIL") != std::string::npos) << judge;
        EXPECT_TRUE(std::filesystem::exists(LogFileName(DriveTable[static_cast<std::size_t>(n)].serialNumber)));
    }
    EXPECT_TRUE(Usable(ControlId::EXIT));
    EXPECT_TRUE(Usable(ControlId::TEST));

    // Each click opens the log again: the button never stays checked.
    ASSERT_TRUE(Usable(ControlId::ID1));
    Click(ControlId::ID1);
    EXPECT_FALSE(Form().IsChecked(ControlId::ID1));
    EXPECT_EQ(Form().FocusedControl(), ControlId::connect);
    Click(ControlId::ID1);
    const auto opened = viewer.Take();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], LogFileName(DriveTable[1].serialNumber));
    EXPECT_EQ(opened[1], opened[0]);
}

// However fast the drives go and however long nobody listens, a listener
// is told every verdict of a run, in the order of the rows, and its end last.
TEST_F(Screens, AListenerHearsEveryVerdictOfARunAndItsEnd) {
    StartAndAccept();
    Click(ControlId::SmtTest);
    bool ticked[kSlotCount];
    for (int n = 0; n < kSlotCount; ++n) ticked[n] = Form().IsChecked(kSelect[n]);
    Click(ControlId::Button4);
    ASSERT_TRUE(WaitUntil(RunEnded));
    const auto told = Form().TakeChanges(ui::Clock::now() + std::chrono::hours(1)).announcement;
    ASSERT_TRUE(told.has_value());

    std::string expected;
    for (int n = 0; n < kSlotCount; ++n) {
        if (!ticked[n]) continue;
        const std::string line = Form().Caption(ui::kSlotLines[n]);
        expected += line.substr(0, line.find(' ')) + ' ' + ui::SpokenText(Form().Caption(kJudge[n])) + ". ";
    }
    expected += "<< The above indicated drives analysis was finished.>>";
    EXPECT_EQ(*told, expected);
    EXPECT_EQ(told->find("LBA"), std::string::npos);
}

TEST_F(Screens, AcceptAfterAPassThatPermittedWritesStartsReadOnly) {
    StartAndAccept();
    Click(ControlId::ExtTest);
    Click(ControlId::WrtPermit);
    Click(ControlId::WtOK);
    ASSERT_EQ(writePermitted, 1);
    for (ControlId box : kSelect)
        if (Form().IsChecked(box)) Click(box);
    // A run with nothing ticked ends at once; NewTEST must still come up.
    Click(ControlId::Button4);
    ASSERT_TRUE(WaitUntil(RunEnded));
    EXPECT_TRUE(Usable(ControlId::TEST));

    Click(ControlId::TEST);
    EXPECT_TRUE(Showing(ControlId::RETEST));
    EXPECT_TRUE(Showing(ControlId::RETESTL));
    EXPECT_EQ(Form().Caption(ControlId::RETESTL), "Did you connect new drives for test ?");
    EXPECT_TRUE(Showing(ControlId::disclaimer));
    EXPECT_FALSE(Showing(ControlId::connect));
    EXPECT_FALSE(Showing(ControlId::info));
    EXPECT_FALSE(Usable(ControlId::TEST));
    EXPECT_FALSE(Usable(ControlId::EXIT));
    EXPECT_EQ(Form().Caption(ControlId::DCONF), " ");
    EXPECT_EQ(Form().FontColor(ControlId::DCONF), colors::kNavy);
    EXPECT_TRUE(Usable(ControlId::Button6));
    EXPECT_TRUE(Usable(ControlId::Button7));

    Click(ControlId::Button6);
    EXPECT_FALSE(Showing(ControlId::RETEST));
    EXPECT_FALSE(Showing(ControlId::TEST));
    EXPECT_FALSE(Showing(ControlId::EXIT));
    EXPECT_TRUE(Showing(ControlId::accept));
    EXPECT_TRUE(Showing(ControlId::cancel));
    ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::accept); }));
    EXPECT_FALSE(Showing(ControlId::ALARM));
    Click(ControlId::accept);
    EXPECT_EQ(writePermitted, 0);
    ExpectChosen(ControlId::ReadOnly, colors::kGreen);
    ExpectNotChosen(ControlId::WrtPermit);
    ExpectOnlyMode(ControlId::ExtTest);
    EXPECT_TRUE(Usable(ControlId::Button4));
}

TEST_F(Screens, RunIsHiddenAfterAnEmptyScanUntilNewTestStartAndAccept) {
    sim_clear_bus();
    ASSERT_EQ(sim_add_adapter("SIMASPI", "TEST-HBA", 8, 7), 0);
    StartAndAccept();
    EXPECT_FALSE(Showing(ControlId::Button4));
    EXPECT_EQ(Form().Caption(ControlId::J0), " ------ ");

    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    ASSERT_EQ(sim_add_disk(0, 0, &cfg), 0);
    Click(ControlId::Button9);
    EXPECT_TRUE(Form().IsChecked(ControlId::ID0D));
    EXPECT_TRUE(Form().IsEnabled(ControlId::Button4));
    EXPECT_FALSE(Showing(ControlId::Button4));
    EXPECT_EQ(Form().Caption(ControlId::DCONF), " ");

    Click(ControlId::Button1);
    Click(ControlId::TEST);
    Click(ControlId::Button6);
    ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::accept); }));
    Click(ControlId::accept);
    EXPECT_TRUE(Usable(ControlId::Button4));
}

TEST_F(Screens, StartAfterNewTestShowsTheAlarmWhenTheScanFails) {
    StartAndAccept();
    Click(ControlId::Button1);
    Click(ControlId::TEST);
    sim_set_support_status(0x00);
    Click(ControlId::Button6);
    ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::OK); }));
    sim_set_support_status(SS_COMP);
    EXPECT_TRUE(Showing(ControlId::error));
    EXPECT_FALSE(Showing(ControlId::WAIT));
    EXPECT_FALSE(Usable(ControlId::accept));
    Click(ControlId::OK);
    EXPECT_TRUE(Form().CloseRequested());
}

using Tools = WindowTest;

std::string WriteFile(const char* name, std::size_t bytes) {
    std::ofstream(name, std::ios::binary) << std::string(bytes, '\x5A');
    return (std::filesystem::current_path() / name).string();
}

TEST_F(Tools, TheFileDialogEnablesExecOnlyForALoadedFile) {
    StartAndAccept();
    chooserAnswer = WriteFile("fw.frm", 1000);
    Click(ControlId::DL);
    ASSERT_TRUE(lastRequest.has_value());
    EXPECT_EQ(lastRequest->title, "FileOpen");
    EXPECT_EQ(lastRequest->filter, "*.frm|*.frm|*.*|*.*");
    EXPECT_EQ(lastRequest->initialFolder, platform::CurrentFolder());
    EXPECT_TRUE(Usable(ControlId::Button8));
    EXPECT_EQ(microcodeLength, 1000);

    // Cancelled: Exec is disabled although a file had been loaded.
    chooserAnswer.reset();
    Click(ControlId::DL);
    EXPECT_FALSE(Usable(ControlId::Button8));

    // A refused file (empty) leaves Exec disabled too.
    chooserAnswer = WriteFile("empty.frm", 0);
    Click(ControlId::DL);
    EXPECT_FALSE(Usable(ControlId::Button8));
}

TEST_F(Tools, DownloadThenScanReturnsToTheDriveList) {
    StartAndAccept();
    chooserAnswer = WriteFile("fw.frm", 40000);
    Click(ControlId::DL);
    for (int n = 1; n < kSlotCount; ++n)
        if (Form().IsChecked(kSelect[n])) Click(kSelect[n]);
    sim_set_service_time_us(20000);
    Click(ControlId::Button8);
    // Downloading: nothing else can be started; the boxes stay open.
    for (ControlId off : {ControlId::Button1, ControlId::Button4, ControlId::Button8, ControlId::Button9, ControlId::DL})
        EXPECT_FALSE(Usable(off)) << ui::ControlName(off);
    EXPECT_TRUE(Usable(ControlId::ID1D));
    EXPECT_TRUE(Usable(ControlId::SmtTest));
    EXPECT_TRUE(Usable(ControlId::WrtPermit));
    sim_set_service_time_us(0);
    ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::Button9); }));
    EXPECT_EQ(Form().Caption(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_EQ(sim_disk_download_chunk_count(0, 0), 2);
    EXPECT_EQ(sim_disk_download_chunk_count(0, 1), 0);
    EXPECT_TRUE(std::filesystem::exists(LogFileName(DriveTable[0].serialNumber)));

    Click(ControlId::Button9);
    for (ControlId usable : {ControlId::Button1, ControlId::Button4, ControlId::Button9, ControlId::DL})
        EXPECT_TRUE(Usable(usable)) << ui::ControlName(usable);
    EXPECT_FALSE(Usable(ControlId::Button8));
    EXPECT_EQ(Form().Caption(ControlId::DCONF), " ");
    EXPECT_EQ(Form().Position(ControlId::PBar), 0);
    EXPECT_EQ(Form().Caption(ControlId::TBarLabel), "  0");
}

TEST_F(Tools, ClosingControlsEndTheProgram) {
    Start();
    Click(ControlId::cancel);
    EXPECT_TRUE(Form().CloseRequested());

    Form().Reset();
    StartAndAccept();
    Click(ControlId::Button1);
    Click(ControlId::TEST);
    Click(ControlId::Button7);
    EXPECT_TRUE(Form().CloseRequested());
}

}  // namespace
}  // namespace tamro::test
