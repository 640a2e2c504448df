// The window description against the window as the operator's manual lays
// it out: every control, its container, caption and design-time state.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ui/controls.h"
#include "ui/window_model.h"

namespace tamro::ui {
namespace {

using K = ControlKind;
namespace c = colors;

struct Expected {
    std::string name;
    ControlKind kind;
    std::string parent;
    std::string caption;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
    Rgb ink = c::kBlack;
};

std::vector<Expected> ExpectedWindow() {
    std::vector<Expected> w = {
        {"TForm1", K::Form, "TForm1", "TAMRO"},
        {"Panel2", K::Panel, "TForm1", ""},
        {"HeaderControl1", K::Header, "Panel2", ""},
        {"title", K::Panel, "TForm1", ""},
        {"titlename", K::Label, "title", "", true, true, false, c::kGreen},
        {"copyw", K::Label, "title", std::string(kMakerNotice)},
        {"panel", K::Panel, "TForm1", ""},
        {"disclaimer", K::Panel, "panel", ""},
        {"Label1", K::Label, "disclaimer", "", true, true, false, c::kMaroon},
        {"info", K::Panel, "panel", ""},
        {"Label12", K::Label, "info", "Date"},
        {"date", K::Label, "info", ""},
        {"Label14", K::Label, "info", "TestMode"},
        {"ExtTest", K::CheckBox, "info", "Extended"},
        {"StdTest", K::CheckBox, "info", "Standard", true, true, true, c::kGreen},
        {"SmtTest", K::CheckBox, "info", "Quick"},
        {"ReadOnly", K::CheckBox, "info", "ReadOnly", true, true, true, c::kGreen},
        {"WrtPermit", K::CheckBox, "info", "WrtPermit"},
        {"Label21", K::Label, "info", "Tool"},
        {"Panel8", K::Panel, "info", ""},
        {"DL", K::Button, "Panel8", "MicroCode DL"},
        {"Panel7", K::Panel, "info", ""},
        {"Button8", K::Button, "Panel7", "Exec", true, false},
        {"Button9", K::Button, "Panel7", "Scan"},
        {"connect", K::Panel, "panel", ""},
        {"Label18", K::Label, "connect", "#HA/#ID", true, true, false, c::kMaroon},
        {"Label19", K::Label, "connect", "Product ~ Device Information", true, true, false, c::kMaroon},
        {"Label20", K::Label, "connect", "JUDGE", true, true, false, c::kMaroon},
        {"DCONF", K::Label, "connect", "", true, true, false, c::kNavy},
        {"Label15", K::Label, "connect", "Total Progress"},
        {"PBar", K::ProgressBar, "connect", ""},
        {"PBarLabel", K::Label, "connect", "  0"},
        {"Label13", K::Label, "connect", "%"},
        {"Label16", K::Label, "connect", "Test Progress"},
        {"TBar", K::ProgressBar, "connect", ""},
        {"TBarLabel", K::Label, "connect", "  0"},
        {"Label17", K::Label, "connect", "%"},
        {"Panel4", K::Panel, "connect", ""},
        {"Button1", K::Button, "Panel4", "CANCEL"},
        {"Panel3", K::Panel, "connect", ""},
        {"Button4", K::Button, "Panel3", "RUN."},
        {"MoreDrives", K::Label, "connect", "", false, true, false, c::kMaroon},
        {"WtComfirm", K::Panel, "connect", ""},
        {"Panel6", K::Panel, "WtComfirm", ""},
        {"GroupBox1", K::GroupBox, "WtComfirm", "Do you permit to issue Write command on all drives ?", true, true,
         false, c::kRed},
        {"Label22", K::Label, "GroupBox1", "Write test selected user data on these disks will be destroyed OK?",
         true, true, false, c::kRed},
        {"Panel5", K::Panel, "GroupBox1", ""},
        {"WtOK", K::Button, "Panel5", "OK"},
        {"Panel1", K::Panel, "GroupBox1", ""},
        {"WtNG", K::Button, "Panel1", "CANCEL"},
        {"Image1", K::Image, "panel", ""},
        {"ALARM", K::Panel, "panel", ""},
        {"WAIT", K::Label, "ALARM", "Scaning new drives now, Please wait.", true, true, false, c::kGreen},
        {"error", K::Label, "ALARM", "", true, true, false, c::kRed},
        {"OK", K::Button, "ALARM", "OK"},
        {"RETEST", K::Panel, "panel", ""},
        {"Bevel15", K::Bevel, "RETEST", ""},
        {"RETESTL", K::Label, "RETEST", "Did you connect new drives for test ?", true, true, false, c::kRed},
        {"Button6", K::Button, "RETEST", "START"},
        {"Button7", K::Button, "RETEST", "EXIT"},
        {"cancel_p", K::Panel, "TForm1", ""},
        {"cancel", K::Button, "cancel_p", "CANCEL"},
        {"TEST", K::Button, "cancel_p", "NewTEST"},
        {"accept_p", K::Panel, "TForm1", ""},
        {"accept", K::Button, "accept_p", "ACCEPT"},
        {"EXIT", K::Button, "accept_p", "EXIT"},
        {"OpenDialog1", K::FileDialog, "TForm1", "FileOpen", false},
    };
    for (int i = 2; i <= 11; ++i) w.push_back({"Label" + std::to_string(i), K::Label, "disclaimer", ""});
    for (int n = 0; n < 7; ++n) {
        const std::string d = std::to_string(n);
        w.push_back({"ID" + d + "D", K::CheckBox, "connect", "", true, false});
        w.push_back({"id" + d + "l", K::Label, "connect", ""});
        w.push_back({"J" + d, K::Label, "connect", ""});
        w.push_back({"ID" + d, K::RadioButton, "connect", "", true, false});
    }
    return w;
}

TEST(WindowDescription, EveryControlHasItsDesignState) {
    const std::vector<Expected> expected = ExpectedWindow();
    EXPECT_EQ(expected.size(), kControlCount) << "a control is missing from one side";

    WindowModel model;
    std::set<ControlId> seen;
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        const std::optional<ControlId> id = FindControl(e.name);
        ASSERT_TRUE(id.has_value());
        EXPECT_TRUE(seen.insert(*id).second);
        EXPECT_EQ(ControlName(*id), e.name);
        const ControlSpec& spec = Spec(*id);
        EXPECT_EQ(spec.kind, e.kind);
        EXPECT_EQ(ControlName(spec.parent), e.parent);

        const ControlState s = model.State(*id);
        EXPECT_EQ(s.caption, e.caption);
        EXPECT_EQ(s.visible, e.visible);
        EXPECT_EQ(s.enabled, e.enabled);
        EXPECT_EQ(s.checked, e.checked);
        EXPECT_EQ(s.fontColor, e.ink);
        if (e.kind == K::ProgressBar) {
            EXPECT_EQ(s.position, 0);
            EXPECT_EQ(s.maximum, 1000);
        }
    }
}

TEST(WindowDescription, NamesAreExactAndCaseSensitive) {
    EXPECT_EQ(FindControl("WtComfirm"), ControlId::WtComfirm);
    EXPECT_EQ(FindControl("id3l"), ControlId::id3l);
    EXPECT_EQ(FindControl("ID3"), ControlId::ID3);
    EXPECT_FALSE(FindControl("dconf").has_value());
    EXPECT_FALSE(FindControl("WtConfirm").has_value());
    EXPECT_FALSE(FindControl("").has_value());
}

TEST(WindowDescription, FontsThatCarryMeaning) {
    const FontSpec title = Spec(ControlId::titlename).font;
    EXPECT_EQ(title.pixelSize, 21);
    EXPECT_TRUE(title.bold && title.italic);
    const ControlSpec& status = Spec(ControlId::DCONF);
    EXPECT_TRUE(status.font.bold && status.font.italic);
    EXPECT_EQ(status.align, Align::Center);
    EXPECT_EQ(Spec(ControlId::error).align, Align::Center);
    for (ControlId id : {ControlId::Label1, ControlId::Label18, ControlId::Label19, ControlId::Label20,
                         ControlId::Label22, ControlId::WAIT, ControlId::error, ControlId::RETESTL}) {
        EXPECT_TRUE(Spec(id).font.bold) << ControlName(id);
    }
}

// Pixel positions are free, but every drawn control must lie inside its
// container, or part of it would never be seen.
TEST(WindowDescription, LayoutFitsTheFixedWindow) {
    const ControlSpec& form = Spec(ControlId::TForm1);
    EXPECT_EQ(form.bounds, (Rect{0, 0, 620, 409}));
    EXPECT_EQ(Spec(ControlId::Panel2).bounds, (Rect{0, 0, 620, 409}));
    EXPECT_EQ(Spec(ControlId::Image1).bounds.width, 105);
    EXPECT_EQ(Spec(ControlId::Image1).bounds.height, 49);

    for (std::size_t i = 1; i < kControlCount; ++i) {
        const ControlSpec& spec = Spec(ControlAt(i));
        if (spec.kind == K::FileDialog) continue;
        SCOPED_TRACE(std::string(ControlName(spec.id)));
        const Rect outer = Spec(spec.parent).bounds;
        const Rect r = spec.bounds;
        EXPECT_GT(r.width, 0);
        EXPECT_GT(r.height, 0);
        EXPECT_GE(r.x, 0);
        EXPECT_GE(r.y, 0);
        EXPECT_LE(r.x + r.width, outer.width);
        EXPECT_LE(r.y + r.height, outer.height);
    }
}

TEST(WindowDescription, SlotRowsAndSharedSpots) {
    // One row per slot, each below the previous one, in slot order.
    for (int n = 0; n + 1 < 7; ++n) {
        const auto line = [](int slot) { return *FindControl("id" + std::to_string(slot) + "l"); };
        EXPECT_LT(Spec(line(n)).bounds.y + Spec(line(n)).bounds.height, Spec(line(n + 1)).bounds.y + 1);
    }
    // ACCEPT/EXIT and CANCEL/NewTEST take turns on one spot.
    EXPECT_EQ(Spec(ControlId::accept).bounds, Spec(ControlId::EXIT).bounds);
    EXPECT_EQ(Spec(ControlId::cancel).bounds, Spec(ControlId::TEST).bounds);
    EXPECT_EQ(ProgressLabelOf(ControlId::PBar), ControlId::PBarLabel);
    EXPECT_EQ(ProgressLabelOf(ControlId::TBar), ControlId::TBarLabel);
    EXPECT_FALSE(ProgressLabelOf(ControlId::DCONF).has_value());
}

}  // namespace
}  // namespace tamro::ui
