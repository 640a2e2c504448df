// The whole of tamro-cli behind its main: reads the arguments, does the work
// and ends the process with its exit status.
#pragma once

#include <string>
#include <vector>

namespace tamro::cli {

// `moreUsage`, when given, follows the help text.
[[noreturn]] void RunCommandLine(const std::vector<std::string>& args, const char* moreUsage = nullptr);

}  // namespace tamro::cli
