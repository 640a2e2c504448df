// The operator's journeys through the Win32 window on the simulator's
// default bus, driven by window messages: clicks are BM_CLICK, keys are
// WM_KEYDOWN/WM_KEYUP through the window's own message loop.
#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

#include <fstream>
#include <memory>
#include <stdexcept>

#include "reports/drive_log.h"
#include "ui/win32/form_window.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

std::string failureShown;
void RecordFailure(const char* what) { failureShown = what; }

COLORREF ToColorRef(ui::Rgb c) { return RGB(c.r, c.g, c.b); }

class Win32Journey : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        window = std::make_unique<ui::win32::FormWindow>();  // installs the real file dialog
        window->Show();
    }
    void TearDown() override {
        window.reset();
        ui::win32::SetFailureHandler(nullptr);
        WindowTest::TearDown();
    }

    // Runs the window's messages until done, as the program's loop would.
    bool Pump(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
                if (message.message != WM_QUIT) window->Process(message);
            if (done()) return true;
            if (std::chrono::steady_clock::now() > end) return false;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        }
    }
    void Settle() {
        Pump([] { return true; });
        window->Flush();
    }

    void StartWindow() {
        ui::ConstructForm();
        ASSERT_TRUE(Pump([] { return Form().IsEnabled(ControlId::accept); }));
        Settle();
    }

    HWND Control(ControlId id) const { return window->Control(id); }
    bool Seen(ControlId id) const { return IsWindowVisible(Control(id)) != FALSE; }
    bool Usable(ControlId id) const { return Seen(id) && IsWindowEnabled(Control(id)); }
    bool Ticked(ControlId id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::string Text(ControlId id) const {
        char text[512];
        const int n = GetWindowTextA(Control(id), text, sizeof text);
        return std::string(text, static_cast<std::size_t>(n));
    }
    // The text colour the control is painted with.
    COLORREF Ink(ControlId id) const {
        HWND control = Control(id);
        HDC dc = GetDC(control);
        SendMessageA(GetParent(control), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                     reinterpret_cast<LPARAM>(control));
        const COLORREF ink = GetTextColor(dc);
        ReleaseDC(control, dc);
        return ink;
    }

    void Press(ControlId id) {
        Settle();
        ASSERT_TRUE(Usable(id)) << ui::ControlName(id) << " cannot be clicked";
        SendMessageA(Control(id), BM_CLICK, 0, 0);
        Settle();
    }
    void Key(WPARAM key) {
        HWND target = GetFocus();
        PostMessageA(target, WM_KEYDOWN, key, 1);
        PostMessageA(target, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
        Settle();
    }
    // Tabs until the control has the focus; false when it never gets it.
    bool TabTo(ControlId id) {
        for (int i = 0; i < static_cast<int>(ui::kControlCount); ++i) {
            if (GetFocus() == Control(id)) return true;
            Key(VK_TAB);
        }
        return false;
    }

    std::unique_ptr<ui::win32::FormWindow> window;
};

TEST_F(Win32Journey, TheWindowAsTheDescriptionHasIt) {
    HWND form = window->Handle();
    RECT client, frame;
    GetClientRect(form, &client);
    GetWindowRect(form, &frame);
    EXPECT_EQ(client.right, 620);
    EXPECT_EQ(client.bottom, 409);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.top, 0);
    const LONG style = GetWindowLongA(form, GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    for (std::size_t i = 1; i < ui::kControlCount; ++i) {
        const ControlId id = ui::ControlAt(i);
        if (id != ControlId::OpenDialog1) {
            EXPECT_NE(Control(id), nullptr) << ui::ControlName(id);
        }
    }
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HFONT>(SendMessageA(Control(ControlId::Label2), WM_GETFONT, 0, 0)), sizeof font,
               &font);
    EXPECT_STREQ(font.lfFaceName, "Arial");

    StartWindow();
    char caption[32];
    GetWindowTextA(form, caption, sizeof caption);
    EXPECT_STREQ(caption, "TAMRO");
    EXPECT_TRUE(Seen(ControlId::disclaimer));
    EXPECT_FALSE(Seen(ControlId::ALARM));
    EXPECT_EQ(Text(ControlId::titlename), "TAMRO (Halcyon SCSI Diagnostic Tool)  Version 1.4");
    EXPECT_EQ(Ink(ControlId::titlename), ToColorRef(ui::colors::kGreen));
    EXPECT_EQ(Ink(ControlId::Label1), ToColorRef(ui::colors::kMaroon));
    EXPECT_EQ(Ink(ControlId::GroupBox1), ToColorRef(ui::colors::kRed));
    EXPECT_TRUE(Usable(ControlId::accept));
    EXPECT_FALSE(Seen(ControlId::EXIT));
}

