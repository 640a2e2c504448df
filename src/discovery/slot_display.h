// The seven drive lines of the window, drawn from what the scan found.
#pragma once

namespace tamro {

// Rewrites all seven lines, judgement fields and selection boxes; a drive
// that the scan left failed is judged and logged at once.
void ShowSlots();

}  // namespace tamro
