#!/usr/bin/env bash
# Runs every fuzz target in bin_dir for a share of the given total seconds, from its seed corpus
# (tests/fuzz/corpus/<target>); what it adds goes to a folder under /tmp. Exits non-zero when a
# target finds a crash, leak, failed check, sanitizer report or timeout, after showing the end of
# its log, which holds the input.
set -euo pipefail

bin_dir=${1:?usage: run.sh bin_dir seconds}
seconds=${2:?usage: run.sh bin_dir seconds}
corpora=$(cd "$(dirname "$0")" && pwd)/corpus
targets=("$bin_dir"/fuzz_*)
[ -x "${targets[0]}" ] || { echo "no fuzz targets in $bin_dir" >&2; exit 1; }
per_target=$(( seconds / ${#targets[@]} > 1 ? seconds / ${#targets[@]} : 1 ))
work=$(mktemp -d /tmp/qn-fuzz-run.XXXXXX)
trap 'rm -rf "$work"' EXIT

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  mkdir "$work/$name"
  echo "== $name for ${per_target}s"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 "$target" "$work/$name" \
    "$corpora/${name#fuzz_}" -max_total_time="$per_target" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/$name-" -print_final_stats=1 >"$work/$name.log" 2>&1 ||
    { tail -n 60 "$work/$name.log" >&2; status=1; }
  grep -E '^stat::(number_of_executed_units|peak_rss_mb)|(INITED|DONE) +cov:' "$work/$name.log" || true
done
exit $status
