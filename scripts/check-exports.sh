#!/bin/sh
# Static check of a built vornex.dll: its machine type, and every plain name of
# resources/exports/*.txt together with its decorated form in the export table.
# Usage: check-exports.sh OBJDUMP DLL EXPECTED_ARCH (i386 | x86-64)
set -eu
objdump=$1; dll=$2; arch=$3
list="$(dirname "$0")/../resources/exports"

format=$("$objdump" -f "$dll" | sed -n 's/.*file format //p')
case "$arch:$format" in
  i386:pei-i386|x86-64:pei-x86-64) ;;
  *) echo "check-exports: $dll is '$format', expected $arch"; exit 1 ;;
esac

exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p')
imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
missing=0
for lib in $imports; do
  case "$lib" in
    libstdc++*|libgcc*|libwinpthread*) echo "check-exports: $dll imports $lib (runtime not static)"; missing=1 ;;
  esac
done

checked=0
for plain_func in $(cat "$list"/*.txt | grep -v '^[[:space:]]*#' | awk 'NF == 2 { print $1 ":" $2 }'); do
  plain=${plain_func%%:*}; func=${plain_func#*:}
  if [ "$plain" != "-" ] && ! printf '%s\n' "$exports" | grep -qx "$plain"; then
    echo "check-exports: $dll lacks the plain name $plain"; missing=1
  fi
  if ! printf '%s\n' "$exports" | grep -Eq "^_Z${#func}${func}[A-Za-z0-9_]*(@[0-9]+)?\$"; then
    echo "check-exports: $dll lacks the decorated form of $func"; missing=1
  fi
  checked=$((checked + 1))
done
for cls in CRobotCommand CSerialPort CTCPPort; do
  printf '%s\n' "$exports" | grep -q "${#cls}${cls}" || { echo "check-exports: $dll does not export class $cls"; missing=1; }
done
[ "$missing" -eq 0 ] || exit 1
echo "check-exports: $dll ($format): $checked plain names and their decorated forms present, system imports only"
