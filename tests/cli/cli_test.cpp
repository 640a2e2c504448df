// tamro-cli as a script meets it: its results equal the window's whatever
// the number of drives at once, its JSON says what its log says and what
// the process returns, its outputs are checked before the work, and an
// interrupt leaves no half-written log.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <future>
#include <set>
#include <nlohmann/json.hpp>

#include "cli/results.h"
#include "diagnostics/run_fixture.h"

extern char** environ;

namespace tamro::test {
namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the program with its output in two files; `whileRunning` gets its
// pid and the file its stderr grows in.
Outcome Cli(const std::vector<std::string>& args, const fs::path& folder,
            const std::function<void(pid_t, const fs::path&)>& whileRunning = {},
            const std::string& program = TAMRO_CLI) {
    const fs::path out = folder / "stdout.txt", err = folder / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome o;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) return o;
    posix_spawn_file_actions_destroy(&actions);
    if (whileRunning) whileRunning(pid, err);
    int status = 0;
    waitpid(pid, &status, 0);
    o.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    o.out = ReadAll(out);
    o.err = ReadAll(err);
    return o;
}

// Cuts what follows each `marker` up to `end` (a folder: up to its last
// separator before `end`).
std::string Cut(std::string text, const std::string& marker, char end, bool folderOnly = false) {
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at + 1)) {
        const std::size_t from = at + marker.size();
        std::size_t to = text.find_first_of(std::string(1, end) + "\n", from);
        if (to == std::string::npos) to = text.size();
        if (folderOnly) {
            const std::size_t slash = text.rfind('/', to);
            to = slash == std::string::npos || slash < from ? from : slash + 1;
        }
        text.erase(from, to - from);
    }
    return text;
}

// A log without its times.
std::string Untimed(std::string text) {
    return Cut(Cut(std::move(text), "Start Time", '\r'), "Stop Time", '\r');
}

using Json = nlohmann::json;

Json ReadJson(const fs::path& file) { return Json::parse(ReadAll(file)); }

// Results without what differs from one run to the next: times, and the
// folders of the logs.
Json Untimed(Json j) {
    for (const char* key : {"startTime", "stopTime", "startTimeText", "stopTimeText"})
        if (j.contains(key)) j[key] = nullptr;
    for (Json& d : j["drives"]) {
        for (const char* key : {"startTime", "stopTime", "startTimeText", "stopTimeText"}) d[key] = nullptr;
        if (d.value("log", Json()).is_string()) d["log"] = fs::path(d["log"].get<std::string>()).filename().string();
    }
    return j;
}

// Every result file a test makes is checked against the documented schema
// by a real validator.
void ExpectValid(const fs::path& file) {
    const std::string command = std::string("python3 ") + TAMRO_VALIDATOR + " " + TAMRO_SCHEMA + " '" + file.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << file;
}

Json DriveAt(const Json& results, const std::string& address) {
    for (const Json& d : results["drives"])
        if (d["address"] == address) return d;
    return Json();
}

// "Label : 12." from a log.
long LogNumber(const std::string& log, const std::string& label) {
    for (std::size_t at = log.find(label); at != std::string::npos; at = log.find(label, at + 1)) {
        std::size_t i = log.find_first_not_of(" \t\r\n", at + label.size());
        if (i == std::string::npos || log.compare(i, 2, ": ") != 0) continue;
        const std::size_t digits = log.find_first_not_of("0123456789", i + 2);
        if (digits == i + 2 || digits == std::string::npos || log[digits] != '.') continue;
        return std::stol(log.substr(i + 2, digits - i - 2));
    }
    return -1;
}

std::map<std::string, std::string> Logs(const fs::path& folder) {
    std::map<std::string, std::string> logs;
    for (const auto& e : fs::directory_iterator(folder))
        if (e.path().extension() == ".log") logs[e.path().filename().string()] = Untimed(ReadAll(e.path()));
    return logs;
}

class CommandLine : public RunBus {};

