// How the run and the microcode download end: the status line and the bars
// say so, or, when a log could not be created, no request can be sent any
// more or the stop at exit came, the worker waits for the end.
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
// alarm's OK ends it, or the exit that stopped it).
[[noreturn]] void ParkWorker();

}  // namespace tamro
