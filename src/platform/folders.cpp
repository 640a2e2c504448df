#include "platform/folders.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
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

// The part file has a name of its own, made only if it did not exist: two
// runs writing one file (the timer's and an operator's) never write into each
// other's part, and a link planted under a guessable name is never followed.
// It gets the mode of the file it replaces, else one that others can read
// (the metrics' collector runs as another user).
bool WriteFileWhole(const std::string& path, const std::string& text) {
    std::string part;
    bool written = false;
#ifdef _WIN32
    std::random_device random;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        part = path + "." + std::to_string(random() % 1000000u) + ".part";
        fd = _open(part.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    }
    if (fd < 0) return false;
    written = true;
    for (std::size_t done = 0; written && done < text.size();) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(text.size() - done, 1u << 30));
        const int n = _write(fd, text.data() + done, chunk);
        if (n <= 0) written = false;
        else done += static_cast<std::size_t>(n);
    }
    written = _close(fd) == 0 && written;
#else
    std::string name = path + ".XXXXXX.part";
    const int fd = mkstemps(name.data(), 5);
    if (fd < 0) return false;
    part = name;
    struct stat old {};
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    written = fchmod(fd, mode) == 0;
    for (std::size_t done = 0; written && done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) written = false;
        else done += static_cast<std::size_t>(n);
    }
    written = fsync(fd) == 0 && written;
    written = close(fd) == 0 && written;
#endif
    if (!written || !ReplaceFile(part, path)) {
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
