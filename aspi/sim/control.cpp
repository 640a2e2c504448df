// The sim_* control calls: each takes the state lock and hands over to the
// bus and disk model.
#include <algorithm>
#include <cstring>

#include "sim_internal.h"

using sim::Device;
using sim::State;

namespace {
using Lock = std::lock_guard<std::mutex>;
}  // namespace

extern "C" {

void sim_reset_default(void) {
    sim::forget_held_requests();
    State& s = sim::state();
    Lock lock(s.mu);
    sim::build_default_bus(s);
}

void sim_reset_wide(int adapters, int disks_per_adapter) {
    sim::forget_held_requests();
    State& s = sim::state();
    Lock lock(s.mu);
    sim::build_wide_bus(s, adapters, disks_per_adapter);
}

void sim_clear_bus(void) {
    sim::forget_held_requests();
    State& s = sim::state();
    Lock lock(s.mu);
    sim::clear_bus(s);
}

int sim_add_adapter(const char* manager_id, const char* identifier, int targets_supported,
                    int own_id) {
    State& s = sim::state();
    Lock lock(s.mu);
    return sim::add_adapter(s, manager_id, identifier, targets_supported, own_id);
}

void sim_set_adapter_invalid(int ha, int invalid) {
    State& s = sim::state();
    Lock lock(s.mu);
    if (sim::Adapter* a = sim::find_adapter(s, ha)) a->invalid = invalid != 0;
}

int sim_add_device(int ha, int target, int device_type) {
    State& s = sim::state();
    Lock lock(s.mu);
    return sim::add_device(s, ha, target, device_type);
}

void sim_disk_config_init(SimDiskConfig* cfg) {
    if (!cfg) return;
    *cfg = SimDiskConfig{};
    cfg->vendor = SIM_VENDOR_HALCYON;
    cfg->serial = "SIM00000";
    cfg->last_lba = 999999;
    cfg->block_size = 512;
    cfg->log_generation = 4;
    cfg->log_readable = 1;
    cfg->log_signature = 1;
    cfg->heads = 4;
    cfg->primary_defects = 100;
    cfg->grown_defects = 0;
    cfg->start_unit_fails = 0;
}

int sim_add_disk(int ha, int target, const SimDiskConfig* cfg) {
    if (!cfg) return -1;
    State& s = sim::state();
    Lock lock(s.mu);
    return sim::add_disk(s, ha, target, *cfg);
}

int sim_disk_set_inquiry(int ha, int target, const uint8_t* data, size_t len) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    if (!d || (!data && len)) return -1;
    len = std::min(len, sim::kInquiryLength);
    d->inquiry.fill(0);
    if (len) std::memcpy(d->inquiry.data(), data, len);
    return 0;
}

uint8_t* sim_disk_log_data(int ha, int target) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? d->log.data() : nullptr;
}

uint8_t* sim_disk_hsp_data(int ha, int target) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? d->hsp.data() : nullptr;
}

int sim_disk_set_log_entry(int ha, int target, int index, uint32_t stamp1, uint32_t stamp2,
                           const uint8_t* sense48) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? sim::write_log_entry(*d, index, stamp1, stamp2, sense48) : -1;
}

int sim_disk_mode_page(int ha, int target, int page, uint8_t* out, size_t len) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    const sim::ModePage* p = d ? sim::find_page(*d, page) : nullptr;
    if (!p || (!out && len)) return -1;
    const std::size_t n = std::min<std::size_t>(len, p->length);
    std::uint8_t page_bytes[20];
    std::memcpy(page_bytes, p->current.data(), p->length);
    page_bytes[0] = static_cast<std::uint8_t>(0x80 | p->code);  // as MODE SENSE shows it
    if (n) std::memcpy(out, page_bytes, n);
    return static_cast<int>(n);
}

int sim_disk_factory_mode(int ha, int target) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? (d->factory ? 1 : 0) : -1;
}

