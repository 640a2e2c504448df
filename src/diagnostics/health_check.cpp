#include "diagnostics/health_check.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "diagnostics/run_driver.h"
#include "discovery/engine_observer.h"
#include "reports/smart_data_page.h"
#include "transport/commands.h"
#include "transport/request_block.h"

namespace tamro {

namespace {

std::int32_t DefectCount(const std::uint8_t* header) { return (header[2] * 256 + header[3]) / 8; }

// Reads into `s`, the current slot, as the run's own steps do.
void ReadHealth(DriveSlot& s, DriveReport& report) {
    const auto ha = static_cast<std::uint8_t>(s.hostAdapter & 0x0F);
    const auto id = static_cast<std::uint8_t>(s.targetId & 0x0F);
    std::array<std::uint8_t, 4> header{};
    ShowStatus("** ReadDefectData(PLIST) **");
    if (ReadDefectData10(ha, id, 0, header.data()) == 0) {
        s.runFlags |= kFlagPlistValid;
        s.plistCount = DefectCount(header.data());
    }
    header.fill(0);
    ShowStatus("** ReadDefectData(GLIST) **");
    if (ReadDefectData10(ha, id, 1, header.data()) == 0) {
        s.runFlags |= kFlagGlistValid;
        s.glistCount = DefectCount(header.data());
    }
    if (!(s.runFlags & kFlagGlistValid) || !(s.runFlags & kFlagPlistValid)) {
        report.healthError = "The defect lists cannot be read: " + std::string(s.lastError);
        return;
    }
    ShowStatus("** SA Area Read **");
    if (s.errorKind == kLogUnreadableAtScan) {
        s.runFlags |= kFlagLogUnusable;
        report.healthError = "The drive's error log could not be read at the scan.";
        return;
    }
    if (SaAreaRead(ha, id) != 0) {
        s.runFlags |= kFlagLogUnusable;
        report.healthError = s.errorKind == kLogNotSupported
                                 ? "The drive's error log is not supported in its SA area."
                                 : "The drive's error log cannot be read: " + std::string(s.lastError);
        return;
    }
    ShowStatus("** SMART DATA PAGE **");
    report.smartPage = ReadSmartDataPage(ha, id, s.logLayout);
    if (report.smartPage && !report.smartPage->logRead)
        report.healthError = "The SMART data page cannot be read: " + std::string(s.lastError);
}

}  // namespace

std::shared_ptr<DriveReport> CheckDriveHealth(int slot) {
    auto report = std::make_shared<DriveReport>();
    report->kind = ReportKind::Health;
    report->slot = slot;
    report->startedAt = std::time(nullptr);
    // The commands and the error log's reading write into the current slot;
    // it is put back as the scan left it once the record has it.
    DriveSlot& live = Slot(slot);
    currentSlot = slot;
    if (live.errorKind != kNoError && live.errorKind != kLogUnreadableAtScan) {
        report->judged = live;
        report->judged.runFlags |= kFlagLogUnusable;
        report->healthError = "The drive cannot be read: " + std::string(live.lastError);
    } else {
        const DriveSlot scanned = live;
        ReadHealth(live, *report);
        report->judged = live;
        live = scanned;
    }
    report->stoppedAt = std::time(nullptr);
    const auto ha = static_cast<std::uint8_t>(live.hostAdapter & 0x0F);
    const auto id = static_cast<std::uint8_t>(live.targetId & 0x0F);
    const bool resetOwed = FactoryResetOwed(ha, id);
    report->factoryModeLeftOn = resetOwed || FactoryModeMayBeOn(ha, id);
    // A drive left in factory mode is not healthy to hand back, however well
    // its pages were read.
    if (report->factoryModeLeftOn && report->healthError.empty())
        report->healthError = resetOwed ? "Factory ReSet(10) could not be sent: the drive is still in factory mode."
                                        : "Factory ReSet(10) failed: the drive may still be in factory mode.";
    Observer().DriveReported(report);
    ShowStatus("");
    return report;
}

void CheckHealthInParallel(int jobs) {
    const WorkChoices& choices = Choices();
    std::vector<int> chosen;
    for (int s = 0; s < std::min(driveCount, SlotsInTable()); ++s)
        if (choices.Chosen(s)) chosen.push_back(s);
    std::atomic<std::size_t> next{0};
    std::atomic<bool> interrupted{false};
    auto work = [&] {
        LaneLease lane;
        try {
            for (std::size_t k = next.fetch_add(1); k < chosen.size() && !interrupted; k = next.fetch_add(1))
                CheckDriveHealth(chosen[k]);
        } catch (const CommandsStopped&) {
            interrupted = true;
        }
    };
    const std::size_t workers = std::min<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)), chosen.size());
    std::vector<std::thread> threads;
    for (std::size_t w = 0; w < workers; ++w) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
    currentSlot = -1;
    if (interrupted) throw CommandsStopped{};
}

}  // namespace tamro
