// The library's Win32 calls (Windows builds only).
#pragma once

#include "spti_backend.h"

namespace spti {

// CreateFileA, DeviceIoControl, CloseHandle and the port's entry in the
// registry's device map.
System& WindowsSystem();

}  // namespace spti
