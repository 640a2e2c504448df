// The command line's console: whether output goes to a terminal, and the
// operator's interrupt (Ctrl-C, SIGTERM, the console closing).
#pragma once

#include <cstdio>
#include <functional>

namespace tamro::platform {

bool IsTerminal(std::FILE* stream);

// From this call on, an interrupt runs `stop` once, on a thread of its own;
// `stop` decides when the program ends. Call it before any other thread
// starts, so that no other thread takes the signal.
void OnInterrupt(std::function<void()> stop);

}  // namespace tamro::platform
