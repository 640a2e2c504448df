// The "<<< SMART DATA PAGE >>>" section of the drive test log: the drive's
// SMART logging data read with GetLog(10), laid out by the log generation of
// its family.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "reports/drive_report.h"

namespace tamro {

// The number of heads the per-head areas of the logging data have room for.
constexpr int kSmartHeadCapacity = 20;

// Each variant sends Factory Set(10), GetLog(10), GetHsp(10), Factory
// ReSet(10) to the drive and appends its page to `log`. Command failures are
// not reported on the page: a failed GetLog(10) prints zeros, a failed
// GetHsp(10) prints no head lines. Always 0.
int LayoutA(std::uint8_t ha, std::uint8_t id, std::FILE* log);  // logLayout 1 and 2
int LayoutB(std::uint8_t ha, std::uint8_t id, std::FILE* log);  // logLayout 3
int LayoutC(std::uint8_t ha, std::uint8_t id, std::FILE* log);  // logLayout 4

// The page's values for a drive of log layout 1 to 4, read with the commands
// above; nothing is sent for any other layout.
std::optional<SmartPageValues> ReadSmartDataPage(std::uint8_t ha, std::uint8_t id, int layout);
// The page as the log shows it.
void PrintSmartDataPage(std::FILE* log, const SmartPageValues& page);

// Picks the variant by the current slot's logLayout; any other value writes
// nothing and sends nothing. Always 0.
int WriteSmartDataPage(std::uint8_t ha, std::uint8_t id, std::FILE* log);

}  // namespace tamro
