// The command line's console: whether output goes to a terminal, and the
// operator's interrupt (Ctrl-C, SIGTERM, the console closing).
#pragma once

#include <cstdio>
#include <functional>

namespace tamro::platform {

bool IsTerminal(std::FILE* stream);

// The width of the terminal `stream` writes to, in columns; 80 when it
// cannot be told (not a terminal, or one that does not say).
int TerminalColumns(std::FILE* stream);
// Its height in lines; 0 when it cannot be told.
int TerminalRows(std::FILE* stream);

// Ctrl-C (SIGINT, or the console's Ctrl-C), or a request to end (SIGTERM,
// Ctrl-Break, the console closing).
enum class InterruptKind { Interrupt, Terminate };

// From this call on, every interrupt runs `stop` on a thread of its own, one
// at a time, with its kind; `stop` decides when the program ends. Call it
// before any other thread starts, so that no other thread takes the signal.
void OnInterrupt(std::function<void(InterruptKind)> stop);

// What to look at when the library reaches no drive at all.
const char* DriveAccessHint();

}  // namespace tamro::platform
