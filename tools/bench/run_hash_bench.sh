#!/bin/sh
# Hash throughput: one pass over a large file with the launcher's HashFile
# (`tarnwick-config hash`) against sha256sum on the same file, page cache
# warm, alternating, RUNS times each. Prints each run, the medians in MB/s
# and the ratio tool/sha256sum (at least 1 is the target).
# Usage: run_hash_bench.sh TOOL [SIZE_MIB] [RUNS] [FILE]
set -eu
TOOL="$1"; MIB="${2:-1024}"; RUNS="${3:-5}"; FILE="${4:-/tmp/tarnwick-hash-bench.bin}"
if [ ! -f "$FILE" ] || [ "$(stat -c %s "$FILE")" != $((MIB * 1048576)) ]; then
  head -c $((MIB * 1048576)) /dev/urandom > "$FILE"
fi
cat "$FILE" > /dev/null  # into the page cache
now() { date +%s.%N; }
tool_sha=$("$TOOL" hash "$FILE" | sed -n 's/^校验=//p')
sum_sha=$(sha256sum "$FILE" | cut -d' ' -f1)
[ "$tool_sha" = "$sum_sha" ] || { echo "digests differ: $tool_sha vs $sum_sha" >&2; exit 1; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
tool_runs=""; sum_runs=""
i=0
while [ $i -lt "$RUNS" ]; do
  a=$(now); "$TOOL" hash "$FILE" > /dev/null; b=$(now)
  sha256sum "$FILE" > /dev/null; c=$(now)
  t=$(echo "$a $b" | awk -v m="$MIB" '{printf "%.0f", m * 1.048576 / ($2 - $1)}')
  s=$(echo "$b $c" | awk -v m="$MIB" '{printf "%.0f", m * 1.048576 / ($2 - $1)}')
  echo "run $((i + 1)): tarnwick-config hash $t MB/s, sha256sum $s MB/s"
  tool_runs="$tool_runs $t"; sum_runs="$sum_runs $s"
  i=$((i + 1))
done
median() { echo "$@" | tr ' ' '\n' | grep . | sort -n | awk '{v[NR]=$1} END {print v[int((NR + 1) / 2)]}'; }
tm=$(median $tool_runs); sm=$(median $sum_runs)
echo "median: tarnwick-config hash $tm MB/s, sha256sum $sm MB/s, ratio $(echo "$tm $sm" | awk '{printf "%.2f", $1 / $2}')"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
