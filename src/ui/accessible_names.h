// What assistive technology reads for each control: the text a sighted user
// reads there, so that a control is found by its caption and every label is
// read as it changes. The control's name from the window description stays
// its description. Toolkit-free, so that every view names its controls alike.
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
// caption of what labels it on screen ("Select " + the slot's line, "Open log
// of " + the slot's address, a progress bar's heading).
std::string AccessibleName(ControlId id, const CaptionOf& captionOf);

// The other controls whose name is taken from `id`'s caption, whose names
// change when it changes.
std::span<const ControlId> NamedAfter(ControlId id);

// A caption as it is spoken: line ends as blanks, no blanks at either end.
std::string SpokenText(std::string_view caption);

}  // namespace tamro::ui
