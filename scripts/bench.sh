#!/usr/bin/env bash
# Measures what a request costs through the module's _request beside the
# platform calls it makes and beside a minimal module, counts its
# instructions and allocations, measures a handoff and contention between
# processes beside the bare pthread mutex, prints the report and writes it to
# docs/performance.md, each target met or missed. A few minutes.
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset bench >/dev/null
cmake --build --preset bench -j "$(nproc)" --target trilox_bench trilox_process_bench trilox_instructions trilox_allocations

# Mutexes live on tmpfs by default. The benchmark makes its namespace
# directory in here, which goes even if the benchmark does not finish.
work=$(mktemp -d /dev/shm/trilox-bench.XXXXXX 2>/dev/null || mktemp -d)
trap 'rm -rf "$work"' EXIT

# On one CPU: a process that has run on two pays for a TLB flush on the other
# at every munmap, which Create and Delete make, and their figures split in two.
cpu=$(( $(nproc) - 1 ))
run() {  # run NAME FILTER [FLAG...]: repeated, the aggregates to $work/NAME.json
  TMPDIR=$work taskset -c "$cpu" build/bench/trilox_bench --benchmark_filter="$2" \
    --benchmark_repetitions=15 --benchmark_min_time=0.2 --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/$1.json" --benchmark_out_format=json "${@:3}" >/dev/null
}
# Google Benchmark warns that Debian built its library for debugging: that
# is the harness, not the code measured, which the preset builds for release.
echo "bench: measuring, a minute or two"
# In random order, so that a change of load on the machine falls on a case
# and its floor alike.
run cases '-registered' --benchmark_enable_random_interleaving=true
# The registry only grows: these run in the order they are registered.
run registry 'registered'

# Not pinned: a waiter and its holder run where the scheduler puts them.
echo "bench: handoff and contention between processes, half a minute"
TMPDIR=$work build/bench/trilox_process_bench "$work/processes.json"

echo "bench: instruction counts under callgrind"
count() {  # count MODULE CASE REQUESTS [--minimal]
  TMPDIR=$work valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
    --toggle-collect='CountedRequests*' build/bench/trilox_instructions ${4:-} "$2" "$3" 2>"$work/valgrind.log" ||
    { cat "$work/valgrind.log" >&2; exit 1; }
  total=$(awk '/^totals:/ { print $2 }' "$work/callgrind.out")
  printf '%s\t%s\t%s\t%s\n' "$1" "$2" "$total" "$3" >> "$work/instructions.tsv"
}
for case in "GET Version" "refused request" "Lock+Unlock" "isLocked" "GET Version, 64 KiB of headers"; do
  requests=1000; [[ $case == *KiB* ]] && requests=50
  count trilox "$case" "$requests"
  [[ $case == "refused request" ]] || count minimal "$case" "$requests" --minimal
done

echo "bench: allocations a request"
TMPDIR=$work build/bench/trilox_allocations > "$work/allocations.tsv"

python3 bench/report.py "$work/processes.json" "$work/instructions.tsv" "$work/allocations.tsv" \
  "$work/cases.json" "$work/registry.json" > docs/performance.md
cat docs/performance.md
