#!/bin/sh
# ctest entry: the Node.js binding's tests (bindings/node/test, node --test)
# against this tree's vornex.dll, vornex-sim.exe and simulated Ftd2xx.dll,
# with the Windows Node.js of the tree's architecture.
# Usage: node-tests.sh ARCH_BUILD
set -eu
build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
sh "$here/setup-node" "$(dirname "$build")"
work="$build/node-test"
rm -rf "$work"
mkdir -p "$work"
cat >"$work/ftdisim.cfg" <<'CFG'
device description="Vornex Sim Tool" serial=VXS00001 location=0x1011 com=9
device description="Paced Tool" serial=VXS00002 location=0x1012 com=none pacing=on
CFG
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
VX_BIN=$(winpath "$build/bin")
VX_WORK=$(winpath "$work")
VORNEX_FTDISIM_CONFIG=$(winpath "$work/ftdisim.cfg")
# One worker thread for koffi's async calls: the handles Wine gives a thread
# on its first window are then opened once, before the tests count handles.
UV_THREADPOOL_SIZE=1
export VX_BIN VX_WORK VORNEX_FTDISIM_CONFIG UV_THREADPOOL_SIZE
cd "$here/../bindings/node"
# One process: Node's runner would talk to a child per file through a pipe,
# which Windows Node cannot write to under Wine.
exec sh "$here/run-node" "$build" --test --experimental-test-isolation=none --test-reporter=tap test/binding.test.js
