#!/bin/bash
# A full disk under Wine. The small drive is a tmpfs mounted here and linked
# as the fixed drive D: of a fresh prefix (dosdevices/d: plus the "hd" drive
# type), so writes on D: end in a real ERROR_DISK_FULL.
# 1. The first start from a download folder on C: while D: is nearly full:
#    the copy fails with the 错误 box, the program ends, and no cut copy of
#    the program lies in D:\Tarnwick游戏.
# 2. The launcher runs from D:\Tarnwick游戏 and installs a version that does
#    not fit: the install ends in failure (the install button comes back),
#    nothing cut short lies under a final name, no temporary file is left,
#    and the launcher keeps running with its window and no error box.
# Needs root for the mount; skips (exit 0) where mounting is not permitted.
# Usage: diskfull_wine.sh NATIVE_BUILD WIN32_BUILD
set -u
TOP="$(cd "$(dirname "$0")/../.." && pwd)"
WIN32_BUILD="$(cd "${2:?win32 build folder}" && pwd -P)"
EXE="$WIN32_BUILD/TarnwickLauncher.exe"
GAME="$WIN32_BUILD/TarnwickDemoGame.exe"
for f in "$EXE" "$GAME"; do
  [ -f "$f" ] || { echo "diskfull_wine: $f missing"; exit 1; }
done
for tool in Xvfb xdpyinfo xdotool xwininfo import wine python3 mountpoint; do
  command -v "$tool" >/dev/null || { echo "diskfull_wine: $tool not installed"; exit 1; }
done

DISPLAY_NO=96
PORT=18696
export DISPLAY=":$DISPLAY_NO"
WORK="$WIN32_BUILD/diskfull_wine"
MNT="$WORK/drive_d"
XVFB_PID=""
SERVER_PID=""
MOUNTED=""
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

unmount() {
  [ -n "$MOUNTED" ] || return 0
  # Wine may still hold a file there for a moment after wineserver -k.
  for _ in $(seq 25); do umount "$MNT" 2>/dev/null && { MOUNTED=""; return 0; }; sleep 0.2; done
  umount -l "$MNT" 2>/dev/null && MOUNTED=""
}
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -k 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -w 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
  unmount
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# A mount left by a run that was killed outright.
mountpoint -q "$MNT" 2>/dev/null && { umount "$MNT" 2>/dev/null || umount -l "$MNT"; }
rm -rf "$WORK"
mkdir -p "$MNT"
if ! mount -t tmpfs -o size=8m tmpfs "$MNT" 2>/dev/null; then
  echo "diskfull_wine: skipped: cannot mount tmpfs"; exit 0
fi
MOUNTED=1

. "$(dirname "$0")/../wine/xvfb.sh"
start_xvfb diskfull_wine

port_open() { python3 -c "import socket; socket.create_connection(('127.0.0.1', $PORT), 0.2).close()" 2>/dev/null; }
if port_open; then echo "diskfull_wine: port $PORT is in use"; exit 1; fi
python3 "$TOP/tools/demo/demo_server.py" --port "$PORT" --game "$GAME" --rate 12000000 >/dev/null 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do port_open && break; sleep 0.2; done
port_open || { echo "diskfull_wine: demo server did not start"; exit 1; }

TARNWICK_BUILD="$WORK"
. "$TOP/tests/wine/env.sh"
LOG="$WORK/wine.log"
: > "$LOG"
C="$WINEPREFIX/drive_c"
ln -sfn "$MNT" "$WINEPREFIX/dosdevices/d:"
wine reg add 'HKLM\Software\Wine\Drives' /v 'd:' /t REG_SZ /d hd /f >>"$LOG" 2>&1
timeout 20 wineserver -w 2>/dev/null

wait_for() {  # shell condition, seconds
  for _ in $(seq $(($2 * 5))); do
    eval "$1" && return 0; sleep 0.2
  done
  return 1
}
main_window_shown() { xwininfo -root -children 2>/dev/null | grep -q '1334x687+50+50'; }
error_boxes() { xdotool search --name '^错误$' 2>/dev/null | wc -l; }
# Whether a process has this program file (a host path) mapped.
running() { cat /proc/[0-9]*/maps 2>/dev/null | grep -qF -- "$1"; }
stop_all() { timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null; sleep 0.5; }
free_bytes() { df -B1 --output=avail "$MNT" | tail -n 1 | tr -d ' '; }
# Fills the drive until about $1 bytes are left.
fill_leaving() {
  local n=$(( $(free_bytes) - $1 ))
  [ "$n" -gt 0 ] && head -c "$n" /dev/zero > "$MNT/filler.bin"
}
region() {  # w h x y of the main window (at 50,50), as a hash
  import -window root -crop "$1x$2+$((50 + $3))+$((50 + $4))" +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}
