#!/usr/bin/env bash
# Builds the benchmarks in a Release tree (build/release) and runs them all. Each side-by-side
# benchmark starts the daemon and the stand-ins it needs, measures its own baseline in the same
# run and prints the ratios. BENCH_RUNS (default 5) runs per figure, medians reported;
# BENCH_SECONDS (default 1) per run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out=${QN_BUILD_ROOT:-$root/build}/release
runs=${BENCH_RUNS:-5}
seconds=${BENCH_SECONDS:-1}

cmake -S "$root" -B "$out" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j "${BENCH_JOBS:-4}" --target quarn-smbgardix configd-stub fcheck-stub \
  bench_cached_verdicts bench_scanned_verdicts bench_cache_memory bench_module_memory bench_deep_paths \
  bench_fresh_files
bin=$out/bin

echo "== machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) cores; load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
"$bin/bench_cached_verdicts" --runs "$runs" --seconds "$seconds"
echo
"$bin/bench_scanned_verdicts" --runs "$runs" --seconds "$seconds"
echo
"$bin/bench_cache_memory"
echo
"$bin/bench_module_memory"
echo
echo "== cost of a request against the depth of its path"
"$bin/bench_deep_paths"
echo
echo "== files written and opened at once, and a busy top folder: cached at the next open, and the first open's wait"
"$bin/bench_fresh_files"
if cmake --build "$out" -j "${BENCH_JOBS:-4}" --target bench_kson_codec >/dev/null 2>&1; then
  echo
  echo "== kson codec (Google Benchmark; no baseline)"
  "$bin/bench_kson_codec" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
if cmake --build "$out" -j "${BENCH_JOBS:-4}" --target bench_path_stamp >/dev/null 2>&1; then
  echo
  echo "== swap check of a scanned request while the cache is on (Google Benchmark; one lstat beside it)"
  "$bin/bench_path_stamp" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
fi
