// Where the keyboard focus goes and which keys press what, decided once for
// every view: a view only reports where the focus is and applies the answer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "ui/controls.h"

namespace tamro::ui {

// What the rules need to know of the window now.
struct Presence {
    std::function<bool(ControlId)> showing;  // own flag and every container's
    std::function<bool(ControlId)> enabled;  // own flag and every container's
    std::function<std::string(ControlId)> caption;  // none: no text is read on demand
};

// A button, check box or radio button the operator can use now.
bool CanTakeFocus(ControlId id, const Presence& presence);

// Where Tab stops: the controls that can take the focus, and the status
// line while it shows a text, so that a listener reads it on demand.
bool IsTabStop(ControlId id, const Presence& presence);

// The screen that holds the keyboard while it is shown: the retest
// question, the wait or alarm notice, the write question. Tab and Shift+Tab
// cycle through its own controls only, and keys never reach what it covers.
std::optional<ControlId> ModalScreen(const Presence& presence);

// Where Tab (Shift+Tab: backwards) takes the focus from `from` (none: the
// window itself): the next Tab stop in the order of the window description,
// round to the first, within the modal screen while one is shown. None when
// there is no stop.
std::optional<ControlId> NextTabStop(std::optional<ControlId> from, bool backwards, const Presence& presence);

// Whether keys pressed on `focused` may reach it: not while a modal screen
// that does not hold it is shown.
bool KeysReach(ControlId focused, const Presence& presence);

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
