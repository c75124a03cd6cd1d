#!/bin/bash
# The launcher's panels in the real exe under Wine on a private X server:
# version buttons switch the panel (background, start/install button), the
# settings window writes the right Game.ini, a start runs a stand-in game in
# its folder with the normal show command and sweeps the game's desktop
# shortcuts, a missing program file is reported, pictures arrive without
# holding the window, a second instance is refused with exit code 0, and the
# browser control's document mode is asked for under HKCU only.
# Usage: panels_wine.sh NATIVE_BUILD WIN32_BUILD
set -u
NATIVE_BUILD="$(cd "${1:?native build folder}" && pwd -P)"
WIN32_BUILD="$(cd "${2:?win32 build folder}" && pwd -P)"
EXE="$WIN32_BUILD/TarnwickLauncher.exe"
GAME="$WIN32_BUILD/panels_cwd_recorder.exe"
ENCODE="$NATIVE_BUILD/tarnwick-config"
for f in "$EXE" "$GAME" "$ENCODE"; do
  [ -f "$f" ] || { echo "panels_wine: $f missing (build TarnwickLauncher, panels_cwd_recorder, tarnwick-config)"; exit 1; }
done
for tool in Xvfb xdpyinfo xdotool xwininfo import convert wine python3; do
  command -v "$tool" >/dev/null || { echo "panels_wine: $tool not installed"; exit 1; }
done

DISPLAY_NO=92
export DISPLAY=":$DISPLAY_NO"
WORK="$WIN32_BUILD/panels_wine"
XVFB_PID=""
APP_PID=""
SERVER_PID=""
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -k 2>/dev/null
  [ -n "$SERVER_PID" ] && kill "$SERVER_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

. "$(dirname "$0")/../wine/xvfb.sh"
start_xvfb panels_wine

