#!/bin/sh
# Runs every test: native (plain, AddressSanitizer+UBSan, ThreadSanitizer),
# the Windows build under Wine, and the extra suites in tests/extra/.
set -eu
top=$(cd "$(dirname "$0")" && pwd)
cd "$top"
./tools/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
step() { echo; echo "=== $* ==="; }

build() {  # folder, cmake args...
  dir="$1"; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir" -j "$jobs"
}

step "native build"
build build/native -DCMAKE_BUILD_TYPE=Debug
step "native tests"
(cd build/native && ctest --output-on-failure -j 1) || status=1

step "AddressSanitizer + UBSan"
build build/asan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_ASAN=ON -DTARNWICK_UBSAN=ON
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 ctest --output-on-failure -j 1) || status=1

step "ThreadSanitizer"
build build/tsan -DCMAKE_BUILD_TYPE=Debug -DTARNWICK_TSAN=ON
(cd build/tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j 1) || status=1

step "Windows build"
build build/win32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
step "Windows tests under Wine"
(cd build/win32 && ctest --output-on-failure -j 1) || status=1

for suite in tests/extra/*.sh; do
  [ -x "$suite" ] || continue
  step "extra: $suite"
  "$suite" "$top/build/native" "$top/build/win32" || status=1
done

echo
if [ "$status" -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit "$status"
