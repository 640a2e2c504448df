// The live state of TForm1's controls, shared by the window's thread and the
// workers. Every operation is thread-safe. A worker's change only updates
// the state and marks the control dirty; the view pulls the dirty controls
// when it is woken, so a worker that changes a label a hundred thousand
// times a second neither waits for the window nor floods it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/announcements.h"
#include "ui/controls.h"
#include "ui/keyboard.h"

namespace tamro::ui {

// What a control shows now. The visible and enabled flags are the control's
// own; what a hidden or disabled container does to them is IsShowing and
// IsEffectivelyEnabled.
struct ControlState {
    std::string caption;
    Rgb fontColor;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
    int position = 0;
    int maximum = 0;
    friend bool operator==(const ControlState&, const ControlState&) = default;
};

// Click: the operator clicked an enabled, showing control, or the program
// checked a radio button. Change: a check box's checked state changed, by
// the operator or by the program. Closed: the window closed (TForm1 only).
enum class Event : std::uint8_t { Click, Change, Closed };
inline constexpr std::size_t kEventCount = 3;

using Handler = std::function<void()>;

// The dialog's title and filter go to the chooser; it returns the chosen
// path, or nothing when the operator cancelled.
struct FileRequest {
    std::string_view title;
    std::string_view filter;
    std::string_view initialFolder;
};
using FileChooser = std::function<std::optional<std::string>(const FileRequest&)>;

// Dirty controls since the view's previous take, ordered by their latest
// change, with their state at the take.
struct ControlUpdate {
    ControlId id;
    ControlState state;
};
struct Changes {
    std::vector<ControlUpdate> controls;
    // The latest focus request or, when a screen has just appeared, its first
    // safe control; applied after the states (see FocusTarget).
    std::optional<ControlId> focus;
    bool close = false;
    std::uint64_t sequence = 0;      // ChangeSequence at the take

    // What assistive technology is told now, at a listener's pace: the
    // announcement due, and the paced controls as a listener hears them
    // (their captions; the bars' positions in whole percents).
    std::optional<std::string> announcement;
    std::vector<ControlUpdate> heard;
    // When to take again for what is still held back; none when nothing is.
    std::optional<Clock::duration> again;
};

// A paced control's new text or bar position reaches listeners at most this
// often; the latest one wins.
inline constexpr Clock::duration kHeardPace = std::chrono::seconds(2);

// Called on the thread that made a change: once when the first change after
// a take arrives (urgent = false), and on every repaint request while
// changes are pending (urgent = true).
using ChangeListener = std::function<void(bool urgent)>;

class WindowModel {
public:
    WindowModel();
    WindowModel(const WindowModel&) = delete;
    WindowModel& operator=(const WindowModel&) = delete;

    // Back to the design-time state of the window description. Handlers and
    // the listener stay registered; nothing runs.
    void Reset();

    // Writers. A value equal to the current one is no change.
    void SetCaption(ControlId id, std::string_view text);
    void SetCaption(ControlId id, std::string_view text, Rgb fontColor);
    void SetFontColor(ControlId id, Rgb fontColor);
    void SetVisible(ControlId id, bool visible);
    void Show(ControlId id) { SetVisible(id, true); }
    void Hide(ControlId id) { SetVisible(id, false); }
    void SetEnabled(ControlId id, bool enabled);
    void Enable(ControlId id) { SetEnabled(id, true); }
    void Disable(ControlId id) { SetEnabled(id, false); }

    // Check boxes run their Change handler on every change of state, also a
    // change made by a handler. Checking a radio button unchecks the other
    // radio buttons of its container and runs its Click handler; unchecking
    // one runs nothing. Ignored for other kinds.
    void SetChecked(ControlId id, bool checked);
    void Check(ControlId id) { SetChecked(id, true); }
    void Uncheck(ControlId id) { SetChecked(id, false); }

    // Progress bars only; clamped to 0..maximum as the bar itself does.
    void SetPosition(ControlId bar, int position);
    // The bar and the label beside it ("%3d" of position / 10) in one step.
    void SetProgress(ControlId bar, int position);