TEST_F(CommandLine, AStandardRunGivesTheWindowsLogsWithOneDriveOrAllAtOnce) {
    const fs::path one = folder / "one", all = folder / "all", window = folder / "window";
    for (const auto& f : {one, all, window}) fs::create_directories(f);
    auto sequential = std::async(std::launch::async, [&] {
        return Cli({"run", "--mode", "standard", "--jobs", "1", "--logs", one.string(), "--json", (one / "r.json").string()}, one);
    });
    auto parallel = std::async(std::launch::async, [&] {
        return Cli({"run", "--mode=standard", "--logs", all.string(), "--json=" + (all / "r.json").string()}, all);
    });

    // The window's run of the same bus, here, meanwhile. The window draws
    // one random sequence for all the drives of a run, the command line one
    // for each drive from its start: the UNISYS drive, whose random reads
    // meet a defect, is compared with the window's run of it alone.
    sim_reset_default();
    sim_set_service_time_us(0);
    const auto windowRun = [&](const fs::path& logs, int only) {
        fs::current_path(logs);
        Standard();
        ScanBuses();
        ScanAndShow();
        if (only >= 0)
            for (int s = 0; s < 7; ++s) ui::Form().SetChecked(kBoxes[s], s == only);
        ASSERT_EQ(Runthread::Execute(), Runthread::Outcome::Finished);
    };
    windowRun(window, -1);
    fs::create_directories(window / "alone");
    windowRun(window / "alone", 2);
    auto logs = Logs(window);
    ASSERT_EQ(logs.size(), 5u);  // four run, one failed at the scan
    const std::string alone = Logs(window / "alone")["US2C3456.log"];
    EXPECT_NE(logs["US2C3456.log"], alone);
    logs["US2C3456.log"] = alone;

    const Outcome a = sequential.get(), b = parallel.get();
    EXPECT_EQ(a.status, 1) << a.err;  // FAIL drives
    EXPECT_EQ(b.status, 1) << b.err;
    EXPECT_EQ(Logs(one), logs);
    EXPECT_EQ(Logs(all), logs);
    ExpectValid(one / "r.json");
    ExpectValid(all / "r.json");
    const Json json = ReadJson(one / "r.json");
    EXPECT_EQ(Untimed(ReadJson(all / "r.json")), Untimed(json));
    EXPECT_EQ(json["exitStatus"], 1);
    EXPECT_EQ(json["command"], "run");
    EXPECT_EQ(json["mode"], "standard");
    EXPECT_NE(a.out.find("HA#1/ID00   PASS         This drive seems to have no problem."), std::string::npos) << a.out;

    // Each drive's JSON says what its log says.
    ASSERT_EQ(json["drives"].size(), 5u);
    for (const Json& d : json["drives"]) {
        SCOPED_TRACE(d["address"].get<std::string>());
        ASSERT_TRUE(d["log"].is_string());
        const std::string log = ReadAll(d["log"].get<std::string>());
        EXPECT_NE(log.find(d["verdict"] == "PASS" ? "*  PASS  *" : "*  FAIL  *"), std::string::npos);
        EXPECT_NE(log.find("<<< " + d["reason"].get<std::string>() + " >>>"), std::string::npos) << log;
        EXPECT_EQ(LogNumber(log, "Primary Defect List"), d["defects"]["primary"].is_null() ? -1 : d["defects"]["primary"].get<long>());
        EXPECT_EQ(LogNumber(log, "Grown   Defect List"), d["defects"]["grown"].is_null() ? -1 : d["defects"]["grown"].get<long>());
        if (log.find("Model Number") != std::string::npos) {
            EXPECT_NE(log.find("Model Number        : " + d["identity"]["model"].get<std::string>()), std::string::npos);
        }
        if (d["surfaceTests"].is_object() && d["verdict"] == "PASS") {
            EXPECT_EQ(LogNumber(log, "Read Error Num."), d["surfaceTests"]["readErrors"]["errors"].get<long>());
            EXPECT_EQ(LogNumber(log, "Recovered Read Error"), d["surfaceTests"]["readErrors"]["recovered"].get<long>());
        }
        if (d["smartDataPage"].is_object()) {
            char line[96];
            std::snprintf(line, sizeof line, "Power-on time (min.)            : %08lX",
                          d["smartDataPage"]["powerOnMinutes"].get<unsigned long>());
            EXPECT_NE(log.find(line), std::string::npos);
        }
    }
    const Json sun = DriveAt(json, "HA#0/ID00");
    EXPECT_EQ(sun["verdict"], "PASS");
    EXPECT_EQ(sun["errorKind"], "none");
    EXPECT_EQ(sun["testMode"], "standard");
    EXPECT_EQ(sun["identity"]["vendorClass"], "sun");
    EXPECT_EQ(sun["capacity"]["blockSize"], 512);
    std::vector<std::string> procedures;
    for (const Json& p : sun["surfaceTests"]["procedures"]) procedures.push_back(p["name"]);
    EXPECT_EQ(procedures, (std::vector<std::string>{"Random Seek Read", "Random Seek"}));
    const Json compaq = DriveAt(json, "HA#0/ID01");
    EXPECT_EQ(compaq["errorKind"], "loggedErrorReproduced");
    ASSERT_FALSE(compaq["smartLog"]["entries"].empty());
    EXPECT_EQ(compaq["smartLog"]["entries"][0]["retest"], "reproduced");
    EXPECT_EQ(DriveAt(json, "HA#1/ID01")["state"], "failedAtScan");
}

