#!/usr/bin/env bash
# Announcement hold benchmark: how long the player's message loop is held at each of 5 song
# changes, with 3 chat rooms, the advert line, sharing on and an address service that accepts
# and never answers, for the plug-in as it was before the announcer thread (built from BASE, by
# default the parent of the commit that brought the announcer) and for this tree, in one run under
# Wine. The hold is measured
# from the player's side: the stand-in player's hold meter (the largest gap between the ticks of
# its own 10 ms timer). Also printed: the time from the song change to the last line in the last
# room. Needs the Windows build of this tree (win32, or win64 where 32-bit programs cannot run).
#
#   bench/announce_hold.sh               builds BASE's DLL in a temporary worktree next to this one
#   BASE_DLL=path bench/announce_hold.sh uses an already built DLL of the earlier plug-in
#   bench/announce_hold.sh --smoke       one song, this tree's plug-in only: that the benchmark
#                                        still runs (the test command calls it; nothing judged)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.bash
bench_options "$@"
bench_windows_build wineprefix-announce-bench
SONGS=5
[[ $smoke == 1 ]] && SONGS=1
WORK=$(mktemp -d /tmp/announce_bench.XXXXXX)
# The plug-in before the announcer: the parent of the commit that brought it.
announcer_commit() {
    git log -1 --format=%H --grep='^Announcements are posted by an announcer thread' HEAD
}
if [[ -z ${BASE:-} && $smoke == 0 ]]; then
    first=$(announcer_commit)
    [[ -n $first ]] || { echo "no announcer commit in this history: set BASE or BASE_DLL" >&2; exit 1; }
    BASE=$(git rev-parse "$first^")
fi
basetree=$PWD-base
made_basetree=0
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [[ $made_basetree == 1 ]]; then git worktree remove --force "$basetree" || true; fi
    "${WINE[@]}" --stop >/dev/null 2>&1 || true
    rm -rf "$WORK"
}
trap cleanup EXIT

for f in gen_brenloplug3.dll winamp_standin.exe aol_standin.exe echo_service.exe; do
    [[ -f $BUILD/$f ]] || { echo "build the $preset preset first ($f is missing)" >&2; exit 1; }
done

# The plug-in before the announcer, from a worktree of BASE (only the DLL is built, once: it is
# kept in this build folder under BASE's commit).
if [[ $smoke == 0 && -z ${BASE_DLL:-} ]]; then
    BASE_DLL=$BUILD/announce_bench_base/$BASE.dll
    if [[ ! -f $BASE_DLL ]]; then
        echo "building the plug-in of ${BASE:0:12} (before) in $basetree ..." >&2
        [[ -d $basetree ]] && git worktree remove --force "$basetree"
        git worktree add --detach "$basetree" "$BASE" >/dev/null
        made_basetree=1
        launcher=()
        command -v ccache >/dev/null &&
            launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
        (cd "$basetree" && CCACHE_NOHASHDIR=1 cmake --preset "$preset" "${launcher[@]}" >/dev/null &&
            CCACHE_NOHASHDIR=1 cmake --build --preset "$preset" -j2 --target gen_brenloplug3 >/dev/null)
        mkdir -p "$(dirname "$BASE_DLL")"
        cp "$basetree/build/$preset/gen_brenloplug3.dll" "$BASE_DLL"
    fi
fi
mkdir -p "$WORK/before_dir" "$WORK/after_dir"
[[ $smoke == 1 ]] || cp "$BASE_DLL" "$WORK/before_dir/gen_brenloplug3.dll"
cp "$BUILD/gen_brenloplug3.dll" "$WORK/after_dir/gen_brenloplug3.dll"

