// Shared set-up of the diagnostics tests: one drive in slot 0 as the scan
// would have left it, the window's model at its design state, the run's
// random generator at its start, and helpers to read the command trace.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "diagnostics/run_random.h"
#include "diagnostics/surface_tests.h"
#include "sim_fixture.h"
#include "ui/window_model.h"

namespace tamro::test {

// Operation codes in the trace.
enum : std::uint8_t {
    kOpRezero = 0x01,
    kOpStartStop = 0x1B,
    kOpRead = 0x28,
    kOpWrite = 0x2A,
    kOpSeek = 0x2B,
    kOpVerify = 0x2F,
    kOpFactory = 0xF0,
    kOpWriteSpecial = 0xFA,
};

class Diagnostics : public SimBus {
protected:
    void SetUp() override {
        SimBus::SetUp();
        // Done inside the call: the procedures' tens of thousands of commands
        // then cost no thread hand-over each.
        sim_set_completion(SIM_COMPLETE_IMMEDIATE);
        ui::Form().Reset();
        // Empty bars, as a worker's start: this thread kept the last test's.
        PlaceBar(Bar::Total, 0);
        PlaceBar(Bar::Test, 0);
        selectedCount = 1;
        writePermitted = 0;
        readErrorLimit = 0;
        otherErrorLimit = 0;
        ResetRunRandom();
        UseDisk(999999, 512);  // the fixture's disk: 1 000 000 blocks
    }

    void TearDown() override {
        ui::Form().SetChangeListener(nullptr);
        SimBus::TearDown();
    }

    // Rebuilds the bus with one disk of this size at HA0/ID0 and describes it
    // in slot 0.
    static void UseDisk(std::uint32_t lastLba, std::uint32_t blockSize) {
        sim_clear_bus();
        sim_set_service_time_us(0);
        sim_set_completion(SIM_COMPLETE_IMMEDIATE);
        ASSERT_EQ(sim_add_adapter("SIMASPI", "TEST-HBA", 8, 7), 0);
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        cfg.last_lba = lastLba;
        cfg.block_size = blockSize;
        ASSERT_EQ(sim_add_disk(0, 0, &cfg), 0);
        DriveSlot& s = Slot();
        s.hostAdapter = 0;
        s.targetId = 0;
        s.lastLba = lastLba;
        s.blockSize = static_cast<std::int32_t>(blockSize);
        s.logLayout = 4;
        s.vendorClass = kVendorHalcyon;
        sim_trace_clear();
    }

    static void Mode(TestMode mode) {
        ui::Form().SetChecked(ui::ControlId::ExtTest, mode == TestMode::Extended);
        ui::Form().SetChecked(ui::ControlId::StdTest, mode == TestMode::Standard);
        ui::Form().SetChecked(ui::ControlId::SmtTest, mode == TestMode::Quick);
    }

    static std::uint32_t Be32(const std::uint8_t* p) {
        return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
               static_cast<std::uint32_t>(p[2]) << 8 | p[3];
    }
    static std::uint32_t Lba(const SimTraceEntry& e) { return Be32(e.cdb + 2); }
    static std::uint32_t Count(const SimTraceEntry& e) {
        return static_cast<std::uint32_t>(e.cdb[7]) << 8 | e.cdb[8];
    }

    static std::vector<std::uint8_t> Opcodes() {
        std::vector<std::uint8_t> out;
        for (const auto& e : Trace()) out.push_back(e.cdb[0]);
        return out;
    }

    // (LBA, block count) of every traced command with this operation code.
    static std::vector<std::pair<std::uint32_t, std::uint32_t>> Extents(std::uint8_t opcode) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> out;
        for (const auto& e : Trace())
            if (e.cdb[0] == opcode) out.emplace_back(Lba(e), Count(e));
        return out;
    }

    static std::vector<std::uint32_t> Lbas(std::uint8_t opcode) {
        std::vector<std::uint32_t> out;
        for (const auto& [lba, count] : Extents(opcode)) out.push_back(lba);
        return out;
    }

    static int Position(ui::ControlId bar) { return ui::Form().Position(bar); }
    static std::string Caption(ui::ControlId id) { return ui::Form().Caption(id); }

    // The (skip + 1)th command of this code ends in CHECK CONDITION (key >= 0)
    // or meets a selection timeout (key < 0).
    static void FaultOn(int opcode, unsigned skip, int key, std::uint8_t asc = 0, std::uint32_t info = 0,
                        bool valid = true, unsigned times = 1) {
        SimFault f;
        sim_fault_init(&f);
        f.opcode = opcode;
        f.skip = skip;
        f.times = times;
        if (key < 0) {
            f.ha_stat = HASTAT_SEL_TO;
        } else {
            f.sense_key = key;
            f.asc = asc;
            f.info_valid = valid ? 1 : 0;
            f.info = info;
        }
        ASSERT_EQ(sim_add_fault(0, 0, &f), 0);
    }
    static void TransportFault(int opcode, unsigned skip) { FaultOn(opcode, skip, -1); }

    // Every command of `opcode` touching [first, last] ends in CHECK CONDITION.
    static void MediaFault(std::uint8_t opcode, std::uint32_t first, std::uint32_t last, std::uint8_t key,
                           std::uint8_t asc, bool valid = true, unsigned times = 0) {
        SimMediaFault m;
        sim_media_fault_init(&m);
        m.first_lba = first;
        m.last_lba = last;
        m.opcode = opcode;
        m.sense_key = key;
        m.asc = asc;
        m.info_valid = valid ? 1 : 0;
        m.times = times;
        ASSERT_EQ(sim_add_media_fault(0, 0, &m), 0);
    }
};

// Every change of the two bars as it happens, recorded through the model's
// change listener (which takes the changes at once, so it hears each one).
struct BarRecorder {
    std::vector<int> total, test;
    void Attach() {
        ui::Form().TakeChanges();
        ui::Form().SetChangeListener([this](bool) {
            for (const auto& u : ui::Form().TakeChanges().controls) {
                if (u.id == ui::ControlId::PBar) total.push_back(u.state.position);
                if (u.id == ui::ControlId::TBar) test.push_back(u.state.position);
            }
        });
    }
};

}  // namespace tamro::test
