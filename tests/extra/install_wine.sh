#!/bin/bash
# Installs a version with the real launcher under Wine on a private X server:
# the demo operator serves version 1 on a private port, the player presses
# the install button, both files must land with the right bytes, the progress
# line must change while they come, the start button must replace the install
# button, and a restarted launcher must find the version installed.
# Usage: install_wine.sh NATIVE_BUILD WIN32_BUILD
# INSTALL_WINE_DISPLAY and INSTALL_WINE_PORT move the X display and the demo
# server's port (the fault server takes the port after it).
set -u
TOP="$(cd "$(dirname "$0")/../.." && pwd)"
WIN32_BUILD="$(cd "${2:?win32 build folder}" && pwd -P)"
EXE="$WIN32_BUILD/TarnwickLauncher.exe"
GAME="$WIN32_BUILD/TarnwickDemoGame.exe"
for f in "$EXE" "$GAME"; do
  [ -f "$f" ] || { echo "install_wine: $f missing"; exit 1; }
done
for tool in Xvfb xdpyinfo xdotool xwininfo import convert wine python3; do
  command -v "$tool" >/dev/null || { echo "install_wine: $tool not installed"; exit 1; }
done

DISPLAY_NO=${INSTALL_WINE_DISPLAY:-94}
PORT=${INSTALL_WINE_PORT:-18694}
FAULT_PORT=$((PORT + 1))
export DISPLAY=":$DISPLAY_NO"
WORK="$WIN32_BUILD/install_wine"
XVFB_PID=""
SERVER_PID=""
FAULT_PIDFILE="$WIN32_BUILD/install_wine_fault.pid"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

