#!/bin/sh
# The operator tool end to end: exit statuses, round trip, and no file damaged:
# not the input under any spelling, not a good output when the input cannot be
# read or converted, not a read-only output without --force.
# Usage: tarnwick_config_cli.sh TOOL [RUNNER]
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; runner="$2"
t=$(mktemp -d); trap 'rm -rf "$t"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
run() { $runner "$tool" "$@"; }

printf '主页地址编辑框=http://h/\nLOGO素材地址编辑框=x=y\n' > "$t/in.txt"
run encode "$t/in.txt" "$t/out.dat" || fail "encode"
run decode "$t/out.dat" > "$t/back.txt" || fail "decode"
tr -d '\r' < "$t/back.txt" | cmp -s - "$t/in.txt" || fail "decode does not give the text back"
# Deciphered by hand: GBK with CR LF.
python3 - "$t/out.dat" <<'PY' || fail "enciphered bytes"
import sys
key = b"R3T8V1N6H4C9L2P7"
data = open(sys.argv[1], "rb").read()
plain = bytes(b ^ key[i % 16] for i, b in enumerate(data))
assert plain == "主页地址编辑框=http://h/\r\nLOGO素材地址编辑框=x=y\r\n".encode("gbk"), plain
PY
run check "$t/out.dat" > "$t/check.txt"; [ $? -eq 1 ] || fail "check of an incomplete file must exit 1"
grep -q 'missing key' "$t/check.txt" || fail "missing keys not flagged"
# Notes ('#' lines) are not enciphered: decode gives the keys only.
{ printf '# 说明=不是键\n'; cat "$t/in.txt"; printf '  # 结尾\n'; } > "$t/noted.txt"
run encode "$t/noted.txt" "$t/noted.dat" || fail "encode with notes"
run decode "$t/noted.dat" | tr -d '\r' | cmp -s - "$t/in.txt" || fail "notes were enciphered"
v=$(run --version) || fail "--version"
echo "$v" | grep -qE '^tarnwick-config [^ ]+$' || fail "--version prints '$v'"
cp "$t/in.txt" "$t/keep.txt"
run encode "$t/keep.txt" "$t/keep.txt"; [ $? -eq 2 ] || fail "encode over its input must refuse with 2"
cmp -s "$t/keep.txt" "$t/in.txt" || fail "input was overwritten"
run check "$t/none.dat" 2>/dev/null; [ $? -eq 2 ] || fail "missing file must exit 2"
run bogus 2>/dev/null; [ $? -eq 2 ] || fail "bad use must exit 2"
printf 'short' > "$t/short.dat"
run check "$t/short.dat" > "$t/c2.txt"; [ $? -eq 1 ] || fail "short file must be flagged"

# expect STATUS WHAT -- ARGS: the tool exits with STATUS, within 20 s.
expect() {
  want="$1"; what="$2"; shift 3
  timeout 20 $runner "$tool" "$@" >"$t/out.log" 2>"$t/err.log"; got=$?
  [ "$got" -eq "$want" ] || { cat "$t/err.log"; fail "$what: exit $got, want $want"; }
}
same() { cmp -s "$1" "$2" || fail "$3"; }
cp "$t/out.dat" "$t/good.dat"
mkfifo "$t/fifo"
ln "$t/keep.txt" "$t/hard.txt"; ln -s keep.txt "$t/soft.txt"

expect 2 "FIFO as input"          -- encode "$t/fifo" "$t/out.dat"
expect 2 "decode of a FIFO"       -- decode "$t/fifo"
expect 2 "check of a FIFO"        -- check "$t/fifo"
same "$t/out.dat" "$t/good.dat" "unreadable input damaged the output"
(cd "$t" && expect 2 "input as ./name"  -- encode keep.txt ./keep.txt) || exit 1
expect 2 "input, absolute"        -- encode "$t/keep.txt" "$(cd "$t" && pwd -P)/./keep.txt"
expect 2 "input by hard link"     -- encode "$t/keep.txt" "$t/hard.txt"
expect 2 "input by symbolic link" -- encode "$t/keep.txt" "$t/soft.txt"
same "$t/keep.txt" "$t/in.txt" "input was overwritten under another spelling"
expect 2 "FIFO as output"         -- encode "$t/in.txt" "$t/fifo"

chmod 444 "$t/out.dat"
printf 'a=b\n' > "$t/other.txt"
expect 2 "read-only output"       -- encode "$t/other.txt" "$t/out.dat"
same "$t/out.dat" "$t/good.dat" "read-only output replaced without --force"
expect 0 "read-only with --force" -- encode --force "$t/other.txt" "$t/out.dat"
cmp -s "$t/out.dat" "$t/good.dat" && fail "--force did not replace the output"
grep -q -- '--force' "$t/err.log" && fail "--force taken for a file name"
cp "$t/good.dat" "$t/out.dat"; chmod 644 "$t/out.dat"

# A character with no GBK form: refused with its place, nothing written.
printf 'a=b\nk=x\360\235\204\236\n' > "$t/clef.txt"
expect 2 "non-GBK character"      -- encode "$t/clef.txt" "$t/out.dat"
grep -q 'line 2, column 4' "$t/err.log" || fail "non-GBK: no line and column in: $(cat "$t/err.log")"
same "$t/out.dat" "$t/good.dat" "non-GBK input damaged the output"
printf 'k=\341\272\236\n' > "$t/eszett.txt"
expect 2 "capital sharp s"        -- encode "$t/eszett.txt" "$t/new.dat"
[ -e "$t/new.dat" ] && fail "non-GBK input still wrote an output"

# 4 MB that cannot convert, both ways in: refused in well under 20 s.
head -c 4194304 /dev/zero | tr '\000' '\377' > "$t/junk.txt"
python3 -c 'import sys; sys.stdout.buffer.write("\U0001F600".encode() * 1048576)' > "$t/emoji.txt"
expect 2 "4 MB not GBK"           -- encode "$t/junk.txt" "$t/new.dat"
expect 2 "4 MB of emoji"          -- encode "$t/emoji.txt" "$t/new.dat"

# Unreadable for lack of access: as root, run the tool as nobody.
if [ -z "$runner" ]; then
  mkdir "$t/locked"; chmod 777 "$t" "$t/locked"
  cp "$t/in.txt" "$t/locked/in.txt"; cp "$t/good.dat" "$t/locked/out.dat"; chmod 000 "$t/locked/in.txt"
  as=""
  [ "$(id -u)" -eq 0 ] && as="setpriv --reuid=nobody --regid=nogroup --clear-groups"
  $as "$tool" encode "$t/locked/in.txt" "$t/locked/out.dat" 2>"$t/err.log"; st=$?
  [ "$st" -eq 2 ] || fail "unreadable input: exit $st, want 2"
  grep -q 'cannot read' "$t/err.log" || fail "unreadable input: no reason given"
  same "$t/locked/out.dat" "$t/good.dat" "unreadable input emptied the output"
  $as "$tool" decode "$t/locked/in.txt" >"$t/out.log" 2>/dev/null; st=$?
  [ "$st" -eq 2 ] || fail "decode of an unreadable file: exit $st, want 2"
  $as "$tool" check "$t/locked/in.txt" >"$t/out.log" 2>/dev/null; st=$?
  [ "$st" -eq 2 ] || fail "check of an unreadable file: exit $st, want 2"
  grep -q '0 bytes' "$t/out.log" && fail "check took an unreadable file for an empty one"
fi
echo "tarnwick-config ok"