"${WINE[@]}" --start >/dev/null 2>&1 || true
zpath() { echo "Z:$(realpath "$1" | tr / '\\')"; }
# Each line as it arrives, with the seconds of this machine's monotonic clock in front.
stamp() { python3 -u -c '
import sys, time
for line in sys.stdin:
    sys.stdout.write("%.3f %s" % (time.monotonic(), line))'; }

"${WINE[@]}" -- "$BUILD/echo_service.exe" --mode silent --timeout 600000 >"$WORK/echo.out" 2>&1 &
pids+=($!)
for _ in $(seq 200); do grep -q "echo: port" "$WORK/echo.out" 2>/dev/null && break; sleep 0.1; done
echoport=$(tr -d '\r' <"$WORK/echo.out" | sed -n 's/^echo: port //p')
[[ -n $echoport ]] || { echo "the address service did not start" >&2; exit 1; }

# The demo's settings (every value present: gradient, advert line, sharing on), with the address
# service on loopback and a listener port of this benchmark's own.
cat >"$WORK/settings.reg" <<EOF
REGEDIT4

[HKEY_CURRENT_USER\\Software\\BrenlosTools\\BrenloPlug3\\fs]
"fsport"="47312"
"echohost"="127.0.0.1:$echoport"
"webhost"="127.0.0.1:$echoport"
EOF
"${WINE[@]}" -- reg delete 'HKCU\Software\BrenlosTools' /f >/dev/null 2>&1 || true
"${WINE[@]}" -- reg import "$(zpath demo/settings.reg)" >/dev/null 2>&1
"${WINE[@]}" -- reg import "$(zpath "$WORK/settings.reg")" >/dev/null 2>&1

: >"$WORK/playlist.txt"
# The first report covers the load; the second 2 s of nothing but the player (the noise floor of
# the meter on this machine); then one per song.
script="wait 500; hold; wait 2000; hold"
for n in $(seq $SONGS); do
    echo "C:\\Music\\Song $n.mp3|Artist - Song $n|300|128" >>"$WORK/playlist.txt"
    script+="; stop; wait 300; play $n; wait 6500; hold"
done
script+="; quit"

run() {  # label plugin-folder
    local label=$1 dll=$2 chatin=$WORK/$1.chat.in
    rm -f "$chatin" && mkfifo "$chatin"
    "${WINE[@]}" -- "$BUILD/aol_standin.exe" --commands --timeout 120000 --room "AB|24|Raum 1" \
        --room "AB|24|Raum 2" --room "AB|24|Raum 3" <"$chatin" 2>&1 | stamp >"$WORK/$label.chat" &
    local chatpid=$!
    exec 3>"$chatin"
    for _ in $(seq 200); do grep -q "chat: ready" "$WORK/$label.chat" 2>/dev/null && break; sleep 0.1; done
    "${WINE[@]}" -- "$BUILD/winamp_standin.exe" --hold-meter --plugin "$(zpath "$dll")" \
        --playlist "$(zpath "$WORK/playlist.txt")" --answer no -c "$script" 2>&1 |
        stamp >"$WORK/$label.player"
    echo quit >&3
    exec 3>&-
    wait "$chatpid" || true
}
if [[ $smoke == 0 ]]; then
    echo "running the plug-in before the announcer ..." >&2
    run before "$WORK/before_dir/gen_brenloplug3.dll"
fi
echo "running the plug-in with the announcer ..." >&2
run after "$WORK/after_dir/gen_brenloplug3.dll"

python3 - "$WORK" "$SONGS" "$preset" <<'EOF'
import re, sys
work, songs, preset = sys.argv[1], int(sys.argv[2]), sys.argv[3]

def figures(label):
    try:
        open(f"{work}/{label}.player").close()
    except OSError:
        return [], [], None
    player = [l.rstrip("\r\n").split(" ", 1) for l in open(f"{work}/{label}.player", errors="replace")]
    chat = [l.rstrip("\r\n").split(" ", 1) for l in open(f"{work}/{label}.chat", errors="replace")]
    plays = [float(t) for t, l in player if re.match(r"player: playing entry \d+", l)]
    reports = [int(m.group(1)) for t, l in player
               if (m := re.match(r"player: longest hold of the message loop: (\d+) ms", l))]
    idle, holds = (reports[1] if len(reports) > 1 else None), reports[2:]
    # The rooms are served in the chat client's window order: the last line of a song is the
    # song line in the room served last.
    last = [float(t) for t, l in chat if re.match(r"chat: room '[^']*': ", l)
            and "BrenloPlug3alpha" not in l]
    lines = []
    for i, start in enumerate(plays):
        end = plays[i + 1] if i + 1 < len(plays) else float("inf")
        inside = [t for t in last if start <= t < end]
        lines.append((inside[-1] - start) * 1000 if inside else None)
    return holds, lines, idle

before, after = figures("before"), figures("after")
print(f"Announcement hold ({preset} under Wine): 3 chat rooms, advert line, sharing on,")
print("an address service that accepts and never answers; player's hold meter ticks every 10 ms")
print(f"{'song':>4}  {'before: hold':>13}  {'last line':>10}  {'after: hold':>12}  {'last line':>10}")
fmt = lambda v: "-" if v is None else f"{v:.0f} ms"
print(f"{'idle':>4}  {fmt(before[2]):>13}  {'':>10}  {fmt(after[2]):>12}")
for n in range(songs):
    b_h = before[0][n] if n < len(before[0]) else None
    a_h = after[0][n] if n < len(after[0]) else None
    b_l = before[1][n] if n < len(before[1]) else None
    a_l = after[1][n] if n < len(after[1]) else None
    print(f"{n + 1:>4}  {fmt(b_h):>13}  {fmt(b_l):>10}  {fmt(a_h):>12}  {fmt(a_l):>10}")
if before[0] and after[0]:
    print(f"longest hold: before {max(before[0])} ms, after {max(after[0])} ms (goal: at most 50 ms)")
EOF
