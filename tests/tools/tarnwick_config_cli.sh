#!/bin/sh
# The operator tool end to end: exit statuses, round trip, and no file damaged:
# not the input under any spelling, not a good output when the input cannot be
# read or converted, not a read-only output without --force.
# With PORT_BASE, also probe against the test servers started there.
# With PLANTED (a folder with bcrypt.dll and winhttp.dll that leave NAME.loaded
# beside themselves when loaded), also that the tool never loads them.
# Usage: tarnwick_config_cli.sh TOOL [RUNNER] [PORT_BASE] [PLANTED]
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; runner="$2"; base="$3"; planted="$4"
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

# UTF-8 with a few bytes that are no text: named where they lie in UTF-8.
printf '主页地址编辑框=http://h/\nk=ab\377\376\201\060\n' > "$t/stray.txt"
expect 2 "stray bytes in UTF-8"   -- encode "$t/stray.txt" "$t/new.dat"
grep -q 'line 2, column 5: bytes that are no text' "$t/err.log" || fail "stray bytes: $(cat "$t/err.log")"

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
# The Windows build writes CR LF to a text stdout.
unix() { tr -d '\r' < "$1" > "$1.u" && mv "$1.u" "$1"; }

# hash: size and SHA-256 lines per file, the note line naming it.
printf 'abc' > "$t/abc.bin"
: > "$t/empty.bin"
run hash "$t/abc.bin" "$t/empty.bin" > "$t/hash.txt" || fail "hash"
unix "$t/hash.txt"
printf '# abc.bin\n大小=3\n校验=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n# empty.bin\n大小=0\n校验=e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855\n' \
  | cmp -s - "$t/hash.txt" || fail "hash prints: $(cat "$t/hash.txt")"
run hash "$t/abc.bin" "$t/none.bin" > "$t/hash.txt" 2>/dev/null; [ $? -eq 2 ] || fail "hash of a missing file must exit 2"
unix "$t/hash.txt"; grep -q '^大小=3$' "$t/hash.txt" || fail "hash stopped at the missing file"

# fill: GBK text with CR LF; a note and an unknown line kept byte for byte, an
# existing size replaced and the hash put after it, new keys after their
# address, a file not in DIR reported; a second run changes nothing.
mkdir "$t/files"
head -c 1048699 /dev/urandom > "$t/files/Game.exe"
printf 'dat' > "$t/files/game.pak"
exe_sha=$(sha256sum "$t/files/Game.exe" | cut -d' ' -f1)
pak_sha=$(sha256sum "$t/files/game.pak" | cut -d' ' -f1)
python3 - "$t/fill.txt" <<'PY'
import sys
text = ("# 说明：大小由 fill 填写\r\n版本一登录器下载exe=http://h/a/Game.exe\r\n"
        "版本一登录器下载exe大小=1\r\n其他=保持 原样  \r\n"
        "版本一登录器下载dat=http://h/game.pak\r\n版本二登录器下载exe=http://h/gone.exe")
open(sys.argv[1], "wb").write(text.encode("gbk"))
PY
run fill "$t/fill.txt" --from "$t/files" > "$t/fill.log"; st=$?
[ "$st" -eq 1 ] || fail "fill with a file missing from DIR: exit $st, want 1"
unix "$t/fill.log"
grep -q 'missing 版本二登录器下载exe: no file gone.exe' "$t/fill.log" || fail "fill: missing file not named: $(cat "$t/fill.log")"
python3 - "$t/fill.txt" "$exe_sha" "$pak_sha" <<'PY' || fail "fill result"
import sys
got = open(sys.argv[1], "rb").read()
want = ("# 说明：大小由 fill 填写\r\n版本一登录器下载exe=http://h/a/Game.exe\r\n"
        "版本一登录器下载exe大小=1048699\r\n版本一登录器下载exe校验=%s\r\n其他=保持 原样  \r\n"
        "版本一登录器下载dat=http://h/game.pak\r\n版本一登录器下载dat大小=3\r\n"
        "版本一登录器下载dat校验=%s\r\n版本二登录器下载exe=http://h/gone.exe" % (sys.argv[2], sys.argv[3])).encode("gbk")
