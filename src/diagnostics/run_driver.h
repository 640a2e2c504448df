// The diagnostic run: every ticked drive through the whole sequence, one
// after the other, each judged and logged.
#pragma once

#include <cstdint>

namespace tamro {

// Reads the drive's error log from its service area into the slot. 0 when it
// was read and carries its signature; -1 otherwise (errorKind says why).
int SaAreaRead(std::uint8_t hostAdapter, std::uint8_t targetId);

// Spins the drive down; always 0, and the drive's failure to do so leaves the
// slot as it was.
int IssueStopUnit(std::uint8_t hostAdapter, std::uint8_t targetId);

class Runthread {
public:
    // Starts the worker at once; nobody keeps or waits for it. A worker whose
    // log file could not be created, or that the stop at exit interrupted,
    // stays parked until the program ends.
    static void Start();

    enum class Outcome { Finished, Stopped, Interrupted };
    // The worker's body. Stopped: a log could not be created, or the library
    // kept every request block, and the run went no further. Interrupted: a
    // stop was requested (RequestStopAtNextCommand) and the run ended at its
    // next command, the drive at work out of factory mode and its log, if
    // it was being written, not left behind.
    static Outcome Execute();

    // The chosen drives on up to `jobs` threads at once, each drive with a
    // lane of its own and its own random sequence from the start, so that its
    // test and its log are the same whichever drives run beside it. Returns
    // when every drive is done; Stopped as for Execute, with the drives
    // already at work finished first; Interrupted as for Execute, once every
    // worker has ended at its next command.
    static Outcome ExecuteInParallel(int jobs);
};

}  // namespace tamro
