// Where the focus goes as the screens appear, decided by the model for every
// view: never on a control that ends the program or permits writes (the
// alarm's OK, its only way on, aside), never on a hidden one; and where Tab
// takes it, never out of an open question.
#include "ui/keyboard.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

using ui::Presence;

Presence Now() {
    return {[](ControlId c) { return Form().IsShowing(c); },
            [](ControlId c) { return Form().IsEffectivelyEnabled(c); },
            [](ControlId c) { return Form().Caption(c); }};
}

// The focus the view is asked to give once what is pending is on the screen.
std::optional<ControlId> Offered() { return Form().TakeChanges().focus; }

class ScreenFocus : public WindowTest {};

TEST_F(ScreenFocus, EachScreenStartsOnItsFirstSafeControl) {
    Start();
    EXPECT_EQ(Offered(), ControlId::accept);
    EXPECT_EQ(Offered(), std::nullopt);  // once, when the screen appears

    Click(ControlId::accept);
    std::optional<ControlId> firstDrive;
    for (ControlId box : kSelect)
        if (!firstDrive && Usable(box)) firstDrive = box;
    ASSERT_TRUE(firstDrive.has_value());
    EXPECT_EQ(Offered(), firstDrive);

    Click(ControlId::WrtPermit);
    EXPECT_EQ(Offered(), ControlId::WtNG);
    EXPECT_EQ(ui::EscapeTarget(Now()), ControlId::WtNG);
    Click(ControlId::WtNG);
    EXPECT_EQ(Offered(), firstDrive);
    EXPECT_EQ(ui::EscapeTarget(Now()), std::nullopt);

    Click(ControlId::SmtTest);
    Click(ControlId::Button4);
    EXPECT_EQ(Offered(), ControlId::TForm1);  // the run: on no control, though EXIT could be used
    ASSERT_TRUE(WaitUntil(RunEnded));
    EXPECT_EQ(Offered(), ControlId::TEST);

    Click(ControlId::TEST);
    EXPECT_EQ(Offered(), ControlId::Button6);

    // START on a bus without adapters: the alarm offers its OK.
    sim_set_support_status(0x00);
    Click(ControlId::Button6);
    ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::OK); }));
    EXPECT_EQ(Offered(), ControlId::OK);
}

TEST_F(ScreenFocus, ALogButtonKeepsTheFocusInsideTheDriveList) {
    StartAndAccept();
    Click(ControlId::Button1);  // EXIT and NewTEST: the log buttons stay in the list
    for (ControlId box : kSelect) Form().Disable(box);
    Form().Enable(ControlId::ID4);
    Form().TakeChanges();

    // The log button asks for the drive list: the pressed button keeps it.
    Click(ControlId::ID4);
    const auto request = Offered();
    ASSERT_EQ(request, ControlId::connect);
    EXPECT_EQ(ui::FocusTarget(*request, ControlId::ID4, Now()), ControlId::ID4);
    // From outside the list, its first usable control, the only one here.
    EXPECT_EQ(ui::FocusTarget(*request, ControlId::TEST, Now()), ControlId::ID4);
    // Nothing hidden or disabled takes it.
    Form().Hide(ControlId::connect);
    EXPECT_EQ(ui::FocusTarget(*request, ControlId::ID4, Now()), std::nullopt);
    EXPECT_EQ(ui::FocusTarget(ControlId::ID4, std::nullopt, Now()), std::nullopt);
    EXPECT_EQ(ui::FocusTarget(ControlId::Button4, std::nullopt, Now()), std::nullopt);
}

std::optional<ControlId> Tab(std::optional<ControlId> from) { return ui::NextTabStop(from, false, Now()); }
std::optional<ControlId> ShiftTab(std::optional<ControlId> from) { return ui::NextTabStop(from, true, Now()); }

TEST_F(ScreenFocus, TabGoesRoundTheScreenAndNeverOutOfAnOpenQuestion) {
    StartAndAccept();
    // The drive list: round every usable control, in the description's order.
    EXPECT_EQ(ShiftTab(ControlId::ExtTest), ControlId::Button4);
    EXPECT_EQ(Tab(ControlId::Button4), ControlId::ExtTest);
    EXPECT_EQ(Tab(std::nullopt), ControlId::ExtTest);  // from the window itself
    // The status line is a stop while it shows a text, to be read on demand.
    Form().SetCaption(ControlId::DCONF, " ");
    EXPECT_NE(ShiftTab(ControlId::Button1), ControlId::DCONF);
    Form().SetCaption(ControlId::DCONF, "** Mode Select **");
    EXPECT_EQ(ShiftTab(ControlId::Button1), ControlId::DCONF);
    EXPECT_EQ(Tab(ControlId::DCONF), ControlId::Button1);

    // The write question holds the keyboard, though CANCEL of the drive list
    // below it stays usable to the mouse.
    Click(ControlId::WrtPermit);
    EXPECT_EQ(ui::ModalScreen(Now()), ControlId::WtComfirm);
    EXPECT_EQ(Tab(ControlId::WtNG), ControlId::WtOK);
    EXPECT_EQ(Tab(ControlId::WtOK), ControlId::WtNG);
    EXPECT_EQ(ShiftTab(ControlId::WtOK), ControlId::WtNG);
    EXPECT_EQ(Tab(kSelect[0]), ControlId::WtOK);  // from a covered box, into the question
    EXPECT_FALSE(ui::KeysReach(kSelect[0], Now()));
    EXPECT_TRUE(Usable(ControlId::Button1));
    EXPECT_FALSE(ui::KeysReach(ControlId::Button1, Now()));
    EXPECT_TRUE(ui::KeysReach(ControlId::WtNG, Now()));
    Click(ControlId::WtNG);
    EXPECT_EQ(ui::ModalScreen(Now()), std::nullopt);
    EXPECT_TRUE(ui::KeysReach(kSelect[0], Now()));

    // The retest question, and the alarm with its one button.
    Click(ControlId::Button1);
    Click(ControlId::TEST);
    EXPECT_EQ(Tab(ControlId::Button6), ControlId::Button7);
    EXPECT_EQ(Tab(ControlId::Button7), ControlId::Button6);
    EXPECT_EQ(ShiftTab(ControlId::Button6), ControlId::Button7);
    sim_set_support_status(0x00);
    Click(ControlId::Button6);
    ASSERT_TRUE(WaitUntil([] { return Form().IsEnabled(ControlId::OK); }));
    EXPECT_EQ(Tab(ControlId::OK), ControlId::OK);
    EXPECT_EQ(Tab(std::nullopt), ControlId::OK);
    EXPECT_FALSE(ui::KeysReach(ControlId::EXIT, Now()));
}

}  // namespace
}  // namespace tamro::test
