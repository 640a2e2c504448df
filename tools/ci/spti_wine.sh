#!/usr/bin/env bash
# CI: the Windows pass-through wnaspi32.dll, cross-built with MinGW, under
# Wine: its logic against the stand-in for Windows, and the built library's
# two exports and its real enumeration of the (Wine) machine's SCSI ports.
# Usage: tools/ci/spti_wine.sh [output-dir]
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(realpath -m "${1:-build-spti-wine}")

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update
apt-get install -y --no-install-recommends g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libgtest-dev \
  wine wine32:i386 wine64

gtest=/usr/src/googletest/googletest
build() {
  local cxx="$1-w64-mingw32-g++-posix" dir="$out/$1"
  local flags=(-std=c++20 -O1 -Wall -Wextra -Wpedantic -Werror -Iaspi/spti -Isrc)
  mkdir -p "$dir/spti"
  "$cxx" "${flags[@]}" -shared -static -s -o "$dir/spti/wnaspi32.dll" \
    aspi/spti/spti_backend.cpp aspi/spti/spti_win32.cpp aspi/spti/spti_exports.cpp aspi/spti/wnaspi32.def -ladvapi32
  "$cxx" -std=c++20 -O1 -I"$gtest/include" -I"$gtest" -c "$gtest/src/gtest-all.cc" -o "$dir/gtest-all.o"
  "$cxx" "${flags[@]}" -I"$gtest/include" -static -o "$dir/spti_test.exe" \
    tests/spti_test.cpp aspi/spti/spti_backend.cpp "$dir/gtest-all.o" "$gtest/src/gtest_main.cc"
}
build i686
build x86_64

# Wine's own wnaspi32 would be taken instead of the one beside the test.
export WINEDEBUG=-all WINEDLLOVERRIDES=wnaspi32=n
# The library the program loads is the 32-bit one; running it needs a kernel
# that runs 32-bit programs, which not every CI machine has. The 64-bit build
# runs the same tests everywhere.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  WINEARCH=win32 WINEPREFIX="$out/prefix32" wine "$out/i686/spti_test.exe"
else
  echo "spti_wine: this kernel cannot run 32-bit programs; the i686 build was compiled and linked, not run" >&2
fi
WINEARCH=win64 WINEPREFIX="$out/prefix64" WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64 "$out/x86_64/spti_test.exe"
