#include "ui/window_model.h"

#include <algorithm>
#include <utility>

#include "ui/accessible_names.h"
#include "ui/window_front_end.h"

namespace tamro::ui {

namespace {

ControlState DesignState(ControlId id) {
    const ControlSpec& spec = Spec(id);
    ControlState s;
    s.caption = std::string(spec.caption);
    s.fontColor = spec.fontColor;
    s.visible = spec.visible;
    s.enabled = spec.enabled;
    s.checked = spec.checked;
    s.maximum = spec.maximum;
    return s;
}

bool IsCheckable(ControlKind kind) {
    return kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

// What a listener hears of a paced control: its text, or its bar in whole
// percents.
bool HeardAlike(ControlId id, const ControlState& a, const ControlState& b) {
    if (Spec(id).kind == ControlKind::ProgressBar) return a.position / 10 == b.position / 10;
    return a.caption == b.caption;
}

ControlState AsHeard(ControlId id, ControlState state) {
    if (Spec(id).kind == ControlKind::ProgressBar) state.position = state.position / 10 * 10;
    return state;
}

}  // namespace

WindowModel::WindowModel() {
    dirty_.reserve(kControlCount);  // a worker's change never allocates here
    for (std::size_t i = 0; i < kControlCount; ++i) slots_[i].state = heard_[i].state = DesignState(ControlAt(i));
}

void WindowModel::Reset() {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < kControlCount; ++i) {
            ControlState design = DesignState(ControlAt(i));
            if (slots_[i].state != design) {
                slots_[i].state = std::move(design);
                wake |= MarkChangedLocked(ControlAt(i));
            }
        }
        focus_.reset();
        focusPending_.reset();
        screenFocus_.reset();
        closeRequested_ = false;
        closePending_ = false;
        openDialogFileName_.clear();
        announcements_.Clear();
        for (std::size_t i = 0; i < kControlCount; ++i) heard_[i] = Heard{DesignState(ControlAt(i)), std::nullopt};
    }
    if (wake) Notify(false);
}

bool WindowModel::MarkChangedLocked(ControlId id) {
    Slot& slot = slots_[IndexOf(id)];
    slot.changedAt = ++sequence_;
    if (!slot.dirty) {
        slot.dirty = true;
        dirty_.push_back(id);
    }
    if (wakeSent_) return false;
    wakeSent_ = true;
    return true;
}

bool WindowModel::PendingLocked() const {
    return !dirty_.empty() || focusPending_ || closePending_;
}

template <class Change>
bool WindowModel::Update(ControlId id, Change&& change) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        if (!change(slots_[IndexOf(id)].state)) return false;
        wake = MarkChangedLocked(id);
    }
    if (wake) Notify(false);
    return true;
}

void WindowModel::SetCaption(ControlId id, std::string_view text) {
    Update(id, [text](ControlState& s) {
        if (s.caption == text) return false;
        s.caption.assign(text);
        return true;
    });
}

void WindowModel::SetCaption(ControlId id, std::string_view text, Rgb fontColor) {
    Update(id, [text, fontColor](ControlState& s) {
        if (s.caption == text && s.fontColor == fontColor) return false;
        s.caption.assign(text);
        s.fontColor = fontColor;
        return true;
    });
}

void WindowModel::SetFontColor(ControlId id, Rgb fontColor) {
    Update(id, [fontColor](ControlState& s) { return std::exchange(s.fontColor, fontColor) != fontColor; });
}

void WindowModel::SetVisible(ControlId id, bool visible) {
    Update(id, [visible](ControlState& s) { return std::exchange(s.visible, visible) != visible; });
}

void WindowModel::SetEnabled(ControlId id, bool enabled) {
    Update(id, [enabled](ControlState& s) { return std::exchange(s.enabled, enabled) != enabled; });
}

void WindowModel::SetChecked(ControlId id, bool checked) {
    const ControlSpec& spec = Spec(id);
    if (!IsCheckable(spec.kind)) return;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        ControlState& s = slots_[IndexOf(id)].state;
        if (s.checked == checked) return;
        s.checked = checked;
        wake |= MarkChangedLocked(id);
        if (spec.kind == ControlKind::RadioButton && checked) {
            // Radio buttons of one container exclude each other.
            for (std::size_t i = 0; i < kControlCount; ++i) {
                const ControlSpec& other = Spec(ControlAt(i));
                if (other.id == id || other.kind != ControlKind::RadioButton || other.parent != spec.parent) continue;
                if (std::exchange(slots_[i].state.checked, false)) wake |= MarkChangedLocked(other.id);
            }
        }
    }
    if (wake) Notify(false);
    if (spec.kind == ControlKind::CheckBox) {
        Run(id, Event::Change);
    } else if (checked) {
        Run(id, Event::Click);
    }
}