    // Asks the view to bring what is pending onto the screen now rather than
    // at its next frame. The whole window is repainted for TForm1.
    void Repaint(ControlId id = ControlId::TForm1);
    void Focus(ControlId id);
    void Close();

    // Something to tell a listener; the view takes it when it is due.
    void Announce(Announcement announcement);

    // Readers.
    ControlState State(ControlId id) const;
    std::array<ControlState, kControlCount> AllStates() const;
    std::string Caption(ControlId id) const;
    Rgb FontColor(ControlId id) const;
    bool IsVisible(ControlId id) const;             // own flag
    bool IsShowing(ControlId id) const;             // own flag and every container's
    bool IsEnabled(ControlId id) const;             // own flag
    bool IsEffectivelyEnabled(ControlId id) const;  // own flag and every container's
    bool IsChecked(ControlId id) const;
    int Position(ControlId bar) const;
    int Maximum(ControlId bar) const;
    std::optional<ControlId> FocusedControl() const;
    bool CloseRequested() const;
    std::uint64_t ChangeSequence() const;

    // Handlers run on the thread that caused the event, outside the model's
    // lock, so they may change the model again. Registering replaces the
    // previous handler; an empty one removes it.
    void On(ControlId id, Event event, Handler handler);
    void OnClick(ControlId id, Handler handler) { On(id, Event::Click, std::move(handler)); }
    void OnChange(ControlId id, Handler handler) { On(id, Event::Change, std::move(handler)); }

    // The operator's click as the view reports it. Refused (false) when the
    // control is not showing or not enabled here, whatever the screen shows.
    // A check box toggles, a radio button becomes checked, then Click runs.
    bool OperatorClick(ControlId id);
    // The window has closed, however that happened: runs TForm1's Closed.
    void WindowClosed();

    // OpenDialog1. Without a chooser every request counts as cancelled.
    void SetFileChooser(FileChooser chooser);
    // Shows the dialog; the chosen path also becomes the dialog's file name.
    std::optional<std::string> ExecuteOpenDialog(std::string_view initialFolder);
    std::string OpenDialogFileName() const;

    // The view's side.
    void SetChangeListener(ChangeListener listener);
    Changes TakeChanges() { return TakeChanges(Clock::now()); }
    Changes TakeChanges(Clock::time_point now);

private:
    struct Slot {
        ControlState state;
        std::uint64_t changedAt = 0;
        bool dirty = false;
    };

    // Applies change(state) under the lock; true from it means it changed
    // something, which is then marked and announced.
    template <class Change>
    bool Update(ControlId id, Change&& change);
    bool MarkChangedLocked(ControlId id);
    bool PendingLocked() const;
    bool ShowingLocked(ControlId id) const;
    bool EnabledLocked(ControlId id) const;
    void Notify(bool urgent);
    void Run(ControlId id, Event event);
    void TakeHeardLocked(Clock::time_point now, Changes& out);

    mutable std::mutex mutex_;
    std::array<Slot, kControlCount> slots_;
    std::vector<ControlId> dirty_;
    std::uint64_t sequence_ = 0;
    bool wakeSent_ = false;
    std::optional<ControlId> focus_;
    std::optional<ControlId> focusPending_;
    std::optional<ScreenFocus> screenFocus_;  // the screen of the previous take
    bool closeRequested_ = false;
    bool closePending_ = false;
    std::string openDialogFileName_;
    AnnouncementQueue announcements_;
    // What listeners last heard of each paced control, and when.
    struct Heard {
        ControlState state;
        std::optional<Clock::time_point> at;
    };
    std::array<Heard, kControlCount> heard_;
    std::array<std::array<std::shared_ptr<const Handler>, kEventCount>, kControlCount> handlers_;
    std::shared_ptr<const FileChooser> chooser_;

    // Held while the listener runs, so that removing it waits for a call in
    // flight (the view removes it before it goes away).
    std::mutex listenerMutex_;
    ChangeListener listener_;
};

// The one window's model, reachable from every thread.
WindowModel& Form();

}  // namespace tamro::ui
