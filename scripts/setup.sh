#!/usr/bin/env bash
# Installs what building and testing need on Debian 12, only when something is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake ninja-build g++ clang libclang-rt-14-dev googletest libbenchmark-dev clang-format \
         g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 xvfb wine wine64 wine32:i386 \
         nsis clang-tidy; do
    have "$p" || need+=("$p")
done
[[ ${#need[@]} -eq 0 ]] && exit 0

echo "setup: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
SUDO=""; [[ $(id -u) -eq 0 ]] || SUDO=sudo
dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
# The i386 security index may fail to download; the bookworm index is enough.
$SUDO apt-get update || true
$SUDO apt-get install -y --no-install-recommends -t bookworm "${need[@]}"
