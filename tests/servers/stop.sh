#!/bin/sh
# Stops the servers that start.sh started for this build folder, by their ids.
BUILD="$(cd "$1" && pwd)"
DIR="$BUILD/test-servers"
pids=""
for f in nginx.pid fault.pid; do
  if [ -f "$DIR/$f" ]; then
    p="$(cat "$DIR/$f")"
    kill "$p" 2>/dev/null && pids="$pids $p"
    rm -f "$DIR/$f"
  fi
done
# Bounded wait until they are gone, so the ports are free for the next start.
i=0
for p in $pids; do
  while [ $i -lt 50 ] && kill -0 "$p" 2>/dev/null; do sleep 0.1; i=$((i + 1)); done
done
echo "test servers stopped"
exit 0
