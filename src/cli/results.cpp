#include "cli/results.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "cli/cli_front_end.h"
#include "discovery/slot_display.h"
#include "platform/folders.h"
#include "reports/drive_log.h"

namespace tamro::cli {

namespace {

template <std::size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

std::string Json(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

const char* StateName(SlotState state) {
    switch (state) {
        case SlotState::Testable: return "testable";
        case SlotState::NotIdentified: return "not identified";
        case SlotState::LogUnreadable: return "log unreadable";
        case SlotState::FailedAtScan: return "failed at the scan";
        case SlotState::Empty: break;
    }
    return "no drive";
}

const char* VerdictOf(const DriveSlot& slot) {
    if (slot.runFlags & kFlagPass) return "PASS";
    if (slot.runFlags & kFlagFail) return "FAIL";
    if (slot.runFlags & kFlagNoJudge) return "NO Judge";
    return "not judged";
}

bool Judged(const DriveSlot& slot) { return (slot.runFlags & (kFlagPass | kFlagFail | kFlagNoJudge)) != 0; }

// A download that passed has nothing to say.
std::string ReasonOf(const DriveSlot& slot, const WorkDone& work) {
    if (!Judged(slot)) return {};
    if (std::strcmp(work.command, "microcode") == 0 && (slot.runFlags & kFlagPass)) return {};
    return VerdictReason(slot);
}

std::string Identity(const DriveSlot& slot) {
    const DriveIdentity id = IdentityOf(slot);
    return Json(Trimmed(id.vendor)) + ", \"product\": " + Json(Trimmed(id.product)) + ", \"revision\": " +
           Json(Trimmed(id.revision)) + ", \"serial\": " + Json(Text(slot.serialNumber));
}

std::string Head(const DriveSlot& slot, int s) {
    return "{\"slot\": " + std::to_string(s) + ", \"address\": " + Json(AddressOf(slot)) +
           ", \"hostAdapter\": " + std::to_string(slot.hostAdapter) + ", \"targetId\": " +
           std::to_string(slot.targetId) + ", \"vendor\": " + Identity(slot);
}

const DriveSlot& SlotAt(int s) { return DriveTable[static_cast<std::size_t>(s)]; }

}  // namespace

void PrintDriveList(std::FILE* out) {
    for (int s = 0; s < kSlotCount; ++s) {
        const SlotView view = DescribeSlot(SlotAt(s));
        std::string state = StateName(view.state);
        if (view.state == SlotState::FailedAtScan) state += ": " + Text(SlotAt(s).lastError);
        std::fprintf(out, "%-50s  %s\n", view.line.c_str(), state.c_str());
    }
}

void PrintDriveListJson(std::FILE* out) {
    std::fputs("{\"drives\": [", out);
    bool first = true;
    for (int s = 0; s < kSlotCount; ++s) {
        const SlotView view = DescribeSlot(SlotAt(s));
        if (view.state == SlotState::Empty) continue;
        const std::string reason = view.state == SlotState::FailedAtScan ? Json(Text(SlotAt(s).lastError)) : "null";
        std::fprintf(out, "%s\n  %s, \"line\": %s, \"state\": %s, \"reason\": %s}", first ? "" : ",",
                     Head(SlotAt(s), s).c_str(), Json(view.line).c_str(), Json(StateName(view.state)).c_str(),
                     reason.c_str());
        first = false;
    }
    std::fputs("\n]}\n", out);
}

void PrintSummary(std::FILE* out, const WorkDone& work) {
    // The reason column is as wide as its longest reason, so that every log
    // stays in one column.
    int width = 50;
    for (int s = 0; s < kSlotCount; ++s)
        if (work.reported[static_cast<std::size_t>(s)])
            width = std::max(width, static_cast<int>(ReasonOf(SlotAt(s), work).size()));
    std::fprintf(out, "%-10s  %-10s  %-*s  %s\n", "Drive", "Verdict", width, "Reason", "Log");
    for (int s = 0; s < kSlotCount; ++s) {
        if (!work.reported[static_cast<std::size_t>(s)]) continue;
        const DriveSlot& slot = SlotAt(s);
        const std::string& log = work.logs[static_cast<std::size_t>(s)];
        std::fprintf(out, "%-10s  %-10s  %-*s  %s\n", AddressOf(slot).c_str(), VerdictOf(slot), width,
                     ReasonOf(slot, work).c_str(), log.empty() ? "-" : log.c_str());
    }
}

bool WriteResultsJson(const std::string& path, const WorkDone& work) {
    const std::string part = path + ".part";
    std::FILE* out = std::fopen(part.c_str(), "wb");
    if (out == nullptr) return false;
    std::fprintf(out, "{\"command\": %s, \"%s\": %s, \"write\": %s, \"exitStatus\": %d, \"drives\": [",
                 Json(work.command).c_str(), std::strcmp(work.command, "run") == 0 ? "mode" : "file",
                 Json(work.mode).c_str(), work.writes ? "true" : "false", ExitStatusOf(work));
    bool first = true;
    for (int s = 0; s < kSlotCount; ++s) {
        if (!work.reported[static_cast<std::size_t>(s)]) continue;
        const DriveSlot& slot = SlotAt(s);
        const std::string& log = work.logs[static_cast<std::size_t>(s)];
        std::fprintf(out,
                     "%s\n  %s, \"verdict\": %s, \"reason\": %s, \"errorKind\": %d, \"startTime\": %s, "
                     "\"stopTime\": %s, \"blocksRead\": %llu, \"blocksWritten\": %llu, \"seeks\": %llu, "
                     "\"readErrors\": %d, \"otherErrors\": %d, \"log\": %s}",
                     first ? "" : ",", Head(slot, s).c_str(), Json(VerdictOf(slot)).c_str(),
                     Json(ReasonOf(slot, work)).c_str(), slot.errorKind, Json(Text(slot.startTime)).c_str(),
                     Json(Text(slot.stopTime)).c_str(), static_cast<unsigned long long>(slot.blocksRead),
                     static_cast<unsigned long long>(slot.blocksWritten),
                     static_cast<unsigned long long>(slot.seekCount), slot.readErrorCount, slot.otherErrorCount,
                     log.empty() ? "null" : Json(log).c_str());
        first = false;
    }
    std::fputs("\n]}\n", out);
    const bool written = std::fclose(out) == 0;
    return written && platform::ReplaceFile(part, path);
}

int ExitStatusOf(const WorkDone& work) {
    bool fail = false, unjudged = false;
    for (int s = 0; s < kSlotCount; ++s) {
        if (!work.reported[static_cast<std::size_t>(s)]) continue;
        const std::uint32_t flags = SlotAt(s).runFlags;
        fail |= (flags & kFlagFail) != 0;
        unjudged |= (flags & (kFlagFail | kFlagPass)) == 0;
    }
    if (fail) return kSomeFail;
    return unjudged ? kSomeNotJudged : kAllPass;
}

}  // namespace tamro::cli
