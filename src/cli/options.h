// What tamro-cli was asked to do, read from its command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/engine_observer.h"

namespace tamro::cli {

enum class Command { Help, Version, Scan, Run, Microcode, Health };

struct Address {
    int hostAdapter;
    int targetId;
    friend bool operator==(const Address&, const Address&) = default;
};

// The most drives worked on at once: each has its own thread and request
// lane (about 2 MiB of blocks and buffers), and a bus holds at most 256.
inline constexpr int kMostJobs = 64;

// "-" for the results' file: the JSON goes to stdout.
inline constexpr char kStandardOutput[] = "-";

struct Options {
    Command command = Command::Help;
    TestMode mode = TestMode::Quick;
    std::optional<std::vector<Address>> drives;  // none: what the window would tick
    int jobs = 0;                          // 0: every chosen drive at once, up to kMostJobs
    std::string logs;                      // empty: the current folder
    std::string jsonFile;                  // empty: no JSON; "-": stdout
    std::string metricsFile;               // run, health: the results for a node exporter
    bool write = false;
    bool destroyDataConfirmed = false;
    std::string microcodeFile;
    bool flashConfirmed = false;
};

// The options, or the message for what was wrong with them.
struct Parsed {
    std::optional<Options> options;
    std::string error;
};
Parsed ParseOptions(const std::vector<std::string>& args);

// "scan", "run", "microcode", "health".
const char* CommandName(Command command);

extern const char kUsage[];

}  // namespace tamro::cli
