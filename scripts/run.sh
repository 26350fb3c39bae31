#!/usr/bin/env bash
# Builds the program and starts it with the repository root as its working directory.
# Without a display it runs under Xvfb so that the console output can still be followed.
# --demo starts three virtual cameras (TAVORIN_VIRTUAL_CAMERAS=3) instead of looking for real ones;
# every other argument goes to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

args=()
for arg in "$@"; do
  if [ "$arg" = "--demo" ]; then
    export TAVORIN_VIRTUAL_CAMERAS=3
  else
    args+=("$arg")
  fi
done
set -- ${args[@]+"${args[@]}"}

bash scripts/build.sh

# Sample recordings for a first look, made once.
if [ ! -d samples/OP1 ]; then
  ./build/tavorin-samples --out samples/OP1
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec ./build/tavorin "$@"
fi

echo "No display found: running tavorin under Xvfb (Ctrl-C to quit)."
# The X server gets a session of its own, so that Ctrl-C reaches only the program, which then
# shuts down cleanly while its display is still there.
fdfile=$(mktemp)
setsid Xvfb -displayfd 1 -screen 0 1600x900x24 -nolisten tcp >"$fdfile" 2>/dev/null &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; rm -f "$fdfile"' EXIT
for _ in $(seq 1 100); do
  [ -s "$fdfile" ] && break
  sleep 0.1
done
display_number=$(head -n 1 "$fdfile")
if [ -z "$display_number" ]; then
  echo "Xvfb did not start." >&2
  exit 1
fi

status=0
DISPLAY=":$display_number" ./build/tavorin "$@" || status=$?
exit "$status"
