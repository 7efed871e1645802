#!/usr/bin/env bash
# Runs Windows test programs under Wine in a throw-away 32-bit prefix inside
# the build tree, with one Xvfb server per test run.
#   harness.sh BUILD setup             create the prefix (once) and start Xvfb
#   harness.sh BUILD run PROGRAM ARGS  run a program; exit status is its own
#   harness.sh BUILD cleanup           stop Wine and Xvfb
set -u
build=$(cd "$1" && pwd); shift
cmd=$1; shift
state=$build/wine-state
export WINEPREFIX=$build/wineprefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$state"

display_of() { cat "$state/display" 2>/dev/null; }

case "$cmd" in
setup)
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    rm -rf "$WINEPREFIX"
    wineboot --init >/dev/null 2>&1
    wineserver -w
  fi
  if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then exit 0; fi
  rm -f "$state/display"
  # -displayfd picks a free display and writes its number once it is ready.
  exec 3>"$state/display"
  setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  echo $! >"$state/xvfb.pid"
  exec 3>&-
  for _ in $(seq 100); do [ -s "$state/display" ] && break; sleep 0.1; done
  [ -s "$state/display" ] || { echo "harness: Xvfb did not start" >&2; exit 1; }
  ;;
run)
  d=$(display_of)
  [ -n "$d" ] && export DISPLAY=":$d"
  export LUMAVEIL_BUILD=$build
  exec wine "$@"
  ;;
env)
  # Prints the environment a test script needs to drive Wine itself.
  echo "export WINEPREFIX='$WINEPREFIX' WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES='$WINEDLLOVERRIDES'"
  d=$(display_of); [ -n "$d" ] && echo "export DISPLAY=:$d"
  ;;
cleanup)
  # Kill the prefix's server and so every Wine process of it, then wait until
  # they are really gone, so that a test run leaves nothing behind.
  wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  if [ -f "$state/xvfb.pid" ]; then
    pid=$(cat "$state/xvfb.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null
    rm -f "$state/xvfb.pid" "$state/display"
  fi
  ;;
*) echo "harness: unknown command $cmd" >&2; exit 2 ;;
esac
