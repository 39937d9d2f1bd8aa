#!/bin/sh
# Writes the module-definition file of vornex.dll: every plain export name of
# resources/exports/*.txt as an alias of the compiler's decorated name, which the
# dllexport attribute already exports. Usage: gen-def.sh NM LIST_DIR OUT LIB...
set -eu
nm_tool=$1; list=$2; out=$3; shift 3
syms=$("$nm_tool" -g --defined-only "$@" | awk '$2 == "T" { print $3 }' | sed 's/^__Z/_Z/' | sort -u)
tmp="$out.tmp"
{
  echo "LIBRARY vornex.dll"
  echo "EXPORTS"
  cat "$list"/*.txt | grep -v '^[[:space:]]*#' | while read -r plain func; do
    [ -n "$plain" ] || continue
    [ "$plain" = "-" ] && continue  # decorated name only
    pattern="^_Z${#func}${func}[A-Za-z0-9_]*(@[0-9]+)?\$"
    matches=$(printf '%s\n' "$syms" | grep -E "$pattern" || true)
    count=$(printf '%s' "$matches" | grep -c . || true)
    if [ "$count" -ne 1 ]; then
      echo "gen-def: $func has $count definitions for plain name $plain" >&2
      exit 1
    fi
    case "$matches" in
      # i686 stdcall: hosts linking the import library look for plain@N.
      *@*) echo "  $plain@${matches##*@} = $matches == $plain" ;;
      *)   echo "  $plain = $matches" ;;
    esac
  done
} > "$tmp"
mv "$tmp" "$out"
