// Ending the program while workers are at work: each worker stops at its
// next command, switches off the factory mode it switched on itself, sends
// nothing more and unwinds, so that whoever started it can wait for it.
#include <atomic>
#include <cstring>
#include <functional>
#include <thread>

#include "diagnostics/run_fixture.h"
#include "sim_fixture.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

// A worker of the test's own, on a lane of its own as the run's workers are.
// It ends at the stop, which joining it asks for if the test has not.
class Worker {
public:
    explicit Worker(std::function<void()> body)
        : thread_([body = std::move(body)] {
              LaneLease lane;
              try {
                  body();
              } catch (const CommandsStopped&) {
              }
          }) {}
    ~Worker() { Join(); }
    void Join() {
        if (!thread_.joinable()) return;
        RequestStopAtNextCommand();
        thread_.join();
    }

private:
    std::thread thread_;
};

bool IsFactory(const SimTraceEntry& e, const char* key) {
    return e.cdb[0] == 0xF0 && std::memcmp(&e.cdb[2], key, 7) == 0;
}
bool IsFactoryReset(const SimTraceEntry& e) { return IsFactory(e, TAMRO_FACTORY_OFF_KEY); }

class StopRequest : public SimBus {
protected:
    void SetUp() override {
        testing::ClearStopRequest();
        SimBus::SetUp();
    }
    void TearDown() override {
        reader.reset();
        testing::ClearStopRequest();
        SimBus::TearDown();
    }

    // A worker that switches factory mode on and then reads until the stop.
    void StartReader() {
        reader = std::make_unique<Worker>([this] {
            std::uint8_t buffer[512];
            FactorySet10(0, 0, 1);
            for (;;) {
                Read10(0, 0, 0, 512, 1, buffer);
                ++reads;
            }
        });
    }

    std::atomic<int> reads{0};
    std::unique_ptr<Worker> reader;
};

TEST_F(StopRequest, TheWorkerClosesFactoryModeAndSendsNothingMore) {
    sim_set_service_time_us(1000);
    const int stoppedBefore = testing::StoppedCommandThreads();
    StartReader();
    ASSERT_TRUE(WaitUntil([this] { return reads >= 3; }));
    ASSERT_EQ(sim_disk_factory_mode(0, 0), 1);
    EXPECT_TRUE(testing::FactoryModeLeftOn(0, 0));

    RequestStopAtNextCommand();
    ASSERT_TRUE(WaitForCommandsToSettle(std::chrono::seconds(10)));
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
    EXPECT_FALSE(testing::FactoryModeLeftOn(0, 0));
    ASSERT_TRUE(WaitUntil([&] { return testing::StoppedCommandThreads() == stoppedBefore + 1; }));

    const auto trace = Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_TRUE(IsFactoryReset(trace.back()));
    const int readsAtStop = reads;
    reader->Join();
    EXPECT_EQ(sim_trace_count(), trace.size());
    EXPECT_EQ(reads, readsAtStop);
}

TEST_F(StopRequest, ACommandThatNeverEndsIsWaitedForOnlyUpToItsTimeOut) {
    testing::SetAspiWaits(AspiWaits{300, 300, 300});
    SimFault hang = NextFault(0x28);
    hang.never_complete = 1;
    ASSERT_EQ(sim_add_fault(0, 0, &hang), 0);
    StartReader();
    ASSERT_TRUE(WaitUntil([] {
        for (const auto& e : Trace())
            if (e.cdb[0] == 0x28) return true;
        return false;
    }));

    RequestStopAtNextCommand();
    // The read is still waiting for its answer, with factory mode on.
    EXPECT_FALSE(WaitForCommandsToSettle(std::chrono::milliseconds(50)));
    // Its time-out ends it; the next command is the closing ReSet.
    ASSERT_TRUE(WaitForCommandsToSettle(std::chrono::seconds(10)));
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 0);
    EXPECT_TRUE(IsFactoryReset(Trace().back()));
    EXPECT_EQ(reads, 1);
}

