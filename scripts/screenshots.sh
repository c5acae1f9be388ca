#!/usr/bin/env bash
# Takes the pictures for the README: each of the configuration dialog's four pages and the
# preview with a colour gradient, the file server's download question and its window with three
# downloads running, drawn by Wine's X11 driver on a virtual X display (Xvfb) and
# saved as PNG files under docs/screenshots/. Not part of the tests.
#
#   scripts/screenshots.sh   (builds dialog_shots.exe first; BP_WINE_NO32=1 as in scripts/test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# The shipped i686 build under 32-bit Wine where this machine runs 32-bit programs, else the
# x86_64 build under 64-bit Wine (each with the loader and prefix of its own kind).
if "$root/cmake/wine-run.sh" --can-run 32; then bits=32 preset=win32; else bits=64 preset=win64; fi
# A prefix of its own: the test prefix uses Wine's null display driver, which draws nothing.
export WINEPREFIX=$root/build/$preset/wineprefix-shots
export WINEARCH=win$bits WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [[ $bits == 32 ]]; then
    export WINELOADER=/usr/lib/wine/wine; server=/usr/lib/wine/wineserver32
else
    export WINELOADER=/usr/lib/wine/wine64; server=/usr/lib/wine/wineserver64
fi
shots=$root/build/$preset/shots

if [[ ${1:-} == --inside-x ]]; then  # the part that runs on the virtual display
    "$WINELOADER" wineboot -i </dev/null >/dev/null 2>&1 || true
    # The file server's texts come from the German language file, where the plug-in finds it.
    cp "$root/lang/german/brenloplug_language.ini" "$WINEPREFIX/drive_c/windows/"
    status=0
    "$WINELOADER" "$root/build/$preset/dialog_shots.exe" "Z:${shots//\//\\}" || status=$?
    "$server" -k || true
    exit $status
fi

for p in xvfb imagemagick; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$p"
    fi
done

echo "screenshots: the $preset build under $bits-bit Wine"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target dialog_shots

out=$root/docs/screenshots
mkdir -p "$shots" "$out"
rm -f "$shots"/*.bmp "$shots"/*.mp3

xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/screenshots.sh" --inside-x

for bmp in "$shots"/*.bmp; do
    name=$(basename "$bmp" .bmp)
    /usr/bin/convert "$bmp" -strip "$out/$name.png"
    echo "screenshots: $out/$name.png"
done
