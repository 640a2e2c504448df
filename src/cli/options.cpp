#include "cli/options.h"

#include <charconv>

namespace tamro::cli {

const char kUsage[] =
    "Usage: tamro-cli scan [--json]\n"
    "       tamro-cli run --mode quick|standard|extended [--drives HA:ID,...] [--jobs N]\n"
    "                     [--logs DIR] [--json FILE] [--write --yes-destroy-data]\n"
    "       tamro-cli microcode FILE --yes-flash [--drives HA:ID,...] [--logs DIR] [--json FILE]\n"
    "       tamro-cli --help | --version\n"
    "\n"
    "Tests the SCSI disks reached through the wnaspi32 library beside the program.\n"
    "  scan         list the seven drive slots and what each holds\n"
    "  run          test the chosen drives (default: every testable drive), one log each\n"
    "  microcode    download a microcode file to the chosen drives\n"
    "  --drives     the drives by host adapter and target ID, e.g. 0:1,0:3\n"
    "  --jobs N     test up to N drives at once (default: all chosen)\n"
    "  --logs DIR   write the logs there (default: the current folder)\n"
    "  --json       scan: print JSON; run, microcode: write the results as JSON to FILE\n"
    "  --write      also write to the drives; destroys their data, needs --yes-destroy-data\n"
    "Exit status: 0 every chosen drive PASS, 1 a drive FAIL, 2 a drive not judged or\n"
    "not testable, 3 nothing could be run.\n";

namespace {

std::optional<int> Number(const std::string& text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || at != end || value < low || value > high) return std::nullopt;
    return value;
}

std::optional<std::vector<Address>> Addresses(const std::string& text) {
    std::vector<Address> list;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string item = text.substr(from, comma - from);
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos) return std::nullopt;
        const auto ha = Number(item.substr(0, colon), 0, 15);
        const auto id = Number(item.substr(colon + 1), 0, 15);
        if (!ha || !id) return std::nullopt;
        list.push_back({*ha, *id});
        from = comma + 1;
    }
    return list;
}

Parsed Fail(std::string message) { return {std::nullopt, std::move(message)}; }

}  // namespace

Parsed ParseOptions(const std::vector<std::string>& args) {
    Options o;
    if (args.empty()) return Fail("no command given");
    std::size_t i = 0;
    const std::string& command = args[i++];
    if (command == "--help" || command == "-h" || command == "help") return {o, {}};
    if (command == "--version") {
        o.command = Command::Version;
        return {o, {}};
    }
    if (command == "scan")
        o.command = Command::Scan;
    else if (command == "run")
        o.command = Command::Run;
    else if (command == "microcode")
        o.command = Command::Microcode;
    else
        return Fail("unknown command '" + command + "'");

    bool modeGiven = false;
    while (i < args.size()) {
        std::string name = args[i++];
        std::optional<std::string> value;
        if (const std::size_t eq = name.find('='); name.starts_with("--") && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        auto take = [&]() -> std::optional<std::string> {
            if (value) return value;
            if (i < args.size()) return args[i++];
            return std::nullopt;
        };
        const bool scan = o.command == Command::Scan;
        const bool run = o.command == Command::Run;
        if (name == "--help" || name == "-h") {
            o.command = Command::Help;
            return {o, {}};
        }
        if (name == "--json" && scan) {
            o.json = true;
        } else if (name == "--json" && !scan) {
            const auto file = take();
            if (!file || file->empty()) return Fail("--json needs a file name");
            o.jsonFile = *file;
        } else if (name == "--mode" && run) {
            const auto mode = take();
            if (mode == "quick") o.mode = TestMode::Quick;
            else if (mode == "standard") o.mode = TestMode::Standard;
            else if (mode == "extended") o.mode = TestMode::Extended;
            else return Fail("--mode must be quick, standard or extended");
            modeGiven = true;
        } else if (name == "--drives" && !scan) {
            const auto list = take();
            o.drives = list ? Addresses(*list) : std::nullopt;
            if (!o.drives) return Fail("--drives needs a list such as 0:1,0:3 (host adapter and target ID, 0-15)");
        } else if (name == "--jobs" && run) {
            const auto n = take();
            const auto jobs = n ? Number(*n, 1, 64) : std::nullopt;
            if (!jobs) return Fail("--jobs needs a number from 1 to 64");
            o.jobs = *jobs;
        } else if (name == "--logs" && !scan) {
            const auto dir = take();
            if (!dir || dir->empty()) return Fail("--logs needs a folder");
            o.logs = *dir;
        } else if (name == "--write" && run && !value) {
            o.write = true;
        } else if (name == "--yes-destroy-data" && run && !value) {
            o.destroyDataConfirmed = true;
        } else if (name == "--yes-flash" && o.command == Command::Microcode && !value) {
            o.flashConfirmed = true;
        } else if (!name.starts_with("-") && o.command == Command::Microcode && o.microcodeFile.empty()) {
            o.microcodeFile = name;
        } else {
            return Fail("unexpected argument '" + args[i - 1] + "' for " + command);
        }
    }
    if (o.command == Command::Run && !modeGiven) return Fail("run needs --mode quick, standard or extended");
    if (o.command == Command::Run && o.write && !o.destroyDataConfirmed)
        return Fail("--write destroys the data on every chosen drive; add --yes-destroy-data to confirm");
    if (o.command == Command::Run && o.destroyDataConfirmed && !o.write)
        return Fail("--yes-destroy-data confirms --write, which was not given");
    if (o.command == Command::Microcode && o.microcodeFile.empty()) return Fail("microcode needs a FILE");
    if (o.command == Command::Microcode && !o.flashConfirmed)
        return Fail("microcode replaces the drives' firmware; add --yes-flash to confirm");
    return {o, {}};
}

}  // namespace tamro::cli
