#!/bin/bash
# A crash of the real launcher under Wine: the test build's --crash-for-test
# faults once the log is open; the launcher must leave a valid minidump beside
# itself, name it in the log, show the fatal-error box and end. Four crashes
# leave the newest three dumps.
# Usage: crash_wine.sh NATIVE_BUILD WIN32_BUILD
set -u
WIN32_BUILD="$(cd "${2:?win32 build folder}" && pwd -P)"
EXE="$WIN32_BUILD/TarnwickLauncher.exe"
[ -f "$EXE" ] || { echo "crash_wine: $EXE missing (build the TarnwickLauncher target)"; exit 1; }
for tool in Xvfb xdpyinfo xdotool wine python3; do
  command -v "$tool" >/dev/null || { echo "crash_wine: $tool not installed"; exit 1; }
done
python3 -c 'import sys; sys.exit("--crash-for-test".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$EXE" \
  || { echo "crash_wine: $EXE lacks the test switch (configure with TARNWICK_TEST_HOOKS=ON)"; exit 1; }

DISPLAY_NO=97
export DISPLAY=":$DISPLAY_NO"
WORK="$WIN32_BUILD/crash_wine"
XVFB_PID=""
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -k 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT
. "$(dirname "$0")/../wine/xvfb.sh"
start_xvfb crash_wine

rm -rf "$WORK"
mkdir -p "$WORK"
TARNWICK_BUILD="$WORK"
. "$(dirname "$0")/../wine/env.sh"
LOG="$WORK/wine.log"
DIR="$WINEPREFIX/drive_c/崩溃"
mkdir -p "$DIR"
cp "$EXE" "$DIR/TarnwickLauncher.exe"

# Runs the crash once: the box must appear and, dismissed, end the program.
crash_once() {  # run number
  (cd "$DIR" && timeout 60 wine 'C:\崩溃\TarnwickLauncher.exe' --crash-for-test >>"$LOG" 2>&1) &
  local run=$! box=""
  for _ in $(seq 150); do
    box=$(xdotool search --name '^错误$' 2>/dev/null | head -n 1)
    [ -n "$box" ] && break; sleep 0.2
  done
  if [ -n "$box" ]; then
    pass "run $1: the fatal-error box appears"
    [ "$1" -eq 1 ] && import -window root "$WORK/crash_box.png" 2>/dev/null
    xdotool windowfocus --sync "$box" >/dev/null 2>&1; xdotool key --window "$box" Return 2>/dev/null; sleep 0.5
    xdotool search --name '^错误$' >/dev/null 2>&1 && xdotool key --window "$box" space 2>/dev/null
  else
    fail "run $1: no fatal-error box"
  fi
  wait "$run"; local rc=$?
  [ "$rc" -ne 0 ] && [ "$rc" -ne 124 ] && pass "run $1: ends with a failure code ($rc)" || fail "run $1: ended with $rc"
  timeout 20 wineserver -w 2>/dev/null
}

dumps() { (cd "$DIR" && ls TarnwickLauncher-*.dmp 2>/dev/null | LC_ALL=C sort); }

crash_once 1
first=$(dumps)
[ "$(echo "$first" | grep -c .)" -eq 1 ] && pass "one dump beside the exe: $first" || fail "dumps after one crash: '$first'"
echo "$first" | grep -qE '^TarnwickLauncher-[0-9]{8}-[0-9]{6}\.dmp$' && pass "dump named by date and time" \
  || fail "dump name '$first'"
# A minidump: signature, a stream directory inside the file, every stream
# inside the file, and an exception stream recording the access violation.
python3 - "$DIR/$first" <<'PY' && pass "dump is a valid minidump of an access violation" || fail "dump is not a valid minidump"
import struct, sys
d = open(sys.argv[1], "rb").read()
assert len(d) >= 32, "short file"
sig, version, count, rva = struct.unpack_from("<IIII", d, 0)
assert sig == 0x504D444D, hex(sig)
assert 0 < count < 1000 and 32 <= rva and rva + 12 * count <= len(d), (count, rva, len(d))
types = []
for i in range(count):
    kind, size, at = struct.unpack_from("<III", d, rva + 12 * i)
    assert at + size <= len(d), (kind, size, at)
    types.append((kind, size, at))
assert 3 in [t[0] for t in types], "no thread list"
exc = [t for t in types if t[0] == 6]
assert exc, "no exception stream"
code = struct.unpack_from("<I", d, exc[0][2] + 8)[0]
assert code == 0xC0000005, hex(code)
PY
LAUNCHER_LOG="$DIR/TarnwickLauncher.log"
grep -qF "Launcher dev starts" "$LAUNCHER_LOG" && pass "start-up line names the version" \
  || fail "no versioned start-up line in the log"
grep -qF "dump written: $first" "$LAUNCHER_LOG" && pass "log names the dump" || fail "log does not name the dump"

for n in 2 3 4; do sleep 1.1; crash_once "$n"; done
left=$(dumps)
[ "$(echo "$left" | grep -c .)" -eq 3 ] && pass "four crashes leave three dumps" || fail "dumps left: '$left'"
echo "$left" | grep -qxF "$first" && fail "the oldest dump was kept" || pass "the oldest dump was deleted"
[ "$(grep -c 'dump written: ' "$LAUNCHER_LOG")" -eq 4 ] && pass "four crashes, four log lines" \
  || fail "log lines: $(grep -c 'dump written: ' "$LAUNCHER_LOG")"

echo "crash_wine: $failures failure(s)"
[ "$failures" -eq 0 ]
