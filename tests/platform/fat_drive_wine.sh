#!/bin/bash
# A FAT32 drive under Wine: an image made by mkfs.vfat, mounted through FUSE
# (a kernel may lack vfat) and linked as the fixed drive F: of a fresh
# prefix: its folder as f:, and a loop device over the image as the drive's
# device f::, whose boot sector is where Wine reads the file system's name
# (a plain image file there is not read). Runs the volume tests against it.
# Needs root, losetup, mkfs.vfat (dosfstools) and fusefat; skips (exit 0)
# without them.
# Usage: fat_drive_wine.sh WIN32_BUILD
set -u
TOP="$(cd "$(dirname "$0")/../.." && pwd)"
WIN32_BUILD="$(cd "${1:?win32 build folder}" && pwd -P)"
TESTS="$WIN32_BUILD/tests/tarnwick_tests.exe"
[ -f "$TESTS" ] || { echo "fat_drive_wine: $TESTS missing"; exit 1; }
for tool in mkfs.vfat fusefat fusermount losetup wine; do
  command -v "$tool" >/dev/null || { echo "fat_drive_wine: skipped: $tool not installed"; exit 0; }
done
[ "$(id -u)" = 0 ] || { echo "fat_drive_wine: skipped: not root"; exit 0; }

WORK="$WIN32_BUILD/fat_drive_wine"
MNT="$WORK/drive_f"
FUSE_PID=""
LOOP=""
cleanup() {
  [ -n "${WINEPREFIX:-}" ] && { timeout 10 wineserver -k 2>/dev/null; timeout 10 wineserver -w 2>/dev/null; }
  [ -n "$FUSE_PID" ] && { fusermount -u "$MNT" 2>/dev/null; kill "$FUSE_PID" 2>/dev/null; wait "$FUSE_PID" 2>/dev/null; }
  [ -n "$LOOP" ] && losetup -d "$LOOP"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

mountpoint -q "$MNT" 2>/dev/null && fusermount -u "$MNT"
rm -rf "$WORK"
mkdir -p "$MNT"
truncate -s 64M "$WORK/fat32.img"
mkfs.vfat -F 32 "$WORK/fat32.img" >/dev/null || { echo "fat_drive_wine: mkfs.vfat failed"; exit 1; }
fusefat -f -o rw+ "$WORK/fat32.img" "$MNT" >/dev/null 2>&1 &
FUSE_PID=$!
for _ in $(seq 50); do mountpoint -q "$MNT" && break; sleep 0.1; done
mountpoint -q "$MNT" || { echo "fat_drive_wine: skipped: FUSE mount failed"; exit 0; }
mkdir "$MNT/Tarnwick"
LOOP=$(losetup -f --show "$WORK/fat32.img" 2>/dev/null) || { LOOP=""; echo "fat_drive_wine: skipped: no loop device"; exit 0; }

TARNWICK_BUILD="$WORK"
TARNWICK_PREFIX="$WORK/prefix"
. "$TOP/tests/wine/env.sh"
ln -sfn "$MNT" "$WINEPREFIX/dosdevices/f:"
ln -sfn "$LOOP" "$WINEPREFIX/dosdevices/f::"
wine reg add 'HKLM\Software\Wine\Drives' /v 'f:' /t REG_SZ /d hd /f >/dev/null 2>&1
# The drives are read when the prefix's services start: start them afresh.
timeout 20 wineserver -k 2>/dev/null; timeout 20 wineserver -w 2>/dev/null

TARNWICK_FAT_FOLDER='F:\Tarnwick' wine "$TESTS" --gtest_filter='VolumeLimits.*:DownloadFileWriter.Sparse*'
