// The program's own scan, slot display and runs on a real kernel SCSI stack:
// runs inside the QEMU guest against whichever wnaspi32 lies beside it and
// writes what the program saw into a results folder that the host checks.
//
//   tamro_guest <results-folder>
//       a scan, the slot display and a Quick run of the ticked drives;
//   tamro_guest <results-folder> <control-line>
//       scan, Quick run, scan, Standard run, scan, then a Standard run of the
//       drive the host throttled and one of the drive it removed, with short
//       waits. At each "step" line written to the control line it waits for
//       the host's "go", so that the host can change the bus in between; the
//       first "go" names the two drives (serial numbers) to be changed.
//
// Files (tab-separated key=value records): <scan>-table.txt, <scan>-slots.txt,
// adapters.txt, bytes.txt, <run>/run.txt and the run's drive logs in <run>/.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/run_driver.h"
#include "discovery/drive_table.h"
#include "discovery/scan.h"
#include "discovery/slot_display.h"
#include "reports/drive_log.h"
#include "transport/aspi.h"
#include "transport/commands.h"
#include "ui/window_model.h"

namespace {

namespace fs = std::filesystem;
using namespace tamro;
using ui::ControlId;
using Clock = std::chrono::steady_clock;

// Short enough that a stalled request ends a run in seconds, long enough
// for every command of a healthy emulated disk.
constexpr AspiWaits kShortWaits{3000, 6000, 6000};

std::string Hex(const std::uint8_t* data, std::size_t length) {
    std::string out;
    char byte[3];
    for (std::size_t i = 0; i < length; ++i) {
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
    }
    return out;
}

// One line of key=value fields; texts keep their blanks, tabs never occur.
class Record {
public:
    template <class Value>
    Record& operator()(const char* key, const Value& value) {
        std::ostringstream s;
        s << value;
        line_ += (line_.empty() ? "" : "\t") + std::string(key) + "=" + s.str();
        return *this;
    }
    const std::string& Line() const { return line_; }

private:
    std::string line_;
};

class Results {
public:
    explicit Results(fs::path folder) : folder_(std::move(folder)) { fs::create_directories(folder_); }
    const fs::path& Folder() const { return folder_; }
    void Write(const std::string& file, const std::vector<Record>& records) const {
        std::ofstream out(folder_ / file);
        for (const Record& r : records) out << r.Line() << "\n";
    }

private:
    fs::path folder_;
};

int FilledSlots() { return driveCount < kSlotCount ? driveCount : kSlotCount; }

std::vector<Record> DriveTableRecords() {
    std::vector<Record> out;
    for (int s = 0; s < FilledSlots(); ++s) {
        const DriveSlot& d = DriveTable[static_cast<std::size_t>(s)];
        out.push_back(Record()("slot", s)("ha", d.hostAdapter)("id", d.targetId)("class", d.vendorClass)(
            "layout", d.logLayout)("kind", d.errorKind)("serial", d.serialNumber)("block", d.blockSize)(
            "lastlba", d.lastLba)("lasterror", d.lastError)("comment", d.comment)("inquiry", Hex(d.inquiryData, 80)));
    }
    return out;
}

std::vector<Record> SlotRecords() {
    std::vector<Record> out;
    ui::WindowModel& form = ui::Form();
    for (std::size_t row = 0; row < ui::kSlotRows; ++row) {
        const ui::Rgb c = form.FontColor(ui::kSlotLines[row]);
        out.push_back(Record()("row", row)("line", form.Caption(ui::kSlotLines[row]))(
            "color", std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b))(
            "judge", form.Caption(ui::kJudgeLabels[row]))("ticked", form.IsChecked(ui::kSelectBoxes[row]) ? 1 : 0));
    }
    return out;
}

// Every few seconds while a phase lasts, the status line and the JUDGE
// labels on the console: where a guest got stuck is then in the host's log.
class Progress {
public:
    explicit Progress(std::string phase) : phase_(std::move(phase)), thread_([this] { Watch(); }) {}
    ~Progress() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(15), [this] { return done_; })) {
            std::string judges;
            for (ControlId j : ui::kJudgeLabels) judges += "[" + ui::Form().Caption(j) + "]";
            std::printf("%s: %s %s\n", phase_.c_str(), ui::Form().Caption(ControlId::DCONF).c_str(), judges.c_str());
            std::fflush(stdout);
        }
    }
    std::string phase_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// The scan worker's body and the slot display, as start-up and ACCEPT run them.
