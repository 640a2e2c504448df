// How a simulated drive answers each command descriptor block.
#include <algorithm>
#include <cstring>

#include "sim_internal.h"

static_assert(sizeof(TAMRO_FACTORY_ON_KEY) == 8 && sizeof(TAMRO_FACTORY_OFF_KEY) == 8,
              "factory keywords are seven characters");

namespace sim {
namespace {

enum : std::uint8_t {
    kTestUnitReady = 0x00,
    kRezero = 0x01,
    kRequestSense = 0x03,
    kInquiry = 0x12,
    kModeSelect = 0x15,
    kModeSense = 0x1A,
    kStartStop = 0x1B,
    kReadCapacity = 0x25,
    kRead = 0x28,
    kWrite = 0x2A,
    kSeek = 0x2B,
    kVerify = 0x2F,
    kReadDefects = 0x37,
    kWriteBuffer = 0x3B,
    kFactorySet = 0xF0,
    kVendorGet = 0xF9,
    kWriteSpecial = 0xFA,
    kGetLog = 0xFD,
};

Outcome not_ready() { return check_condition(2, 0x04, 0x02); }
Outcome invalid_opcode() { return check_condition(5, 0x20, 0x00); }
Outcome invalid_field() { return check_condition(5, 0x24, 0x00); }
Outcome invalid_parameter() { return check_condition(5, 0x26, 0x00); }
Outcome parameter_length_error() { return check_condition(5, 0x1A, 0x00); }
Outcome lba_out_of_range(std::uint32_t first_bad) {
    return check_condition(5, 0x21, 0x00, true, first_bad);
}

// A transfer of `want` bytes with a fixed size: a shorter buffer takes what
// fits and the adapter reports a data overrun.
std::uint32_t fit(const Command& c, std::uint64_t want, Outcome& o) {
    if (want <= c.buf_len) return static_cast<std::uint32_t>(want);
    o.ha_stat = HASTAT_DO_DU;
    o.srb_status = SS_ERR;
    return c.buf_len;
}

// Data-in bounded by an allocation length: silently cut to the shortest.
void give(const Command& c, const std::uint8_t* data, std::size_t len, std::size_t alloc) {
    const std::size_t n = std::min({len, alloc, std::size_t{c.buf_len}});
    if (n) std::memcpy(c.buf, data, n);
}

Outcome fixed_in(const Command& c, const std::uint8_t* data, std::size_t len) {
    Outcome o;
    const std::uint32_t n = fit(c, len, o);
    if (n) std::memcpy(c.buf, data, n);
    return o;
}

Outcome inquiry(const Device& d, const Command& c) {
    if ((c.cdb[1] & 0x01) || c.cdb[2] != 0) return invalid_field();  // no VPD pages
    give(c, d.inquiry.data(), kInquiryLength, c.cdb[4]);
    if (c.lun != 0 && c.buf_len && c.cdb[4]) c.buf[0] = 0x7F;  // no such logical unit
    return {};
}

Outcome request_sense(const Command& c) {
    // Sense goes out with each CHECK CONDITION already, so none is pending.
    const Outcome none = check_condition(0, 0, 0);
    give(c, none.sense.data(), kSenseLength, c.cdb[4]);
    return {};
}

Outcome start_stop(Device& d, const Command& c) {
    if (c.cdb[4] & 0x01) {
        if (d.start_unit_fails) return check_condition(4, 0x44, 0x00);
        d.started = true;
    } else {
        d.started = false;
    }
    return {};
}

Outcome read_capacity(const Device& d, const Command& c) {
    if (!d.started) return not_ready();
    std::uint8_t data[8];
    put_be(data, d.last_lba, 4);
    put_be(data + 4, d.block_size, 4);
    return fixed_in(c, data, sizeof data);
}

Outcome media_access(Device& d, const Command& c) {
    const std::uint8_t op = c.cdb[0];
    const std::uint32_t lba = get_be(c.cdb + 2, 4);
    const std::uint32_t count = op == kSeek ? 1 : get_be(c.cdb + 7, 2);
    if (op == kVerify && (c.cdb[1] & 0x02)) return invalid_field();  // no byte compare
    if (!d.started) return not_ready();
    if (lba > d.last_lba) return lba_out_of_range(lba);
    if (count && std::uint64_t{lba} + count - 1 > d.last_lba) return lba_out_of_range(d.last_lba + 1);

    std::uint32_t fail_lba = 0;
    const MediaFault* m = media_fault_hit(d, op, lba, count, &fail_lba);
    Outcome o = m ? media_fault_outcome(*m, fail_lba) : Outcome{};
    if (op == kRead || op == kWrite) {
        const std::uint64_t good = std::uint64_t{m ? fail_lba - lba : count} * d.block_size;
        const std::uint32_t n = fit(c, std::uint64_t{count} * d.block_size, o);
        if (op == kRead) fill_pattern(lba, d.block_size, c.buf, std::min<std::uint64_t>(n, good));
    }
    return o;
}

Outcome read_defects(const Device& d, const Command& c) {
    const std::uint8_t format = c.cdb[2];
    const std::uint64_t count = ((format & 0x10) ? d.primary_defects : 0u) +
                                ((format & 0x08) ? d.grown_defects : 0u);
    const auto list_len = static_cast<std::uint32_t>(std::min<std::uint64_t>(count * 8, 0xFFF8));
    const std::size_t n = std::min<std::size_t>(
        {std::size_t{4} + list_len, get_be(c.cdb + 7, 2), c.buf_len});

    std::uint8_t header[4] = {0, static_cast<std::uint8_t>(format & 0x1F), 0, 0};
    put_be(header + 2, list_len, 2);
    if (n) std::memcpy(c.buf, header, std::min<std::size_t>(n, 4));
    // Physical sector format: cylinder (3 bytes), head, sector (4 bytes).
    for (std::uint32_t i = 0; 4 + std::size_t{i} * 8 < n; ++i) {
        std::uint8_t desc[8];
        put_be(desc, (i * 7919u + 13u) % 0xFFFFu, 3);
        desc[3] = static_cast<std::uint8_t>(i % static_cast<std::uint32_t>(d.heads));
        put_be(desc + 4, (i * 37u) % 200u, 4);
        const std::size_t at = 4 + std::size_t{i} * 8;
        std::memcpy(c.buf + at, desc, std::min<std::size_t>(8, n - at));
    }
    return {};
}

const std::array<std::uint8_t, 20>& page_values(const ModePage& p, int control) {
    switch (control) {
    case 0: return p.current;
    case 1: return p.changeable;
    case 2: return p.deflt;
    default: return p.saved;
    }
}

Outcome mode_sense(Device& d, const Command& c) {
    const bool dbd = (c.cdb[1] & 0x08) != 0;
    const int control = c.cdb[2] >> 6;
    const int code = c.cdb[2] & 0x3F;
    std::array<std::uint8_t, 4 + 8 + 12 + 12 + 20> out{};
    std::size_t len = 4;
    if (!dbd) {
        out[3] = 8;
        put_be(&out[5], static_cast<std::uint32_t>(
                            std::min<std::uint64_t>(std::uint64_t{d.last_lba} + 1, 0xFFFFFF)), 3);
        put_be(&out[9], d.block_size, 3);
        len += 8;
    }
    auto add = [&](const ModePage& p) {
        std::memcpy(&out[len], page_values(p, control).data(), p.length);
        out[len] = static_cast<std::uint8_t>(0x80 | p.code);  // every page is savable
        out[len + 1] = static_cast<std::uint8_t>(p.length - 2);
        len += p.length;
    };
    if (code == 0x3F) {
        for (const ModePage& p : d.pages) add(p);
    } else if (const ModePage* p = find_page(d, code)) {
        add(*p);
    } else {
        return invalid_field();
    }
    out[0] = static_cast<std::uint8_t>(len - 1);
    give(c, out.data(), len, c.cdb[4]);
    return {};
}

Outcome mode_select(Device& d, const Command& c) {
    if (!(c.cdb[1] & 0x10)) return invalid_field();  // only the page format
    const std::size_t len = c.cdb[4];
    if (len == 0) return {};
    if (c.buf_len < len) {
        // The list never arrived whole: keep every page as it was.
        Outcome o;
        o.ha_stat = HASTAT_DO_DU;
        o.srb_status = SS_ERR;
        return o;
    }
    const std::uint8_t* list = c.buf;
    if (len < 4) return parameter_length_error();
    const std::size_t descriptors = list[3];
    if (list[0] != 0 || (descriptors != 0 && descriptors != 8)) return invalid_parameter();
    const std::size_t first = 4 + descriptors;
    if (first > len) return parameter_length_error();

    // Check every page before taking any, so a bad list changes nothing.
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t pos = first; pos < len;) {
            if (pos + 2 > len) return parameter_length_error();
            const std::uint8_t* page = list + pos;
            ModePage* p = find_page(d, page[0] & 0x3F);
            if ((page[0] & 0x80) || !p || page[1] != p->length - 2) return invalid_parameter();
            if (pos + p->length > len) return parameter_length_error();
            if (pass == 0) {
                for (std::size_t i = 2; i < p->length; ++i)
                    if ((page[i] ^ p->current[i]) & ~p->changeable[i]) return invalid_parameter();
            } else {
                std::memcpy(&p->current[2], page + 2, p->length - 2u);
                if (c.cdb[1] & 0x01) p->saved = p->current;
            }
            pos += p->length;
        }
    }
    return {};
}

