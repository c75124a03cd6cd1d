#!/bin/sh
# The release kit: two clean clones of HEAD in folders of different path
# lengths build the same bytes (exes, debug files, zip); the kit holds exactly
# its five files, the launcher stays small, each stripped exe links its debug
# file, and the example configuration encodes into a file `check` passes.
# Usage: reproducible.sh NATIVE_BUILD WIN32_BUILD   (about 4 minutes on 2 cores)
set -u
top=$(cd "$(dirname "$0")/../.." && pwd -P)
native="$(cd "${1:?native build folder}" && pwd -P)"
tool="$native/tarnwick-config"
[ -x "$tool" ] || { echo "reproducible: $tool missing"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

work=$(mktemp -d /tmp/tarnwick-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
head=$(git -C "$top" rev-parse HEAD)
one="$work/a"
two="$work/a-much-longer-folder-name/b"
for dir in "$one" "$two"; do
  git clone -q --no-checkout "$top" "$dir" && git -C "$dir" checkout -q "$head" || { echo "reproducible: clone failed"; exit 1; }
  (cd "$dir" && ./tools/release.sh >"$work/$(basename "$dir").log" 2>&1) \
    || { tail -20 "$work/$(basename "$dir").log"; echo "reproducible: release build failed in $dir"; exit 1; }
done
version=$(git -C "$one" describe --tags --always --dirty)
zip="dist/tarnwick-kit-$version.zip"
files="build/release/kit/TarnwickLauncher.exe build/release/kit/tarnwick-config.exe
  dist/tarnwick-symbols-$version/TarnwickLauncher.exe.debug dist/tarnwick-symbols-$version/tarnwick-config.exe.debug $zip"
for f in $files; do
  if [ ! -f "$one/$f" ] || [ ! -f "$two/$f" ]; then fail "$f not built"; continue; fi
  a=$(sha256sum < "$one/$f"); b=$(sha256sum < "$two/$f")
  [ "$a" = "$b" ] && pass "same bytes from both clones: $f" || fail "$f differs between the clones"
done

kit="$one/build/release/kit"
size=$(stat -c %s "$kit/TarnwickLauncher.exe")
# The launcher stays a download of under 1 MiB.
[ "$size" -lt 1048576 ] && pass "release exe is $size bytes (< 1 MiB)" || fail "release exe is $size bytes"
listing=$(unzip -Z1 "$one/$zip" | LC_ALL=C sort | tr '\n' ' ')
want=$(printf '%s\n' SHA256SUMS TarnwickLauncher.exe tarnwick-config.exe 运营商说明.txt 配置示例.txt | LC_ALL=C sort | tr '\n' ' ')
[ "$listing" = "$want" ] && pass "kit holds exactly: $listing" || fail "kit holds '$listing'"
x="$work/unzipped"
mkdir "$x" && (cd "$x" && unzip -q "$one/$zip") || fail "kit does not unzip"
(cd "$x" && sha256sum -c --quiet SHA256SUMS) && [ "$(wc -l < "$x/SHA256SUMS")" -eq 4 ] \
  && pass "SHA256SUMS matches the other four files" || fail "SHA256SUMS does not match"
for exe in TarnwickLauncher.exe tarnwick-config.exe; do
  python3 - "$x/$exe" "$one/dist/tarnwick-symbols-$version/$exe.debug" <<'PY' \
    && pass "$exe is stripped and links $exe.debug" || fail "$exe: debug link"
import subprocess, sys, zlib
exe, debug = sys.argv[1], sys.argv[2]
out = subprocess.run(["i686-w64-mingw32-objdump", "-h", exe], capture_output=True, text=True).stdout
assert ".debug_info" not in out, "debug sections left in the exe"
import os, tempfile
with tempfile.TemporaryDirectory() as t:
    subprocess.run(["i686-w64-mingw32-objcopy", "--dump-section", ".gnu_debuglink=" + t + "/link", exe, t + "/copy"],
                   check=True)
    link = open(t + "/link", "rb").read()
name = link.split(b"\0", 1)[0]
crc = int.from_bytes(link[len(link) - 4:], "little")
assert name.decode() == debug.rsplit("/", 1)[1], name
assert crc == zlib.crc32(open(debug, "rb").read()), "debug file checksum"
dbg = subprocess.run(["i686-w64-mingw32-objdump", "-h", debug], capture_output=True, text=True).stdout
assert ".debug_info" in dbg, "no debug information in the debug file"
PY
done
# The version is in the exe's resource and the tool; release builds lack the test switch.
python3 - "$x/TarnwickLauncher.exe" "$version" <<'PY' && pass "version resource reads $version" || fail "version resource"
import re, sys
d = open(sys.argv[1], "rb").read()
key, value = "FileVersion\0".encode("utf-16-le"), (sys.argv[2] + "\0").encode("utf-16-le")
assert re.search(re.escape(key) + b"(\0\0)?" + re.escape(value), d)
PY
python3 -c 'import sys; sys.exit("--crash-for-test".encode("utf-16-le") not in open(sys.argv[1], "rb").read())' "$x/TarnwickLauncher.exe" && fail "release exe accepts the crash switch" \
  || pass "release exe has no test switch"
# The example, copied as an operator would, encodes into a clean configuration.
cp "$x/配置示例.txt" "$work/mine.txt"
"$tool" encode "$work/mine.txt" "$work/配置文件.dat" && "$tool" check "$work/配置文件.dat" > "$work/check.txt" \
  && [ "$(grep -c '=' "$work/check.txt")" -eq 38 ] && ! grep -q '#' "$work/check.txt" && ! grep -q '^warn:' "$work/check.txt" \
  && pass "example encodes and checks clean with all 30 keys and 8 hashes set" || { cat "$work/check.txt"; fail "example does not check clean"; }
grep -q '=$' "$work/check.txt" && fail "example leaves a key empty"

echo "reproducible: $failures failure(s)"
[ "$failures" -eq 0 ]
