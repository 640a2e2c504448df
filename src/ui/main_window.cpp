#include "ui/main_window.h"

#include <algorithm>
#include <cstdio>

#include "discovery/scan.h"
#include "platform/time_text.h"
#include "transport/aspi.h"
#include "transport/commands.h"
#include "ui/window_model.h"

namespace tamro::ui {

namespace {

constexpr const char* kDisclaimer[10] = {
    "  HALCYON provides its SCSI diagnostic tool TAMRO as it is, with no warranty of any kind,",
    "  whether express or implied, and in particular without any implied warranty of",
    "  merchantability or of fitness for a particular purpose.",
    "  All risk as to the quality and the performance of this program rests with you, the user.",
    "  Neither HALCYON, nor any of its subsidiaries, nor the author of this program shall in any",
    "  case be liable to you for damages of any sort, whether general, special, incidental or",
    "  consequential, arising from the use of this program or from being unable to use it",
    "  (among them lost profits or savings, lost data, or the program failing to work with",
    "  other programs), even where HALCYON or its subsidiaries were told of the possibility of such",
    "  damages.",
};

constexpr ControlId kDisclaimerLines[10] = {ControlId::Label2, ControlId::Label3, ControlId::Label4,
                                            ControlId::Label5, ControlId::Label6, ControlId::Label7,
                                            ControlId::Label8, ControlId::Label9, ControlId::Label10,
                                            ControlId::Label11};

void CloseWindow() { Form().Close(); }

}  // namespace

std::string DateText(const std::tm& date) {
    char text[32];
    std::snprintf(text, sizeof text, "%d/%d/%d", date.tm_mon + 1, date.tm_mday, date.tm_year + 1900);
    return text;
}

void cancelClick() { CloseWindow(); }
void okClick() { CloseWindow(); }
void EXITClick() { CloseWindow(); }
void Button7Click() { CloseWindow(); }

bool StopWorkForExit(std::chrono::milliseconds bound) {
    RequestStopAtNextCommand();
    return WaitForCommandsToSettle(bound);
}

std::chrono::milliseconds ExitBound() { return SettleBound(); }

void InstallHandlers() {
    WindowModel& form = Form();
    form.OnClick(ControlId::cancel, cancelClick);
    form.OnClick(ControlId::OK, okClick);
    form.OnClick(ControlId::EXIT, EXITClick);
    form.OnClick(ControlId::Button7, Button7Click);

    form.OnClick(ControlId::accept, acceptClick);
    form.OnClick(ControlId::Button1, Button1Click);
    form.OnClick(ControlId::Button4, Button4Click);
    form.OnClick(ControlId::TEST, TESTClick);
    form.OnClick(ControlId::Button6, Button6Click);

    form.OnClick(ControlId::DL, DLClick);
    form.OnClick(ControlId::Button8, Button8Click);
    form.OnClick(ControlId::Button9, Button9Click);

    // Check boxes: every change of state, the program's too.
    form.OnChange(ControlId::ExtTest, ExtTestClick);
    form.OnChange(ControlId::StdTest, StdTestClick);
    form.OnChange(ControlId::SmtTest, SmtTestClick);
    form.OnChange(ControlId::ReadOnly, ReadOnlyClick);
    form.OnChange(ControlId::WrtPermit, WrtpermitClick);
    form.OnClick(ControlId::WtOK, WtOKClick);
    form.OnClick(ControlId::WtNG, WtNGClick);

    constexpr struct {
        ControlId logButton, selectBox;
        void (*click)();
        void (*change)();
    } kRows[] = {
        {ControlId::ID0, ControlId::ID0D, ID0Click, ID0DClick}, {ControlId::ID1, ControlId::ID1D, ID1Click, ID1DClick},
        {ControlId::ID2, ControlId::ID2D, ID2Click, ID2DClick}, {ControlId::ID3, ControlId::ID3D, ID3Click, ID3DClick},
        {ControlId::ID4, ControlId::ID4D, ID4Click, ID4DClick}, {ControlId::ID5, ControlId::ID5D, ID5Click, ID5DClick},
        {ControlId::ID6, ControlId::ID6D, ID6Click, ID6DClick},
    };
    for (const auto& row : kRows) {
        form.OnClick(row.logButton, row.click);
        form.OnChange(row.selectBox, row.change);
    }
}

void ConstructForm() {
    WindowModel& form = Form();
    // 1. Today's date. (2., the window's place on the screen, is the view's.)
    form.SetCaption(ControlId::date, DateText(platform::LocalCalendarTime()));

    // 3.
    for (ControlId id : {ControlId::disclaimer, ControlId::ALARM, ControlId::RETEST, ControlId::info,
                         ControlId::connect, ControlId::accept_p, ControlId::cancel_p, ControlId::EXIT,
                         ControlId::TEST})
        form.Hide(id);

    // 4.
    char title[80];
    std::snprintf(title, sizeof title, "TAMRO (Halcyon SCSI Diagnostic Tool)  Version %s", kVersion);
    form.SetCaption(ControlId::titlename, title);
    form.SetCaption(ControlId::copyw, kMakerNotice);
    form.SetCaption(ControlId::Label1, "     DISCLAIMER                         ");
    for (int i = 0; i < 10; ++i) form.SetCaption(kDisclaimerLines[i], kDisclaimer[i]);

    // 5.
    form.Show(ControlId::disclaimer);
    form.Disable(ControlId::accept);
    form.Disable(ControlId::cancel);
    form.Show(ControlId::accept_p);
    form.Show(ControlId::cancel_p);
    form.Show(ControlId::ALARM);
    form.Show(ControlId::WAIT);
    form.Hide(ControlId::error);
    form.Disable(ControlId::OK);

    // 6. The wait notice is on the screen before the scan begins.
    form.Repaint();

    // 7.
    Startthread::Start();
}

}  // namespace tamro::ui
