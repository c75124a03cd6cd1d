#!/bin/bash
# First start of the real launcher in a fresh Wine prefix on a private X
# server: installation from a download folder to C: (and to a fixed D:), the
# hand-over to the installed copy, the desktop shortcut, a file name with a
# space, and a second start while the first runs.
# Usage: startup_wine.sh NATIVE_BUILD WIN32_BUILD
set -u
WIN32_BUILD="$(cd "${2:?win32 build folder}" && pwd -P)"
EXE="$WIN32_BUILD/TarnwickLauncher.exe"
if [ ! -f "$EXE" ]; then
  echo "startup_wine: $EXE missing (build the TarnwickLauncher target)"; exit 1
fi
for tool in Xvfb xdpyinfo xdotool xwininfo import wine python3 i686-w64-mingw32-objdump; do
  command -v "$tool" >/dev/null || { echo "startup_wine: $tool not installed"; exit 1; }
done

# The exe carries its icon, version and manifest.
types=$(i686-w64-mingw32-objdump -p "$EXE" 2>/dev/null | sed -n '/The .rsrc Resource Directory section/,$p' \
  | grep -E '^[0-9a-f]+   Entry: ID' | grep -oE '0x[0-9a-f]+,' | tr -d ,)
for t in 0x000003 0x00000e 0x000010 0x000018; do  # icon, icon group, version, manifest
  echo "$types" | grep -qx "$t" || { echo "FAIL: resource type $t missing"; exit 1; }
done
for text in 'level="asInvoker"' PerMonitorV2 '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}' \
  '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' Microsoft.Windows.Common-Controls; do
  grep -qaF -- "$text" "$EXE" || { echo "FAIL: manifest lacks $text"; exit 1; }
done
echo "ok: icon, version and manifest resources"

DISPLAY_NO=93
export DISPLAY=":$DISPLAY_NO"
WORK="$WIN32_BUILD/startup_wine"
XVFB_PID=""
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