TEST_F(CommandLine, RefusalsAndTheListing) {
    const auto refused = [&](std::vector<std::string> args, const char* why) {
        const Outcome o = Cli(args, folder);
        EXPECT_EQ(o.status, 3) << why;
        EXPECT_NE(o.err.find(why), std::string::npos) << o.err;
    };
    refused({}, "no command given");
    refused({"bogus"}, "unknown command 'bogus'");
    refused({"run"}, "run needs --mode");
    refused({"run", "--mode", "quick", "--write"}, "add --yes-destroy-data to confirm");
    refused({"run", "--mode", "slow"}, "--mode must be");
    refused({"run", "--mode", "quick", "--drives", "0:1,16:0"}, "--drives needs a list");
    refused({"microcode", "image.frm"}, "add --yes-flash to confirm");
    refused({"scan", "--jobs", "2"}, "--jobs");
    refused({"run", "--mode", "quick", "--mode", "standard"}, "--mode");  // a repeat is not the last one winning
    refused({"run", "--mode"}, "--mode");
    refused({"run", "--mode", "quick", "--jobs=0"}, "--jobs needs a number from 1 to 64");
    EXPECT_EQ(Cli({"--help"}, folder).status, 0);

    const Outcome listing = Cli({"scan"}, folder);
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("HA#0/ID04  HALCYON HC-318    HA07 #HS4D4567         log unreadable"),
              std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("failed at the scan: Error: Start/Stop Unit: Check Condition."), std::string::npos);
    const Outcome json = Cli({"scan", "--json"}, folder);
    EXPECT_EQ(json.status, 0);
    const Json list = Json::parse(json.out);
    EXPECT_EQ(DriveAt(list, "HA#0/ID05")["state"], "notIdentified") << json.out;
    EXPECT_TRUE(list["library"].is_string());
    EXPECT_FALSE(fs::exists(folder / "EM1B8901.log"));  // a listing judges nobody
    EXPECT_EQ(Cli({"scan", "--json=" + (folder / "scan.json").string()}, folder).status, 0);
    EXPECT_EQ(Untimed(ReadJson(folder / "scan.json")), Untimed(list));
    ExpectValid(folder / "scan.json");

    // A drive named that the scan did not find is not judged, and said so.
    const fs::path results = folder / "missing.json";
    const Outcome missing = Cli({"run", "--mode", "quick", "--drives", "0:0,9:9", "--logs", folder.string(), "--json",
                                 results.string()}, folder);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("no drive at 9:9"), std::string::npos);
    EXPECT_NE(missing.out.find("HA#9/ID09   absent"), std::string::npos) << missing.out;
    const Json m = ReadJson(results);
    EXPECT_EQ(m["exitStatus"], 2);
    EXPECT_EQ(m["absentDrives"][0]["address"], "HA#9/ID09");
    ExpectValid(results);
    refused({"run", "--mode", "quick", "--drives", "3:3"}, "no drive to work on");

    // A library that reaches no drive at all: a hint, and not 0.
    fs::create_directories(folder / "empty");
    fs::copy_file(TAMRO_CLI, folder / "empty" / "tamro-cli");
    fs::copy_file(TAMRO_EMPTY_BUS, folder / "empty" / "libwnaspi32.so");
    const Outcome none = Cli({"scan", "--json", "-"}, folder, {}, (folder / "empty" / "tamro-cli").string());
    EXPECT_EQ(none.status, 3);
    EXPECT_NE(none.err.find("no drive reachable through"), std::string::npos) << none.err;
    EXPECT_NE(none.err.find("modprobe sg"), std::string::npos);
    const Json empty = Json::parse(none.out);
    EXPECT_EQ(empty["exitStatus"], 3);
    EXPECT_TRUE(empty["drives"].empty());
}

