#!/bin/sh
# The changelog's newest entry ("## X.Y.Z ...", the first such heading) names
# the version that cmake/version.cmake gives the DLL's version block and the
# release packages; so does the Node.js package, where there is one.
# Usage: check-changelog.sh
set -eu
src=$(cd "$(dirname "$0")/.." && pwd)
version=$(sh "$src/scripts/version.sh")
log="$src/CHANGELOG.md"
[ -f "$log" ] || { echo "check-changelog: $log is missing"; exit 1; }
newest=$(sed -n 's/^## \[\{0,1\}\([0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*\)[^0-9.].*$/\1/p; s/^## \[\{0,1\}\([0-9][0-9]*\.[0-9][0-9]*\.[0-9][0-9]*\)$/\1/p' "$log" | head -n 1)
if [ "$newest" != "$version" ]; then
  echo "check-changelog: the newest entry of CHANGELOG.md is '${newest:-none}', cmake/version.cmake says $version"
  exit 1
fi
node="$src/bindings/node/package.json"
if [ -f "$node" ]; then
  package=$(sed -n 's/^  "version": "\([^"]*\)".*/\1/p' "$node" | head -n 1)
  if [ "$package" != "$version" ]; then
    echo "check-changelog: bindings/node/package.json says version '$package', cmake/version.cmake says $version"
    exit 1
  fi
fi
echo "check-changelog: CHANGELOG.md begins with $version, as cmake/version.cmake"