assert got == want, got
PY
cp "$t/fill.txt" "$t/fill.once"
run fill "$t/fill.txt" --from "$t/files" > /dev/null
cmp -s "$t/fill.txt" "$t/fill.once" || fail "fill twice changed the file again"
run encode "$t/fill.txt" "$t/fill.dat" || fail "encode of a filled text"
run check "$t/fill.dat" > "$t/c3.txt"; unix "$t/c3.txt"
grep -q "版本一登录器下载exe大小=1048699" "$t/c3.txt" || fail "check does not list the filled size"
grep -q 'not a size\|not a SHA-256\|unknown key "版本' "$t/c3.txt" && fail "check flags what fill wrote"

# check names a malformed integrity value and exits 1.
printf '版本一登录器下载exe=http://h/a.exe\n版本一登录器下载exe校验=xyz\n' > "$t/bad.txt"
run encode "$t/bad.txt" "$t/bad.dat" || fail "encode bad.txt"
run check "$t/bad.dat" > "$t/c4.txt"; [ $? -eq 1 ] || fail "check of a malformed hash must exit 1"
unix "$t/c4.txt"
grep -q 'problem: value "xyz" of "版本一登录器下载exe校验" is not a SHA-256' "$t/c4.txt" || fail "malformed hash not named"

# A full file: every key set, the files over plain http; one with its hash.
esc=$(printf '\033'); bel=$(printf '\007'); h=127.0.0.1:9
{
  for k in 主页地址编辑框 LOGO素材地址编辑框 购卡充值地址编辑框 注册账号地址编辑框 客户服务地址编辑框; do echo "$k=https://$h/"; done
  echo "适龄提示内容编辑框=16+${esc}[2J${esc}]0;owned${bel}"  # a terminal's escapes in the operator's text
  for n in 一 二 三 四; do
    echo "版本${n}名称编辑框=v$n"; echo "版本${n}登录器下载exe=http://$h/$n.exe"; echo "版本${n}登录器下载dat=https://$h/$n.dat"
  done
  for d in 1 2 3 4; do
    echo "创建版本文件夹名称编辑框$d=f$d"; echo "版本${d}公告编辑框=https://$h/"; echo "版本${d}背景图编辑框=https://$h/a.png"
  done
  echo "版本二登录器下载exe校验=$(printf 'a%.0s' $(seq 64))"
} > "$t/full.txt"
run encode "$t/full.txt" "$t/full.dat" || fail "encode full.txt"
expect 0 "check with warnings only" -- check "$t/full.dat"
unix "$t/out.log"
[ "$(grep -c '^warn: ' "$t/out.log")" -eq 3 ] || fail "check: want 3 warnings: $(cat "$t/out.log")"
for n in 一 三 四; do
  grep -q "^warn: \"版本${n}登录器下载exe\" is fetched over plain http and \"版本${n}登录器下载exe校验\" is not set" "$t/out.log" \
    || fail "check: no warning for 版本${n}登录器下载exe"
done
# Shown escaped by check and decode, never raw.
grep -q "$esc" "$t/out.log" && fail "check printed a raw escape"
grep -qF '适龄提示内容编辑框=16+\x1b[2J\x1b]0;owned\x07' "$t/out.log" || fail "check: escapes not shown: $(grep 适龄 "$t/out.log")"
run decode "$t/full.dat" > "$t/dec.txt" || fail "decode full.dat"
grep -q "$esc" "$t/dec.txt" && fail "decode printed a raw escape"
grep -qF '适龄提示内容编辑框=16+\x1b[2J' "$t/dec.txt" || fail "decode: escapes not shown"
[ "$(grep -c . "$t/dec.txt")" -eq 31 ] || fail "decode: lines merged or split"

# --timeout: whole seconds from 1 to an hour; no overflow into a small or
# negative time.
for bad in 0 3601 4294968 99999999999 -5 5x ''; do
  expect 2 "--timeout '$bad'" -- probe --timeout "$bad" "$t/full.txt"
done

