// TForm1 drawn with native Win32 controls from the window model. Like the Qt
// view it only mirrors the model: workers never touch a window, their
// changes are posted to the window's thread, and the operator's clicks and
// keys go to the model, which runs the handlers.
#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "ui/keyboard.h"
#include "ui/win32/accessible_control.h"
#include "ui/window_model.h"

namespace tamro::ui::win32 {

// Called with the text of an exception that escaped a window procedure; it
// shows the text and ends the program (the start-up decides how).
using FailureHandler = void (*)(const char* what);
void SetFailureHandler(FailureHandler handler);

class FormWindow {
public:
    explicit FormWindow(WindowModel& model = Form());
    ~FormWindow();
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    // The top-level window (TForm1); null once it has been destroyed.
    HWND Handle() const { return windows_[0]; }
    // The window of a control; null for controls not drawn (OpenDialog1).
    HWND Control(ControlId id) const { return windows_[IndexOf(id)]; }
    // The control a window belongs to, if any.
    std::optional<ControlId> ControlOf(HWND window) const;

    // Shows the window at the top-left corner of the screen.
    void Show();

    // Applies every pending change of the model now (window thread only).
    void Flush();

    // One message of the loop: the window's keyboard rules (Tab order, Enter
    // on a button), then the usual translation and dispatch.
    void Process(MSG& message);

    // Runs the message loop until the window has been destroyed.
    void RunMessageLoop();

private:
    // The one procedure of the window and of its panels.
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT OnMessage(HWND window, UINT message, WPARAM w, LPARAM l);

    void Build();
    HWND Create(const ControlSpec& spec, HWND parent);
    void Apply(ControlId id, const ControlState& state, bool force);
    void Hear(const ControlUpdate& update);
    void Announce(const std::string& text);
    void ApplyEnabling();
    void Name(ControlId id, bool announce);
    void OperatorInput(ControlId id);
    void OnModelChanged(bool urgent);  // any thread
    void FlushAt(bool paintNow);
    HFONT FontFor(const FontSpec& font);
    Rgb BackgroundOf(ControlId id) const;
    HBRUSH BrushFor(Rgb color);
    LRESULT ControlColors(HDC dc, HWND control);
    void PaintPanel(HWND window);
    Presence OnScreen() const;  // what the keyboard rules see
    bool Focusable(ControlId id) const;
    bool MoveFocus(bool backwards);
    std::optional<std::string> ChooseFile(const FileRequest& request);

    WindowModel& model_;
    std::array<HWND, kControlCount> windows_{};
    // The group box's frame and caption, drawn inside GroupBox1's own panel
    // so that what the group holds reports to this view.
    HWND groupFrame_ = nullptr;
    std::array<ControlState, kControlCount> shown_;
    std::array<ControlState, kControlCount> heard_;  // the paced controls as listeners know them
    // What assistive technology reads on each control; the windows ask for
    // it, so it lives as long as they do.
    std::array<AccessibleTexts, kControlCount> accessible_;
    // The model's announcements, told as alerts by a window that is never shown.
    HWND announcer_ = nullptr;
    AccessibleTexts announced_;
    std::array<bool, kControlCount> enabledOnScreen_{};
    struct Font {
        FontSpec key;
        HFONT font = nullptr;
    };
    std::array<Font, 8> fonts_{};
    struct ColorBrush {
        Rgb color;
        HBRUSH brush;
    };
    std::array<ColorBrush, 8> brushes_{};
    std::size_t brushCount_ = 0;
    std::atomic<bool> wakePosted_{false};
    std::atomic<HWND> postTarget_{nullptr};  // the window, for workers' wakes
    DWORD threadId_ = 0;
    ULONGLONG lastFlush_ = 0;
    bool flushing_ = false;
    bool timerSet_ = false;
};

// Image1's picture drawn at its own size (105 x 52) into the device context.
void DrawEmblem(HDC dc);

}  // namespace tamro::ui::win32
