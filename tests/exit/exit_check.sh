#!/bin/sh
# Runs exit_host RUNS times against vornex-sim on loopback TCP and fails on
# any run that exits non-zero, writes to standard error (in the 32-bit
# runner a crash at exit shows as "qemu: uncaught target signal 11") or
# takes more than 20 s. After a failure the control without vornex runs as
# often, to tell the library from the emulator. Usage: exit_check.sh WINE BIN RUNS
set -u
wine=$1; bin=$2; runs=$3
cd "$bin" || exit 2
work=$(mktemp -d "${TMPDIR:-/tmp}/vx-exit.XXXXXX")
(exec $wine vornex-sim.exe --tcp 0 >"$work/sim.out" 2>&1) &
sim=$!
trap 'kill $sim 2>/dev/null; rm -rf "$work"' EXIT INT TERM
port=""
for _ in $(seq 1 300); do
  port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "exit_check: vornex-sim did not start"; cat "$work/sim.out"; exit 1; }
bad=0
check() {  # MODE: runs it RUNS times, bad = the runs that did not end cleanly
  bad=0
  for i in $(seq 1 "$runs"); do
    begin=$(date +%s)
    timeout 60 $wine exit_host.exe "$1" "$port" "Z:$(echo "$work/$i.log" | tr / '\\')" >"$work/out" 2>"$work/err"
    rc=$?; took=$(( $(date +%s) - begin ))
    if [ $rc -ne 0 ] || [ -s "$work/err" ] || [ $took -gt 20 ]; then
      bad=$((bad + 1))
      echo "exit_check: $1 run $i: exit code $rc after $took s: $(cat "$work/out" "$work/err" | tr '\n' ' ' | cut -c1-200)"
    fi
  done
  echo "exit_check: $1: $bad of $runs runs did not end cleanly"
}
check tcp
[ $bad -eq 0 ] && exit 0
check socket
[ $bad -eq 0 ] && echo "exit_check: the control without vornex ends cleanly: the library is at fault"
exit 1
