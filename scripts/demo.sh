#!/usr/bin/env bash
# The main job end to end under headless Wine: the stand-in player loads the plug-in and plays a
# short playlist; what the player and the plug-in do is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# The shipped plug-in is the 32-bit DLL; where this machine cannot run 32-bit programs the demo
# uses the x86_64 build of the same sources.
preset=win32
cmake/wine-run.sh --can-run 32 || preset=win64
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
build=build/$preset
prefix=$build/wineprefix-demo
wine=(cmake/wine-run.sh --prefix "$prefix")
"${wine[@]}" --start >/dev/null
trap '"${wine[@]}" --stop >/dev/null' EXIT

# A fresh registry for the demo: the first start question is answered "No".
"${wine[@]}" -- reg delete 'HKCU\Software\BrenlosTools' /f >/dev/null 2>&1 || true

# The German language file goes into the Windows folder, where the plug-in looks for it.
windir=$prefix/drive_c/windows
[[ -d $windir ]] && cp lang/german/brenloplug_language.ini "$windir/brenloplug_language.ini"

zpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
log=$build/demo-player.log
"${wine[@]}" -- "$build/winamp_standin.exe" --plugin "$(zpath "$build/gen_brenloplug3.dll")" \
    --playlist "$(zpath demo/playlist.txt)" --script "$(zpath demo/player.script)" --answer no \
    --playing 1 \
    | tee "$log"

# Each song the plug-in detects shows in the player's log as the plug-in's song queries
# (125: current entry, 211: file name, 212: title, 126: bit rate).
echo
echo "Songs the plug-in detected:"
tr -d '\r' <"$log" | grep 'query 212: title of entry' | sed -e 's/^player: query 212: title of entry index [0-9]*: /  /' \
    || echo "  (none)"
