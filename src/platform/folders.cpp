#include "platform/folders.h"

#include <cstdio>
#include <filesystem>
#include <random>

#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tamro::platform {

std::string CurrentFolder() {
    std::error_code ec;
    const auto folder = std::filesystem::current_path(ec);
    return ec ? std::string() : folder.string();
}

bool SetCurrentFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::current_path(folder, ec);
    return !ec;
}

std::string FullPath(const std::string& path) {
    std::error_code ec;
    const auto full = std::filesystem::absolute(path, ec);
    return ec ? path : full.string();
}

std::string InCurrentFolder(const std::string& name) {
    std::error_code ec;
    const auto folder = std::filesystem::current_path(ec);
    return ec ? name : (folder / name).string();
}

bool ReplaceFile(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::rename(from, to, ec);
    return !ec;
}

void RemoveFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

namespace fs = std::filesystem;

std::string PrepareWritableFolder(const std::string& folder) {
    std::error_code ec;
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    if (!fs::exists(dir, ec)) {
        fs::create_directories(dir, ec);
        if (ec) return "cannot be made (" + ec.message() + ")";
    }
    if (!fs::is_directory(dir, ec)) return "is not a folder";
    // Permission bits do not tell (read-only mounts, access lists, another
    // user's folder as root); creating a file does.
    std::random_device random;
    const fs::path probe = dir / (".tamro-write-check-" + std::to_string(random()));
    std::FILE* f = std::fopen(probe.string().c_str(), "wb");
    if (f == nullptr) return "does not take new files";
    const bool closed = std::fclose(f) == 0;
    fs::remove(probe, ec);
    return closed ? std::string() : "does not take new files";
}

std::optional<std::string> ReplaceableFile(const std::string& path, std::string& why) {
    std::error_code ec;
    const fs::file_status link = fs::symlink_status(path, ec);
    fs::path target = path;
    if (fs::is_symlink(link)) {
        const fs::file_status named = fs::status(path, ec);
        if (!fs::exists(named)) {
            why = "is a symbolic link to nothing";
            return std::nullopt;
        }
        if (!fs::is_regular_file(named)) {
            why = "is a symbolic link to something other than a regular file";
            return std::nullopt;
        }
        target = fs::canonical(path, ec);
        if (ec) {
            why = "is a symbolic link that cannot be followed";
            return std::nullopt;
        }
    } else if (fs::is_directory(link)) {
        why = "is a folder";
        return std::nullopt;
    } else if (fs::exists(link) && !fs::is_regular_file(link)) {
        why = "is not a regular file (a device, a FIFO or a socket)";
        return std::nullopt;
    } else if (ec && ec != std::errc::no_such_file_or_directory) {
        why = "cannot be looked at (" + ec.message() + ")";
        return std::nullopt;
    }
    target = fs::absolute(target, ec);
    const std::string folder = target.parent_path().string();
    if (const std::string problem = PrepareWritableFolder(folder); !problem.empty()) {
        why = "lies in a folder that " + problem;
        return std::nullopt;
    }
    return target.string();
}

bool WriteFileWhole(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (f == nullptr) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !written || !ReplaceFile(part, path)) {
        RemoveFile(part);
        return false;
    }
    return true;
}

std::optional<std::vector<std::uint8_t>> ReadRegularFile(const std::string& path, std::size_t limit,
                                                         ReadFailure& failure) {
    std::vector<std::uint8_t> bytes;
#ifdef _WIN32
    std::error_code ec;
    if (!fs::is_regular_file(fs::status(path, ec))) {
        failure = fs::exists(path, ec) ? ReadFailure::NotRegular : ReadFailure::CannotOpen;
        return std::nullopt;
    }
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        failure = ReadFailure::CannotOpen;
        return std::nullopt;
    }
    bytes.resize(limit + 1);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
#else
    // Not blocking: opening a FIFO would otherwise wait for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failure = ReadFailure::CannotOpen;
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        failure = ReadFailure::NotRegular;
        return std::nullopt;
    }
    bytes.resize(limit + 1);
    std::size_t have = 0;
    bool failed = false;
    while (have < bytes.size()) {
        const ssize_t n = read(fd, bytes.data() + have, bytes.size() - have);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) break;
        have += static_cast<std::size_t>(n);
    }
    close(fd);
    bytes.resize(have);
#endif
    if (failed) {
        failure = ReadFailure::CannotRead;
        return std::nullopt;
    }
    return bytes;
}

}  // namespace tamro::platform
