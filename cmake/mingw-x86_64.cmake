# The same sources for 64-bit Windows. The program is a 32-bit one; this
# build exists for running the Windows tests under a 64-bit-only Wine, on a
# machine that cannot execute 32-bit code (no i386 Wine loader runs there).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(tamro_mingw x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Debian's wine wrapper prefers the 32-bit loader whenever it is installed.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
