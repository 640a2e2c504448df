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

unsigned long U32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<unsigned long>(d[at]) << 24 | static_cast<unsigned long>(d[at + 1]) << 16 |
           static_cast<unsigned long>(d[at + 2]) << 8 | d[at + 3];
}

unsigned U16(const std::vector<std::uint8_t>& d, std::size_t at) {
    return static_cast<unsigned>(d[at]) << 8 | d[at + 1];
}

int WritePage(std::uint8_t ha, std::uint8_t id, std::FILE* log, const PagePositions& p) {
    std::vector<std::uint8_t> data(kLogDataLength, 0);
    std::array<std::uint8_t, kHeadParameterLength> hsp{};
    FactorySet10(ha, id, 1);
    // A failed transfer may still have filled part of the buffer; the page
    // then shows zeros rather than a half-read log.
    if (GetLog10(ha, id, data.data()) != 0) std::fill(data.begin(), data.end(), 0);
    const bool headsKnown = GetHsp10(ha, id, hsp.data()) == 0;
    FactorySet10(ha, id, 0);

    // The per-head areas end where the next block begins: a larger count
    // from the drive must not make the page print that block as heads.
    const int heads = headsKnown ? std::min(hsp[p.headCountByte] + 1, kSmartHeadCapacity) : 0;

    std::fputs("\r\n              <<< SMART DATA PAGE >>>\r\n", log);
    std::fputs(" 1. Power on time\r\n", log);
    std::fprintf(log, "  The accumulated Power-on time (min.)            : %08lX\r\n", U32(data, p.powerOn));
    std::fputs(" 2. Read error rate\r\n", log);
    std::fprintf(log, "  Number of samples by each Read sector Head      : %08lX\r\n", U32(data, p.samples));
    std::fprintf(log, "  Number of Read sectors by each Head             : %08lX\r\n", U32(data, p.sectors));
    for (int h = 0; h < heads; ++h)
        std::fprintf(log, "   HD = %02d  Current number of Read errors           : %04X\r\n", h,
                     U16(data, p.readErrors + 8 * static_cast<std::size_t>(h)));
    std::fputs(" 3. Seek error rate\r\n", log);
    std::fprintf(log, "  Number of samples                               : %08lX\r\n", U32(data, p.seekSamples));
    if (!p.seekErrorsPerHead) {
        std::fprintf(log, "  Number of seek operation                        : %08lX\r\n",
                     U32(data, p.seekOperations));
        std::fprintf(log, "  Current number of seek errors                   : %08lX\r\n",
                     static_cast<unsigned long>(U16(data, p.seekErrors)));
    } else {
        std::fprintf(log, "  Number of seek operation by each Head           : %08lX\r\n",
                     U32(data, p.seekOperations));
        for (int h = 0; h < heads; ++h)
            std::fprintf(log, "   HD = %02d  Current number of Seek errors           : %04X\r\n", h,
                         U16(data, p.seekErrors + 8 * static_cast<std::size_t>(h)));
    }
    std::fputs(" 4. Number of remaining alternate sectors\r\n", log);
    std::fprintf(log, "  Number of remaining alternate sectors           : %08lX\r\n",
                 static_cast<unsigned long>(U16(data, p.alternates)));
    std::fputs(" 5. Spin-up time\r\n", log);
    std::fprintf(log, "  Current Spin-up time (sec.)                     : %08lX\r\n",
                 static_cast<unsigned long>(data[p.spinUp]));
    return 0;
}

}  // namespace

int LayoutA(std::uint8_t ha, std::uint8_t id, std::FILE* log) { return WritePage(ha, id, log, kLayoutA); }
int LayoutB(std::uint8_t ha, std::uint8_t id, std::FILE* log) { return WritePage(ha, id, log, kLayoutB); }
int LayoutC(std::uint8_t ha, std::uint8_t id, std::FILE* log) { return WritePage(ha, id, log, kLayoutC); }

int WriteSmartDataPage(std::uint8_t ha, std::uint8_t id, std::FILE* log) {
    switch (CurrentDrive().logLayout) {
    case 1:
    case 2: return LayoutA(ha, id, log);
    case 3: return LayoutB(ha, id, log);
    case 4: return LayoutC(ha, id, log);
    default: return 0;
    }
}

}  // namespace tamro