// Refused microcode: the sense-key-specific bytes point at the header field
// found wrong (SKSV set, C/D clear: a field of the parameter data).
Outcome microcode_refused(int field) {
    Outcome o = invalid_parameter();
    o.sense[15] = 0x80;
    put_be(&o.sense[16], static_cast<std::uint32_t>(field), 2);
    return o;
}

Outcome write_buffer(Device& d, const Command& c) {
    if ((c.cdb[1] & 0x1F) != 0x05) return invalid_field();  // download and save only
    Outcome o;
    const std::uint32_t n = fit(c, get_be(c.cdb + 6, 3), o);
    Chunk chunk;
    chunk.offset = get_be(c.cdb + 3, 3);
    chunk.data.assign(c.buf, c.buf + n);
    d.chunks.push_back(std::move(chunk));
    // The image is sent from its end backwards: offset 0 completes it.
    if (d.chunks.back().offset == 0) {
        const int wrong = finish_download(d);
        if (o.srb_status == SS_COMP && wrong >= 0) return microcode_refused(wrong);
    }
    return o;
}

Outcome factory_set(Device& d, const Command& c) {
    if (std::memcmp(c.cdb + 2, TAMRO_FACTORY_ON_KEY, 7) == 0)
        d.factory = true;
    else if (std::memcmp(c.cdb + 2, TAMRO_FACTORY_OFF_KEY, 7) == 0)
        d.factory = false;
    else
        return invalid_field();
    return {};
}

