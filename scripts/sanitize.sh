#!/usr/bin/env bash
# Sanitizer runs, beside the ordinary test command: AddressSanitizer with UBSan over every test,
# ThreadSanitizer over the tests that need no GL context. Separate build folders; slow.
#   scripts/sanitize.sh address | thread
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-address}"
bash scripts/deps.sh
dir="build-$kind"
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVORIN_SANITIZE="$kind" -DTAVORIN_BUILD_BENCH=OFF
# ThreadSanitizer runs only the unit tests: build them and the sample writer they call, not the
# program, the GL tests and the other tools.
targets=()
if [ "$kind" = thread ]; then
  targets=(--target tavorin_unit_tests tavorin-samples)
fi
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"

export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:suppressions=$PWD/tests/sanitizers/tsan.supp"
case "$kind" in
  address)
    # The program's own processes unload GL driver modules at exit, whose leaks LSan can no longer
    # attribute: leak checking covers the test binaries, the end-to-end runs check memory errors.
    xvfb-run -a -s "-screen 0 1600x900x24 -noreset" ctest --test-dir "$dir" --output-on-failure -E '^e2e\.'
    ASAN_OPTIONS=detect_leaks=0 xvfb-run -a -s "-screen 0 1600x900x24 -noreset" \
      ctest --test-dir "$dir" --output-on-failure -R '^e2e\.'
    ;;
  thread)
    ctest --test-dir "$dir" --output-on-failure -L unit
    ;;
  *)
    echo "usage: scripts/sanitize.sh address|thread" >&2
    exit 2
    ;;
esac
