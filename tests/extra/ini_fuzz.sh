#!/bin/sh
# Fuzzes the INI engine for a minute with libFuzzer and AddressSanitizer (leaks
# included). The engine is compiled directly with clang, so the run depends on
# nothing else in the tree. Usage: ini_fuzz.sh NATIVE_BUILD WIN32_BUILD
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
native=$(mkdir -p "${1:?native build folder}" && cd "$1" && pwd)
out="$native/../fuzz/ini"
seconds="${TARNWICK_FUZZ_SECONDS:-60}"
mkdir -p "$out/corpus" "$out/artifacts"
command -v clang++ >/dev/null || { echo "ini_fuzz: clang++ not installed"; exit 1; }

clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I "$top" -o "$out/ini_read_fuzz" \
  "$top/tests/fuzz/ini_read_fuzz.cpp" "$top/platform/ini_file.cpp" "$top/platform/utf8.cpp" \
  "$top/platform/posix/text_codec_posix.cpp" "$top/platform/posix/fs_posix.cpp"

# Seeds: the default Game.ini and a few awkward forms.
printf 'Config\nWindowMode\n[Config]\r\nServerName=Kestrand\r\nScreenWidth=1024\r\nWindowMode=1\r\nSelection=\241\276Orvane\241\364Wendal\241\364Qelmar\241\277|Kestrand\r\nClassicMode=1' > "$out/corpus/default"
printf 'a\nk\n  [ a ] x\n k = "v" \n[a]\325]\r\nk\r[b]\n\n' > "$out/corpus/odd"
printf 'S\nk\n\357\273\277[S]\r\nk=\r\n;c=1\r\n' > "$out/corpus/bom"

# timeout bounds the run should libFuzzer itself hang
ASAN_OPTIONS=detect_leaks=1 timeout $((seconds + 60)) "$out/ini_read_fuzz" \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus" >"$out/log.txt" 2>&1 || {
  echo "ini_fuzz: the fuzzer found a fault (see $out/log.txt and $out/artifacts)"
  tail -40 "$out/log.txt"
  exit 1
}
grep -E '^stat::number_of_executed_units|^Done' "$out/log.txt" || true
echo "ini_fuzz: no crash or leak in ${seconds}s"