cleanup() {
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -k 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  [ -s "$FAULT_PIDFILE" ] && kill "$(cat "$FAULT_PIDFILE")" 2>/dev/null && rm -f "$FAULT_PIDFILE"
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

. "$(dirname "$0")/../wine/xvfb.sh"
start_xvfb install_wine

port_open() { python3 -c "import socket; socket.create_connection(('127.0.0.1', ${1:-$PORT}), 0.2).close()" 2>/dev/null; }
for p in "$PORT" "$FAULT_PORT"; do
  if port_open "$p"; then echo "install_wine: port $p is in use"; exit 1; fi
done
# 48 MiB over four connections of 3 MB/s each (the rate is per connection):
# about four seconds of visible progress.
REQLOG="$WIN32_BUILD/install_wine_requests.log"
: > "$REQLOG"
python3 "$TOP/tools/demo/demo_server.py" --port "$PORT" --game "$GAME" --rate 3000000 --log "$REQLOG" >/dev/null 2>&1 &
SERVER_PID=$!
for _ in $(seq 50); do port_open && break; sleep 0.2; done
port_open || { echo "install_wine: demo server did not start"; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK"
TARNWICK_BUILD="$WORK"
. "$TOP/tests/wine/env.sh"
LOG="$WORK/wine.log"
: > "$LOG"

# The launcher runs from its install folder (no hand-over) with a
# configuration that points at this run's server.
INST="$WINEPREFIX/drive_c/Tarnwick游戏"
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

wait_for() {  # shell condition, seconds
  for _ in $(seq $(($2 * 5))); do
    eval "$1" && return 0; sleep 0.2
  done
  return 1
}
main_window_shown() { xwininfo -root -children 2>/dev/null | grep -q '1334x687+50+50'; }
start_launcher() {
  (cd "$INST" && timeout 180 wine 'C:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
  wait_for main_window_shown 40
}
stop_launcher() { timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null; sleep 0.5; }
# Pixels of a design rectangle of the main window (at 50,50), as a hash.
region() {  # w h x y
  import -window root -crop "$1x$2+$((50 + $3))+$((50 + $4))" +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1
}
button_region() { region 248 88 1007 587; }
line_region() { region 672 24 240 589; }

DIR="$INST/Ravik"
if start_launcher; then pass "main window shown"; else fail "main window not shown"; cat "$LOG"; exit 1; fi
sleep 2  # background picture and announcement page
xdotool mousemove 5 5; sleep 0.3
before=$(button_region)
blank_line=$(line_region)

xdotool mousemove $((50 + 1131)) $((50 + 632)); sleep 0.3
xdotool click 1; sleep 0.2
xdotool mousemove 5 5

# The progress line while the data file comes.
declare -A seen=()
for _ in $(seq 100); do
  h=$(line_region)
  [ "$h" != "$blank_line" ] && seen[$h]=1
  [ -f "$DIR/RavikGame.exe" ] && [ -f "$DIR/ravik.dat" ] && break
  sleep 0.2
done
[ "${#seen[@]}" -ge 3 ] && pass "progress line changed ${#seen[@]} times" \
  || fail "progress line changed ${#seen[@]} times"
wait_for '[ -f "$DIR/ravik.dat" ] && [ -f "$DIR/RavikGame.exe" ]' 60 || fail "files did not arrive"
cmp -s "$GAME" "$DIR/RavikGame.exe" && pass "program file arrived byte for byte" || fail "program file differs"
python3 - "$TOP/tools/demo" "$DIR/ravik.dat" <<'PY' && pass "data file arrived byte for byte" || fail "data file differs"
import sys
sys.path.insert(0, sys.argv[1])
import demo_server
want = demo_server.data_block("ravik.dat", 0, demo_server.DATA_SIZE)
sys.exit(0 if open(sys.argv[2], "rb").read() == want else 1)
PY
[ ! -e "$DIR/ravik.dat.part" ] && pass "no temporary file left" || fail "temporary file left"

sleep 1.5
after=""
wait_for 'after=$(button_region); [ "$after" != "$before" ]' 10 \
  && pass "the install button gave way to the start button" || fail "install button still shown"
import -window root -crop 1334x687+50+50 +repage "$WORK/installed.png" 2>/dev/null

stop_launcher
if start_launcher; then
  sleep 2
  xdotool mousemove 5 5; sleep 0.3
  again=$(button_region)
  [ "$again" = "$after" ] && [ "$again" != "$before" ] && pass "a restarted launcher finds the version installed" \
    || fail "after a restart the version is not shown installed"
else
  fail "main window not shown on restart"
fi
stop_launcher

# Closing the window during an install: the process ends within a few
# seconds, with no error box (a modal box would keep it alive), the mutex is
# free for the next start, and nothing cut short lies under a final name.
launcher_running() { pgrep -f 'TarnwickLauncher\.exe' >/dev/null; }
rm -rf "$DIR"
if start_launcher; then
  sleep 2
  xdotool mousemove $((50 + 1131)) $((50 + 632)); sleep 0.3
  xdotool click 1; sleep 0.2
  if wait_for '[ -f "$DIR/ravik.dat.part" ]' 20; then
    sleep 1
    xdotool mousemove $((50 + 1294)) $((50 + 34)); sleep 0.2
    t0=$(date +%s%N)
    xdotool click 1
    if wait_for '! launcher_running' 15; then
      ms=$(( ($(date +%s%N) - t0) / 1000000 ))
      # 3 s of our own wind-down plus Wine's process teardown.
      [ "$ms" -le 6000 ] && pass "closed during an install: ended after $ms ms" \
        || fail "closed during an install: ended only after $ms ms"
    else
      fail "closed during an install: still running after 15 s"
    fi
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
    { [ ! -e "$DIR/ravik.dat.part" ] || [ -e "$DIR/ravik.dat.part.resume" ]; } \
      && pass "the cut download left nothing, or a part it can resume" || fail "a part without its resume state"
  else
    fail "closed during an install: the download did not start"
  fi
  timeout 20 wineserver -w 2>/dev/null
  if start_launcher; then pass "a start right after the close opens the window"; else fail "no window after the close"; fi
else
  fail "main window not shown for the close test"
fi
stop_launcher

# Killed in the middle of a download and started again: the next install
# asks only for the rest of the kept part and ends byte for byte; until then
# nothing looks installed.
click_install() { xdotool mousemove $((50 + 1131)) $((50 + 632)); sleep 0.3; xdotool click 1; sleep 0.2; }
part_size() { stat -c %s "$DIR/ravik.dat.part" 2>/dev/null || echo 0; }
# Bytes the resume state counts as done ("done=a-b,c-d", ends exclusive): the
# part's length alone says nothing once ranges are written at their offsets.
done_bytes() {
  sed -n 's/^done=//p' "$DIR/ravik.dat.part.resume" 2>/dev/null | tr ',' '\n' \
    | awk -F- 'NF == 2 { n += $2 - $1 } END { print n + 0 }'
}
rm -rf "$DIR"
: > "$REQLOG"
if start_launcher; then
  sleep 2
  click_install
  if wait_for '[ "$(done_bytes)" -ge 16777216 ]' 30; then
    stop_launcher
    : > "$REQLOG"
    [ -f "$DIR/ravik.dat.part" ] && [ ! -e "$DIR/ravik.dat" ] && [ ! -e "$DIR/RavikGame.exe" ] \
      && pass "killed mid-download: the part is kept and nothing is published" \
      || fail "killed mid-download: the folder holds $(ls "$DIR" | tr '\n' ' ')"
    if start_launcher; then
      sleep 2
      click_install
      wait_for '[ -f "$DIR/ravik.dat" ] && [ -f "$DIR/RavikGame.exe" ]' 60 || fail "the resumed install did not end"
      cmp -s "$GAME" "$DIR/RavikGame.exe" && pass "resumed: program file byte for byte" || fail "resumed: program differs"
      python3 - "$TOP/tools/demo" "$DIR/ravik.dat" <<'PY' && pass "resumed: data file byte for byte" || fail "resumed: data file differs"
import sys
sys.path.insert(0, sys.argv[1])
import demo_server
want = demo_server.data_block("ravik.dat", 0, demo_server.DATA_SIZE)
sys.exit(0 if open(sys.argv[2], "rb").read() == want else 1)
PY
      grep -qE 'ravik\.dat Range=bytes=[0-9]+-[0-9]* If-Range="ravik\.dat-1"' "$REQLOG" \
        && ! grep -q 'ravik\.dat Range=bytes=0- If-Range=None' "$REQLOG" \
        && pass "the second start asked only for the rest" || { fail "no resuming request"; cat "$REQLOG"; }
      [ ! -e "$DIR/ravik.dat.part" ] && [ ! -e "$DIR/ravik.dat.part.resume" ] && pass "no part or state left" \
        || fail "a part or its state stayed"
    else
      fail "no window after the kill"
    fi
  else
    fail "killed mid-download: the resume state did not reach 16 MiB"
  fi
else
  fail "main window not shown for the kill test"
fi
stop_launcher

# What the operator states about the files: the program's main host has lost
# it and a spare host serves it; a data file whose hash is not the stated one
# is refused, and with the right hash the same bytes install.
write_config() {  # "key=value" lines, added or replacing
  python3 - "$TOP/config/default_config.txt" "$INST/配置文件.dat" "$PORT" "$@" <<'PY'
import sys
KEY = b"R3T8V1N6H4C9L2P7"
text = open(sys.argv[1], encoding="utf-8").read().replace("127.0.0.1:18630", "127.0.0.1:" + sys.argv[3])
lines = [l for l in text.replace("\r\n", "\n").split("\n") if l]
lines = [l.replace("/files/ravik/RavikGame.exe", "/files/gone/RavikGame.exe") for l in lines]
for extra in sys.argv[4:]:  # a key already there is replaced
    key = extra.split("=", 1)[0] + "="
    lines = [l for l in lines if not l.startswith(key)] + [extra]
plain = "\r\n".join(lines).encode("gbk")
open(sys.argv[2], "wb").write(bytes(b ^ KEY[i % len(KEY)] for i, b in enumerate(plain)))
PY
}
RIGHT=$(python3 - "$TOP/tools/demo" <<'PY'
import hashlib, sys
sys.path.insert(0, sys.argv[1])
import demo_server
print(hashlib.sha256(demo_server.data_block("ravik.dat", 0, demo_server.DATA_SIZE)).hexdigest().upper())
PY
)
SPARE="版本一登录器下载exe镜像=http://127.0.0.1:$PORT/files/ravik/RavikGame.exe"
LAUNCHER_LOG="$INST/TarnwickLauncher.log"
for hash in 0000000000000000000000000000000000000000000000000000000000000000 "$RIGHT"; do
  rm -rf "$DIR"
  : > "$LAUNCHER_LOG"
  write_config "$SPARE" "版本一登录器下载dat校验=$hash"
  if start_launcher; then
    sleep 2
    click_install
    wait_for 'grep -q "install of .* \(complete\|failed\)" "$LAUNCHER_LOG"' 90 || fail "stated hash: the install did not end"
    grep -q "trying spare address http://127.0.0.1:$PORT/files/ravik/RavikGame.exe" "$LAUNCHER_LOG" \
      && pass "the program came from the spare address" || fail "no spare address in the log"
    if [ "$hash" = "$RIGHT" ]; then
      cmp -s "$GAME" "$DIR/RavikGame.exe" && [ -f "$DIR/ravik.dat" ] \
        && pass "stated hash right: installed from the spare host, byte for byte" \
        || fail "stated hash right: the folder holds $(ls "$DIR" | tr '\n' ' ')"
    else
      grep -q "failed: 文件1：校验失败" "$LAUNCHER_LOG" && [ ! -e "$DIR/ravik.dat" ] && [ ! -e "$DIR/ravik.dat.part" ] \
        && [ ! -e "$DIR/RavikGame.exe" ] && pass "a data file with the wrong hash is refused and nothing is published" \
        || { fail "wrong hash: the folder holds $(ls "$DIR" | tr '\n' ' ')"; tail -5 "$LAUNCHER_LOG"; }
    fi
  else
    fail "main window not shown for the stated-hash test"
  fi
  stop_launcher
done

# Answers that must not land as the file when the operator states no size or
# hash: a first 206 with 1000 of 5000 bytes (the rest must be fetched), a file
# that changed on the server while the launcher lay killed with half of the
# old one kept (the new file or nothing, never the two joined), and a captive
# portal's login page (refused, nothing published).
setsid python3 "$TOP/tests/servers/fault_server.py" --port "$FAULT_PORT" --pidfile "$FAULT_PIDFILE" \
  </dev/null >"$WORK/fault.log" 2>&1 &
wait_for 'port_open "$FAULT_PORT"' 10 || fail "the fault server did not start"
ended() { grep -q "install of .* \(complete\|failed\)" "$LAUNCHER_LOG"; }
for row in "partial206|/partial206?size=5000|complete|pattern" \
           "changes|/changes?size=100000|complete|new" \
           "portal|/portal|failed: 文件1：服务器返回了网页而不是文件|none"; do
  IFS='|' read -r name route want bytes <<<"$row"
  rm -rf "$DIR"
  : > "$LAUNCHER_LOG"
  # The launcher names a file after the text past the address's last slash:
  # the query ends with the name, which the server does not read.
  sep='?'; [[ "$route" == *\?* ]] && sep='&'
  write_config "版本一登录器下载exe=http://127.0.0.1:$FAULT_PORT$route${sep}key=$name-exe&as=/RavikGame.exe" \
    "版本一登录器下载dat=http://127.0.0.1:$FAULT_PORT$route${sep}key=$name-dat&as=/ravik.dat"
  if ! start_launcher; then fail "$name: main window not shown"; stop_launcher; continue; fi
  sleep 2
  click_install
  if [ "$name" = changes ]; then
    # Killed while the cut half waits for its retry, then started again.
    wait_for '[ "$(done_bytes)" -gt 0 ] || ended' 30
    stop_launcher
    # The retry waits a second: the kill nearly always comes first.
    if ended; then echo "note: changes: the retry ended the install before the kill"
    else start_launcher && sleep 2 && click_install; fi
    grep -q 'for bytes 50000- .*starting over' "$LAUNCHER_LOG" \
      && pass "changes: the kept half of the old file was dropped" || fail "changes: the kept half was not refused"
  fi
  wait_for ended 60 || fail "$name: the install did not end"
  grep -q "install of .* $want" "$LAUNCHER_LOG" && pass "$name: install $want" \
    || { fail "$name: no '$want' in the log"; tail -5 "$LAUNCHER_LOG"; }
  python3 - "$TOP/tests/servers" "$DIR" "$bytes" <<'PY' && pass "$name: the folder holds only right bytes" \
    || fail "$name: the folder holds $(ls "$DIR" 2>/dev/null | tr '\n' ' ')"
import os, sys
sys.path.insert(0, sys.argv[1])
import fault_server
d, kind = sys.argv[2], sys.argv[3]
names = sorted(set(os.listdir(d)) - {"Game.ini"}) if os.path.isdir(d) else []
if kind == "none":
    sys.exit(1 if names else 0)
want = fault_server.pattern(0, 5000 if kind == "pattern" else 100000)
if kind == "new":
    want = want.translate(fault_server.NEW_BYTES)
sys.exit(0 if names == ["RavikGame.exe", "ravik.dat"] and
         all(open(os.path.join(d, n), "rb").read() == want for n in names) else 1)
PY
  stop_launcher
done

echo
if [ "$failures" -eq 0 ]; then echo "install_wine: all passed"; else echo "install_wine: $failures failed"; fi
[ "$failures" -eq 0 ]
