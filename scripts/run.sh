#!/usr/bin/env bash
# Builds the program and starts it with the repository root as its working directory.
# Without a display it runs under Xvfb so that the console output can still be followed.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh

# Sample recordings for a first look, made once.
if [ ! -d samples/OP1 ]; then
  ./build/tavorin-samples --out samples/OP1
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/tavorin "$@"
fi

echo "No display found: running tavorin under Xvfb (Ctrl-C to quit)."
exec xvfb-run -a -s "-screen 0 1600x900x24" ./build/tavorin "$@"
