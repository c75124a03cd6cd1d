#!/bin/sh
# Fuzzes for a minute each, with libFuzzer and AddressSanitizer (leaks
# included): the INI engine, the configuration decoder, and the name and
# address checks. Each target checks properties, not only that nothing
# crashes. The sources are compiled directly with clang, so the run depends on
# nothing else in the tree. Usage: fuzz.sh NATIVE_BUILD WIN32_BUILD
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
native=$(mkdir -p "${1:?native build folder}" && cd "$1" && pwd)
seconds="${TARNWICK_FUZZ_SECONDS:-60}"
command -v clang++ >/dev/null || { echo "fuzz: clang++ not installed"; exit 1; }

# fuzz NAME SOURCES...: builds tests/fuzz/NAME.cpp with the sources, runs it
# over the seeds already in its corpus folder.
fuzz() {
  name="$1"; shift
  out="$native/../fuzz/$name"
  mkdir -p "$out/corpus" "$out/artifacts"
  srcs=""
  for s in "$@"; do srcs="$srcs $top/$s"; done
  # shellcheck disable=SC2086
  clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I "$top" -o "$out/$name" "$top/tests/fuzz/$name.cpp" $srcs
  seed_$name "$out/corpus"
  # timeout bounds the run should libFuzzer itself hang
  ASAN_OPTIONS=detect_leaks=1 timeout $((seconds + 60)) "$out/$name" \
    -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$out/artifacts/" -print_final_stats=1 "$out/corpus" >"$out/log.txt" 2>&1 || {
    echo "fuzz: $name found a fault (see $out/log.txt and $out/artifacts)"
    tail -40 "$out/log.txt"
    return 1
  }
  grep -E '^stat::number_of_executed_units|^Done' "$out/log.txt" || true
  echo "fuzz: $name: no fault or leak in ${seconds}s"
}

# Seeds: the default Game.ini and a few awkward forms.
seed_ini() {
  printf 'Config\nWindowMode\n[Config]\r\nServerName=Kestrand\r\nScreenWidth=1024\r\nWindowMode=1\r\nSelection=\241\276Orvane\241\364Wendal\241\364Qelmar\241\277|Kestrand\r\nClassicMode=1' > "$1/default"
  printf 'a\nk\n  [ a ] x\n k = "v" \n[a]\325]\r\nk\r[b]\n\n' > "$1/odd"
  printf 'S\nk\n\357\273\277[S]\r\nk=\r\n;c=1\r\n' > "$1/bom"
}
seed_ini_read_fuzz() { seed_ini "$1"; }

# Seeds: the shipped default configuration enciphered, and its plain GBK.
seed_config_decode_fuzz() {
  python3 - "$top/config/default_config.txt" "$1" <<'PY'
import sys
text = open(sys.argv[1], encoding="utf-8").read().replace("\r\n", "\n").replace("\n", "\r\n").encode("gbk")
key = b"R3T8V1N6H4C9L2P7"
open(sys.argv[2] + "/default.dat", "wb").write(bytes(b ^ key[i % 16] for i, b in enumerate(text)))
open(sys.argv[2] + "/plain.txt", "wb").write(text)
PY
}

seed_names_fuzz() {
  printf 'game3' > "$1/name"
  printf 'C:\\Tarnwick\\v1\\a.exe' > "$1/path"
  printf 'https://h.invalid/a/b.exe' > "$1/url"
  printf 'nul.txt' > "$1/device"
}

status=0
fuzz ini_read_fuzz platform/ini_file.cpp platform/utf8.cpp platform/posix/text_codec_posix.cpp \
  platform/posix/fs_posix.cpp || status=1
fuzz config_decode_fuzz config/launcher_config.cpp config/config_check.cpp platform/names.cpp \
  platform/runtime.cpp platform/utf8.cpp platform/clock.cpp platform/system_hooks.cpp platform/log.cpp platform/sha256.cpp \
  platform/posix/text_codec_posix.cpp platform/posix/fs_posix.cpp platform/posix/system_posix.cpp || status=1
fuzz names_fuzz platform/names.cpp || status=1
exit $status
