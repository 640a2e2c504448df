#include "platform/folders.h"

#include <filesystem>

namespace tamro::platform {

std::string CurrentFolder() {
    std::error_code ec;
    const auto folder = std::filesystem::current_path(ec);
    return ec ? std::string() : folder.string();
}

}  // namespace tamro::platform
