#!/usr/bin/env bash
# Renders the Win32 window under Wine, in a virtual display, into
# <build-dir>/screens-win32/: win32_disclaimer.png, win32_drive_list.png and
# win32_run_finished.png. Usage: tools/win32_screens.sh [build-dir], where the
# build folder is a Windows cross build (tools/ci/windows.sh makes them).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-ci-win32}
cmake --build "$build" -j2 --target render_win32_screens wnaspi32_sim
out=$PWD/$build/screens-win32
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if grep -q "mingw-x86_64" "$build/CMakeCache.txt"; then
  wine=(env WINELOADER=/usr/lib/wine/wine64 /usr/lib/wine/wine64)
else
  wine=(wine)
fi
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$PWD/build-ci-wine}
# Wine draws the window's frame and caption itself only in a virtual desktop.
cd "$work"
WINEDLLOVERRIDES="wnaspi32=n" xvfb-run -a -s "-screen 0 800x600x24" \
  "${wine[@]}" explorer /desktop=TAMRO,660x460 "$OLDPWD/$build/bin/render_win32_screens.exe" "$out"
# The renderer stores its pictures uncompressed; deflate them where Python is.
if command -v python3 >/dev/null; then
  python3 - "$out"/*.png <<'PY'
import struct, sys, zlib
for path in sys.argv[1:]:
    data = open(path, "rb").read()
    chunks, at = [], 8
    while at < len(data):
        n = struct.unpack(">I", data[at:at + 4])[0]
        chunks.append((data[at + 4:at + 8], data[at + 8:at + 8 + n]))
        at += 12 + n
    pixels = zlib.decompress(b"".join(d for t, d in chunks if t == b"IDAT"))
    def chunk(t, d):
        return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)
    open(path, "wb").write(data[:8] + chunk(b"IHDR", dict(chunks)[b"IHDR"]) +
                           chunk(b"IDAT", zlib.compress(pixels, 9)) + chunk(b"IEND", b""))
PY
fi
ls -l "$out"
