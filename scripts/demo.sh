#!/usr/bin/env bash
# The main job end to end under headless Wine: the stand-in player loads the plug-in and plays a
# short playlist; the songs are announced in the stand-in chat client's rooms, and another user
# downloads the last announced song from the plug-in's file server. What happens is printed.
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

# Settings chosen to show the gradient, the extended song information and the advert line.
"${wine[@]}" -- reg import "$(zpath demo/settings.reg)" >/dev/null 2>&1

# The stand-in chat client with two chat rooms; in the first the user has already typed a text.
chatlog=$build/demo-chat.log
chatin=$build/demo-chat.in
rm -f "$chatin" && mkfifo "$chatin"
"${wine[@]}" -- "$build/aol_standin.exe" --commands --timeout 120000 \
    --room "AB|24|Lobby|hallo, wie gehts?" --room "AB|24|Musik" <"$chatin" >"$chatlog" 2>&1 &
chatpid=$!
exec 3>"$chatin"
for _ in $(seq 150); do grep -q "chat: ready" "$chatlog" 2>/dev/null && break; sleep 0.2; done

# The songs of the playlist exist on the demo's drive C:, so that the file server can offer them.
music=$prefix/drive_c/Music
mkdir -p "$music"
tr -d '\r' <demo/playlist.txt | grep -v '^#' | cut -d'|' -f1 | while read -r song; do
    name=${song##*\\}
    [[ -f $music/$name ]] || head -c 480000 /dev/urandom >"$music/$name"
done

# The player answers the first-start question "No" and the download question "OK".
log=$build/demo-player.log
: >"$log"  # emptied here: the background start below may open it only later
"${wine[@]}" -- "$build/winamp_standin.exe" --plugin "$(zpath "$build/gen_brenloplug3.dll")" \
    --playlist "$(zpath demo/playlist.txt)" --script "$(zpath demo/player.script)" --answer no \
    --confirm ok --playing 1 >"$log" 2>&1 &
playerpid=$!
tail -f --pid=$playerpid "$log" 2>/dev/null &

# Another user of the plug-in downloads the announced song: the downloading peer connects to the
# port set on the page "Dateiaustausch" once the third song has been announced, and reads slowly
# enough for the player to show the transfer's row on its way.
downloads=$build/demo-download
rm -rf "$downloads" && mkdir -p "$downloads"
for _ in $(seq 300); do grep -aq "waiting for a download" "$log" 2>/dev/null && break; sleep 0.1; done
peerlog=$build/demo-peer.log
"${wine[@]}" -- "$build/download_peer.exe" 127.0.0.1 4711 --user MusikFan83 \
    --folder "$(zpath "$downloads")" --read-size 16384 --read-delay 120 --quiet >"$peerlog" 2>&1 ||
    true
wait "$playerpid" || true
sleep 0.3

# Each song the plug-in detects shows in the player's log as the plug-in's song queries
# (125: current entry, 211: file name, 212: title, 126: bit rate).
echo
echo "Songs the plug-in detected:"
tr -d '\r' <"$log" | grep -a 'query 212: title of entry' | sed -e 's/^player: query 212: title of entry index [0-9]*: /  /' \
    || echo "  (none)"

# The chat client ends; its log shows each line as a room got it and, last, the inputs' texts:
# the text the user had typed is back in the first room's input.
echo quit >&3
exec 3>&-
wait "$chatpid" || true
rm -f "$chatin"
echo
echo "The chat client's rooms:"
tr -d '\r' <"$chatlog" | grep -av "^chat: ready" | sed -e 's/^chat: /  /'

# The download: what the peer says, the question the user answered, the row on its way, and the
# two files compared.
echo
echo "The download by another user:"
tr -d '\r' <"$peerlog" | sed -e 's/^/  peer: /'
tr -d '\r' <"$log" | grep -aE "answering|file server" | sed -e 's/^player: /  /' | iconv -f CP1252 -t UTF-8
served=$music/"Kraftwerk - Das Model.mp3"
received=$downloads/"Kraftwerk - Das Model.mp3"
echo "  sha256 of the served song:     $(sha256sum "$served" | cut -d' ' -f1)"
if [[ -f $received ]]; then
    echo "  sha256 of the downloaded song: $(sha256sum "$received" | cut -d' ' -f1)"
    cmp -s "$served" "$received" && echo "  the files are identical" || echo "  THE FILES DIFFER"
else
    echo "  no file arrived"
fi
