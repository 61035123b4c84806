#!/usr/bin/env bash
# Runs every fuzz target in bin_dir for a share of the given total seconds, each on a copy of
# its seed corpus (tests/fuzz/corpus/<target>) under /tmp. Exits non-zero when a target finds a
# crash, leak, failed check, sanitizer report or timeout, after showing the input.
set -euo pipefail

bin_dir=${1:?usage: run.sh bin_dir seconds}
seconds=${2:?usage: run.sh bin_dir seconds}
corpora=$(cd "$(dirname "$0")" && pwd)/corpus

mapfile -t targets < <(find "$bin_dir" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $bin_dir" >&2
  exit 1
fi
per_target=$(( seconds / ${#targets[@]} ))
[ "$per_target" -ge 1 ] || per_target=1

work=$(mktemp -d /tmp/qn-fuzz-run.XXXXXX)
trap 'rm -rf "$work"' EXIT

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$work/corpus-$name
  mkdir -p "$corpus"
  cp "$corpora/${name#fuzz_}"/* "$corpus"/
  echo "== $name for ${per_target}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "$target" "$corpus" -max_total_time="$per_target" -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$work/$name-" -print_final_stats=1 >"$work/$name.log" 2>&1; then
    tail -n 60 "$work/$name.log" >&2
    for artifact in "$work/$name"-*; do
      [ -e "$artifact" ] && echo "finding: $artifact (hex: $(od -An -tx1 "$artifact" | head -c 400))" >&2
    done
    status=1
  else
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)|(INITED|DONE) +cov:' "$work/$name.log" || true
  fi
done
exit $status
