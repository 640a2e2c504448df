#include "ui/win32/form_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <oleacc.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <string>

#include "ui/accessible_names.h"
#include "ui/keyboard.h"

namespace tamro::ui::win32 {

namespace {

constexpr char kFormClass[] = "TAMRO_Form";
constexpr char kPanelClass[] = "TAMRO_Panel";
// A worker's changes, and the file dialog asked for from another thread.
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT kChooseMessage = WM_APP + 2;
constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT_PTR kHeardTimer = 3;  // for what the model holds back for listeners
// A frame every 16 ms at most, so a busy worker never floods the window.
constexpr ULONGLONG kFrameMs = 16;
// Child window identifiers: the control's index after this offset.
constexpr int kFirstId = 100;

FailureHandler failureHandler = nullptr;

void Fail(const char* what) {
    if (failureHandler != nullptr) {
        failureHandler(what);
    } else {
        MessageBoxA(nullptr, what, "TAMRO", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    }
}

COLORREF ToColorRef(Rgb c) { return RGB(c.r, c.g, c.b); }

// Captions are Latin-1, as the Qt view reads them.
std::wstring Widened(std::string_view text) {
    std::wstring wide;
    wide.reserve(text.size());
    for (char c : text) wide += static_cast<wchar_t>(static_cast<unsigned char>(c));
    return wide;
}

// Windows draws a box's focus rectangle around its text, and the slot rows'
// boxes and log buttons have none: a focused check box or radio button is
// ringed in a clear 2-pixel line instead, as the Qt view rings it.
constexpr UINT_PTR kFocusRingSubclass = 2;
constexpr COLORREF kFocusRingColor = RGB(0, 84, 200);

void DrawFocusRing(HWND control) {
    if (GetFocus() != control) return;
    HDC dc = GetDC(control);
    RECT area;
    GetClientRect(control, &area);
    HPEN pen = CreatePen(PS_INSIDEFRAME, 2, kFocusRingColor);
    HGDIOBJ previousPen = SelectObject(dc, pen);
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, area.left, area.top, area.right, area.bottom);
    SelectObject(dc, previousBrush);
    SelectObject(dc, previousPen);
    DeleteObject(pen);
    ReleaseDC(control, dc);
}

LRESULT CALLBACK FocusRingProc(HWND control, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR) {
    switch (message) {
        case WM_SETFOCUS:
        case WM_KILLFOCUS: {
            const LRESULT result = DefSubclassProc(control, message, w, l);
            InvalidateRect(control, nullptr, TRUE);  // draws or wipes the ring
            return result;
        }
        // The control paints itself outside WM_PAINT too, over the ring.
        case WM_PAINT:
        case BM_SETCHECK:
        case BM_SETSTATE:
        case WM_UPDATEUISTATE:
        case WM_ENABLE:
        case WM_LBUTTONUP:
        case WM_KEYUP: {
            const LRESULT result = DefSubclassProc(control, message, w, l);
            DrawFocusRing(control);
            return result;
        }
        case WM_NCDESTROY:
            RemoveWindowSubclass(control, &FocusRingProc, kFocusRingSubclass);
            break;
        default:
            break;
    }
    return DefSubclassProc(control, message, w, l);
}

bool IsButtonKind(ControlKind kind) {
    return kind == ControlKind::Button || kind == ControlKind::CheckBox || kind == ControlKind::RadioButton;
}

// Label styles: alignment, and single lines centred vertically as the Qt
// view shows them.
DWORD LabelStyle(const ControlSpec& spec) {
    DWORD style = SS_NOPREFIX;
    switch (spec.align) {
        case Align::Left: style |= spec.wordWrap ? SS_LEFT : SS_LEFTNOWORDWRAP; break;
        case Align::Center: style |= SS_CENTER; break;
        case Align::Right: style |= SS_RIGHT; break;
    }
    if (!spec.wordWrap) style |= SS_CENTERIMAGE;
    if (spec.edge != Edge::None) style |= SS_SUNKEN;
    return style;
}

void RegisterClasses(HINSTANCE instance, WNDPROC procedure) {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA form{};
    form.lpfnWndProc = procedure;
    form.hInstance = instance;
    form.hCursor = LoadCursor(nullptr, IDC_ARROW);
    form.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    form.lpszClassName = kFormClass;
    WNDCLASSA panel = form;
    panel.hIcon = nullptr;
    panel.lpszClassName = kPanelClass;
    if (RegisterClassA(&form) == 0 || RegisterClassA(&panel) == 0) throw std::runtime_error("RegisterClass failed");
    registered = true;
}

struct ChooseJob {
    const FileRequest* request;
    std::optional<std::string> result;
};

}  // namespace

void SetFailureHandler(FailureHandler handler) { failureHandler = handler; }

FormWindow::FormWindow(WindowModel& model) : model_(model), threadId_(GetCurrentThreadId()) {
    INITCOMMONCONTROLSEX common{sizeof common, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&common);
    RegisterClasses(GetModuleHandleA(nullptr), &WindowProc);

    // Listen first, then read everything: a change made in between is both
    // in the full read and pending, and applying it twice is harmless.
    model_.SetChangeListener([this](bool urgent) { OnModelChanged(urgent); });
    model_.TakeChanges();
    Build();
    model_.SetFileChooser([this](const FileRequest& request) { return ChooseFile(request); });
}

FormWindow::~FormWindow() {
    model_.SetFileChooser(nullptr);
    model_.SetChangeListener(nullptr);  // waits for a worker's wake in flight
    if (Handle() != nullptr) DestroyWindow(Handle());
    for (const auto& font : fonts_)
        if (font.font != nullptr) DeleteObject(font.font);
    for (std::size_t i = 0; i < brushCount_; ++i) DeleteObject(brushes_[i].brush);
}

std::optional<ControlId> FormWindow::ControlOf(HWND window) const {
    if (window == nullptr) return std::nullopt;
    if (window == Handle()) return ControlId::TForm1;
    if (window == groupFrame_) return ControlId::GroupBox1;
    const int index = GetDlgCtrlID(window) - kFirstId;
    if (index <= 0 || index >= static_cast<int>(kControlCount)) return std::nullopt;
    if (windows_[static_cast<std::size_t>(index)] != window) return std::nullopt;
    return ControlAt(static_cast<std::size_t>(index));
}

void FormWindow::Build() {
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, style, FALSE, 0);
    HWND form = CreateWindowExA(0, kFormClass, "", style, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                                nullptr, nullptr, GetModuleHandleA(nullptr), this);
    if (form == nullptr) throw std::runtime_error("The window cannot be created.");
    windows_[0] = form;
    MakeAccessible(form, &accessible_[0]);
    postTarget_.store(form);
    SendMessageA(form, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor({})), FALSE);

    // The table lists every container before what it holds.
    for (std::size_t i = 1; i < kControlCount; ++i) {
        const ControlSpec& spec = Spec(ControlAt(i));
        HWND parent = windows_[IndexOf(spec.parent)];
        windows_[i] = spec.kind == ControlKind::FileDialog ? nullptr : Create(spec, parent);
    }

    announced_.role = ROLE_SYSTEM_ALERT;
    announcer_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | SS_NOPREFIX, 0, 0, 0, 0, form, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
    if (announcer_ == nullptr) throw std::runtime_error("The window cannot be created.");
    MakeAccessible(announcer_, &announced_);
    AccessibleTexts& line = accessible_[IndexOf(kStatusLine)];
    line.role = ROLE_SYSTEM_TEXT;
    line.addedStates = STATE_SYSTEM_READONLY | STATE_SYSTEM_FOCUSABLE;

    const auto states = model_.AllStates();
    heard_ = states;
    for (std::size_t i = 0; i < kControlCount; ++i) Apply(ControlAt(i), states[i], true);
    enabledOnScreen_.fill(true);  // as every window is created
    ApplyEnabling();
}

