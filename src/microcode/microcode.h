// Microcode download: the file the operator chooses, sent to every ticked
// drive in 32 KiB chunks, each drive judged and logged.
#pragma once

#include <cstdint>
#include <string>

namespace tamro {

constexpr std::uint32_t kMicrocodeChunk = 32768;

// Reads the file into microcodeImage. True when it was loaded; a file that
// is empty, too large for the image, or cannot be read is refused with a
// message in the status line, which then begins with kMicrocodeRefusal.
bool LoadMicrocodeImage(const std::string& path);
inline constexpr char kMicrocodeRefusal[] = "Microcode file ";

// Writes the microcode log of the current slot after its verdict. 0, or -1
// when the file could not be created (the error panel says so).
int WriteMicrocodeLog();

class MicroCodethread {
public:
    // Starts the worker at once; nobody keeps or waits for it. A worker that
    // could not write a drive test log, that the library left without a
    // request block, or that the stop at exit interrupted, stays parked until
    // the program ends.
    static void Start();

    // Interrupted: a stop was requested (RequestStopAtNextCommand) and the
    // download ended at its next command.
    enum class Outcome { Finished, Stopped, Interrupted };
    static Outcome Execute();
};

}  // namespace tamro
