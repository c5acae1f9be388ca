#!/usr/bin/env bash
# Takes the pictures for the README: each of the configuration dialog's four pages and the
# preview with a colour gradient, the file server's download question and its window with three
# downloads running, drawn by Wine's X11 driver on a virtual X display (Xvfb); then the chat rooms
# of two demo runs (the demo's colours, and a wavy gradient over ten colours), the page that
# scripts/demo.sh writes, drawn by headless Chromium (installed here when missing). All saved as
# PNG files under docs/screenshots/. Not part of the tests.
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

for p in xvfb imagemagick chromium; do
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

# The chat rooms as the chat client shows them: the page of a demo run with the demo's own
# colours and of one with a wavy gradient over ten colours.
for run in chat_rooms: chat_rooms_wavy:demo/settings_wavy.reg; do
    name=${run%%:*} settings=${run#*:}
    page=$root/build/$preset/$name.html
    # The demo picks its own Wine prefix and loader.
    env -u WINEPREFIX -u WINEARCH -u WINELOADER BP_DEMO_SETTINGS="$settings" BP_DEMO_PAGE="$page" \
        "$root/scripts/demo.sh" >"$shots/$name-demo.log" 2>&1 ||
        { echo "screenshots: the demo failed, see $shots/$name-demo.log"; exit 1; }
    # Chromium runs as root here, so without its sandbox; its own profile stays in the build folder.
    /usr/bin/chromium --headless --no-sandbox --disable-gpu --no-first-run --hide-scrollbars \
        --user-data-dir="$shots/chromium-profile" --window-size=1000,1400 \
        --screenshot="$shots/$name-full.png" "file://$page" >/dev/null 2>&1
    # Cut to the page's content, with a margin in its background colour.
    /usr/bin/convert "$shots/$name-full.png" -trim +repage -bordercolor "#f4f4f4" -border 12 \
        -strip "$out/$name.png"
    echo "screenshots: $out/$name.png"
done
