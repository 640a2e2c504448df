#include "ui/accessible_names.h"

#include <array>

namespace tamro::ui {

namespace {

using enum ControlId;

// How a caption-less control is named after another control's caption.
enum class Taken : std::uint8_t { WholeText, Address };

struct NamedFrom {
    ControlId control;
    ControlId source;
    std::string_view prefix;
    Taken taken;
};

constexpr std::array<NamedFrom, 2 * kSlotRows + 2> BuildNamedFrom() {
    std::array<NamedFrom, 2 * kSlotRows + 2> table{};
    for (std::size_t n = 0; n < kSlotRows; ++n) {
        table[2 * n] = {kSelectBoxes[n], kSlotLines[n], "Select ", Taken::WholeText};
        table[2 * n + 1] = {kLogButtons[n], kSlotLines[n], "Open log of ", Taken::Address};
    }
    table[2 * kSlotRows] = {PBar, Label15, "", Taken::WholeText};
    table[2 * kSlotRows + 1] = {TBar, Label16, "", Taken::WholeText};
    return table;
}

constexpr auto kNamedFrom = BuildNamedFrom();

// The controls named after each source, in the order of kNamedFrom.
constexpr ControlId kRowNamed[kSlotRows][2] = {{ID0D, ID0}, {ID1D, ID1}, {ID2D, ID2}, {ID3D, ID3},
                                               {ID4D, ID4}, {ID5D, ID5}, {ID6D, ID6}};
constexpr ControlId kTotalNamed[] = {PBar};
constexpr ControlId kTestNamed[] = {TBar};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A slot line begins with the drive's address, "HA#0/ID01".
std::string_view Address(std::string_view line) {
    std::size_t begin = 0;
    while (begin < line.size() && IsBlank(line[begin])) ++begin;
    std::size_t end = begin;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    return line.substr(begin, end - begin);
}

}  // namespace

std::string SpokenText(std::string_view caption) {
    std::string text;
    text.reserve(caption.size());
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '\r' && i + 1 < caption.size() && caption[i + 1] == '\n') continue;
        text += caption[i] == '\r' || caption[i] == '\n' ? ' ' : caption[i];
    }
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string AccessibleName(ControlId id, const CaptionOf& captionOf) {
    for (const NamedFrom& entry : kNamedFrom) {
        if (entry.control != id) continue;
        const std::string source = captionOf(entry.source);
        const std::string taken(entry.taken == Taken::Address ? Address(source) : std::string_view(source));
        return SpokenText(std::string(entry.prefix) + taken);
    }
    switch (Spec(id).kind) {
        case ControlKind::Image: return std::string(kEmblemText);
        case ControlKind::Panel:
        case ControlKind::Header:
        case ControlKind::Bevel: return {};
        default: return SpokenText(captionOf(id));
    }
}

std::span<const ControlId> NamedAfter(ControlId id) {
    for (std::size_t n = 0; n < kSlotRows; ++n)
        if (kSlotLines[n] == id) return kRowNamed[n];
    if (id == Label15) return kTotalNamed;
    if (id == Label16) return kTestNamed;
    return {};
}

}  // namespace tamro::ui
