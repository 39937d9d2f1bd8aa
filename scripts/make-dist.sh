#!/bin/sh
# The release packages: BUILD/vornex-VERSION-win32.zip and -win64.zip, each
# with the DLL and its module-definition file, the C header, the VB module,
# the Node.js binding, vornexctl, vornex-sim, the simulated Ftd2xx.dll in a
# folder of its own (so that it never shadows a real one), the reference, the
# user guide and the changelog. The version is the one cmake/version.cmake
# gives the DLL's version block, and the changelog's newest entry must name
# it. The program files go out without any symbols; their debug information
# stays in the build folder beside each file (bin/vornex.dll.debug, ...),
# linked by name from the shipped file, for reading crash reports.
# Usage: make-dist.sh BUILD_ROOT
set -eu
root=$(cd "$1" && pwd)
src=$(cd "$(dirname "$0")/.." && pwd)

version=$(sh "$src/scripts/version.sh")
sh "$src/scripts/check-changelog.sh"

status=0
package() {
  arch=$1; name=$2; triplet=$3; format=$4
  build="$root/$arch"
  stage="$root/dist/vornex-$version-$name"
  zipfile="$root/vornex-$version-$name.zip"
  rm -rf "$stage" "$zipfile"
  mkdir -p "$stage/include" "$stage/bindings" "$stage/ftdisim"
  missing=0
  put() {
    if [ -f "$1" ]; then cp "$1" "$2"; else echo "make-dist: $1 is missing (build the $arch tree first)"; missing=1; fi
  }
  put "$build/bin/vornex.dll" "$stage/vornex.dll"
  put "$build/vornex.def" "$stage/vornex.def"
  put "$build/bin/vornexctl.exe" "$stage/vornexctl.exe"
  put "$build/bin/vornex-sim.exe" "$stage/vornex-sim.exe"
  put "$build/bin/ftdisim/Ftd2xx.dll" "$stage/ftdisim/Ftd2xx.dll"
  put "$src/include/vornex.h" "$stage/include/vornex.h"
  put "$src/bindings/vornex.bas" "$stage/bindings/vornex.bas"
  put "$src/docs/REFERENCE.md" "$stage/REFERENCE.md"
  put "$src/docs/USER_GUIDE.md" "$stage/USER_GUIDE.md"
  put "$src/CHANGELOG.md" "$stage/CHANGELOG.md"
  # The Node.js binding without its tests (koffi comes from npm).
  mkdir -p "$stage/bindings/node"
  for f in package.json index.js index.d.ts example.js README.md; do
    put "$src/bindings/node/$f" "$stage/bindings/node/$f"
  done
  [ "$missing" -eq 0 ] || { status=1; return; }

  # Every program file is built for the package's architecture; the
  # package carries it without symbols, its debug information goes to a
  # file of its own in the build folder.
  for f in vornex.dll vornexctl.exe vornex-sim.exe ftdisim/Ftd2xx.dll; do
    built="$build/bin/$f"
    "$triplet-objcopy" --only-keep-debug "$built" "$built.debug"
    "$triplet-strip" --strip-all "$stage/$f"
    "$triplet-objcopy" --add-gnu-debuglink="$built.debug" "$stage/$f"
    got=$("$triplet-objdump" -f "$stage/$f" | sed -n 's/.*file format //p')
    [ "$got" = "$format" ] || { echo "make-dist: $name/$f is '$got', expected $format"; status=1; return; }
  done
  (cd "$root/dist" && zip -q -r -X "$zipfile" "vornex-$version-$name")
  echo "make-dist: $zipfile ($(find "$stage" -type f | wc -l) files)"
}

package x86 win32 i686-w64-mingw32 pei-i386
package x64 win64 x86_64-w64-mingw32 pei-x86-64
exit $status
