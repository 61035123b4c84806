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
failures=0
fcheck_pid=
configd_pid=
mounted=

stop() {  # pid: SIGTERM, then wait for it
  [ -n "$1" ] || return 0
  kill -TERM "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
cleanup() {
  stop "$configd_pid"
  stop "$fcheck_pid"
  [ -n "$mounted" ] && umount "$mounted"
  if [ "${QN_FAULTS_KEEP:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

section() { printf '\n== %s\n' "$*"; }
say() { printf '   %s\n' "$*"; }
indent() { sed 's/^/     /'; }
check() {  # description, command...: one line, ok or FAIL
  local what=$1
  shift
  if "$@"; then say "ok    $what"; else say "FAIL  $what"; failures=$((failures + 1)); fi
}
# Polls a command every 0.1 s for at most $1 seconds.
wait_until() {
  local i limit=$(($1 * 10))
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
logged() { grep -qF -- "$1" "$log"; }
count() { grep -cF -- "$1" "$2"; }
# How many of the daemon's log lines hold the text, from line $2 on.
count_since() { tail -n "+$2" "$log" | grep -cF -- "$1"; }
lines() { wc -l <"$log"; }
fcheck_has() { grep -qF -- "$1" "$work/fcheck.out"; }
no_scan_yet() { ! fcheck_has PROXY_SCAN_REQUEST; }
scans_waiting() { [ "$(count PROXY_SCAN_REQUEST "$work/fcheck.out")" -ge "$1" ]; }
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
  stop "$configd_pid"
  stop "$fcheck_pid"
  configd_pid=""
  fcheck_pid=""
  rm -rf "$work/run" "$log"
  mkdir -p "$work/run"
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
for i in 1 2 3 4 5; do
  vfs "open $share/clean$i.txt" >"$work/waiting$i.out" &
  clients+=($!)
done
wait_until 10 scans_waiting 5
say "5 opens wait for their scans (the file checker answers 4 s late); killing it"
kill -KILL "$fcheck_pid"
wait "$fcheck_pid" 2>/dev/null
fcheck_pid=
wait "${clients[@]}"
cat "$work"/waiting*.out | indent
check "every waiting open is answered, with the share's default verdict" \
  test "$(cat "$work"/waiting*.out | grep -c ': access rejected$')" = 5
check "5 Warning lines \"Error on scanning ...\"" test "$(count 'Warning: Error on scanning' "$log")" = 5
grep -F 'DazaVadov connection error' "$log" | head -2 | cut -d' ' -f4- | indent
start_fcheck
sleep 4
say "the file checker runs again; an open 4 s after the failure:"
vfs "open $share/clean6.txt" | indent
check "within 10 s of the failure a scan fails at once, without reaching the file checker" \
  no_scan_yet
say "waiting out the rest of the 10 seconds"
sleep 6.5
result=$(vfs "open $share/clean6.txt")
say "$result"
check "after 10 s the next open reopens the proxy and is scanned: access allowed" \
  test "$result" = "#1 open $share/clean6.txt: access allowed"
check "the file checker saw OPEN_PROXY and the scan" fcheck_has "PROXY_SCAN_REQUEST serial=1 path=\"$share/clean6.txt\""
if logged "Threats subscription: too many errors, decided to be broken"; then
  say "the threats subscription gave up while the file checker was away (21 failed connects);"
  say "SIGHUP: the reconfiguration starts it again"
  kill -HUP "$configd_pid"
fi
check "the threats subscription is back" wait_until 10 fcheck_has "SUBSCRIBE_TO_THREATS"
stop_all

section "The threat database locked, deleted, then replaced by a corrupt file"
start_fcheck
start_daemon
for name in bad1.com bad2.com bad3.com bad4.com; do test_file "$name"; done
vfs "open $share/bad1.com" | indent
check "the first detection is recorded" wait_until 10 rows_are bad1.com 1

say "another process holds the database in an exclusive transaction for 5 s"
(
  echo ".timeout 10000"
  echo "BEGIN EXCLUSIVE;"
  echo ".shell touch '$work/locked'"
  sleep 5
  echo "COMMIT;"
) | sqlite3 "$db" &
locker=$!
wait_until 15 test -e "$work/locked" || say "the lock was not taken"
t0=$SECONDS
vfs "open $share/clean7.txt" >"$work/locked-open.out" &
opener=$!
result=$(vfs "read $share/clean1.txt" "read $share/clean2.txt" "read $share/bad1.com" "read $share/bad2.com" \
  "read $share/bad2.com" "close $share/bad2.com")
indent <<<"$result"
check "while it is locked, reads and closes get their verdicts at once ($((SECONDS - t0)) s)" \
  test "$(grep -c 'access allowed$' <<<"$result") $(grep -c 'access rejected$' <<<"$result")" = "2 4"
check "an open of a file not seen before waits: it asks the database whether the file is locked" \
  test ! -s "$work/locked-open.out" -a -d "/proc/$locker"
wait "$opener"
indent <"$work/locked-open.out"
check "and is answered once the lock is gone ($((SECONDS - t0)) s)" grep -q ': access allowed$' "$work/locked-open.out"
wait "$locker"
check "the detection made meanwhile is recorded once" wait_until 10 rows_are bad2.com 1
sleep 1
check "a second later: still one row each for the two files" test "$(rows bad1.com) $(rows bad2.com)" = "1 1"

say "the database file deleted"
rm -f "$db" "$db-journal"
result=$(vfs "read $share/clean3.txt" "read $share/bad3.com")
indent <<<"$result"
check "verdicts keep coming" test "$(grep -c 'access' <<<"$result")" = 2
say "(the daemon and the file checker both still hold the deleted file: nothing fails yet)"
mark=$(lines)
say "SIGUSR2 to the file checker: a threats alarm; the daemon subscribes again and reopens the path"
kill -USR2 "$fcheck_pid"
check "the open fails: a \"Threat base: \" line" wait_until 10 logged_since 'Error: Threat base: ' "$mark"
tail -n "+$mark" "$log" | grep -F 'Threat base: ' | head -1 | cut -d' ' -f4- | indent
say "the path now holds $(stat -c '%s bytes, mode %a' "$db" 2>/dev/null || echo 'no file') (the daemon's open made it)"
sleep 3
say "3 s later: $(count_since 'Error: Threat base: ' "$mark") failed opens (each close makes it subscribe again, once a second)"
result=$(vfs "read $share/clean5.txt")
indent <<<"$result"
check "verdicts keep coming" grep -q 'access allowed$' <<<"$result"

say "a corrupt file in its place"
head -c 65536 /dev/urandom >"$db"
say "one alarm a second (the daemon subscribes at most once a second) until it gives up"
for ((i = 0; i < 40; i++)); do
  logged "Threat base: too many errors, decided to be broken" && break
  kill -USR2 "$fcheck_pid"
  [ $((i % 5)) = 0 ] && vfs "read $share/clean$((i % 8 + 1)).txt" | indent
  sleep 1.1
done
say "failed opens since the deletion: $(count_since 'Error: Threat base: ' "$mark")"
tail -n "+$mark" "$log" | grep -F 'Threat base: ' | cut -d' ' -f4- | sort | uniq -c | indent
check "after 21 failures: \"Threat base: too many errors, decided to be broken\"" \
  logged "Threat base: too many errors, decided to be broken"
check "exactly 21 failures led there" test "$(count_since 'Error: Threat base: ' "$mark")" = 21
result=$(vfs "read $share/clean4.txt" "open $share/bad4.com")
indent <<<"$result"
check "verdicts keep coming while it is broken" test "$(grep -c 'access' <<<"$result")" = 2
mark=$(lines)
kill -USR2 "$fcheck_pid"
sleep 1.5
check "while broken, alarms open nothing" test "$(count_since 'Threat base: ' "$mark")" = 0

say "recovery: the file checker restarted on a fresh database, SIGHUP to the daemon"
stop "$fcheck_pid"
rm -f "$db"
start_fcheck
kill -HUP "$configd_pid"
check "the daemon subscribes again" wait_until 10 fcheck_has "SUBSCRIBE_TO_THREATS"
say "waiting out the proxy scanner's 10 seconds"
sleep 10.5
vfs "open $share/bad4.com" | indent
check "a new detection is recorded, with the share tag the daemon writes" wait_until 10 daemon_rows_are 1
stop_all

section "Alert files that cannot be written"
start_fcheck
start_daemon
test_file old.com
echo "kept" >"$share/old.com.quarn.alert.txt"
result=$(vfs "open $share/old.com")
say "$result"
check "an alert file already there: verdict unchanged" test "$result" = "#1 open $share/old.com: access rejected"
grep -F 'Failed to create' "$log" | cut -d' ' -f4- | indent
check "the Warning line" logged "Warning: Failed to create \"$share/old.com.quarn.alert.txt\": open: File exists"
check "the old alert file is left as it was" test "$(cat "$share/old.com.quarn.alert.txt")" = kept
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
  grep -F "Failed to create \"$full" "$log" | cut -d' ' -f4- | indent
  check "the Warning line" logged "Warning: Failed to create \"$full/bad.com.quarn.alert.txt\": write: No space left on device"
else
  say "skipped: a full file system needs root and mount"
fi
stop_all

section "Result"
if [ "$failures" = 0 ]; then say "all checks passed"; else say "$failures checks FAILED"; fi
[ "$failures" = 0 ]
