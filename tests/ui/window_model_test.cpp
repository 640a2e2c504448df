#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ui/window_model.h"

namespace tamro::ui {
namespace {

using enum ControlId;

// --- containment ---------------------------------------------------------

TEST(WindowContainment, HidingAPanelHidesWhatItHoldsAndShowingGivesItBack) {
    WindowModel m;
    m.Hide(WrtPermit);  // its own state, to be kept through the panel's
    m.Hide(info);
    EXPECT_FALSE(m.IsShowing(info));
    EXPECT_FALSE(m.IsShowing(ExtTest));
    EXPECT_FALSE(m.IsShowing(Button9));  // info > Panel7 > Button9
    EXPECT_TRUE(m.IsVisible(ExtTest));
    EXPECT_TRUE(m.IsShowing(connect));

    m.Show(info);
    EXPECT_TRUE(m.IsShowing(ExtTest));
    EXPECT_TRUE(m.IsShowing(Button9));
    EXPECT_FALSE(m.IsShowing(WrtPermit));

    m.Hide(panel);  // the main area: every screen and notice in it
    for (ControlId id : {disclaimer, info, connect, ALARM, RETEST, Image1, DCONF, WtOK}) {
        EXPECT_FALSE(m.IsShowing(id)) << ControlName(id);
    }
    EXPECT_TRUE(m.IsShowing(accept));
}

TEST(WindowContainment, DisablingAPanelDisablesWhatItHoldsAndKeepsTheirOwnState) {
    WindowModel m;
    ASSERT_FALSE(m.IsEnabled(Button8));
    m.Disable(info);
    EXPECT_FALSE(m.IsEffectivelyEnabled(ExtTest));
    EXPECT_FALSE(m.IsEffectivelyEnabled(Button9));
    EXPECT_TRUE(m.IsEnabled(Button9));
    EXPECT_FALSE(m.OperatorClick(Button9));
    EXPECT_FALSE(m.OperatorClick(ExtTest));
    EXPECT_FALSE(m.IsChecked(ExtTest));

    m.Enable(info);
    EXPECT_TRUE(m.IsEffectivelyEnabled(Button9));
    EXPECT_FALSE(m.IsEffectivelyEnabled(Button8));  // disabled on its own

    m.Disable(Panel3);  // the RUN. panel
    EXPECT_FALSE(m.IsEffectivelyEnabled(Button4));
    EXPECT_TRUE(m.IsEnabled(Button4));
    EXPECT_TRUE(m.IsEffectivelyEnabled(Button1));
}

TEST(WindowContainment, OperatorClicksReachOnlyShowingEnabledControls) {
    WindowModel m;
    int runs = 0;
    m.OnClick(Button4, [&] { ++runs; });
    EXPECT_TRUE(m.OperatorClick(Button4));
    m.Hide(connect);
    EXPECT_FALSE(m.OperatorClick(Button4));
    m.Show(connect);
    m.Hide(Panel3);
    EXPECT_FALSE(m.OperatorClick(Button4));
    m.Show(Panel3);
    m.Disable(Button4);
    EXPECT_FALSE(m.OperatorClick(Button4));
    EXPECT_EQ(runs, 1);
}

// --- check boxes and radio buttons ---------------------------------------

TEST(WindowCheckBoxRule, EveryChangeOfStateRunsTheHandlerOnce) {
    WindowModel m;
    int runs = 0;
    bool seenChecked = false;
    m.OnChange(ExtTest, [&] {
        ++runs;
        seenChecked = m.IsChecked(ExtTest);  // the handler sees the new state
    });
    m.Check(ExtTest);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(seenChecked);
    m.Check(ExtTest);  // the same state again is no change
    EXPECT_EQ(runs, 1);
    m.Uncheck(ExtTest);
    EXPECT_EQ(runs, 2);
    EXPECT_FALSE(seenChecked);

    EXPECT_TRUE(m.OperatorClick(ExtTest));
    EXPECT_TRUE(m.IsChecked(ExtTest));
    EXPECT_EQ(runs, 3);
    EXPECT_TRUE(m.OperatorClick(ExtTest));
    EXPECT_FALSE(m.IsChecked(ExtTest));
    EXPECT_EQ(runs, 4);

    m.Disable(ExtTest);
    EXPECT_FALSE(m.OperatorClick(ExtTest));
    EXPECT_EQ(runs, 4);
    m.Check(ExtTest);  // the program may still change a disabled box
    EXPECT_EQ(runs, 5);
}

// The exclusive test-mode group of the window, written the way its handlers
// are: it only works when a change made inside a handler runs the other
// boxes' handlers, and the box's own handler again.
TEST(WindowCheckBoxRule, HandlersChangingBoxesRunThoseBoxesHandlers) {
    WindowModel m;
    const ControlId modes[] = {ExtTest, StdTest, SmtTest};
    std::vector<ControlId> ran;
    for (ControlId x : modes) {
        m.OnChange(x, [&m, &ran, &modes, x] {
            ran.push_back(x);
            if (m.IsChecked(x)) {
                for (ControlId other : modes) {
                    if (other != x) m.Uncheck(other);
                }
                m.SetFontColor(x, colors::kGreen);
            } else {
                m.SetFontColor(x, colors::kBlack);
            }
            if (!m.IsChecked(ExtTest) && !m.IsChecked(StdTest) && !m.IsChecked(SmtTest)) {
                m.Check(x);
                m.SetFontColor(x, colors::kGreen);
            }
        });
    }

    // Choosing Quick while Standard is chosen.
    m.OperatorClick(SmtTest);
    EXPECT_EQ(ran, (std::vector<ControlId>{SmtTest, StdTest}));
    EXPECT_TRUE(m.IsChecked(SmtTest));
    EXPECT_FALSE(m.IsChecked(StdTest));
    EXPECT_EQ(m.FontColor(SmtTest), colors::kGreen);
    EXPECT_EQ(m.FontColor(StdTest), colors::kBlack);

    // Clicking the chosen mode leaves it chosen: unchecked by the click,
    // checked again by its own handler, which then runs a second time.
    ran.clear();
    m.OperatorClick(SmtTest);
    EXPECT_EQ(ran, (std::vector<ControlId>{SmtTest, SmtTest}));
    EXPECT_TRUE(m.IsChecked(SmtTest));
    EXPECT_EQ(m.FontColor(SmtTest), colors::kGreen);
}

TEST(WindowRadioButtonRule, UncheckedByTheProgramRunsNothing) {
    WindowModel m;
    int clicks = 0;
    m.OnClick(ID2, [&] {
        ++clicks;
        m.Uncheck(ID2);  // as the log button does: it never stays checked
        m.Focus(connect);
    });
    m.OnChange(ID2, [] { ADD_FAILURE() << "a radio button has no change event"; });

    EXPECT_FALSE(m.OperatorClick(ID2));  // disabled until the slot's log exists
    m.Enable(ID2);
    EXPECT_TRUE(m.OperatorClick(ID2));
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(m.IsChecked(ID2));
    EXPECT_EQ(m.FocusedControl(), connect);
    EXPECT_TRUE(m.OperatorClick(ID2));
    EXPECT_EQ(clicks, 2);

    m.OnClick(ID2, [&] { ++clicks; });
    m.Check(ID2);
    EXPECT_EQ(clicks, 3);
    m.Uncheck(ID2);
    EXPECT_EQ(clicks, 3);
}

TEST(WindowRadioButtonRule, CheckingOneUnchecksTheOthersOfItsContainerSilently) {
    WindowModel m;
    int otherRuns = 0;
    m.OnClick(ID0, [&] { ++otherRuns; });
    m.Check(ID0);
    ASSERT_EQ(otherRuns, 1);
    m.Check(ID5);
    EXPECT_TRUE(m.IsChecked(ID5));
    EXPECT_FALSE(m.IsChecked(ID0));
    EXPECT_EQ(otherRuns, 1);
}

// --- progress ------------------------------------------------------------

TEST(WindowProgress, LabelShowsPositionOverTenInThreeColumns) {
    EXPECT_EQ(ProgressText(0), "  0");
    EXPECT_EQ(ProgressText(9), "  0");
    EXPECT_EQ(ProgressText(333), " 33");
    EXPECT_EQ(ProgressText(999), " 99");
    EXPECT_EQ(ProgressText(1000), "100");

    WindowModel m;
    EXPECT_EQ(m.Maximum(PBar), 1000);
    EXPECT_EQ(m.Maximum(TBar), 1000);
    m.SetProgress(PBar, 333);
    EXPECT_EQ(m.Position(PBar), 333);
    EXPECT_EQ(m.Caption(PBarLabel), " 33");
    EXPECT_EQ(m.Caption(TBarLabel), "  0");
    m.SetProgress(TBar, m.Maximum(TBar));
    EXPECT_EQ(m.Caption(TBarLabel), "100");
}

TEST(WindowProgress, PositionStaysWithinTheBar) {
    WindowModel m;
    m.SetPosition(TBar, 1500);
    EXPECT_EQ(m.Position(TBar), 1000);
    m.SetProgress(PBar, -20);
    EXPECT_EQ(m.Position(PBar), 0);
    EXPECT_EQ(m.Caption(PBarLabel), "  0");
    m.SetPosition(DCONF, 10);  // not a bar
    m.SetProgress(DCONF, 10);
    EXPECT_EQ(m.Position(DCONF), 0);
    EXPECT_EQ(m.Caption(DCONF), "");
}

// --- change notification -------------------------------------------------

struct WakeLog {
    std::atomic<int> normal{0};
    std::atomic<int> urgent{0};
    void Attach(WindowModel& m) {
        m.SetChangeListener([this](bool isUrgent) { ++(isUrgent ? urgent : normal); });
    }
};

std::vector<ControlId> Ids(const Changes& changes) {
    std::vector<ControlId> ids;
    for (const ControlUpdate& u : changes.controls) ids.push_back(u.id);
    return ids;
}

TEST(WindowChangeNotification, OneWakePerBatchAndOnlyForRealChanges) {
    WindowModel m;
    WakeLog wakes;
    wakes.Attach(m);

    const std::uint64_t before = m.ChangeSequence();
    m.SetCaption(DCONF, "");           // what it already shows
    m.Show(connect);
    m.SetFontColor(DCONF, colors::kNavy);
    EXPECT_EQ(m.ChangeSequence(), before);
    EXPECT_EQ(wakes.normal, 0);
    EXPECT_TRUE(m.TakeChanges().controls.empty());

    for (int i = 0; i < 1000; ++i) m.SetCaption(DCONF, "Verify LBA " + std::to_string(i));
    EXPECT_EQ(wakes.normal, 1);
    Changes changes = m.TakeChanges();
    ASSERT_EQ(changes.controls.size(), 1u);
    EXPECT_EQ(changes.controls[0].state.caption, "Verify LBA 999");
    EXPECT_EQ(changes.sequence, m.ChangeSequence());

    m.Hide(ALARM);
    EXPECT_EQ(wakes.normal, 2);  // the first change after a take wakes again
}

TEST(WindowChangeNotification, ChangesArriveInTheOrderOfTheirLatestChange) {
    WindowModel m;
    m.TakeChanges();
    m.SetCaption(DCONF, "Read Defect Data");
    m.SetCaption(J0, "Run.", colors::kNavy);
    m.SetProgress(PBar, 500);
    m.SetCaption(DCONF, "Verify");
    const Changes changes = m.TakeChanges();
    EXPECT_EQ(Ids(changes), (std::vector<ControlId>{J0, PBar, PBarLabel, DCONF}));
    EXPECT_EQ(changes.controls[0].state.fontColor, colors::kNavy);
    EXPECT_EQ(changes.controls[3].state.caption, "Verify");
    EXPECT_TRUE(m.TakeChanges().controls.empty());
}

TEST(WindowChangeNotification, RepaintWakesUrgentlyOnlyWithSomethingPending) {
    WindowModel m;
    WakeLog wakes;
    wakes.Attach(m);
    m.Repaint(DCONF);
    EXPECT_EQ(wakes.urgent, 0);

    m.SetCaption(DCONF, "Start Stop Unit 1");
    m.Repaint(DCONF);
    m.SetCaption(DCONF, "Start Stop Unit 2");
    m.Repaint(DCONF);
    EXPECT_EQ(wakes.urgent, 2);
    m.TakeChanges();
    m.Repaint();
    EXPECT_EQ(wakes.urgent, 2);
}

TEST(WindowChangeNotification, FocusAndCloseRequestsReachTheView) {
    WindowModel m;
    WakeLog wakes;
    wakes.Attach(m);
    m.TakeChanges();
    m.Focus(connect);
    Changes changes = m.TakeChanges();
    EXPECT_EQ(changes.focus, connect);
    EXPECT_TRUE(changes.controls.empty());
    EXPECT_FALSE(m.TakeChanges().focus.has_value());

    m.Close();
    EXPECT_EQ(wakes.urgent, 1);
    EXPECT_TRUE(m.CloseRequested());
    EXPECT_TRUE(m.TakeChanges().close);
    EXPECT_FALSE(m.TakeChanges().close);

    int closed = 0;
    m.On(TForm1, Event::Closed, [&] { ++closed; });
    m.WindowClosed();
    EXPECT_EQ(closed, 1);
}

TEST(WindowChangeNotification, ResetReturnsToTheDesignStateAndAnnouncesIt) {
    WindowModel m;
    int runs = 0;
    m.OnChange(StdTest, [&] { ++runs; });
    m.SetCaption(DCONF, "x");
    m.Uncheck(StdTest);
    m.Hide(info);
    m.TakeChanges();
    m.Reset();
    EXPECT_EQ(m.Caption(DCONF), "");
    EXPECT_TRUE(m.IsChecked(StdTest));
    EXPECT_TRUE(m.IsVisible(info));
    EXPECT_EQ(runs, 1);  // the reset itself runs nothing
    EXPECT_EQ(Ids(m.TakeChanges()).size(), 3u);
}

// --- the file dialog ----------------------------------------------------

TEST(WindowOpenDialog, ChooserSeesTheDialogAndTheChoiceIsKept) {
    WindowModel m;
    EXPECT_FALSE(m.ExecuteOpenDialog("/work").has_value());  // no chooser: cancelled

    std::optional<std::string> answer = "/work/fw/cv7.frm";
    FileRequest seen;
    std::string folder;
    m.SetFileChooser([&](const FileRequest& r) {
        seen = r;
        folder = std::string(r.initialFolder);
        return answer;
    });
    EXPECT_EQ(m.ExecuteOpenDialog("/work"), "/work/fw/cv7.frm");
    EXPECT_EQ(seen.title, "FileOpen");
    EXPECT_EQ(seen.filter, "*.frm|*.frm|*.*|*.*");
    EXPECT_EQ(folder, "/work");
    EXPECT_EQ(m.OpenDialogFileName(), "/work/fw/cv7.frm");

    answer.reset();
    EXPECT_FALSE(m.ExecuteOpenDialog("/work").has_value());
    EXPECT_EQ(m.OpenDialogFileName(), "/work/fw/cv7.frm");  // cancelling keeps the name
}

// --- threads -------------------------------------------------------------

TEST(WindowThreads, HandlerRunsOnTheThreadThatMadeTheChange) {
    WindowModel m;
    std::thread::id ranOn;
    m.OnChange(ID4D, [&] { ranOn = std::this_thread::get_id(); });
    std::thread::id worker;
    std::thread t([&] {
        worker = std::this_thread::get_id();
        m.Check(ID4D);
    });
    t.join();
    EXPECT_EQ(ranOn, worker);
}

// Workers write while a mirror, standing in for the view, keeps pulling
// changes: when the writers stop, one more take must leave the mirror equal
// to the model, whatever interleaving happened.
TEST(WindowThreads, ConcurrentWritersAndAPullingReaderConverge) {
    WindowModel m;
    std::array<ControlState, kControlCount> mirror = m.AllStates();
    m.TakeChanges();
    std::atomic<int> wakes{0};
    m.SetChangeListener([&](bool) { ++wakes; });
    const auto pull = [&] {
        for (const ControlUpdate& u : m.TakeChanges().controls) mirror[IndexOf(u.id)] = u.state;
    };

    std::atomic<bool> stop{false};
    std::atomic<int> checkRuns{0};
    m.OnChange(ID1D, [&] { ++checkRuns; });
    constexpr int kUpdates = 20000;
    std::vector<std::thread> writers;
    writers.emplace_back([&] {
        for (int i = 0; i < kUpdates; ++i) {
            m.SetCaption(DCONF, "Seek LBA " + std::to_string(i), i % 2 ? colors::kNavy : colors::kGreen);
            m.SetProgress(TBar, i % 1001);
            m.Repaint(DCONF);
        }
    });
    writers.emplace_back([&] {
        for (int i = 0; i < kUpdates; ++i) {
            m.SetVisible(ALARM, i % 3 != 0);
            m.SetEnabled(info, i % 5 != 0);
            m.SetChecked(ID1D, i % 2 == 0);
            m.SetProgress(PBar, i % 1001);
        }
    });
    std::thread reader([&] {
        while (!stop) {
            pull();
            (void)m.IsShowing(Button9);
            (void)m.Caption(DCONF);
        }
    });
    for (std::thread& w : writers) w.join();
    stop = true;
    reader.join();
    pull();

    EXPECT_EQ(mirror, m.AllStates());
    EXPECT_EQ(m.Caption(DCONF), "Seek LBA " + std::to_string(kUpdates - 1));
    EXPECT_EQ(m.Position(TBar), (kUpdates - 1) % 1001);
    EXPECT_EQ(m.Caption(PBarLabel), ProgressText(m.Position(PBar)));
    EXPECT_EQ(checkRuns, kUpdates);  // every change of the box ran its handler
    EXPECT_GT(wakes, 0);
}

}  // namespace
}  // namespace tamro::ui