# A page address without a scheme is a warning (the launcher opens it as http://), not a failure.
src="$(dirname "$0")/../../config/default_config.txt"
sed 's|^客户服务地址编辑框=.*|客户服务地址编辑框=kefu.example.com/chat|' "$src" > "$t/bare.txt"
run encode "$t/bare.txt" "$t/bare.dat" || fail "encode bare.txt"
run check "$t/bare.dat" > "$t/c5.txt"; [ $? -eq 0 ] || fail "a page without a scheme must not fail the check"
unix "$t/c5.txt"
grep -q '^warn: "客户服务地址编辑框" is "kefu.example.com/chat" without a scheme; the launcher opens http://kefu.example.com/chat$' \
  "$t/c5.txt" || fail "a page without a scheme is not named"

if [ -n "$base" ]; then
  http="http://127.0.0.1:$base"; fault="http://127.0.0.1:$((base + 2))"
  small_sha=$(python3 -c 'import array,hashlib; print(hashlib.sha256(array.array("I",range(1250)).tobytes()).hexdigest())')
  cat > "$t/probe_good.txt" <<CFG
版本一登录器下载exe=$http/small.bin
版本一登录器下载exe大小=5000
版本一登录器下载exe校验=$small_sha
版本一登录器下载exe镜像=$fault/file?size=5000|https://localhost:$((base + 1))/small.bin
版本二登录器下载dat=$http/norange/small.bin
CFG
  # Good addresses (one without ranges: a warning only): exit 0.
  expect 0 "probe of good addresses" -- probe "$t/probe_good.txt"
  unix "$t/out.log"
  grep -q '^4 addresses, 0 failed$' "$t/out.log" || fail "probe good: $(cat "$t/out.log")"
  grep -Eq '^版本一登录器下载exe镜像\[2\] +localhost:'"$((base + 1))"' +206 +5000/5000 +yes .* ok +[0-9]+ ms +ok$' "$t/out.log" \
    || fail "probe good: no HTTPS spare row: $(cat "$t/out.log")"
  grep -Eq '^版本二登录器下载dat .* 200 +5000/- +no .* warn$' "$t/out.log" || fail "probe good: no-range row"
  # The enciphered form gives the same answer.
  run encode "$t/probe_good.txt" "$t/probe_good.dat" || fail "encode probe_good"
  expect 0 "probe of the .dat" -- probe "$t/probe_good.dat"
  unix "$t/out.log"
  grep -q '^4 addresses, 0 failed$' "$t/out.log" || fail "probe .dat: $(cat "$t/out.log")"

  # Mixed with broken ones: each row says what is wrong, exit 1, in seconds.
  cat > "$t/probe_bad.txt" <<CFG
版本一登录器下载exe=$http/small.bin
版本一登录器下载exe大小=5000
版本一登录器下载exe校验=$small_sha
版本一登录器下载exe镜像=$fault/portal|$fault/file?size=5000&flip=77|$fault/file?size=4000
版本一登录器下载dat=$fault/status/404
版本二登录器下载exe=https://localhost:$((base + 3))/small.bin
版本二登录器下载dat=$fault/stall-headers
版本三登录器下载exe=$fault/file?size=5000&type=text/html
CFG
  start=$(date +%s)
  expect 1 "probe of broken addresses" -- probe --timeout 2 "$t/probe_bad.txt"
  unix "$t/out.log"
  [ $(( $(date +%s) - start )) -le 8 ] || fail "probe took more than 8 s: the time-outs do not run in parallel"
  row() { grep -E "^$1 " "$t/out.log" | grep -Eq "$2" || fail "probe row $1: want /$2/ in: $(cat "$t/out.log")"; }
  row '版本一登录器下载exe' ' 206 +5000/5000 +yes .* ok$'
  row '版本一登录器下载exe镜像\[1\]' ' 200 +[0-9]+/5000 +no +text/html.* FAIL$'
  row '版本一登录器下载exe镜像\[2\]' ' 206 +5000/5000 +yes .* ok$'
  row '版本一登录器下载exe镜像\[3\]' ' 206 +4000/5000 .* FAIL$'
  row '版本一登录器下载dat' ' 404 .* FAIL$'
  row '版本二登录器下载exe' 'localhost:'"$((base + 3))"' +- .* FAIL$'
  row '版本二登录器下载dat' ' [0-9]+ ms +FAIL$'
  row '版本三登录器下载exe' ' 206 .* text/html .* FAIL$'
  grep -q '^FAIL 版本一登录器下载exe镜像\[1\] .*an HTML page' "$t/out.log" || fail "portal not flagged"
  grep -q '^FAIL 版本二登录器下载exe .*TLS' "$t/out.log" || fail "self-signed certificate not a TLS problem"
  grep -q '^FAIL 版本一登录器下载exe镜像\[3\] .*size announced 4000, configured 5000' "$t/out.log" || fail "size"
  grep -q '^8 addresses, 6 failed$' "$t/out.log" || fail "probe bad count: $(tail -1 "$t/out.log")"
  # --full: the one wrong byte is found by its hash.
  expect 1 "probe --full" -- probe --full --timeout 2 "$t/probe_bad.txt"
  unix "$t/out.log"
  row '版本一登录器下载exe' ' 5000 got/5000 .* match +ok$'
  row '版本一登录器下载exe镜像\[2\]' ' DIFFERS +FAIL$'
  grep -q "^FAIL 版本一登录器下载exe镜像\[2\] .*SHA-256 [0-9a-f]* differs from the configured $small_sha" "$t/out.log" \
    || fail "--full: wrong byte not caught: $(cat "$t/out.log")"
  printf '主页地址编辑框=http://h/\n' > "$t/noaddr.txt"
  expect 1 "probe without addresses" -- probe "$t/noaddr.txt"
  unix "$t/out.log"

  # A server's text reaches the terminal escaped; a body that trickles in
  # without ever stalling is cut off at 10 time-outs.
  cat > "$t/probe_hostile.txt" <<CFG