button_region() { region 248 88 1007 587; }
line_region() { region 672 24 240 589; }

INST="$MNT/Tarnwick游戏"

# 1. The copy to a nearly full D:.
DL="$C/下载"
mkdir -p "$DL"
cp "$EXE" "$DL/TarnwickLauncher.exe"
fill_leaving $((100 * 1024))
echo "D: has $(free_bytes) bytes free"
(cd "$DL" && timeout 60 wine 'C:\下载\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
first=$!
box=""
wait_for 'box=$(xdotool search --name "^错误$" 2>/dev/null | head -n 1); [ -n "$box" ]' 30
if [ -n "$box" ]; then
  pass "copy to a full D: shows the error box"
  import -window root "$WORK/copy_failed.png" 2>/dev/null
  xdotool windowfocus --sync "$box" >/dev/null 2>&1; xdotool key --window "$box" Return 2>/dev/null
  sleep 0.5
  [ "$(error_boxes)" -eq 0 ] || xdotool key --window "$box" space 2>/dev/null
else
  fail "no error box after the copy to a full D:"
fi
if wait_for '! kill -0 $first 2>/dev/null' 20; then
  pass "the first start ends after the box"
else
  fail "the first start still runs after the box"
fi
wait "$first" 2>/dev/null
if [ ! -e "$INST/TarnwickLauncher.exe" ]; then
  pass "no program file left on D: (the copy was cleared)"
elif cmp -s "$EXE" "$INST/TarnwickLauncher.exe"; then
  pass "the program file on D: is whole"
else
  fail "a cut copy of $(stat -c %s "$INST/TarnwickLauncher.exe") of $(stat -c %s "$EXE") bytes lies on D:"
fi
running "$INST/TarnwickLauncher.exe" && fail "a copy on D: was started"
main_window_shown && fail "a main window was shown after the failed copy"
stop_all

# 2. An install that does not fit on D:.
rm -rf "$INST" "$MNT/filler.bin"
mkdir -p "$INST"
cp "$EXE" "$INST/TarnwickLauncher.exe"
python3 - "$TOP/config/default_config.txt" "$INST/配置文件.dat" "$PORT" <<'PY'
import sys
KEY = b"R3T8V1N6H4C9L2P7"
text = open(sys.argv[1], encoding="utf-8").read().replace("127.0.0.1:18630", "127.0.0.1:" + sys.argv[3])
lines = [l for l in text.replace("\r\n", "\n").split("\n") if l]
plain = "\r\n".join(lines).encode("gbk")
open(sys.argv[2], "wb").write(bytes(b ^ KEY[i % len(KEY)] for i, b in enumerate(plain)))
PY
echo "D: has $(free_bytes) bytes free for a 48 MiB download"
DIR="$INST/Ravik"
(cd "$INST" && timeout 180 wine 'D:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
if wait_for main_window_shown 40; then pass "main window shown from D:"; else fail "main window not shown"; cat "$LOG"; exit 1; fi
sleep 2  # background picture and announcement page
xdotool mousemove 5 5; sleep 0.3
before=$(button_region)
blank_line=$(line_region)
# The least free space D: shows during the install: the failed download's
# temporary file is gone a moment after the drive fills, so sample often.
rm -f "$WORK/sampler_stop"
python3 - "$MNT" "$WORK/sampler_stop" > "$WORK/least_free" <<'PY' &
import os, sys, time
least = None
end = time.monotonic() + 60
while time.monotonic() < end and not os.path.exists(sys.argv[2]):
    st = os.statvfs(sys.argv[1])
    free = st.f_bavail * st.f_frsize
    least = free if least is None else min(least, free)
    if least < 256 * 1024:
        break
    time.sleep(0.002)
print(least)
PY
sampler=$!
xdotool mousemove $((50 + 1131)) $((50 + 632)); sleep 0.3
xdotool click 1; sleep 0.2
xdotool mousemove 5 5
line=""
if wait_for '[ ! -e "$DIR/ravik.dat.part" ] && [ "$(button_region)" = "$before" ] && line=$(line_region) && [ "$line" != "$blank_line" ]' 30; then
  pass "the install ended in failure: the install button is back with a line under it"
else
  fail "the install did not end in failure (part file there: $([ -e "$DIR/ravik.dat.part" ] && echo yes || echo no))"
fi
import -window root "$WORK/install_failed.png" 2>/dev/null
python3 - "$TOP/tools/demo" "$DIR" "$GAME" <<'PY' && pass "nothing cut short under a final name" || fail "a final name holds a cut file"
import os, sys
sys.path.insert(0, sys.argv[1])
import demo_server
d = sys.argv[2]
data = os.path.join(d, "ravik.dat")
if os.path.exists(data) and open(data, "rb").read() != demo_server.data_block("ravik.dat", 0, demo_server.DATA_SIZE):
    sys.exit(1)
exe = os.path.join(d, "RavikGame.exe")
if os.path.exists(exe) and open(exe, "rb").read() != open(sys.argv[3], "rb").read():
    sys.exit(1)
PY
# A part may stay only with its resume state (the next install goes on from it).
orphans() {
  n=0
  for p in "$DIR"/*.part; do [ -e "$p" ] && [ ! -e "$p.resume" ] && n=$((n + 1)); done
  echo "$n"
}
[ "$(orphans)" -eq 0 ] && pass "no part without its resume state" || fail "$(orphans) part(s) without resume state"
sleep 1
running "$INST/TarnwickLauncher.exe" && main_window_shown && pass "the launcher still runs with its window" \
  || fail "the launcher is gone after the full disk"
boxes=$(error_boxes)
[ "$boxes" -eq 0 ] && pass "no error box" || fail "$boxes error box(es) shown"
# The 48 MiB that cannot fit are refused before their first byte: the
# drive never fills for them.
touch "$WORK/sampler_stop"; wait "$sampler" 2>/dev/null
least=$(cat "$WORK/least_free" 2>/dev/null)
[ -n "$least" ] && [ "$least" -gt $((1024 * 1024)) ] && pass "D: never filled (least free: ${least:-?} bytes)" \
  || fail "D: filled up (least free: $least bytes) though the size was announced"
stop_all

# 3. The drive fills while the download runs (another program takes the
#    space): the write fails, the install ends in failure, nothing cut
#    short lies under a final name.
mount -o remount,size=80m "$MNT" 2>/dev/null || { echo "diskfull_wine: cannot grow the tmpfs"; failures=$((failures + 1)); }
rm -rf "$DIR"
(cd "$INST" && timeout 180 wine 'D:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
if wait_for main_window_shown 40; then
  sleep 2
  xdotool mousemove 5 5; sleep 0.3
  before=$(button_region)
  xdotool mousemove $((50 + 1131)) $((50 + 632)); sleep 0.3
  xdotool click 1; sleep 0.2
  xdotool mousemove 5 5
  if wait_for '[ -e "$DIR/ravik.dat.part" ]' 20; then
    dd if=/dev/zero of="$MNT/filler.bin" bs=64k 2>/dev/null
    pass "the drive was filled during the download"
    if wait_for '[ "$(button_region)" = "$before" ]' 60; then
      pass "a write to the full drive ends the install in failure"
    else
      fail "the install did not end after the drive filled"
    fi
    python3 - "$TOP/tools/demo" "$DIR" "$GAME" <<'PY' && pass "full during the download: nothing cut under a final name" || fail "full during the download: a cut file under a final name"
import os, sys
sys.path.insert(0, sys.argv[1])
import demo_server
d = sys.argv[2]
data = os.path.join(d, "ravik.dat")
if os.path.exists(data) and open(data, "rb").read() != demo_server.data_block("ravik.dat", 0, demo_server.DATA_SIZE):
    sys.exit(1)
exe = os.path.join(d, "RavikGame.exe")
if os.path.exists(exe) and open(exe, "rb").read() != open(sys.argv[3], "rb").read():
    sys.exit(1)
PY
    running "$INST/TarnwickLauncher.exe" && main_window_shown && [ "$(error_boxes)" -eq 0 ] \
      && pass "full during the download: the launcher runs on, no box" || fail "full during the download: launcher gone or a box"
  else
    fail "the download into the larger drive did not start"
  fi
  rm -f "$MNT/filler.bin"
else
  fail "main window not shown for the second full-disk case"
fi
stop_all

echo
if [ "$failures" -eq 0 ]; then echo "diskfull_wine: all passed"; else echo "diskfull_wine: $failures failed"; fi
[ "$failures" -eq 0 ]
