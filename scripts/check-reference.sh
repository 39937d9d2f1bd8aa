#!/bin/sh
# Checks docs/REFERENCE.md against the exports: every plain name of
# resources/exports/*.txt is declared in exactly one entry's "C:" block, the
# entry of the function it names (aliases under their function's main name);
# no entry heading comes twice; every declaration of a "C:" or "C++:" block is
# one of include/vornex.h, and every one of a "VB:" block one of the VBA7
# branch of bindings/vornex.bas, with its VB6 form (no PtrSafe, Long for
# LongPtr) in the other branch; every plain name vornex.bas declares has its
# VB line in its entry. Declarations are compared with whitespace normalised.
# Every entry has a "Node:" block naming lib.exports.ENTRY; the robot.X,
# lib.X and lib.arrays.X it names are members bindings/node/index.d.ts
# declares (interfaces Robot, Vornex, Arrays), each lib.exports.X a plain name.
# Usage: check-reference.sh [REFERENCE]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/.." && pwd)
ref=${1:-$src/docs/REFERENCE.md}
header=$src/include/vornex.h
bas=$src/bindings/vornex.bas
dts=$src/bindings/node/index.d.ts
for f in "$ref" "$header" "$bas" "$dts"; do
  [ -f "$f" ] || { echo "check-reference: $f not found"; exit 1; }
done

# The export lists first (one stream, tagged), then the header, the module and
# the reference, each line prefixed with the file's role.
{
  cat "$src"/resources/exports/*.txt | sed 's/^/L /'
  sed 's/^/H /' "$header"
  tr -d '\r' < "$bas" | sed 's/^/B /'
  tr -d '\r' < "$dts" | sed 's/^/D /'
  tr -d '\r' < "$ref" | sed 's/^/R /'
} | awk -v ref="$ref" '
function norm(s) {
  gsub(/[ \t]+/, " ", s)
  gsub(/\( /, "(", s); gsub(/ \)/, ")", s); gsub(/ ,/, ",", s)
  sub(/^ /, "", s); sub(/ $/, "", s)
  return s
}
# The function name of a C declaration: the word before its first "(".
function cname(s) { sub(/\(.*/, "", s); sub(/.*[ *&]/, "", s); return s }
function vbname(s) { sub(/.*Declare (PtrSafe )?(Function|Sub) /, "", s); sub(/ .*/, "", s); return s }
function fail(msg) { print "check-reference: " msg; bad = 1 }
# The robot.X, lib.X, lib.arrays.X and lib.exports.X a line of a Node block names.
function nodenames(s,   m, w, n) {
  while (match(s, /[A-Za-z0-9_.]?(robot|lib)(\.[A-Za-z_][A-Za-z0-9_]*)+/)) {
    m = substr(s, RSTART, RLENGTH); s = substr(s, RSTART + RLENGTH)
    if (m !~ /^(robot|lib)\./) continue  # part of a longer name
    n = split(m, w, "."); nnode++
    if (w[1] == "robot") { if (!(("Robot." w[2]) in member)) fail(entry ": Node: robot." w[2] " is not declared in index.d.ts") }
    else if (!(("Vornex." w[2]) in member)) fail(entry ": Node: lib." w[2] " is not declared in index.d.ts")
    else if (w[2] == "arrays" && n > 2 && !(("Arrays." w[3]) in member)) fail(entry ": Node: lib.arrays." w[3] " is not declared in index.d.ts")
    else if (w[2] == "exports" && n > 2) {
      if (!(w[3] in plain)) fail(entry ": Node: lib.exports." w[3] " is no plain export")
      noderaw[entry, w[3]] = 1
    }
  }
}
{ role = substr($0, 1, 1); line = substr($0, 3) }

