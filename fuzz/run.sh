#!/usr/bin/env bash
# Builds the fuzz targets (clang, address and undefined-behaviour sanitizers)
# and runs each for SECONDS. Fails when any target reports a finding: a
# crash, a sanitizer report, a hang over the per-input timeout, a leak or an
# out-of-memory. New corpus entries collect in the build folder, so repeated
# runs go on from where the last one stopped; the seeds in fuzz/corpus are
# only read.
#   fuzz/run.sh SECONDS [TARGET...]    targets: decode payload settings text_code orbread_input
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${1:?usage: fuzz/run.sh SECONDS [TARGET...]}"
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(decode payload settings text_code orbread_input)
build="${FUZZ_BUILD_DIR:-build-fuzz}"
jobs="${JOBS:-2}"

CXX=clang++ cmake -S fuzz -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null || exit 1
cmake --build "$build" -j "$jobs" || exit 1

export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
# Big short-lived buffers (the settings storage's, images) pass through the
# default 256 MB quarantine at a page fault each; a small one doubles the
# executions per second.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=16:max_malloc_fill_size=0}"

failed=()
for target in "${targets[@]}"; do
  binary="$build/fuzz_$target"
  [ -x "$binary" ] || { echo "fuzz: no target '$target'"; failed+=("$target"); continue; }
  corpus="$build/corpus/$target"
  artifacts="$build/findings/$target"
  log="$build/logs/$target.log"
  mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
  started=$(date +%s)
  "$binary" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$corpus" "fuzz/corpus/$target" > "$log" 2>&1
  status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  elapsed=$(( $(date +%s) - started ))
  if [ $status -eq 0 ]; then
    echo "fuzz $target: ${runs:-?} runs in ${elapsed} s, no finding"
  else
    echo "fuzz $target: FINDING after ${elapsed} s (exit $status); input in $artifacts, log $log"
    grep -E -m 20 "ERROR|runtime error|SUMMARY|#[0-9]+ 0x.* in (orb|app|fuzz)|Test unit written|does not read back" "$log"
    failed+=("$target")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: findings in ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets, no finding"
