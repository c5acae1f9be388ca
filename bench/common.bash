# Sourced by the bench scripts (from the repository's top folder).
#
#   bench_options "$@"          takes the one option a bench script knows: --smoke sets smoke=1
#   bench_windows_build PREFIX  sets preset, bits and BUILD to the Windows build that Wine runs
#                               here (win32 under 32-bit Wine, else win64; BUILD may be given),
#                               PREFIX to $BUILD/PREFIX and WINE to the loader call for it

bench_options() {
    smoke=0
    case ${1:-} in
        --smoke) smoke=1 ;;
        "") ;;
        *) echo "usage: $0 [--smoke]" >&2; exit 2 ;;
    esac
}

bench_windows_build() {
    preset=win32 bits=32
    cmake/wine-run.sh --can-run 32 || { preset=win64; bits=64; }
    BUILD=${BUILD:-$PWD/build/$preset}
    PREFIX=$BUILD/$1
    WINE=(cmake/wine-run.sh --bits "$bits" --prefix "$PREFIX")
}
