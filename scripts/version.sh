#!/bin/sh
# Prints the product version, MAJOR.MINOR.PATCH from cmake/version.cmake, the
# one place it lives.
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
part() { sed -n "s/^set(VX_VERSION_$1 \([0-9][0-9]*\))/\1/p" "$src/cmake/version.cmake"; }
version="$(part MAJOR).$(part MINOR).$(part PATCH)"
case "$version" in
  *[0-9].*[0-9].*[0-9]) echo "$version" ;;
  *) echo "version: no version in cmake/version.cmake" >&2; exit 1 ;;
esac
