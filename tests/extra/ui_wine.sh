#!/bin/bash
# The skinned windows under Wine on a private X server: placement and size,
# clicks reaching their handlers, the secondary windows opening and closing,
# pictures decoded from bytes, and screenshots of the three windows.
# Usage: ui_wine.sh NATIVE_BUILD WIN32_BUILD
set -u
WIN32_BUILD="$(cd "${2:?win32 build folder}" && pwd)"
EXE="$WIN32_BUILD/ui_preview.exe"
if [ ! -f "$EXE" ]; then
  echo "ui_wine: $EXE missing (build the ui_preview target)"; exit 1
fi
for tool in Xvfb xdotool xwininfo import convert wine; do
  command -v "$tool" >/dev/null || { echo "ui_wine: $tool not installed"; exit 1; }
done

DISPLAY_NO=91
export DISPLAY=":$DISPLAY_NO"
SHOTS="$WIN32_BUILD/screenshots"
WORK="$WIN32_BUILD/ui_wine"
mkdir -p "$SHOTS" "$WORK"
LOG="$WORK/events.log"
: > "$LOG"
failures=0
XVFB_PID=""
APP_PID=""

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }

cleanup() {
  [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null
  [ -n "${WINEPREFIX:-}" ] && timeout 10 wineserver -k 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

# Our own X server; refuse to share one another run left behind.
. "$(dirname "$0")/../wine/xvfb.sh"
start_xvfb ui_wine

# A prefix of its own: the build's prefix belongs to ctest's tests, which may run meanwhile.
TARNWICK_BUILD="$WORK"
. "$(dirname "$0")/../wine/env.sh"

# Geometry "WxH+X+Y" of top-level windows, one a line.
geometries() { xwininfo -root -children 2>/dev/null | grep -oE '[0-9]+x[0-9]+\+-?[0-9]+\+-?[0-9]+' ; }
wait_geometry() {  # pattern, seconds
  for _ in $(seq $(($2 * 5))); do
    geometries | grep -qx "$1" && return 0; sleep 0.2
  done
  return 1
}
wait_no_geometry() {
  for _ in $(seq $(($2 * 5))); do
    geometries | grep -q "^$1\$" || return 0; sleep 0.2
  done
  return 1
}
wait_log() {  # fixed text, seconds
  for _ in $(seq $(($2 * 5))); do
    grep -qF -- "$1" "$LOG" && return 0; sleep 0.2
  done
  return 1
}
# Clicks at design coordinates of a window at 50,50.
click() {
  xdotool mousemove $((50 + $1)) $((50 + $2)); sleep 0.15
  xdotool click 1; sleep 0.4
}
shot() {  # name, geometry
  import -window root -crop "$2" +repage "$SHOTS/$1.png" 2>/dev/null || fail "screenshot $1"
}

# Pictures in four formats for the picture boxes, and bytes that are no picture.
convert -size 352x40 xc:'#ff00ff' "$WORK/panel.png"
convert -size 192x48 xc:'#00ff00' "$WORK/logo.bmp"
convert -size 88x20 xc:'#0000ff' "$WORK/deco.gif"
convert -size 208x4 xc:'#ffff00' -quality 95 "$WORK/sep.jpg"
printf 'this is not a picture at all' > "$WORK/junk.png"

echo "== pictures"
W="Z:${WORK//\//\\}\\"  # the preview works in its own folder: absolute Windows paths
( cd "$WORK" && exec wine "$EXE" "$LOG" --picture 图片框Ex1 "${W}panel.png" --picture LOGO图片框 "${W}logo.bmp" \
    --picture 图片框Ex7 "${W}deco.gif" --picture 图片框Ex4 "${W}sep.jpg" --picture 图片框Ex2 "${W}junk.png" ) >/dev/null 2>&1 &
APP_PID=$!
if wait_geometry '1334x687+50+50' 60 && wait_log 'main created' 10; then
  sleep 1.5
  shot pictures 1334x687+50+50
  pixel() { convert "$SHOTS/pictures.png" -format "%[hex:u.p{$1,$2}]" info: 2>/dev/null | cut -c1-6; }
  near() {  # hex, hex: each channel within 24
    local a=$1 b=$2 i
    for i in 0 2 4; do
      local d=$(( 16#${a:$i:2} - 16#${b:$i:2} ))
      [ ${d#-} -le 24 ] || return 1
    done
  }
  for probe in "PNG 1120 549 FF00FF" "BMP 100 32 00FF00" "GIF 190 90 0000FF" "JPEG 100 170 FFFF00"; do
    set -- $probe
    got=$(pixel "$2" "$3")
    near "$got" "$4" && pass "$1 picture decoded" || fail "$1 picture not shown at $2,$3 (got $got)"
  done
  # The banner's junk bytes keep the artwork: not the frame colour, not black.
  got=$(pixel 746 95)
  [ -n "$got" ] && [ "$got" != "000000" ] && pass "undecodable bytes keep the banner" || fail "banner lost ($got)"
  # Minimise: the window leaves the screen.
  click 1242 32   # 图片按钮Ex4
  wait_log 'main 图片按钮Ex4 clicked' 5 && pass "minimise click" || fail "minimise click"
  # Without a window manager on this X server nothing iconifies: the event is the check.
else
  fail "main window did not appear for the picture run"
fi
kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""
timeout 10 wineserver -k 2>/dev/null
: > "$LOG"

echo "== main window"
( cd "$WORK" && exec wine "$EXE" "$LOG" ) >/dev/null 2>&1 &
APP_PID=$!
if wait_geometry '1334x687+50+50' 60; then pass "main window at 50,50 sized 1334x687"
else fail "main window not at 1334x687+50+50: $(geometries | tr '\n' ' ')"; fi
wait_log 'main created' 10 || fail "created event"
wait_log 'posted ran' 10 && pass "closure posted from another thread ran" || fail "posted closure"
wait_log 'main 时钟1 timer' 10 && pass "timer ticks" || fail "timer"
sleep 1
# Hover the start button for its hover look in the screenshot.
xdotool mousemove $((50 + 1131)) $((50 + 632)); sleep 0.6
shot main 1334x687+50+50

click 290 33    # 网站主页图片按钮
wait_log 'main 网站主页图片按钮 clicked' 5 && pass "link button click" || fail "link button click"
click 104 222   # 版本二按钮 (not installed: install button)
wait_log 'main 版本二按钮 clicked' 5 && pass "version button click" || fail "version button click"
click 1131 632  # 安装游戏按钮_Solen
wait_log 'main 安装游戏按钮_Solen clicked' 5 && pass "install button click" || fail "install button click"
sleep 0.5
shot main-installing 1334x687+50+50
click 104 120   # 版本一按钮
click 1131 632  # 开始游戏按钮_Ravik
wait_log 'main 开始游戏按钮_Ravik clicked' 5 && pass "start button click" || fail "start button click"
# A click on a label or picture is the background: no event.
click 500 640
[ "$(grep -c 'clicked' "$LOG")" -eq 5 ] && pass "background clicks raise nothing" || fail "unexpected events: $(cat "$LOG")"

echo "== settings window"
click 420 33    # 游戏设置图片按钮
if wait_geometry '500x280+50+50' 10; then pass "settings window at 50,50 sized 500x280"
else fail "settings window did not open: $(geometries | tr '\n' ' ')"; fi
sleep 0.8
click 50 92     # 窗口模式选择框
wait_log 'settings 窗口模式选择框 tick 1' 5 && pass "check box ticks" || fail "check box"
click 109 152   # 分辨率组合框: the list opens
sleep 0.5
shot settings-list 500x520+50+50
click 109 $((136 + 32 + 2 + 3 + 4 * 26 + 13))  # the fifth item
wait_log 'settings 分辨率组合框 selected 4' 5 && pass "combo box item by mouse" || fail "combo box mouse"
xdotool key Down; sleep 0.4
wait_log 'settings 分辨率组合框 selected 5' 5 && pass "combo box item by keyboard" || fail "combo box keyboard"
xdotool mousemove 1 1; sleep 0.5
shot settings 500x280+50+50
click 472 24    # 游戏设置窗口关闭按钮
wait_no_geometry '500x280+50+50' 10 && pass "settings window closes" || fail "settings window still open"

echo "== prompt window"
click 104 429   # 版本四按钮: no name, the modal prompt
if wait_geometry '354x180+50+50' 10; then pass "prompt window at 50,50 sized 354x180"
else fail "prompt window did not open: $(geometries | tr '\n' ' ')"; fi
sleep 0.8
click 290 33    # the main window is disabled meanwhile
xdotool mousemove 1 1; sleep 0.4
shot prompt 354x180+50+50
[ "$(grep -c '网站主页图片按钮 clicked' "$LOG")" -eq 1 ] && pass "main window disabled under the modal prompt" \
  || fail "main window took a click under the modal prompt"
click 337 16    # 提示窗口关闭按钮
wait_no_geometry '354x180+50+50' 10 && pass "prompt window closes" || fail "prompt window still open"
click 290 33
[ "$(grep -c '网站主页图片按钮 clicked' "$LOG")" -eq 2 ] && pass "main window usable again" || fail "main window still disabled"

echo "== drag and close"
xdotool mousemove $((50 + 700)) $((50 + 570)); sleep 0.2
xdotool mousedown 1; sleep 0.2
xdotool mousemove $((50 + 740)) $((50 + 590)); sleep 0.2
xdotool mousemove $((50 + 760)) $((50 + 600)); sleep 0.3
xdotool mouseup 1; sleep 0.6
if wait_geometry '1334x687+110+80' 5; then pass "dragged by the background"
else fail "drag: $(geometries | tr '\n' ' ')"; fi
xdotool mousemove $((110 + 1294)) $((80 + 34)); sleep 0.2; xdotool click 1  # 图片按钮Ex5
wait_log 'exit' 10 && pass "close button ends the program" || fail "program did not end"
for _ in $(seq 50); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.2; done
kill -0 "$APP_PID" 2>/dev/null && fail "process still running"
APP_PID=""

echo "== announcement link without a browser"
# No browser engine here: the panel shows the address as a link. A click
# opens web addresses only; a path, file: or UNC address, or another
# program's scheme, never reaches the shell. The hover look shows the
# pointer is on the link before each click.
link_look() { import -window root -crop 300x24+306+343 +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1; }
for row in 'https://www.example.com/notice/index.html|opened' 'C:\windows\win.ini|refused' \
    'file:///C:/windows/win.ini|refused' '\\server\share\notice.html|refused' \
    'search-ms://query=x|refused'; do
  addr="${row%|*}"; want="${row##*|}"
  : > "$LOG"
  ( cd "$WORK" && exec wine "$EXE" "$LOG" --address "$addr" --log-shell ) >/dev/null 2>&1 &
  APP_PID=$!
  if wait_geometry '1334x687+50+50' 60 && wait_log 'main created' 10; then
    sleep 1
    xdotool mousemove 1 1; sleep 0.4
    away=$(link_look)
    xdotool mousemove $((50 + 262)) $((50 + 305)); sleep 0.6
    [ "$(link_look)" != "$away" ] || fail "$addr: no link under the pointer"
    xdotool click 1; sleep 1
    if [ "$want" = opened ]; then
      wait_log "shell open $addr" 5 && pass "link click opens $addr" || fail "link click did not open $addr"
    else
      grep -q '^shell open' "$LOG" && fail "link click handed $addr to the shell" || pass "link click refuses $addr"
    fi
  else
    fail "main window did not appear for $addr"
  fi
  kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""
  timeout 10 wineserver -k 2>/dev/null
done
: > "$LOG"

echo "== offline view"
# The page failed: the panel shows "公告暂时无法显示", the address as a link
# (opened in the browser) and a retry link (loads the page again).
: > "$LOG"
( cd "$WORK" && exec wine "$EXE" "$LOG" --offline --log-shell ) >/dev/null 2>&1 &
APP_PID=$!
if wait_geometry '1334x687+50+50' 60 && wait_log 'page 3' 10; then
  pass "announcement in its offline state"
  sleep 1
  xdotool mousemove 1 1; sleep 0.4
  shot main-offline 1334x687+50+50
  panel_look() { import -window root -crop 1074x353+282+241 +repage rgb:- 2>/dev/null | md5sum | cut -d' ' -f1; }
  offline_look=$(panel_look)
  xdotool mousemove $((50 + 769)) $((50 + 387)); sleep 0.6
  [ "$(panel_look)" != "$offline_look" ] && pass "address link under the pointer" || fail "no address link at 769,387"
  xdotool click 1; sleep 1
  wait_log 'shell open https://www.example.com/notice/index.html' 5 && pass "address link opens the browser" \
    || fail "address link did not reach the shell"
  grep -q 'page 1' "$LOG" && fail "address link retried the page"
  click 769 423   # 重试
  wait_log 'page 1' 5 && pass "retry link loads the page again" || fail "retry link did nothing"
  sleep 0.5
  [ "$(panel_look)" != "$offline_look" ] && pass "offline view gone after the retry" || fail "offline view still shown"
else
  fail "offline view did not come up"
fi
kill "$APP_PID" 2>/dev/null; wait "$APP_PID" 2>/dev/null; APP_PID=""
timeout 10 wineserver -k 2>/dev/null
: > "$LOG"

echo "== high DPI"
# 200 % in a prefix of its own: twice 1334x687 does not fit 1600x900, so the
# window scales down to the work area (1600 wide, 824 high) and stays inside.
timeout 10 wineserver -k 2>/dev/null
TARNWICK_BUILD="$WORK/dpi"
mkdir -p "$TARNWICK_BUILD"
. "$(dirname "$0")/../wine/env.sh"
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 192 /f >/dev/null 2>&1
timeout 20 wineserver -w 2>/dev/null
: > "$LOG"
( cd "$WORK" && exec wine "$EXE" "$LOG" ) >/dev/null 2>&1 &
APP_PID=$!
if wait_geometry '1600x824+0+76' 60; then pass "200 % scales down to the work area"
else fail "200 %: $(geometries | tr '\n' ' ')"; fi
sleep 1.5
shot main-200dpi 1600x824+0+76
# Controls follow the scale: the close button sits at 1294,34 design units.
xdotool mousemove $(( 1294 * 1600 / 1334 )) $(( 76 + 34 * 1600 / 1334 )); sleep 0.2; xdotool click 1
wait_log 'exit' 10 && pass "scaled close button" || fail "scaled close button missed"
for _ in $(seq 50); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.2; done
APP_PID=""

echo "screenshots in $SHOTS"
if [ "$failures" -ne 0 ]; then
  echo "ui_wine: $failures failure(s)"; echo "--- events"; cat "$LOG"; exit 1
fi
echo "ui_wine: all passed"
