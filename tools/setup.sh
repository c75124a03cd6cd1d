#!/bin/sh
# Installs what building and testing need on a fresh Debian 12 machine.
# Safe to run again: it only installs what is missing.
# --bench: only what tools/bench/run_download_bench.sh needs (the peers curl
# and aria2c, nginx, GNU time, tc and unshare for the shaped line).
set -eu
bench=false
[ "${1:-}" = --bench ] && bench=true
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

packages="cmake ninja-build g++ clang libclang-rt-14-dev googletest python3 pkg-config
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
  libcurl4-openssl-dev libssl-dev nginx openssl ca-certificates curl locales
  wine wine32:i386 xvfb x11-utils xdotool imagemagick fonts-wqy-microhei zip unzip"
$bench && packages="nginx curl aria2 time iproute2 util-linux python3"

missing=""
for p in $packages; do
  dpkg -s "$p" >/dev/null 2>&1 || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  if ! $bench && ! dpkg --print-foreign-architectures | grep -qx i386; then $SUDO dpkg --add-architecture i386; fi
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends $missing
fi

$bench && exit 0

# Wine maps file names through the host locale: it must exist for Chinese names.
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
  $SUDO sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
  $SUDO locale-gen >/dev/null
fi
