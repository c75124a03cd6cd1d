#!/bin/sh
# The shape of the code, checked on the source tree (argument: its top).
#  1. OS code lives only in win32/ and posix/ subfolders of a layer: no _WIN32
#     conditional and no windows.h outside them.
#  2. Layers, bottom to top: platform < download, config < ui < games, install
#     < app. An include never runs upwards, siblings (download and config,
#     games and install) never include each other, and portable code never
#     includes a backend's file. So no two folders can include each other.
cd "$1" || exit 2
layers="platform download config ui games install app"
status=0

os=$(grep -rn -E '#\s*if(def|ndef)?\s.*_WIN32|defined\(_WIN32\)|#\s*include\s*<(windows|winhttp|wininet)\.h>' \
  $layers tools 2>/dev/null | grep -v -E '^[a-z]+/(.*/)?(win32|posix)/')
if [ -n "$os" ]; then
  echo "OS-specific code outside a win32/ or posix/ subfolder:"; echo "$os"; status=1
fi

rank() {
  case "$1" in
    platform) echo 0 ;; download|config) echo 1 ;; ui) echo 2 ;; games|install) echo 3 ;; app) echo 4 ;;
    *) echo -1 ;;
  esac
}

bad=""
for from in $layers; do
  rf=$(rank "$from")
  # file:line:#include "to/..."
  for hit in $(grep -rn -o -E '#\s*include\s*"[a-z_0-9]+/[^"]*"' "$from" 2>/dev/null | tr -d ' '); do
    file=${hit%%:*}
    target=$(echo "$hit" | sed -E 's/.*include"([^"]*)"/\1/')
    to=${target%%/*}
    rt=$(rank "$to")
    [ "$rt" -lt 0 ] && continue  # not a layer (generated files)
    why=""
    if [ "$rt" -gt "$rf" ]; then why="runs upwards ($from over $to)"
    elif [ "$rt" -eq "$rf" ] && [ "$to" != "$from" ]; then why="sibling layers ($from and $to)"
    fi
    case "$file" in
      */win32/*|*/posix/*) ;;
      *) case "$target" in */win32/*|*/posix/*) why="portable code includes a backend's file" ;; esac ;;
    esac
    [ -n "$why" ] && bad="$bad
$file includes $target: $why"
  done
done
if [ -n "$bad" ]; then
  echo "Includes against the layers (platform < download, config < ui < games, install < app):$bad"
  status=1
fi
[ "$status" -eq 0 ] && echo "layout ok"
exit "$status"
