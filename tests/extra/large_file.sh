#!/bin/sh
# A file over 4 GiB, downloaded natively and by the Windows build under Wine,
# against the fault server: one WinHTTP response ends at 2^31-1 bytes under
# Wine, so the engine must fetch such a file in ranges below that. Checks the
# bytes at marks past 2 GiB and 4 GiB. Needs about 6 GiB free in each build
# folder at a time; skipped (exit 0) with less. The two builds use their own
# ports and folders and run at once: one is bound by the fault server, the
# other by WinHTTP under Wine.
# Usage: large_file.sh NATIVE_BUILD WIN32_BUILD
set -u
TOP="$(cd "$(dirname "$0")/../.." && pwd)"
run() {  # build folder, port base, command...; prints its failures
  build="$1"; base="$2"; shift 2
  failures=0
  free=$(df -Pk "$build" | awk 'NR == 2 { print $4 }')
  if [ "${free:-0}" -lt $((12 * 1024 * 1024)) ]; then
    echo "large_file: skipped in $build: less than 12 GiB free"
    return 0
  fi
  "$TOP/tests/servers/start.sh" "$build" "$base" >/dev/null || { echo "FAIL: servers did not start"; return 1; }
  if TARNWICK_LARGE_FILE=1 "$@" --gtest_filter='DownloadServers.FilesOverFourGiBComeWholeInRanges'; then
    echo "ok: 5 GiB in $build"
  else
    echo "FAIL: 5 GiB in $build"; failures=$((failures + 1))
  fi
  "$TOP/tests/servers/stop.sh" "$build" >/dev/null 2>&1
  return "$failures"
}
NATIVE="$(cd "${1:?native build}" && pwd)"
WIN32="$(cd "${2:?win32 build}" && pwd)"
log=$(mktemp -d); trap 'rm -rf "$log"' EXIT
run "$NATIVE" 18700 "$NATIVE/tests/tarnwick_tests" >"$log/native" 2>&1 &
native=$!
run "$WIN32" 18710 "$TOP/tests/wine/run.sh" "$WIN32" "$WIN32/tests/tarnwick_tests.exe" >"$log/win32" 2>&1 &
win32=$!
failures=0
wait "$native" || failures=$((failures + 1))
wait "$win32" || failures=$((failures + 1))
cat "$log/native" "$log/win32"
[ "$failures" -eq 0 ] && echo "large_file: all passed"
[ "$failures" -eq 0 ]
