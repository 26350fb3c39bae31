#!/usr/bin/env bash
# Builds everything and runs the whole test suite (all labels); exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh

# The GL and end-to-end tests need an X server; start one for the whole run when none is there.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x900x24" \
    ctest --test-dir build --output-on-failure --timeout 600 "$@"
fi
exec ctest --test-dir build --output-on-failure --timeout 600 "$@"
