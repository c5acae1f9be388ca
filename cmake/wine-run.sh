#!/usr/bin/env bash
# Runs Windows programs under Wine in a private prefix.
#   wine-run.sh --can-run 32|64           exit 0 when this machine can run such programs
#   wine-run.sh --prefix DIR --start      create the prefix if needed, keep a wineserver alive
#   wine-run.sh --prefix DIR --stop       end that wineserver
#   wine-run.sh --prefix DIR -- PROG ARGS run PROG
set -euo pipefail

export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="

# Debian's "wine" wrapper picks the 32-bit loader when it is installed, but some kernels cannot
# execute 32-bit Linux programs at all; then only the 64-bit loader (and 64-bit PE files) work.
pick_loader() {
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        echo /usr/lib/wine/wine; echo /usr/lib/wine/wineserver32; echo win32
    else
        echo /usr/lib/wine/wine64; echo /usr/lib/wine/wineserver64; echo win64
    fi
}
mapfile -t L < <(pick_loader)
LOADER=${L[0]}; SERVER=${L[1]}; ARCH=${L[2]}
export WINELOADER=$LOADER

if [[ ${1:-} == --can-run ]]; then
    case "${2:-}" in
        32) /usr/lib/wine/wine --version >/dev/null 2>&1 ;;
        64) /usr/lib/wine/wine64 --version >/dev/null 2>&1 ;;
        *) exit 2 ;;
    esac
    exit $?
fi

[[ ${1:-} == --prefix ]] || { echo "usage: $0 --prefix DIR (--start|--stop|-- PROG ARGS)" >&2; exit 2; }
export WINEPREFIX=$(realpath -m "$2"); shift 2
export WINEARCH=$ARCH

case "${1:-}" in
    --start)
        mkdir -p "$(dirname "$WINEPREFIX")"
        if [[ ! -f $WINEPREFIX/.bp-ready ]]; then
            rm -rf "$WINEPREFIX"
            "$LOADER" wineboot -i </dev/null >/dev/null 2>&1 || true
            "$LOADER" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
            "$SERVER" -w
            touch "$WINEPREFIX/.bp-ready"
        fi
        # Detach from our output: ctest waits until every holder of its pipe has gone.
        "$SERVER" -p </dev/null >/dev/null 2>&1 || true  # exits 2 when one is already running
        # The first program of a session starts Wine's background services, which stay as long as
        # the server does; start them here, away from the output pipes of the tests.
        "$LOADER" wineboot </dev/null >/dev/null 2>&1 || true
        echo "wine prefix ready: $WINEPREFIX ($ARCH)"
        ;;
    --stop)
        "$SERVER" -k >/dev/null 2>&1 || true
        echo "wineserver stopped"
        ;;
    --)
        shift
        exec "$LOADER" "$@"
        ;;
    *) echo "unknown command: $1" >&2; exit 2 ;;
esac
