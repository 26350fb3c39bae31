#!/usr/bin/env bash
# Installs missing dependencies, then configures (once) and builds the Release tree in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

if [ ! -f build/CMakeCache.txt ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
fi
cmake --build build --parallel "$(nproc)"
