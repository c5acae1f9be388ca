#!/usr/bin/env bash
# Message-loop stall under a connection flood: the Windows suite's flood (a thousand connections
# from loopback addresses while a real peer downloads) run a few times under Wine; prints, for
# each run, the longest time a message posted to the loop waited until it was handled, and the
# largest of them. The suite itself only checks that the loop did not stand still. Needs the
# Windows build that Wine runs here (win32, or win64 where 32-bit programs cannot run).
#
#   bench/flood_stall.sh           three runs (ROUNDS=N for more)
#   bench/flood_stall.sh --smoke   one run: that the benchmark still runs (the test command calls
#                                  it; no figure is judged), and the prefix's wineserver is ended
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/common.bash
bench_options "$@"
bench_windows_build wineprefix
ROUNDS=${ROUNDS:-3}
[[ $smoke == 1 ]] && ROUNDS=1
[[ -f $BUILD/win32_tests.exe ]] || { echo "build the $preset preset first" >&2; exit 1; }
cleanup() { [[ $smoke == 1 ]] && "${WINE[@]}" --stop >/dev/null 2>&1; true; }
trap cleanup EXIT
"${WINE[@]}" --start >/dev/null 2>&1 || true  # may be running already

echo "Message-loop stall under a flood of 1000 connections ($preset under Wine):"
largest=0
for round in $(seq "$ROUNDS"); do
    out=$("${WINE[@]}" -- "$BUILD/win32_tests.exe" \
        --gtest_filter='FileServerLoad.AFloodOfAThousandConnections*' 2>&1 | tr -d '\r') || true
    ms=$(sed -n 's/^\[ flood    \] longest wait of the message loop: \([0-9]*\) ms$/\1/p' <<<"$out")
    [[ -n $ms ]] || { echo "the flood did not report its figure:" >&2; tail -n 20 <<<"$out" >&2; exit 1; }
    echo "  run $round: longest wait of the message loop $ms ms"
    ((ms > largest)) && largest=$ms
done
echo "largest: $largest ms"
