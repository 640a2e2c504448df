// Internal model of the simulated bus: adapters, devices, disks, faults and
// the outcome of one command. Everything here is guarded by Sim::mu.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/srb.h"

// The control API is the library's public face next to the two ASPI entry
// points; everything else stays hidden (-fvisibility=hidden on Linux, the
// export list on Windows).
#ifdef _WIN32
#include "sim_control.h"
#define SIM_EXPORT
#else
#pragma GCC visibility push(default)
#include "sim_control.h"
#pragma GCC visibility pop
#define SIM_EXPORT __attribute__((visibility("default")))
#endif

namespace sim {

constexpr int kMaxAdapters = 16;
constexpr int kMaxTargets = 16;
constexpr std::size_t kInquiryLength = 96;
constexpr std::size_t kLogLength = 32768;
constexpr std::size_t kHspLength = 30;
constexpr std::size_t kSerLength = 12;
constexpr std::uint32_t kMaxTransfer = 0x00100000;  // HA_Unique bytes 4-7
constexpr std::size_t kTraceCapacity = 1u << 18;

// Big-endian helpers for CDB fields and returned data.
inline std::uint32_t get_be(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}
inline void put_be(std::uint8_t* p, std::uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
}
inline void put_le(std::uint8_t* p, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i, v >>= 8) p[i] = static_cast<std::uint8_t>(v);
}

// What a command leaves in the request block, SRB_Status excepted until
// the very end (see completion.cpp).
struct Outcome {
    std::uint8_t srb_status = SS_COMP;
    std::uint8_t ha_stat = HASTAT_OK;
    std::uint8_t targ_stat = STATUS_GOOD;
    bool has_sense = false;
    std::array<std::uint8_t, kSenseLength> sense{};
    bool complete = true;  // false: leave the block pending for ever
    unsigned delay_ms = 0;  // complete this long after the request was sent
    bool abort_fails = false;  // SC_ABORT_SRB is refused
    unsigned completes_again_ms = 0;  // after a successful abort, all the same
    unsigned signal_first_us = 0;  // the event is set this long before the block
    std::vector<std::uint8_t> data;  // data-in that a late completion delivers
};

Outcome check_condition(int key, int asc, int ascq, bool info_valid = false,
                        std::uint32_t info = 0);

// One mode page in its four flavours; byte 0 holds the bare page code (the
// PS bit is added when the page is reported).
struct ModePage {
    std::uint8_t code = 0;
    std::uint8_t length = 0;  // whole page, code and length bytes included
    std::array<std::uint8_t, 20> current{}, saved{}, deflt{}, changeable{};
};

struct CommandFault {
    SimFault f{};
    unsigned seen = 0;
};
struct MediaFault {
    SimMediaFault f{};
    unsigned hits = 0;
};
struct Chunk {
    std::uint32_t offset = 0;
    std::vector<std::uint8_t> data;
};

// A target. Non-disk devices use only type and inquiry.
struct Device {
    std::uint8_t type = DTYPE_DASD;
    bool is_disk = false;
    std::array<std::uint8_t, kInquiryLength> inquiry{};

    int vendor = SIM_VENDOR_HALCYON;
    std::string serial;  // exactly 8 characters, blank padded
    std::uint32_t last_lba = 0;
    std::uint32_t block_size = 512;
    int log_generation = 4;
    bool log_readable = true;
    int heads = 4;
    std::uint32_t primary_defects = 0;
    std::uint32_t grown_defects = 0;
    bool start_unit_fails = false;

    bool started = true;
    bool factory = false;
    std::vector<std::uint8_t> log;  // kLogLength bytes
    std::array<std::uint8_t, kHspLength> hsp{};
    std::array<ModePage, 3> pages{};

    std::vector<Chunk> chunks;   // every WRITE BUFFER chunk received
    std::size_t download_first = 0;  // chunks[download_first..]: the image under way
    std::vector<CommandFault> faults;
    std::vector<MediaFault> media_faults;
    unsigned unit_attention = 0;
};

struct Adapter {
    std::string manager_id;
    std::string identifier;
    int targets_supported = 8;
    int own_id = 7;
    bool invalid = false;
    std::array<std::unique_ptr<Device>, kMaxTargets> targets;
};

// The whole simulator. One instance, created on first use.
struct State {
    std::mutex mu;
    std::vector<std::unique_ptr<Adapter>> adapters;
    unsigned service_us = SIM_DEFAULT_SERVICE_US;
    int completion = SIM_COMPLETE_ASYNC;
    int support_status = SS_COMP;
    std::vector<SimTraceEntry> trace;  // ring once kTraceCapacity is reached
    std::size_t trace_next = 0;        // next slot to overwrite when full
    std::size_t trace_dropped = 0;
};

State& state();

// bus.cpp (callers hold State::mu)
void build_default_bus(State& s);
void build_wide_bus(State& s, int adapters, int disks_per_adapter);
void clear_bus(State& s);
Adapter* find_adapter(State& s, int ha);        // also invalid-marked ones
Adapter* usable_adapter(State& s, int ha);      // nullptr when SS_INVALID_HA
Device* find_device(State& s, int ha, int target);
Device* find_disk(State& s, int ha, int target);
int add_adapter(State& s, const char* manager, const char* ident, int targets, int own_id);
int add_device(State& s, int ha, int target, int type);
int add_disk(State& s, int ha, int target, const SimDiskConfig& cfg);
std::uint32_t ha_inquiry(State& s, SRB_HAInquiry* srb);
std::uint32_t get_dev_type(State& s, SRB_GDEVBlock* srb);

// disk_model.cpp
void build_disk(Device& d, const SimDiskConfig& cfg);
void build_device(Device& d, int type);
struct LogLayout {
    int entries;
    std::size_t offset;
    std::size_t spacing;
};
LogLayout log_layout(int generation);
void fill_pattern(std::uint32_t lba, std::uint32_t block_size, std::uint8_t* out,
                  std::size_t len);
ModePage* find_page(Device& d, int code);
int write_log_entry(Device& d, int index, std::uint32_t stamp1, std::uint32_t stamp2,
                    const std::uint8_t* sense48);
std::size_t download_image(const Device& d, std::uint8_t* out, std::size_t max);
int finish_download(Device& d);  // the header field found wrong, or -1: taken

// disk_commands.cpp
enum class Direction { none, in, out, unknown };
Direction data_direction(std::uint8_t opcode);
std::size_t cdb_length_for(std::uint8_t opcode);

struct Command {
    const std::uint8_t* cdb;
    std::uint8_t lun;
    std::uint8_t* buf;
    std::uint32_t buf_len;
};
Outcome run_command(Device& d, const Command& c);  // faults included

// completion.cpp
void forget_held_requests();  // never completes them
bool release_late_request(int ha, int target, int opcode);
std::size_t held_requests(int ha, int target);

// faults.cpp
bool take_unit_attention(Device& d, Outcome& out);
const SimFault* firing_fault(Device& d, std::uint8_t opcode);
void apply_fault(const SimFault& f, Outcome& out);
const MediaFault* media_fault_hit(Device& d, std::uint8_t opcode, std::uint32_t lba,
                                  std::uint32_t count, std::uint32_t* fail_lba);
Outcome media_fault_outcome(const MediaFault& m, std::uint32_t fail_lba);

}  // namespace sim
