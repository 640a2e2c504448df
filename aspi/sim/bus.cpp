// Host adapters and what sits on them: building the bus, the built-in
// default bus, and the two immediate requests (adapter inquiry, device type).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim_internal.h"

namespace sim {
namespace {

void put_text(std::uint8_t* dst, const std::string& text) {
    std::memset(dst, ' ', 16);
    std::memcpy(dst, text.data(), std::min<std::size_t>(text.size(), 16));
}

bool config_ok(const SimDiskConfig& c) {
    return c.vendor >= SIM_VENDOR_HALCYON && c.vendor <= SIM_VENDOR_OTHER && c.block_size > 0 &&
           c.log_generation >= 1 && c.log_generation <= 4 && c.heads >= 1 && c.heads <= 256;
}

// An error as the drive logs it: VALID, the LBA, ASC/ASCQ, and the head in
// sense byte 43.
void log_error(Device& d, int index, std::uint32_t stamp, int key, std::uint32_t lba, std::uint8_t asc,
               std::uint8_t head) {
    Outcome o = check_condition(key, asc, 0x01, true, lba);
    o.sense[43] = head;
    write_log_entry(d, index, stamp, stamp + 0x0E10, o.sense.data());
}

// Blocks that no read, write or verify gets through: MEDIUM ERROR,
// unrecovered read error, with the first bad LBA in INFORMATION.
void unreadable(Device& d, std::uint32_t first, std::uint32_t last) {
    SimMediaFault f;
    sim_media_fault_init(&f);
    f.first_lba = first;
    f.last_lba = last;
    d.media_faults.push_back(MediaFault{f, 0});
}

struct DefaultDisk {
    int ha, target, vendor;
    const char* serial;
    std::uint32_t last_lba;
    int generation, heads;
    std::uint32_t primary, grown;
    int log_readable, start_fails;
};

constexpr std::uint32_t k9GB = 17783239, k18GB = 35566479, k36GB = 71132959;

// The default bus: seven disks that between them show every kind of slot
// line and every verdict, one vendor class each, in the order the scan
// reaches them. What each one is for is said in the README.
constexpr DefaultDisk kDefaultDisks[] = {
    {0, 0, SIM_VENDOR_SUN, "HS0A1234", k18GB, 4, 8, 312, 1, 1, 0},      // passes every mode
    {0, 1, SIM_VENDOR_COMPAQ, "CQ1B2345", k9GB, 1, 4, 188, 0, 1, 0},    // its logged error is still there
    {0, 2, SIM_VENDOR_UNISYS, "US2C3456", k9GB, 2, 4, 121, 0, 1, 0},    // a band of unreadable blocks
    {0, 4, SIM_VENDOR_HALCYON, "HS4D4567", k18GB, 4, 8, 97, 0, 0, 0},   // its log cannot be read
    {0, 5, SIM_VENDOR_OTHER, "OT5E5678", 4194303, 4, 4, 40, 0, 1, 0},   // not a maker's drive
    {1, 0, SIM_VENDOR_HP, "HP0A7890", k18GB, 4, 6, 233, 0, 1, 0},       // passes every mode
    {1, 1, SIM_VENDOR_EMC, "EM1B8901", k36GB, 3, 10, 420, 2, 1, 1},     // cannot spin up
};

constexpr std::uint32_t kCompaqBadLba = 0x00ABCDE0;
constexpr std::uint32_t kUnisysBandFirst = 0x00800000, kUnisysBandLast = 0x0083FFFF;

}  // namespace

// Never destroyed: program threads may still send requests while the
// process exits, and the worker threads must not outlive their state.
State& state() {
    static State* const s = [] {
        auto* p = new State;
        build_default_bus(*p);
        return p;
    }();
    return *s;
}

void clear_bus(State& s) {
    s.adapters.clear();
    s.trace.clear();
    s.trace_next = 0;
    s.trace_dropped = 0;
    s.service_us = 0;
    s.completion = SIM_COMPLETE_ASYNC;
    s.support_status = SS_COMP;
}

void build_default_bus(State& s) {
    clear_bus(s);
    s.service_us = SIM_DEFAULT_SERVICE_US;
    add_adapter(s, "SIMASPI", "SIM-HBA 0", 8, 7);
    add_adapter(s, "SIMASPI", "SIM-HBA 1", 16, 15);
    for (const DefaultDisk& dd : kDefaultDisks) {
        SimDiskConfig cfg;
        sim_disk_config_init(&cfg);
        cfg.vendor = dd.vendor;
        cfg.serial = dd.serial;
        cfg.last_lba = dd.last_lba;
        cfg.log_generation = dd.generation;
        cfg.heads = dd.heads;
        cfg.primary_defects = dd.primary;
        cfg.grown_defects = dd.grown;
        cfg.log_readable = dd.log_readable;
        cfg.start_unit_fails = dd.start_fails;
        add_disk(s, dd.ha, dd.target, cfg);
    }
    add_device(s, 0, 3, DTYPE_CDROM);

    // Recovered errors that read cleanly now: logged, not duplicated.
    log_error(*find_disk(s, 0, 0), 0, 0x00012345, 1, 0x00123456, 0x17, 2);
    log_error(*find_disk(s, 0, 0), 1, 0x0001A000, 1, 0x012A0F00, 0x18, 5);
    log_error(*find_disk(s, 0, 1), 1, 0x00004000, 1, 0x000ABCDE, 0x18, 1);
    log_error(*find_disk(s, 0, 2), 0, 0x00008800, 1, 0x00054321, 0x17, 1);
    log_error(*find_disk(s, 1, 0), 0, 0x00020000, 1, 0x00100000, 0x17, 3);
    log_error(*find_disk(s, 1, 0), 1, 0x00020100, 1, 0x00100010, 0x17, 3);

    // An unrecovered read error the drive logged and still has: the error
    // hit check reproduces it, so even a Quick run fails the drive.
    log_error(*find_disk(s, 0, 1), 0, 0x00003000, 3, kCompaqBadLba, 0x11, 2);
    unreadable(*find_disk(s, 0, 1), kCompaqBadLba, kCompaqBadLba + 7);
    // Bad blocks the drive never logged: only the surface tests find them.
    unreadable(*find_disk(s, 0, 2), kUnisysBandFirst, kUnisysBandLast);
}

// Adapters of sixteen targets, own ID 7, a sound maker's drive at each other
// ID in turn; the very last one is a SUN product with too many grown defects,
// judged FAIL however the test goes, so that a result past the window's rows
// shows in the outcome.
void build_wide_bus(State& s, int adapters, int disks_per_adapter) {
    clear_bus(s);
    s.service_us = SIM_DEFAULT_SERVICE_US;
    adapters = std::clamp(adapters, 0, kMaxAdapters);
    disks_per_adapter = std::clamp(disks_per_adapter, 0, kMaxTargets - 1);
    constexpr int kOwnId = 7;
    for (int a = 0; a < adapters; ++a) {
        const std::string name = "SIM-WIDE " + std::to_string(a);
        add_adapter(s, "SIMASPI", name.c_str(), kMaxTargets, kOwnId);
        for (int n = 0, id = 0; n < disks_per_adapter; ++n, ++id) {
            if (id == kOwnId) ++id;
            char serial[24];
            std::snprintf(serial, sizeof serial, "WIDE%X%02d0", a, id);
            SimDiskConfig cfg;
            sim_disk_config_init(&cfg);
            cfg.serial = serial;
            cfg.primary_defects = static_cast<std::uint32_t>(40 + 8 * a + id);
            if (a == adapters - 1 && n == disks_per_adapter - 1) {
                cfg.vendor = SIM_VENDOR_SUN;
                cfg.grown_defects = 2;
            }
            add_disk(s, a, id, cfg);
        }
    }
}

Adapter* find_adapter(State& s, int ha) {
    if (ha < 0 || static_cast<std::size_t>(ha) >= s.adapters.size()) return nullptr;
    return s.adapters[static_cast<std::size_t>(ha)].get();
}

Adapter* usable_adapter(State& s, int ha) {
    Adapter* a = find_adapter(s, ha);
    return a && !a->invalid ? a : nullptr;
}

Device* find_device(State& s, int ha, int target) {
    Adapter* a = find_adapter(s, ha);
    if (!a || target < 0 || target >= kMaxTargets) return nullptr;
    return a->targets[static_cast<std::size_t>(target)].get();
}

Device* find_disk(State& s, int ha, int target) {
    Device* d = find_device(s, ha, target);
    return d && d->is_disk ? d : nullptr;
}

int add_adapter(State& s, const char* manager, const char* ident, int targets, int own_id) {
    if (s.adapters.size() >= kMaxAdapters || targets < 0 || targets > 255) return -1;
    auto a = std::make_unique<Adapter>();
    a->manager_id = manager ? manager : "";
    a->identifier = ident ? ident : "";
    a->targets_supported = targets;
    a->own_id = own_id;
    s.adapters.push_back(std::move(a));
    return static_cast<int>(s.adapters.size() - 1);
}

namespace {
std::unique_ptr<Device>* free_slot(State& s, int ha, int target) {
    Adapter* a = find_adapter(s, ha);
    if (!a || target < 0 || target >= kMaxTargets || target == a->own_id) return nullptr;
    auto& slot = a->targets[static_cast<std::size_t>(target)];
    return slot ? nullptr : &slot;
}
}  // namespace

int add_device(State& s, int ha, int target, int type) {
    auto* slot = free_slot(s, ha, target);
    if (!slot || type < 0 || type > 0x1F) return -1;
    auto d = std::make_unique<Device>();
    build_device(*d, type);
    *slot = std::move(d);
    return 0;
}

int add_disk(State& s, int ha, int target, const SimDiskConfig& cfg) {
    auto* slot = free_slot(s, ha, target);
    if (!slot || !config_ok(cfg)) return -1;
    auto d = std::make_unique<Device>();
    build_disk(*d, cfg);
    *slot = std::move(d);
    return 0;
}

std::uint32_t ha_inquiry(State& s, SRB_HAInquiry* srb) {
    const Adapter* a = usable_adapter(s, srb->SRB_HaId);
    if (!a) {
        srb->SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    srb->HA_Count = static_cast<std::uint8_t>(s.adapters.size());
    srb->HA_SCSI_ID = static_cast<std::uint8_t>(a->own_id);
    put_text(srb->HA_ManagerId, a->manager_id);
    put_text(srb->HA_Identifier, a->identifier);
    std::memset(srb->HA_Unique, 0, sizeof srb->HA_Unique);  // bytes 0-1: no alignment
    srb->HA_Unique[3] = static_cast<std::uint8_t>(a->targets_supported);
    put_le(&srb->HA_Unique[4], kMaxTransfer, 4);
    srb->SRB_Status = SS_COMP;
    return SS_COMP;
}

std::uint32_t get_dev_type(State& s, SRB_GDEVBlock* srb) {
    if (!usable_adapter(s, srb->SRB_HaId)) {
        srb->SRB_Status = SS_INVALID_HA;
        return SS_INVALID_HA;
    }
    const Device* d = srb->SRB_Lun == 0 ? find_device(s, srb->SRB_HaId, srb->SRB_Target) : nullptr;
    if (!d) {
        srb->SRB_Status = SS_NO_DEVICE;
        return SS_NO_DEVICE;
    }
    srb->SRB_DeviceType = d->type;
    srb->SRB_Status = SS_COMP;
    return SS_COMP;
}

}  // namespace sim
