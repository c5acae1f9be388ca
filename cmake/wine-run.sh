#!/usr/bin/env bash
# Runs Windows programs under Wine in a private prefix, with the loader that fits the programs:
# 32-bit programs under the 32-bit loader in a win32 prefix, 64-bit ones under the 64-bit loader
# in a win64 prefix. A prefix serves one kind only, so each build keeps its own.
#
#   wine-run.sh --can-run 32|64                      exit 0 when this machine can run such programs
#   wine-run.sh --why-not 32|64                      print why it cannot (empty when it can)
#   wine-run.sh --bits 32|64 --prefix DIR --start    create the prefix if needed, keep a wineserver
#   wine-run.sh --bits 32|64 --prefix DIR --stop     end that wineserver
#   wine-run.sh [--bits 32|64] --prefix DIR -- PROG ARGS   run PROG
#
# Without --bits, a program's kind is read from its PE header, and otherwise from the prefix.
#
# Environment:
#   BP_WINE_NO32=1   pretend that this machine cannot run 32-bit programs (to see the skip path
#                    on a machine that can; the 32-bit suite and demo then step aside)
set -euo pipefail

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

loader_for() { [[ $1 == 32 ]] && echo /usr/lib/wine/wine || echo /usr/lib/wine/wine64; }
server_for() { [[ $1 == 32 ]] && echo /usr/lib/wine/wineserver32 || echo /usr/lib/wine/wineserver64; }

# Prints why BITS-bit Windows programs cannot run here; prints nothing when they can.
why_not() {
    local bits=$1 loader
    loader=$(loader_for "$bits")
    if [[ $bits == 32 && ${BP_WINE_NO32:-} == 1 ]]; then
        echo "BP_WINE_NO32=1 pretends that 32-bit programs cannot run"
    elif [[ ! -x $loader ]]; then
        echo "$loader is not installed"
    elif ! out=$("$loader" --version 2>&1); then
        # Some kernels cannot execute 32-bit Linux programs at all ("Exec format error").
        echo "$loader cannot start here: $(echo "$out" | tail -n 1)"
    fi
}

# 32 or 64 from a PE file's machine field; nothing when the file is no PE image.
pe_bits() {
    local file=$1 off machine
    [[ -f $file ]] || return 0
    [[ $(head -c 2 "$file" 2>/dev/null) == MZ ]] || return 0
    off=$(od -An -tu4 -j 60 -N 4 "$file" | tr -d ' ')
    machine=$(od -An -tx2 -j $((off + 4)) -N 2 "$file" | tr -d ' ')
    case $machine in
        014c) echo 32 ;;
        8664) echo 64 ;;
    esac
}

case ${1:-} in
    --can-run) [[ ${2:-} == 32 || ${2:-} == 64 ]] || exit 2; [[ -z $(why_not "$2") ]]; exit ;;
    --why-not) [[ ${2:-} == 32 || ${2:-} == 64 ]] || exit 2; why_not "$2"; exit 0 ;;
esac

bits=""
if [[ ${1:-} == --bits ]]; then
    bits=${2:-}; shift 2
    [[ $bits == 32 || $bits == 64 ]] || { echo "wine-run.sh: --bits takes 32 or 64" >&2; exit 2; }
fi
[[ ${1:-} == --prefix ]] || {
    echo "usage: $0 [--bits 32|64] --prefix DIR (--start|--stop|-- PROG ARGS)" >&2; exit 2; }
export WINEPREFIX=$(realpath -m "$2"); shift 2

# The prefix remembers its kind; a prefix of the other kind is never reused.
arch_file=$WINEPREFIX/.bp-arch
if [[ -z $bits && ${1:-} == -- ]]; then bits=$(pe_bits "${2:-}"); fi
if [[ -z $bits && -f $arch_file ]]; then bits=$(cat "$arch_file"); fi
bits=${bits:-64}

reason=$(why_not "$bits")
if [[ -n $reason ]]; then
    echo "wine-run.sh: cannot run $bits-bit Windows programs: $reason" >&2
    exit 77
fi

LOADER=$(loader_for "$bits")
SERVER=$(server_for "$bits")
export WINELOADER=$LOADER
export WINEARCH=win$bits

case "${1:-}" in
    --start)
        mkdir -p "$(dirname "$WINEPREFIX")"
        if [[ ! -f $WINEPREFIX/.bp-ready || $(cat "$arch_file" 2>/dev/null) != "$bits" ]]; then
            [[ -d $WINEPREFIX ]] && "$SERVER" -k >/dev/null 2>&1 || true
            rm -rf "$WINEPREFIX"
            "$LOADER" wineboot -i </dev/null >/dev/null 2>&1 || true
            "$LOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
            "$SERVER" -w
            echo "$bits" >"$arch_file"
            touch "$WINEPREFIX/.bp-ready"
        fi
        # Detach from our output: ctest waits until every holder of its pipe has gone.
        "$SERVER" -p </dev/null >/dev/null 2>&1 || true  # exits 2 when one is already running
        # The first program of a session starts Wine's background services, which stay as long as
        # the server does; start them here, away from the output pipes of the tests.
        "$LOADER" wineboot </dev/null >/dev/null 2>&1 || true
        echo "wine prefix ready: $WINEPREFIX ($WINEARCH)"
        ;;
    --stop)
        "$SERVER" -k >/dev/null 2>&1 || true
        echo "wineserver stopped"
        ;;
    --)
        shift
        if [[ -f $arch_file && $(cat "$arch_file") != "$bits" ]]; then
            echo "wine-run.sh: $WINEPREFIX is a win$(cat "$arch_file") prefix; $1 needs win$bits" >&2
            exit 2
        fi
        exec "$LOADER" "$@"
        ;;
    *) echo "unknown command: $1" >&2; exit 2 ;;
esac
