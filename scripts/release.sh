#!/usr/bin/env bash
# Builds a release from the committed tree and writes dist/:
#   BrenloPlug3-<version>-setup.exe         the setup for Winamp users
#   BrenloPlug3-<version>.zip               gen_brenloplug3.dll and the two language files, for
#                                           those who copy by hand
#   BrenloPlug3-<version>-SHA256SUMS.txt    the SHA-256 sums of both (sha256sum -c reads it)
# The version is the project's (CMakeLists.txt). The build runs in a fresh export of HEAD
# (git archive) with its own build folder, so neither uncommitted changes nor old build files get
# into a release. Run scripts/test.sh before a release.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
scripts/setup.sh

commit=$(git rev-parse --short HEAD)
if [[ -n $(git status --porcelain --untracked-files=no) ]]; then
    echo "release: note: the tree has uncommitted changes; the release is built from HEAD ($commit) without them"
fi

work=$root/build/release
rm -rf "$work"
mkdir -p "$work/tree"
git archive --format=tar HEAD | tar -x -C "$work/tree"

# The compiler flags of the win32 preset, which the tests run with; only the symbols are left out.
cmake -S "$work/tree" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBP_STRIP=ON \
      -DCMAKE_TOOLCHAIN_FILE="$work/tree/cmake/mingw-i686.cmake" >"$work/configure.log"
cmake --build "$work/build" --target gen_brenloplug3 installer -j "$(nproc)"

# What the host needs of the DLL: the one export, Windows' own libraries only.
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDLL="$work/build/gen_brenloplug3.dll" \
      -DEXPECT_FORMAT=pei-i386 -P "$work/tree/cmake/CheckExports.cmake"

version=$(cat "$work/build/version.txt")
name=BrenloPlug3-$version
setup=$work/build/$name-setup.exe
[[ -f $setup ]] || { echo "release: the setup was not built: $setup" >&2; exit 1; }

# The zip: one folder named after the release, the same file times for every build of a commit.
stage=$work/zip/$name
mkdir -p "$stage/lang/german" "$stage/lang/english"
cp "$work/build/gen_brenloplug3.dll" "$stage/"
cp "$work/tree/lang/german/brenloplug_language.ini" "$stage/lang/german/"
cp "$work/tree/lang/english/brenloplug_language.ini" "$stage/lang/english/"
stamp=$(git log -1 --format=%cd --date=format:'%Y-%m-%d %H:%M:%S' HEAD)
(cd "$work/zip" && cmake -E tar cf "$work/$name.zip" --format=zip --mtime="$stamp" \
     "$name/gen_brenloplug3.dll" "$name/lang/german/brenloplug_language.ini" \
     "$name/lang/english/brenloplug_language.ini")

mkdir -p dist
rm -f "dist/$name-setup.exe" "dist/$name.zip" "dist/$name-SHA256SUMS.txt"
cp "$setup" "$work/$name.zip" dist/
(cd dist && sha256sum "$name-setup.exe" "$name.zip" >"$name-SHA256SUMS.txt")

echo "release $version (commit $commit):"
(cd dist && ls -l "$name-setup.exe" "$name.zip" "$name-SHA256SUMS.txt" && cat "$name-SHA256SUMS.txt")
