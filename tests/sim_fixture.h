// Shared set-up for tests that reach the simulated bus through the program's
// own binding: an empty bus with one healthy disk at HA#0/ID00 unless a test
// builds another.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "discovery/drive_table.h"
#include "sim_control.h"
#include "transport/aspi.h"
#include "transport/commands.h"
#include "transport/request_block.h"

namespace tamro::test {

// A completion event that wraps the platform's one and can be told what its
// waits answer, counting them. A forced answer still waits for the real
// completion first, so the library is done with the request block before the
// program gives it up. beforeWait, run on the waiting thread, lets a test
// release the bus's late requests at the moment the program waits.
class ScriptedEvent final : public platform::CompletionEvent {
public:
    explicit ScriptedEvent(std::unique_ptr<platform::CompletionEvent> real) : real_(std::move(real)) {}
    platform::WaitResult Wait(std::uint32_t timeoutMs) override {
        ++waits;
        lastTimeoutMs = timeoutMs;
        timeouts.push_back(timeoutMs);
        if (beforeWait) beforeWait();
        const platform::WaitResult real = real_->Wait(timeoutMs);
        return forced ? *forced : real;
    }
    bool Reset() override { return real_->Reset(); }
    bool Signal() override { return real_->Signal(); }
    void* Handle() const override { return real_->Handle(); }

    std::optional<platform::WaitResult> forced;
    std::function<void()> beforeWait;
    int waits = 0;
    std::uint32_t lastTimeoutMs = 0;
    std::vector<std::uint32_t> timeouts;  // of every wait, in order

private:
    std::unique_ptr<platform::CompletionEvent> real_;
};

class SimBus : public ::testing::Test {
protected:
    void SetUp() override {
        testing::ReleaseAspiBinding();
        testing::SetAspiModuleName("wnaspi32");
        testing::SetAspiWaits(AspiWaits{});
        testing::SetEventFactory([this] {
            auto e = std::make_unique<ScriptedEvent>(platform::CreateCompletionEvent());
            event = e.get();
            return e;
        });
        sim_clear_bus();
        // The bus has dropped whatever it still held: nothing can write the
        // blocks an earlier test left quarantined.
        testing::ReturnQuarantinedRequestBlocks();
        sim_set_support_status(SS_COMP);
        sim_set_completion(SIM_COMPLETE_ASYNC);
        sim_set_service_time_us(0);
        ASSERT_EQ(sim_add_adapter("SIMASPI", "TEST-HBA", 8, 7), 0);
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        ASSERT_EQ(sim_add_disk(0, 0, &cfg), 0);
        ClearDriveTable();
        currentSlot = 0;
        ASSERT_EQ(BindAspi(), nullptr);
        ASSERT_GE(AspiInit(), 1);
        sim_trace_clear();
    }

    void TearDown() override {
        sim_clear_faults();
        testing::ReleaseAspiBinding();
        testing::SetEventFactory(nullptr);
        testing::SetAspiWaits(AspiWaits{});
    }

    static std::vector<SimTraceEntry> Trace() {
        std::vector<SimTraceEntry> out(sim_trace_count());
        for (std::size_t i = 0; i < out.size(); ++i) sim_trace_get(i, &out[i]);
        return out;
    }

    static std::vector<std::uint8_t> Cdb(const SimTraceEntry& e) {
        return {e.cdb, e.cdb + e.cdb_len};
    }

    static DriveSlot& Slot() { return DriveTable[0]; }
    static std::string LastError() { return Slot().lastError; }

    // A fault on the next command with this operation code.
    static SimFault NextFault(int opcode) {
        SimFault f;
        sim_fault_init(&f);
        f.opcode = opcode;
        f.times = 1;
        return f;
    }

    // The next command with this operation code completes lateMs after it
    // was sent (SIM_LATE_UNTIL_RELEASED: once released), whatever the program
    // does meanwhile; it cannot be aborted.
    static void CompleteLate(int opcode, unsigned lateMs, int target = 0, unsigned skip = 0) {
        SimFault f = NextFault(opcode);
        f.skip = skip;
        f.complete_after_ms = lateMs;
        f.abort_fails = 1;
        ASSERT_EQ(sim_add_fault(0, target, &f), 0);
    }

    // Lets every late request to the target complete; returns how many did.
    static std::size_t ReleaseLate(int target = 0) {
        std::size_t n = 0;
        while (sim_release_late(0, target, -1) == 1) ++n;
        return n;
    }

    ScriptedEvent* event = nullptr;
};

}  // namespace tamro::test
