#!/bin/sh
# Download benchmark: the engine as the product runs it against the tools
# players compare it with, curl and aria2c (-x4 -s4 -k1M), side by side, each
# case in alternating order, medians of the runs.
#  open loopback: 1 GiB (engine, curl, aria2, the engine as one stream, the
#    engine on 128 MiB for peak memory); two 1 GiB files at once, the engine
#    as the install job runs them (one shared connection budget);
#  per-connection cap: 256 MiB from a location where nginx sends each
#    connection at most 8 MB/s (limit_rate 8m), plus the engine held to one
#    connection;
#  a player's line: two 256 MiB files over a loopback shaped with tbf to
#    LINE_RATE (400 Mbit/s) in a private network namespace (unshare -n),
#    without and with the per-connection cap;
#  with a Windows build: the engine against a bare WinHTTP read loop under Wine.
# Usage: run_download_bench.sh NATIVE_BUILD [WIN32_BUILD] [RUNS]
#   RUNS (default 5) open rounds; CAPPED_RUNS (3) capped rounds, LINE_RUNS (3)
#   rounds on the line, RUN_LIMIT (150) seconds at most for one download.
# Prints the load before and after every part, medians of throughput (MB/s),
# CPU seconds and peak memory (KiB), and the ratios to curl, aria2 and the
# line. Installs its peers with tools/setup.sh --bench. Loopback ports 18860
# and (inside the namespace) 18861 only.
set -eu
HERE="$(cd "$(dirname "$0")" && pwd)"
RUN_LIMIT="${RUN_LIMIT:-150}"
LINE_RATE_MBIT="${LINE_RATE_MBIT:-400}"

# Writes one line per download into $LOG: label bytes wall user sys rss.
measure() {  # label bytes command...
  label=$1; bytes=$2; shift 2
  rm -f "$O1" "$O2" "$O1.aria2" "$O2.aria2"
  if ! timeout -k 5 "$RUN_LIMIT" /usr/bin/time -f "%e %U %S %M" -o "$DIR/time.txt" "$@" >"$DIR/run.txt" 2>&1; then
    cat "$DIR/run.txt"; echo "bench: $label failed or took over ${RUN_LIMIT}s: $*"; exit 1
  fi
  got=0
  for f in "$O1" "$O2"; do [ -f "$f" ] && got=$((got + $(stat -c %s "$f"))); done
  [ "$got" -eq "$bytes" ] || { echo "bench: $label wrote $got bytes, not $bytes"; exit 1; }
  echo "$label $bytes $(cat "$DIR/time.txt")" >> "$LOG"
  rm -f "$O1" "$O2"
}
load() { echo "load $1: $(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$DIR/load.txt"; }

start_nginx() {  # port
  cat > "$DIR/nginx-$1.conf" <<CONF
worker_processes 2;
pid $DIR/nginx-$1.pid;
error_log $DIR/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $DIR/tmp/b; proxy_temp_path $DIR/tmp/p; fastcgi_temp_path $DIR/tmp/f;
  uwsgi_temp_path $DIR/tmp/u; scgi_temp_path $DIR/tmp/s;
  sendfile on;
  server {
    listen 127.0.0.1:$1; server_name localhost; root $DIR/www;
    # A server that caps each connection, as cheap hosting does.
    location /capped/ { limit_rate 8m; alias $DIR/www/; }
  }
}
CONF
  /usr/sbin/nginx -p "$DIR" -c "$DIR/nginx-$1.conf" -e "$DIR/error.log"
  i=0; until curl -s -o /dev/null "http://127.0.0.1:$1/"; do i=$((i+1)); [ $i -lt 50 ] || exit 1; sleep 0.1; done
}

