// Run-time loading of a library by module name.
#pragma once

#include <string>

namespace tamro::platform {

using ModuleHandle = void*;

// Loads the module the way the system loader of the target would: on Linux
// "lib<name>.so" beside the running executable first, then the default search
// path; on Windows "<name>.dll" through LoadLibraryExA. Null when not found.
ModuleHandle LoadModule(const std::string& name);

// The address of an exported entry point, or null.
void* FindEntryPoint(ModuleHandle module, const char* name);

void ReleaseModule(ModuleHandle module);

// The file a loaded module came from, or empty when it cannot be told.
std::string ModulePath(ModuleHandle module, const char* entryPoint);

// The folder holding the running executable (without a trailing separator),
// or empty when it cannot be told.
std::string ExecutableFolder();

}  // namespace tamro::platform
