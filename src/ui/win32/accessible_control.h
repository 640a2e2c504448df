// What assistive technology reads on a native control: the name and the
// description the view gives it, answered through the control's own client
// object, so that every client (and every Windows version) reads them alike.
#pragma once

#include <windows.h>

#include <string>

namespace tamro::ui::win32 {

struct AccessibleTexts {
    std::wstring name;
    std::wstring description;
    // For a control reported as other than the system has it (the status
    // line as read-only text, the announcements as an alert): its role, the
    // states added to the system's, and its value. Role 0: the system's.
    long role = 0;
    long addedStates = 0;
    std::wstring value;
};

// Answers the control's client object with `texts` as its name, description
// and, when given, role, states and value; the texts are read at each
// request, so a change is seen at once. `texts` must outlive the window.
void MakeAccessible(HWND control, const AccessibleTexts* texts);

}  // namespace tamro::ui::win32
