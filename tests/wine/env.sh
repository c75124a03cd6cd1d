# Sourced with TARNWICK_BUILD set: sets up a fresh Wine prefix inside the
# build folder (once) and the environment every Wine test uses.
export WINEPREFIX="${TARNWICK_PREFIX:-$TARNWICK_BUILD/wineprefix}"
export WINEDEBUG=-all
# TARNWICK_DLL_OVERRIDES adds overrides of a test's own (a DLL to prefer native).
export WINEDLLOVERRIDES="${TARNWICK_DLL_OVERRIDES:+$TARNWICK_DLL_OVERRIDES;}mshtml=d;winemenubuilder.exe=d"
export LANG="${TARNWICK_WINE_LANG:-zh_CN.UTF-8}"
if [ ! -f "$WINEPREFIX/.tarnwick-ready" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w || true
  # Desktop and Documents are links into the host's home in a fresh prefix:
  # make them folders of the prefix before tests write or delete there.
  for d in "$WINEPREFIX"/drive_c/users/*/; do
    for f in Desktop Documents "My Documents"; do
      if [ -L "$d$f" ]; then rm -f "$d$f"; mkdir -p "$d$f"; fi
    done
  done
  reg="$WINEPREFIX/fonts.reg"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n"SimHei"="WenQuanYi Micro Hei"\r\n' > "$reg.head"
  # The Chinese names go in as UTF-16 so regedit reads them whatever the locale.
  { cat "$reg.head"; printf '"微软雅黑"="WenQuanYi Micro Hei"\r\n"黑体"="WenQuanYi Micro Hei"\r\n'; } > "$reg.utf8"
  { printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n"Microsoft YaHei"="WenQuanYi Micro Hei"\r\n"SimHei"="WenQuanYi Micro Hei"\r\n"微软雅黑"="WenQuanYi Micro Hei"\r\n"黑体"="WenQuanYi Micro Hei"\r\n'; } \
    | iconv -f UTF-8 -t UTF-16LE | { printf '\377\376'; cat; } > "$reg"
  wine regedit "$reg" >/dev/null 2>&1 || true
  wineserver -w || true
  touch "$WINEPREFIX/.tarnwick-ready"
fi
