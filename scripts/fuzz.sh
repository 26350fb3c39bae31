#!/usr/bin/env bash
# Fuzzes the recording reader (open, frames 0 and 1, a seek) and the camera configuration parser
# with libFuzzer under AddressSanitizer and UBSan, for SECONDS in all (split between the two
# targets; default 600). Builds the targets with clang in build-fuzz/; the corpora grow in
# build-fuzz/corpus/, seeded from a sample recording, small recordings and a configuration file.
# Every crashing, leaking or hanging input (over 25 s) is kept in build-fuzz/crashes/<run>/, one
# line per input says how to reproduce it, and the script then exits non-zero; fuzzing goes on
# after each one. Not run by CI.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-600}"
per_target=$((seconds / 2))
dir="$PWD/build-fuzz"

need=()
command -v clang++ >/dev/null || need+=(clang)
command -v h5import >/dev/null || need+=(hdf5-tools)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
fi
[ -x build/tavorin-samples ] || bash scripts/build.sh

CC=clang CXX=clang++ cmake -S tests/fuzz -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --parallel "$(nproc)"

seeds="$dir/seeds"
rm -rf "$seeds"
crashes="$dir/crashes/$(date +%Y%m%d-%H%M%S)"
mkdir -p "$seeds/recording" "$seeds/config" "$crashes" "$dir/work"
build/tavorin-samples --out "$seeds/OP1" --seconds 0.07 >/dev/null
cp "$seeds/OP1/kinect_000402694812.h5" "$seeds/recording/sample_two_frames.h5"
python3 tests/fuzz/make_recording_seeds.py "$seeds/recording" tests/fixtures/k4a_test_device_calibration.json
# As the program writes it: 16 numbers, column-major, indented by 4.
python3 -c 'import json; print(json.dumps({"modelMatrix": [1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.25, -1.5, 2.0, 1.0]}, indent=4))' \
  > "$seeds/config/camera.json"

export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/fuzz/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Single allocations of up to 8 GiB pass: the HDF5 library allocates what a damaged header's
# 32-bit size field claims, finds the file shorter and frees it untouched (or fails cleanly when
# the allocation does). Memory that is really used still counts against the 4 GiB RSS limit.
status=0
for target in recording_reader config_file; do
  kind="${target%%_*}"
  mkdir -p "$dir/corpus/$target"
  echo "Fuzzing $target for $per_target s"
  (cd "$dir/work" && "$dir/fuzz_$target" "$dir/corpus/$target" "$seeds/$kind" \
     -max_total_time="$per_target" -timeout=25 -rss_limit_mb=4096 -malloc_limit_mb=8192 -close_fd_mask=3 \
     -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
     -artifact_prefix="$crashes/$target-" -print_funcs=0 -print_final_stats=1) 2>&1 | tail -n 4 || status=1
done

shopt -s nullglob
found=("$crashes"/*)
for crash in "${found[@]}"; do
  name="$(basename "$crash")"
  echo "Reproduce: (cd $dir/work && LSAN_OPTIONS=$LSAN_OPTIONS $dir/fuzz_${name%%-*} $crash)"
done
echo "${#found[@]} crashing inputs in $crashes"
[ ${#found[@]} -eq 0 ] && [ $status -eq 0 ]
