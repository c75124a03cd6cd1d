#!/bin/sh
# Builds TarnwickLauncher.exe and runs it under Wine against the demo operator
# (tools/demo/demo_server.py on 127.0.0.1:18630). Without a display it starts
# Xvfb and saves a screenshot every 5 s to build/demo/screenshots/.
# The launcher runs until its window is closed (or Ctrl+C).
set -eu
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
./tools/setup.sh
cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake >/dev/null
ninja -C build/win32 TarnwickLauncher TarnwickDemoGame

mkdir -p build/demo/screenshots
pids=""
cleanup() { for p in $pids; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT INT TERM

python3 tools/demo/demo_server.py --game build/win32/TarnwickDemoGame.exe &
pids="$pids $!"

if [ -z "${DISPLAY:-}" ]; then
  Xvfb :77 -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
  pids="$pids $!"
  export DISPLAY=:77
  ( while sleep 5; do import -window root "build/demo/screenshots/$(date +%H%M%S).png" 2>/dev/null || true; done ) &
  pids="$pids $!"
  echo "No display: running under Xvfb; screenshots go to build/demo/screenshots/"
fi

TARNWICK_BUILD="$top/build/win32"
TARNWICK_PREFIX="$top/build/demo/wineprefix"
. tests/wine/env.sh
# Like a player: start it from the downloads folder; it installs itself into
# C:\Tarnwick游戏, starts the copy there and puts a shortcut on the desktop.
downloads=$(ls -d "$WINEPREFIX"/drive_c/users/*/Downloads 2>/dev/null | head -n 1)
[ -n "$downloads" ] || { downloads="$WINEPREFIX/drive_c/users/Public/Downloads"; mkdir -p "$downloads"; }
cp build/win32/TarnwickLauncher.exe "$downloads/"
wine "$downloads/TarnwickLauncher.exe"
# The first process hands over to the installed copy and ends: wait for it.
wineserver -w
