#!/usr/bin/env bash
# The Windows build: the program cross-built for 32-bit Windows with mingw-w64
# (tamro.exe and the simulated bus as wnaspi32.dll), and the Windows test
# suite run under Wine in a virtual display. Run as root on Debian 12.
#
# Which suite runs is decided by a tiny i686 program under 32-bit Wine: where
# it exits as it should, the 32-bit build's suite runs (with the 32-bit ABI
# tests of each shipped wnaspi32.dll); elsewhere the 32-bit folder is still
# built and the tests run from a 64-bit build of the same sources under
# 64-bit Wine. The output says which, and why; so does
# build-ci-win32/windows-suite.txt.
set -euo pipefail
cd "$(dirname "$0")/../.."
started=$(date +%s)

source tools/apt.sh
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt_install_missing cmake make ccache googletest g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix \
  wine wine64 xvfb xauth nlohmann-json3-dev libcli11-dev
# 32-bit Wine comes from the mirror's i386 side; where it cannot be had, the
# 64-bit suite runs below and says why.
apt_install_missing wine32:i386 || echo "windows.sh: 32-bit Wine could not be installed" >&2

# Relative paths in ccache's keys: the 32- and 64-bit builds and later
# clones share what they can.
launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR=$PWD

win32=build-ci-win32
cmake -S . -B "$win32" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake "${launcher[@]}"

export WINEDEBUG=-all
export WINEPREFIX="$PWD/build-ci-wine"
wine64=(env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
probe=$win32/wine32_probe.exe
i686-w64-mingw32-gcc-posix -O2 -o "$probe" tools/ci/wine32_probe.c
# The prefix is made once, by 64-bit Wine (which runs on every amd64
# machine) and without a display, so that no first-start dialog waits for an
# operator; the probe runs in it.
env -u DISPLAY WINEDLLOVERRIDES="mscoree,mshtml=" "${wine64[@]}" wineboot --init
if [ ! -x /usr/lib/wine/wine ]; then
  why="32-bit Wine is not installed"
else
  code=0
  env -u DISPLAY /usr/lib/wine/wine "$probe" >"$win32/wine32_probe.log" 2>&1 || code=$?
  if [ "$code" -eq 32 ]; then
    why=""
  else
    why="an i686 program under 32-bit Wine exited with $code, not 32: $(head -c 200 "$win32/wine32_probe.log" | tr '\n' ' ')"
  fi
fi
# A server still lingering from the display-less start would be shared by
# the tests, and their windows could not be created.
wineserver -w
if [ -z "$why" ]; then
  suite="32-bit suite under 32-bit Wine"
  tests=$win32
else
  suite="64-bit suite under 64-bit Wine ($why; the 32-bit ABI tests did not run)"
  cmake --build "$win32" -j2 --target tamro wnaspi32_sim wnaspi32_spti
  tests=build-ci-win64
  cmake -S . -B "$tests" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake "${launcher[@]}"
fi
echo "started the $suite, which did not finish" >"$win32/windows-suite.txt"
echo "windows.sh: running the $suite"
cmake --build "$tests" -j2
if [ -z "$why" ] && [ "$(ctest --test-dir "$tests" -N -R '^aspi_abi_i686_' | grep -c 'Test *#')" -ne 2 ]; then
  echo "windows.sh: the 32-bit build has not both 32-bit ABI tests" >&2
  exit 1
fi

xvfb-run -a -s "-screen 0 1024x768x24" ctest --test-dir "$tests" --output-on-failure -j2
wineserver -k 2>/dev/null || true

# The folder to copy: its two files as built (with debug information) and
# stripped.
for f in "$win32"/bin/tamro.exe "$win32"/bin/wnaspi32.dll; do
  i686-w64-mingw32-strip -o "$f.stripped" "$f"
  echo "windows.sh: $(basename "$f") $(stat -c %s "$f") bytes, $(stat -c %s "$f.stripped") stripped"
  rm -f "$f.stripped"
done
echo "ran the $suite" >"$win32/windows-suite.txt"
echo "windows.sh: ran the $suite"
echo "windows.sh: done in $(( $(date +%s) - started )) s"
