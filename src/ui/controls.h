// The window description: every control of TForm1 with its kind, place in
// the containment tree, caption, design-time state, colours, font and pixel
// bounds. Toolkit-free, so the workers, the handlers and their tests never
// need the windowing toolkit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamro::ui {

// Creation order: a container comes before what it holds, and a later
// sibling is drawn over an earlier one (the notices over the screens).
#define TAMRO_UI_CONTROLS(X)                                                   \
    X(TForm1)                                                                  \
    X(Panel2) X(HeaderControl1)                                                \
    X(title) X(titlename) X(copyw)                                             \
    X(panel)                                                                   \
    X(disclaimer) X(Label1) X(Label2) X(Label3) X(Label4) X(Label5) X(Label6)  \
    X(Label7) X(Label8) X(Label9) X(Label10) X(Label11)                        \
    X(info) X(Label12) X(date) X(Label14) X(ExtTest) X(StdTest) X(SmtTest)     \
    X(ReadOnly) X(WrtPermit) X(Label21) X(Panel8) X(DL) X(Panel7) X(Button8)   \
    X(Button9)                                                                 \
    X(connect) X(Label18) X(Label19) X(Label20)                                \
    X(ID0D) X(id0l) X(J0) X(ID0)                                               \
    X(ID1D) X(id1l) X(J1) X(ID1)                                               \
    X(ID2D) X(id2l) X(J2) X(ID2)                                               \
    X(ID3D) X(id3l) X(J3) X(ID3)                                               \
    X(ID4D) X(id4l) X(J4) X(ID4)                                               \
    X(ID5D) X(id5l) X(J5) X(ID5)                                               \
    X(ID6D) X(id6l) X(J6) X(ID6)                                               \
    X(DCONF)                                                                   \
    X(Label15) X(PBar) X(PBarLabel) X(Label13)                                 \
    X(Label16) X(TBar) X(TBarLabel) X(Label17)                                 \
    X(Panel4) X(Button1) X(Panel3) X(Button4) X(MoreDrives)                     \
    X(WtComfirm) X(Panel6) X(GroupBox1) X(Label22) X(Panel5) X(WtOK)           \
    X(Panel1) X(WtNG)                                                          \
    X(Image1)                                                                  \
    X(ALARM) X(WAIT) X(error) X(OK)                                            \
    X(RETEST) X(Bevel15) X(RETESTL) X(Button6) X(Button7)                      \
    X(cancel_p) X(cancel) X(TEST)                                              \
    X(accept_p) X(accept) X(EXIT)                                              \
    X(OpenDialog1)

enum class ControlId : std::uint8_t {
#define TAMRO_UI_ENUM(name) name,
    TAMRO_UI_CONTROLS(TAMRO_UI_ENUM)
#undef TAMRO_UI_ENUM
};

inline constexpr std::string_view kControlNames[] = {
#define TAMRO_UI_NAME(name) #name,
    TAMRO_UI_CONTROLS(TAMRO_UI_NAME)
#undef TAMRO_UI_NAME
};

inline constexpr std::size_t kControlCount = std::size(kControlNames);

constexpr std::size_t IndexOf(ControlId id) { return static_cast<std::size_t>(id); }
constexpr ControlId ControlAt(std::size_t index) { return static_cast<ControlId>(index); }

// The control's name as the window description spells it.
constexpr std::string_view ControlName(ControlId id) { return kControlNames[IndexOf(id)]; }

// The control of that exact (case-sensitive) name.
std::optional<ControlId> FindControl(std::string_view name);

enum class ControlKind : std::uint8_t {
    Form,
    Panel,
    Header,       // an empty header strip
    Bevel,        // a frame drawn around other controls
    GroupBox,
    Label,
    Button,
    CheckBox,
    RadioButton,
    ProgressBar,
    Image,
    FileDialog,   // not drawn in the window
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

namespace colors {
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kGreen{0, 128, 0};
inline constexpr Rgb kMaroon{128, 0, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kNavy{0, 0, 128};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kFace{212, 208, 200};     // the window's own grey
inline constexpr Rgb kNotice{255, 251, 230};   // the wait/alarm and retest notices
}  // namespace colors

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
    friend constexpr bool operator==(Rect, Rect) = default;
};

enum class Align : std::uint8_t { Left, Center, Right };
enum class Edge : std::uint8_t { None, Raised, Lowered };

struct FontSpec {
    int pixelSize = 0;  // 0: the window's default size
    bool bold = false;
    bool italic = false;
};

struct ControlSpec {
    ControlId id;
    ControlKind kind;
    ControlId parent;                 // TForm1 for TForm1 itself
    std::string_view caption;
    Rect bounds;                      // relative to the parent's client area
    std::optional<Rgb> color;         // background; none: the parent's shows through
    Rgb fontColor = colors::kBlack;
    FontSpec font;
    Align align = Align::Left;
    Edge edge = Edge::None;
    bool wordWrap = false;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
    int maximum = 0;                  // progress bars only
};

const ControlSpec& Spec(ControlId id);

// Window-wide constants of the description.
inline constexpr int kClientWidth = 620;
inline constexpr int kClientHeight = 409;
inline constexpr std::string_view kDefaultFontFamily = "Arial";
inline constexpr int kDefaultFontPixelSize = 12;
inline constexpr int kProgressMaximum = 1000;
inline constexpr std::string_view kMakerNotice =
    "Copyright (C) HALCYON Storage Products - Field Service Engineering";
inline constexpr std::string_view kOpenDialogFilter = "*.frm|*.frm|*.*|*.*";

// The picture in Image1 is drawn at this size and shown squeezed into the
// control's bounds.
inline constexpr int kImagePictureWidth = 105;
inline constexpr int kImagePictureHeight = 52;
// The word drawn in the picture.
inline constexpr std::string_view kEmblemText = "TAMRO";

// The controls of the drive slot rows 0 to 6: the selection box, the line,
// the JUDGE label and the log button of each.
inline constexpr std::size_t kSlotRows = 7;
inline constexpr ControlId kSelectBoxes[kSlotRows] = {ControlId::ID0D, ControlId::ID1D, ControlId::ID2D,
                                                      ControlId::ID3D, ControlId::ID4D, ControlId::ID5D,
                                                      ControlId::ID6D};
inline constexpr ControlId kSlotLines[kSlotRows] = {ControlId::id0l, ControlId::id1l, ControlId::id2l, ControlId::id3l,
                                                    ControlId::id4l, ControlId::id5l, ControlId::id6l};
inline constexpr ControlId kJudgeLabels[kSlotRows] = {ControlId::J0, ControlId::J1, ControlId::J2, ControlId::J3,
                                                      ControlId::J4, ControlId::J5, ControlId::J6};
inline constexpr ControlId kLogButtons[kSlotRows] = {ControlId::ID0, ControlId::ID1, ControlId::ID2, ControlId::ID3,
                                                     ControlId::ID4, ControlId::ID5, ControlId::ID6};

// The label that shows a progress bar's percentage (PBarLabel for PBar,
// TBarLabel for TBar); none for any other control.
std::optional<ControlId> ProgressLabelOf(ControlId bar);

// "%3d" of position / 10, the text of the label beside a progress bar.
std::string ProgressText(int position);

}  // namespace tamro::ui
