#include "ui/keyboard.h"

#include <span>

#include "ui/accessible_names.h"

namespace tamro::ui {

namespace {

using enum ControlId;

// The drive list's safe controls in the order the focus looks for one: the
// drives first, then the settings that neither write nor leave the list.
constexpr ControlId kDriveListOrder[] = {ID0D, ID1D, ID2D, ID3D, ID4D, ID5D, ID6D,
                                         ExtTest, StdTest, SmtTest, ReadOnly, DL, Button9};

bool IsOperable(ControlKind kind) {
    return kind == ControlKind::Button || kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

bool IsInside(ControlId id, ControlId container) {
    while (id != TForm1) {
        id = Spec(id).parent;
        if (id == container) return true;
    }
    return false;
}

// The first of `order` that can take the focus, else the window itself.
ControlId FirstThatCan(std::span<const ControlId> order, const Presence& presence) {
    for (ControlId id : order)
        if (CanTakeFocus(id, presence)) return id;
    return TForm1;
}

ControlId IfItCan(ControlId id, const Presence& presence) { return FirstThatCan({&id, 1}, presence); }

}  // namespace

bool CanTakeFocus(ControlId id, const Presence& presence) {
    return IsOperable(Spec(id).kind) && presence.showing(id) && presence.enabled(id);
}

bool IsTabStop(ControlId id, const Presence& presence) {
    if (id == kStatusLine)
        return presence.caption && presence.showing(id) && !SpokenText(presence.caption(id)).empty();
    return CanTakeFocus(id, presence);
}

std::optional<ControlId> ModalScreen(const Presence& presence) {
    // In front first, as FirstSafeFocus looks for them.
    for (ControlId screen : {RETEST, ALARM, WtComfirm})
        if (presence.showing(screen)) return screen;
    return std::nullopt;
}

std::optional<ControlId> NextTabStop(std::optional<ControlId> from, bool backwards, const Presence& presence) {
    const std::optional<ControlId> modal = ModalScreen(presence);
    const std::size_t start = IndexOf(from.value_or(TForm1));
    for (std::size_t step = 1; step <= kControlCount; ++step) {
        const std::size_t i = backwards ? (start + kControlCount - step) % kControlCount : (start + step) % kControlCount;
        const ControlId id = ControlAt(i);
        if ((!modal || IsInside(id, *modal)) && IsTabStop(id, presence)) return id;
    }
    return std::nullopt;
}

bool KeysReach(ControlId focused, const Presence& presence) {
    const std::optional<ControlId> modal = ModalScreen(presence);
    return !modal || IsInside(focused, *modal);
}

ScreenFocus FirstSafeFocus(const Presence& presence) {
    // The notices and the questions lie over the screens: the frontmost first.
    if (presence.showing(RETEST)) return {Screen::RetestQuestion, IfItCan(Button6, presence)};
    if (presence.showing(ALARM)) return {Screen::Notice, IfItCan(OK, presence)};
    if (presence.showing(disclaimer)) return {Screen::Disclaimer, IfItCan(accept, presence)};
    if (presence.showing(WtComfirm)) return {Screen::WriteQuestion, IfItCan(WtNG, presence)};
    if (presence.showing(TEST)) {
        // NewTEST is greyed while the run goes on; EXIT is never chosen.
        if (CanTakeFocus(TEST, presence)) return {Screen::Finished, TEST};
        return {Screen::Running, TForm1};
    }
    return {Screen::DriveList, FirstThatCan(kDriveListOrder, presence)};
}

std::optional<ControlId> FocusTarget(ControlId requested, std::optional<ControlId> focused,
                                     const Presence& presence) {
    if (requested == TForm1) return TForm1;
    if (IsOperable(Spec(requested).kind)) {
        if (CanTakeFocus(requested, presence)) return requested;
        return std::nullopt;
    }
    if (!presence.showing(requested) || !presence.enabled(requested)) return std::nullopt;
    if (focused && IsInside(*focused, requested) && CanTakeFocus(*focused, presence)) return focused;
    for (std::size_t i = IndexOf(requested) + 1; i < kControlCount; ++i) {
        const ControlId id = ControlAt(i);
        if (IsInside(id, requested) && CanTakeFocus(id, presence)) return id;
    }
    return std::nullopt;
}

std::optional<ControlId> EscapeTarget(const Presence& presence) {
    if (presence.showing(WtComfirm) && CanTakeFocus(WtNG, presence)) return WtNG;
    return std::nullopt;
}

bool EnterPresses(ControlId id) {
    const ControlKind kind = Spec(id).kind;
    return kind == ControlKind::Button || kind == ControlKind::RadioButton;
}

}  // namespace tamro::ui
