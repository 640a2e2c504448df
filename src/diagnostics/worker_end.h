// How the run and the microcode download end: the status line and the bars
// say so, or, when a log could not be created, the worker waits for the end.
#pragma once

namespace tamro {

// NewTEST enabled, the green closing text in the status line, both bars full.
void ShowAnalysisFinished();

// A worker that went no further stays here until the program ends (the
// alarm's OK ends it).
[[noreturn]] void ParkWorker();

}  // namespace tamro