HWND FormWindow::Create(const ControlSpec& spec, HWND parent) {
    const char* windowClass = kPanelClass;
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
    switch (spec.kind) {
        case ControlKind::Form:
        case ControlKind::FileDialog:
            return nullptr;
        case ControlKind::Panel:
        case ControlKind::Header:
        case ControlKind::Bevel:
        case ControlKind::Image:
            style |= WS_CLIPCHILDREN;
            break;
        case ControlKind::GroupBox:
            break;  // the frame inside is transparent: the panel paints under it
        case ControlKind::Label:
            windowClass = "STATIC";
            style |= LabelStyle(spec);
            break;
        case ControlKind::Button:
            windowClass = "BUTTON";
            style |= BS_PUSHBUTTON | WS_TABSTOP;
            break;
        case ControlKind::CheckBox:
            // Not an automatic box: the model decides the checked state.
            windowClass = "BUTTON";
            style |= BS_CHECKBOX | WS_TABSTOP;
            break;
        case ControlKind::RadioButton:
            windowClass = "BUTTON";
            style |= BS_RADIOBUTTON | WS_TABSTOP;
            break;
        case ControlKind::ProgressBar:
            windowClass = PROGRESS_CLASSA;
            break;
    }
    const std::string name(ControlName(spec.id));
    HWND window = CreateWindowExA(0, windowClass, "", style, spec.bounds.x, spec.bounds.y, spec.bounds.width,
                                  spec.bounds.height, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + IndexOf(spec.id))),
                                  GetModuleHandleA(nullptr), this);
    if (window == nullptr) throw std::runtime_error("The control " + name + " cannot be created.");
    MakeAccessible(window, &accessible_[IndexOf(spec.id)]);
    if (spec.kind == ControlKind::CheckBox || spec.kind == ControlKind::RadioButton || spec.id == kStatusLine)
        SetWindowSubclass(window, &FocusRingProc, kFocusRingSubclass, 0);
    // A later sibling lies over an earlier one, as the description has it.
    SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SendMessageA(window, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(spec.font)), FALSE);
    if (spec.kind == ControlKind::GroupBox) {
        groupFrame_ = CreateWindowExA(0, "BUTTON", "", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | BS_GROUPBOX, 0, 0,
                                      spec.bounds.width,
                                      spec.bounds.height, window, nullptr, GetModuleHandleA(nullptr), nullptr);
        if (groupFrame_ == nullptr) throw std::runtime_error("The control " + name + " cannot be created.");
        SendMessageA(groupFrame_, WM_SETFONT, reinterpret_cast<WPARAM>(FontFor(spec.font)), FALSE);
    }
    return window;
}

