// Makes a microcode image that the simulated drives of one family accept:
//   make_microcode <family> <code bytes> <file>
// The code is a fixed pseudo-random sequence drawn from the family name, so
// the same arguments always give the same file (the samples in samples/).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sim_microcode.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_microcode <family> <code bytes> <file>\n");
        return 2;
    }
    const std::string family = argv[1];
    const long size = std::strtol(argv[2], nullptr, 10);
    if (family.empty() || family.size() > sim_microcode::kFamilyLength || size < 0 || size > 524288 - 20) {
        std::fprintf(stderr, "make_microcode: family of 1 to 8 characters, code of 0 to 524268 bytes\n");
        return 2;
    }
    std::uint32_t state = sim_microcode::Crc32(reinterpret_cast<const std::uint8_t*>(family.data()), family.size());
    std::vector<std::uint8_t> code(static_cast<std::size_t>(size));
    for (std::uint8_t& byte : code) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    const std::vector<std::uint8_t> image = sim_microcode::MakeImage(family, code.data(), code.size());
    std::FILE* out = std::fopen(argv[3], "wb");
    if (!out) {
        std::perror(argv[3]);
        return 1;
    }
    const bool written = std::fwrite(image.data(), 1, image.size(), out) == image.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[3]);
        return 1;
    }
    return 0;
}
