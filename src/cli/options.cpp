#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <charconv>

namespace tamro::cli {

const char kUsage[] =
    "Usage: tamro-cli scan [--json [FILE]]\n"
    "       tamro-cli run --mode quick|standard|extended [--drives HA:ID,...] [--jobs N]\n"
    "                     [--logs DIR] [--json FILE] [--write --yes-destroy-data]\n"
    "       tamro-cli microcode FILE --yes-flash [--drives HA:ID,...] [--logs DIR] [--json FILE]\n"
    "       tamro-cli health [--drives HA:ID,...] [--jobs N] [--json FILE] [--metrics FILE]\n"
    "       tamro-cli --help | --version\n"
    "\n"
    "Tests the SCSI disks reached through the wnaspi32 library beside the program:\n"
    "every disk of every adapter, also those past the window's seven rows.\n"
    "  scan         list the window's seven drive slots and every drive beyond them\n"
    "  run          test the chosen drives (default: every testable drive), one log each\n"
    "  microcode    download a microcode file to the chosen drives\n"
    "  health       read every drive's defect counts, error log and SMART data page:\n"
    "               no surface test, no write, no log\n"
    "  --drives     the drives by host adapter and target ID, e.g. 0:1,0:3\n"
    "  --jobs N     test up to N drives at once, 1 to 64 (default: all chosen, at most 64)\n"
    "  --logs DIR   write the logs there, made if missing (default: the current folder)\n"
    "  --json FILE  also write the results as JSON to FILE (a regular file, a link to one,\n"
    "               or - for stdout; scan --json alone: stdout)\n"
    "  --metrics FILE  run, health: the results in the Prometheus text format, for the\n"
    "               node exporter's textfile collector (written whole, then renamed)\n"
    "  --write      also write to the drives; destroys their data, needs --yes-destroy-data\n"
    "The log folder and FILE are checked before any drive is touched.\n"
    "Exit status: 0 every chosen drive PASS (health: read), 1 a drive FAIL, 2 a drive\n"
    "not judged, not testable, absent or (health) unreadable, 3 nothing could be run (no drive reachable, no library, wrong\n"
    "options, an output that cannot be written), 4 results incomplete (a log, the\n"
    "JSON or the metrics could not be written), 130 stopped by Ctrl-C (SIGINT), 143\n"
    "stopped by SIGTERM.\n";

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

std::optional<TestMode> ModeNamed(const std::string& name) {
    if (name == "quick") return TestMode::Quick;
    if (name == "standard") return TestMode::Standard;
    if (name == "extended") return TestMode::Extended;
    return std::nullopt;
}

Parsed Fail(std::string message) { return {std::nullopt, std::move(message)}; }

// The options each command takes. The parser handles "--opt value" and
// "--opt=value", a missing value and a repeated option alike for all of
// them; the values are judged here.
struct Raw {
    std::string mode, drives, jobs, logs, microcodeFile;
    bool write = false, destroyData = false, flash = false;
    CLI::Option* json = nullptr;
    CLI::Option* modeOption = nullptr;
    CLI::Option* drivesOption = nullptr;
    CLI::Option* jobsOption = nullptr;
    CLI::Option* logsOption = nullptr;
    CLI::Option* metricsOption = nullptr;
    std::string metrics;
};

enum Takes : unsigned { kDrives = 1, kLogs = 2, kMetrics = 4 };

CLI::App* AddCommand(CLI::App& app, const char* name, Raw& raw, unsigned takes) {
    CLI::App* c = app.add_subcommand(name);
    c->set_help_flag("-h,--help");
    raw.json = c->add_option("--json", "the results as JSON");
    raw.json->expected(0, 1)->type_name("FILE");
    if (takes & kDrives) raw.drivesOption = c->add_option("--drives", raw.drives);
    if (takes & kLogs) raw.logsOption = c->add_option("--logs", raw.logs);
    if (takes & kMetrics) raw.metricsOption = c->add_option("--metrics", raw.metrics);
    return c;
}

}  // namespace

const char* CommandName(Command command) {
    switch (command) {
        case Command::Run: return "run";
        case Command::Microcode: return "microcode";
        case Command::Health: return "health";
        default: return "scan";
    }
}