// Where the results go is proven before any drive is touched: a refusal
// comes at once, before the scan.
TEST_F(CommandLine, OutputsAreCheckedBeforeTheWork) {
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(folder / "dir");
    const auto refusedAtOnce = [&](std::vector<std::string> args, const char* why) {
        const Outcome o = Cli(args, folder);
        EXPECT_EQ(o.status, 3) << why;
        EXPECT_NE(o.err.find(why), std::string::npos) << o.err;
        EXPECT_EQ(o.out, "");  // no scan, no table
    };
    for (const fs::path& bad : {fs::path("/dev/null"), fifo, folder / "dir"})
        refusedAtOnce({"run", "--mode", "quick", "--logs", folder.string(), "--json", bad.string()}, "--json");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_TRUE(fs::is_empty(folder / "dir"));
    refusedAtOnce({"run", "--mode", "quick", "--logs", "/sys"}, "does not take new files");
    refusedAtOnce({"run", "--mode", "quick", "--logs", (fifo / "x").string()}, "the log folder");
    // A FIFO is not waited on as a microcode file.
    refusedAtOnce({"microcode", fifo.string(), "--yes-flash"}, "Microcode file is not a regular file");

    // A link to a file: the file it names is written, the link stays.
    const fs::path target = folder / "target.json", link = folder / "link.json";
    { std::ofstream(target) << "old"; }
    fs::create_symlink(target, link);
    const fs::path logs = folder / "new" / "logs";  // made
    const Outcome linked = Cli({"run", "--mode", "quick", "--drives", "0:0", "--logs", logs.string(), "--json", link.string()}, folder);
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadJson(target)["exitStatus"], 0);
    EXPECT_TRUE(fs::exists(logs / "HS0A1234.log"));

    // "-": the JSON alone on stdout, the table on stderr.
    const Outcome piped = Cli({"run", "--mode", "quick", "--drives", "0:0", "--logs", logs.string(), "--json", "-"}, folder);
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(Json::parse(piped.out)["drives"][0]["verdict"], "PASS");
    EXPECT_NE(piped.err.find("HA#0/ID00   PASS"), std::string::npos);
    EXPECT_FALSE(fs::exists(folder / "-"));

    // A log that cannot be written makes the results incomplete, never 0.
    fs::remove(logs / "HS0A1234.log");
    fs::create_directories(logs / "HS0A1234.log");
    const fs::path results = folder / "incomplete.json";
    const Outcome unlogged = Cli({"run", "--mode", "quick", "--drives", "0:0", "--logs", logs.string(), "--json", results.string()}, folder);
    EXPECT_EQ(unlogged.status, 4) << unlogged.err;
    const Json u = ReadJson(results);
    EXPECT_EQ(u["exitStatus"], 4);
    EXPECT_EQ(u["drives"][0]["logError"], "Cannot open file HS0A1234.log");
    EXPECT_TRUE(u["drives"][0]["log"].is_null());
    ExpectValid(results);

    // The metrics cannot be written at the end (a folder took their place
    // during the run): the JSON says the status the process returns.
    fs::remove_all(logs);
    const fs::path metrics = folder / "late.prom";
    const Outcome late = Cli({"run", "--mode", "standard", "--drives", "0:0", "--logs", logs.string(), "--json",
                              results.string(), "--metrics", metrics.string()},
                             folder, [&](pid_t pid, const fs::path& err) {
                                 while (ReadAll(err).find("Random Seek Read") == std::string::npos &&
                                        waitpid(pid, nullptr, WNOHANG) == 0)
                                     usleep(10000);
                                 kill(pid, SIGSTOP);
                                 fs::create_directories(metrics);
                                 kill(pid, SIGCONT);
                             });
    EXPECT_EQ(late.status, 4) << late.err;
    EXPECT_EQ(ReadJson(results)["exitStatus"], 4);
    EXPECT_TRUE(fs::exists(logs / "HS0A1234.log"));
}

