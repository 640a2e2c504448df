// TForm1's own behaviour: its construction, the texts it sets, and its event
// handlers. Everything here runs on the window's thread.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace tamro::ui {

inline constexpr char kVersion[] = "1.4";

// "%d/%d/%d": month, day and four-digit year without leading zeros.
std::string DateText(const std::tm& date);

// Registers the handlers with the window's model.
void InstallHandlers();

// Construction of the window's state, steps 1 to 7: the texts, the panels of
// the wait notice over the disclaimer, and the scan worker started.
void ConstructForm();

// The program is ending while a worker may still be at work: no further
// command goes to a drive, a factory mode left on is switched off, and this
// returns once nothing is in flight, or after `bound` at the latest (false).
bool StopWorkForExit(std::chrono::milliseconds bound);
// The longest a running command can take to end, and then the closing
// Factory ReSet(10).
std::chrono::milliseconds ExitBound();

// Closing the window.
void cancelClick();
void okClick();
void EXITClick();
void Button7Click();

// The screens.
void acceptClick();
void Button1Click();
void Button4Click();
void TESTClick();
void Button6Click();

// The tools.
void DLClick();
// DL's work: the file dialog, then the image loaded from the chosen file; a
// refusal that an earlier choice left in the status line goes once a file
// loads. True when a file was loaded.
bool LoadChosenMicrocode();
void Button8Click();
void Button9Click();

// The settings.
void ExtTestClick();
void StdTestClick();
void SmtTestClick();
void ReadOnlyClick();
void WrtpermitClick();
void WtOKClick();
void WtNGClick();

// The slot rows: the log buttons and the selection boxes.
void ID0Click();
void ID1Click();
void ID2Click();
void ID3Click();
void ID4Click();
void ID5Click();
void ID6Click();
void ID0DClick();
void ID1DClick();
void ID2DClick();
void ID3DClick();
void ID4DClick();
void ID5DClick();
void ID6DClick();

}  // namespace tamro::ui
