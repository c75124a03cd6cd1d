#!/bin/sh
# Download benchmark: 1 GiB from a local nginx, the engine against curl,
# alternating, RUNS times, with one engine run of a 128 MiB file for peak
# memory and one of the engine reading it as one stream (no ranges); then two
# files at once; then 256 MiB from a location that caps
# each connection at 8 MB/s (nginx limit_rate), the engine with its four
# connections and with one against curl, CAPPED_RUNS times (each curl run
# takes about 34 s); then, with a Windows build, the engine against a bare
# transport read loop under Wine.
# Usage: run_download_bench.sh NATIVE_BUILD [WIN32_BUILD] [RUNS]
# Prints medians of throughput (MB/s), CPU seconds and peak memory (KiB), and
# the ratios engine/curl. Uses loopback port 18708 only.
set -eu
NATIVE="$(cd "$1" && pwd)"; WIN="${2:-}"; RUNS="${3:-5}"; CAPPED_RUNS="${CAPPED_RUNS:-3}"
HERE="$(cd "$(dirname "$0")" && pwd)"
PORT=18708
DIR="$NATIVE/bench"
mkdir -p "$DIR/www" "$DIR/out" "$DIR/tmp"
if [ ! -f "$DIR/www/1g.bin" ] || [ "$(stat -c %s "$DIR/www/1g.bin")" != 1073741824 ]; then
  head -c 1073741824 /dev/urandom > "$DIR/www/1g.bin"
fi
cp "$DIR/www/1g.bin" "$DIR/www/1g-b.bin" 2>/dev/null || true
# A file an eighth the size, to show that peak memory does not follow the size.
head -c 134217728 "$DIR/www/1g.bin" > "$DIR/www/128m.bin"
head -c 268435456 "$DIR/www/1g.bin" > "$DIR/www/256m.bin"
cat > "$DIR/nginx.conf" <<CONF
worker_processes 2;
pid $DIR/nginx.pid;
error_log $DIR/error.log;
events { worker_connections 64; }
http {
  access_log off;
  client_body_temp_path $DIR/tmp/b; proxy_temp_path $DIR/tmp/p; fastcgi_temp_path $DIR/tmp/f;
  uwsgi_temp_path $DIR/tmp/u; scgi_temp_path $DIR/tmp/s;
  sendfile on;
  server {
    listen 127.0.0.1:$PORT; server_name localhost; root $DIR/www;
    # A server that caps each connection, as cheap hosting does.
    location /capped/ { limit_rate 8m; alias $DIR/www/; }
  }
}
CONF
/usr/sbin/nginx -p "$DIR" -c "$DIR/nginx.conf" -e "$DIR/error.log"
trap 'kill "$(cat "$DIR/nginx.pid")" 2>/dev/null || true' EXIT
i=0; until curl -s -o /dev/null "http://127.0.0.1:$PORT/"; do i=$((i+1)); [ $i -lt 50 ] || exit 1; sleep 0.1; done
# Warm the page cache.
cat "$DIR/www/1g.bin" "$DIR/www/1g-b.bin" > /dev/null