void FormWindow::Apply(ControlId id, const ControlState& state, bool force) {
    const std::size_t i = IndexOf(id);
    ControlState& shown = shown_[i];
    HWND window = windows_[i];
    if (window == nullptr) {
        shown = state;
        return;
    }
    const ControlKind kind = Spec(id).kind;
    const bool captionChanged = force || shown.caption != state.caption;
    if (captionChanged) {
        SetWindowTextA(window, state.caption.c_str());
        if (kind == ControlKind::GroupBox) SetWindowTextA(groupFrame_, state.caption.c_str());
    }
    if (!force && shown.fontColor != state.fontColor) {
        InvalidateRect(window, nullptr, TRUE);
        if (kind == ControlKind::GroupBox) InvalidateRect(groupFrame_, nullptr, TRUE);
    }
    // The window itself is shown and closed by the program's start-up.
    if ((force || shown.visible != state.visible) && kind != ControlKind::Form)
        ShowWindow(window, state.visible ? SW_SHOWNA : SW_HIDE);
    if ((force || shown.checked != state.checked) &&
        (kind == ControlKind::CheckBox || kind == ControlKind::RadioButton))
        SendMessageA(window, BM_SETCHECK, state.checked ? BST_CHECKED : BST_UNCHECKED, 0);
    if (kind == ControlKind::ProgressBar &&
        (force || shown.position != state.position || shown.maximum != state.maximum)) {
        SendMessageA(window, PBM_SETRANGE32, 0, state.maximum);
        SendMessageA(window, PBM_SETPOS, static_cast<WPARAM>(state.position), 0);
    }
    shown = state;
    if (captionChanged) {
        Name(id, !force);
        for (ControlId named : NamedAfter(id)) Name(named, !force);
    }
}

