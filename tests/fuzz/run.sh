#!/usr/bin/env bash
# Runs every fuzz target in bin_dir for a share of the given total seconds, each
# with a fresh corpus under /tmp seeded with a few well-formed frames. Exits
# non-zero on the first crash, leak, failed check or timeout.
set -euo pipefail

bin_dir=${1:?usage: run.sh bin_dir seconds}
seconds=${2:?usage: run.sh bin_dir seconds}

mapfile -t targets < <(find "$bin_dir" -maxdepth 1 -type f -name 'fuzz_*' -perm -u+x | sort)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $bin_dir" >&2
  exit 1
fi
per_target=$(( seconds / ${#targets[@]} ))
[ "$per_target" -ge 1 ] || per_target=1

work=$(mktemp -d /tmp/qn-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT

# Seeds: frame bodies of the VFS-module messages and a few plain values.
seeds=$work/seeds
mkdir -p "$seeds"
le32() { printf "\\x$(printf %02x $(( $1 & 255 )))\\x$(printf %02x $(( ($1 >> 8) & 255 )))\\x$(printf %02x $(( ($1 >> 16) & 255 )))\\x$(printf %02x $(( ($1 >> 24) & 255 )))"; }
key() { printf 'I'; le32 "$1"; }
str() { printf 's'; printf "\\x$(printf %02x ${#1})"; printf '%s' "$1"; }
body_verdict() { printf 'o\x03'; key 1; key 3; key 4; key 7; key 12; key 2; }
body_hello() { printf 'o\x03'; key 1; key 1; key 2; str share_a; key 3; str /srv/share; }
body_event() {
  printf 'o\x08'; key 1; key 2; key 4; key 9; key 5; str /srv/share/dir/file.txt
  key 9; printf 'L\x01\x00\x00\x00\x00\x00\x00\x00'; key 10; printf 'L\x02\x00\x00\x00\x00\x00\x00\x00'
  key 11; key 4; key 6; str user; key 8; str 10.0.0.1
}
body_settings() { printf 'o\x03'; key 1; key 4; key 13; str tmp; key 14; str docs; }
body_nested() { printf 'A\x02\x00\x00\x00a\x01O\x01\x00\x00\x00ZTS\x03\x00\x00\x00abc'; }
framed() { local f; f=$("$@" | od -An -v -tx1 | wc -w); le32 "$f"; "$@"; }
for b in body_verdict body_hello body_event body_settings body_nested; do
  "$b" > "$seeds/$b.bin"
  { printf '\x07'; framed "$b"; le32 0; framed body_verdict; } > "$seeds/frames_$b.bin"
done

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  corpus=$work/corpus-$name
  mkdir -p "$corpus"
  cp "$seeds"/*.bin "$corpus"/
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
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$work/$name.log" || true
  fi
done
exit $status
