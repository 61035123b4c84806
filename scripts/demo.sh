#!/usr/bin/env bash
# The daemon on a sample share: installs what is missing, builds, then runs quarn-smbgardix under the
# ConfigD stand-in with the file-checker stand-in, and plays a VFS module against it with vfs-client.
# Everything it writes goes to one temporary folder, removed at the end (QN_DEMO_KEEP=1 keeps it),
# and to the build tree (QN_BUILD_ROOT as for scripts/test.sh; QN_JOBS caps the build's jobs).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
action_delay_ms=3000

section() { printf '\n== %s\n' "$*"; }
indent() { sed 's/\r$//; s/^/    /'; }
listing() { find "$1" -maxdepth 1 -type f -printf '%f (%s bytes)\n' | sort | indent; }
fail() {
  echo "demo: $*" >&2
  for log in "${work:-}"/daemon.log "${work:-}"/fcheck.log; do
    [ -s "$log" ] && { echo "--- last lines of ${log##*/}:"; tail -n 15 "$log"; } >&2
  done
  exit 1
}
# Polls a condition every 0.1 s for at most $1 seconds.
wait_until() {
  local limit=$(($1 * 10)) what=$2 i
  shift 2
  for ((i = 0; i < limit; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for $what"
}

section "Installing missing packages"
bash scripts/install-deps.sh
echo "    done"

out=${QN_BUILD_ROOT:-$root/build}
build=$out/plain
section "Building the daemon and the stand-ins in ${build#"$root"/}"
if [ ! -f "$build/CMakeCache.txt" ]; then
  echo "    configuring a new build (the first build takes a few minutes)"
  mkdir -p "$build"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build/demo-configure.log" 2>&1 ||
    { tail -20 "$build/demo-configure.log" >&2; fail "configuring failed"; }
fi
cmake --build "$build" -j "${QN_JOBS:-$(nproc)}" --target quarn-smbgardix configd-stub fcheck-stub vfs-client \
  >"$build/demo-build.log" 2>&1 || { tail -30 "$build/demo-build.log" >&2; fail "building failed"; }
bin=$build/bin
echo "    done"

started=$SECONDS
work=$(mktemp -d "${TMPDIR:-/tmp}/smbgardix-demo.XXXXXX")
fcheck_pid=
configd_pid=
# The ConfigD stand-in passes SIGTERM on and returns once the daemon has exited.
cleanup() {
  for pid in $configd_pid $fcheck_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "${QN_DEMO_KEEP:-}" ]; then echo "(kept $work)"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Samba's chroot: the module names files under it as /share/..., and the daemon's socket lies in it.
chroot=$work/root
share=$chroot/share
mkdir -p "$share" "$chroot/run" "$work/fcheck"
printf 'Minutes of the Monday meeting.\n' >"$share/minutes.txt"
"$bin/fcheck-stub" --make-test-file "$share/infected.com"
section "Sample share $share"
listing "$share"

section "Starting the file checker (fcheck-stub) with its threat database"
db=$work/fcheck/threats.db
"$bin/fcheck-stub" --socket "$work/fcheck/fc.sock" --db "$db" --quarantine "$work/fcheck/quarantine" \
  >"$work/fcheck.log" 2>&1 &
fcheck_pid=$!
wait_until 10 "the file checker" grep -qx ready "$work/fcheck.log"
echo "    listening on $work/fcheck/fc.sock"

section "Starting quarn-smbgardix under the ConfigD stand-in (configd-stub) with these settings"
cat >"$work/smbgardix.conf" <<EOF
log_level: LOG_LEVEL_INFO
actual_log { type: STDERR }
samba_chroot_dir: "$chroot"
smb_socket_path: "run/smbgardix.sock"
max_cache_size: 1048576
action_delay: $action_delay_ms
share { item { tag: "public" alert_files: true on_known_virus: SMB_QUARANTINE } }
EOF
indent <"$work/smbgardix.conf"
"$bin/configd-stub" --config "$work/smbgardix.conf" --fcheck-socket "$work/fcheck/fc.sock" \
  >"$work/configd.log" 2>"$work/daemon.log" &
configd_pid=$!
socket=$chroot/run/smbgardix.sock
wait_until 10 "the daemon's socket" test -S "$socket"
wait_until 10 "the threats subscription" grep -q "sent THREATS_SUBSCRIBED" "$work/fcheck.log"
echo "    the daemon listens on $socket and has opened the threat database"

vfs() { "$bin/vfs-client" --socket "$socket" --basedir /share --tag public --chroot "$chroot" "$@"; }
daemon_lines() { grep -F "$1" "$work/daemon.log" | indent; }

section "A clean file, opened twice through the VFS module (vfs-client), one connection each"
vfs "open /share/minutes.txt" | indent
vfs "open /share/minutes.txt" | indent
scans=$(grep -c 'PROXY_SCAN_REQUEST .*minutes.txt' "$work/fcheck.log" || true)
echo "    the file checker scanned it $scans time(s): the second answer came from the clean-file cache"
[ "$scans" = 1 ] || fail "the clean file was scanned $scans times"

section "The infected file, written by CORP\\alice from 192.0.2.7, then opened"
vfs "write /share/infected.com alice@CORP 192.0.2.7" "open /share/infected.com" | indent
echo "    the daemon's log:"
wait_until 10 "the verdict line" grep -q 'infected.com": access rejected' "$work/daemon.log"
daemon_lines infected.com

alert=$share/infected.com.quarn.alert.txt
section "The alert file written beside it, ${alert#"$chroot"}"
[ -f "$alert" ] || fail "no alert file"
indent <"$alert"

section "The detection in the threat database (sqlite3)"
sql() { sqlite3 -cmd ".timeout 5000" "$@"; }
query() { sql -header -column "$db" "$1" | indent; }
# The daemon writes the share tag, the lock and the writer a moment after the file checker's row.
row_completed() { [ "$(sql "$db" 'SELECT count(*) FROM history WHERE tag IS NOT NULL')" = 1 ]; }
wait_until 10 "the detection's row" row_completed
query "SELECT history_id, h.threat_id, event, CAST(path AS TEXT) AS path, tag, locked, neutralized,
              remote_user, remote_domain, remote_ip FROM history h JOIN threat USING (threat_id)"

section "Waiting out the action delay ($((action_delay_ms / 1000)) s after the detection)"
wait_until 20 "the delayed action" test ! -e "$share/infected.com"
wait_until 10 "the alert file's removal" test ! -e "$alert"
echo "    the daemon's log:"
daemon_lines "Executing delayed action"
echo "    the file checker's log:"
grep -F "threat 1: " "$work/fcheck.log" | indent
echo "    the share now holds:"
listing "$share"
echo "    the quarantine holds:"
listing "$work/fcheck/quarantine"
echo "    the threat's history, the neutralized row last (event 3: quarantined):"
query "SELECT history_id, threat_id, event, tag, locked, neutralized FROM history ORDER BY history_id"
echo "    alert file ${alert#"$chroot"}: removed"

section "Shutdown: SIGTERM to the ConfigD stand-in, which passes it on"
kill -TERM "$configd_pid"
status=0
wait "$configd_pid" || status=$?
configd_pid=
grep -E "Termination signal|Exit with status" "$work/daemon.log" | indent
echo "    exit status of quarn-smbgardix: $status"
[ "$status" = 107 ] || fail "the daemon ended with status $status, not 107"
kill -TERM "$fcheck_pid"
wait "$fcheck_pid" || fail "the file checker ended with status $?"
fcheck_pid=

section "Demo finished in $((SECONDS - started)) s (after the build)"