void FormWindow::Name(ControlId id, bool announce) {
    HWND window = windows_[IndexOf(id)];
    if (window == nullptr) return;
    const CaptionOf captionOf = [this](ControlId c) {
        return IsPaced(c) ? heard_[IndexOf(c)].caption : shown_[IndexOf(c)].caption;
    };
    AccessibleTexts& texts = accessible_[IndexOf(id)];
    std::wstring description = Widened(AccessibleDescription(id, captionOf));
    if (description != texts.description) {
        texts.description = std::move(description);
        if (announce) NotifyWinEvent(EVENT_OBJECT_DESCRIPTIONCHANGE, window, OBJID_CLIENT, CHILDID_SELF);
    }
    std::wstring name = Widened(AccessibleName(id, captionOf));
    // The status line is unnamed read-only text: what it says is its value.
    std::wstring& said = id == kStatusLine ? texts.value : texts.name;
    if (name == said) return;
    said = std::move(name);
    // A reader that follows the control hears the new text.
    if (announce)
        NotifyWinEvent(id == kStatusLine ? EVENT_OBJECT_VALUECHANGE : EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT,
                       CHILDID_SELF);
}

// What listeners are told of a paced label; the bars are the system's own.
void FormWindow::Hear(const ControlUpdate& update) {
    heard_[IndexOf(update.id)] = update.state;
    Name(update.id, true);
    for (ControlId named : NamedAfter(update.id)) Name(named, true);
}

void FormWindow::Announce(const std::string& text) {
    announced_.name = Widened(text);
    NotifyWinEvent(EVENT_SYSTEM_ALERT, announcer_, OBJID_CLIENT, CHILDID_SELF);
}

// A disabled container disables what it holds, on the screen too.
void FormWindow::ApplyEnabling() {
    for (std::size_t i = 0; i < kControlCount; ++i) {
        if (windows_[i] == nullptr) continue;
        bool enabled = shown_[i].enabled;
        for (ControlId up = Spec(ControlAt(i)).parent; enabled && IndexOf(up) != i && up != ControlId::TForm1;
             up = Spec(up).parent)
            enabled = shown_[IndexOf(up)].enabled;
        if (i == 0) enabled = true;  // the window itself always takes input
        if (enabled == enabledOnScreen_[i]) continue;
        EnableWindow(windows_[i], enabled);
        enabledOnScreen_[i] = enabled;
    }
}

void FormWindow::Show() {
    // The top-left corner of the screen.
    SetWindowPos(Handle(), nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(Handle(), SW_SHOWNORMAL);
    UpdateWindow(Handle());
    if (!Focusable(ControlOf(GetFocus()).value_or(ControlId::TForm1))) SetFocus(Handle());
}

void FormWindow::OperatorInput(ControlId id) {
    model_.OperatorClick(id);
    // What the handler changed, and a box the model refused to toggle, are
    // shown before the next input.
    Flush();
}

void FormWindow::OnModelChanged(bool urgent) {
    if (GetCurrentThreadId() == threadId_) {
        // A handler or a scan on the window's own thread: the loop may not
        // run until it ends, so a repaint request paints right here.
        if (urgent && !flushing_) {
            FlushAt(true);
            return;
        }
    }
    if (!wakePosted_.exchange(true)) PostMessageA(postTarget_.load(), kWakeMessage, 0, 0);
}

void FormWindow::Flush() { FlushAt(false); }

void FormWindow::FlushAt(bool paintNow) {
    if (flushing_ || Handle() == nullptr) return;
    flushing_ = true;
    if (timerSet_) {
        KillTimer(Handle(), kFrameTimer);
        timerSet_ = false;
    }
    const Changes changes = model_.TakeChanges();
    lastFlush_ = GetTickCount64();
    HWND focusedBefore = GetFocus();
    bool enabling = false;
    for (const ControlUpdate& update : changes.controls) {
        enabling = enabling || shown_[IndexOf(update.id)].enabled != update.state.enabled;
        Apply(update.id, update.state, false);
    }
    if (enabling) ApplyEnabling();
    if (paintNow) RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (changes.focus) {
        if (const auto target = FocusTarget(*changes.focus, ControlOf(GetFocus()), OnScreen()))
            SetFocus(Control(*target));
    }
    // Keys must keep reaching the window when the focused control went away;
    // a focus elsewhere (a dialog, another program) is left alone.
    if (!changes.focus && focusedBefore != Handle() && ControlOf(focusedBefore) &&
        (!IsWindowVisible(focusedBefore) || !IsWindowEnabled(focusedBefore)))
        SetFocus(Handle());
    // Listeners last: what they are told follows what the focus said.
    for (const ControlUpdate& update : changes.heard) Hear(update);
    if (changes.announcement) Announce(*changes.announcement);
    if (changes.again) {
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*changes.again).count();
        SetTimer(Handle(), kHeardTimer, static_cast<UINT>(std::min<long long>(ms, 60000)), nullptr);
    }
    if (changes.close) PostMessageA(Handle(), WM_CLOSE, 0, 0);
    flushing_ = false;
}