void WindowModel::SetPosition(ControlId bar, int position) {
    if (Spec(bar).kind != ControlKind::ProgressBar) return;
    Update(bar, [position](ControlState& s) {
        const int clamped = std::clamp(position, 0, s.maximum);
        return std::exchange(s.position, clamped) != clamped;
    });
}

void WindowModel::SetProgress(ControlId bar, int position) {
    const std::optional<ControlId> label = ProgressLabelOf(bar);
    if (!label) return;
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        ControlState& b = slots_[IndexOf(bar)].state;
        const int clamped = std::clamp(position, 0, b.maximum);
        if (std::exchange(b.position, clamped) != clamped) wake |= MarkChangedLocked(bar);
        ControlState& l = slots_[IndexOf(*label)].state;
        const std::string text = ProgressText(clamped);
        if (l.caption != text) {
            l.caption = text;
            wake |= MarkChangedLocked(*label);
        }
    }
    if (wake) Notify(false);
}

void WindowModel::Repaint(ControlId) {
    bool pending;
    {
        std::lock_guard lock(mutex_);
        pending = PendingLocked();
    }
    if (pending) Notify(true);
}

void WindowModel::Focus(ControlId id) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        focus_ = id;
        focusPending_ = id;
        ++sequence_;
        wake = !std::exchange(wakeSent_, true);
    }
    if (wake) Notify(false);
}

void WindowModel::Announce(Announcement announcement) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        announcements_.Post(std::move(announcement));
        ++sequence_;
        wake = !std::exchange(wakeSent_, true);
    }
    if (wake) Notify(false);
}

void WindowModel::Close() {
    {
        std::lock_guard lock(mutex_);
        closeRequested_ = true;
        closePending_ = true;
        ++sequence_;
        wakeSent_ = true;
    }
    Notify(true);
}

ControlState WindowModel::State(ControlId id) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(id)].state;
}

std::array<ControlState, kControlCount> WindowModel::AllStates() const {
    std::array<ControlState, kControlCount> all;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < kControlCount; ++i) all[i] = slots_[i].state;
    return all;
}

std::string WindowModel::Caption(ControlId id) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(id)].state.caption;
}

Rgb WindowModel::FontColor(ControlId id) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(id)].state.fontColor;
}

bool WindowModel::IsVisible(ControlId id) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(id)].state.visible;
}

bool WindowModel::IsEnabled(ControlId id) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(id)].state.enabled;
}

bool WindowModel::ShowingLocked(ControlId id) const {
    for (;;) {
        if (!slots_[IndexOf(id)].state.visible) return false;
        if (id == ControlId::TForm1) return true;
        id = Spec(id).parent;
    }
}

bool WindowModel::EnabledLocked(ControlId id) const {
    for (;;) {
        if (!slots_[IndexOf(id)].state.enabled) return false;
        if (id == ControlId::TForm1) return true;
        id = Spec(id).parent;
    }
}

bool WindowModel::IsShowing(ControlId id) const {
    std::lock_guard lock(mutex_);
    return ShowingLocked(id);
}

bool WindowModel::IsEffectivelyEnabled(ControlId id) const {
    std::lock_guard lock(mutex_);
    return EnabledLocked(id);
}

bool WindowModel::IsChecked(ControlId id) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(id)].state.checked;
}

int WindowModel::Position(ControlId bar) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(bar)].state.position;
}

int WindowModel::Maximum(ControlId bar) const {
    std::lock_guard lock(mutex_);
    return slots_[IndexOf(bar)].state.maximum;
}

std::optional<ControlId> WindowModel::FocusedControl() const {
    std::lock_guard lock(mutex_);
    return focus_;
}

bool WindowModel::CloseRequested() const {
    std::lock_guard lock(mutex_);
    return closeRequested_;
}

std::uint64_t WindowModel::ChangeSequence() const {
    std::lock_guard lock(mutex_);
    return sequence_;
}

void WindowModel::On(ControlId id, Event event, Handler handler) {
    std::shared_ptr<const Handler> stored;
    if (handler) stored = std::make_shared<const Handler>(std::move(handler));
    std::lock_guard lock(mutex_);
    handlers_[IndexOf(id)][static_cast<std::size_t>(event)] = std::move(stored);
}

