// Injected faults: pending unit attentions, command faults by operation
// code, and media faults by LBA range.
#include <algorithm>

#include "sim_internal.h"

namespace sim {

Outcome check_condition(int key, int asc, int ascq, bool info_valid, std::uint32_t info) {
    Outcome o;
    o.srb_status = SS_ERR;
    o.targ_stat = STATUS_CHKCOND;
    o.has_sense = true;
    o.sense[0] = info_valid ? 0xF0 : 0x70;
    o.sense[2] = static_cast<std::uint8_t>(key & 0x0F);
    if (info_valid) put_be(&o.sense[3], info, 4);
    o.sense[7] = static_cast<std::uint8_t>(kSenseLength - 8);
    o.sense[12] = static_cast<std::uint8_t>(asc);
    o.sense[13] = static_cast<std::uint8_t>(ascq);
    return o;
}

bool take_unit_attention(Device& d, Outcome& out) {
    if (d.unit_attention == 0) return false;
    --d.unit_attention;
    out = check_condition(6, 0x29, 0x00);
    return true;
}

// Every matching fault counts the command, so that skip/times of separate
// faults stay independent; the first one whose window is open fires.
const SimFault* firing_fault(Device& d, std::uint8_t opcode) {
    const SimFault* fired = nullptr;
    for (CommandFault& cf : d.faults) {
        if (cf.f.opcode != -1 && cf.f.opcode != opcode) continue;
        const unsigned n = ++cf.seen;
        const bool open = n > cf.f.skip && (cf.f.times == 0 || n - cf.f.skip <= cf.f.times);
        if (open && !fired) fired = &cf.f;
    }
    return fired;
}

void apply_fault(const SimFault& f, Outcome& out) {
    if (f.never_complete) {
        out.complete = false;
        return;
    }
    if (f.sense_key >= 0) {
        const Outcome cc = check_condition(f.sense_key, f.asc, f.ascq, f.info_valid != 0, f.info);
        out.has_sense = true;
        out.sense = cc.sense;
        out.targ_stat = STATUS_CHKCOND;
    }
    if (out.has_sense) out.sense[2] |= f.sense_byte2_flags;
    if (f.targ_stat >= 0) out.targ_stat = static_cast<std::uint8_t>(f.targ_stat);
    if (out.targ_stat != STATUS_CHKCOND) out.has_sense = false;
    if (f.ha_stat >= 0) out.ha_stat = static_cast<std::uint8_t>(f.ha_stat);
    if (f.srb_status >= 0)
        out.srb_status = static_cast<std::uint8_t>(f.srb_status);
    else
        out.srb_status = out.ha_stat == HASTAT_OK && out.targ_stat == STATUS_GOOD ? SS_COMP : SS_ERR;
}

// The fault whose range starts earliest within [lba, lba + count - 1]
// decides, and only it is counted.
const MediaFault* media_fault_hit(Device& d, std::uint8_t opcode, std::uint32_t lba,
                                  std::uint32_t count, std::uint32_t* fail_lba) {
    if (count == 0) return nullptr;
    const std::uint64_t last = std::uint64_t{lba} + count - 1;
    MediaFault* best = nullptr;
    std::uint32_t best_lba = 0;
    for (MediaFault& m : d.media_faults) {
        const bool op_matches = m.f.opcode == 0 ? (opcode == 0x28 || opcode == 0x2A || opcode == 0x2F)
                                                : m.f.opcode == opcode;
        if (!op_matches) continue;
        if (m.f.times != 0 && m.hits >= m.f.times) continue;
        if (m.f.first_lba > last || m.f.last_lba < lba) continue;
        const std::uint32_t first = std::max(lba, m.f.first_lba);
        if (!best || first < best_lba) {
            best = &m;
            best_lba = first;
        }
    }
    if (best) {
        ++best->hits;
        *fail_lba = best_lba;
    }
    return best;
}

Outcome media_fault_outcome(const MediaFault& m, std::uint32_t fail_lba) {
    return check_condition(m.f.sense_key, m.f.asc, m.f.ascq, m.f.info_valid != 0, fail_lba);
}

}  // namespace sim