rm -rf "$WORK"
mkdir -p "$WORK/www"
TARNWICK_BUILD="$WORK"
. "$(dirname "$0")/../wine/env.sh"
LOG="$WORK/wine.log"
: > "$LOG"
C="$WINEPREFIX/drive_c"
USER_DIR=$(ls -d "$C"/users/*/ | grep -v '/Public/$' | head -n 1)
DESKTOP="${USER_DIR}Desktop"
[ -d "$DESKTOP" ] && [ ! -L "$DESKTOP" ] || { echo "panels_wine: no desktop folder of the prefix"; exit 1; }

# Pictures on a loopback server; /slow.png takes 4 s.
convert -size 192x48 xc:'#00ff00' "$WORK/www/logo.png"
convert -size 1130x690 xc:'#ff0000' "$WORK/www/one.png"
convert -size 1130x690 xc:'#0000ff' "$WORK/www/two.png"
convert -size 1130x690 xc:'#ffff00' "$WORK/www/slow.png"
python3 - "$WORK/www" "$WORK/port" <<'PY' &
import http.server, os, sys, time
root, portfile = sys.argv[1], sys.argv[2]
class H(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = os.path.join(root, os.path.basename(self.path))
        if self.path == '/slow.png': time.sleep(4)
        if not os.path.isfile(path):
            self.send_response(404); self.end_headers(); return
        data = open(path, 'rb').read()
        self.send_response(200); self.send_header('Content-Length', str(len(data))); self.end_headers()
        self.wfile.write(data)
    def log_message(self, *a): pass
s = http.server.ThreadingHTTPServer(('127.0.0.1', 0), H)
open(portfile + '.tmp', 'w').write(str(s.server_address[1])); os.rename(portfile + '.tmp', portfile)
s.serve_forever()
PY
SERVER_PID=$!
for _ in $(seq 50); do [ -f "$WORK/port" ] && break; sleep 0.1; done
PORT=$(cat "$WORK/port" 2>/dev/null)
[ -n "$PORT" ] || { echo "panels_wine: picture server did not start"; exit 1; }
U="http://127.0.0.1:$PORT"

# The launcher in its install folder (it runs in place) with our configuration.
INST="$C/Tarnwick游戏"
mkdir -p "$INST/Ravik" "$INST/Solen"
cp "$EXE" "$INST/TarnwickLauncher.exe"
cp "$GAME" "$INST/Ravik/login.exe"
cp "$GAME" "$INST/Solen/SolenGame.exe"
printf 'player' > "$DESKTOP/Tarnwick游戏.lnk"   # the launcher's own shortcut exists
cat > "$WORK/config.txt" <<CFG
主页地址编辑框=$U/home.html
LOGO素材地址编辑框=$U/logo.png
适龄提示内容编辑框=适龄提示：适合16岁以上使用
购卡充值地址编辑框=
注册账号地址编辑框=
客户服务地址编辑框=
版本一名称编辑框=Ravik 经典版
版本二名称编辑框=Solen 怀旧版
版本三名称编辑框=Tavor 新纪元
版本四名称编辑框=Nuvik 测试服
创建版本文件夹名称编辑框1=Ravik
创建版本文件夹名称编辑框2=Solen
创建版本文件夹名称编辑框3=Tavor
创建版本文件夹名称编辑框4=Nuvik
版本1公告编辑框=
版本2公告编辑框=
版本3公告编辑框=
版本4公告编辑框=
版本1背景图编辑框=$U/one.png
版本2背景图编辑框=$U/two.png
版本3背景图编辑框=$U/slow.png
版本4背景图编辑框=
版本一登录器下载exe=$U/files/game1/login.exe
版本一登录器下载dat=$U/files/game1/data.dat
版本二登录器下载exe=$U/files/SolenGame.exe
版本二登录器下载dat=$U/files/solen.dat
版本三登录器下载exe=$U/files/TavorGame.exe
版本三登录器下载dat=$U/files/tavor.dat
版本四登录器下载exe=$U/files/NuvikGame.exe
版本四登录器下载dat=$U/files/nuvik.dat
CFG
"$ENCODE" encode "$WORK/config.txt" "$INST/配置文件.dat" >/dev/null || { echo "panels_wine: cannot encode"; exit 1; }

wait_for() {  # command, seconds
  for _ in $(seq $(($2 * 5))); do eval "$1" && return 0; sleep 0.2; done
  return 1
}
geometries() { xwininfo -root -children 2>/dev/null | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+'; }
has_geometry() { geometries | grep -qx "$1"; }
click() {  # design coordinates of a window at 50,50
  xdotool mousemove $((50 + $1)) $((50 + $2)); sleep 0.15
  xdotool click 1; sleep 0.4
}
# Colour at design coordinates of the main window, as RRGGBB.
pixel() {
  import -window root -crop "1x1+$((50 + $1))+$((50 + $2))" +repage "$WORK/px.png" 2>/dev/null
  convert "$WORK/px.png" -format "%[hex:u.p{0,0}]" info: 2>/dev/null | cut -c1-6 | tr 'a-f' 'A-F'
}
background() { pixel 1250 100; }
box() { xdotool search --name "^$1\$" 2>/dev/null | head -n 1; }
press_enter() {  # window id
  xdotool windowactivate --sync "$1" >/dev/null 2>&1; xdotool key --window "$1" Return 2>/dev/null; sleep 0.5
}
ini() { python3 -c "import sys; d=open(sys.argv[1],'rb').read().decode('gbk'); print(d.replace('\r\n','|'))" "$1" 2>/dev/null; }

(cd "$INST" && exec wine 'C:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
APP_PID=$!
if ! wait_for "has_geometry 1334x687+50+50" 60; then
  fail "main window did not appear: $(geometries | tr '\n' ' ')"
  echo "panels_wine: $failures failure(s)"; exit 1
fi
pass "main window shown"

# The newest document mode for the exe's own name, per user; never machine-wide.
FC='Software\Microsoft\Internet Explorer\Main\FeatureControl\FEATURE_BROWSER_EMULATION'
got=$(wine reg query "HKCU\\$FC" /v TarnwickLauncher.exe 2>/dev/null | tr -d '\r' | grep -i 'TarnwickLauncher.exe')
case "$got" in
  *REG_DWORD*0x2af9*) pass "FEATURE_BROWSER_EMULATION 11001 under HKCU for TarnwickLauncher.exe" ;;
  *) fail "HKCU feature value: '${got}'" ;;
esac
lm=""
for root in "HKLM\\$FC" "HKLM\\Software\\Wow6432Node\\${FC#Software\\}"; do
  lm+=$(wine reg query "$root" /v TarnwickLauncher.exe 2>/dev/null | tr -d '\r' | grep -i 'TarnwickLauncher.exe')
done
[ -z "$lm" ] && pass "nothing written under HKLM" || fail "HKLM holds: $lm"

# Start-up fill: every configured version gets its folder and default Game.ini.
DEFAULT_INI='[Config]|ServerName=Kestrand|ServerID=1000|ServerIP=127.0.0.1|ServerPort=39169|ScreenWidth=1024|ScreenHeight=768|WindowMode=1|Selection=【Orvane◆Wendal◆Qelmar】|Kestrand|ClassicMode=1'
ok=1
for v in Ravik Solen Tavor Nuvik; do [ "$(ini "$INST/$v/Game.ini")" = "$DEFAULT_INI" ] || ok=0; done
[ $ok = 1 ] && pass "default Game.ini in all four folders" || fail "default Game.ini missing or different"
[ "$(stat -c %s "$INST/Ravik/Game.ini")" = 194 ] && pass "default Game.ini is 194 bytes" || fail "default Game.ini size"

wait_for '[ "$(background)" = FF0000 ]' 10 && pass "version 1 background fetched" || fail "background is $(background)"
wait_for '[ "$(pixel 100 32)" = 00FF00 ]' 10 && pass "logo fetched" || fail "logo is $(pixel 100 32)"
import -window root -crop 1334x687+50+50 +repage "$WORK/version1.png" 2>/dev/null

# Version buttons switch the panel.
click 104 222   # 版本二按钮
wait_for '[ "$(background)" = 0000FF ]' 10 && pass "version 2 button switches the background" \
  || fail "background after version 2 is $(background)"
# Version 3's picture is slow: the window answers meanwhile, and the late
# picture does not replace that of the version selected since.
click 104 326   # 版本三按钮
t0=$(date +%s%N)
click 104 222   # 版本二按钮 again, while version 3's picture is on its way
click 420 33    # 游戏设置图片按钮: the settings window opens at once
if wait_for "has_geometry 500x280+50+50" 3; then
  ms=$(( ($(date +%s%N) - t0) / 1000000 ))
  pass "window answers while a picture host is slow (settings open after ${ms} ms)"
else
  fail "settings window did not open while a picture was pending"
fi
sleep 0.8
click 50 92     # 窗口模式选择框: ticked -> cleared
click 109 152   # 分辨率组合框: the list opens
sleep 0.5
click 109 $((136 + 32 + 2 + 3 + 4 * 26 + 13))  # the fifth item, 1176×664
sleep 0.5
got=$(ini "$INST/Solen/Game.ini")
case "$got" in
  *"ScreenWidth=1176|ScreenHeight=664|WindowMode=0|"*) pass "settings wrote WindowMode and the resolution into Solen\\Game.ini" ;;
  *) fail "Solen\\Game.ini reads: $got" ;;
esac
[ "$(ini "$INST/Ravik/Game.ini")" = "$DEFAULT_INI" ] && pass "Ravik\\Game.ini untouched" || fail "Ravik\\Game.ini changed"
click 472 24    # 游戏设置窗口关闭按钮
wait_for "! has_geometry 500x280+50+50" 5 || fail "settings window did not close"
sleep 3.5       # version 3's picture has arrived by now
[ "$(background)" = 0000FF ] && pass "late picture of another version not shown" \
  || fail "background after the slow picture is $(background)"

# A missing program file.
rm -f "$INST/Solen/SolenGame.exe"
click 1131 632  # 开始游戏按钮_Solen
b=""
wait_for 'b=$(box 错误); [ -n "$b" ]' 10
if [ -n "$b" ]; then
  pass "missing program file reported (错误 box)"
  import -window root "$WORK/missing.png" 2>/dev/null
  press_enter "$b"
  wait_for '[ -z "$(box 错误)" ]' 5 || xdotool key --window "$b" space 2>/dev/null
else
  fail "no message for the missing program file"
fi
[ -f "$INST/Solen/started.txt" ] && fail "a missing program was started"

# A second instance.
(cd "$INST" && timeout 60 wine 'C:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
second=$!
b=""
wait_for 'b=$(box 提示); [ -n "$b" ]' 30
if [ -n "$b" ]; then
  pass "second instance shows its notice (提示 box)"
  press_enter "$b"
  [ -n "$(box 提示)" ] && xdotool key --window "$b" space 2>/dev/null
else
  fail "no notice from the second instance"
fi
wait "$second"; rc=$?
[ "$rc" -eq 0 ] && pass "second instance ends with 0" || fail "second instance ended with $rc"
kill -0 "$APP_PID" 2>/dev/null && has_geometry 1334x687+50+50 && pass "first instance undisturbed" \
  || fail "first instance gone"

# The close button ends the launcher.
click 1294 34   # 图片按钮Ex5
wait_for "! kill -0 $APP_PID 2>/dev/null" 15 && pass "close button ends the launcher" || fail "launcher still running"
APP_PID=""

# Again, for a start (which minimises the window: no clicks after it).
(cd "$INST" && exec wine 'C:\Tarnwick游戏\TarnwickLauncher.exe' >>"$LOG" 2>&1) &
APP_PID=$!
wait_for "has_geometry 1334x687+50+50" 60 || fail "main window did not appear again"
sleep 1
# A start: the stand-in game runs in its folder with the normal show command,
# and the game's shortcuts leave the desktop within a second.
click 104 120   # 版本一按钮
click 1131 632  # 开始游戏按钮_Ravik
if wait_for '[ -s "$INST/Ravik/started.txt" ]' 15; then
  rec=$(cat "$INST/Ravik/started.txt")
  [ "${rec%%|*}" = 'C:\Tarnwick游戏\Ravik' ] && pass "game started in its folder" || fail "game started in '${rec%%|*}'"
  [ "${rec##*|}" = 1 ] && pass "game started with the normal show command" || fail "show command ${rec##*|}"
else
  fail "the game was not started"
fi
printf 'L' > "$DESKTOP/Orvane.lnk"
printf 'L' > "$DESKTOP/Orvane[Zorlen].lnk"
printf 'L' > "$DESKTOP/My Orvane.lnk"
t0=$(date +%s%N)
wait_for '[ ! -e "$DESKTOP/Orvane.lnk" ] && [ ! -e "$DESKTOP/Orvane[Zorlen].lnk" ]' 3
ms=$(( ($(date +%s%N) - t0) / 1000000 ))
if [ ! -e "$DESKTOP/Orvane.lnk" ] && [ ! -e "$DESKTOP/Orvane[Zorlen].lnk" ] && [ "$ms" -le 1000 ]; then
  pass "game shortcuts removed from the desktop (${ms} ms)"
else
  fail "game shortcuts still there after ${ms} ms"
fi
[ -e "$DESKTOP/My Orvane.lnk" ] && pass "the player's own shortcut stays" || fail "the player's shortcut was deleted"
timeout 10 wineserver -k 2>/dev/null
APP_PID=""

echo "panels_wine: $failures failure(s)"
[ "$failures" -eq 0 ]
