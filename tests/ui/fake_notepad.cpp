// The viewer's stand-in on Windows: writes down the command line it was
// started with, whole, into "command_line" in its current folder.
#include <windows.h>

#include <cstdio>

int main() {
    std::FILE* f = std::fopen("command_line.tmp", "wb");
    if (f == nullptr) return 1;
    std::fputs(GetCommandLineA(), f);
    std::fclose(f);
    // Renamed only once complete, so the test never reads half of it.
    return MoveFileA("command_line.tmp", "command_line") ? 0 : 1;
}
