// Where the keyboard focus goes and which keys press what, decided once for
// every view: a view only reports where the focus is and applies the answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "ui/controls.h"

namespace tamro::ui {

// What the rules need to know of the window now.
struct Presence {
    std::function<bool(ControlId)> showing;  // own flag and every container's
    std::function<bool(ControlId)> enabled;  // own flag and every container's
};

// A button, check box or radio button the operator can use now.
bool CanTakeFocus(ControlId id, const Presence& presence);

// The screen in front, and the control that takes the focus when it
// appears: its first control that neither ends the program nor permits
// writes. The alarm's OK ends the program, but it is the alarm's only way on.
// A screen without such a control (the wait notice, the run) gives the focus
// to the window itself, TForm1, so that it stays on no control rather than
// drift to EXIT.
enum class Screen : std::uint8_t {
    Notice,          // the wait notice, or the alarm with OK
    Disclaimer,
    DriveList,
    WriteQuestion,
    Running,
    Finished,
    RetestQuestion,
};
struct ScreenFocus {
    Screen screen;
    ControlId control;
    friend bool operator==(const ScreenFocus&, const ScreenFocus&) = default;
};
ScreenFocus FirstSafeFocus(const Presence& presence);

// A focus request turned into a control that can take the focus: the control
// itself; for a container, the focused control when it is inside, else the
// first control inside that can; TForm1 for TForm1. None when nothing can:
// the focus never goes to a hidden or disabled control.
std::optional<ControlId> FocusTarget(ControlId requested, std::optional<ControlId> focused,
                                     const Presence& presence);

// Escape answers the write question with CANCEL; it presses nothing elsewhere.
std::optional<ControlId> EscapeTarget(const Presence& presence);

// Enter presses a focused button or log button, as Space does; check boxes
// keep Space alone.
bool EnterPresses(ControlId id);

}  // namespace tamro::ui