cleanup() {
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -k 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

. "$(dirname "$0")/../wine/xvfb.sh"
start_xvfb startup_wine

# A prefix of our own, fresh on every run: what a new player's machine holds.
rm -rf "$WORK"
mkdir -p "$WORK"
TARNWICK_BUILD="$WORK"
. "$(dirname "$0")/../wine/env.sh"
LOG="$WORK/wine.log"
: > "$LOG"

C="$WINEPREFIX/drive_c"
USER_DIR=$(ls -d "$C"/users/*/ | grep -v '/Public/$' | head -n 1)
DESKTOP="${USER_DIR}Desktop"
LINK="$DESKTOP/Tarnwick游戏.lnk"
[ -d "$DESKTOP" ] && [ ! -L "$DESKTOP" ] || { echo "startup_wine: no desktop folder in the prefix"; exit 1; }

# Waits up to $2 seconds for the command $1 to succeed.
wait_for() {
  for _ in $(seq $(($2 * 5))); do
    eval "$1" && return 0; sleep 0.2
  done
  return 1
}
main_window_shown() { xwininfo -root -children 2>/dev/null | grep -q '1334x687+50+50'; }
# Whether a process has this program file (a host path) mapped: which image
# runs, whatever its command line says.
running() { cat /proc/[0-9]*/maps 2>/dev/null | grep -qF -- "$1"; }
stop_all() { timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null; sleep 0.5; }
# Starts a program from the download folder and returns its exit code.
start_from() {  # unix folder, windows path of the program
  (cd "$1" && timeout 60 wine "$2" >>"$LOG" 2>&1)
}
# "target|working directory" of a shell link.
link_info() {
  python3 - "$1" <<'PY'
import struct, sys
d = open(sys.argv[1], 'rb').read()
flags = struct.unpack_from('<I', d, 20)[0]
pos = 76
if flags & 0x01:  # target id list
    pos += 2 + struct.unpack_from('<H', d, pos)[0]
target = ''
if flags & 0x02:  # link info
    size, header = struct.unpack_from('<II', d, pos)
    def cstr(off, wide):
        if wide:
            end = off
            while d[end:end + 2] != b'\0\0': end += 2
            return d[off:end].decode('utf-16-le')
        return d[off:d.index(b'\0', off)].decode('gbk')
    base_off, suffix_off = struct.unpack_from('<I', d, pos + 16)[0], struct.unpack_from('<I', d, pos + 24)[0]
    if header >= 0x24:
        wb, ws = struct.unpack_from('<II', d, pos + 28)
        target = cstr(pos + wb, True) + cstr(pos + ws, True)
    else:
        target = cstr(pos + base_off, False) + cstr(pos + suffix_off, False)
    pos += size
wide = bool(flags & 0x80)
strings = {}
for bit in (0x04, 0x08, 0x10, 0x20, 0x40):
    if flags & bit:
        n = struct.unpack_from('<H', d, pos)[0]; pos += 2
        raw = d[pos:pos + (2 * n if wide else n)]; pos += len(raw)
        strings[bit] = raw.decode('utf-16-le' if wide else 'gbk').rstrip('\0')
print(target + '|' + strings.get(0x10, ''))
PY
}

DL="$C/下载"
mkdir -p "$DL"
cp "$EXE" "$DL/TarnwickLauncher.exe"

# 1. First start from the download folder: copy to C:\Tarnwick游戏, hand over, end with 0.
start_from "$DL" 'C:\下载\TarnwickLauncher.exe'
rc=$?
[ "$rc" -eq 0 ] && pass "first start ends with 0" || fail "first start ended with $rc"
INST="$C/Tarnwick游戏"
cmp -s "$EXE" "$INST/TarnwickLauncher.exe" && pass "program copied to C:\\Tarnwick游戏" \
  || fail "program not copied to C:\\Tarnwick游戏"
if [ -f "$DL/配置文件.dat" ] && cmp -s "$DL/配置文件.dat" "$INST/配置文件.dat"; then
  pass "default 配置文件.dat written beside the program and copied"
else
  fail "配置文件.dat not written and copied"
fi
[ ! -e "$INST/ExuiKrnln_Win32.lib" ] && [ ! -e "$DL/ExuiKrnln_Win32.lib" ] \
  && pass "no library file written" || fail "a library file was written"
wait_for 'running "$INST/TarnwickLauncher.exe"' 15 && pass "installed copy started" \
  || fail "installed copy not running"
wait_for '[ -f "$LINK" ]' 15 && pass "desktop shortcut created" || fail "no desktop shortcut"
info=$(link_info "$LINK" 2>/dev/null)
[ "$info" = 'C:\Tarnwick游戏\TarnwickLauncher.exe|C:\Tarnwick游戏' ] \
  && pass "shortcut: target and working directory" || fail "shortcut reads '$info'"
wait_for main_window_shown 20 && pass "main window shown" || fail "main window not shown"
import -window root "$WORK/installed.png" 2>/dev/null

# 2. A second start (as through the shortcut) while the first runs.
(cd "$INST" && timeout 60 wine 'C:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
second=$!
box=""
for _ in $(seq 100); do
  box=$(xdotool search --name '^提示$' 2>/dev/null | head -n 1)
  [ -n "$box" ] && break; sleep 0.2
done
if [ -n "$box" ]; then
  pass "second start shows its notice"
  import -window root "$WORK/already_running.png" 2>/dev/null
  xdotool windowactivate --sync "$box" >/dev/null 2>&1; xdotool key --window "$box" Return 2>/dev/null; sleep 0.5
  xdotool search --name '^提示$' >/dev/null 2>&1 && xdotool key --window "$box" space  2>/dev/null
else
  fail "no notice from the second start"
fi
wait "$second"; rc=$?
[ "$rc" -eq 0 ] && pass "second start ends with 0" || fail "second start ended with $rc"
running "$INST/TarnwickLauncher.exe" && main_window_shown \
  && pass "first instance undisturbed" || fail "first instance gone"
stop_all

# 3. A file name with a space, from a folder with a space, with an older copy
#    "TarnwickLauncher.exe" beside the install target: an unquoted command line
#    would start that one. A shortcut of our name already on the desktop stays.
printf 'keep me' > "$LINK"
SP="$DL/新 文件夹"
mkdir -p "$SP"
cp "$EXE" "$SP/TarnwickLauncher (1).exe"
start_from "$SP" 'C:\下载\新 文件夹\TarnwickLauncher (1).exe'
rc=$?
[ "$rc" -eq 0 ] && pass "start as 'TarnwickLauncher (1).exe' ends with 0" || fail "space name ended with $rc"
cmp -s "$EXE" "$INST/TarnwickLauncher (1).exe" && pass "'TarnwickLauncher (1).exe' copied" \
  || fail "'TarnwickLauncher (1).exe' not copied"
wait_for 'running "$INST/TarnwickLauncher (1).exe"' 15 \
  && pass "the copy with the space in its name started" || fail "the copy with the space did not start"
wait_for main_window_shown 20 && pass "main window shown" || fail "main window not shown"
running "$INST/TarnwickLauncher.exe" && fail "the other program was started instead"
sleep 1.5
[ "$(cat "$LINK")" = "keep me" ] && pass "existing shortcut left alone" || fail "existing shortcut replaced"
stop_all

# 4. A fixed D: takes the installation.
mkdir -p "$WORK/drive_d"
ln -sfn "$WORK/drive_d" "$WINEPREFIX/dosdevices/d:"
wine reg add 'HKLM\Software\Wine\Drives' /v 'd:' /t REG_SZ /d hd /f >>"$LOG" 2>&1
timeout 20 wineserver -w 2>/dev/null
rm -f "$LINK"
start_from "$DL" 'C:\下载\TarnwickLauncher.exe'
rc=$?
[ "$rc" -eq 0 ] && pass "start with a fixed D: ends with 0" || fail "start with a fixed D: ended with $rc"
DI="$WORK/drive_d/Tarnwick游戏"
cmp -s "$EXE" "$DI/TarnwickLauncher.exe" && cmp -s "$DL/配置文件.dat" "$DI/配置文件.dat" \
  && pass "program and 配置文件.dat copied to D:\\Tarnwick游戏" || fail "nothing copied to D:\\Tarnwick游戏"
wait_for 'running "$DI/TarnwickLauncher.exe"' 15 && pass "copy on D: started" \
  || fail "copy on D: not running"
wait_for '[ -f "$LINK" ]' 15 && info=$(link_info "$LINK" 2>/dev/null) || info=""
[ "$info" = 'D:\Tarnwick游戏\TarnwickLauncher.exe|D:\Tarnwick游戏' ] \
  && pass "shortcut points at D:" || fail "shortcut reads '$info'"
wait_for main_window_shown 20 && pass "main window shown" || fail "main window not shown"
# Closing the window ends the program through its end routine, without a hang.
win=$(xdotool search --name '^Tarnwick' 2>/dev/null | head -n 1)
if [ -n "$win" ]; then
  xdotool windowactivate --sync "$win" >/dev/null 2>&1; sleep 0.3
  xdotool key --window "$win" alt+F4 2>/dev/null
fi
wait_for '! running "$DI/TarnwickLauncher.exe"' 15 && pass "closing the main window ends the program" \
  || fail "program still running after its window was closed"
stop_all

# 5. Two first starts at the same moment (a double double-click): one copy,
#    one window, no box.
rm -f "$LINK"
start_from "$DL" 'C:\下载\TarnwickLauncher.exe' & first=$!
start_from "$DL" 'C:\下载\TarnwickLauncher.exe' & again=$!
wait "$first"; ra=$?
wait "$again"; rb=$?
[ "$ra" -eq 0 ] && [ "$rb" -eq 0 ] && pass "two first starts at once both end with 0" \
  || fail "two first starts ended with $ra and $rb"
wait_for main_window_shown 20 && sleep 2
windows=$(xwininfo -root -children 2>/dev/null | grep -c '1334x687+50+50')
[ "$windows" -eq 1 ] && pass "two first starts at once: one window" || fail "two first starts: $windows windows"
boxes=$(xdotool search --name '^(错误|提示)$' 2>/dev/null | wc -l)
[ "$boxes" -eq 0 ] && pass "two first starts at once: no message box" || fail "two first starts: $boxes boxes"
cmp -s "$EXE" "$DI/TarnwickLauncher.exe" && pass "two first starts at once: the copy is whole" \
  || fail "two first starts: the copy differs"
stop_all

echo "startup_wine: $failures failure(s)"
[ "$failures" -eq 0 ]
