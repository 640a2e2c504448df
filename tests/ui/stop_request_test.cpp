// Ending the program while a worker is at work: the worker stops at its next
// command, switches the factory mode it left on off, and sends nothing more.
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "sim_fixture.h"
#include "window_fixture.h"

namespace tamro::test {
namespace {

class StopRequest : public SimBus {
protected:
    void SetUp() override {
        testing::ClearStopRequest();
        SimBus::SetUp();
    }
    void TearDown() override {
        testing::ClearStopRequest();
        SimBus::TearDown();
    }

    // A worker that switches factory mode on and then reads for ever. It is
    // stopped by the request; its buffer lives as long as the thread.
    void StartReader() {
        std::thread([reads = reads] {
            static std::uint8_t buffer[512];
            FactorySet10(0, 0, 1);
            for (;;) {
                Read10(0, 0, 0, 512, 1, buffer);
                ++*reads;
            }
        }).detach();
    }

    static bool IsFactoryReset(const SimTraceEntry& e) {
        return e.cdb[0] == 0xF0 && std::memcmp(&e.cdb[2], TAMRO_FACTORY_OFF_KEY, 7) == 0;
    }

    std::shared_ptr<std::atomic<int>> reads = std::make_shared<std::atomic<int>>(0);
};

TEST_F(StopRequest, TheWorkerClosesFactoryModeAndSendsNothingMore) {
    sim_set_service_time_us(1000);
    const int stoppedBefore = testing::StoppedCommandThreads();
    StartReader();
    ASSERT_TRUE(WaitUntil([this] { return *reads >= 3; }));
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
    const int readsAtStop = *reads;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(sim_trace_count(), trace.size());
    EXPECT_EQ(*reads, readsAtStop);
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
    EXPECT_EQ(*reads, 1);
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

}  // namespace
}  // namespace tamro::test