Outcome vendor_get(const Device& d, const Command& c) {
    if (c.cdb[1] == 0x03 && c.cdb[2] == 0x01) {
        std::uint8_t ser[kSerLength] = {0, 0, 0, 8};
        std::memcpy(ser + 4, d.serial.data(), 8);
        return fixed_in(c, ser, sizeof ser);
    }
    if (c.cdb[1] == 0x02 && c.cdb[2] == 0x01) return fixed_in(c, d.hsp.data(), kHspLength);
    return invalid_field();
}

Outcome vendor_command(Device& d, const Command& c) {
    // Outside factory mode the firmware does not know these codes at all.
    if (!d.factory) return invalid_opcode();
    switch (c.cdb[0]) {
    case kVendorGet: return vendor_get(d, c);
    case kGetLog:
        if (!d.log_readable) return check_condition(3, 0x11, 0x00);
        return fixed_in(c, d.log.data(), kLogLength);
    default: {  // Write Special: the data goes to a reserved area, not kept
        if (!d.started) return not_ready();
        Outcome o;
        fit(c, std::uint64_t{c.cdb[7]} * 512, o);
        return o;
    }
    }
}

Outcome dispatch(Device& d, const Command& c) {
    const std::uint8_t op = c.cdb[0];
    if (!d.is_disk) {
        switch (op) {
        case kTestUnitReady: return {};
        case kRequestSense: return request_sense(c);
        case kInquiry: return inquiry(d, c);
        default: return invalid_opcode();
        }
    }
    switch (op) {
    case kTestUnitReady: return d.started ? Outcome{} : not_ready();
    case kRezero: return d.started ? Outcome{} : not_ready();
    case kRequestSense: return request_sense(c);
    case kInquiry: return inquiry(d, c);
    case kModeSelect: return mode_select(d, c);
    case kModeSense: return mode_sense(d, c);
    case kStartStop: return start_stop(d, c);
    case kReadCapacity: return read_capacity(d, c);
    case kRead:
    case kWrite:
    case kSeek:
    case kVerify: return media_access(d, c);
    case kReadDefects: return read_defects(d, c);
    case kWriteBuffer: return write_buffer(d, c);
    case kFactorySet: return factory_set(d, c);
    case kVendorGet:
    case kWriteSpecial:
    case kGetLog: return vendor_command(d, c);
    default: return invalid_opcode();
    }
}

}  // namespace

