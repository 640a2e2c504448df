// What assistive technology reads for each control: the text a sighted user
// reads there, so that a control is found by its caption and every label is
// read as it changes. The control's name from the window description is never
// read: views keep it where tools find it (object name, control id).
// Toolkit-free, so that every view names its controls alike.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "ui/controls.h"

namespace tamro::ui {

// The caption a control shows now.
using CaptionOf = std::function<std::string(ControlId)>;

// The accessible name of `id`: its caption, or for a control without one the
// captions of what labels it on screen ("Select " or "Open log of " + the
// slot's line and its JUDGE text, a progress bar's heading).
std::string AccessibleName(ControlId id, const CaptionOf& captionOf);

// The accessible description of `id`: for the control that takes the focus
// when a notice or question appears, the texts of that screen that no Tab
// stop carries (the disclaimer, the alarm, the write warning, the retest
// question), so that a listener hears them once, with the control; for the
// status line, the two bars' headings and percentages beside it, so that a
// listener who reads it on demand hears the progress too. Empty for every
// other control.
std::string AccessibleDescription(ControlId id, const CaptionOf& captionOf);

// The other controls whose name or description is taken from `id`'s
// caption, whose texts change when it changes.
std::span<const ControlId> NamedAfter(ControlId id);

// The controls whose texts or values change many times a second during
// work: the status line, the two bars and their percentages. Assistive
// technology hears them at a listener's pace (the window model paces them),
// never at each change.
std::span<const ControlId> PacedControls();
bool IsPaced(ControlId id);

// The status line takes the focus from Tab while it shows a text, so that a
// listener reads it on demand: assistive technology gets it as read-only
// text, unnamed, saying what it shows.
inline constexpr ControlId kStatusLine = ControlId::DCONF;

// The status line and the two bars with their headings and percentages: the
// window's status bar to assistive technology, where a screen reader leaves
// the bars' progress until the listener asks for it, and then reads the
// status line and each bar with its name.
std::span<const ControlId> StatusArea();
bool IsInStatusArea(ControlId id);

// A caption as it is spoken: line ends as blanks, no blanks at either end.
std::string SpokenText(std::string_view caption);

}  // namespace tamro::ui