bool Scan(const Results& results, const std::string& name) {
    ui::Form().Reset();
    {
        const Progress progress(name);
        Startthread::Execute();
    }
    if (ui::Form().IsVisible(ControlId::ALARM)) {
        std::fprintf(stderr, "scan failed: %s\n", ui::Form().Caption(ControlId::error).c_str());
        return false;
    }
    ShowSlots();
    results.Write(name + "-table.txt", DriveTableRecords());
    results.Write(name + "-slots.txt", SlotRecords());
    return true;
}

void WriteAdapters(const Results& results) {
    std::vector<Record> out;
    const int adapters = AspiInit();
    for (int a = 0; a < adapters; ++a) {
        std::uint8_t info[48] = {};
        HaInquiry(static_cast<std::uint8_t>(a), info);
        std::string identifier(reinterpret_cast<const char*>(info + 16), 16);
        identifier.erase(identifier.find_last_not_of(' ') + 1);
        out.push_back(Record()("ha", a)("identifier", identifier)("targets", int{info[32 + 3]}));
    }
    results.Write("adapters.txt", out);
}

// What the program's own command functions read from each drive found, for
// comparison with sg3-utils. Failures land in the spare record past the
// table, so the slots stay as the scan left them.
void WriteBytes(const Results& results) {
    std::vector<Record> out;
    for (int s = 0; s < FilledSlots(); ++s) {
        const DriveSlot& d = DriveTable[static_cast<std::size_t>(s)];
        const auto ha = static_cast<std::uint8_t>(d.hostAdapter), id = static_cast<std::uint8_t>(d.targetId);
        currentSlot = kSlotCount;
        std::uint8_t capacity[8] = {}, page01[16] = {}, page08[24] = {};
        const int rc = ReadCapacity10(ha, id, capacity);
        const int m1 = ModeSense6(ha, id, page01, 0x01, sizeof page01);
        const int m8 = ModeSense6(ha, id, page08, 0x08, sizeof page08);
        out.push_back(Record()("ha", d.hostAdapter)("id", d.targetId)("inquiry", Hex(d.inquiryData, 80))(
            "capacity", rc == 0 ? Hex(capacity, 8) : "failed")("mode01", m1 == 0 ? Hex(page01, 16) : "failed")(
            "mode08", m8 == 0 ? Hex(page08, 24) : "failed"));
    }
    results.Write("bytes.txt", out);
}

