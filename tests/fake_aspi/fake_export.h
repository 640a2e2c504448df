// Exported from a stand-in library on either platform.
#pragma once

#ifdef _WIN32
#define FAKE_ASPI_EXPORT __declspec(dllexport)
#else
#define FAKE_ASPI_EXPORT __attribute__((visibility("default")))
#endif
