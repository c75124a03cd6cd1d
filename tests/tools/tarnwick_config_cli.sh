#!/bin/sh
# The operator tool end to end: exit statuses, round trip, no overwrite of input.
# Usage: tarnwick_config_cli.sh TOOL [RUNNER]
tool="$1"; runner="$2"
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
cp "$t/in.txt" "$t/keep.txt"
run encode "$t/keep.txt" "$t/keep.txt"; [ $? -eq 2 ] || fail "encode over its input must refuse with 2"
cmp -s "$t/keep.txt" "$t/in.txt" || fail "input was overwritten"
run check "$t/none.dat" 2>/dev/null; [ $? -eq 2 ] || fail "missing file must exit 2"
run bogus 2>/dev/null; [ $? -eq 2 ] || fail "bad use must exit 2"
printf 'short' > "$t/short.dat"
run check "$t/short.dat" > "$t/c2.txt"; [ $? -eq 1 ] || fail "short file must be flagged"
echo "tarnwick-config ok"