TEST_F(Win32Journey, QuickRunByKeyboardVerdictsLogsAndTheViewer) {
    StartWindow();
    ASSERT_TRUE(TabTo(ControlId::accept));
    Key(VK_RETURN);
    EXPECT_TRUE(Seen(ControlId::connect));
    EXPECT_FALSE(Seen(ControlId::disclaimer));
    EXPECT_EQ(Ink(ControlId::StdTest), ToColorRef(ui::colors::kGreen));

    ASSERT_TRUE(TabTo(ControlId::SmtTest));
    Key(VK_SPACE);
    EXPECT_TRUE(Ticked(ControlId::SmtTest));
    EXPECT_FALSE(Ticked(ControlId::StdTest));
    EXPECT_EQ(Ink(ControlId::SmtTest), ToColorRef(ui::colors::kGreen));
    EXPECT_EQ(Ink(ControlId::StdTest), ToColorRef(ui::colors::kBlack));
    std::vector<int> ticked;
    for (int n = 0; n < kSlotCount; ++n)
        if (Ticked(kSelect[n])) ticked.push_back(n);
    ASSERT_GE(ticked.size(), 3u);

    ASSERT_TRUE(TabTo(ControlId::Button4));
    Key(VK_RETURN);
    EXPECT_TRUE(Seen(ControlId::EXIT));
    EXPECT_FALSE(Usable(ControlId::SmtTest));  // greyed with the settings
    ASSERT_TRUE(Pump(RunEnded));
    Settle();
    EXPECT_TRUE(Usable(ControlId::TEST));
    EXPECT_EQ(Text(ControlId::DCONF), "<< The above indicated drives analysis was finished.>>");
    EXPECT_EQ(SendMessageA(Control(ControlId::PBar), PBM_GETPOS, 0, 0), 1000);

    for (int n : ticked) {
        EXPECT_TRUE(Usable(kLogButton[n]));
        const std::string verdict = Text(kJudge[n]);
        const ui::Rgb ink = verdict.find("PASS") != std::string::npos   ? ui::colors::kGreen
                            : verdict.find("FAIL") != std::string::npos ? ui::colors::kRed
                                                                        : ui::Form().FontColor(kJudge[n]);
        EXPECT_EQ(Ink(kJudge[n]), ToColorRef(ink)) << verdict;
        EXPECT_TRUE(verdict.find("PASS") != std::string::npos || verdict.find("FAIL") != std::string::npos ||
                    verdict.find("NO Judge") != std::string::npos)
            << verdict;
        const std::string log = LogFileName(DriveTable[static_cast<std::size_t>(n)].serialNumber);
        std::ifstream in(log, std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_NE(text.find("\r\n"), std::string::npos) << log;
        EXPECT_EQ(text.find("\r\r"), std::string::npos) << log;  // written in binary, CR LF as is
    }

    Press(kLogButton[ticked[0]]);
    const auto opened = viewer.Take();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], LogFileName(DriveTable[static_cast<std::size_t>(ticked[0])].serialNumber));
    EXPECT_FALSE(Ticked(kLogButton[ticked[0]]));

    Press(ControlId::EXIT);
    EXPECT_TRUE(Pump([this] { return window->Handle() == nullptr; }));
}

// The common file dialog, answered from a timer while it runs modally.
class FileDialogAnswer {
public:
    static void Arm(std::optional<std::string> path) {
        answer = std::move(path);
        title.clear();
        firstFilter.clear();
        SetTimer(nullptr, 0, 50, &Tick);
    }
    static inline std::optional<std::string> answer;
    static inline std::string title, firstFilter;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR timer, DWORD) {
        HWND dialog = FindWindowA("#32770", "FileOpen");
        if (dialog == nullptr) return;
        KillTimer(nullptr, timer);
        char text[MAX_PATH] = "";
        GetWindowTextA(dialog, text, sizeof text);
        title = text;
        HWND filters = GetDlgItem(dialog, 0x470);  // the file-type list
        if (SendMessageA(filters, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text)) != CB_ERR) firstFilter = text;
        if (answer) {
            SetDlgItemTextA(dialog, 0x47C, answer->c_str());  // the file name box
            PostMessageA(dialog, WM_COMMAND, IDOK, 0);
        } else {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    }
};

TEST_F(Win32Journey, FileOpenDialogOffersMicrocodeFilesFirst) {
    StartWindow();
    Press(ControlId::accept);
    FileDialogAnswer::Arm(std::nullopt);
    Press(ControlId::DL);
    EXPECT_EQ(FileDialogAnswer::title, "FileOpen");
    EXPECT_EQ(FileDialogAnswer::firstFilter, "*.frm");
    EXPECT_FALSE(Usable(ControlId::Button8));

    const std::string image = (folder_ / "fw.frm").string();
    std::ofstream(image, std::ios::binary) << std::string(70000, '\x33');
    FileDialogAnswer::Arm(image);
    Press(ControlId::DL);
    EXPECT_EQ(Form().OpenDialogFileName(), image);
    ASSERT_TRUE(Usable(ControlId::Button8));
    EXPECT_EQ(std::filesystem::current_path(), folder_);  // the logs' folder is kept
}

