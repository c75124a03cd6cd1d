# Sourced by the Wine suites (bash). start_xvfb NAME starts a private X server
# on $DISPLAY_NO (clearing a stale lock of a dead one), sets XVFB_PID, and
# exits the suite when the display is taken or the server does not come up.
start_xvfb() {
  local name="$1" old
  if [ -e "/tmp/.X11-unix/X$DISPLAY_NO" ] || [ -e "/tmp/.X$DISPLAY_NO-lock" ]; then
    old=$(tr -d ' ' < "/tmp/.X$DISPLAY_NO-lock" 2>/dev/null)
    if [ -n "$old" ] && ! kill -0 "$old" 2>/dev/null; then
      rm -f "/tmp/.X$DISPLAY_NO-lock" "/tmp/.X11-unix/X$DISPLAY_NO"
    else
      echo "$name: display :$DISPLAY_NO is in use"; exit 1
    fi
  fi
  Xvfb ":$DISPLAY_NO" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.2; done
  xdpyinfo >/dev/null 2>&1 || { echo "$name: Xvfb did not start"; exit 1; }
}
