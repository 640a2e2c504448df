# What both mingw-w64 toolchain files share; each sets tamro_mingw (the
# target triplet) first. Debian's mingw-w64 in its posix thread model: the
# default win32 model has no std::thread or std::mutex. Naming the -posix
# compilers here leaves the machine's alternatives as they are.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${tamro_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${tamro_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${tamro_mingw}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${tamro_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