Presence FormWindow::OnScreen() const {
    return {[this](ControlId id) { return id == ControlId::TForm1 || IsWindowVisible(Control(id)) != FALSE; },
            [this](ControlId id) { return id == ControlId::TForm1 || IsWindowEnabled(Control(id)) != FALSE; },
            [this](ControlId id) { return shown_[IndexOf(id)].caption; }};
}

bool FormWindow::Focusable(ControlId id) const { return Control(id) != nullptr && IsTabStop(id, OnScreen()); }

// Tab and Shift+Tab follow the model's Tab order.
bool FormWindow::MoveFocus(bool backwards) {
    const auto target = NextTabStop(ControlOf(GetFocus()), backwards, OnScreen());
    if (target) SetFocus(Control(*target));
    return target.has_value();
}

void FormWindow::Process(MSG& message) {
    if (message.message == WM_KEYDOWN && Handle() != nullptr &&
        (message.hwnd == Handle() || IsChild(Handle(), message.hwnd))) {
        // Keys never reach what an open question covers: the focus goes back
        // to the question, and the key goes nowhere.
        if (const auto focused = ControlOf(message.hwnd);
            focused && *focused != ControlId::TForm1 && !KeysReach(*focused, OnScreen())) {
            SetFocus(Control(FirstSafeFocus(OnScreen()).control));
            return;
        }
        if (message.wParam == VK_TAB) {
            MoveFocus(GetKeyState(VK_SHIFT) < 0);
            return;
        }
        // Enter presses a focused button, as Space (the button's own key)
        // does; Escape answers the write question.
        const auto focused = ControlOf(message.hwnd);
        if (message.wParam == VK_RETURN && focused && EnterPresses(*focused)) {
            SendMessageA(message.hwnd, BM_CLICK, 0, 0);
            return;
        }
        if (message.wParam == VK_ESCAPE) {
            if (const auto target = EscapeTarget(OnScreen())) SendMessageA(Control(*target), BM_CLICK, 0, 0);
            return;
        }
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

void FormWindow::RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) Process(message);
}

HFONT FormWindow::FontFor(const FontSpec& font) {
    const int size = font.pixelSize != 0 ? font.pixelSize : kDefaultFontPixelSize;
    // The description uses few fonts: the window's own and a handful more.
    for (auto& [key, handle] : fonts_) {
        if (handle == nullptr) {
            key = {size, font.bold, font.italic};
            handle = CreateFontA(-size, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, font.italic, FALSE, FALSE,
                                 ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                 DEFAULT_PITCH | FF_SWISS, std::string(kDefaultFontFamily).c_str());
            return handle;
        }
        if (key.pixelSize == size && key.bold == font.bold && key.italic == font.italic) return handle;
    }
    return fonts_[0].font;
}

Rgb FormWindow::BackgroundOf(ControlId id) const {
    for (;; id = Spec(id).parent) {
        if (Spec(id).color) return *Spec(id).color;
        if (id == ControlId::TForm1) return colors::kFace;
    }
}