# One peer's download of one file (u2 empty) or two at once.
peer() {  # who label bytes u1 u2
  who=$1; label=$2; bytes=$3; u1=$4; u2=$5
  case $who$u2 in
    engine) measure "engine-$label" "$bytes" "$BENCH" engine "$u1" "$C1" ;;
    engine*) measure "engine-$label" "$bytes" "$BENCH" engine "$u1" "$C1" "$u2" "$C2" ;;
    curl) measure "curl-$label" "$bytes" curl -s -H 'Range:bytes=0-' -o "$O1" "$u1" ;;
    curl*) measure "curl-$label" "$bytes" sh -c \
      'curl -s -H Range:bytes=0- -o "$1" "$2" & curl -s -H Range:bytes=0- -o "$3" "$4" & wait' - "$O1" "$u1" "$O2" "$u2" ;;
    aria2) measure "aria2-$label" "$bytes" $ARIA2 -d "$DIR/out" -o a.bin "$u1" ;;
    aria2*) printf '%s\n  out=a.bin\n%s\n  out=b.bin\n' "$u1" "$u2" > "$DIR/aria2.in"
      measure "aria2-$label" "$bytes" $ARIA2 -d "$DIR/out" -i "$DIR/aria2.in" ;;
  esac
}
# The engine, curl and aria2 in turn, each round starting with the next.
three() {  # round label bytes url1 [url2]
  k=0
  while [ $k -lt 3 ]; do
    case $(( ($1 + k) % 3 )) in
      0) peer engine "$2" "$3" "$4" "${5:-}" ;;
      1) peer curl "$2" "$3" "$4" "${5:-}" ;;
      2) peer aria2 "$2" "$3" "$4" "${5:-}" ;;
    esac
    k=$((k + 1))
  done
}

setup_files() {
  mkdir -p "$DIR/www" "$DIR/out" "$DIR/tmp"
  if [ ! -f "$DIR/www/1g.bin" ] || [ "$(stat -c %s "$DIR/www/1g.bin")" != 1073741824 ]; then
    head -c 1073741824 /dev/urandom > "$DIR/www/1g.bin"
  fi
  [ "$(stat -c %s "$DIR/www/1g-b.bin" 2>/dev/null)" = 1073741824 ] || cp "$DIR/www/1g.bin" "$DIR/www/1g-b.bin"
  # A file an eighth the size, to show that peak memory does not follow the size.
  [ "$(stat -c %s "$DIR/www/128m.bin" 2>/dev/null)" = 134217728 ] || head -c 134217728 "$DIR/www/1g.bin" > "$DIR/www/128m.bin"
  [ "$(stat -c %s "$DIR/www/256m.bin" 2>/dev/null)" = 268435456 ] || head -c 268435456 "$DIR/www/1g.bin" > "$DIR/www/256m.bin"
  [ "$(stat -c %s "$DIR/www/256m-b.bin" 2>/dev/null)" = 268435456 ] || tail -c 268435456 "$DIR/www/1g.bin" > "$DIR/www/256m-b.bin"
  # Warm the page cache.
  cat "$DIR/www/"*.bin > /dev/null
}

common() {  # native build folder
  NATIVE="$(cd "$1" && pwd)"
  DIR="$NATIVE/bench"
  BENCH="$NATIVE/download_bench"
  O1="$DIR/out/a.bin"; O2="$DIR/out/b.bin"
  # The engine takes paths in the core's "\" form.
  C1="$(echo "$O1" | tr / '\\')"; C2="$(echo "$O2" | tr / '\\')"
  LOG="$DIR/results.txt"
  ARIA2="aria2c -x4 -s4 -k1M --file-allocation=falloc -q --allow-overwrite=true --auto-file-renaming=false"
}

# The line, in a private network namespace of its own (this script again,
# under unshare -n): its lo is shaped, the machine's is not.
if [ "${1:-}" = --line ]; then
  common "$2"; LINE_RUNS=$3
  ip link set lo up
  # Burst of 512 KiB: above the 64 KiB loopback packets, small against a second of the line.
  tc qdisc add dev lo root tbf rate "${LINE_RATE_MBIT}mbit" burst 512kb latency 100ms
  tc qdisc show dev lo >> "$DIR/load.txt"
  start_nginx 18861
  trap 'kill "$(cat "$DIR/nginx-18861.pid")" 2>/dev/null || true' EXIT
  Q=268435456
  r=0
  while [ $r -lt "$LINE_RUNS" ]; do
    three $r line $((2 * Q)) "http://127.0.0.1:18861/256m.bin" "http://127.0.0.1:18861/256m-b.bin"
    r=$((r + 1))
  done
  load "after the open line"
  r=0
  while [ $r -lt "$LINE_RUNS" ]; do
    three $r line-capped $((2 * Q)) "http://127.0.0.1:18861/capped/256m.bin" "http://127.0.0.1:18861/capped/256m-b.bin"
    r=$((r + 1))
  done
  exit 0
fi

