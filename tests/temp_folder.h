// A fresh, empty folder of the test's own under the system's temporary
// folder, the same way on Linux and Windows.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>

namespace tamro::test {

inline std::filesystem::path MakeTempFolder(const std::string& prefix) {
    static std::mt19937_64 names{std::random_device{}()};
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto folder = base / (prefix + "-" + std::to_string(names() % 1000000000u));
        // create_directory is false for a folder that exists already: taken.
        if (std::filesystem::create_directory(folder)) return folder;
    }
    throw std::runtime_error("no fresh temporary folder for " + prefix);
}

}  // namespace tamro::test
