#!/usr/bin/env bash
# Address lookup hold benchmark: how long one announcement is held by the public-address lookup
# when the address service accepts and never answers, when it trickles its reply, and when it
# answers at once, all on loopback under Wine. Prints each lookup's hold and the longest one next
# to the two-second bound. Needs the Windows build that Wine runs here (win32, or win64 where
# 32-bit programs cannot run).
#
#   bench/address_hold.sh            five lookups per service, figures printed
#   bench/address_hold.sh --smoke    one lookup per service: that the benchmark still runs (the
#                                    test command calls it; no figure is judged), and the prefix's
#                                    wineserver is ended again
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.bash
bench_options "$@"
bench_windows_build wineprefix
WINE_RUN=$PWD/cmake/wine-run.sh
ROUNDS=${ROUNDS:-5}
[[ $smoke == 1 ]] && ROUNDS=1
WORK=$(mktemp -d /tmp/address_bench.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    [[ $smoke == 1 ]] && "$WINE_RUN" --bits "$bits" --prefix "$PREFIX" --stop >/dev/null 2>&1
    rm -rf "$WORK"
}
trap cleanup EXIT

[[ -f $BUILD/address_bench.exe && -f $BUILD/echo_service.exe ]] ||
    { echo "build the $preset preset first" >&2; exit 1; }
"$WINE_RUN" --bits "$bits" --prefix "$PREFIX" --start >/dev/null 2>&1 || true  # may be running already

start_service() {  # mode -> prints the port
    local mode=$1 out=$WORK/$1.out
    "$WINE_RUN" --bits "$bits" --prefix "$PREFIX" -- "$BUILD/echo_service.exe" --mode "$mode" --timeout $((ROUNDS * 3000 + 30000)) \
        >"$out" 2>&1 &
    pids+=($!)
    for _ in $(seq 200); do
        local port
        port=$(tr -d '\r' <"$out" | sed -n 's/^echo: port //p')
        [[ -n $port ]] && { echo "$port"; return; }
        sleep 0.1
    done
    echo "echo service ($mode) did not start" >&2
    exit 1
}

for mode in silent trickle address; do
    port=$(start_service "$mode")
    "$WINE_RUN" --bits "$bits" --prefix "$PREFIX" -- "$BUILD/address_bench.exe" --host "127.0.0.1:$port" \
        --rounds "$ROUNDS" --name "$mode" | tr -d '\r'
done
