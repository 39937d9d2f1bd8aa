#!/bin/sh
# Runs exit_host RUNS times against vornex-sim on loopback TCP; fails on any run that exits non-zero, writes to
# stderr or takes over 20 s. A fault at exit keeps the exit code 0 (start.exe reports a 32-bit program's Windows
# code), so Wine's fault messages are on. Runs whose only messages are of a thread still leaving as the process ends,
# which Wine under qemu-i386 faults on in its own code ("exit_host thread" shows it without vornex), count apart: a
# fault in the program's or the library's code also says "dispatch_exception".
# Usage: exit_check.sh WINE BIN RUNS [MODE]   (MODE: tcp or thread)
set -u
wine=$1; bin=$2; runs=$3; mode=${4:-tcp}
export WINEDEBUG=-all,err+all,warn+seh
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
platform_fault() {  # ERRFILE: holds the platform's messages for that fault and no others
  [ -s "$1" ] && ! grep -v -e ':err:seh:segv_handler Got unexpected trap -1$' -e ':err:virtual:virtual_setup_exception nested exception on signal stack' \
    -e '^qemu: uncaught target signal 11 (Segmentation fault) - core dumped$' "$1" | grep -q .
}
check() {  # MODE: runs it RUNS times, bad = the runs that did not end cleanly
  for i in $(seq 1 "$runs"); do
    begin=$(date +%s)
    timeout 60 $wine exit_host.exe "$1" "$port" "Z:$(echo "$work/$i.log" | tr / '\\')" >"$work/$1.$i.out" 2>"$work/$1.$i.err"
    echo "$? $(( $(date +%s) - begin ))" >"$work/$1.$i.rc"
  done
  # A 32-bit program's exit code comes once it has ended on the Windows side; its unix process may still be writing.
  for _ in $(seq 1 100); do grep -qsa 'exit_host\.exe' /proc/[0-9]*/cmdline || break; sleep 0.1; done
  bad=0; platform=0
  for i in $(seq 1 "$runs"); do
    read -r rc took <"$work/$1.$i.rc"
    said="exit code $rc after $took s: $(cat "$work/$1.$i.out" "$work/$1.$i.err" | tr '\n' ' ' | cut -c1-200)"
    if [ "$rc" -eq 0 ] && platform_fault "$work/$1.$i.err"; then
      platform=$((platform + 1))
      echo "exit_check: $1 run $i: the platform's fault at exit, $said"
    elif [ "$rc" -ne 0 ] || [ -s "$work/$1.$i.err" ] || [ "$took" -gt 20 ]; then
      bad=$((bad + 1))
      echo "exit_check: $1 run $i: $said"
    fi
  done
  echo "exit_check: $1: $bad of $runs runs did not end cleanly; $platform more ended in the platform's fault at exit"
}
check "$mode"
[ $bad -eq 0 ]
