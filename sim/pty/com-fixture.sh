#!/bin/sh
# Starts or stops a pty link that puts a loopback TCP port behind a Wine COM
# port. COM may be "auto" and PORT 0: the link then takes a free COM number
# and a free TCP port. It keeps "COM<n> <port> <rate> <format>" in
# $WINEPREFIX/ptylink/NAME.ready for the test programs (NAME defaults to COM).
# Usage: com-fixture.sh start PTYLINK COM PORT [NAME] | stop NAME
set -eu
action=$1
state="${WINEPREFIX:?WINEPREFIX must be set}/ptylink"
mkdir -p "$state"
case "$action" in
  start)
    exe=$2; com=$3; port=$4; name=${5:-$3}
    [ -f "$state/$name.pid" ] && kill "$(cat "$state/$name.pid")" 2>/dev/null || true
    rm -f "$state/$name.ready"
    "$exe" --com "$com" --port "$port" --state "$state/$name.ready" >"$state/$name.out" 2>&1 &
    echo $! >"$state/$name.pid"
    for _ in $(seq 1 100); do
      if grep -q '^READY' "$state/$name.out" 2>/dev/null && [ -s "$state/$name.ready" ]; then
        cat "$state/$name.out"; exit 0
      fi
      sleep 0.05
    done
    echo "ptylink $name did not start:"; cat "$state/$name.out"; exit 1 ;;
  stop)
    name=$2
    if [ -f "$state/$name.pid" ]; then
      kill "$(cat "$state/$name.pid")" 2>/dev/null || true
      rm -f "$state/$name.pid" "$state/$name.ready"
    fi ;;
  *) echo "usage: com-fixture.sh start PTYLINK COM PORT [NAME] | stop NAME"; exit 2 ;;
esac
