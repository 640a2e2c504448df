// The program's current working folder, where logs are written and the file
// dialog starts.
#pragma once

#include <string>

namespace tamro::platform {

// Empty when it cannot be told.
std::string CurrentFolder();

}  // namespace tamro::platform