int sim_disk_started(int ha, int target) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? (d->started ? 1 : 0) : -1;
}

int sim_disk_download_chunk_count(int ha, int target) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? static_cast<int>(d->chunks.size()) : -1;
}

int sim_disk_download_chunk(int ha, int target, int index, uint32_t* offset, uint32_t* length) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    if (!d || index < 0 || static_cast<std::size_t>(index) >= d->chunks.size()) return -1;
    const sim::Chunk& c = d->chunks[static_cast<std::size_t>(index)];
    if (offset) *offset = c.offset;
    if (length) *length = static_cast<uint32_t>(c.data.size());
    return 0;
}

size_t sim_disk_download_image(int ha, int target, uint8_t* out, size_t max) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    return d ? sim::download_image(*d, out, max) : 0;
}

void sim_read_pattern(uint32_t lba, uint32_t block_size, uint8_t* out, size_t len) {
    if (out && block_size) sim::fill_pattern(lba, block_size, out, len);
}

void sim_set_service_time_us(unsigned us) {
    State& s = sim::state();
    Lock lock(s.mu);
    s.service_us = us;
}

void sim_set_completion(int mode) {
    State& s = sim::state();
    Lock lock(s.mu);
    s.completion = mode == SIM_COMPLETE_IMMEDIATE ? SIM_COMPLETE_IMMEDIATE : SIM_COMPLETE_ASYNC;
}

int sim_release_late(int ha, int target, int opcode) {
    return sim::release_late_request(ha, target, opcode) ? 1 : 0;
}

int sim_held_requests(int ha, int target) { return static_cast<int>(sim::held_requests(ha, target)); }

void sim_set_support_status(int status) {
    State& s = sim::state();
    Lock lock(s.mu);
    s.support_status = status;
}

void sim_media_fault_init(SimMediaFault* f) {
    if (!f) return;
    *f = SimMediaFault{};
    f->sense_key = 3;
    f->asc = 0x11;
    f->info_valid = 1;
}

int sim_add_media_fault(int ha, int target, const SimMediaFault* f) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    if (!d || !f || f->first_lba > f->last_lba) return -1;
    d->media_faults.push_back(sim::MediaFault{*f, 0});
    return 0;
}

void sim_fault_init(SimFault* f) {
    if (!f) return;
    *f = SimFault{};
    f->opcode = -1;
    f->ha_stat = -1;
    f->srb_status = -1;
    f->targ_stat = -1;
    f->sense_key = -1;
}

int sim_add_fault(int ha, int target, const SimFault* f) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    if (!d || !f) return -1;
    d->faults.push_back(sim::CommandFault{*f, 0});
    return 0;
}

int sim_unit_attention(int ha, int target, unsigned n) {
    State& s = sim::state();
    Lock lock(s.mu);
    Device* d = sim::find_disk(s, ha, target);
    if (!d) return -1;
    d->unit_attention = n;
    return 0;
}

void sim_clear_faults(void) {
    State& s = sim::state();
    Lock lock(s.mu);
    for (auto& a : s.adapters)
        for (auto& t : a->targets)
            if (t) {
                t->faults.clear();
                t->media_faults.clear();
                t->unit_attention = 0;
            }
}

size_t sim_trace_count(void) {
    State& s = sim::state();
    Lock lock(s.mu);
    return s.trace.size();
}

size_t sim_trace_dropped(void) {
    State& s = sim::state();
    Lock lock(s.mu);
    return s.trace_dropped;
}

int sim_trace_get(size_t index, SimTraceEntry* out) {
    State& s = sim::state();
    Lock lock(s.mu);
    if (!out || index >= s.trace.size()) return -1;
    *out = s.trace[(s.trace_next + index) % s.trace.size()];
    return 0;
}

void sim_trace_clear(void) {
    State& s = sim::state();
    Lock lock(s.mu);
    s.trace.clear();
    s.trace_next = 0;
    s.trace_dropped = 0;
}

}  // extern "C"
