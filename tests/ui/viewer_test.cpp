// The system's text viewer is started with the log's name as its one
// argument, never through a shell.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "window_fixture.h"

namespace tamro::test {
namespace {

class SystemViewer : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        platform::testing::SetViewerLauncher(nullptr);  // the real one
        // A stand-in xdg-open first on the PATH: it writes down its arguments.
        const std::string script = (folder_ / "xdg-open").string();
        std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > \"" << (folder_ / "args.tmp").string()
                              << "\"\nmv \"" << (folder_ / "args.tmp").string() << "\" \""
                              << (folder_ / "args").string() << "\"\n";
        chmod(script.c_str(), 0755);
        const char* path = std::getenv("PATH");
        oldPath_ = path ? path : "";
        setenv("PATH", (folder_.string() + ":" + oldPath_).c_str(), 1);
    }
    void TearDown() override {
        setenv("PATH", oldPath_.c_str(), 1);
        WindowTest::TearDown();
    }

    std::string Arguments() {
        const auto file = folder_ / "args";
        if (!WaitUntil([&] { return std::filesystem::exists(file); }, std::chrono::seconds(20))) return "";
        std::stringstream text;
        text << std::ifstream(file).rdbuf();
        std::filesystem::remove(file);
        return text.str();
    }

    std::string oldPath_;
};

TEST_F(SystemViewer, TheNameIsOneArgumentAndNoShellReadsIt) {
    platform::StartTextViewer("HS0A1234.log");
    EXPECT_EQ(Arguments(), "1\nHS0A1234.log\n");

    platform::StartTextViewer("a b;touch pwned;$(touch pwned2).log");
    EXPECT_EQ(Arguments(), "1\na b;touch pwned;$(touch pwned2).log\n");
    EXPECT_FALSE(std::filesystem::exists(folder_ / "pwned"));
    EXPECT_FALSE(std::filesystem::exists(folder_ / "pwned2"));

    // Not taken for an option.
    platform::StartTextViewer("-h.log");
    EXPECT_EQ(Arguments(), "1\n./-h.log\n");
}

TEST_F(SystemViewer, AMissingViewerIsNotReported) {
    setenv("PATH", "/nonexistent", 1);
    platform::StartTextViewer("HS0A1234.log");  // returns, nothing shown
    EXPECT_FALSE(std::filesystem::exists(folder_ / "args"));
}

}  // namespace
}  // namespace tamro::test
