// What a listener is told and when: the queue's pace, what the engine's
// reports become, and the model's paced controls, all on a clock the test
// sets.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "ui/announcements.h"
#include "ui/narration.h"
#include "ui/window_model.h"

namespace tamro::ui {
namespace {

using namespace std::chrono_literals;
using enum ControlId;

const Clock::time_point t0 = Clock::time_point{} + 1h;

Announcement Passing(std::string text) { return {std::move(text), Weight::Passing, 0}; }
Announcement Step(std::string text, int slot = 0) { return {std::move(text), Weight::Step, slot}; }
Announcement Kept(std::string text, int slot = 0) { return {std::move(text), Weight::Kept, slot}; }

TEST(AnnouncementQueue, SaysTheFirstAtOnceAndWhatPilesUpInOneGoAfterTheGap) {
    AnnouncementQueue q;
    EXPECT_EQ(q.NextDue(), std::nullopt);
    q.Post(Step("HA#0/ID01 Random Seek Read"));
    EXPECT_EQ(q.Take(t0), "HA#0/ID01 Random Seek Read");

    q.Post(Kept("HA#0/ID01 PASS"));
    q.Post(Step("HA#0/ID02  HALCYON Run.", 1));
    EXPECT_EQ(q.Take(t0 + 1s), std::nullopt);
    EXPECT_EQ(q.NextDue(), t0 + kAnnouncementGap);
    EXPECT_EQ(q.Take(t0 + kAnnouncementGap), "HA#0/ID01 PASS. HA#0/ID02  HALCYON Run.");
    EXPECT_EQ(q.NextDue(), std::nullopt);

    // A long one keeps the next waiting until it has been said.
    const std::string longText(100, 'x');
    q.Post(Passing(longText));
    ASSERT_EQ(q.Take(t0 + 10s), longText);
    q.Post(Kept("HA#0/ID02 FAIL", 1));
    EXPECT_EQ(q.NextDue(), t0 + 10s + SpeakingTime(longText));
    EXPECT_GT(SpeakingTime(longText), kAnnouncementGap);
}

TEST(AnnouncementQueue, TheLatestStatusWinsAndAVerdictOrTheEndIsNeverDropped) {
    AnnouncementQueue q;
    q.Post(Passing("first"));
    ASSERT_TRUE(q.Take(t0));
    q.Post(Passing("HA#0/ID01 ReadDefectData(PLIST)"));
    q.Post(Passing("HA#0/ID01 Mode Select"));
    q.Post(Step("HA#0/ID01 Random Seek Read"));
    q.Post(Passing("HA#0/ID01 Mode Sense"));  // nothing passing while a step waits
    q.Post(Step("HA#0/ID01 Random Seek"));    // its drive's later step replaces it
    q.Post(Step("HA#0/ID02 Random Seek", 1));
    q.Post(Kept("HA#0/ID01 FAIL"));           // its drive's steps are stale now
    EXPECT_EQ(q.Take(t0 + 2s), "HA#0/ID02 Random Seek. HA#0/ID01 FAIL");

    q.Post(Kept("HA#0/ID02 PASS", 1));
    q.Post(Step("HA#0/ID03 Run.", 2));
    q.Post(Kept("<< finished.>>", -1));       // the end: no drive is at work any more
    q.Post(Passing("after the end"));
    EXPECT_EQ(q.Take(t0 + 10s), "HA#0/ID02 PASS. << finished.>>");
}

// The engine's reports of one drive's Standard run, as the status line and
// the JUDGE column get them.
struct Told {
    std::vector<Announcement> all;
    void operator()(std::optional<Announcement> a) {
        if (a) all.push_back(*a);
    }
};

TEST(Narration, TellsTheDriveItsProceduresAndItsVerdictButNoCounter) {
    const CaptionOf lines = [](ControlId id) {
        return id == id1l ? std::string("HA#0/ID01  COMPAQ  BD01812A4 3B07 #CQ1B2345") : std::string();
    };
    Narration n(lines);
    Told told;
    told(n.Judge(1, " ------ "));  // the drive list's own text: no work yet
    told(n.Status(1, "** Now saving test result of the drive. **", Tone::Unchanged));
    EXPECT_TRUE(told.all.empty());

    told(n.Judge(1, "Run."));
    told(n.Status(1, "** ReadDefectData(PLIST) **", Tone::Unchanged));
    told(n.Status(1, "**Mode Sense**", Tone::Unchanged));
    for (int lba = 0; lba < 1000; ++lba)
        told(n.Status(1, "** Random Seek Read **  LBA=" + std::to_string(lba) + "    ", Tone::Unchanged));
    told(n.Status(1, "** START/STOP **  01cycle               ", Tone::Unchanged));
    told(n.Status(1, "** START/STOP **  02cycle               ", Tone::Unchanged));
    told(n.Status(1, "", Tone::Unchanged));
    told(n.Judge(1, "FAIL"));
    told(n.Status(1, "** Now saving test result of the drive. **", Tone::Unchanged));
    told(n.Judge(1, ""));

    std::vector<std::pair<std::string, Weight>> got;
    for (const Announcement& a : told.all) {
        EXPECT_EQ(a.slot, 1) << a.text;
        got.emplace_back(a.text, a.weight);
    }
    const std::vector<std::pair<std::string, Weight>> expected = {
        {"HA#0/ID01  COMPAQ  BD01812A4 3B07 #CQ1B2345 Run.", Weight::Step},
        {"HA#0/ID01 ReadDefectData(PLIST)", Weight::Passing},
        {"HA#0/ID01 Mode Sense", Weight::Passing},
        {"HA#0/ID01 Random Seek Read", Weight::Step},
        {"HA#0/ID01 START/STOP", Weight::Step},
        {"HA#0/ID01 FAIL", Weight::Kept},
    };
    EXPECT_EQ(got, expected);

    // A refusal in red is an error, told whatever is at work.
    const auto refusal = n.Status(7, "Error: the file is not a microcode image.", Tone::Red);
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->weight, Weight::Kept);
    EXPECT_EQ(refusal->slot, -1);
}

TEST(Narration, AStatusIsAStepOnlyByItsHeading) {
    EXPECT_EQ(StepOf("  ** Random Seek **  LBA=  1A2B    ")->heading, "Random Seek");
    EXPECT_TRUE(StepOf("** Random Seek **  LBA=  1A2B")->counted);
    EXPECT_FALSE(StepOf("** Issued STOP UNIT COMMAND. **")->counted);
    EXPECT_EQ(StepOf("**Mode Sense**")->heading, "Mode Sense");
    EXPECT_EQ(StepOf("<< The above indicated drives analysis was finished.>>"), std::nullopt);
    EXPECT_EQ(StepOf("** unterminated"), std::nullopt);
    EXPECT_EQ(StepOf("****"), std::nullopt);
}

// The model hands the view what listeners are told, on the view's clock.
TEST(WindowListeners, AnnouncementsAndPacedControlsComeAtTheirPace) {
    WindowModel m;
    int wakes = 0;
    m.SetChangeListener([&](bool) { ++wakes; });
    m.TakeChanges(t0);

    m.Announce(Step("HA#0/ID01 Random Seek Read"));
    EXPECT_EQ(wakes, 1);
    m.SetCaption(DCONF, "** Random Seek Read **  LBA=     1    ");
    m.SetProgress(TBar, 456);
    Changes c = m.TakeChanges(t0);
    EXPECT_EQ(c.announcement, "HA#0/ID01 Random Seek Read");
    std::map<ControlId, ControlState> heard;
    for (const ControlUpdate& u : c.heard) heard[u.id] = u.state;
    EXPECT_EQ(heard[DCONF].caption, "** Random Seek Read **  LBA=     1    ");
    EXPECT_EQ(heard[TBar].position, 450);  // whole percents
    EXPECT_EQ(heard[TBarLabel].caption, " 45");
    EXPECT_FALSE(heard.contains(PBar));
    EXPECT_EQ(c.again, std::nullopt);

    // Within the pace the latest is held back, and the view is told when to
    // come again.
    m.SetCaption(DCONF, "** Random Seek Read **  LBA=     2    ");
    m.SetCaption(DCONF, "** Random Seek Read **  LBA=     3    ");
    m.SetProgress(TBar, 459);  // the same whole percent: nothing to tell
    m.Announce(Kept("HA#0/ID01 PASS"));
    c = m.TakeChanges(t0 + 500ms);
    EXPECT_EQ(c.announcement, std::nullopt);
    EXPECT_TRUE(c.heard.empty());
    EXPECT_EQ(c.again, kHeardPace - 500ms);
    EXPECT_EQ(c.controls.size(), 2u);  // the screen shows them at once

    c = m.TakeChanges(t0 + kHeardPace);
    EXPECT_EQ(c.announcement, "HA#0/ID01 PASS");
    ASSERT_EQ(c.heard.size(), 1u);
    EXPECT_EQ(c.heard[0].state.caption, "** Random Seek Read **  LBA=     3    ");
    EXPECT_EQ(c.again, std::nullopt);

    m.Announce(Passing("held"));
    m.Reset();  // a new start tells nothing of the previous one
    EXPECT_EQ(m.TakeChanges(t0 + 1h).announcement, std::nullopt);
    m.SetChangeListener(nullptr);
}

}  // namespace
}  // namespace tamro::ui
