// Local time as the 24-character text of the logs: "Tue Dec 08 02:57:05 2026".
#pragma once

#include <ctime>
#include <string>

namespace tamro::platform {

// English day and month names whatever the locale; day of month with two
// digits; 24-hour time; four-digit year.
std::string FormatTimeText(const std::tm& t);

std::string LocalTimeText(std::time_t when);

// The local calendar time now.
std::tm LocalCalendarTime();
std::string LocalTimeText();  // now

// ISO 8601 local time with the zone's offset: "2026-12-08T02:57:05+01:00".
std::string IsoTimeText(std::time_t when);

}  // namespace tamro::platform
