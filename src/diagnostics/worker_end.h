// How the run and the microcode download end: the status line and the bars
// say so, or, when a log could not be created or no request can be sent any
// more, the worker waits for the end.
#pragma once

#include "discovery/engine_observer.h"

namespace tamro {

// Both bars full, and the observer told: NewTEST enabled, the green closing
// text in the status line, the percentages at 100.
void ShowAnalysisFinished(Work work);

// The alarm for a library that keeps every request block: its text in the
// error line, OK to end the program.
void StopForKeptRequests();

// A worker that went no further stays here until the program ends (the
// alarm's OK ends it).
[[noreturn]] void ParkWorker();

}  // namespace tamro
