#!/bin/sh
# The release: TarnwickLauncher.exe and tarnwick-config.exe built for Windows,
# stripped, their debug information kept apart (linked by a GNU debuglink),
# and the operator's kit dist/tarnwick-kit-VERSION.zip. The same commit gives
# the same bytes wherever it is checked out.
# Usage: tools/release.sh [BUILD_FOLDER]   (default build/release)
set -eu
top=$(cd "$(dirname "$0")/.." && pwd -P)
cd "$top"
build=${1:-build/release}
for tool in cmake ninja zip i686-w64-mingw32-objcopy i686-w64-mingw32-g++-posix sha256sum; do
  command -v "$tool" >/dev/null || { echo "release: $tool not installed (run tools/setup.sh)"; exit 1; }
done

version=dev
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$top" ]; then
  version=$(git describe --tags --always --dirty)
fi
echo "release: version $version"
# objcopy stamps the PE header with this rather than the current time.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 0)
[ "$version" = dev ] && SOURCE_DATE_EPOCH=0
export SOURCE_DATE_EPOCH

nice -n 19 cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DTARNWICK_VERSION="$version" -DTARNWICK_TEST_HOOKS=OFF -DTARNWICK_REPRODUCIBLE=ON >/dev/null
nice -n 19 ninja -C "$build" -j2 TarnwickLauncher tarnwick-config

kit="$build/kit"
symbols="dist/tarnwick-symbols-$version"
rm -rf "$kit" "$symbols"
mkdir -p "$kit" "$symbols"
for exe in TarnwickLauncher.exe tarnwick-config.exe; do
  i686-w64-mingw32-objcopy --only-keep-debug "$build/$exe" "$symbols/$exe.debug"
  # The link names the debug file and its checksum; a debugger looks beside the exe.
  i686-w64-mingw32-objcopy --strip-all --add-gnu-debuglink="$symbols/$exe.debug" "$build/$exe" "$kit/$exe"
done

# Text for Windows: CR LF; the guide with a BOM so Notepad reads it as UTF-8.
# The example has none: an operator may save it as GBK.
sed 's/$/\r/' tools/kit/配置示例.txt > "$kit/配置示例.txt"
{ printf '\357\273\277'; sed 's/$/\r/' tools/kit/运营商说明.txt; } > "$kit/运营商说明.txt"
(cd "$kit" && LC_ALL=C sha256sum TarnwickLauncher.exe tarnwick-config.exe 配置示例.txt 运营商说明.txt > SHA256SUMS)

# Fixed times and order, no extra attributes: the zip is the same every time.
zipfile="dist/tarnwick-kit-$version.zip"
rm -f "$zipfile"
touch -d '2000-01-01 00:00:00 UTC' "$kit"/*
(cd "$kit" && TZ=UTC LC_ALL=C.UTF-8 zip -q -X -D "$top/$zipfile" \
  $(LC_ALL=C ls TarnwickLauncher.exe tarnwick-config.exe 配置示例.txt 运营商说明.txt SHA256SUMS))
echo "release: $zipfile"
echo "release: debug files in $symbols/"