版本一登录器下载exe=$fault/file?size=5000&type=%1B%5B2J%1B%5B31mEVIL
版本二登录器下载exe=$fault/file?size=40000000&slow=all&slowrate=65536
CFG
  expect 0 "probe of escape sequences" -- probe "$t/probe_hostile.txt"
  unix "$t/out.log"
  grep -q "$esc" "$t/out.log" && fail "probe printed a raw escape"
  row '版本一登录器下载exe' ' 206 .*\\x1b\[2J\\x1b\[31mEVIL .* ok$'
  start=$(date +%s)
  expect 1 "probe --full of a trickle" -- probe --full --timeout 1 "$t/probe_hostile.txt"
  unix "$t/out.log"
  [ $(( $(date +%s) - start )) -le 16 ] || fail "probe --full of a trickle took $(( $(date +%s) - start )) s"
  grep -q '^FAIL 版本二登录器下载exe .*timed out after [0-9]* bytes' "$t/out.log" || fail "trickle: $(cat "$t/out.log")"
fi

# hash and probe load bcrypt and winhttp: a DLL of that name in the folder the
# tool was downloaded to must not be loaded.
if [ -n "$planted" ]; then
  mkdir "$t/dl"
  cp "$tool" "$planted/bcrypt.dll" "$planted/winhttp.dll" "$t/dl/"
  dltool="$t/dl/$(basename "$tool")"
  printf '版本一登录器下载exe=%s/small.bin\n' "http://127.0.0.1:$base" > "$t/dl/p.txt"
  # Wine would take its own bcrypt and winhttp whatever the search finds;
  # preferring native ones, it loads the first the search finds, as Windows does.
  export TARNWICK_DLL_OVERRIDES="bcrypt,winhttp=n,b"
  (cd "$t/dl" && timeout 20 $runner "$dltool" hash p.txt) > "$t/out.log" 2>&1 || fail "hash beside planted DLLs: $(cat "$t/out.log")"
  grep -q '^校验=[0-9a-f]\{64\}' "$t/out.log" || fail "hash beside planted DLLs: $(cat "$t/out.log")"
  (cd "$t/dl" && timeout 20 $runner "$dltool" probe --full p.txt) > "$t/out.log" 2>&1 || fail "probe beside planted DLLs: $(cat "$t/out.log")"
  unset TARNWICK_DLL_OVERRIDES
  grep -q '^1 addresses, 0 failed' "$t/out.log" || fail "probe beside planted DLLs: $(cat "$t/out.log")"
  loaded=$(ls "$t/dl" | grep '\.loaded$')
  [ -z "$loaded" ] || fail "the tool loaded the planted DLL(s): $loaded"
fi
echo "tarnwick-config ok"
