#include "platform/time_text.h"

#include <cstdio>

namespace tamro::platform {

std::string FormatTimeText(const std::tm& t) {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* day = (t.tm_wday >= 0 && t.tm_wday < 7) ? kDays[t.tm_wday] : "???";
    const char* month = (t.tm_mon >= 0 && t.tm_mon < 12) ? kMonths[t.tm_mon] : "???";
    char text[64];
    std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d", day, month, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec, t.tm_year + 1900);
    return text;
}

namespace {
std::tm LocalCalendarTime(std::time_t when) {
    std::tm t{};
#ifdef _WIN32
    localtime_s(&t, &when);
#else
    localtime_r(&when, &t);
#endif
    return t;
}
}  // namespace

std::string LocalTimeText(std::time_t when) { return FormatTimeText(LocalCalendarTime(when)); }

std::tm LocalCalendarTime() { return LocalCalendarTime(std::time(nullptr)); }

std::string LocalTimeText() { return LocalTimeText(std::time(nullptr)); }

}  // namespace tamro::platform