Direction data_direction(std::uint8_t opcode) {
    switch (opcode) {
    case kTestUnitReady:
    case kRezero:
    case kStartStop:
    case kSeek:
    case kVerify:
    case kFactorySet: return Direction::none;
    case kRequestSense:
    case kInquiry:
    case kModeSense:
    case kReadCapacity:
    case kRead:
    case kReadDefects:
    case kVendorGet:
    case kGetLog: return Direction::in;
    case kModeSelect:
    case kWrite:
    case kWriteBuffer:
    case kWriteSpecial: return Direction::out;
    default: return Direction::unknown;
    }
}

// CDB length implied by the operation code's group; the drive's vendor
// commands are ten bytes long.
std::size_t cdb_length_for(std::uint8_t opcode) {
    switch (opcode >> 5) {
    case 1:
    case 2: return 10;
    case 4: return 16;
    case 5: return 12;
    case 7: return data_direction(opcode) == Direction::unknown ? 6 : 10;
    default: return 6;
    }
}

namespace {

// Carried out now, into a buffer of the bus's own: status, sense and data
// reach the block only when the request completes, later.
Outcome late(Device& d, const Command& c, const SimFault& f) {
    std::vector<std::uint8_t> data(c.buf, c.buf + c.buf_len);
    Outcome o = dispatch(d, Command{c.cdb, c.lun, data.data(), c.buf_len});
    apply_fault(f, o);
    o.delay_ms = f.complete_after_ms;
    if (data_direction(c.cdb[0]) == Direction::in) o.data = std::move(data);
    return o;
}

}  // namespace

Outcome run_command(Device& d, const Command& c) {
    const std::uint8_t op = c.cdb[0];
    if (c.lun != 0) return op == kInquiry ? inquiry(d, c) : check_condition(5, 0x25, 0x00);
    Outcome o;
    if (take_unit_attention(d, o)) return o;
    if (const SimFault* f = firing_fault(d, op)) {
        if (f->complete_after_ms != 0 && !f->never_complete) {
            o = late(d, c, *f);
        } else {
            if (f->execute && !f->never_complete) o = dispatch(d, c);
            apply_fault(*f, o);
        }
        o.abort_fails = f->abort_fails != 0;
        o.completes_again_ms = f->completes_again_ms;
        o.signal_first_us = f->signal_first_us;
        return o;
    }
    return dispatch(d, c);
}

}  // namespace sim
