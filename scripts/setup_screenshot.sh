#!/usr/bin/env bash
# Takes the picture of the setup's language page for the README, drawn by Wine's X11 driver on a
# virtual X display (Xvfb), and saves it as docs/screenshots/setup_language.png. The setup is a
# 32-bit program, so this needs the win32 preset and 32-bit Wine. Not part of the tests.
#
#   scripts/setup_screenshot.sh            (builds the win32 preset's setup and setup_shots.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

# A prefix of its own: the test prefixes use Wine's null display driver, which draws nothing.
export WINEPREFIX=$root/build/win32/wineprefix-setup-shots
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export WINELOADER=/usr/lib/wine/wine
server=/usr/lib/wine/wineserver32
shots=$root/build/win32/shots

if [[ ${1:-} == --inside-x ]]; then  # the part that runs on the virtual display
    "$WINELOADER" wineboot -i </dev/null >/dev/null 2>&1 || true
    status=0
    "$WINELOADER" "$root/build/win32/setup_shots.exe" "Z:${2//\//\\}" \
        "Z:${shots//\//\\}\\setup_language.bmp" || status=$?
    "$server" -k || true
    exit $status
fi

if ! "$root/cmake/wine-run.sh" --can-run 32; then
    echo "setup_screenshot: no picture taken: $("$root/cmake/wine-run.sh" --why-not 32)" >&2
    exit 1
fi
for p in xvfb imagemagick nsis; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "$p"
    fi
done

cmake --preset win32 >/dev/null
cmake --build --preset win32 --target installer setup_shots
setup=$(ls "$root"/build/win32/BrenloPlug3-"$(cat build/win32/version.txt)"-setup.exe)

out=$root/docs/screenshots
mkdir -p "$shots" "$out"
rm -f "$shots/setup_language.bmp"

xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/setup_screenshot.sh" --inside-x "$setup"

/usr/bin/convert "$shots/setup_language.bmp" -strip "$out/setup_language.png"
echo "setup_screenshot: $out/setup_language.png"
