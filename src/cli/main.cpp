#include <string>
#include <vector>

#include "cli/command_line.h"

int main(int argc, char** argv) { tamro::cli::RunCommandLine(std::vector<std::string>(argv + 1, argv + argc)); }
