#!/usr/bin/env bash
# The reliability checks (docs/reliability.md):
#   1. AddressSanitizer and UndefinedBehaviorSanitizer build: every unit,
#      platform, native conformance, fault, stress, leak and fuzz-replay test;
#   2. ThreadSanitizer build: the platform's tests, threads and processes;
#   3. each fuzz target for a while;
#   4. the native build: allocation and licence faults, the multi-process
#      stress with kills, the leak run;
#   5. --long only: the differential test (random multi-process scenarios,
#      native against the win64 DLL under Wine) on many more seeds than CI's.
#
#   scripts/reliability.sh          the short runs, about ten minutes on 2 cores
#   scripts/reliability.sh --long   the long runs
#   FUZZ_SECONDS=N                  each fuzz target's time (60; --long: 3600)
set -euo pipefail
cd "$(dirname "$0")/.."

long=false
case "${1:-}" in
  --long) long=true ;;
  "") ;;
  *) echo "usage: scripts/reliability.sh [--long]" >&2; exit 2 ;;
esac
if $long; then
  fuzz_seconds=${FUZZ_SECONDS:-3600}
  stress=(--processes 16 --cycles 10000 --kills 200 --seconds 3000)
  leak_requests=1000000
  differential_seeds=1001-11000
else
  fuzz_seconds=${FUZZ_SECONDS:-60}
  stress=(--processes 8 --cycles 1000 --kills 10 --seconds 240)
  leak_requests=100000
fi
jobs=$(nproc)
summary=()

step() { echo "== reliability: $*"; }

step "AddressSanitizer + UndefinedBehaviorSanitizer: all tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs" >/dev/null
ctest --preset asan -j "$jobs"
summary+=("asan: $(ctest --preset asan -N | sed -n 's/^Total Tests: //p') tests passed")

step "ThreadSanitizer: the platform's tests"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target trilox_platform_tests trilox_mutex_helper >/dev/null
ctest --preset tsan -j "$jobs"
summary+=("tsan: $(ctest --preset tsan -N | sed -n 's/^Total Tests: //p') platform tests passed")

step "fuzzing, ${fuzz_seconds} s for each target"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs" >/dev/null
fuzz=build/fuzz
mkdir -p "$fuzz/artifacts"
declare -A pid
for target in request name; do
  mkdir -p "$fuzz/corpus/$target"
  # The corpus grows in the build tree from run to run; the seeds stay as made.
  timeout $((fuzz_seconds + 300)) "$fuzz/trilox_fuzz_$target" -max_total_time="$fuzz_seconds" \
    -dict="tests/fuzz/$target.dict" -artifact_prefix="$fuzz/artifacts/$target-" -print_final_stats=1 \
    "$fuzz/corpus/$target" "$fuzz/tests/fuzz/seeds/$target" >"$fuzz/$target.log" 2>&1 &
  pid[$target]=$!
done
failed=()
for target in request name; do
  if ! wait "${pid[$target]}"; then
    failed+=("$target")
    tail -n 40 "$fuzz/$target.log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$fuzz/$target.log")
  covered=$(grep -o 'cov: [0-9]*' "$fuzz/$target.log" | tail -n 1 | cut -d' ' -f2 || true)
  edges=$(sed -n 's/^INFO: Loaded 1 modules *(\([0-9]*\) inline.*/\1/p' "$fuzz/$target.log")
  corpus=$(ls "$fuzz/corpus/$target" | wc -l)
  summary+=("fuzz $target: ${runs:-?} inputs in ${fuzz_seconds} s, ${covered:-?} of ${edges:-?} edges covered, corpus $corpus")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "reliability: FAILED: fuzz target(s) ${failed[*]} broke; the input is in $fuzz/artifacts/" >&2
  echo "reliability: once fixed, add it to tests/fuzz/regressions/TARGET/" >&2
  exit 1
fi

step "native build: faults, stress, leaks"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target trilox trilox_fault_tests trilox_stress trilox_leak >/dev/null
native=build/native
"$native/trilox_fault_tests" --gtest_brief=1
summary+=("fault: $("$native/trilox_fault_tests" --gtest_list_tests | grep -c '^  ') cases passed")
# Appending: stderr may be the log file that all of this goes to.
stress_log=$("$native/trilox_stress" "$native/trilox.so" "${stress[@]}" | tee -a /dev/stderr)
leak_log=$("$native/trilox_leak" "$native/trilox.so" "$leak_requests" | tee -a /dev/stderr)
while IFS= read -r line; do summary+=("$line"); done <<<"$stress_log
$leak_log"

if $long; then
  step "differential: native against the win64 DLL under Wine, seeds $differential_seeds"
  # The test is registered where scripts/build.sh configured build/native
  # with the win64 build under Wine; without it there is nothing to run.
  cmake --preset win64 >/dev/null
  cmake --build --preset win64 -j "$jobs" --target saori trilox >/dev/null
  cmake --build --preset native -j "$jobs" --target saori >/dev/null
  differential_log=$(TRILOX_DIFFERENTIAL_SEEDS=$differential_seeds ctest --test-dir "$native" \
    -R '^differential\.win64$' --no-tests=error --output-on-failure -V | tee -a /dev/stderr)
  summary+=("$(grep -o 'differential: [0-9]* seeds.*' <<<"$differential_log")")
fi

step "summary"
printf '  %s\n' "${summary[@]}"
echo "reliability: all checks passed"
