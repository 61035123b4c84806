#!/usr/bin/env bash
# Faults the daemon must ride out, too slow for ctest (they wait out its real pauses): the file
# checker killed in the middle of scans and started again, the threat database locked by another
# process, deleted and replaced by a corrupt file, and alert files that cannot be written. Each case
# runs the real daemon under configd-stub with fcheck-stub and vfs-client, prints what it saw and
# checks it; the script ends with status 1 when a check failed.
#
#   scripts/faults.sh [BIN_DIR]     (default: build/plain/bin, or QN_BUILD_ROOT/plain/bin)
#
# Everything goes to a temporary folder, removed at the end (QN_FAULTS_KEEP=1 keeps it). The tiny
# file system of the last case needs root and mount; without them that part is skipped.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-${QN_BUILD_ROOT:-$root/build}/plain/bin}" 2>/dev/null && pwd) || bin=
for program in quarn-smbgardix configd-stub fcheck-stub vfs-client; do
  [ -x "$bin/$program" ] || { echo "faults: $program not built; build first (see README)" >&2; exit 2; }
done
command -v sqlite3 >/dev/null || { echo "faults: sqlite3 is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/smbgardix-faults.XXXXXX")
share=$work/share
sock=$work/run/smb.sock
db=$work/run/threats.db
log=$work/daemon.log
failures=0 fcheck_pid= configd_pid= mounted=

