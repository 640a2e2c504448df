#include "platform/dynamic_library.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace tamro::platform {

#ifdef _WIN32

ModuleHandle LoadModule(const std::string& name) {
    return reinterpret_cast<ModuleHandle>(LoadLibraryExA(name.c_str(), nullptr, 0));
}

void* FindEntryPoint(ModuleHandle module, const char* name) {
    if (module == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void ReleaseModule(ModuleHandle module) {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

std::string ModulePath(ModuleHandle module, const char*) {
    if (module == nullptr) return {};
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(static_cast<HMODULE>(module), path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(path, n);
}

std::string ExecutableFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string s(path, n);
    auto cut = s.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : s.substr(0, cut);
}

#else

ModuleHandle LoadModule(const std::string& name) {
    const std::string file = "lib" + name + ".so";
    const std::string folder = ExecutableFolder();
    if (!folder.empty()) {
        if (void* h = dlopen((folder + "/" + file).c_str(), RTLD_NOW | RTLD_LOCAL)) return h;
    }
    return dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(ModuleHandle module, const char* name) {
    if (module == nullptr) return nullptr;
    return dlsym(module, name);
}

void ReleaseModule(ModuleHandle module) {
    if (module != nullptr) dlclose(module);
}

// The file that holds one of its entry points: dlopen's handle alone does not
// say which file the search found.
std::string ModulePath(ModuleHandle module, const char* entryPoint) {
    void* symbol = module != nullptr ? dlsym(module, entryPoint) : nullptr;
    Dl_info info{};
    if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return {};
    char full[PATH_MAX];
    return realpath(info.dli_fname, full) != nullptr ? std::string(full) : std::string(info.dli_fname);
}

std::string ExecutableFolder() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return {};
    std::string s(path, static_cast<std::size_t>(n));
    auto cut = s.find_last_of('/');
    return cut == std::string::npos ? std::string() : s.substr(0, cut);
}

#endif

}  // namespace tamro::platform
