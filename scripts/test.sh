#!/usr/bin/env bash
# Builds every preset and runs every test suite: the portable core natively under ASan/UBSan,
# clang-tidy over the portable core, the libFuzzer targets, and the Windows builds (the Windows
# suite under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
status=0
run() { echo; echo "=== $*"; "$@" || status=1; }

for preset in native-asan fuzz win32 win64; do
    run cmake --preset "$preset" >/dev/null
    run cmake --build --preset "$preset" -j "$jobs"
done
# Static analysis of the portable core, with the compile commands of the sanitizer build.
run scripts/tidy.sh build/native-asan
# Benchmarks are built (not run) so that they keep compiling.
run cmake --preset native >/dev/null
run cmake --build --preset native -j "$jobs"

# The Windows suite is one program under Wine, one ctest entry: show its own tally as well.
wine_suite() {
    local preset=$1 log=build/$1/ctest-verbose.log
    echo; echo "=== ctest --preset $preset"
    if ctest --preset "$preset" -V >"$log" 2>&1; then
        grep -E '^[0-9]+: \[(==========|  PASSED  )\] [0-9]+ tests?( from .* ran)?' "$log" || true
        sed -n '/tests passed, /,$p' "$log"
    else
        cat "$log"
        status=1
    fi
}

for preset in native-asan fuzz; do
    run ctest --preset "$preset" -j "$jobs"
done
for preset in win32 win64; do
    wine_suite "$preset"
done
exit $status
