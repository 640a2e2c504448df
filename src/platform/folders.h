// The program's current working folder, where logs are written and the file
// dialog starts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// Makes the folder (and those above it) if missing, and proves that a file
// can be created in it. Empty when it can; else why not, in a few words.
std::string PrepareWritableFolder(const std::string& folder);

// Where a file that is to be replaced whole may go: `path` itself when it is
// absent or a regular file, the file a symbolic link names when that is one
// (the link stays). Refused, with the reason in `why`, for anything else: a
// folder, a device, a FIFO, a link that names nothing. The folder it lies in
// must take a new file.
std::optional<std::string> ReplaceableFile(const std::string& path, std::string& why);

// Writes `text` to `path` whole: into a file beside it, renamed over it once
// complete, so that no reader ever sees half of it. False when it could not.
bool WriteFileWhole(const std::string& path, const std::string& text);

// A regular file's bytes, at most `limit` + 1 of them so that a larger file
// can be told; anything but a regular file is refused without waiting on it.
// Empty optional when it cannot be read, with the reason in `failure`.
enum class ReadFailure { CannotOpen, NotRegular, CannotRead };
std::optional<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::size_t limit,
                                                         ReadFailure& failure);

}  // namespace tamro::platform
