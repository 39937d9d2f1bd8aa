# Sourced by the test and demo scripts: a private Wine prefix in the build
# folder, an Xvfb display for the windows and message boxes, and a persistent
# wineserver for the run. wine_session_stop ends both, also on failure.
# Usage: VX_SESSION_BUILD=DIR; . scripts/wine-session.sh; wine_session_start; ...
# A build folder of the i686 tree runs its programs in the 32-bit runner
# (scripts/setup-x86): the session puts wine, wineserver and wineboot of the
# runner first on PATH, so the same commands serve both architectures.

VX_BUILD_DIR=$(cd "$VX_SESSION_BUILD" && pwd)
if grep -q '^CMAKE_TOOLCHAIN_FILE:.*toolchain-i686' "$VX_BUILD_DIR/CMakeCache.txt" 2>/dev/null; then
  VX_SESSION_ARCH=x86
  vx_runner="$(sed -n 's/^CMAKE_HOME_DIRECTORY:[A-Z]*=//p' "$VX_BUILD_DIR/CMakeCache.txt")/scripts/wine-x86"
  mkdir -p "$VX_BUILD_DIR/.runner-bin"
  printf '#!/bin/sh\nexec "%s" "$@"\n' "$vx_runner" >"$VX_BUILD_DIR/.runner-bin/wine"
  printf '#!/bin/sh\nexec "%s" --run /usr/lib/wine/wineserver "$@"\n' "$vx_runner" >"$VX_BUILD_DIR/.runner-bin/wineserver"
  printf '#!/bin/sh\nexec "%s" wineboot "$@"\n' "$vx_runner" >"$VX_BUILD_DIR/.runner-bin/wineboot"
  chmod 755 "$VX_BUILD_DIR"/.runner-bin/*
  case ":$PATH:" in *":$VX_BUILD_DIR/.runner-bin:"*) ;; *) export PATH="$VX_BUILD_DIR/.runner-bin:$PATH" ;; esac
else
  VX_SESSION_ARCH=x64
fi
export WINEDEBUG=-all
export WINEPREFIX="$VX_BUILD_DIR/wineprefix"
# winedbg disabled: a crashing test program ends at once instead of waiting
# in the debugger until its time limit.
export WINEDLLOVERRIDES='mscoree=d;mshtml=d;winedbg.exe=d'
VX_XVFB_PID=""

wine_session_start() {
  # The display must exist before the first Wine process, wineboot included.
  rm -f "$VX_BUILD_DIR/.xvfb-display"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$VX_BUILD_DIR/.xvfb-display" >/dev/null 2>&1 &
  VX_XVFB_PID=$!
  for _ in $(seq 1 100); do
    [ -s "$VX_BUILD_DIR/.xvfb-display" ] && break
    sleep 0.1
  done
  export DISPLAY=":$(cat "$VX_BUILD_DIR/.xvfb-display")"
  trap wine_session_stop EXIT INT TERM
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1 || true
    # Without a window manager Wine waits up to 2 s whenever it hides a
    # window; unmanaged windows hide at once.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
    # Let the server wineboot started end, so that ours is the persistent one.
    wineserver -w >/dev/null 2>&1 || true
  fi
  wineserver -p >/dev/null 2>&1 || true
  wine cmd /c exit >/dev/null 2>&1 || true
}

wine_session_stop() {
  trap - EXIT INT TERM
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  if [ -n "$VX_XVFB_PID" ]; then
    kill "$VX_XVFB_PID" 2>/dev/null || true
    wait "$VX_XVFB_PID" 2>/dev/null || true
    VX_XVFB_PID=""
  fi
}
