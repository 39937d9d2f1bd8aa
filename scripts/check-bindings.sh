#!/bin/sh
# Checks bindings/vornex.bas against the 32-bit vornex.dll: every Declare of
# vornex.dll names a plain export that is in the DLL's export table, and its
# arguments take as many stack bytes as the @N of the export's decorated
# stdcall name says; every plain export that is stdcall is declared in both
# branches (VBA7 and VB6), and none that is not stdcall is declared.
# Usage: check-bindings.sh OBJDUMP DLL [BAS]
set -eu
objdump=$1; dll=$2
here=$(cd "$(dirname "$0")" && pwd)
bas=${3:-$here/../bindings/vornex.bas}
lists="$here/../resources/exports"

[ -f "$dll" ] || { echo "check-bindings: $dll not found"; exit 1; }
[ -f "$bas" ] || { echo "check-bindings: $bas not found"; exit 1; }
exports=$("$objdump" -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] //p')

# Plain name -> function it names, from the export lists.
plain_map=$(cat "$lists"/*.txt | grep -v '^[[:space:]]*#' | awk 'NF == 2 && $1 != "-" { print $1, $2 }')

# The @N of a function's decorated name, or "cdecl" when it has none.
stack_bytes() {
  func=$1
  decorated=$(printf '%s\n' "$exports" | grep -E "^_Z${#func}${func}[A-Za-z0-9_]*(@[0-9]+)?\$" | head -n 1)
  [ -n "$decorated" ] || { echo "missing"; return; }
  case "$decorated" in
    *@*) echo "${decorated##*@}" ;;
    *) echo "cdecl" ;;
  esac
}

# One line per Declare of vornex.dll: BRANCH NAME BYTES. Continuation lines
# are joined first; the pointer-sized types count 4 bytes on this DLL.
declares=$(tr -d '\r' < "$bas" | awk '
  { line = $0 }
  pending != "" { line = pending " " line; pending = "" }
  /[[:space:]]_$/ { sub(/[[:space:]]_$/, "", line); pending = line; next }
  { print line }' | awk '
  /^#If VBA7/ { branch = "vba7"; next }
  /^#Else/ { branch = "vb6"; next }
  /^#End If/ { branch = "none"; next }
  /Declare/ && /Lib "vornex\.dll"/ {
    text = $0
    name = text; sub(/.*Declare[[:space:]]+(PtrSafe[[:space:]]+)?(Function|Sub)[[:space:]]+/, "", name); sub(/[[:space:]].*/, "", name)
    if (match(text, /Alias "[^"]*"/)) { name = substr(text, RSTART + 7, RLENGTH - 8) }
    args = text; sub(/^[^(]*\(/, "", args); sub(/\)[^)]*$/, "", args)
    bytes = 0
    n = split(args, parts, ",")
    for (i = 1; i <= n; i++) {
      p = parts[i]; gsub(/^[[:space:]]+|[[:space:]]+$/, "", p)
      if (p == "") continue
      if (p ~ /\(\)/) { bytes += 4; continue }          # array: SAFEARRAY**
      if (p !~ /^ByVal/) { bytes += 4; continue }        # by reference: a pointer
      if (p ~ /As (Double|Currency|Date|LongLong)$/) bytes += 8; else bytes += 4
    }
    print branch, name, bytes
  }')

status=0
declared=0
for entry in $(printf '%s\n' "$declares" | awk '{ print $1 ":" $2 ":" $3 }'); do
  branch=${entry%%:*}; rest=${entry#*:}; name=${rest%%:*}; bytes=${rest#*:}
  declared=$((declared + 1))
  if ! printf '%s\n' "$exports" | grep -qx "$name"; then
    echo "check-bindings: $name ($branch) is not an export of $dll"; status=1; continue
  fi
  func=$(printf '%s\n' "$plain_map" | awk -v p="$name" '$1 == p { print $2; exit }')
  [ -n "$func" ] || { echo "check-bindings: $name is in no export list"; status=1; continue; }
  want=$(stack_bytes "$func")
  case "$want" in
    missing) echo "check-bindings: no decorated name for $func ($name)"; status=1 ;;
    cdecl) echo "check-bindings: $name is not stdcall and must not be declared"; status=1 ;;
    *) [ "$want" -eq "$bytes" ] || { echo "check-bindings: $name ($branch) takes $bytes bytes, the DLL's $func@$want"; status=1; } ;;
  esac
done

# Every stdcall plain export is declared in both branches.
stdcall=0
for pair in $(printf '%s\n' "$plain_map" | awk '{ print $1 ":" $2 }'); do
  plain=${pair%%:*}; func=${pair#*:}
  case "$(stack_bytes "$func")" in missing|cdecl) continue ;; esac
  stdcall=$((stdcall + 1))
  for branch in vba7 vb6; do
    printf '%s\n' "$declares" | grep -q "^$branch $plain " ||
      { echo "check-bindings: $plain is not declared in the $branch branch"; status=1; }
  done
done

[ "$status" -eq 0 ] && echo "check-bindings: $bas: $declared declarations of $stdcall stdcall exports agree with $dll"
exit $status
