#!/bin/sh
# Runs every test: native (plain, AddressSanitizer+UBSan, ThreadSanitizer on
# the tests whose code starts threads), the Windows build under Wine, and the
# extra suites in tests/extra/.
#
# The builds take both cores, one after another. Each build's tests mostly wait
# (on loopback servers, time-outs and Wine), so they run beside the next build,
# which is niced so that the tests keep their pace. The three native runs share
# one block of test ports and take turns; the Windows run has its own block.
# Each run's output is shown whole when it has ended.
set -eu
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
./tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
logs="$top/build/test-logs"
mkdir -p "$logs"
status=0
trap 'wait' EXIT  # a failed build still lets the running tests end and stop their servers
step() { echo; echo "=== $* === $(date +%T)"; }

build() {  # folder, cmake args...
  dir="$1"; shift
  step "build $dir"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  nice -n 10 ninja -C "$dir" -j "$jobs"
}

# start NAME FOLDER [VAR=VALUE...]: ctest in FOLDER in the background.
start() {
  name="$1"; dir="$2"; shift 2
  (cd "$dir" && env "$@" ctest --output-on-failure -j 2 >"$logs/$name.log" 2>&1) &
  eval "pid_$name=$!"
}
# join NAME: waits for that run and shows its output.
join() {
  eval "pid=\${pid_$1:-}"
  [ -n "$pid" ] || return 0
  eval "pid_$1="
  if wait "$pid"; then ok=1; else ok=0; fi
  step "$1 tests"
  cat "$logs/$1.log"
  [ "$ok" -eq 1 ] || status=1
}

build build/native -DCMAKE_BUILD_TYPE=Debug
start native build/native
build build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
start wine build/win32
build build/asan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_ASAN=ON -DTARNWICK_UBSAN=ON
join native
start asan build/asan ASAN_OPTIONS=detect_leaks=1
build build/tsan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_TSAN=ON
join asan
start tsan build/tsan TSAN_OPTIONS=halt_on_error=1

# The extra suites have their own ports, X displays and Wine prefixes, except
# the large file one, which uses both builds' test ports: it runs last.
for suite in tests/extra/*.sh; do
  [ -x "$suite" ] || continue
  [ "$suite" = tests/extra/large_file.sh ] && continue
  step "extra: $suite"
  "$suite" "$top/build/native" "$top/build/win32" || status=1
done
join wine
join tsan
if [ -x tests/extra/large_file.sh ]; then
  step "extra: tests/extra/large_file.sh"
  tests/extra/large_file.sh "$top/build/native" "$top/build/win32" || status=1
fi

echo
if [ "$status" -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit "$status"
