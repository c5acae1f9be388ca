#!/usr/bin/env bash
# Builds every preset and runs every test suite: the portable core natively under ASan/UBSan,
# the libFuzzer targets, and the Windows builds (the Windows suite under Wine).
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
# Benchmarks are built (not run) so that they keep compiling.
run cmake --preset native >/dev/null
run cmake --build --preset native -j "$jobs"

for preset in native-asan fuzz win32 win64; do
    run ctest --preset "$preset" -j "$jobs"
done
exit $status
