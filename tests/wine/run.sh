#!/bin/sh
# Runs a Windows test program under Wine in a prefix of the build folder.
# Usage: run.sh BUILD_DIR PROGRAM [ARGS...]
set -e
TARNWICK_BUILD="$(cd "$1" && pwd)"; shift
. "$(dirname "$0")/env.sh"
exec wine "$@"
