// TForm1's own behaviour: its construction, the texts it sets, and its event
// handlers. Everything here runs on the window's thread.
#pragma once

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

void cancelClick();
void okClick();
void EXITClick();

}  // namespace tamro::ui
