// The program's current working folder, where logs are written and the file
// dialog starts.
#pragma once

#include <string>

namespace tamro::platform {

// Empty when it cannot be told.
std::string CurrentFolder();

// Makes `folder` the current folder; false when it cannot.
bool SetCurrentFolder(const std::string& folder);

// `path` as a full path from the current folder; itself when it cannot be
// told.
std::string FullPath(const std::string& path);

// `name` in the current folder, as a full path.
std::string InCurrentFolder(const std::string& name);

// Moves `from` over `to`, replacing a file of that name at once. False when
// it could not.
bool ReplaceFile(const std::string& from, const std::string& to);

// Removes the file if there is one.
void RemoveFile(const std::string& path);

}  // namespace tamro::platform
