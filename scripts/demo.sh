#!/usr/bin/env bash
# The main job end to end under headless Wine: the stand-in player loads the plug-in and plays a
# short playlist; the songs are announced in the stand-in chat client's rooms, and another user
# downloads the last announced song from the plug-in's file server. What happens is printed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# The shipped plug-in is the 32-bit DLL, run under 32-bit Wine. Where this machine cannot run
# 32-bit programs (or BP_WINE_NO32=1 pretends so) the demo uses the x86_64 build of the same
# sources under 64-bit Wine; a build never runs under the other kind's loader.
preset=win32 bits=32
if ! cmake/wine-run.sh --can-run 32; then
    echo "demo: the i686 build cannot run here ($(cmake/wine-run.sh --why-not 32)); showing the x86_64 build"
    preset=win64 bits=64
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" >/dev/null
build=build/$preset
prefix=$build/wineprefix-demo
wine=(cmake/wine-run.sh --bits "$bits" --prefix "$prefix")
"${wine[@]}" --start >/dev/null
trap '"${wine[@]}" --stop >/dev/null' EXIT

# A fresh registry for the demo: the first start question is answered "No".
"${wine[@]}" -- reg delete 'HKCU\Software\BrenlosTools' /f >/dev/null 2>&1 || true

# The German language file goes into the Windows folder, where the plug-in looks for it.
windir=$prefix/drive_c/windows
[[ -d $windir ]] && cp lang/german/brenloplug_language.ini "$windir/brenloplug_language.ini"

zpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }

# Settings chosen to show the gradient, the extended song information, the advert line and the
# download link.
"${wine[@]}" -- reg import "$(zpath demo/settings.reg)" >/dev/null 2>&1
# BP_DEMO_SETTINGS names a further .reg file laid over them (scripts/screenshots.sh takes the
# rooms with a wavy ten-colour gradient this way).
[[ -z ${BP_DEMO_SETTINGS:-} ]] || "${wine[@]}" -- reg import "$(zpath "$BP_DEMO_SETTINGS")" >/dev/null 2>&1

# The songs of the playlist, so that there is something to download.
mkdir -p "$prefix/drive_c/Music"
while IFS='|' read -r file _; do
    [[ $file == C:* ]] || continue
    song=$prefix/drive_c/$(echo "${file#C:\\}" | tr '\\' /)
    [[ -f $song ]] || head -c 400000 /dev/urandom >"$song"
done <demo/playlist.txt

# The stand-in address service on loopback answers the plug-in's address lookup with the caller's
# address (127.0.0.1 here); the two host values point the lookup at it, so the announced link
# carries a real token.
echolog=$build/demo-echo.log
"${wine[@]}" -- "$build/echo_service.exe" --timeout 180000 >"$echolog" 2>&1 &
for _ in $(seq 150); do grep -q "echo: port" "$echolog" 2>/dev/null && break; sleep 0.2; done
echoport=$(tr -d '\r' <"$echolog" | sed -n 's/^echo: port //p')
for value in echohost webhost; do
    "${wine[@]}" -- reg add 'HKCU\Software\BrenlosTools\BrenloPlug3\fs' /v "$value" /d \
        "127.0.0.1:$echoport" /f >/dev/null 2>&1
done

# The stand-in chat client with two chat rooms; in the first the user has already typed a text.
chatlog=$build/demo-chat.log
chatin=$build/demo-chat.in
rm -f "$chatin" && mkfifo "$chatin"
"${wine[@]}" -- "$build/aol_standin.exe" --commands --timeout 120000 \
    --room "AB|24|Lobby|hallo, wie gehts?" --room "AB|24|Musik" <"$chatin" >"$chatlog" 2>&1 &
chatpid=$!
exec 3>"$chatin"
for _ in $(seq 150); do grep -q "chat: ready" "$chatlog" 2>/dev/null && break; sleep 0.2; done

