#include "reports/smart_data_page.h"

#include <algorithm>
#include <array>
#include <vector>

#include "discovery/drive_table.h"
#include "transport/commands.h"

namespace tamro {

namespace {

constexpr std::size_t kLogDataLength = 32768;
constexpr std::size_t kHeadParameterLength = 30;

// Where a layout keeps its values in the logging data.
struct PagePositions {
    std::size_t powerOn;
    std::size_t samples;
    std::size_t sectors;
    std::size_t readErrors;    // head h at + 8h
    std::size_t seekSamples;
    std::size_t seekOperations;
    std::size_t seekErrors;    // the total, or head h at + 8h
    bool seekErrorsPerHead;
    std::size_t alternates;
    std::size_t spinUp;
    std::size_t headCountByte;  // in the head parameters
};

constexpr PagePositions kLayoutA{30, 40, 44, 48, 210, 214, 218, false, 228, 236, 8};
constexpr PagePositions kLayoutB{30, 40, 44, 48, 210, 214, 218, true, 380, 388, 8};
constexpr PagePositions kLayoutC{60, 70, 74, 78, 240, 244, 248, true, 410, 418, 14};

std::uint32_t U32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<std::uint32_t>(d[at]) << 24 | static_cast<std::uint32_t>(d[at + 1]) << 16 |
           static_cast<std::uint32_t>(d[at + 2]) << 8 | d[at + 3];
}

std::uint16_t U16(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<std::uint16_t>(d[at] << 8 | d[at + 1]);
}

const PagePositions* PositionsOf(int layout) {
    switch (layout) {
    case 1:
    case 2: return &kLayoutA;
    case 3: return &kLayoutB;
    case 4: return &kLayoutC;
    default: return nullptr;
    }
}

SmartPageValues ReadPage(std::uint8_t ha, std::uint8_t id, int layout, const PagePositions& p) {
    std::vector<std::uint8_t> data(kLogDataLength, 0);
    std::array<std::uint8_t, kHeadParameterLength> hsp{};
    SmartPageValues v;
    v.layout = layout;
    FactorySet10(ha, id, 1);
    // A failed transfer may still have filled part of the buffer; the page
    // then shows zeros rather than a half-read log.
    v.logRead = GetLog10(ha, id, data.data()) == 0;
    if (!v.logRead) std::fill(data.begin(), data.end(), 0);
    v.headsRead = GetHsp10(ha, id, hsp.data()) == 0;
    FactorySet10(ha, id, 0);

    // The per-head areas end where the next block begins: a larger count
    // from the drive must not make the page print that block as heads.
    const int heads = v.headsRead ? std::min(hsp[p.headCountByte] + 1, kSmartHeadCapacity) : 0;
    v.powerOnMinutes = U32(data, p.powerOn);
    v.readSamples = U32(data, p.samples);
    v.sectorsRead = U32(data, p.sectors);
    v.seekSamples = U32(data, p.seekSamples);
    v.seekOperations = U32(data, p.seekOperations);
    for (int h = 0; h < heads; ++h) {
        const std::size_t at = 8 * static_cast<std::size_t>(h);
        v.readErrorsPerHead.push_back(U16(data, p.readErrors + at));
        if (p.seekErrorsPerHead) v.seekErrorsPerHead.push_back(U16(data, p.seekErrors + at));
    }
    if (!p.seekErrorsPerHead) v.seekErrors = U16(data, p.seekErrors);
    v.remainingAlternates = U16(data, p.alternates);
    v.spinUpSeconds = data[p.spinUp];
    return v;
}

}  // namespace

std::optional<SmartPageValues> ReadSmartDataPage(std::uint8_t ha, std::uint8_t id, int layout) {
    const PagePositions* p = PositionsOf(layout);
    if (p == nullptr) return std::nullopt;
    return ReadPage(ha, id, layout, *p);
}

void PrintSmartDataPage(std::FILE* log, const SmartPageValues& v) {
    const auto u32 = [](std::uint32_t x) { return static_cast<unsigned long>(x); };
    std::fputs("\r\n              <<< SMART DATA PAGE >>>\r\n", log);
    std::fputs(" 1. Power on time\r\n", log);
    std::fprintf(log, "  The accumulated Power-on time (min.)            : %08lX\r\n", u32(v.powerOnMinutes));
    std::fputs(" 2. Read error rate\r\n", log);
    std::fprintf(log, "  Number of samples by each Read sector Head      : %08lX\r\n", u32(v.readSamples));
    std::fprintf(log, "  Number of Read sectors by each Head             : %08lX\r\n", u32(v.sectorsRead));
    for (std::size_t h = 0; h < v.readErrorsPerHead.size(); ++h)
        std::fprintf(log, "   HD = %02d  Current number of Read errors           : %04X\r\n", static_cast<int>(h),
                     static_cast<unsigned>(v.readErrorsPerHead[h]));
    std::fputs(" 3. Seek error rate\r\n", log);
    std::fprintf(log, "  Number of samples                               : %08lX\r\n", u32(v.seekSamples));
    if (v.seekErrors) {
        std::fprintf(log, "  Number of seek operation                        : %08lX\r\n", u32(v.seekOperations));
        std::fprintf(log, "  Current number of seek errors                   : %08lX\r\n", u32(*v.seekErrors));
    } else {
        std::fprintf(log, "  Number of seek operation by each Head           : %08lX\r\n", u32(v.seekOperations));
        for (std::size_t h = 0; h < v.seekErrorsPerHead.size(); ++h)
            std::fprintf(log, "   HD = %02d  Current number of Seek errors           : %04X\r\n",
                         static_cast<int>(h), static_cast<unsigned>(v.seekErrorsPerHead[h]));
    }
    std::fputs(" 4. Number of remaining alternate sectors\r\n", log);
    std::fprintf(log, "  Number of remaining alternate sectors           : %08lX\r\n", u32(v.remainingAlternates));
    std::fputs(" 5. Spin-up time\r\n", log);
    std::fprintf(log, "  Current Spin-up time (sec.)                     : %08lX\r\n", u32(v.spinUpSeconds));
}

namespace {

int WriteLayout(std::uint8_t ha, std::uint8_t id, std::FILE* log, int layout) {
    if (const auto page = ReadSmartDataPage(ha, id, layout)) PrintSmartDataPage(log, *page);
    return 0;
}

}  // namespace

int LayoutA(std::uint8_t ha, std::uint8_t id, std::FILE* log) { return WriteLayout(ha, id, log, 1); }
int LayoutB(std::uint8_t ha, std::uint8_t id, std::FILE* log) { return WriteLayout(ha, id, log, 3); }
int LayoutC(std::uint8_t ha, std::uint8_t id, std::FILE* log) { return WriteLayout(ha, id, log, 4); }

int WriteSmartDataPage(std::uint8_t ha, std::uint8_t id, std::FILE* log) {
    return WriteLayout(ha, id, log, CurrentDrive().logLayout);
}

}  // namespace tamro