stop() { [ -z "$1" ] || { kill -TERM "$1"; wait "$1"; } 2>/dev/null; }  # pid: SIGTERM, then wait for it
cleanup() {
  stop "$configd_pid"; stop "$fcheck_pid"
  [ -n "$mounted" ] && umount "$mounted"
  if [ "${QN_FAULTS_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

section() { printf '\n== %s\n' "$*"; }
say() { printf '   %s\n' "$*"; }
indent() { sed 's/^/     /'; }
check() {  # description, command...: one line, ok or FAIL
  if "${@:2}"; then say "ok    $1"; else say "FAIL  $1"; failures=$((failures + 1)); fi
}
# Polls a command every 0.1 s for at most $1 seconds.
wait_until() {
  local i
  for ((i = 0; i < $1 * 10; i++)); do "${@:2}" && return 0 || sleep 0.1; done
  return 1
}
logged() { grep -qF -- "$1" "$log"; }
lines() { wc -l <"$log"; }
fcheck_has() { grep -qF -- "$1" "$work/fcheck.out"; }
no_scan_yet() { ! fcheck_has PROXY_SCAN_REQUEST; }
scans_waiting() { [ "$(grep -c PROXY_SCAN_REQUEST "$work/fcheck.out")" -ge "$1" ]; }
# The detections of a file recorded in the database: history rows of event 1.
rows() {
  sqlite3 "$db" "SELECT count(*) FROM history JOIN threat USING (threat_id)
                 WHERE event = 1 AND CAST(path AS TEXT) = '$share/$1';" 2>/dev/null
}
rows_are() { [ "$(rows "$1")" = "$2" ]; }
daemon_rows_are() { [ "$(sqlite3 "$db" "SELECT count(*) FROM history WHERE tag = 'public' AND locked = 1;" 2>/dev/null)" = "$1" ]; }
logged_since() { tail -n "+$2" "$log" | grep -qF -- "$1"; }
# vfs-client against the share; prints its verdict lines.
vfs() { timeout 60 "$bin/vfs-client" -s "$sock" -b "$share" -t public "$@" 2>&1 | grep -v '^share settings'; }
test_file() { "$bin/fcheck-stub" --make-test-file "$share/$1"; }

start_fcheck() {  # fcheck-stub options...
  rm -f "$work/fcheck.out"
  "$bin/fcheck-stub" --socket "$work/run/fc.sock" --db "$db" "$@" >"$work/fcheck.out" 2>&1 &
  fcheck_pid=$!
  wait_until 10 fcheck_has ready || { say "fcheck-stub did not start"; exit 1; }
}
start_daemon() {
  "$bin/configd-stub" -c "$work/smbgardix.conf" -f "$work/run/fc.sock" >"$work/configd.out" 2>&1 &
  configd_pid=$!
  wait_until 10 test -S "$sock" || { say "the daemon did not listen"; exit 1; }
}
# Both programs stopped, the daemon's files emptied for the next case.
stop_all() {
  stop "$configd_pid"; stop "$fcheck_pid"
  configd_pid= fcheck_pid=
  rm -rf "$work/run" "$log" && mkdir -p "$work/run"
}

mkdir -p "$share" "$work/run"
for i in 1 2 3 4 5 6 7 8; do echo "clean file $i" >"$share/clean$i.txt"; done
cat >"$work/smbgardix.conf" <<EOF
log_level: LOG_LEVEL_INFO
actual_log { type: FILE path: "$log" }
smb_socket_path: "${sock#/}"
action_delay: 60000
max_cache_size: 1048576
share { item { tag: "public" alert_files: true on_known_virus: SMB_BLOCK block_on_error: true } }
EOF
echo "daemon: $bin/quarn-smbgardix; share: $share (block_on_error, so a failed scan is \"access rejected\")"

section "The file checker killed in the middle of scans, then started again"
start_fcheck --scan-delay 4000
start_daemon
clients=()
for i in 1 2 3 4 5; do vfs "open $share/clean$i.txt" >"$work/waiting$i.out" & clients+=($!); done
wait_until 10 scans_waiting 5
say "5 opens wait for their scans (the file checker answers 4 s late); killing it"
kill -KILL "$fcheck_pid"; killed=$SECONDS
wait "$fcheck_pid" 2>/dev/null; fcheck_pid=
wait "${clients[@]}"
cat "$work"/waiting*.out | indent
check "every waiting open is answered, with the share's default verdict" \
  test "$(cat "$work"/waiting*.out | grep -c ': access rejected$')" = 5
start_fcheck
say "the file checker runs again; an open $((SECONDS - killed)) s after the failure:"
vfs "open $share/clean6.txt" | indent
check "within 10 s of the failure a scan fails at once, without reaching the file checker" \
  no_scan_yet
say "waiting out the rest of the 10 seconds"
sleep $((killed + 11 - SECONDS))
result=$(vfs "open $share/clean6.txt")
say "$result"
check "after 10 s the next open reopens the proxy and is scanned: access allowed" \
  test "$result" = "#1 open $share/clean6.txt: access allowed"
stop_all

section "The threat database locked, deleted, then replaced by a corrupt file"
start_fcheck
start_daemon
for name in bad1.com bad2.com bad3.com bad4.com; do test_file "$name"; done
vfs "open $share/bad1.com" | indent
check "the first detection is recorded" wait_until 10 rows_are bad1.com 1

say "another process holds the database in an exclusive transaction for 5 s"
{ printf '.timeout 10000\nBEGIN EXCLUSIVE;\n.shell touch %s\n' "'$work/locked'" && sleep 5 && echo "COMMIT;"; } |
  sqlite3 "$db" &
locker=$!
wait_until 15 test -e "$work/locked" || say "the lock was not taken"
t0=$SECONDS
vfs "open $share/clean7.txt" >"$work/locked-open.out" &
opener=$!
ms=$(date +%s%3N)
result=$(vfs "read $share/clean1.txt" "read $share/clean2.txt" "read $share/bad1.com" "read $share/bad2.com" \
  "read $share/bad2.com" "close $share/bad2.com")
ms=$(($(date +%s%3N) - ms))
indent <<<"$result"
check "while it is locked (5 s), reads and closes get their verdicts at once ($ms ms)" \
  test "$(grep -c 'access allowed$' <<<"$result") $(grep -c 'access rejected$' <<<"$result") $((ms < 2000))" = "2 4 1"
check "an open of a file not seen before waits: it asks the database whether the file is locked" \
  test ! -s "$work/locked-open.out" -a -d "/proc/$locker"
wait "$opener"
indent <"$work/locked-open.out"
check "and is answered once the lock is gone ($((SECONDS - t0)) s)" grep -q ': access allowed$' "$work/locked-open.out"
wait "$locker"
check "the daemon completes both detections (share tag, lock)" wait_until 10 daemon_rows_are 2
check "the one made meanwhile is recorded once: one row each" test "$(rows bad1.com) $(rows bad2.com)" = "1 1"

say "the database file deleted"
rm -f "$db" "$db-journal"
result=$(vfs "read $share/clean3.txt" "read $share/bad3.com")
indent <<<"$result"
check "verdicts keep coming" test "$(grep -c 'access' <<<"$result")" = 2
mark=$(lines)
say "SIGUSR2 to the file checker: a threats alarm; the daemon subscribes again and reopens the path"
kill -USR2 "$fcheck_pid"
check "the open fails: a \"Threat base: \" line" wait_until 10 logged_since 'Error: Threat base: ' "$mark"
result=$(vfs "read $share/clean5.txt")
indent <<<"$result"
check "verdicts keep coming" grep -q 'access allowed$' <<<"$result"

# The count of failed opens that gives up is checked in process.
say "a corrupt file in its place, and another alarm"
head -c 65536 /dev/urandom >"$db"
mark=$(lines)
kill -USR2 "$fcheck_pid"
check "the open fails" wait_until 10 logged_since 'Error: Threat base: ' "$mark"
result=$(vfs "read $share/clean4.txt" "open $share/bad4.com")
indent <<<"$result"
check "verdicts keep coming" test "$(grep -c 'access' <<<"$result")" = 2

stop_all

section "Alert files that cannot be written"
start_fcheck
start_daemon
full=$work/full
mkdir -p "$full"
if [ "$(id -u)" = 0 ] && mount -t tmpfs -o size=64k tmpfs "$full" 2>/dev/null; then
  mounted=$full
  "$bin/fcheck-stub" --make-test-file "$full/bad.com"
  head -c 1048576 /dev/zero >"$full/filler" 2>/dev/null
  say "a 64 KiB file system, filled up: $(df -k --output=avail "$full" | tail -1 | tr -d ' ') KiB free"
  result=$(timeout 60 "$bin/vfs-client" -s "$sock" -b "$full" -t public "open $full/bad.com" 2>&1 | grep -v '^share')
  say "$result"
  check "no room for the alert file: verdict unchanged" test "$result" = "#1 open $full/bad.com: access rejected"
  check "the Warning line" logged "Warning: Failed to create \"$full/bad.com.quarn.alert.txt\": write: No space left on device"
  daemon=$(grep -l "^PPid:[[:space:]]*$configd_pid\$" /proc/[0-9]*/status 2>/dev/null | cut -d/ -f3)
  check "the daemon holds no descriptor there" test "$(ls -l "/proc/$daemon/fd" | grep -c "$full/")" = 0
else
  say "skipped: a full file system needs root and mount"
fi
stop_all

section "Result"
[ "$failures" = 0 ] && say "all checks passed" || { say "$failures checks FAILED" && exit 1; }
