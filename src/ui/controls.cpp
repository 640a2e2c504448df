#include "ui/controls.h"

#include <array>
#include <cstdio>

namespace tamro::ui {

namespace {

using enum ControlId;
using K = ControlKind;
namespace c = colors;

// A fluent builder so that each control of the table stays on one line.
struct B {
    ControlSpec s;
    constexpr B Fill(Rgb rgb) const { B b = *this; b.s.color = rgb; return b; }
    constexpr B Ink(Rgb rgb) const { B b = *this; b.s.fontColor = rgb; return b; }
    constexpr B Font(int px, bool bold, bool italic) const {
        B b = *this;
        b.s.font = {px, bold, italic};
        return b;
    }
    constexpr B Bold() const { B b = *this; b.s.font.bold = true; return b; }
    constexpr B Centered() const { B b = *this; b.s.align = Align::Center; return b; }
    constexpr B RightAligned() const { B b = *this; b.s.align = Align::Right; return b; }
    constexpr B Framed(Edge e) const { B b = *this; b.s.edge = e; return b; }
    constexpr B Wrap() const { B b = *this; b.s.wordWrap = true; return b; }
    constexpr B Hidden() const { B b = *this; b.s.visible = false; return b; }
    constexpr B Disabled() const { B b = *this; b.s.enabled = false; return b; }
    constexpr B Checked() const { B b = *this; b.s.checked = true; return b; }
};

constexpr B Ctl(ControlId id, ControlKind kind, ControlId parent, Rect r,
                std::string_view caption = {}) {
    ControlSpec s{};
    s.id = id;
    s.kind = kind;
    s.parent = parent;
    s.bounds = r;
    s.caption = caption;
    if (kind == K::ProgressBar) s.maximum = kProgressMaximum;
    return B{s};
}

constexpr B Container(ControlId id, ControlId parent, Rect r, Edge edge = Edge::None) {
    return Ctl(id, K::Panel, parent, r).Fill(c::kFace).Framed(edge);
}

// A button on its own small panel, as RUN., CANCEL, OK and the tool
// buttons are: hiding or disabling the panel takes the button with it.
constexpr Rect kButtonInPanel{4, 4, 92, 26};

using Table = std::array<ControlSpec, kControlCount>;

constexpr Table BuildTable() {
    Table t{};
    auto put = [&t](B b) { t[IndexOf(b.s.id)] = b.s; };

    put(Ctl(TForm1, K::Form, TForm1, {0, 0, kClientWidth, kClientHeight}, "TAMRO").Fill(c::kFace));
    put(Container(Panel2, TForm1, {0, 0, kClientWidth, kClientHeight}));
    put(Ctl(HeaderControl1, K::Header, Panel2, {0, 0, kClientWidth, 8}));

    put(Container(title, TForm1, {4, 10, 612, 52}, Edge::Lowered).Fill(c::kWhite));
    put(Ctl(titlename, K::Label, title, {10, 3, 592, 27}).Ink(c::kGreen).Font(21, true, true));
    put(Ctl(copyw, K::Label, title, {12, 31, 590, 16}, kMakerNotice));

    put(Container(panel, TForm1, {4, 64, 612, 302}, Edge::Raised));

    put(Container(disclaimer, panel, {2, 2, 608, 298}));
    put(Ctl(Label1, K::Label, disclaimer, {16, 8, 576, 22}).Ink(c::kMaroon).Font(15, true, false));
    for (int i = 0; i < 10; ++i) {
        put(Ctl(ControlAt(IndexOf(Label2) + i), K::Label, disclaimer, {16, 36 + 20 * i, 576, 18}));
    }

    // The settings column at the left of the main area.
    put(Container(info, panel, {2, 2, 118, 244}, Edge::Lowered));
    put(Ctl(Label12, K::Label, info, {6, 4, 106, 16}, "Date").Bold());
    put(Ctl(date, K::Label, info, {14, 20, 98, 16}));
    put(Ctl(Label14, K::Label, info, {6, 42, 106, 16}, "TestMode").Bold());
    put(Ctl(ExtTest, K::CheckBox, info, {12, 58, 100, 18}, "Extended"));
    put(Ctl(StdTest, K::CheckBox, info, {12, 76, 100, 18}, "Standard").Checked().Ink(c::kGreen));
    put(Ctl(SmtTest, K::CheckBox, info, {12, 94, 100, 18}, "Quick"));
    put(Ctl(ReadOnly, K::CheckBox, info, {12, 118, 100, 18}, "ReadOnly").Checked().Ink(c::kGreen));
    put(Ctl(WrtPermit, K::CheckBox, info, {12, 136, 100, 18}, "WrtPermit"));
    put(Ctl(Label21, K::Label, info, {6, 160, 106, 16}, "Tool").Bold());
    put(Container(Panel8, info, {4, 178, 110, 30}));
    put(Ctl(DL, K::Button, Panel8, {3, 3, 104, 24}, "MicroCode DL"));
    put(Container(Panel7, info, {4, 210, 110, 30}));
    put(Ctl(Button8, K::Button, Panel7, {3, 3, 51, 24}, "Exec").Disabled());
    put(Ctl(Button9, K::Button, Panel7, {56, 3, 51, 24}, "Scan"));

    // The drive list right of the settings column.
    put(Container(connect, panel, {122, 2, 488, 298}, Edge::Lowered));
    put(Ctl(Label18, K::Label, connect, {24, 4, 70, 18}, "#HA/#ID")
            .Ink(c::kMaroon).Bold().Centered().Framed(Edge::Lowered));
    put(Ctl(Label19, K::Label, connect, {96, 4, 270, 18}, "Product ~ Device Information")
            .Ink(c::kMaroon).Bold().Centered().Framed(Edge::Lowered));
    put(Ctl(Label20, K::Label, connect, {368, 4, 76, 18}, "JUDGE")
            .Ink(c::kMaroon).Bold().Centered().Framed(Edge::Lowered));
    for (int n = 0; n < 7; ++n) {
        const std::size_t row = IndexOf(ID0D) + 4 * static_cast<std::size_t>(n);
        const int y = 26 + 22 * n;
        put(Ctl(ControlAt(row), K::CheckBox, connect, {6, y + 1, 18, 18}).Disabled());
        put(Ctl(ControlAt(row + 1), K::Label, connect, {26, y + 2, 340, 16}));
        put(Ctl(ControlAt(row + 2), K::Label, connect, {370, y + 2, 72, 16}).Bold().Centered());
        put(Ctl(ControlAt(row + 3), K::RadioButton, connect, {450, y + 1, 18, 18}).Disabled());
    }
    put(Ctl(DCONF, K::Label, connect, {4, 184, 480, 18})
            .Ink(c::kNavy).Font(0, true, true).Centered());
    put(Ctl(Label15, K::Label, connect, {6, 208, 90, 16}, "Total Progress"));
    put(Ctl(PBar, K::ProgressBar, connect, {98, 208, 300, 16}));
    put(Ctl(PBarLabel, K::Label, connect, {402, 208, 28, 16}, "  0").RightAligned());
    put(Ctl(Label13, K::Label, connect, {432, 208, 14, 16}, "%"));
    put(Ctl(Label16, K::Label, connect, {6, 230, 90, 16}, "Test Progress"));
    put(Ctl(TBar, K::ProgressBar, connect, {98, 230, 300, 16}));
    put(Ctl(TBarLabel, K::Label, connect, {402, 230, 28, 16}, "  0").RightAligned());
    put(Ctl(Label17, K::Label, connect, {432, 230, 14, 16}, "%"));
    put(Container(Panel4, connect, {270, 256, 100, 34}));
    put(Ctl(Button1, K::Button, Panel4, kButtonInPanel, "CANCEL"));
    put(Container(Panel3, connect, {380, 256, 100, 34}));
    put(Ctl(Button4, K::Button, Panel3, kButtonInPanel, "RUN."));
    // Said when the bus holds more drives than the seven rows; beside the
    // buttons, where the list leaves room.
    put(Ctl(MoreDrives, K::Label, connect, {6, 254, 258, 38}).Ink(c::kMaroon).Wrap().Hidden());

    // The write-permission question, over the slot rows.
    put(Container(WtComfirm, connect, {2, 22, 484, 160}));
    put(Container(Panel6, WtComfirm, {0, 0, 484, 160}, Edge::Raised));
    put(Ctl(GroupBox1, K::GroupBox, WtComfirm, {8, 6, 468, 146},
            "Do you permit to issue Write command on all drives ?")
            .Ink(c::kRed));
    put(Ctl(Label22, K::Label, GroupBox1, {12, 30, 444, 38},
            "Write test selected user data on these disks will be destroyed OK?")
            .Ink(c::kRed).Bold().Centered().Wrap());
    put(Container(Panel5, GroupBox1, {108, 86, 100, 34}));
    put(Ctl(WtOK, K::Button, Panel5, kButtonInPanel, "OK"));
    put(Container(Panel1, GroupBox1, {260, 86, 100, 34}));
    put(Ctl(WtNG, K::Button, Panel1, kButtonInPanel, "CANCEL"));

    put(Ctl(Image1, K::Image, panel, {6, 249, 105, 49}));

    // The notices, centred over the main area.
    put(Container(ALARM, panel, {126, 91, 360, 120}, Edge::Raised).Fill(c::kNotice));
    put(Ctl(WAIT, K::Label, ALARM, {10, 14, 340, 20}, "Scaning new drives now, Please wait.")
            .Ink(c::kGreen).Bold().Centered());
    put(Ctl(error, K::Label, ALARM, {10, 36, 340, 42}).Ink(c::kRed).Bold().Centered().Wrap());
    put(Ctl(OK, K::Button, ALARM, {140, 84, 80, 26}, "OK"));

    put(Container(RETEST, panel, {126, 91, 360, 120}, Edge::Raised).Fill(c::kNotice));
    put(Ctl(Bevel15, K::Bevel, RETEST, {14, 12, 332, 40}).Framed(Edge::Lowered));
    put(Ctl(RETESTL, K::Label, RETEST, {20, 22, 320, 20}, "Did you connect new drives for test ?")
            .Ink(c::kRed).Bold().Centered());
    put(Ctl(Button6, K::Button, RETEST, {86, 76, 84, 26}, "START"));
    put(Ctl(Button7, K::Button, RETEST, {190, 76, 84, 26}, "EXIT"));

    // ACCEPT/EXIT and CANCEL/NewTEST each share one spot.
    put(Container(cancel_p, TForm1, {412, 370, 100, 34}));
    put(Ctl(cancel, K::Button, cancel_p, kButtonInPanel, "CANCEL"));
    put(Ctl(TEST, K::Button, cancel_p, kButtonInPanel, "NewTEST"));
    put(Container(accept_p, TForm1, {516, 370, 100, 34}));
    put(Ctl(accept, K::Button, accept_p, kButtonInPanel, "ACCEPT"));
    put(Ctl(EXIT, K::Button, accept_p, kButtonInPanel, "EXIT"));

    put(Ctl(OpenDialog1, K::FileDialog, TForm1, {}, "FileOpen").Hidden());
    return t;
}

constexpr Table kTable = BuildTable();

// Every control is described once, and each container comes before what it
// holds (the view creates them in table order).
constexpr bool TableIsComplete() {
    for (std::size_t i = 1; i < kTable.size(); ++i) {
        if (kTable[i].id != ControlAt(i)) return false;
        if (IndexOf(kTable[i].parent) >= i) return false;
    }
    return kTable[0].kind == K::Form;
}
static_assert(TableIsComplete());

}  // namespace

const ControlSpec& Spec(ControlId id) { return kTable[IndexOf(id)]; }

std::optional<ControlId> FindControl(std::string_view name) {
    for (std::size_t i = 0; i < kControlCount; ++i) {
        if (kControlNames[i] == name) return ControlAt(i);
    }
    return std::nullopt;
}

std::optional<ControlId> ProgressLabelOf(ControlId bar) {
    switch (bar) {
        case PBar: return PBarLabel;
        case TBar: return TBarLabel;
        default: return std::nullopt;
    }
}

std::string ProgressText(int position) {
    char text[16];
    std::snprintf(text, sizeof text, "%3d", position / 10);
    return text;
}

}  // namespace tamro::ui
