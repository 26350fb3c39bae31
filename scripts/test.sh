#!/usr/bin/env bash
# Builds everything and runs the whole test suite (all labels); exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/build.sh

# Three tests at a time on two cores: the end-to-end tests spend much of their time waiting for
# windows, recordings played in real time and the network, and each has an X server and a ROS
# domain of its own; tests/CMakeLists.txt keeps the ones that need the CPU to themselves apart.
# Arguments given here come after, so that -j 1 runs the suite one test at a time.
parallel=(--parallel 3)

# The GL and end-to-end tests need an X server; start one for the whole run when none is there.
# -noreset: a server resets when its last client leaves and turns connections away meanwhile, and
# the GL tests are short programs that connect one after another.
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1600x900x24 -noreset" \
    ctest --test-dir build --output-on-failure --timeout 600 "${parallel[@]}" "$@"
fi
exec ctest --test-dir build --output-on-failure --timeout 600 "${parallel[@]}" "$@"
