#!/usr/bin/env bash
# clang-tidy over the portable core (every src/ .cpp that is not Win32-only, and the src/ headers
# they include), with the checks of .clang-tidy. Needs the compile commands of a native build:
# scripts/tidy.sh [build folder, default build/native-asan]. Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native-asan}
tidy=$(command -v clang-tidy-14 || command -v clang-tidy)
if [[ ! -f $build/compile_commands.json ]]; then
    echo "tidy: no $build/compile_commands.json (configure that preset first)" >&2
    exit 1
fi
mapfile -t sources < <(find src -name '*.cpp' ! -name '*_win32.cpp' | sort)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# One file per call, two at a time; the summary lines of clang-tidy are left out.
if printf '%s\n' "${sources[@]}" |
    xargs -P "${TIDY_JOBS:-2}" -n 1 "$tidy" -p "$build" --quiet >"$log" 2>/dev/null; then
    echo "clang-tidy: ${#sources[@]} files of the portable core, no findings"
else
    grep -E 'warning:|error:' -A3 "$log" || cat "$log"
    echo "clang-tidy: findings in the portable core (see above)"
    exit 1
fi
