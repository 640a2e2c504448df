// The host's side of the QEMU guest test: the phase it is in and its time
// limit, commands run to their end, and the sockets QEMU connects to (its
// serial lines and its monitor).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace qemuhost {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Skip {
    std::string reason;
};

// What the test is doing, said as each phase begins and again if the time
// limit ends it.
inline const Clock::time_point testStart = Clock::now();
inline std::mutex phaseMutex;
inline std::string phase = "starting";
// The command or QEMU the phase waits for, each the leader of a process
// group that holds whatever it started.
inline std::atomic<pid_t> child{0};

inline long SecondsSoFar() {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - testStart).count());
}

inline void EnterPhase(const std::string& what) {
    std::lock_guard<std::mutex> lock(phaseMutex);
    phase = what;
    std::cout << "[" << SecondsSoFar() << " s] " << what << std::endl;
}

inline std::string CurrentPhase() {
    std::lock_guard<std::mutex> lock(phaseMutex);
    return phase;
}

// Ends the test `limit` after its start, saying what it was doing.
inline void StopAtTheTimeLimit(std::chrono::seconds limit) {
    std::thread([limit] {
        std::this_thread::sleep_until(testStart + limit);
        std::cout << "time limit of " << limit.count() << " s hit while " << CurrentPhase() << std::endl;
        if (const pid_t pid = child.load(); pid > 0) kill(-pid, SIGKILL);
        std::_Exit(1);
    }).detach();
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Tail(const std::string& text, std::size_t n = 2000) {
    return text.size() <= n ? text : text.substr(text.size() - n);
}

// Starts a command in a process group of its own, its output and its errors
// into the files named (one descriptor when they are the same file). Its
// pid, or -1.
inline pid_t StartProcess(const std::vector<std::string>& words, const fs::path& out, const fs::path& err) {
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = err == out ? o : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(o, 1);
        dup2(e, 2);
        std::vector<char*> argv;
        for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

// Runs a command to its end; its output goes to `log`. The exit status, or
// -1 when it could not be started.
inline int RunCommand(const std::vector<std::string>& words, const fs::path& log, std::string* out = nullptr) {
    const fs::path outFile = log.string() + ".out";
    const pid_t pid = StartProcess(words, outFile, log);
    if (pid < 0) return -1;
    child = pid;
    int status = 0;
    waitpid(pid, &status, 0);
    child = 0;
    if (out != nullptr) *out = ReadFile(outFile);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    return false;
}

class Listener {
public:
    explicit Listener(const fs::path& path) : path_(path) {
        fs::remove(path);
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        if (bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 1) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~Listener() {
        if (fd_ >= 0) close(fd_);
        fs::remove(path_);
    }
    bool Ok() const { return fd_ >= 0; }
    // The connected descriptor, or -1 when nobody came in time.
    int Accept(std::chrono::milliseconds timeout) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return -1;
        return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    fs::path path_;
    int fd_ = -1;
};

// Lines from a stream socket, each wait bounded.
class LineReader {
public:
    explicit LineReader(int fd = -1) : fd_(fd) {}
    ~LineReader() {
        if (fd_ >= 0) close(fd_);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    void Reset(int fd) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
        pending_.clear();
    }
    bool Send(const std::string& line) {
        const std::string data = line + "\n";
        return write(fd_, data.data(), data.size()) == static_cast<ssize_t>(data.size());
    }
    std::optional<std::string> Next(Clock::time_point deadline) {
        for (;;) {
            const auto nl = pending_.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) != 1) return std::nullopt;
            char buf[4096];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n <= 0) return std::nullopt;
            pending_.append(buf, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_;
    std::string pending_;
};

// The QEMU monitor's machine protocol, read with string matching: the test
// needs nothing but "return", "error" and the device-deleted events.
class Monitor {
public:
    explicit Monitor(LineReader& line) : line_(line) {}
    // The command's reply line, or empty when none came.
    std::string Execute(const std::string& command, const std::string& arguments = "{}") {
        line_.Send(R"({"execute": ")" + command + R"(", "arguments": )" + arguments + "}");
        const auto deadline = Clock::now() + 20s;
        while (auto reply = line_.Next(deadline)) {
            if (reply->find("\"event\"") != std::string::npos) {
                events_.push_back(*reply);
                continue;
            }
            return *reply;
        }
        return {};
    }
    bool WaitForDeletion(const std::string& device, std::chrono::seconds timeout) {
        const std::string mark = "\"device\": \"" + device + "\"";
        auto seen = [&](const std::string& e) {
            return e.find("DEVICE_DELETED") != std::string::npos && e.find(mark) != std::string::npos;
        };
        for (const std::string& e : events_)
            if (seen(e)) return true;
        const auto deadline = Clock::now() + timeout;
        while (auto e = line_.Next(deadline)) {
            events_.push_back(*e);
            if (seen(*e)) return true;
        }
        return false;
    }

private:
    LineReader& line_;
    std::vector<std::string> events_;
};

}  // namespace qemuhost
