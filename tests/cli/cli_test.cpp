// tamro-cli as a script meets it: its results equal the window's whatever
// the number of drives at once, its refusals, and an interrupt that leaves
// no half-written log.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>

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
            const std::function<void(pid_t, const fs::path&)>& whileRunning = {}) {
    const fs::path out = folder / "stdout.txt", err = folder / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> all{TAMRO_CLI};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    Outcome o;
    if (posix_spawn(&pid, TAMRO_CLI, &actions, nullptr, argv.data(), environ) != 0) return o;
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

// A log without its times, a result file without times and folders.
std::string Untimed(std::string text) {
    text = Cut(Cut(std::move(text), "Start Time", '\r'), "Stop Time", '\r');
    text = Cut(Cut(std::move(text), "\"startTime\": \"", '"'), "\"stopTime\": \"", '"');
    return Cut(std::move(text), "\"log\": \"", '"', true);
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
    const std::string json = Untimed(ReadAll(one / "r.json"));
    EXPECT_EQ(Untimed(ReadAll(all / "r.json")), json);
    EXPECT_NE(json.find("\"address\": \"HA#0/ID01\", \"hostAdapter\": 0, \"targetId\": 1, \"vendor\": \"COMPAQ\""),
              std::string::npos);
    EXPECT_NE(json.find("\"verdict\": \"FAIL\""), std::string::npos);
    EXPECT_NE(json.find("\"log\": \"HS0A1234.log\""), std::string::npos) << json;
    EXPECT_NE(a.out.find("HA#1/ID00   PASS        This drive seems to have no problem."), std::string::npos) << a.out;
}

TEST_F(CommandLine, RefusalsAndTheListing) {
    const auto refused = [&](std::vector<std::string> args, const char* why) {
        const Outcome o = Cli(args, folder);
        EXPECT_EQ(o.status, 3) << why;
        EXPECT_NE(o.err.find(why), std::string::npos) << o.err;
    };
    refused({}, "no command given");
    refused({"run"}, "run needs --mode");
    refused({"run", "--mode", "quick", "--write"}, "add --yes-destroy-data to confirm");
    refused({"run", "--mode", "slow"}, "--mode must be");
    refused({"run", "--mode", "quick", "--drives", "0:1,16:0"}, "--drives needs a list");
    refused({"microcode", "image.frm"}, "add --yes-flash to confirm");
    refused({"scan", "--jobs", "2"}, "unexpected argument '--jobs'");
    EXPECT_EQ(Cli({"--help"}, folder).status, 0);

    const Outcome listing = Cli({"scan"}, folder);
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.out.find("HA#0/ID04  HALCYON HC-318    HA07 #HS4D4567         log unreadable"),
              std::string::npos) << listing.out;
    EXPECT_NE(listing.out.find("failed at the scan: Error: Start/Stop Unit: Check Condition."), std::string::npos);
    const Outcome json = Cli({"scan", "--json"}, folder);
    EXPECT_NE(json.out.find("\"state\": \"not identified\""), std::string::npos) << json.out;
    EXPECT_FALSE(fs::exists(folder / "EM1B8901.log"));  // a listing judges nobody

    // A drive named that the scan did not find is not judged.
    const Outcome missing = Cli({"run", "--mode", "quick", "--drives", "0:0,3:3", "--logs", folder.string()}, folder);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("no drive at 3:3"), std::string::npos);
    refused({"run", "--mode", "quick", "--drives", "3:3"}, "no drive to work on");
}

TEST_F(CommandLine, AnInterruptStopsWithWholeLogsOnly) {
    const Outcome o = Cli({"run", "--mode", "standard", "--logs", folder.string()}, folder,
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
    EXPECT_EQ(o.status, 1) << o.err;  // the drives that failed at once keep their verdict
    EXPECT_NE(o.err.find("stopping"), std::string::npos);
    EXPECT_NE(o.out.find("HA#0/ID00   not judged"), std::string::npos) << o.out;
    for (const auto& e : fs::directory_iterator(folder)) EXPECT_NE(e.path().extension(), ".part") << e.path();
    EXPECT_FALSE(fs::exists(folder / "HS0A1234.log"));
    EXPECT_TRUE(fs::exists(folder / "CQ1B2345.log"));
}

// A reason longer than the column's usual width (a drive of another series)
// widens it: every log stays in one column.
TEST(CommandLineSummary, EveryLogStaysInOneColumn) {
    cli::WorkDone work{"run", "standard"};
    const char* reasons[] = {"This drive can not be judged due to other than Corvid series.",
                             "This drive seems to have no problem."};
    for (int s = 0; s < 2; ++s) {
        DriveTable[s] = DriveSlot{};
        DriveTable[s].targetId = s;
        DriveTable[s].runFlags = s == 0 ? kFlagNoJudge : kFlagPass;
        std::snprintf(DriveTable[s].comment, sizeof DriveTable[s].comment, "%s", reasons[s]);
        work.reported[s] = true;
        work.logs[s] = "L" + std::to_string(s);
    }
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    cli::PrintSummary(out, work);
    std::rewind(out);
    std::vector<std::size_t> columns;
    for (char line[256]; std::fgets(line, sizeof line, out) != nullptr;)
        columns.push_back(std::string_view(line).rfind(' ') + 1);
    std::fclose(out);
    const std::size_t column = 10 + 2 + 10 + 2 + std::strlen(reasons[0]) + 2;
    EXPECT_EQ(columns, (std::vector<std::size_t>{column, column, column}));
}

}  // namespace
}  // namespace tamro::test