WIN="${2:-}"; RUNS="${3:-5}"; CAPPED_RUNS="${CAPPED_RUNS:-3}"; LINE_RUNS="${LINE_RUNS:-3}"
common "$1"
# The peers are part of the comparison: install them rather than skip one.
"$HERE/../setup.sh" --bench
for tool in aria2c curl /usr/sbin/nginx /usr/bin/time tc unshare "$BENCH"; do
  command -v "$tool" >/dev/null || { echo "bench: $tool missing"; exit 1; }
done
setup_files
: > "$LOG"; : > "$DIR/load.txt"
start_nginx 18860
trap 'kill "$(cat "$DIR/nginx-18860.pid")" 2>/dev/null || true' EXIT
load "before"
echo "aria2: $ARIA2" >> "$DIR/load.txt"

G=1073741824
P="http://127.0.0.1:18860"
r=0
while [ $r -lt "$RUNS" ]; do
  three $r 1g $G "$P/1g.bin"
  measure stream-1g $G "$BENCH" stream "$P/1g.bin" "$C1"
  measure engine-128m $((G / 8)) "$BENCH" engine "$P/128m.bin" "$C1"
  three $r 2x1g $((2 * G)) "$P/1g.bin" "$P/1g-b.bin"
  r=$((r + 1))
done
load "after the open loopback"
r=0
while [ $r -lt "$CAPPED_RUNS" ]; do
  three $r capped $((G / 4)) "$P/capped/256m.bin"
  measure engine1-capped $((G / 4)) "$BENCH" engine1 "$P/capped/256m.bin" "$C1"
  r=$((r + 1))
done
load "after the capped server"
timeout -k 10 $(( (RUN_LIMIT + 10) * 6 * LINE_RUNS + 60 )) unshare -n sh "$0" --line "$NATIVE" "$LINE_RUNS"
load "after the line"
if [ -n "$WIN" ]; then
  WIN="$(cd "$WIN" && pwd)"
  WO1='Z:'"$C1"
  r=0
  while [ $r -lt "$RUNS" ]; do
    measure wine-engine-1g $G "$HERE/../../tests/wine/run.sh" "$WIN" "$WIN/download_bench.exe" engine "$P/1g.bin" "$WO1"
    measure wine-loop-1g $G "$HERE/../../tests/wine/run.sh" "$WIN" "$WIN/download_bench.exe" loop "$P/1g.bin" "$WO1"
    r=$((r + 1))
  done
  load "after Wine"
fi
echo "(the benchmark itself keeps both cores busy: the load after a part includes it)"
python3 - "$LOG" "$LINE_RATE_MBIT" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    label, nbytes, wall, user, sys_, rss = line.split()
    rows.setdefault(label, []).append((int(nbytes) / float(wall) / 1e6, float(user) + float(sys_), int(rss)))
line_rate = float(sys.argv[2]) * 1e6 / 8 / 1e6  # MB/s
med = {}
print(f"{'run':22s} runs  MB/s (each run)                    median  CPU s  peak RSS")
for label, v in rows.items():
    tp = statistics.median(x[0] for x in v); cpu = statistics.median(x[1] for x in v)
    rss = statistics.median(x[2] for x in v)
    med[label] = (tp, cpu, rss)
    each = " ".join(f"{x[0]:.0f}" for x in v)
    print(f"{label:22s} {len(v):4d}  {each:34s} {tp:7.1f} {cpu:6.2f} {rss / 1024:7.1f} MiB")
def ratio(a, b):
    if a in med and b in med:
        print(f"{a}/{b}: throughput {med[a][0] / med[b][0]:.2f}  CPU {med[a][1] / med[b][1]:.2f}"
              f"  peak memory {med[a][2] / med[b][2]:.2f}")
for case in ("1g", "2x1g", "capped", "line", "line-capped"):
    ratio(f"engine-{case}", f"curl-{case}")
    ratio(f"engine-{case}", f"aria2-{case}")
    ratio(f"aria2-{case}", f"curl-{case}")
ratio("engine-1g", "stream-1g")
ratio("engine1-capped", "curl-capped")
for case in ("line", "line-capped"):
    for who in ("engine", "curl", "aria2"):
        if f"{who}-{case}" in med:
            print(f"{who}-{case} / the line ({line_rate:.0f} MB/s): {med[f'{who}-{case}'][0] / line_rate:.3f}")
if "engine-128m" in med and "engine-1g" in med:
    print(f"peak memory engine 128 MiB / 1 GiB: {med['engine-128m'][2] / med['engine-1g'][2]:.2f}")
ratio("wine-engine-1g", "wine-loop-1g")
PY
cat "$DIR/load.txt"
