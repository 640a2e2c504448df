# Cross build for 32-bit Windows, the program's own platform:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(tamro_mingw i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# CTest runs the Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