role == "L" {
  if (line ~ /^[ \t]*#/) next
  n = split(line, w, /[ \t]+/)
  if (n != 2 || w[1] == "-") next
  plain[w[1]] = w[2]; nplain++
  if (!(w[2] in mainname) || w[1] == w[2]) mainname[w[2]] = w[1]
  next
}

role == "H" {
  if (hstmt == "" && line !~ /^[ \t]*VORNEX_IMPORT/) next
  hstmt = hstmt " " line
  if (line ~ /;/) { hdecl[norm(hstmt)] = 1; hstmt = "" }
  next
}

# index.d.ts: the members of each top-level interface, two spaces in.
role == "D" {
  if (line ~ /^export interface /) { iface = line; sub(/^export interface /, "", iface); sub(/[ {<].*/, "", iface); next }
  if (line ~ /^}/) { iface = ""; next }
  if (iface != "" && line ~ /^  (readonly )?[A-Za-z_][A-Za-z0-9_]*\??[(:]/) {
    m = line; sub(/^  (readonly )?/, "", m); sub(/[?(:].*/, "", m); member[iface "." m] = 1; nmember++
  }
  next
}

role == "B" {
  if (bstmt != "") line = bstmt " " line
  if (line ~ /[ \t]_$/) { sub(/[ \t]_$/, "", line); bstmt = line; next }
  bstmt = ""
  if (line ~ /^#If VBA7/) { branch = "vba7"; next }
  if (line ~ /^#Else/) { branch = "vb6"; next }
  if (line ~ /^#End If/) { branch = ""; next }
  if (line !~ /Declare/ || line !~ /Lib "vornex\.dll"/) next
  s = norm(line)
  if (branch == "vba7") { vba7[s] = 1; basdeclared[vbname(s)] = 1 }
  else if (branch == "vb6") vb6[s] = 1
  next
}

# The reference: "### NAME" opens an entry, "## " ends it; a fenced block right
# after a line "C:", "C++:" or "VB:" holds declarations, one after "Node:"
# calls of the Node.js binding; any other fenced block (an example) is skipped.
role == "R" {
  t = line; sub(/[ \t]+$/, "", t)
  if (inblock) {
    if (t ~ /^```/) { inblock = 0; if (stmt != "") fail(entry ": unfinished declaration: " stmt); stmt = ""; next }
    if (kind == "Node") { nodenames(t); next }
    if (kind == "") next  # an example, or a block of another language
    if (kind == "VB") {
      if (stmt != "") t = stmt " " t
      if (t ~ / _$/) { sub(/ _$/, "", t); stmt = t; next }
      stmt = ""
      if (t !~ /Declare/) next
      s = norm(t); name = vbname(s)
      if (!(s in vba7)) { fail(entry ": VB declaration of " name " is not the one in vornex.bas: " s); next }
      s6 = s; sub(/Declare PtrSafe /, "Declare ", s6); gsub(/LongPtr/, "Long", s6)
      if (!(s6 in vb6)) fail(entry ": the VB6 branch of vornex.bas lacks " s6)
      vbcount[name]++; vbentry[name] = entry
      nvb++
      next
    }
    if (stmt == "" && t !~ /^VORNEX_IMPORT/) next
    stmt = stmt " " t
    if (t !~ /;/) next
    s = norm(stmt); stmt = ""; name = cname(s)
    if (!(s in hdecl)) { fail(entry ": " kind " declaration of " name " differs from vornex.h: " s); next }
    nc++
    if (kind == "C") { ccount[name]++; if (ccount[name] == 1) centry[name] = entry; else centry[name] = centry[name] ", " entry }
    next
  }
  if (t ~ /^```/) { inblock = 1; kind = pending; pending = ""; stmt = ""; next }
  pending = ""
  if (t == "C:" || t == "C++:" || t == "VB:" || t == "Node:") { pending = substr(t, 1, length(t) - 1); next }
  if (t ~ /^### /) {
    entry = t; sub(/^### +/, "", entry); gsub(/`/, "", entry); sub(/ .*/, "", entry)
    heading[entry]++; nentries++
    if (heading[entry] == 2) fail(entry " is documented twice (two entries)")
    next
  }
  if (t ~ /^## /) entry = "(" substr(t, 4) ")"
  next
}

END {
  if (inblock) fail("a declaration block is not closed")
  if (!nmember) fail("no interface members read from index.d.ts")
  for (e in heading) if (!((e, e) in noderaw)) fail(e ": no Node: block naming lib.exports." e)
  for (p in plain) {
    want = mainname[plain[p]]
    if (!(want in heading)) { if (p == want) fail(p " has no entry"); continue }
    if (!(p in ccount)) fail(p " is not declared in the C: block of the entry " want)
    else if (ccount[p] > 1) fail(p " is documented twice (in " centry[p] ")")
    else if (centry[p] != want) fail(p " is documented under " centry[p] ", not under " want)
    if (p in basdeclared) {
      if (!(p in vbcount)) fail(p " has no VB: line in the entry " want)
      else if (vbcount[p] > 1) fail(p " has its VB line twice")
      else if (vbentry[p] != want) fail(p " has its VB line under " vbentry[p] ", not under " want)
    }
  }
  for (e in heading) if (!(e in mainname) || mainname[e] != e) {
    known = 0; for (f in mainname) if (mainname[f] == e) known = 1
    if (!known) fail("the entry " e " names no plain export")
  }
  for (n in ccount) if (!(n in plain)) fail(n " is in a C: block but is no plain export (C++ names go in a C++: block)")
  if (bad) exit 1
  printf "check-reference: %s: %d plain names in %d entries; %d C/C++ and %d VB declarations agree with vornex.h and vornex.bas; %d Node names with index.d.ts\n", ref, nplain, nentries, nc, nvb, nnode
}'