// The write question holds the keyboard as in the Qt view: Tab and
// Shift+Tab go round its buttons, and a key pressed on a box under it goes
// nowhere but back to the question.
TEST_F(Win32Journey, AnOpenQuestionHoldsTheKeyboard) {
    StartWindow();
    Press(ControlId::accept);
    Press(ControlId::WrtPermit);
    ASSERT_TRUE(Seen(ControlId::WtComfirm));
    ASSERT_EQ(GetFocus(), Control(ControlId::WtNG));
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Control(ControlId::WtOK));
    Key(VK_TAB);
    EXPECT_EQ(GetFocus(), Control(ControlId::WtNG));
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    Key(VK_TAB);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(GetFocus(), Control(ControlId::WtOK));

    ControlId box = kSelect[0];
    for (ControlId candidate : kSelect)
        if (Usable(candidate)) box = candidate;
    const bool ticked = Ticked(box);
    SetFocus(Control(box));
    Key(VK_SPACE);
    EXPECT_EQ(Ticked(box), ticked);
    EXPECT_EQ(GetFocus(), Control(ControlId::WtNG));
    Key(VK_ESCAPE);
    EXPECT_FALSE(Seen(ControlId::WtComfirm));
}

TEST_F(Win32Journey, AnExceptionInAHandlerIsShownAndEndsTheProgram) {
    ui::win32::SetFailureHandler(RecordFailure);
    failureShown.clear();
    StartWindow();
    Form().OnClick(ControlId::accept, [] { throw std::runtime_error("handler failed"); });
    Press(ControlId::accept);
    EXPECT_EQ(failureShown, "handler failed");
}

// What assistive technology reads through a control's client object: what a
// sighted user reads there; a screen's texts with its first control; never
// the control's name.
TEST_F(Win32Journey, AccessibleNamesAreWhatASightedUserReads) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const auto read = [this](ControlId id) {
        IAccessible* object = nullptr;
        EXPECT_EQ(AccessibleObjectFromWindow(Control(id), static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                             reinterpret_cast<void**>(&object)),
                  S_OK);
        std::pair<std::string, std::string> texts;
        if (object == nullptr) return texts;
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        for (auto [text, get] : {std::pair(&texts.first, &IAccessible::get_accName),
                                 std::pair(&texts.second, &IAccessible::get_accDescription)}) {
            BSTR answer = nullptr;
            if ((object->*get)(self, &answer) == S_OK && answer != nullptr)
                for (const wchar_t* c = answer; *c != 0; ++c) *text += static_cast<char>(*c);
            SysFreeString(answer);
        }
        object->Release();
        return texts;
    };
    using Texts = std::pair<std::string, std::string>;
    Form().SetCaption(ControlId::id2l, "HA#1/ID03  HALCYON  ST318405 0B05 #3EC0A1B2");
    Form().SetCaption(ControlId::J2, "PASS");
    Settle();
    EXPECT_EQ(read(ControlId::Button4), Texts("RUN.", ""));
    EXPECT_EQ(read(ControlId::ID2D), Texts("Select HA#1/ID03  HALCYON  ST318405 0B05 #3EC0A1B2 PASS", ""));
    EXPECT_EQ(read(ControlId::ID2), Texts("Open log of HA#1/ID03  HALCYON  ST318405 0B05 #3EC0A1B2 PASS", ""));
    EXPECT_EQ(read(ControlId::J2), Texts("PASS", ""));
    EXPECT_EQ(read(ControlId::Button6), Texts("START", "Did you connect new drives for test ?"));
    // The status line is unnamed read-only text whose value is what it says,
    // with the bars' progress as its description.
    Form().SetCaption(ControlId::DCONF, "** Mode Select **");
    Settle();
    EXPECT_EQ(read(ControlId::DCONF), Texts("", "Total Progress 0 % Test Progress 0 %"));
    IAccessible* line = nullptr;
    ASSERT_EQ(AccessibleObjectFromWindow(Control(ControlId::DCONF), static_cast<DWORD>(OBJID_CLIENT),
                                         __uuidof(IAccessible), reinterpret_cast<void**>(&line)),
              S_OK);
    VARIANT self, role, state;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    BSTR value = nullptr;
    ASSERT_EQ(line->get_accValue(self, &value), S_OK);
    EXPECT_EQ(std::wstring(value), L"** Mode Select **");
    SysFreeString(value);
    ASSERT_EQ(line->get_accRole(self, &role), S_OK);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_TEXT);
    ASSERT_EQ(line->get_accState(self, &state), S_OK);
    EXPECT_TRUE(state.lVal & STATE_SYSTEM_READONLY);
    line->Release();

    Form().SetCaption(ControlId::J2, "FAIL");
    Form().SetCaption(ControlId::id2l, "HA#x/IDxx  Non Connection ");
    Settle();
    EXPECT_EQ(read(ControlId::J2).first, "FAIL");
    EXPECT_EQ(read(ControlId::ID2D).first, "Select HA#x/IDxx  Non Connection FAIL");
    EXPECT_EQ(read(ControlId::ID2).first, "Open log of HA#x/IDxx  Non Connection FAIL");
    CoUninitialize();
}

}  // namespace
}  // namespace tamro::test
