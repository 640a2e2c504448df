// What a simulated drive holds: INQUIRY data by vendor class, the factory
// log (GetLog) and head parameters (GetHsp), mode pages, and the read
// pattern. Built once per disk; commands then only read or edit it.
#include <algorithm>
#include <cstring>

#include "sim_internal.h"
#include "sim_microcode.h"

namespace sim {
namespace {

// INQUIRY identity per SIM_VENDOR_* value, laid out as each class's drives
// carry it: the maker's vendor name with "SUN" at product positions 9-11, or
// with "EMC" in the vendor-specific bytes; UNISYS with its own part number in
// product bytes 16-21 and the drive's name from byte 22; HP with a 12-byte
// product and the revision in bytes 28-31.
struct VendorLook {
    const char* vendor;
    const char* product;   // bytes 16-31
    const char* revision;  // bytes 32-35, or 28-31 where revision_at says
    std::size_t revision_at;
};

constexpr VendorLook kLooks[] = {
    {"HALCYON ", "HC-3182W        ", "HA07", 32},  // HALCYON
    {"HALCYON ", "HC-3182W SUN18G ", "S907", 32},  // SUN
    {"COMPAQ  ", "BD01812A4C      ", "3B07", 32},  // COMPAQ
    {"HALCYON ", "HC-3364W        ", "E207", 32},  // EMC
    {"UNISYS  ", "U3182 HC-3182W  ", "U507", 32},  // UNISYS
    {"HP      ", "C6HC3182W       ", "HP07", 28},  // HP
    {"OTHERCO ", "XD-2000         ", "1.00", 32},  // another maker's disk
};

void put_padded(std::uint8_t* dst, const char* src, std::size_t width) {
    std::memset(dst, ' ', width);
    if (src) std::memcpy(dst, src, std::min(std::strlen(src), width));
}

// Small stable per-drive number so that drives differ in their SMART values.
std::uint32_t seed_of(const std::string& serial) {
    std::uint32_t h = 2166136261u;
    for (unsigned char c : serial) h = (h ^ c) * 16777619u;
    return h;
}

struct SmartPositions {
    std::size_t power_on, samples, sectors, read_errors;
    std::size_t seek_samples, seek_ops, seek_errors;
    bool seek_errors_per_head;
    std::size_t alternates, spin_up;
};

SmartPositions smart_positions(int generation) {
    switch (generation) {
    case 1:
    case 2: return {30, 40, 44, 48, 210, 214, 218, false, 228, 236};
    case 3: return {30, 40, 44, 48, 210, 214, 218, true, 380, 388};
    default: return {60, 70, 74, 78, 240, 244, 248, true, 410, 418};
    }
}

constexpr std::uint16_t kGenerationValue[] = {0x0100, 0x1200, 0x2100, 0x2A00};
constexpr int kSmartHeadSlots = 20;
// A parameter byte next to the head count that is never a plausible head
// count: a reader that takes the wrong byte sees nonsense, not a near miss.
constexpr std::uint8_t kZoneCount = 0x1D;

void build_log(Device& d) {
    d.log.assign(kLogLength, 0);
    std::uint8_t* log = d.log.data();
    put_be(log + 6, kGenerationValue[d.log_generation - 1], 2);

    const std::uint32_t seed = seed_of(d.serial);
    const SmartPositions p = smart_positions(d.log_generation);
    const int heads = std::min(d.heads, kSmartHeadSlots);
    put_be(log + p.power_on, 0x00010000u + seed % 0x00030000u, 4);
    put_be(log + p.samples, 0x00000400u + (seed >> 4) % 0x400u, 4);
    put_be(log + p.sectors, 0x01000000u + (seed >> 8) % 0x00800000u, 4);
    for (int h = 0; h < heads; ++h)
        put_be(log + p.read_errors + 8 * h, 1u + (seed >> h) % 9u, 2);
    put_be(log + p.seek_samples, 0x00003000u + (seed >> 12) % 0x1000u, 4);
    put_be(log + p.seek_ops, 0x00200000u + (seed >> 6) % 0x00100000u, 4);
    if (p.seek_errors_per_head) {
        for (int h = 0; h < heads; ++h)
            put_be(log + p.seek_errors + 8 * h, 1u + (seed >> (h + 3)) % 5u, 2);
    } else {
        put_be(log + p.seek_errors, 2u + (seed >> 3) % 40u, 2);
    }
    put_be(log + p.alternates, 0x0200u - std::min<std::uint32_t>(d.grown_defects, 0x1FFu), 2);
    log[p.spin_up] = static_cast<std::uint8_t>(8 + seed % 5);
}

void build_hsp(Device& d) {
    d.hsp.fill(0);
    constexpr std::uint32_t sectors_per_track = 200;
    const std::uint32_t cylinders =
        (d.last_lba / sectors_per_track) / static_cast<std::uint32_t>(d.heads) + 1;
    put_be(d.hsp.data() + 0, std::min<std::uint32_t>(cylinders, 0xFFFF), 2);
    put_be(d.hsp.data() + 2, sectors_per_track, 2);
    put_be(d.hsp.data() + 4, d.block_size, 2);
    const auto heads_minus_one = static_cast<std::uint8_t>(d.heads - 1);
    if (d.log_generation == 4) {
        d.hsp[8] = kZoneCount;
        d.hsp[14] = heads_minus_one;
    } else {
        d.hsp[8] = heads_minus_one;
        d.hsp[14] = kZoneCount;
    }
}

void set_page(ModePage& p, std::uint8_t code, std::initializer_list<std::uint8_t> deflt,
              std::initializer_list<std::uint8_t> changeable) {
    p.code = code;
    p.length = static_cast<std::uint8_t>(deflt.size());
    std::copy(deflt.begin(), deflt.end(), p.deflt.begin());
    std::copy(changeable.begin(), changeable.end(), p.changeable.begin());
    p.current = p.saved = p.deflt;
}

void build_pages(Device& d) {
    // Read-write error recovery: AWRE and ARRE on, as shipped.
    set_page(d.pages[0], 0x01,
             {0x01, 0x0A, 0xC0, 0x0C, 0x10, 0x00, 0x00, 0x00, 0x0C, 0x00, 0xFF, 0xFF},
             {0x01, 0x0A, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0xFF, 0xFF});
    // Verify error recovery.
    set_page(d.pages[1], 0x07,
             {0x07, 0x0A, 0x00, 0x0C, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF},
             {0x07, 0x0A, 0x0F, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF});
    // Caching: write cache on, read cache on.
    set_page(d.pages[2], 0x08,
             {0x08, 0x12, 0x04, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF,
              0xFF, 0xFF, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
             {0x08, 0x12, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
              0xFF, 0xFF, 0xE0, 0xFF, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
}

}  // namespace

LogLayout log_layout(int generation) {
    switch (generation) {
    case 1: return {4, 344, 56};
    case 2: return {90, 344, 56};
    case 3: return {90, 496, 56};
    default: return {90, 692, 72};
    }
}

void build_device(Device& d, int type) {
    d.type = static_cast<std::uint8_t>(type);
    d.is_disk = false;
    d.inquiry.fill(0);
    d.inquiry[0] = static_cast<std::uint8_t>(type & 0x1F);
    d.inquiry[1] = type == DTYPE_CDROM || type == DTYPE_SEQD ? 0x80 : 0x00;  // removable
    d.inquiry[2] = 0x02;
    d.inquiry[3] = 0x02;
    d.inquiry[4] = static_cast<std::uint8_t>(kInquiryLength - 5);
    put_padded(&d.inquiry[8], "OTHERCO ", 8);
    put_padded(&d.inquiry[16], type == DTYPE_CDROM ? "CD-ROM DRIVE" : "DEVICE", 16);
    put_padded(&d.inquiry[32], "1.00", 4);
}

void build_disk(Device& d, const SimDiskConfig& cfg) {
    d.type = DTYPE_DASD;
    d.is_disk = true;
    d.vendor = cfg.vendor;
    d.serial.assign(8, ' ');
    if (cfg.serial) {
        const std::size_t n = std::min<std::size_t>(std::strlen(cfg.serial), 8);
        d.serial.replace(0, n, cfg.serial, n);
    }
    d.last_lba = cfg.last_lba;
    d.block_size = cfg.block_size;
    d.log_generation = cfg.log_generation;
    d.log_readable = cfg.log_readable != 0;
    d.heads = cfg.heads;
    d.primary_defects = cfg.primary_defects;
    d.grown_defects = cfg.grown_defects;
    d.start_unit_fails = cfg.start_unit_fails != 0;
    // A drive that cannot spin up comes up stopped, as it would after power on.
    d.started = !d.start_unit_fails;

    const VendorLook& look = kLooks[cfg.vendor];
    auto& q = d.inquiry;
    q.fill(0);
    q[2] = 0x02;  // SCSI-2
    q[3] = 0x02;
    q[4] = static_cast<std::uint8_t>(kInquiryLength - 5);
    q[7] = 0x32;  // wide, synchronous, command queueing
    put_padded(&q[8], look.vendor, 8);
    put_padded(&q[16], cfg.product ? cfg.product : look.product, 16);
    put_padded(&q[look.revision_at], cfg.revision ? cfg.revision : look.revision, 4);
    if (look.revision_at != 32) put_padded(&q[32], "", 4);
    if (cfg.vendor == SIM_VENDOR_SUN) std::memcpy(&q[25], "SUN", 3);
    if (cfg.vendor == SIM_VENDOR_EMC) std::memcpy(&q[67], "EMC", 3);

    build_log(d);
    if (cfg.log_signature) {
        const LogLayout l = log_layout(d.log_generation);
        d.log[l.offset - 4] = 'S';
    }
    build_hsp(d);
    build_pages(d);
}

ModePage* find_page(Device& d, int code) {
    for (ModePage& p : d.pages)
        if (p.code == code) return &p;
    return nullptr;
}

// Each block starts with its LBA (big-endian) so that a misplaced block is
// easy to spot; byte i of the rest is i (mod 256) XOR a salt from the LBA.
// Done eight bytes at a time: READ(10) is the hot command.
void fill_pattern(std::uint32_t lba, std::uint32_t block_size, std::uint8_t* out,
                  std::size_t len) {
    static const std::array<std::uint8_t, 256> ramp = [] {
        std::array<std::uint8_t, 256> r{};
        for (std::size_t i = 0; i < r.size(); ++i) r[i] = static_cast<std::uint8_t>(i);
        return r;
    }();
    std::size_t pos = 0;
    while (pos < len) {
        const auto salt = static_cast<std::uint8_t>(lba ^ (lba >> 8) ^ (lba >> 16) ^ (lba >> 24));
        const std::uint64_t salt8 = salt * 0x0101010101010101ull;
        const std::size_t n = std::min<std::size_t>(block_size, len - pos);
        std::uint8_t* block = out + pos;
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            std::uint64_t w;
            std::memcpy(&w, &ramp[i & 0xFF], 8);
            w ^= salt8;
            std::memcpy(block + i, &w, 8);
        }
        for (; i < n; ++i) block[i] = static_cast<std::uint8_t>(i ^ salt);
        std::uint8_t head[4];
        put_be(head, lba, 4);
        std::memcpy(block, head, std::min<std::size_t>(n, 4));
        pos += n;
        ++lba;
    }
}

int write_log_entry(Device& d, int index, std::uint32_t stamp1, std::uint32_t stamp2,
                    const std::uint8_t* sense48) {
    const LogLayout l = log_layout(d.log_generation);
    if (index < 0 || index >= l.entries) return -1;
    std::uint8_t* e = d.log.data() + l.offset + l.spacing * static_cast<std::size_t>(index);
    put_le(e, stamp1, 4);
    put_le(e + 4, stamp2, 4);
    if (sense48)
        std::memcpy(e + 8, sense48, kSenseLength);
    else
        std::memset(e + 8, 0, kSenseLength);
    return 0;
}

std::size_t download_image(const Device& d, std::uint8_t* out, std::size_t max) {
    std::size_t total = 0;
    for (const Chunk& c : d.chunks) total = std::max(total, c.offset + c.data.size());
    if (out) {
        std::memset(out, 0, std::min(total, max));
        for (const Chunk& c : d.chunks) {
            if (c.offset >= max) continue;
            std::memcpy(out + c.offset, c.data.data(), std::min(c.data.size(), max - c.offset));
        }
    }
    return total;
}

// The chunk at offset 0 ends a download: the drive takes the image only if it
// is whole and made for the drive's family. Either way the next chunk starts
// a new image.
int finish_download(Device& d) {
    std::vector<std::uint8_t> image;
    for (std::size_t i = d.download_first; i < d.chunks.size(); ++i) {
        const Chunk& c = d.chunks[i];
        if (image.size() < c.offset + c.data.size()) image.resize(c.offset + c.data.size());
        std::copy(c.data.begin(), c.data.end(), image.begin() + static_cast<std::ptrdiff_t>(c.offset));
    }
    d.download_first = d.chunks.size();
    return sim_microcode::WrongField(image.data(), image.size(),
                                     sim_microcode::FamilyOf(d.log_generation));
}

}  // namespace sim