void WindowModel::Run(ControlId id, Event event) {
    std::shared_ptr<const Handler> handler;
    {
        std::lock_guard lock(mutex_);
        handler = handlers_[IndexOf(id)][static_cast<std::size_t>(event)];
    }
    if (handler) (*handler)();
}

bool WindowModel::OperatorClick(ControlId id) {
    const ControlKind kind = Spec(id).kind;
    bool checked;
    {
        std::lock_guard lock(mutex_);
        if (!ShowingLocked(id) || !EnabledLocked(id)) return false;
        checked = slots_[IndexOf(id)].state.checked;
    }
    if (kind == ControlKind::CheckBox) {
        SetChecked(id, !checked);
    } else if (kind == ControlKind::RadioButton && !checked) {
        SetChecked(id, true);  // runs Click itself
        return true;
    }
    Run(id, Event::Click);
    return true;
}

void WindowModel::WindowClosed() { Run(ControlId::TForm1, Event::Closed); }

void WindowModel::SetFileChooser(FileChooser chooser) {
    std::shared_ptr<const FileChooser> stored;
    if (chooser) stored = std::make_shared<const FileChooser>(std::move(chooser));
    std::lock_guard lock(mutex_);
    chooser_ = std::move(stored);
}

std::optional<std::string> WindowModel::ExecuteOpenDialog(std::string_view initialFolder) {
    std::shared_ptr<const FileChooser> chooser;
    {
        std::lock_guard lock(mutex_);
        chooser = chooser_;
    }
    if (!chooser) return std::nullopt;
    std::optional<std::string> chosen =
        (*chooser)(FileRequest{Spec(ControlId::OpenDialog1).caption, kOpenDialogFilter, initialFolder});
    if (chosen) {
        std::lock_guard lock(mutex_);
        openDialogFileName_ = *chosen;
    }
    return chosen;
}

std::string WindowModel::OpenDialogFileName() const {
    std::lock_guard lock(mutex_);
    return openDialogFileName_;
}

void WindowModel::SetChangeListener(ChangeListener listener) {
    std::lock_guard lock(listenerMutex_);
    listener_ = std::move(listener);
}

void WindowModel::Notify(bool urgent) {
    std::lock_guard lock(listenerMutex_);
    if (listener_) listener_(urgent);
}

void WindowModel::TakeHeardLocked(Clock::time_point now, Changes& out) {
    std::optional<Clock::time_point> next = announcements_.NextDue();
    out.announcement = announcements_.Take(now);
    if (out.announcement) next = announcements_.NextDue();
    for (ControlId id : PacedControls()) {
        Heard& heard = heard_[IndexOf(id)];
        const ControlState& shown = slots_[IndexOf(id)].state;
        if (HeardAlike(id, heard.state, shown)) continue;
        if (heard.at && now < *heard.at + kHeardPace) {
            if (!next || *heard.at + kHeardPace < *next) next = *heard.at + kHeardPace;
            continue;
        }
        heard = Heard{AsHeard(id, shown), now};
        out.heard.push_back({id, heard.state});
    }
    if (next) out.again = std::max(*next - now, Clock::duration::zero());
}

Changes WindowModel::TakeChanges(Clock::time_point now) {
    Changes out;
    std::lock_guard lock(mutex_);
    std::sort(dirty_.begin(), dirty_.end(), [this](ControlId a, ControlId b) {
        return slots_[IndexOf(a)].changedAt < slots_[IndexOf(b)].changedAt;
    });
    out.controls.reserve(dirty_.size());
    for (ControlId id : dirty_) {
        Slot& slot = slots_[IndexOf(id)];
        slot.dirty = false;
        out.controls.push_back({id, slot.state});
    }
    dirty_.clear();
    out.focus = std::exchange(focusPending_, std::nullopt);
    // A handler's own request wins over the screen's first safe control.
    const Presence presence{[this](ControlId c) { return ShowingLocked(c); },
                            [this](ControlId c) { return EnabledLocked(c); },
                            [this](ControlId c) { return slots_[IndexOf(c)].state.caption; }};
    const ScreenFocus screen = FirstSafeFocus(presence);
    if (screen != screenFocus_) {
        screenFocus_ = screen;
        if (!out.focus) out.focus = screen.control;
    }
    out.close = std::exchange(closePending_, false);
    TakeHeardLocked(now, out);
    out.sequence = sequence_;
    wakeSent_ = false;
    return out;
}

WindowModel& Form() {
    static WindowModel form;
    static WindowFrontEnd frontEnd(form);
    [[maybe_unused]] static const bool attached = (SetFrontEnd(frontEnd, frontEnd), true);
    return form;
}

}  // namespace tamro::ui
