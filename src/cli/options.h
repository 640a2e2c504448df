// What tamro-cli was asked to do, read from its command line.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "discovery/engine_observer.h"

namespace tamro::cli {

enum class Command { Help, Version, Scan, Run, Microcode };

struct Address {
    int hostAdapter;
    int targetId;
    friend bool operator==(const Address&, const Address&) = default;
};

struct Options {
    Command command = Command::Help;
    bool json = false;                     // scan: JSON on stdout
    TestMode mode = TestMode::Quick;
    std::optional<std::vector<Address>> drives;  // none: what the window would tick
    int jobs = 0;                          // 0: every chosen drive at once
    std::string logs;                      // empty: the current folder
    std::string jsonFile;                  // run, microcode: where the results go
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

extern const char kUsage[];

}  // namespace tamro::cli
