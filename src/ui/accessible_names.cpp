#include "ui/accessible_names.h"

#include <algorithm>
#include <array>
#include <initializer_list>

namespace tamro::ui {

namespace {

using enum ControlId;

// The controls named or described after each source's caption.
constexpr ControlId kRowNamed[kSlotRows][2] = {{ID0D, ID0}, {ID1D, ID1}, {ID2D, ID2}, {ID3D, ID3},
                                               {ID4D, ID4}, {ID5D, ID5}, {ID6D, ID6}};
constexpr ControlId kTotalNamed[] = {PBar, DCONF};
constexpr ControlId kTestNamed[] = {TBar, DCONF};
constexpr ControlId kProgressDescribed[] = {DCONF};
constexpr ControlId kAcceptDescribed[] = {accept};
constexpr ControlId kAlarmDescribed[] = {OK};
constexpr ControlId kWarningDescribed[] = {WtNG};
constexpr ControlId kRetestDescribed[] = {Button6};

// The screen texts each first-focused control carries, in reading order.
constexpr ControlId kDisclaimerText[] = {Label1, Label2, Label3, Label4, Label5, Label6,
                                         Label7, Label8, Label9, Label10, Label11};
constexpr ControlId kAlarmText[] = {error};
constexpr ControlId kWarningText[] = {Label22};
constexpr ControlId kRetestText[] = {RETESTL};
constexpr ControlId kProgressText[] = {Label15, PBarLabel, Label13, Label16, TBarLabel, Label17};

struct Described {
    ControlId control;
    std::span<const ControlId> texts;
};

constexpr Described kDescribed[] = {{accept, kDisclaimerText}, {OK, kAlarmText}, {WtNG, kWarningText},
                                    {Button6, kRetestText}, {DCONF, kProgressText}};

constexpr ControlId kPaced[] = {DCONF, PBarLabel, TBarLabel, PBar, TBar};
constexpr ControlId kStatusArea[] = {DCONF, Label15, PBar, PBarLabel, Label13, Label16, TBar, TBarLabel, Label17};

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

namespace {

// Captions joined by blanks, the empty ones left out.
std::string Joined(std::initializer_list<std::string> parts) {
    std::string text;
    for (const std::string& part : parts) {
        const std::string spoken = SpokenText(part);
        if (spoken.empty()) continue;
        if (!text.empty()) text += ' ';
        text += spoken;
    }
    return text;
}

}  // namespace

std::string AccessibleName(ControlId id, const CaptionOf& captionOf) {
    // A slot row's caption-less controls carry the row's line and its JUDGE
    // text, so that the verdict is heard where the drive is chosen.
    for (std::size_t n = 0; n < kSlotRows; ++n) {
        const std::string_view prefix = id == kSelectBoxes[n] ? "Select " : id == kLogButtons[n] ? "Open log of " : "";
        if (!prefix.empty())
            return std::string(prefix) + Joined({captionOf(kSlotLines[n]), captionOf(kJudgeLabels[n])});
    }
    if (id == PBar) return SpokenText(captionOf(Label15));
    if (id == TBar) return SpokenText(captionOf(Label16));
    switch (Spec(id).kind) {
        case ControlKind::Image: return std::string(kEmblemText);
        case ControlKind::Panel:
        case ControlKind::Header:
        case ControlKind::Bevel: return {};
        default: return SpokenText(captionOf(id));
    }
}

std::string AccessibleDescription(ControlId id, const CaptionOf& captionOf) {
    for (const Described& entry : kDescribed) {
        if (entry.control != id) continue;
        std::string text;
        for (ControlId source : entry.texts) text = Joined({text, captionOf(source)});
        return text;
    }
    return {};
}

std::span<const ControlId> PacedControls() { return kPaced; }
bool IsPaced(ControlId id) { return std::find(std::begin(kPaced), std::end(kPaced), id) != std::end(kPaced); }

std::span<const ControlId> StatusArea() { return kStatusArea; }
bool IsInStatusArea(ControlId id) {
    return std::find(std::begin(kStatusArea), std::end(kStatusArea), id) != std::end(kStatusArea);
}

std::span<const ControlId> NamedAfter(ControlId id) {
    for (std::size_t n = 0; n < kSlotRows; ++n)
        if (kSlotLines[n] == id || kJudgeLabels[n] == id) return kRowNamed[n];
    if (id == Label15) return kTotalNamed;
    if (id == Label16) return kTestNamed;
    for (ControlId text : kProgressText)
        if (text == id) return kProgressDescribed;
    for (ControlId text : kDisclaimerText)
        if (text == id) return kAcceptDescribed;
    if (id == error) return kAlarmDescribed;
    if (id == Label22) return kWarningDescribed;
    if (id == RETESTL) return kRetestDescribed;
    return {};
}

}  // namespace tamro::ui
