// Host adapters and what sits on them: building the bus, the built-in
// default bus, and the two immediate requests (adapter inquiry, device type).
#include <algorithm>
#include <cstring>

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

// A recovered error as the drive logs it: VALID, the LBA, ASC/ASCQ, and
// the head in sense byte 43.
void log_recovered(Device& d, int index, std::uint32_t stamp, std::uint32_t lba,
                   std::uint8_t asc, std::uint8_t head) {
    Outcome o = check_condition(1, asc, 0x01, true, lba);
    o.sense[43] = head;
    write_log_entry(d, index, stamp, stamp + 0x0E10, o.sense.data());
}

struct DefaultDisk {
    int ha, target, vendor;
    const char* serial;
    std::uint32_t last_lba;
    int generation, heads;
    std::uint32_t primary, grown;
    int log_readable, start_fails;
};

constexpr DefaultDisk kDefaultDisks[] = {
    {0, 0, SIM_VENDOR_HALCYON, "HS0A1234", 0x003FFFFF, 4, 8, 312, 1, 1, 0},
    {0, 1, SIM_VENDOR_SUN, "HS1B2345", 0x001FFFFF, 3, 6, 188, 1, 1, 0},
    {0, 2, SIM_VENDOR_HALCYON, "HS2C3456", 0x000FFFFF, 4, 4, 97, 0, 0, 0},
    {0, 4, SIM_VENDOR_OTHER, "OT4D4567", 0x001E847F, 4, 4, 40, 0, 1, 0},
    {0, 5, SIM_VENDOR_HALCYON, "HS5E5678", 0x001FFFFF, 2, 4, 150, 0, 1, 1},
    {0, 6, SIM_VENDOR_UNISYS, "US6F6789", 0x0010F59B, 2, 4, 121, 0, 1, 0},
    {1, 0, SIM_VENDOR_COMPAQ, "CQ0A7890", 0x0010C8DF, 1, 2, 64, 0, 1, 0},
    {1, 1, SIM_VENDOR_EMC, "EM1B8901", 0x003D08FF, 2, 10, 420, 2, 1, 0},
    {1, 2, SIM_VENDOR_HP, "HP2C9012", 0x0022ECB1, 3, 6, 233, 0, 1, 0},
};

}  // namespace

// Never destroyed: program threads may still send requests while the
// process exits, and the worker thread must not outlive its state.
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

    log_recovered(*find_disk(s, 0, 0), 0, 0x00012345, 0x00123456, 0x17, 2);
    log_recovered(*find_disk(s, 0, 0), 1, 0x0001A000, 0x002A0F00, 0x18, 5);
    log_recovered(*find_disk(s, 0, 6), 0, 0x00008800, 0x00054321, 0x17, 1);
    log_recovered(*find_disk(s, 1, 0), 0, 0x00004000, 0x000ABCDE, 0x18, 1);
    log_recovered(*find_disk(s, 1, 2), 0, 0x00020000, 0x00100000, 0x17, 3);
    log_recovered(*find_disk(s, 1, 2), 1, 0x00020100, 0x00100010, 0x17, 3);
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
