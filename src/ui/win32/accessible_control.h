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
};

// Answers the control's client object with `texts` as its name and
// description; the texts are read at each request, so a change is seen at
// once. `texts` must outlive the window.
void MakeAccessible(HWND control, const AccessibleTexts* texts);

}  // namespace tamro::ui::win32