TEST_F(CommandLine, AnInterruptStopsWithWholeLogsOnly) {
    const fs::path results = folder / "r.json";
    const Outcome o = Cli({"run", "--mode", "standard", "--logs", folder.string(), "--json", results.string()}, folder,
                          [this](pid_t pid, const fs::path& err) {
                              // Once both long drives are at their surface tests and the drive
                              // that fails at once has its log (each drive runs on its own).
                              for (int i = 0; i < 3000; ++i) {
                                  const std::string text = ReadAll(err);
                                  if (text.find("HA#0/ID00  ** Random Seek Read **") != std::string::npos &&
                                      text.find("HA#1/ID00  ** Random Seek Read **") != std::string::npos &&
                                      fs::exists(folder / "CQ1B2345.log"))
                                      break;
                                  usleep(10000);
                              }
                              kill(pid, SIGINT);
                          });
    EXPECT_EQ(o.status, 130) << o.err;
    EXPECT_NE(o.err.find("stopping"), std::string::npos);
    EXPECT_NE(o.out.find("HA#0/ID00   interrupted"), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Interrupted by SIGINT"), std::string::npos) << o.out;
    for (const auto& e : fs::directory_iterator(folder)) EXPECT_NE(e.path().extension(), ".part") << e.path();
    EXPECT_FALSE(fs::exists(folder / "HS0A1234.log"));
    EXPECT_TRUE(fs::exists(folder / "CQ1B2345.log"));
    const Json j = ReadJson(results);
    EXPECT_EQ(j["exitStatus"], 130);
    EXPECT_EQ(j["interrupted"], true);
    EXPECT_EQ(j["signal"], "SIGINT");
    EXPECT_EQ(DriveAt(j, "HA#0/ID00")["judged"], false);
    EXPECT_EQ(DriveAt(j, "HA#0/ID01")["verdict"], "FAIL");
    ExpectValid(results);
}

// The value of the series `name` whose labels hold `labels`; NaN if none.
double Metric(const std::string& text, const std::string& name, const std::string& labels) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with(name + "{") && line.find(labels) != std::string::npos)
            return std::stod(line.substr(line.rfind(' ') + 1));
    return std::nan("");
}

void ExpectPromtoolAccepts(const fs::path& file) {
    const std::string command = "promtool check metrics < '" + file.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadAll(file);
}

