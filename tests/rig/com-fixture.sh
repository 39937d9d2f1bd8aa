#!/bin/sh
# ctest fixture: start or stop a pty link that puts TCP port P behind COMn.
# Usage: com-fixture.sh start PTYLINK N P | stop N
set -eu
action=$1
state="${WINEPREFIX:?WINEPREFIX must be set}/ptylink"
mkdir -p "$state"
case "$action" in
  start)
    exe=$2; com=$3; port=$4
    [ -f "$state/com$com.pid" ] && kill "$(cat "$state/com$com.pid")" 2>/dev/null || true
    "$exe" --com "$com" --port "$port" >"$state/com$com.out" 2>&1 &
    echo $! >"$state/com$com.pid"
    for _ in $(seq 1 100); do
      grep -q '^READY' "$state/com$com.out" 2>/dev/null && { cat "$state/com$com.out"; exit 0; }
      sleep 0.05
    done
    echo "ptylink for COM$com did not start:"; cat "$state/com$com.out"; exit 1 ;;
  stop)
    com=$2
    if [ -f "$state/com$com.pid" ]; then
      kill "$(cat "$state/com$com.pid")" 2>/dev/null || true
      rm -f "$state/com$com.pid"
    fi ;;
  *) echo "usage: com-fixture.sh start PTYLINK N P | stop N"; exit 2 ;;
esac
