#!/bin/sh
# The release's other parts: every VB declaration agrees with the 32-bit DLL's
# export table, and make dist packs both architectures.
# Usage: product_files.sh BUILD_ROOT
set -eu
root=$(cd "$1" && pwd)
scripts=$(cd "$(dirname "$0")/../../scripts" && pwd)
sh "$scripts/check-bindings.sh" i686-w64-mingw32-objdump "$root/x86/bin/vornex.dll"
sh "$scripts/make-dist.sh" "$root"
for arch in win32 win64; do
  ls "$root"/vornex-*-"$arch".zip >/dev/null 2>&1 || { echo "product_files: no $arch package"; exit 1; }
done