// A health check reads every drive and writes nothing to them; its metrics
// and a run's agree with their JSON.
TEST_F(CommandLine, HealthAndMetricsAgreeWithTheJson) {
    const fs::path json = folder / "h.json", metrics = folder / "h.prom";
    const Outcome h = Cli({"health", "--json", json.string(), "--metrics", metrics.string()}, folder);
    EXPECT_EQ(h.status, 2) << h.err;  // the default bus holds drives that cannot be read
    EXPECT_NE(h.out.find("HA#0/ID00   HS0A1234  HC-3182W SUN18G     18.2  read             312      1       2        2402         511"),
              std::string::npos) << h.out;
    EXPECT_NE(h.out.find("HA#0/ID04   HS4D4567  HC-3182W            18.2  unreadable        97      0       -           -           -  The drive's error log could not be read"),
              std::string::npos) << h.out;
    EXPECT_NE(h.out.find("HA#0/ID05             XD-2000                -  other maker"), std::string::npos) << h.out;
    EXPECT_FALSE(fs::exists(folder / "HS0A1234.log"));  // no log, not even for the drive that failed at the scan
    EXPECT_FALSE(fs::exists(folder / "EM1B8901.log"));
    ExpectValid(json);
    ExpectPromtoolAccepts(metrics);
    const Json j = ReadJson(json);
    const std::string m = ReadAll(metrics);
    EXPECT_EQ(j["command"], "health");
    EXPECT_EQ(j["drives"].size(), 7u);
    for (const Json& d : j["drives"]) {
        const std::string who = "adapter=\"" + std::to_string(d["hostAdapter"].get<int>()) + "\",target=\"" +
                                std::to_string(d["targetId"].get<int>()) + "\"";
        SCOPED_TRACE(who);
        if (d["identity"]["vendorClass"] != "unsupported") {
            EXPECT_EQ(Metric(m, "tamro_drive_health_read", who), d["health"]["read"] ? 1 : 0);
        }
        EXPECT_EQ(d["health"]["problem"].is_null(), d["health"]["read"].get<bool>());
        if (d["defects"]["grown"].is_number()) {
            EXPECT_EQ(Metric(m, "tamro_drive_grown_defects", who), d["defects"]["grown"].get<double>());
        }
        if (d["smartDataPage"].is_object()) {
            EXPECT_EQ(Metric(m, "tamro_drive_power_on_seconds_total", who),
                      d["smartDataPage"]["powerOnMinutes"].get<double>() * 60);
        }
    }
    EXPECT_EQ(Metric(m, "tamro_last_run_exit_status", "command=\"health\""), 2);
    EXPECT_TRUE(std::isnan(Metric(m, "tamro_drive_health_read", "adapter=\"0\",target=\"5\"")));  // another maker's

    fs::copy_file(metrics, folder / "h.prom.keep");
    const Outcome r = Cli({"run", "--mode", "quick", "--drives", "0:0,0:1", "--logs", folder.string(), "--json", json.string(),
                           "--metrics", metrics.string()}, folder);
    EXPECT_EQ(r.status, 1);
    ExpectValid(json);
    ExpectPromtoolAccepts(metrics);
    const Json run = ReadJson(json);
    const std::string rm = ReadAll(metrics);
    for (const Json& d : run["drives"]) {
        const std::string who = "serial=\"" + d["identity"]["serial"].get<std::string>() + "\"";
        EXPECT_EQ(Metric(rm, "tamro_drive_verdict", who + ",verdict=\"" + d["verdict"].get<std::string>() + "\""), 1);
        EXPECT_EQ(Metric(rm, "tamro_drive_primary_defects", who), d["defects"]["primary"].get<double>());
    }
    // The health check's file and the run's in one textfile folder: no
    // series twice.
    const std::string both = ReadAll(folder / "h.prom.keep") + rm;
    std::set<std::string> series;
    std::istringstream in(both);
    for (std::string line; std::getline(in, line);)
        if (line.starts_with("tamro_drive_")) {
            EXPECT_TRUE(series.insert(line.substr(0, line.rfind(' '))).second) << line;
        }
}

// A drive's text that is no UTF-8 is replaced in the JSON, not fatal; its
// labels stay printable.
TEST_F(CommandLine, TextOutsideAsciiIsReplaced) {
    DriveSlot& slot = DriveTable[0];
    slot.inquiryData[4] = 31;
    std::memcpy(slot.inquiryData + 8, "HALCYON HC-\xE9\x01", 13);
    slot.vendorClass = kVendorHalcyon;
    std::memcpy(slot.serialNumber, "HS0A1234", 9);
    driveCount = 1;
    cli::Results results;
    results.command = cli::Command::Scan;
    results.drives.push_back(cli::ScannedRow(0));
    const Json j = Json::parse(cli::ResultsJson(results, 0));
    EXPECT_NE(j["drives"][0]["line"].get<std::string>().find("HALCYON HC-??"), std::string::npos) << j["drives"][0];
    EXPECT_EQ(j["drives"][0]["identity"]["model"], "HALCYON HC-??");
    const fs::path metrics = folder / "odd.prom";
    std::ofstream(metrics) << cli::ResultsMetrics(results, 0);
    ExpectPromtoolAccepts(metrics);
}

