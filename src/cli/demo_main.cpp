// tamro-cli-demo: tamro-cli on the simulated bus beside it, which it can make
// wide before the scan. Only the demo's command line offers this: the window
// and tamro-cli never read it, so nobody testing real drives can trip it. The
// bus is built through the very library the scan then binds, loaded as the
// scan loads it.
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "platform/dynamic_library.h"

namespace {

namespace platform = tamro::platform;

constexpr char kDemoUsage[] =
    "\n"
    "tamro-cli-demo [--bus default|wide|AxD] COMMAND ...: the simulated bus beside it.\n"
    "  --bus wide   two adapters of fifteen drives each, thirty in all, in place of\n"
    "               the default bus (the one the window shows); AxD: A adapters (1 to\n"
    "               16) of D drives (1 to 15). The last drive fails on its grown defects.\n";

bool Count(const std::string& text, int low, int high, int& value) {
    const char* end = text.data() + text.size();
    const auto [at, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && at == end && value >= low && value <= high;
}

// "wide", or "AxD".
bool WideBus(const std::string& text, int& adapters, int& drives) {
    if (text == "wide") {
        adapters = 2;
        drives = 15;
        return true;
    }
    const std::size_t x = text.find('x');
    return x != std::string::npos && Count(text.substr(0, x), 1, 16, adapters) &&
           Count(text.substr(x + 1), 1, 15, drives);
}

// The simulator's own call for a wide bus; false when the library beside
// the program is not the simulator.
bool MakeWide(int adapters, int drives) {
    using ResetWide = void (*)(int, int);
    const platform::ModuleHandle library = platform::LoadModule("wnaspi32");
    if (library == nullptr) return false;
    const auto reset = reinterpret_cast<ResetWide>(platform::FindEntryPoint(library, "sim_reset_wide"));
    if (reset == nullptr) return false;
    reset(adapters, drives);
    return true;  // the module stays loaded: the scan binds it again
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string bus;
    if (!args.empty() && args[0].starts_with("--bus")) {
        if (args[0].starts_with("--bus=")) {
            bus = args[0].substr(6);
            args.erase(args.begin());
        } else if (args[0] == "--bus" && args.size() > 1) {
            bus = args[1];
            args.erase(args.begin(), args.begin() + 2);
        }
        int adapters = 0, drives = 0;
        if (bus == "default") {
            // The library starts with it.
        } else if (WideBus(bus, adapters, drives)) {
            if (!MakeWide(adapters, drives)) {
                std::fprintf(stderr, "tamro-cli-demo: the wnaspi32 beside it is not the simulated bus\n");
                return 3;
            }
        } else {
            std::fprintf(stderr, "tamro-cli-demo: --bus needs default, wide, or AxD such as 2x15\n");
            return 3;
        }
    }
    tamro::cli::RunCommandLine(args, kDemoUsage);
}