// When each slot's JUDGE label showed "Run." and then its verdict, watched
// from the side so that the run itself is left alone.
class JudgeWatch {
public:
    JudgeWatch() : thread_([this] { Watch(); }) {}
    ~JudgeWatch() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    double Seconds(int slot) const {
        const auto& t = times_[static_cast<std::size_t>(slot)];
        if (t.begun == Clock::time_point{} || t.ended == Clock::time_point{}) return -1;
        return std::chrono::duration<double>(t.ended - t.begun).count();
    }

private:
    struct Times {
        Clock::time_point begun, ended;
    };
    void Watch() {
        while (!stop_) {
            Sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        Sample();
    }
    void Sample() {
        for (std::size_t row = 0; row < ui::kSlotRows; ++row) {
            const std::string judge = ui::Form().Caption(ui::kJudgeLabels[row]);
            Times& t = times_[row];
            if (judge == "Run.") {
                if (t.begun == Clock::time_point{}) t.begun = Clock::now();
            } else if (t.begun != Clock::time_point{} && t.ended == Clock::time_point{}) {
                t.ended = Clock::now();
            }
        }
    }
    std::atomic<bool> stop_{false};
    Times times_[ui::kSlotRows]{};
    std::thread thread_;
};

enum class Mode { Quick, Standard };

// A run of the ticked drives from its own folder, where the logs land.
void Run(const Results& results, const std::string& name, Mode mode) {
    ui::WindowModel& form = ui::Form();
    form.SetChecked(ControlId::ExtTest, false);
    form.SetChecked(ControlId::StdTest, mode == Mode::Standard);
    form.SetChecked(ControlId::SmtTest, mode == Mode::Quick);
    writePermitted = 0;
    const fs::path folder = results.Folder() / name;
    fs::create_directories(folder);
    const fs::path previous = fs::current_path();
    fs::current_path(folder);

    std::vector<bool> ticked;
    for (int s = 0; s < FilledSlots(); ++s) ticked.push_back(form.IsChecked(ui::kSelectBoxes[s]));
    const auto start = Clock::now();
    Runthread::Outcome outcome;
    std::vector<double> seconds;
    {
        const Progress progress(name);
        JudgeWatch watch;
        outcome = Runthread::Execute();
        watch.Stop();
        for (int s = 0; s < FilledSlots(); ++s) seconds.push_back(watch.Seconds(s));
    }
    const double total = std::chrono::duration<double>(Clock::now() - start).count();
    fs::current_path(previous);

    std::vector<Record> out;
    out.push_back(Record()("run", name)("outcome", outcome == Runthread::Outcome::Finished ? "finished" : "stopped")(
        "seconds", total)("status", form.Caption(ControlId::DCONF)));
    for (int s = 0; s < FilledSlots(); ++s) {
        const DriveSlot& d = DriveTable[static_cast<std::size_t>(s)];
        const std::string log = LogFileName(d.serialNumber);
        out.push_back(Record()("slot", s)("ha", d.hostAdapter)("id", d.targetId)("ticked", ticked[s] ? 1 : 0)(
            "judge", form.Caption(ui::kJudgeLabels[s]))("kind", d.errorKind)("flags", d.runFlags)(
            "comment", d.comment)("lasterror", d.lastError)("blocksread", d.blocksRead)("seeks", d.seekCount)(
            "seconds", seconds[s])("log", fs::exists(folder / log) ? log : std::string()));
    }
    results.Write(name + "/run.txt", out);
    std::printf("run %s: %.1f s\n", name.c_str(), total);
    std::fflush(stdout);
}

// Ticks exactly the drive with this serial number; false when none has it.
bool TickOnly(const std::string& serial) {
    bool found = false;
    for (int s = 0; s < FilledSlots(); ++s) {
        const bool match = serial == DriveTable[static_cast<std::size_t>(s)].serialNumber;
        ui::Form().SetChecked(ui::kSelectBoxes[s], match);
        found = found || match;
    }
    return found;
}

void Untick(const std::string& serial) {
    for (int s = 0; s < FilledSlots(); ++s)
        if (serial == DriveTable[static_cast<std::size_t>(s)].serialNumber) ui::Form().Uncheck(ui::kSelectBoxes[s]);
}

// The line to the host: "step <name>" out, "go [words...]" back.
class Control {
public:
    explicit Control(const char* device) : fd_(open(device, O_RDWR | O_NOCTTY | O_CLOEXEC)) {
        termios t{};
        if (fd_ >= 0 && tcgetattr(fd_, &t) == 0) {
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~Control() {
        if (fd_ >= 0) close(fd_);
    }
    bool Ok() const { return fd_ >= 0; }

    std::vector<std::string> Step(const std::string& name) {
        std::printf("step %s\n", name.c_str());
        std::fflush(stdout);
        const std::string line = "step " + name + "\n";
        if (write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size())) return {};
        std::string reply;
        char c;
        while (read(fd_, &c, 1) == 1 && c != '\n') reply += c;
        std::istringstream words(reply);
        std::vector<std::string> out;
        for (std::string w; words >> w;) out.push_back(w);
        if (out.empty() || out[0] != "go") return {};
        out.erase(out.begin());
        return out;
    }

private:
    int fd_;
};

int Plain(const Results& results) {
    if (!Scan(results, "scan")) return 1;
    Run(results, "quick", Mode::Quick);
    return 0;
}

int WithHost(const Results& results, Control& control) {
    if (!Scan(results, "scan1")) return 1;
    WriteAdapters(results);
    WriteBytes(results);
    // The host removes a disk now and names the two it will change later.
    const std::vector<std::string> later = control.Step("scanned");
    if (later.size() != 2) return 1;
    const std::string& throttled = later[0];
    const std::string& removed = later[1];
    Run(results, "quick", Mode::Quick);
    if (!Scan(results, "scan2")) return 1;
    Untick(throttled);  // its Standard run comes throttled
    Run(results, "standard", Mode::Standard);

    // Each drive is run as the scan before the change found it.
    if (!Scan(results, "scan3")) return 1;
    testing::SetAspiWaits(kShortWaits);
    control.Step("throttle");
    if (TickOnly(throttled)) Run(results, "throttled", Mode::Standard);
    control.Step("remove");
    if (TickOnly(removed)) Run(results, "removed", Mode::Standard);
    control.Step("done");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <results-folder> [<control-line>]\n", argv[0]);
        return 2;
    }
    const Results results{fs::path(argv[1])};
    if (argc < 3) return Plain(results);
    Control control(argv[2]);
    if (!control.Ok()) {
        std::perror(argv[2]);
        return 1;
    }
    return WithHost(results, control);
}