# The player answers the first-start question "No" and the download question "OK".
log=$build/demo-player.log
: >"$log"  # emptied here: the background start below may open it only later
"${wine[@]}" -- "$build/winamp_standin.exe" --plugin "$(zpath "$build/gen_brenloplug3.dll")" \
    --playlist "$(zpath demo/playlist.txt)" --script "$(zpath demo/player.script)" --answer no \
    --confirm ok --playing 1 --hold-meter >"$log" 2>&1 &
playerpid=$!
tail -f --pid=$playerpid "$log" 2>/dev/null &

# Another user of the plug-in downloads the announced song as the chat shows it: once the third
# song has been announced, the downloading peer takes the newest line with a link from the chat
# client's room, decodes the address and port from the link and downloads the song, reading
# slowly enough for the player to show the transfer's row on its way.
downloads=$build/demo-download
rm -rf "$downloads" && mkdir -p "$downloads"
for _ in $(seq 300); do grep -aq "waiting for a download" "$log" 2>/dev/null && break; sleep 0.1; done
LC_ALL=C tr -d '\r' <"$chatlog" | LC_ALL=C grep -a 'www\.brenloplug:' | tail -1 >"$build/demo-link.txt"
peerlog=$build/demo-peer.log
"${wine[@]}" -- "$build/download_peer.exe" --link-file "$(zpath "$build/demo-link.txt")" \
    --user MusikFan83 --folder "$(zpath "$downloads")" --read-size 16384 --read-delay 120 \
    --quiet --timeout 20 >"$peerlog" 2>&1 || true
wait "$playerpid" || true
sleep 0.3

# Each song the plug-in detects shows in the player's log as the plug-in's song queries
# (125: current entry, 211: file name, 212: title, 126: bit rate).
echo
echo "Songs the plug-in detected:"
tr -d '\r' <"$log" | grep -a 'query 212: title of entry' | sed -e 's/^player: query 212: title of entry index [0-9]*: /  /' \
    || echo "  (none)"

# The player's hold meter (a 10 ms timer of its own): how long its message loop was held around
# each announced song. The first report covers the start, the others one song each.
echo
echo "The player's longest hold per song:"
tr -d '\r' <"$log" | grep -a 'longest hold of the message loop' | tail -n +2 |
    awk -F': ' '{ print "  song " NR ": " $3 }' || echo "  (none)"

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
echo "  the link the peer followed: $(LC_ALL=C grep -ao 'www\.brenloplug:[^"]*' "$build/demo-link.txt" 2>/dev/null | tail -1)"
tr -d '\r' <"$peerlog" | sed -e 's/^/  peer: /'
tr -d '\r' <"$log" | grep -aE "answering|file server" | sed -e 's/^player: /  /' | iconv -f CP1252 -t UTF-8
served=$prefix/drive_c/Music/"Kraftwerk - Das Model.mp3"
received=$downloads/"Kraftwerk - Das Model.mp3"
echo "  sha256 of the served song:     $(sha256sum "$served" | cut -d' ' -f1)"
if [[ -f $received ]]; then
    echo "  sha256 of the downloaded song: $(sha256sum "$received" | cut -d' ' -f1)"
    cmp -s "$served" "$received" && echo "  the files are identical" || echo "  THE FILES DIFFER"
else
    echo "  no file arrived"
fi

# The chat rooms as a page: every line each room received, rendered as the chat client shows its
# markup, with the room names and the texts left in the inputs. It is made from what the stand-in
# chat client recorded, not from what the plug-in composed. BP_DEMO_PAGE chooses the file.
page=${BP_DEMO_PAGE:-$build/demo-chat.html}
cmake --preset native >/dev/null
cmake --build --preset native --target chat_page >/dev/null
build/native/chat_page "$chatlog" "$page"
echo
echo "The chat rooms as a page (plain HTML, open it in a browser):"
echo "  $(realpath "$page")"
