#!/usr/bin/env bash
# The package under a real systemd. A Debian root, made once with debootstrap
# and kept in the build folder, boots with systemd-nspawn under a memory
# layer that each run throws away; the built .deb goes in with dpkg -i, the
# simulated client and closer into the client folder, the simulated server
# into /srv, and a drop-in points the service at them with a scaled clock and
# a short watchdog. Each check prints one line with what it saw. Needs root,
# systemd-nspawn, debootstrap and the mirror apt uses; without one of them it
# says SKIPPED and exits 77, as it does in a sanitized build (SANITIZED 1).
# Usage: real_systemd.sh BUILD_DIR [SANITIZED]
set -u
begun=$(date +%s)
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
skip() { echo "SKIPPED: real systemd ($*)"; exit 77; }
[ "${2:-0}" = 0 ] || skip "run by the default build only; this one is sanitized"
[ "$(id -u)" -eq 0 ] || skip "needs root to boot a container"
build=$(cd "$1" && pwd) && bin=$build/bin
. "$here/../../scripts/deps.sh"
need_packages systemd-container debootstrap xxhash >&2 || skip "systemd-nspawn, debootstrap or xxhash missing"
release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(sed -n 's|^URIs: *\(http[^ ]*\).*|\1|p' /etc/apt/sources.list.d/*.sources 2>/dev/null | grep -v security | head -n 1)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^http/) { print $i; exit } }' \
  /etc/apt/sources.list 2>/dev/null | grep -v security | head -n 1)
[ -n "$mirror" ] && [ -n "$release" ] || skip "no Debian mirror in apt's sources"
work=$(mktemp -d) || exit 1
nspawn= ct=
status=0
fail() { echo "FAIL: $*"; status=1; }
in_ct() { nsenter -t "$ct" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
prop() { in_ct systemctl show -P "$2" "$1"; }  # UNIT PROPERTY
ctl() { in_ct timeout 120 systemctl "$@" >>"$work/systemctl.log" 2>&1; }
journal() { in_ct journalctl -q -o cat "$@"; }
cleanup() {
  # Killing the container's init ends everything in it; what it wrote was
  # in memory only.
  [ -n "$ct" ] && kill -KILL "$ct" 2>/dev/null
  if [ -n "$nspawn" ]; then
    for _ in $(seq 100); do kill -0 "$nspawn" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$nspawn" 2>/dev/null
    wait "$nspawn" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# The root, made once: debootstrap into a scratch name, renamed when whole.
root=$build/nspawn-root-$release
if [ ! -d "$root" ]; then
  rm -rf "$root.tmp"
  echo "making the container's root: debootstrap $release from $mirror"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,logrotate "$release" "$root.tmp" \
    "$mirror" >"$work/debootstrap.log" 2>&1 || { rm -rf "$root.tmp"; skip "debootstrap failed: $(tail -n 1 "$work/debootstrap.log")"; }
  mv "$root.tmp" "$root" || exit 1
fi
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack did not build the .deb"; exit 1; }
deb=$(ls "$work"/pkg/vorcnt_*.deb | head -n 1)

# The root stays as debootstrap made it: each run writes to a memory layer
# above it, gone with the container.
systemd-nspawn -D "$root" --volatile=overlay --boot --register=no --keep-unit --console=passive -M vorcnt-test \
  --bind-ro="$work/pkg:/mnt/pkg" >"$work/nspawn.log" 2>&1 &
nspawn=$!
# Waits up to SECONDS for CMD to succeed; polls every tenth of a second.
until_ok() {  # SECONDS CMD...
  local end=$((SECONDS + $1))
  shift
  until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.1; done
}
# Up once its systemd has booted; "degraded" is the container's own matter.
booted() {
  local p
  for p in $(pgrep -P "$nspawn"); do [ "$(cat "/proc/$p/comm" 2>/dev/null)" = systemd ] && ct=$p; done
  [ -n "$ct" ] && in_ct systemctl is-system-running 2>/dev/null | grep -Eqx 'running|degraded'
}
# A machine that cannot boot a container (no cgroup delegation, a container
# itself) is one this check cannot run on, as without nspawn.
until_ok 60 booted || skip "the container did not boot: $(tail -n 1 "$work/nspawn.log")"
echo "booted: $(in_ct systemctl --version | head -n 1), $(in_ct systemctl is-system-running), in $(($(date +%s) - begun)) s"
in_ct dpkg -i "/mnt/pkg/$(basename "$deb")" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; echo "FAIL: dpkg -i"; exit 1; }

# The world, written through the container's root: the client and closer in
# the client folder with two buffered units, the server with more work.
CT=/proc/$ct/root
BIN=$bin W=$work C=$CT/var/lib/vorelith SRV=$CT/srv/vorsim VORSIM_RUNDIR=$CT/srv/vorsim-run
. "$here/../e2e/world.sh"
fail() { echo "FAIL: $*"; status=1; }
new_world 16 && add_unit 0 && add_unit 1 && cp "$bin/vorclose" "$C/" || exit 1
in_ct chown -R vorcnt:vorcnt /var/lib/vorelith /srv/vorsim /srv/vorsim-run
printf 'UNITS = 2\nTIME = 120\nHISTORY = /var/log/vorcnt/units.tsv\n' >>"$CT/etc/vorcnt/vorcnt.cfg"
mkdir -p "$CT/etc/systemd/system/vorcnt.service.d" "$CT/etc/systemd/system/vorstat-prometheus.timer.d"
cat >"$CT/etc/systemd/system/vorcnt.service.d/test.conf" <<'EOF'
[Service]
Environment=VORCNT_TIME_SCALE=0.01 VORSIM_COMPUTE_SECONDS=300 VORSIM_SERVER=/srv/vorsim VORSIM_RUNDIR=/srv/vorsim-run
ReadWritePaths=/srv/vorsim /srv/vorsim-run
WatchdogSec=5s
RestartSec=1s
EOF
# The timer every two seconds rather than every minute.
printf '[Timer]\nOnBootSec=\nOnUnitActiveSec=\nOnActiveSec=1s\nOnUnitActiveSec=2s\nAccuracySec=100ms\n' \
  >"$CT/etc/systemd/system/vorstat-prometheus.timer.d/test.conf"
ctl daemon-reload

# Every StatusText seen, collected by the waits below.
: >"$work/status_texts"
note_status() { prop vorcnt StatusText | grep . >>"$work/status_texts"; }
server() { "$bin/vorserver" verify "$SRV" | sed -n "s/^$1 //p"; }  # COUNT
verified() { server verified; }
lost() { "$bin/vorserver" lost "$SRV" "$C/" "$VORSIM_RUNDIR/client.log" | tail -n 1; }
# Polls until CMD succeeds, noting the status on the way; fails after SECONDS.
wait_for() {  # SECONDS WHAT CMD...
  local end=$((SECONDS + $1)) what=$2
  shift 2
  until "$@"; do
    note_status
    [ $SECONDS -lt $end ] || { fail "gave up waiting for $what"; return 1; }
    sleep 0.1
  done
}
state_is() { [ "$(prop vorcnt ActiveState)" = "$1" ]; }
computing() { state_is active && prop vorcnt StatusText | grep -q '^computing unit'; }
verified_past() { [ "$(verified)" -gt "$1" ]; }

# --- a refused setting: 78, never ready, not restarted -----------------------
cp "$CT/etc/vorcnt/vorcnt.cfg" "$work/good.cfg"
echo 'UNITS = 99' >>"$CT/etc/vorcnt/vorcnt.cfg"
ctl start vorcnt && fail "systemctl start with UNITS = 99 succeeded"
sleep 2  # twice RestartSec: a restart would have come by now
bad="exit $(prop vorcnt ExecMainStatus), $(prop vorcnt ActiveState), restarts $(prop vorcnt NRestarts)"
ready_lines=$(journal -u vorcnt | grep -c '^Started ')
echo "refused setting: $bad, became ready $ready_lines times"
[ "$bad" = "exit 78, failed, restarts 0" ] && [ "$ready_lines" -eq 0 ] || fail "a refused setting must exit 78 unready and unrestarted"
cp "$work/good.cfg" "$CT/etc/vorcnt/vorcnt.cfg"
ctl reset-failed vorcnt

# --- readiness and the status line -------------------------------------------
ctl start --no-block vorcnt
first=$(prop vorcnt ActiveState)
wait_for 30 "the unit to become active" state_is active
ready_ms=$((($(prop vorcnt ActiveEnterTimestampMonotonic) - $(prop vorcnt InactiveExitTimestampMonotonic)) / 1000))
wait_for 60 "two results verified" verified_past 1
echo "readiness: $first at the start, active after READY=1 $ready_ms ms later (Type=$(prop vorcnt Type))"
[ "$(prop vorcnt Type)" = notify ] && [ "$(journal -u vorcnt | grep -c '^Started ')" -eq 1 ] || fail "the unit is not ready once"
status_pid=$(sed -n 's/^pid=//p' "$C/vorcnt.status")
main_pid=$(prop vorcnt MainPID)
[ "$status_pid" = "$main_pid" ] || fail "the status file says pid $status_pid, the unit $main_pid"

# --- metrics: skipped without the collector's folder, written with it --------
prom=/var/lib/prometheus/node-exporter/vorcnt.prom
ctl start vorstat-prometheus.timer
tried() { journal -u vorstat-prometheus.service -u vorstat-prometheus.timer | grep -Eq 'condition|Failed|Deactivated|Finished'; }
wait_for 20 "the timer's first run" tried
skipped=$(journal -u vorstat-prometheus.service -u vorstat-prometheus.timer | grep -c 'unmet condition')
failed=$(journal -u vorstat-prometheus.service | grep -c 'Failed')
echo "metrics timer without $(dirname $prom): skipped $skipped, failed $failed"
[ "$skipped" -ge 1 ] && [ "$failed" -eq 0 ] || fail "the timer must be skipped, not fail, without the collector's folder"
# The folder is made with no run under way: one that began before it would
# find it read-only.
ctl stop vorstat-prometheus.timer vorstat-prometheus.service
in_ct mkdir -p "$(dirname $prom)"
ctl start vorstat-prometheus.timer
wait_for 20 "the metrics file" test -s "$CT$prom"
samples=$(grep -c '^vorcnt_' "$CT$prom")
echo "metrics timer with the folder: $prom, $samples samples, service $(prop vorstat-prometheus.service Result)"
[ "$samples" -ge 5 ] && grep -q '^vorcnt_units{' "$CT$prom" || fail "metrics file: $(head -n 5 "$CT$prom")"
ctl stop vorstat-prometheus.timer

# --- logrotate.service rotates the unit journal while the controller writes --
# A last rotation long ago makes the monthly one due, as it will be.
printf 'logrotate state -- version 2\n"/var/log/vorcnt/units.tsv" 2000-1-1-0:0:0\n' >"$CT/var/lib/logrotate/status"
ctl start logrotate.service || fail "logrotate.service: $(journal -u logrotate | tail -n 3)"
new_lines() { [ "$(cat "$CT/var/log/vorcnt/units.tsv" 2>/dev/null | wc -l)" -ge 2 ]; }
wait_for 60 "a journal line after the rotation" new_lines
lines() { echo $(($(cat "$CT/var/log/vorcnt/$1" 2>/dev/null | wc -l) - 1)); }  # FILE: below the header
echo "logrotate.service: $(lines units.tsv.1) lines in units.tsv.1, $(lines units.tsv) in the new units.tsv"
[ "$(lines units.tsv.1)" -gt 0 ] || fail "no units.tsv.1 after logrotate"

# --- SIGSTOP: the watchdog kills it, systemd restarts it ---------------------
wait_for 30 "the client computing" computing
frozen=$(prop vorcnt MainPID)
in_ct sh -c 'kill -STOP "$1"' _ "$frozen"
restarted() { [ "$(prop vorcnt NRestarts)" -ge 1 ] && state_is active && [ "$(prop vorcnt MainPID)" != "$frozen" ]; }
wait_for 30 "the watchdog's restart" restarted
watchdog=$(journal -u vorcnt | grep -c "Failed with result 'watchdog'")
at=$(verified)
wait_for 60 "a result after the restart" verified_past "$at"

# --- systemctl stop while the client computes --------------------------------
wait_for 30 "the client computing" computing
took=$(date +%s%N)
ctl stop vorcnt
took=$((($(date +%s%N) - took) / 1000000))
stop_result="$(prop vorcnt Result), exit $(prop vorcnt ExecMainStatus)"
gone=$(lost)
echo "watchdog restart after SIGSTOP: $watchdog, $gone"
[ "$watchdog" -eq 1 ] && [ "$gone" = "lost 0" ] || fail "the watchdog did not restart a frozen controller once, or lost a result"
closed=$(tail -n 2 "$VORSIM_RUNDIR/client.log" | tr '\n' ' ')
goes_on=$(journal -u vorcnt | grep -c 'the client goes on')
echo "systemctl stop while computing: $took ms (TimeoutStopSec $(prop vorcnt TimeoutStopUSec)), $stop_result, client: $closed, 'goes on' lines: $goes_on"
[ "$stop_result" = "success, exit 0" ] && [ "$took" -lt 60000 ] && [ "$closed" = "order exit exit " ] && [ "$goes_on" -eq 0 ] ||
  fail "the stop must end the client through the closer, then the controller with status 0"
journal -u vorcnt | grep -E 'timed out|SIGKILL' && fail "the stop was forced"
at=$(verified)
ctl start vorcnt || fail "the start after the stop failed"
wait_for 60 "a result after the new start" verified_past "$at"
echo "start after the stop: $(prop vorcnt ActiveState), $(($(verified) - at)) more results verified"
ctl stop vorcnt

# --- every cycle's step through the sandbox, nothing lost ---------------------
sed -E 's/\([0-9]+ %\)/(N %)/' "$work/status_texts" | sort -u >"$work/statuses"
echo "StatusText: $(wc -l <"$work/statuses") states seen: $(paste -sd'|' "$work/statuses")"
grep -q '^computing unit[0-9] (N %)$' "$work/statuses" && grep -q '^connecting unit' "$work/statuses" ||
  fail "StatusText never said computing and connecting"
results=$(server results) gone=$(lost)
echo "results: $results sent, $(verified) verified, $(server mismatched) mismatched, $(server duplicates) duplicates, $gone"
[ "$results" = "$(verified)" ] && [ "$(server mismatched)$(server duplicates)" = 00 ] && [ "$gone" = "lost 0" ] &&
  [ "$results" -ge 4 ] || fail "every result sent must be verified, once, and none lost"
journals=$(cat "$CT"/var/log/vorcnt/units.tsv.1 "$CT"/var/log/vorcnt/units.tsv)
computed=$(awk -F'\t' '$3 == "computed" { print $4 }' <<<"$journals" | sort -u)
missing=0
for f in "$SRV"/results/*.res; do grep -qx "$(xxh128sum "$f" 2>/dev/null | cut -c1-12)" <<<"$computed" || missing=$((missing + 1)); done
torn=$(grep -cvP '^(time\tunit\tevent\tidentity\tdetail|\d{4}-\d\d-\d\dT[^\t]+\t[-0-9]+\t[a-z_]+\t[^\t]*\t[^\t]*)$' <<<"$journals")
echo "unit journal across the rotation: $(grep -c . <<<"$computed") computed, $missing results missing, $torn torn lines"
[ "$missing" -eq 0 ] && [ "$torn" -eq 0 ] || fail "the unit journal lost lines across the rotation"
events=$(tail -q -n +2 "$CT"/var/log/vorcnt/units.tsv* | cut -f3 | sort | uniq -c | awk '{ printf "%s %s, ", $2, $1 }')
# systemd's own "..., ignoring" lines tell what this container lacks, not
# what the sandbox denied the programs.
denied=$(journal -u vorcnt -u vorstat-prometheus.service | grep -v ', ignoring: ' |
  grep -iE 'SIGSYS|bad system call|not permitted|permission denied|read-only file system|core-dump')
echo "hardening: ${events}status file pid $status_pid, metrics $samples samples; $(grep -c . <<<"$denied") denials in the journal"
grep -q 'pop_compute' <<<"$events" && grep -q 'push' <<<"$events" && grep -q 'connected' <<<"$events" && [ -z "$denied" ] ||
  fail "a step of the cycle did not get through: $denied"

[ $status -eq 0 ] || in_ct journalctl -q -o short-monotonic -u vorcnt -u vorstat-prometheus.service | tail -n 60
echo "real systemd: $([ $status -eq 0 ] && echo ok || echo FAILED) in $(($(date +%s) - begun)) s"
exit $status
