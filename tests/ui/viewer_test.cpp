// The text viewer: on Linux started without a shell, with the log's name as
// its one argument; on Windows through WinExec with the command line
// "notepad %s.log".
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>
#include <sstream>

#include "platform/dynamic_library.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

// What the stand-in viewer wrote down, once it has. Under Wine, on a busy
// machine, a renamed file was seen before its bytes were, and once opened
// as empty: wait until a read gives its bytes.
std::string TakeWrittenFile(const std::filesystem::path& file) {
    std::string text;
    const auto read = [&] {
        std::ifstream in(file, std::ios::binary);
        if (!in) return false;
        std::stringstream bytes;
        bytes << in.rdbuf();
        text = bytes.str();
        return !text.empty();
    };
    if (!WaitUntil(read, std::chrono::seconds(20))) return "";
    std::filesystem::remove(file);
    return text;
}

#ifdef _WIN32

// WinExec looks for notepad.exe in the current folder before the system's
// folders: a stand-in there writes down the command line it was given.
class SystemViewer : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        platform::testing::SetViewerLauncher(nullptr);  // the real one
        std::filesystem::copy_file(std::filesystem::path(platform::ExecutableFolder()) / "fake_notepad.exe",
                                   folder_ / "notepad.exe");
    }
};

TEST_F(SystemViewer, NotepadGetsTheLogsName) {
    platform::StartTextViewer("HS0A1234.log");
    EXPECT_EQ(TakeWrittenFile(folder_ / "command_line"), "notepad HS0A1234.log");
}

#else

class SystemViewer : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        platform::testing::SetViewerLauncher(nullptr);  // the real one
        // A stand-in viewer: it writes down its arguments.
        const std::string script = (folder_ / "viewer").string();
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" << (folder_ / "args.tmp").string()
                              << "\"\nmv \"" << (folder_ / "args.tmp").string() << "\" \""
                              << (folder_ / "args").string() << "\"\n";
        chmod(script.c_str(), 0755);
        platform::testing::SetViewerProgram(script);
    }
    void TearDown() override {
        platform::testing::SetViewerProgram("");
        WindowTest::TearDown();
    }

    std::string Arguments() { return TakeWrittenFile(folder_ / "args"); }
};

TEST_F(SystemViewer, TheNameIsOneArgumentAndNoShellReadsIt) {
    platform::StartTextViewer("HS0A1234.log");
    EXPECT_EQ(Arguments(), "1\nHS0A1234.log\n");

    platform::StartTextViewer("a b;touch pwned;$(touch pwned2).log");
    EXPECT_EQ(Arguments(), "1\na b;touch pwned;$(touch pwned2).log\n");
    EXPECT_FALSE(std::filesystem::exists(folder_ / "pwned"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "pwned2"));

    // The viewer takes no options: a name that looks like one arrives as it is.
    platform::StartTextViewer("-h.log");
    EXPECT_EQ(Arguments(), "1\n-h.log\n");
}

TEST_F(SystemViewer, AMissingViewerIsNotReported) {
    platform::testing::SetViewerProgram((folder_ / "missing").string());
    platform::StartTextViewer("HS0A1234.log");  // returns, nothing shown
    EXPECT_FALSE(std::filesystem::exists(folder_ / "args"));
}

#endif

}  // namespace
}  // namespace tamro::test