U1="http://127.0.0.1:$PORT/1g.bin"; U2="http://127.0.0.1:$PORT/1g-b.bin"
O1="$DIR/out/a.bin"; O2="$DIR/out/b.bin"
BENCH="$NATIVE/download_bench"
# The engine takes paths in the core's "\" form.
C1="$(echo "$O1" | tr / '\\')"; C2="$(echo "$O2" | tr / '\\')"
LOG="$DIR/results.txt"; : > "$LOG"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
measure() {  # label bytes command...
  label=$1; bytes=$2; shift 2
  /usr/bin/time -f "%e %U %S %M" -o "$DIR/time.txt" "$@" >/dev/null
  echo "$label $bytes $(cat "$DIR/time.txt")" >> "$LOG"
  rm -f "$O1" "$O2"
}
G=1073741824
r=0
while [ $r -lt "$RUNS" ]; do
  if [ $((r % 2)) -eq 0 ]; then
    measure engine1 $G "$BENCH" engine "$U1" "$C1"
    measure curl1 $G curl -s -H 'Range:bytes=0-' -o "$O1" "$U1"
  else
    measure curl1 $G curl -s -H 'Range:bytes=0-' -o "$O1" "$U1"
    measure engine1 $G "$BENCH" engine "$U1" "$C1"
  fi
  measure stream1 $G "$BENCH" stream "$U1" "$C1"
  measure engine-128m $((G / 8)) "$BENCH" engine "http://127.0.0.1:$PORT/128m.bin" "$C1"
  measure engine2 $((2 * G)) "$BENCH" engine "$U1" "$C1" "$U2" "$C2"
  measure curl2 $((2 * G)) sh -c "curl -s -H 'Range:bytes=0-' -o '$O1' '$U1' & curl -s -H 'Range:bytes=0-' -o '$O2' '$U2' & wait"
  r=$((r + 1))
done
UC="http://127.0.0.1:$PORT/capped/256m.bin"
r=0
while [ $r -lt "$CAPPED_RUNS" ]; do
  if [ $((r % 2)) -eq 0 ]; then
    measure engine-capped $((G / 4)) "$BENCH" engine "$UC" "$C1"
    measure curl-capped $((G / 4)) curl -s -H 'Range:bytes=0-' -o "$O1" "$UC"
  else
    measure curl-capped $((G / 4)) curl -s -H 'Range:bytes=0-' -o "$O1" "$UC"
    measure engine-capped $((G / 4)) "$BENCH" engine "$UC" "$C1"
  fi
  measure engine1-capped $((G / 4)) "$BENCH" engine1 "$UC" "$C1"
  r=$((r + 1))
done
if [ -n "$WIN" ]; then
  WIN="$(cd "$WIN" && pwd)"
  WO1='Z:'"$(echo "$O1" | tr / '\\')"
  r=0
  while [ $r -lt "$RUNS" ]; do
    measure wine-engine1 $G "$HERE/../../tests/wine/run.sh" "$WIN" "$WIN/download_bench.exe" engine "$U1" "$WO1"
    measure wine-loop1 $G "$HERE/../../tests/wine/run.sh" "$WIN" "$WIN/download_bench.exe" loop "$U1" "$WO1"
    r=$((r + 1))
  done
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg) (the benchmark itself keeps both cores busy)"
python3 - "$LOG" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    label, nbytes, wall, user, sys_, rss = line.split()
    rows.setdefault(label, []).append((int(nbytes) / float(wall) / 1e6, float(user) + float(sys_), int(rss)))
med = {}
for label, v in rows.items():
    gib = 1.0  # CPU per GiB below
    n = len(v)
    tp = statistics.median(x[0] for x in v); cpu = statistics.median(x[1] for x in v); rss = statistics.median(x[2] for x in v)
    med[label] = (tp, cpu, rss)
    print(f"{label:13s} runs {n}  throughput {tp:8.0f} MB/s  CPU {cpu:6.2f} s  peak RSS {rss/1024:7.1f} MiB")
def ratio(a, b, what):
    if a in med and b in med:
        print(f"{a}/{b}: throughput {med[a][0]/med[b][0]:.2f}  CPU {med[a][1]/med[b][1]:.2f}  peak memory {med[a][2]/med[b][2]:.2f}")
ratio("engine1", "curl1", "")
ratio("engine1", "stream1", "")
ratio("stream1", "curl1", "")
ratio("engine2", "curl2", "")
ratio("engine-capped", "curl-capped", "")
ratio("engine1-capped", "curl-capped", "")
if "engine-128m" in med and "engine1" in med:
    print(f"peak memory engine 128 MiB / 1 GiB: {med['engine-128m'][2]/med['engine1'][2]:.2f}")
ratio("wine-engine1", "wine-loop1", "")
PY