// Two adapters of fifteen drives, through the demo's command line: every
// drive listed, tested, logged as when it is tested alone, and counted in
// the JSON, the metrics and the exit status.
TEST_F(CommandLine, EveryDriveOfAWideBusIsListedAndTested) {
    const auto demo = [&](std::vector<std::string> args, const fs::path& in) {
        args.insert(args.begin(), {"--bus", "wide"});
        return Cli(args, in, {}, TAMRO_CLI_DEMO);
    };
    const Outcome scan = demo({"scan", "--json", "-"}, folder);
    ASSERT_EQ(scan.status, 0) << scan.err;
    const Json listed = Json::parse(scan.out);
    std::vector<std::string> addresses;
    for (const Json& d : listed["drives"])
        if (d["state"] == "testable") addresses.push_back(d["address"]);
    ASSERT_EQ(addresses.size(), 30u);
    EXPECT_EQ(addresses.back(), "HA#1/ID15");
    EXPECT_EQ(std::count(addresses.begin(), addresses.end(), "HA#0/ID07"), 0);  // the adapter's own ID

    const fs::path all = folder / "all";
    fs::create_directories(all);
    const Outcome run = demo({"run", "--mode", "quick", "--logs", all.string(), "--json", (all / "r.json").string(),
                              "--metrics", (all / "r.prom").string()}, all);
    EXPECT_EQ(run.status, 1) << run.err;  // the last drive fails, and only it
    ExpectValid(all / "r.json");
    const Json json = ReadJson(all / "r.json");
    EXPECT_EQ(json["exitStatus"], 1);
    ASSERT_EQ(json["drives"].size(), 30u);
    const std::string metrics = ReadAll(all / "r.prom");
    for (const Json& d : json["drives"]) {
        const std::string address = d["address"];
        SCOPED_TRACE(address);
        EXPECT_EQ(d["verdict"], address == "HA#1/ID15" ? "FAIL" : "PASS");
        EXPECT_NE(run.err.find(address + "  " + d["verdict"].get<std::string>()), std::string::npos);
        const std::string who = "serial=\"" + d["identity"]["serial"].get<std::string>() + "\"";
        const std::string verdict = d["verdict"];
        EXPECT_EQ(Metric(metrics, "tamro_drive_verdict", who + ",verdict=\"" + verdict + "\""), 1);
    }
    const auto logs = Logs(all);
    ASSERT_EQ(logs.size(), 30u);

    // Each drive alone gives the log it gave among the thirty.
    for (const std::string& address : addresses) {
        SCOPED_TRACE(address);
        const int ha = std::stoi(address.substr(3, 1)), id = std::stoi(address.substr(7));
        const fs::path alone = folder / ("alone" + std::to_string(ha) + "-" + std::to_string(id));
        fs::create_directories(alone);
        const Outcome one = demo({"run", "--mode", "quick", "--drives", std::to_string(ha) + ":" + std::to_string(id),
                                  "--logs", alone.string()}, alone);
        EXPECT_EQ(one.status, address == "HA#1/ID15" ? 1 : 0) << one.err;
        const auto mine = Logs(alone);
        ASSERT_EQ(mine.size(), 1u);
        ASSERT_EQ(logs.count(mine.begin()->first), 1u) << mine.begin()->first;
        EXPECT_EQ(logs.at(mine.begin()->first), mine.begin()->second);
    }

    const Outcome health = demo({"health", "--json", "-"}, folder);
    EXPECT_EQ(health.status, 0) << health.err;
    EXPECT_EQ(Json::parse(health.out)["drives"].size(), 30u);
    // The bus it was made wide with is the demo's alone.
    EXPECT_EQ(Json::parse(Cli({"scan", "--json", "-"}, folder).out)["drives"].size(), 7u);
}

// A reason longer than the column's usual width (a drive of another series)
// widens it: every log stays in one column.
TEST(CommandLineSummary, EveryLogStaysInOneColumn) {
    cli::Results results;
    results.command = cli::Command::Run;
    const char* reasons[] = {"This drive can not be judged due to other than Corvid series.",
                             "This drive seems to have no problem."};
    for (int s = 0; s < 2; ++s) {
        auto report = std::make_shared<DriveReport>();
        report->kind = ReportKind::Run;
        report->judged.targetId = s;
        report->judged.runFlags = s == 0 ? kFlagNoJudge : kFlagPass;
        std::snprintf(report->judged.comment, sizeof report->judged.comment, "%s", reasons[s]);
        report->logPath = s == 0 ? "L0" : "L1";
        results.drives.push_back(cli::DriveRow{"", SlotState::Testable, report});
    }
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    cli::PrintSummary(out, results);
    std::rewind(out);
    std::vector<std::size_t> columns;
    for (char line[256]; std::fgets(line, sizeof line, out) != nullptr;)
        columns.push_back(std::string_view(line).rfind(' ') + 1);
    std::fclose(out);
    const std::size_t column = 10 + 2 + 11 + 2 + std::strlen(reasons[0]) + 2;
    EXPECT_EQ(columns, (std::vector<std::size_t>{column, column, column}));
}

}  // namespace
}  // namespace tamro::test
