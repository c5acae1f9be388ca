#!/usr/bin/env bash
# Player's hold while the chat client hangs: the stand-in chat client stops answering for HANG_MS
# (8000) at the plug-in's first message to it; the stand-in player with the plug-in measures with
# its hold meter the longest gap between the ticks of its 10 ms timer from the song change until
# the hang is over. The suite only checks that the player's timers run during the hang. Needs the
# Windows build that Wine runs here (win32, or win64 where 32-bit programs cannot run).
#
#   bench/hung_chat_hold.sh           one hang of 8 s
#   bench/hung_chat_hold.sh --smoke   a hang of 1 s: that the benchmark still runs (no figure is
#                                     judged), and the prefix's wineserver is ended again
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.bash
bench_options "$@"
bench_windows_build wineprefix-hung-bench
HANG_MS=${HANG_MS:-8000}
[[ $smoke == 1 ]] && HANG_MS=1000
WORK=$(mktemp -d /tmp/hung_bench.XXXXXX)
chatpid=""
cleanup() {
    [[ -n $chatpid ]] && kill "$chatpid" 2>/dev/null
    "${WINE[@]}" --stop >/dev/null 2>&1
    rm -rf "$WORK"
    true
}
trap cleanup EXIT
for f in gen_brenloplug3.dll winamp_standin.exe aol_standin.exe; do
    [[ -f $BUILD/$f ]] || { echo "build the $preset preset first ($f is missing)" >&2; exit 1; }
done
zpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
"${WINE[@]}" --start >/dev/null 2>&1 || true

# Chat output on, no sharing (no address lookup), the first start already done.
cat >"$WORK/settings.reg" <<REG
REGEDIT4

[HKEY_CURRENT_USER\\Software\\BrenlosTools\\BrenloPlug3\\general]
"enablechat"=dword:00000001

[HKEY_CURRENT_USER\\Software\\BrenlosTools\\BrenloPlug3\\aol]
"enableaol"=dword:00000001
"aolfs"=dword:00000000
REG
"${WINE[@]}" -- reg delete 'HKCU\Software\BrenlosTools' /f >/dev/null 2>&1 || true
"${WINE[@]}" -- reg import "$(zpath "$WORK/settings.reg")" >/dev/null 2>&1
echo 'C:\Music\Song.mp3|Artist - Song|300|128' >"$WORK/playlist.txt"

"${WINE[@]}" -- "$BUILD/aol_standin.exe" --hang-on-post "$HANG_MS" --timeout $((HANG_MS + 60000)) \
    --room "AB|24|Lobby|hallo" >"$WORK/chat.out" 2>&1 &
chatpid=$!
for _ in $(seq 300); do grep -q "chat: ready" "$WORK/chat.out" 2>/dev/null && break; sleep 0.1; done
grep -q "chat: ready" "$WORK/chat.out" || { echo "the chat client did not start" >&2; exit 1; }

# The player's timers 42 and 43 tick about 16 times a second: enough ticks to outlast the hang.
ticks=$((HANG_MS * 16 / 1000 + 32))
"${WINE[@]}" -- "$BUILD/winamp_standin.exe" --hold-meter --plugin "$(zpath "$BUILD/gen_brenloplug3.dll")" \
    --playlist "$(zpath "$WORK/playlist.txt")" --answer no \
    -c "until query 105 data 0: -1; hold; play 1; until query 126; ticks $ticks; hold; quit" \
    2>&1 | tr -d '\r' >"$WORK/player.out"
holds=($(sed -n 's/^player: longest hold of the message loop: \([0-9]*\) ms$/\1/p' "$WORK/player.out"))
grep -q "chat: hanging for $HANG_MS ms" "$WORK/chat.out" ||
    { echo "the chat client never hung:" >&2; cat "$WORK/chat.out" "$WORK/player.out" >&2; exit 1; }
((${#holds[@]} == 2)) || { echo "no hold figures:" >&2; cat "$WORK/player.out" >&2; exit 1; }
echo "Player's hold while the chat client hangs for $HANG_MS ms ($preset under Wine):"
echo "  from the load to the song change: ${holds[0]} ms"
echo "  from the song change through the hang: ${holds[1]} ms"