Parsed ParseOptions(const std::vector<std::string>& args) {
    Options o;
    if (args.empty()) return Fail("no command given");
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") return {o, {}};
    if (args[0] == "--version") {
        if (args.size() > 1) return Fail("unexpected argument '" + args[1] + "' after --version");
        o.command = Command::Version;
        return {o, {}};
    }

    if (args[0] != "scan" && args[0] != "run" && args[0] != "microcode" && args[0] != "health")
        return Fail("unknown command '" + args[0] + "'");

    CLI::App app("tamro-cli");
    app.set_help_flag();
    app.require_subcommand(1, 1);
    Raw scanRaw, runRaw, microRaw, healthRaw;
    CLI::App* scan = AddCommand(app, "scan", scanRaw, 0);
    CLI::App* run = AddCommand(app, "run", runRaw, kDrives | kLogs | kMetrics);
    CLI::App* micro = AddCommand(app, "microcode", microRaw, kDrives | kLogs);
    CLI::App* health = AddCommand(app, "health", healthRaw, kDrives | kMetrics);
    runRaw.modeOption = run->add_option("--mode", runRaw.mode);
    runRaw.jobsOption = run->add_option("--jobs", runRaw.jobs);
    healthRaw.jobsOption = health->add_option("--jobs", healthRaw.jobs);
    run->add_flag("--write", runRaw.write);
    run->add_flag("--yes-destroy-data", runRaw.destroyData);
    micro->add_option("FILE", microRaw.microcodeFile);
    micro->add_flag("--yes-flash", microRaw.flash);
    for (CLI::App* c : {scan, run, micro, health})
        for (CLI::Option* option : c->get_options())
            option->multi_option_policy(CLI::MultiOptionPolicy::Throw);

    // The parser takes its arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        return {o, {}};
    } catch (const CLI::ParseError& e) {
        std::string what = e.what();
        if (what.empty()) what = e.get_name();
        return Fail(what);
    }
    o.command = scan->parsed()  ? Command::Scan
                : run->parsed() ? Command::Run
                : micro->parsed() ? Command::Microcode
                                  : Command::Health;
    Raw& raw = o.command == Command::Scan ? scanRaw
               : o.command == Command::Run ? runRaw
               : o.command == Command::Microcode ? microRaw
                                                 : healthRaw;

    if (raw.json->count() != 0) {
        const auto& given = raw.json->results();
        o.jsonFile = given.empty() || given.front().empty() ? std::string() : given.front();
        if (o.jsonFile.empty() && o.command != Command::Scan) return Fail("--json needs a file name, or - for stdout");
        if (o.jsonFile.empty()) o.jsonFile = kStandardOutput;
    }
    if (raw.drivesOption != nullptr && raw.drivesOption->count() != 0) {
        o.drives = Addresses(raw.drives);
        if (!o.drives) return Fail("--drives needs a list such as 0:1,0:3 (host adapter and target ID, 0-15)");
    }
    if (raw.logsOption != nullptr && raw.logsOption->count() != 0) {
        if (raw.logs.empty()) return Fail("--logs needs a folder");
        o.logs = raw.logs;
    }
    if (raw.metricsOption != nullptr && raw.metricsOption->count() != 0) {
        if (raw.metrics.empty()) return Fail("--metrics needs a file name, or - for stdout");
        o.metricsFile = raw.metrics;
    }
    if (raw.jobsOption != nullptr && raw.jobsOption->count() != 0) {
        const auto jobs = Number(raw.jobs, 1, kMostJobs);
        if (!jobs) return Fail("--jobs needs a number from 1 to " + std::to_string(kMostJobs));
        o.jobs = *jobs;
    }
    if (o.jsonFile == kStandardOutput && o.metricsFile == kStandardOutput)
        return Fail("--json and --metrics cannot both go to stdout");
    if (o.command == Command::Run) {
        if (raw.modeOption->count() == 0) return Fail("run needs --mode quick, standard or extended");
        const auto mode = ModeNamed(raw.mode);
        if (!mode) return Fail("--mode must be quick, standard or extended");
        o.mode = *mode;
        o.write = raw.write;
        o.destroyDataConfirmed = raw.destroyData;
        if (o.write && !o.destroyDataConfirmed)
            return Fail("--write destroys the data on every chosen drive; add --yes-destroy-data to confirm");
        if (o.destroyDataConfirmed && !o.write) return Fail("--yes-destroy-data confirms --write, which was not given");
    }
    if (o.command == Command::Microcode) {
        o.microcodeFile = raw.microcodeFile;
        o.flashConfirmed = raw.flash;
        if (o.microcodeFile.empty()) return Fail("microcode needs a FILE");
        if (!o.flashConfirmed) return Fail("microcode replaces the drives' firmware; add --yes-flash to confirm");
    }
    return {o, {}};
}

}  // namespace tamro::cli
