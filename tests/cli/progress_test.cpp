// The command line's progress: on a terminal one line per drive that never
// wraps, at any width and any number of drives; in a pipe a line from each
// drive at work at least every heartbeat, however long its phase.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cli_front_end.h"
#include "discovery/drive_table.h"

namespace tamro::test {
namespace {

using cli::CliFrontEnd;
using namespace std::chrono_literals;

// A table of `drives` addressed as two adapters of fifteen would be.
void Table(int drives) {
    ClearDriveTable();
    GrowTableTo(drives - 1);
    for (int s = 0; s < drives; ++s) {
        Slot(s).hostAdapter = s / 15;
        Slot(s).targetId = s % 15 < 7 ? s % 15 : s % 15 + 1;
    }
}

std::string Contents(std::FILE* f) {
    std::rewind(f);
    std::string text;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) text += static_cast<char>(c);
    return text;
}

// What a terminal shows of each line: the escape sequences left out.
std::vector<std::string> ShownLines(const std::string& text) {
    std::vector<std::string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b') {
            while (i < text.size() && !std::isalpha(static_cast<unsigned char>(text[i]))) ++i;
        } else if (text[i] == '\n') {
            lines.emplace_back();
        } else if (text[i] != '\r') {
            lines.back() += text[i];
        }
    }
    lines.pop_back();
    return lines;
}

TEST(Progress, ABarLineNeverReachesTheTerminalsLastColumn) {
    const std::string phase = "** Random Seek Read **  with a long tail that no terminal has room for at all";
    for (int columns : {12, 40, 60, 80, 132})
        for (int position : {0, 333, 1000})
            for (const char* name : {"HA#0/ID00", "HA#15/ID15"}) {
                const std::string line = cli::BarLine(name, position, "1:02:03", phase, columns);
                EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 1)) << columns << " " << line;
                EXPECT_EQ(line.rfind(name, 0), 0u) << line;
            }
    // Room enough: the bar, the percentage, the time and the whole phase;
    // at 60 columns a shorter bar, the phase still whole.
    const std::string wide = cli::BarLine("HA#0/ID00", 500, "0:00:07", "** Random Seek Read **", 80);
    EXPECT_NE(wide.find("[###############...............]  50% 0:00:07  ** Random Seek Read **"), std::string::npos)
        << wide;
    const std::string narrow = cli::BarLine("HA#0/ID00", 500, "0:00:07", "** Random Seek Read **", 60);
    EXPECT_TRUE(narrow.ends_with("]  50% 0:00:07  ** Random Seek Read **")) << narrow;
    EXPECT_NE(narrow.find("[#####"), std::string::npos) << narrow;
}

TEST(Progress, ThirtyDrivesAreDrawnOverThemselvesAtEverySize) {
    Table(30);
    struct Size {
        int columns, rows;
        std::size_t lines;  // each drawing's
    };
    // A terminal of 24 lines: 22 drives and one line for the other eight.
    for (const Size size : {Size{80, 0, 30}, Size{60, 0, 30}, Size{80, 24, 23}}) {
        SCOPED_TRACE(std::to_string(size.columns) + "x" + std::to_string(size.rows));
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        cli::DisplayEnvironment env;
        env.columns = [size] { return size.columns; };
        env.rows = [size] { return size.rows; };
        env.out = out;
        CliFrontEnd front(CliFrontEnd::Display::Bars, TestMode::Standard, "", env);
        front.Choose(std::vector<bool>(30, true));
        for (int s = 0; s < 30; ++s) front.Status(s, "** Random Seek Read **  LBA=00012345", Tone::Unchanged, true);
        front.Judge(29, "PASS", Tone::Unchanged, true);
        front.Tick();
        const std::string text = Contents(out);
        std::fclose(out);
        const std::vector<std::string> lines = ShownLines(text);
        for (const std::string& line : lines) EXPECT_LT(line.size(), static_cast<std::size_t>(size.columns)) << line;
        // Each drawing after the first goes back up over the lines before
        // it, and no further.
        std::vector<std::string> ups;
        for (std::size_t at = text.find("\x1b["); at != std::string::npos; at = text.find("\x1b[", at + 1)) {
            const std::size_t end = text.find_first_not_of("0123456789", at + 2);
            if (end != std::string::npos && end > at + 2 && text[end] == 'A')
                ups.push_back(text.substr(at + 2, end - at - 2));
        }
        ASSERT_EQ(lines.size() % size.lines, 0u);
        EXPECT_EQ(ups, std::vector<std::string>(lines.size() / size.lines - 1, std::to_string(size.lines)));
        if (size.rows != 0) {
            EXPECT_EQ(lines.back(), "... 8 more drives, 1 of them judged");
        }
    }
}

TEST(Progress, InAPipeEachDriveAtWorkSaysWhereItIsEveryHeartbeat) {
    Table(3);
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    auto now = cli::ProgressClock::time_point{} + 1h;
    cli::DisplayEnvironment env;
    env.now = [&now] { return now; };
    env.out = out;
    CliFrontEnd front(CliFrontEnd::Display::Lines, TestMode::Standard, "", env);
    front.Choose({true, true, false});
    front.Status(0, "** Random Seek Read **  LBA=00000010", Tone::Unchanged, true);
    front.Progress(0, Bar::Test, 420, true);
    front.Status(2, "** Random Seek Read **", Tone::Unchanged, true);  // not chosen
    now += 29s;
    front.Tick();
    now += 2s;
    front.Tick();  // 31 s silent: drive 0 reports; drive 1 has not begun
    front.Judge(0, "PASS", Tone::Unchanged, true);
    now += 90s;
    front.Tick();  // judged: nothing more to say
    const std::vector<std::string> lines = ShownLines(Contents(out));
    std::fclose(out);
    EXPECT_EQ(lines, (std::vector<std::string>{"HA#0/ID00  ** Random Seek Read **    0%  0:00:00",
                                               "HA#0/ID00  ** Random Seek Read **   42%  0:00:31",
                                               "HA#0/ID00  PASS  100%  0:00:31"}));
}

}  // namespace
}  // namespace tamro::test