// Two workers on two drives: the library still holds one's Factory Set when
// the other meets the stop. The other switches off its own drive only; the
// first switches off its drive once its Set has come back.
TEST_F(StopRequest, EachWorkerSwitchesOffOnlyWhatItSwitchedOn) {
    SimDiskConfig cfg;
    sim_disk_config_init(&cfg);
    ASSERT_EQ(sim_add_disk(0, 1, &cfg), 0);
    SimFault held = NextFault(0xF0);
    held.complete_after_ms = SIM_LATE_UNTIL_RELEASED;
    ASSERT_EQ(sim_add_fault(0, 0, &held), 0);
    const int stoppedBefore = testing::StoppedCommandThreads();

    std::atomic<bool> opened{false};
    Worker other([&] {
        FactorySet10(0, 1, 1);
        opened = true;
        while (!StopRequested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Rezero6(0, 1);
    });
    ASSERT_TRUE(WaitUntil([&] { return opened.load(); }));
    std::atomic<std::size_t> sentBeforeSetCameBack{0};
    Worker holder([&] {
        FactorySet10(0, 0, 1);
        sentBeforeSetCameBack = sim_trace_count();
        Rezero6(0, 0);
    });

    ASSERT_TRUE(WaitUntil([] { return sim_held_requests(0, 0) == 1; }));

    // What a second interrupt names while it waits.
    const std::vector<CommandInFlight> inFlight = CommandsInFlight();
    ASSERT_EQ(inFlight.size(), 1u);
    EXPECT_EQ(inFlight[0].ha, 0);
    EXPECT_EQ(inFlight[0].id, 0);
    EXPECT_EQ(inFlight[0].label, "Factory Set(10)");
    const AspiWaits& waits = CurrentAspiWaits();
    EXPECT_LE(inFlight[0].atMost, std::chrono::milliseconds(waits.standardMs + waits.abortMs));

    // Resets of drive 0 in the trace from `first` on.
    const auto resetsOfTheHeldDrive = [](std::size_t first) {
        const auto trace = Trace();
        return std::count_if(trace.begin() + static_cast<std::ptrdiff_t>(std::min(first, trace.size())), trace.end(),
                             [](const SimTraceEntry& e) { return e.target == 0 && IsFactoryReset(e); });
    };
    RequestStopAtNextCommand();
    other.Join();
    EXPECT_EQ(sim_disk_factory_mode(0, 1), 0);
    EXPECT_EQ(resetsOfTheHeldDrive(0), 0);
    ASSERT_EQ(sim_release_late(0, 0, 0xF0), 1);
    holder.Join();
    EXPECT_EQ(testing::StoppedCommandThreads(), stoppedBefore + 2);
    ASSERT_GT(sentBeforeSetCameBack, 0u);
    EXPECT_EQ(resetsOfTheHeldDrive(0), 1);
    EXPECT_EQ(resetsOfTheHeldDrive(sentBeforeSetCameBack), 1);
    for (std::uint8_t id : {0, 1}) {
        EXPECT_EQ(sim_disk_factory_mode(0, id), 0) << int(id);
        EXPECT_FALSE(testing::FactoryModeLeftOn(0, id)) << int(id);
    }
    EXPECT_TRUE(CommandsInFlight().empty());
}

TEST_F(StopRequest, WithNothingInFlightItSettlesAtOnce) {
    ASSERT_EQ(FactorySet10(0, 0, 1), 0);
    ASSERT_EQ(FactorySet10(0, 0, 0), 0);
    EXPECT_FALSE(testing::FactoryModeLeftOn(0, 0));
    RequestStopAtNextCommand();
    EXPECT_TRUE(StopRequested());
    EXPECT_TRUE(WaitForCommandsToSettle(std::chrono::milliseconds(0)));
    testing::ClearStopRequest();
    // Cleared, commands go through again.
    EXPECT_EQ(Rezero6(0, 0), 0);
}

// A switch-off the drive answers with an error is noted, not owed: the stop
// does not send it again, and only one that succeeds clears it.
TEST_F(StopRequest, AFactoryResetThatFailsIsNotedAndNotSentAgain) {
    SimFault refused = NextFault(0xF0);
    refused.skip = 1;  // the ReSet after the Set
    refused.sense_key = 5;
    refused.asc = 0x24;
    ASSERT_EQ(sim_add_fault(0, 0, &refused), 0);
    ASSERT_EQ(FactorySet10(0, 0, 1), 0);
    EXPECT_EQ(FactorySet10(0, 0, 0), -1);
    EXPECT_TRUE(FactoryModeMayBeOn(0, 0));
    EXPECT_FALSE(FactoryResetOwed(0, 0));

    RequestStopAtNextCommand();
    EXPECT_TRUE(WaitForCommandsToSettle(std::chrono::milliseconds(0)));
    const std::size_t sent = sim_trace_count();
    EXPECT_THROW(Rezero6(0, 0), CommandsStopped);
    EXPECT_EQ(sim_trace_count(), sent);
    EXPECT_EQ(sim_disk_factory_mode(0, 0), 1);

    testing::ClearStopRequest();
    ASSERT_EQ(FactorySet10(0, 0, 0), 0);
    EXPECT_FALSE(FactoryModeMayBeOn(0, 0));
}

// EXIT while the run is at a drive: the run worker stops at its next
// command, every drive is left out of factory mode, and the bus goes quiet.
using ExitDuringRun = WindowTest;

TEST_F(ExitDuringRun, TheRunStopsAndLeavesNoDriveInFactoryMode) {
    StartAndAccept();
    Click(ControlId::SmtTest);
    const int stoppedBefore = testing::StoppedCommandThreads();
    sim_set_service_time_us(20000);  // each command long enough to be seen
    sim_trace_clear();
    Click(ControlId::Button4);
    // Wait until the run has switched a drive's factory mode on.
    ASSERT_TRUE(WaitUntil(AnyDriveInFactoryMode));
    Click(ControlId::EXIT);
    EXPECT_TRUE(Form().CloseRequested());

    ASSERT_TRUE(ui::StopWorkForExit(ui::ExitBound()));
    ASSERT_TRUE(WaitUntil([&] { return testing::StoppedCommandThreads() == stoppedBefore + 1; }));
    EXPECT_FALSE(AnyDriveInFactoryMode());
    const std::size_t sent = sim_trace_count();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(sim_trace_count(), sent);
    EXPECT_FALSE(RunEnded());
}

// The run on two drives at once, stopped as the first log is written while
// the library holds the other drive's Factory Set: the run returns once both
// workers have ended, with no drive in factory mode and no part of a log
// left behind.
class StopDuringParallelRun : public RunBus {
protected:
    void SetUp() override {
        RunBus::SetUp();
        window = &Observer();
        choices = &Choices();
    }
    void TearDown() override {
        SetFrontEnd(*window, *choices);
        testing::ClearStopRequest();
        RunBus::TearDown();
    }

    // Asks the stop as the first log is about to be written, once the other
    // drive's Set is in the library, then lets that Set come back: the next
    // command of either worker meets the stop, the log's own with its part
    // file open.
    struct StopAtFirstLog final : QuietObserver {
        void Status(int slot, std::string_view text, Tone, bool) override {
            if (text != "** Now saving test result of the drive. **" || logSlot.exchange(slot) != -1) return;
            WaitUntil([] { return sim_held_requests(0, 1) == 1; });
            RequestStopAtNextCommand();
            sim_release_late(0, 1, 0xF0);
        }
        void WorkFinished(Work) override { finished = true; }
        std::atomic<int> logSlot{-1};
        std::atomic<bool> finished{false};
    } stopper;
    EngineObserver* window = nullptr;
    const WorkChoices* choices = nullptr;
};

TEST_F(StopDuringParallelRun, ReturnsOnceEveryWorkerHasEndedAndLeavesNothingHalfDone) {
    const char* serials[2] = {"PARA0000", "PARA0001"};
    for (int t = 0; t < 2; ++t) {
        SimDiskConfig c = Disk(serials[t]);
        ASSERT_EQ(sim_add_disk(0, t, &c), 0);
    }
    ScanAndShow();
    SimFault held = NextFault(0xF0);
    held.complete_after_ms = SIM_LATE_UNTIL_RELEASED;
    ASSERT_EQ(sim_add_fault(0, 1, &held), 0);
    const int stoppedBefore = testing::StoppedCommandThreads();
    SetFrontEnd(stopper, *choices);

    EXPECT_EQ(Runthread::ExecuteInParallel(2), Runthread::Outcome::Interrupted);
    EXPECT_EQ(testing::StoppedCommandThreads(), stoppedBefore + 2);
    EXPECT_TRUE(CommandsInFlight().empty());
    EXPECT_TRUE(WaitForCommandsToSettle(std::chrono::milliseconds(0)));
    for (std::uint8_t id : {0, 1}) {
        EXPECT_EQ(sim_disk_factory_mode(0, id), 0) << int(id);
        EXPECT_FALSE(testing::FactoryModeLeftOn(0, id)) << int(id);
    }
    for (const auto& e : fs::directory_iterator(folder)) EXPECT_NE(e.path().extension(), ".part") << e.path();
    EXPECT_EQ(stopper.logSlot, 0);
    EXPECT_FALSE(fs::exists("PARA0000.log"));
    EXPECT_FALSE(stopper.finished);
}

}  // namespace
}  // namespace tamro::test
