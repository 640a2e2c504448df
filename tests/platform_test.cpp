// The platform stand-ins: module loading, the completion event, time texts.
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/completion_event.h"
#include "platform/dynamic_library.h"
#include "platform/folders.h"
#include "platform/time_text.h"
#include "temp_folder.h"

namespace tamro::test {
namespace {

using namespace std::chrono;
using platform::WaitResult;

TEST(ModuleLoading, FindsTheLibraryBesideTheExecutable) {
    platform::ModuleHandle m = platform::LoadModule("wnaspi32");
    ASSERT_NE(m, nullptr);
    EXPECT_NE(platform::FindEntryPoint(m, "GetASPI32SupportInfo"), nullptr);
    EXPECT_NE(platform::FindEntryPoint(m, "SendASPI32Command"), nullptr);
    EXPECT_EQ(platform::FindEntryPoint(m, "NoSuchEntryPoint"), nullptr);
    platform::ReleaseModule(m);
    EXPECT_EQ(platform::LoadModule("no_such_module_anywhere"), nullptr);
    EXPECT_EQ(platform::FindEntryPoint(nullptr, "SendASPI32Command"), nullptr);
    EXPECT_FALSE(platform::ExecutableFolder().empty());
}

TEST(CompletionEventTest, StartsClearAndTimesOutNoEarlierThanAsked) {
    auto e = platform::CreateCompletionEvent();
    ASSERT_TRUE(e);
    for (std::uint32_t ms : {0u, 1u, 15u}) {
        const auto start = steady_clock::now();
        EXPECT_EQ(e->Wait(ms), WaitResult::TimedOut);
        EXPECT_GE(steady_clock::now() - start, milliseconds(ms));
    }
}

TEST(CompletionEventTest, ResetsItselfAfterAWait) {
    auto e = platform::CreateCompletionEvent();
    ASSERT_TRUE(e->Signal());
    ASSERT_TRUE(e->Signal());  // two completions before the wait still count once
    EXPECT_EQ(e->Wait(0), WaitResult::Signalled);
    EXPECT_EQ(e->Wait(0), WaitResult::TimedOut);
}

TEST(CompletionEventTest, ResetDropsAPendingSignal) {
    auto e = platform::CreateCompletionEvent();
    EXPECT_TRUE(e->Reset());
    e->Signal();
    EXPECT_TRUE(e->Reset());
    EXPECT_EQ(e->Wait(0), WaitResult::TimedOut);
}

// What a library does with SRB_PostProc to complete a request: SetEvent on
// the Win32 event, a write of 1 to the eventfd on Linux.
bool SignalAsALibraryDoes(void* handle) {
#ifdef _WIN32
    return SetEvent(static_cast<HANDLE>(handle)) != 0;
#else
    const std::uint64_t one = 1;
    return write(static_cast<int>(reinterpret_cast<std::intptr_t>(handle)), &one, sizeof one) == 8;
#endif
}

TEST(CompletionEventTest, ALibraryCompletesThroughTheHandle) {
    auto e = platform::CreateCompletionEvent();
    std::thread library([handle = e->Handle()] {
        std::this_thread::sleep_for(milliseconds(20));
        ASSERT_TRUE(SignalAsALibraryDoes(handle));
    });
    EXPECT_EQ(e->Wait(5000), WaitResult::Signalled);
    library.join();
}

TEST(CompletionEventTest, AWaiterThatLosesTheRaceKeepsWaiting) {
    auto e = platform::CreateCompletionEvent();
    // Both waiters see the one signal; the one that loses the read must go on
    // waiting for its own time-out, not fail. (One blocking for ever hangs
    // the test; a bound in seconds would depend on the machine's load.)
    WaitResult results[2];
    steady_clock::duration took[2];
    auto waiter = [&](int i) {
        const auto start = steady_clock::now();
        results[i] = e->Wait(300);
        took[i] = steady_clock::now() - start;
    };
    std::thread a(waiter, 0), b(waiter, 1);
    std::this_thread::sleep_for(milliseconds(30));
    e->Signal();
    a.join();
    b.join();
    const int winner = results[0] == WaitResult::Signalled ? 0 : 1;
    EXPECT_EQ(results[winner], WaitResult::Signalled);
    EXPECT_EQ(results[1 - winner], WaitResult::TimedOut);
    EXPECT_GE(took[1 - winner], milliseconds(300));
}

TEST(TimeText, IsTwentyFourCharactersWithEnglishNames) {
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_wday = 2;
    t.tm_hour = 2;
    t.tm_min = 5;
    t.tm_sec = 9;
    EXPECT_EQ(platform::FormatTimeText(t), "Tue Dec 08 02:05:09 2026");
    t.tm_mon = 0;
    t.tm_mday = 31;
    t.tm_wday = 0;
    t.tm_hour = 23;
    t.tm_year = 1999 - 1900;
    EXPECT_EQ(platform::FormatTimeText(t), "Sun Jan 31 23:05:09 1999");
}

TEST(TimeText, LocalTimeIgnoresTheLocale) {
    std::setlocale(LC_ALL, "");
    const std::string text = platform::LocalTimeText(std::time_t{0});
    std::setlocale(LC_ALL, "C");
    ASSERT_EQ(text.size(), 24u);
    EXPECT_NE(std::string("SunMonTueWedThuFriSat").find(text.substr(0, 3)), std::string::npos);
    EXPECT_EQ(text[3], ' ');
    EXPECT_EQ(text[7], ' ');
    EXPECT_EQ(text[13], ':');
    EXPECT_EQ(text[16], ':');
    EXPECT_EQ(platform::LocalTimeText().size(), 24u);
}

// A file replaced whole: its old mode kept (a new one readable by others),
// no part file left, and nothing made where the folder is missing.
TEST(FileWrittenWhole, KeepsTheModeAndLeavesNoPart) {
    namespace fs = std::filesystem;
    const fs::path folder = MakeTempFolder("tamro-whole");
    const fs::path kept = folder / "kept.json", fresh = folder / "fresh.prom";
    { std::ofstream(kept) << "old"; }
#ifndef _WIN32
    ASSERT_EQ(chmod(kept.c_str(), 0640), 0);
#endif
    ASSERT_TRUE(platform::WriteFileWhole(kept.string(), "new text"));
    ASSERT_TRUE(platform::WriteFileWhole(fresh.string(), std::string(100000, 'x')));
    {
        std::ifstream in(kept);  // closed before the folder goes: Windows would not remove an open file
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new text");
    }
    EXPECT_EQ(fs::file_size(fresh), 100000u);
#ifndef _WIN32
    struct stat st {};
    ASSERT_EQ(stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ASSERT_EQ(stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
#endif
    EXPECT_FALSE(platform::WriteFileWhole((folder / "missing" / "x.json").string(), "x"));
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(folder)) files += e.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 2);
    fs::remove_all(folder);
}

}  // namespace
}  // namespace tamro::test