HBRUSH FormWindow::BrushFor(Rgb color) {
    for (std::size_t i = 0; i < brushCount_; ++i)
        if (brushes_[i].color == color) return brushes_[i].brush;
    HBRUSH brush = CreateSolidBrush(ToColorRef(color));
    if (brushCount_ < brushes_.size()) brushes_[brushCount_++] = {color, brush};
    return brush;
}

// Text in the control's own colour over the background it sits on: the
// green, red, maroon and navy that carry meaning.
LRESULT FormWindow::ControlColors(HDC dc, HWND control) {
    const auto id = ControlOf(control);
    if (!id) return reinterpret_cast<LRESULT>(BrushFor(colors::kFace));
    const Rgb background = BackgroundOf(*id);
    SetTextColor(dc, ToColorRef(shown_[IndexOf(*id)].fontColor));
    SetBkColor(dc, ToColorRef(background));
    return reinterpret_cast<LRESULT>(BrushFor(background));
}

void FormWindow::PaintPanel(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT area;
    GetClientRect(window, &area);
    const auto id = ControlOf(window);
    const ControlSpec& spec = Spec(id.value_or(ControlId::TForm1));
    FillRect(dc, &area, BrushFor(BackgroundOf(spec.id)));
    if (spec.kind == ControlKind::Image) {
        HDC picture = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, kImagePictureWidth, kImagePictureHeight);
        HGDIOBJ previous = SelectObject(picture, bitmap);
        DrawEmblem(picture);
        SetStretchBltMode(dc, HALFTONE);
        StretchBlt(dc, 0, 0, area.right, area.bottom, picture, 0, 0, kImagePictureWidth, kImagePictureHeight,
                   SRCCOPY);
        SelectObject(picture, previous);
        DeleteObject(bitmap);
        DeleteDC(picture);
    } else if (spec.kind == ControlKind::Header) {
        DrawEdge(dc, &area, EDGE_RAISED, BF_RECT);
    } else if (spec.edge != Edge::None) {
        DrawEdge(dc, &area, spec.edge == Edge::Raised ? EDGE_RAISED : EDGE_SUNKEN, BF_RECT);
    }
    EndPaint(window, &paint);
}

LRESULT FormWindow::OnMessage(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_COMMAND:
            if (HIWORD(w) == BN_CLICKED) {
                if (const auto id = ControlOf(reinterpret_cast<HWND>(l)); id && IsButtonKind(Spec(*id).kind)) {
                    OperatorInput(*id);
                    return 0;
                }
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            return ControlColors(reinterpret_cast<HDC>(w), reinterpret_cast<HWND>(l));
        case WM_ERASEBKGND:
            if (window == Handle()) {
                RECT area;
                GetClientRect(window, &area);
                FillRect(reinterpret_cast<HDC>(w), &area, BrushFor(BackgroundOf(ControlId::TForm1)));
            }
            return 1;  // panels fill themselves in WM_PAINT
        case WM_PAINT:
            if (window == Handle()) break;
            PaintPanel(window);
            return 0;
        default:
            break;
    }
    if (window != Handle()) return DefWindowProcA(window, message, w, l);
    switch (message) {
        case kWakeMessage: {
            wakePosted_.store(false);
            const ULONGLONG since = GetTickCount64() - lastFlush_;
            if (since >= kFrameMs) {
                Flush();
            } else if (!timerSet_) {
                SetTimer(window, kFrameTimer, static_cast<UINT>(kFrameMs - since), nullptr);
                timerSet_ = true;
            }
            return 0;
        }
        case WM_TIMER:
            if (w == kHeardTimer) KillTimer(window, kHeardTimer);
            if (w == kFrameTimer || w == kHeardTimer) Flush();
            return 0;
        case kChooseMessage: {
            auto* job = reinterpret_cast<ChooseJob*>(l);
            job->result = ChooseFile(*job->request);
            return 0;
        }
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            model_.WindowClosed();
            PostQuitMessage(0);
            return 0;
        case WM_NCDESTROY:
            windows_.fill(nullptr);
            groupFrame_ = nullptr;
            postTarget_.store(nullptr);
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, w, l);
}

