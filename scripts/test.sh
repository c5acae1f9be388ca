#!/usr/bin/env bash
# Builds every preset and runs every test suite: the portable core natively under ASan/UBSan,
# clang-tidy over the portable core, the libFuzzer targets (each for a bounded time over its seeds
# and its working corpus), the Windows builds (each Windows suite under Wine with the loader of its
# own kind: i686 under 32-bit Wine, x86_64 under 64-bit Wine), and a smoke run of every benchmark
# (a tiny size, no figure judged), so that none of them rots. Ends with one summary line per suite
# (and one for clang-tidy, one for the benchmarks): passed, failed, or skipped with the reason.
#
# Environment:
#   BP_WINE_NO32=1   pretend that this machine cannot run 32-bit programs: the i686 suite is then
#                    reported as skipped (what happens for real on kernels without 32-bit support)
#   BP_FUZZ_SECONDS=N  seconds per fuzz target (see cmake/Fuzz.cmake; default 40)
#   BP_SOAK_SEED=N   the seed of the file server's soak (each run prints the one it used; without
#                    it a fixed one), to replay a run
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
status=0
declare -A result
run() { echo; echo "=== $*"; "$@" || { status=1; return 1; }; }

built=()
for preset in native-asan fuzz win32 win64; do
    if run cmake --preset "$preset" >/dev/null && run cmake --build --preset "$preset" -j "$jobs"; then
        built+=("$preset")
    else
        result[$preset]="FAILED (build)"
    fi
done
# Static analysis of the portable core, with the compile commands of the sanitizer build.
if [[ " ${built[*]} " == *" native-asan "* ]]; then
    if run scripts/tidy.sh build/native-asan; then result[tidy]="passed"; else result[tidy]="FAILED"; fi
else
    result[tidy]="not run (no native-asan build)"
fi
# The Google Benchmark programs are built here and run (briefly) with the bench scripts below.
run cmake --preset native >/dev/null
run cmake --build --preset native -j "$jobs" || result[native]="FAILED (build)"

# ctest's verdict on one preset, kept in a log; the summary reads the log.
suite() {
    local preset=$1 log=build/$1/ctest.log
    echo; echo "=== ctest --preset $preset"
    if ctest --preset "$preset" -j "$2" -V >"$log" 2>&1; then
        result[$preset]="passed"
    else
        result[$preset]="FAILED"
        status=1
    fi
    # The Windows suite is one program under Wine, one ctest entry: show its own tally as well.
    grep -E '^[0-9]+: \[(==========|  PASSED  |  FAILED  )\] [0-9]+ tests?' "$log" || true
    grep -E '^[0-9]+: \[  FAILED  \] ' "$log" | sort -u || true
    sed -n '/tests passed, /,$p' "$log"
    [[ ${result[$preset]} == passed ]] || tail -n 80 "$log"
}

# The tally of one suite: the GoogleTest count where there is one, else ctest's.
tally() {
    local log=build/$1/ctest.log gtest
    gtest=$(grep -E '^[0-9]+: \[==========\] [0-9]+ tests? from .* ran' "$log" 2>/dev/null |
            sed -E 's/.*\] ([0-9]+) tests?.*/\1/' | awk '{n += $1} END {if (NR) print n}')
    local ctest_line
    ctest_line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" 2>/dev/null | tail -1)
    if [[ -n $gtest ]]; then echo "$gtest GoogleTest tests; ctest: $ctest_line"; else echo "ctest: $ctest_line"; fi
}

for preset in "${built[@]}"; do
    case $preset in
        native-asan | fuzz) suite "$preset" "$jobs" ;;
        win32 | win64)
            suite "$preset" 1
            # A suite that could not run is skipped, never run under the wrong loader.
            if grep -qE 'win32_tests .*\*\*\*Skipped|win32_tests .*Not Run' "build/$preset/ctest.log"; then
                bits=32; [[ $preset == win64 ]] && bits=64
                why=$(cmake/wine-run.sh --why-not "$bits")
                result[$preset]="SKIPPED (Windows suite not run: ${why:-see build/$preset/ctest.log})"
            fi
            ;;
    esac
done

# Every benchmark still runs: each bench script in its smoke mode and each Google Benchmark
# program for a moment. Their figures are printed, never judged.
bench_failed=()
for script in bench/*.sh; do
    run "$script" --smoke || bench_failed+=("$(basename "$script")")
done
if [[ -z ${result[native]:-} ]]; then
    for src in bench/*.cpp; do
        program=build/native/$(basename "$src" .cpp)
        run "$program" --benchmark_min_time=0.01 || bench_failed+=("$(basename "$program")")
    done
else
    bench_failed+=("native build")
fi
if ((${#bench_failed[@]} == 0)); then
    result[bench]="passed"
else
    result[bench]="FAILED (${bench_failed[*]})"
fi

label() {
    case $1 in
        native-asan) echo "native (ASan/UBSan)" ;;
        fuzz) echo "fuzz (libFuzzer)" ;;
        win32) echo "Windows i686 (the shipped DLL)" ;;
        win64) echo "Windows x86_64" ;;
    esac
}
echo
echo "=== summary"
for preset in native-asan fuzz win32 win64; do
    r=${result[$preset]:-not run}
    t=""; [[ -f build/$preset/ctest.log && $r != "FAILED (build)" ]] && t=" - $(tally "$preset")"
    printf '  %-32s %s%s\n' "$(label "$preset"):" "$r" "$t"
    [[ $r == passed || $r == SKIPPED* ]] || status=1
done
printf '  %-32s %s\n' "clang-tidy (portable core):" "${result[tidy]}"
[[ ${result[tidy]} == passed ]] || status=1
printf '  %-32s %s\n' "benchmarks (smoke runs):" "${result[bench]}"
[[ ${result[bench]} == passed ]] || status=1
exit $status