LRESULT CALLBACK FormWindow::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(l);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcA(window, message, w, l);
    // An exception cannot travel through the system's code that called the
    // window procedure: it is shown here and the program ends.
    try {
        return self->OnMessage(window, message, w, l);
    } catch (const std::exception& e) {
        Fail(e.what());
    } catch (...) {
        Fail("Unexpected failure.");
    }
    return 0;
}

std::optional<std::string> FormWindow::ChooseFile(const FileRequest& request) {
    if (GetCurrentThreadId() != threadId_) {
        ChooseJob job{&request, std::nullopt};
        SendMessageA(Handle(), kChooseMessage, 0, reinterpret_cast<LPARAM>(&job));
        return job.result;
    }
    // "desc|pattern|desc|pattern" as the dialog's list of NUL-separated pairs.
    std::string filter(request.filter);
    for (char& c : filter)
        if (c == '|') c = '\0';
    filter.push_back('\0');
    const std::string title(request.title);
    const std::string folder(request.initialFolder);
    char file[MAX_PATH] = "";
    OPENFILENAMEA dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = Handle();
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof file;
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    // No read-only box, resizable, a typed name need not exist, and the
    // working folder (where the logs go) stays as it is.
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
    if (!GetOpenFileNameA(&dialog)) return std::nullopt;
    return std::string(file);
}

void DrawEmblem(HDC dc) {
    auto brush = [](int r, int g, int b) { return CreateSolidBrush(RGB(r, g, b)); };
    // Navy sky, darker towards the bottom.
    for (int y = 0; y < kImagePictureHeight; ++y) {
        RECT row{0, y, kImagePictureWidth, y + 1};
        HBRUSH b = brush(0, 32 * y / kImagePictureHeight, 128 - 56 * y / kImagePictureHeight);
        FillRect(dc, &row, b);
        DeleteObject(b);
    }
    // A drive seen from above: casing, platter, spindle and actuator arm.
    HPEN outline = CreatePen(PS_SOLID, 1, RGB(60, 60, 60));
    HGDIOBJ oldPen = SelectObject(dc, outline);
    HBRUSH casing = brush(150, 150, 155), platter = brush(205, 208, 220), spindle = brush(90, 90, 95),
           pivot = brush(40, 40, 40);
    HGDIOBJ oldBrush = SelectObject(dc, casing);
    RoundRect(dc, 4, 4, 48, 48, 8, 8);
    SelectObject(dc, platter);
    Ellipse(dc, 7, 7, 42, 42);
    SelectObject(dc, spindle);
    Ellipse(dc, 20, 20, 29, 29);
    HPEN arm = CreatePen(PS_SOLID, 3, RGB(40, 40, 40));
    SelectObject(dc, arm);
    MoveToEx(dc, 42, 42, nullptr);
    LineTo(dc, 30, 17);
    SelectObject(dc, pivot);
    Ellipse(dc, 39, 39, 46, 46);
    // A green trace for a drive that passed.
    HPEN trace = CreatePen(PS_SOLID, 2, RGB(0, 200, 0));
    SelectObject(dc, trace);
    const POINT line[] = {{54, 40}, {64, 40}, {68, 32}, {73, 46}, {78, 36}, {101, 36}};
    Polyline(dc, line, static_cast<int>(std::size(line)));
    HFONT font = CreateFontA(-13, 0, 0, 0, FW_BOLD, TRUE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, "Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT text{50, 4, 104, 26};
    DrawTextA(dc, "TAMRO", -1, &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    for (HGDIOBJ object : {static_cast<HGDIOBJ>(font), static_cast<HGDIOBJ>(trace), static_cast<HGDIOBJ>(arm),
                           static_cast<HGDIOBJ>(outline), static_cast<HGDIOBJ>(casing), static_cast<HGDIOBJ>(platter),
                           static_cast<HGDIOBJ>(spindle), static_cast<HGDIOBJ>(pivot)})
        DeleteObject(object);
}

}  // namespace tamro::ui::win32
