#!/usr/bin/env bash
# Faults and hostile input, tried on the real controller as a user would
# meet them.
#
#   faults.sh BIN_DIR CASE
#
# Copy faults (with the simulated client and server): a unit "folder" that
# is a plain file, a unit folder nothing can be written into, one that is
# full, and one that vanishes while the client computes. In each the
# controller keeps every source file, says so in one line, goes on polling,
# and carries on once the fault is gone; nothing is lost. Then, off the happy
# path: a restart with a result finished meanwhile, a second controller on
# the same folder, settings in error with work in the client folder, and a
# unit folder that an unprivileged user cannot empty or read from.
#
# Hostile input (a stand-in client that does nothing; meant for the sanitizer build, useful with any):
# over-long arguments and paths, binary noise and 10,000-byte tokens in
# vorcnt.cfg, state.vwu and user_info.vwu, bg_pot indexes out of range. Each
# gives its one message where one is due, and the controller neither crashes
# nor trips a sanitizer.
#
# Exit status 77 means the case cannot be set up here (it is skipped).
set -u
export LC_ALL=C

BIN=$(cd "${1:?usage: faults.sh BIN_DIR CASE}" && pwd)
CASE=${2:?usage: faults.sh BIN_DIR CASE}
DEADLINE=${VORCNT_E2E_DEADLINE:-90}

W=$(mktemp -d /tmp/vfl.XXXXXX)
export TMPDIR=$W  # a session of its own: controllers in other runs are not "another vorcnt"
C=$W/c
SRV=$W/srv
# Only the closer and the server tool are found along PATH: a run whose path
# was refused must not find a client to start.
mkdir -p "$W/tools"
ln -s "$BIN/vorclose" "$BIN/vorserver" "$W/tools/"
export PATH="$W/tools:$PATH"
export VORSIM_RUNDIR=$W/run
export VORSIM_SERVER=$SRV
export VORCNT_TIME_SCALE=${VORCNT_TIME_SCALE:-0.005}
export VORSIM_COMPUTE_SECONDS=300
export VORSIM_LIFETIME=600
unset VORSIM_FAULT
# Leaks are not what these runs look for, and a stopped run is never checked.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
CPID=
MOUNTED=
status=0
WORLD_UNIT_KB=64
. "$(dirname "${BASH_SOURCE[0]}")/world.sh"

show_logs() {
  echo "---- controller output (UTF-8) ----"; iconv -c -f CP932 -t UTF-8 "$W/out.raw" 2>/dev/null | cut -c1-300
  echo "---- controller stderr ----"; cut -c1-300 "$W/err.txt" 2>/dev/null
  echo "---- client.log ----"; cat "$VORSIM_RUNDIR/client.log" 2>/dev/null
  echo "---- client folder ----"; (cd "$C" 2>/dev/null && ls -lR)
}

cleanup() {
  [ -n "$CPID" ] && kill -KILL "$CPID" 2>/dev/null
  vorclose -exit -echo off >/dev/null 2>&1
  [ -n "$MOUNTED" ] && umount "$MOUNTED" 2>/dev/null
  chattr -R -i "$W" 2>/dev/null
  chmod -R u+w "$W" 2>/dev/null
  rm -rf "$W"
}
trap cleanup EXIT

skip() {
  echo "skipped [$CASE]: $*"
  exit 77
}

# ---- the world --------------------------------------------------------------

client_folder_holds_no_unit() { [ -z "$(checksums "$C" 2>/dev/null)" ]; }

checksums() {  # FOLDER: the "*.vwu" files and their sums
  (cd "$1" && for f in *.vwu; do [ -f "$f" ] && echo "$f $(cksum <"$f")"; done)
}

# ---- running the controller -------------------------------------------------

start_controller() {  # ARGS...
  : >>"$VORSIM_RUNDIR/orders.log" 2>/dev/null
  (cd "$W" && exec "$BIN/vorcnt" "$@" >"$W/out.raw" 2>"$W/err.txt") &
  CPID=$!
}

stop_controller() {
  if [ -n "$CPID" ]; then
    kill -0 "$CPID" 2>/dev/null || fail "the controller had ended before it was stopped"
    kill -TERM "$CPID" 2>/dev/null
    wait "$CPID" 2>/dev/null
    local stopped=$?
    [ $stopped -eq 0 ] || fail "stopped from outside, the controller exited with status $stopped"
    CPID=
  fi
  vorclose -exit -echo off >/dev/null 2>&1
  iconv -c -f CP932 -t UTF-8 <"$W/out.raw" | tr -d '\r' >"$W/out.txt"
}

# Runs the controller to its own end (a run that ends by itself, such as
# -version); its exit status is in RUN_STATUS.
run_to_end() {  # ARGS...
  (cd "$W" && exec timeout 60 "$BIN/vorcnt" "$@" >"$W/out.raw" 2>"$W/err.txt")
  RUN_STATUS=$?
  iconv -c -f CP932 -t UTF-8 <"$W/out.raw" | tr -d '\r' >"$W/out.txt"
}

output_count_at_least() {  # N TEXT: lines containing TEXT
  local n
  n=$(grep -cF -- "$2" "$W/out.raw" 2>/dev/null)
  [ "${n:-0}" -ge "$1" ]
}

# ---- checks -------------------------------------------------------------------

# No sanitizer report and no line longer than any the controller can form.
expect_sound_run() {
  if grep -qE 'AddressSanitizer|LeakSanitizer|runtime error|Segmentation|Aborted' "$W/err.txt"; then
    fail "sanitizer or crash report: $(grep -m3 -E 'Sanitizer|runtime error|Segmentation|Aborted' "$W/err.txt")"
  fi
  local longest
  longest=$(awk '{ if (length($0) > m) m = length($0) } END { print m + 0 }' "$W/out.raw")
  [ "$longest" -le 300 ] || fail "an output line of $longest bytes"
}

# ---- copy faults ------------------------------------------------------------------

# A finished result in the client folder, started with -fill: its new home
# would be unit1, which is a plain file. That name is passed over like a
# missing unit folder, the work has no home, and the run stops with nothing
# moved; once unit1 is a folder, the next start pushes the result there and
# sends it.
# Waits for the first failure line (an extended regular expression), then
# for three retries that fail the same way: they must print nothing at all,
# on standard output or standard error.
quiet_retries() {  # WHAT PATTERN
  failure_line() { iconv -c -f CP932 -t UTF-8 <"$W/out.raw" | grep -qE -- "$2"; }
  wait_until "$1" failure_line "$@" || return
  local out err
  out=$(wc -c <"$W/out.raw") err=$(wc -c <"$W/err.txt")
  sleep "$(awk -v s="$VORCNT_TIME_SCALE" 'BEGIN { print 3 * 120 * s + 0.2 }')"
  [ "$(wc -c <"$W/out.raw")" -eq "$out" ] || fail "a retry that failed the same way printed: $(tail -c +$((out + 1)) "$W/out.raw" | head -n 3)"
  [ "$(wc -c <"$W/err.txt")" -eq "$err" ] || fail "a retry wrote to standard error: $(tail -c +$((err + 1)) "$W/err.txt" | head -n 3)"
  kill -0 "$CPID" 2>/dev/null || fail "the controller ended instead of retrying"
}

case_unit_is_a_file() {
  new_world 4
  add_unit 0
  compute_here "$C"
  echo "not a folder" >"$C/unit1"
  local before
  before=$(checksums "$C")
  write_cfg
  run_to_end -fill
  expect_lines "[unit0] Dir find : 5" \
    "unit1 is not a folder: it is passed over like a missing unit folder, and no unit folder from unit1 up is used" \
    "The client folder holds work and its new unit folder, unit1, is not a folder: nothing is moved; remove that name and restart"
  expect_line_count 0 "[Unit1] push"
  [ "$(checksums "$C")" = "$before" ] || fail "the client folder's files changed"
  [ "$(cat "$C/unit1")" = "not a folder" ] || fail "the plain file unit1 was written"
  expect_sound_run

  rm "$C/unit1" && mkdir "$C/unit1"
  start_controller -fill
  wait_until "the connection to complete" output_count_at_least 1 "Data Conection Compleate."
  stop_controller
  expect_lines "[unit0] Dir find : 5" "[unit1] Dir find : 0" "[Unit1] Data計算完了" "[Unit1] push" \
    "[Unit1]:Data Conection" "[Unit1] pop" "[Unit1] Data Conection Compleate."
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
  expect_sound_run
}

# Links planted at the move record (leading nowhere yet), the journal and one
# file of the unit the push goes to, all pointing outside; the unit folder is itself a link to
# another "disk", which stays usable. Each link is refused in one line, with
# the quiet retries of any failed push; nothing outside changes, and the
# result is sent once the links are gone.
case_links_planted() {
  new_world 4
  add_unit 0
  compute_here "$C"
  local out=$W/outside
  mkdir -p "$out" "$W/disk2"
  echo PRECIOUS >"$out/precious"
  echo OUTSIDE >"$out/unit_file"
  ln -s "$W/disk2" "$C/unit1"
  ln -s "$out/record" "$C/vorcnt.move"
  ln -s "$out/precious" "$C/units.tsv"
  ln -s "$out/unit_file" "$W/disk2/result.vwu"
  local before outside
  before=$(checksums "$C")
  outside=$(cd "$out" && ls -l --time-style=+%s && cksum ./*)
  write_cfg "HISTORY = $C/units.tsv"
  start_controller -fill
  local refused="it is a link the controller did not make; nothing is done through it"
  local copy_refused="[Unit1] push failed: result.vwu where the copy goes is a link the controller did not make; nothing is copied through it, files kept in the client folder"
  quiet_retries "the refused unit file" '^\[Unit1\] push failed: result.vwu where the copy goes is a link'
  [ "$(checksums "$C")" = "$before" ] || fail "the client folder's files changed while the pushes were refused"
  rm "$W/disk2/result.vwu"
  local record_refused="[Unit1] push failed: the move record could not be written ($refused), files kept in the client folder"
  wait_until "the refused record" output_has "$record_refused"
  rm "$C/vorcnt.move"
  wait_until "the connection to complete" output_count_at_least 1 "Data Conection Compleate."
  stop_controller
  [ "$(cd "$out" && ls -l --time-style=+%s && cksum ./*)" = "$outside" ] || fail "a file outside was changed or made"
  [ -L "$C/units.tsv" ] || fail "the journal's link was replaced"
  expect_line_count 1 "$record_refused"
  expect_line_count 1 "history: cannot write $C/units.tsv ($refused); the buffer goes on without it"
  expect_lines "$copy_refused" "$record_refused" "[Unit1] push: the earlier failure has cleared" \
    "[Unit1] Data Conection Compleate."
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
  expect_sound_run
}

# Pushing into a folder into which nothing can be written fails at the copy;
# the files stay in the client folder until the folder can be written.
lock_folder() {  # FOLDER: true when nothing can be created in it any more
  chattr +i "$1" 2>/dev/null || chmod a-w "$1"
  ! touch "$1/.probe" 2>/dev/null
}

unlock_folder() { chattr -i "$1" 2>/dev/null; chmod u+w "$1"; }

case_unwritable_unit() {
  new_world 4
  add_unit 0
  compute_here "$C"
  mkdir "$C/unit1"
  lock_folder "$C/unit1" || skip "cannot make a folder unwritable here"
  local before
  before=$(checksums "$C")
  write_cfg
  start_controller -fill
  quiet_retries "the failed push" '^\[Unit1\] push failed: '
  [ "$(checksums "$C")" = "$before" ] || fail "the client folder's files changed while the pushes failed"

  unlock_folder "$C/unit1"
  wait_until "the connection to complete" output_count_at_least 1 "Data Conection Compleate."
  stop_controller
  expect_lines "[Unit1] push" "[Unit1] push" "[Unit1] push: the earlier failure has cleared" \
    "[Unit1] Data Conection Compleate."
  [ "$(grep -cE '^\[Unit1\] push failed: .*, files kept in the client folder$' "$W/out.txt")" -eq 1 ] ||
    fail "not one clear line for the failed pushes"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
  expect_sound_run
}

# A unit folder on a file system too small for the work unit the client has
# just downloaded: the copy stops halfway, the downloaded unit stays in the
# client folder, and it is pushed once there is room.
case_full_unit() {
  new_world 4
  mkdir -p "$C/unit0"
  mount -t tmpfs -o size=24k tmpfs "$C/unit0" 2>/dev/null || skip "cannot mount a small file system here"
  MOUNTED=$C/unit0
  write_cfg "UNITS = 1"
  start_controller -fill
  quiet_retries "the failed push naming the full disk" '^\[Unit0\] push failed: .*No space left on device'
  local unit
  unit=$(ls "$SRV/issued" | tail -n 1)
  cmp -s "$C/work_unit.vwu" "$SRV/issued/$unit" || fail "the downloaded work unit is not whole in the client folder"
  kill -0 "$CPID" 2>/dev/null || fail "the controller ended instead of retrying"

  [ -z "$(find "$C/unit0" -name '.vorcnt-copy-*')" ] || fail "the failed copy left its temporary file"
  umount "$MOUNTED" && MOUNTED=
  # The pop's line comes before its copy: wait for the move itself, or the
  # stop below would cut it short (harmless, but not what is checked here).
  popped() { output_count_at_least 2 "[Unit0] pop" && [ ! -e "$C/unit0/work_unit.vwu" ]; }
  wait_until "the unit to be popped for computing" popped
  stop_controller
  cmp -s "$C/work_unit.vwu" "$SRV/issued/$unit" || fail "the work unit popped for computing is not the downloaded one"
  [ "$(grep -cE '^\[Unit0\] push failed: .*No space left on device\), files kept in the client folder$' "$W/out.txt")" -eq 1 ] ||
    fail "not one clear line naming the full disk"
  expect_line_count 2 "[Unit0] push"  # the first try, and the one that cleared it
  expect_lines "[Unit0] Data Conection Compleate." "[Unit0] push" "[Unit0] push" \
    "[Unit0] push: the earlier failure has cleared" "FILL Completion" "[Unit0] pop"
  expect_sound_run
}

# The unit folder is removed while the client computes its unit: the finished
# unit cannot be pushed and stays in the client folder; once the folder is
# back it is pushed and sent.
case_unit_vanishes() {
  new_world 4
  add_unit 0
  write_cfg "UNITS = 1"
  start_controller
  wait_until "the client to compute" grep -qs '^prog=' "$C/state.vwu"
  wait_until "the pop to finish" test -z "$(ls "$C/unit0")"
  rmdir "$C/unit0"
  quiet_retries "the refused push" '^\[Unit0\] push failed: unit0 is not a folder'
  [ -f "$C/result.vwu" ] || fail "the result left the client folder"

  mkdir "$C/unit0"
  wait_until "the connection to complete" output_count_at_least 1 "Data Conection Compleate."
  stop_controller
  expect_lines "[Unit0] Data計算完了" "[Unit0] push" "[Unit0] push failed: unit0 is not a folder, files kept" \
    "[Unit0] Data計算完了" "[Unit0] push" "[Unit0] push: the earlier failure has cleared" "[Unit0]:Data Conection" \
    "[Unit0] Data Conection Compleate."
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
  expect_sound_run
}

# ---- off the happy path ---------------------------------------------------------

# Stopped while the client computed; the detached client finished. On the
# next start the result is recorded and pushed home, and the client's first
# start computes the waiting unit instead of connecting with it.
# The controller started the client on unit0, and it has begun a second unit.
computing_started() {
  output_has "[Unit0] Data計算開始" && [ "$(grep -c '^compute' "$VORSIM_RUNDIR/client.log")" -ge 2 ]
}

case_restart_with_finished_unit() {
  new_world 4
  add_unit 0
  compute_here "$C"
  local result
  result=$(checksums "$C" | grep '^result.vwu')
  write_cfg
  start_controller
  wait_until "the client to compute the waiting unit" computing_started
  stop_controller
  expect_lines "[unit0] Dir find : 5" "[Unit1] Dir maiking SUB. : 0" "[Unit1] Data計算完了" "[Unit1] push" \
    "[unitselect State_Data_Calculation]" "[Unit0]:計算待機中" "[Unit0] pop" "[Unit0] Data計算準備" "[Unit0] Data計算開始"
  expect_line_count 0 "[Unit1] Data計算準備"
  [ "$(checksums "$C/unit1" | grep '^result.vwu')" = "$result" ] || fail "the finished result is not home in unit1"
  expect_server results 0
  expect_nothing_lost
  expect_sound_run
}

# A second controller on the same client folder, started from another
# folder: one line, no closer order, nothing moved; the first goes on.
case_two_controllers() {
  new_world 4
  add_unit 0
  add_unit 1
  write_cfg
  start_controller
  wait_until "the client to compute" output_has "[Unit0] Data計算開始"
  local orders before
  orders=$(wc -l <"$VORSIM_RUNDIR/orders.log")
  before=$(ls "$C"; checksums "$C/unit1"; cksum <"$C/work_unit.vwu")
  mkdir -p "$W/second"
  local out
  out=$(cd "$W/second" && timeout 60 "$BIN/vorcnt" -exec "$C/")
  [ $? -eq 75 ] || fail "the second controller's exit status is not 75"
  [ "$out" = "Another vorcnt is working on the client folder $C/: this one ends" ] ||
    fail "the second controller printed: $out"
  [ "$(wc -l <"$VORSIM_RUNDIR/orders.log")" -eq "$orders" ] || fail "the second controller gave an order"
  # Asked only for its version, in a folder of its own: its start-up order
  # would stop the first controller's client all the same.
  out=$(cd "$W/second" && timeout 60 "$BIN/vorcnt" -version)
  [ $? -eq 75 ] || fail "a controller elsewhere: exit status not 75"
  [ "$out" = "Another vorcnt is running for this user; its client would be stopped: this one ends" ] ||
    fail "a controller elsewhere printed: $out"
  [ "$(wc -l <"$VORSIM_RUNDIR/orders.log")" -eq "$orders" ] || fail "a controller elsewhere gave an order"
  [ "$(ls "$C"; checksums "$C/unit1"; cksum <"$C/work_unit.vwu")" = "$before" ] ||
    fail "files moved under the first controller"
  kill -0 "$CPID" 2>/dev/null || fail "the first controller ended"
  stop_controller
  # Its lock went with it: a new start is not refused.
  run_to_end -version -exec "$C/"
  expect_line_count 0 "Another vorcnt is working on the client folder $C/: this one ends"
  expect_nothing_lost
}

# A service with a private /tmp (its own folder under the same name, as with
# PrivateTmp=yes) and a shell of the same user asking only for -version: the
# second controller meets the first, gives no closer order and ends.
case_private_tmp() {
  [ "$(id -u)" -eq 0 ] || skip "a private /tmp needs root (unshare -m and a tmpfs)"
  mkdir -p "$W/tmp" "$W/second"
  unshare -m --propagation private sh -c 'mount -t tmpfs tmpfs "$1"' sh "$W/tmp" 2>/dev/null ||
    skip "no mount namespace with a tmpfs here"
  new_world 4
  export TMPDIR=$W/tmp  # both runs call it so; the service's is a fresh tmpfs
  add_unit 0
  add_unit 1
  write_cfg
  : >>"$VORSIM_RUNDIR/orders.log"
  (cd "$W" && exec unshare -m --propagation private \
    sh -c 'mount -t tmpfs tmpfs "$TMPDIR" && exec "$0"' "$BIN/vorcnt" >"$W/out.raw" 2>"$W/err.txt") &
  CPID=$!
  wait_until "the client to compute" output_has "[Unit0] Data計算開始"
  local orders out
  orders=$(wc -l <"$VORSIM_RUNDIR/orders.log")
  out=$(cd "$W/second" && timeout 60 "$BIN/vorcnt" -version)
  [ "$out" = "Another vorcnt is running for this user; its client would be stopped: this one ends" ] ||
    fail "the shell's controller printed: $out"
  [ "$(wc -l <"$VORSIM_RUNDIR/orders.log")" -eq "$orders" ] || fail "the shell's controller gave an order"
  kill -0 "$CPID" 2>/dev/null || fail "the service's controller ended"
  stop_controller
  expect_nothing_lost
}

# Settings in error with a unit being computed in the client folder: it is
# computed to its end and pushed home, and the run ends by itself; no pop,
# no connection, no client started on an empty folder.
case_bad_setting_with_work() {
  new_world 4
  add_unit 0
  cp "$(take_unit)" "$C/work_unit.vwu"
  write_client_files "$C"
  write_cfg "UNITS = 99"
  run_to_end
  [ "$RUN_STATUS" -eq 78 ] || fail "exit status $RUN_STATUS, not 78 (a bad setting)"
  expect_lines "vorcnt.cfg bad arg: units = 99" "[unit0] Dir find : 5" "[Unit1] Dir maiking SUB. : 0" \
    "[Unit1] Data計算準備" "[Unit1] Data計算完了" "[Unit1] push" \
    "[Unit1] is home; the settings are in error, so nothing more is done: correct them and restart"
  expect_line_count 1 "[Unit1] push"
  expect_line_count 0 "[Unit0] pop"
  [ -f "$C/unit1/result.vwu" ] || fail "the result is not home in unit1"
  [ -z "$(checksums "$C")" ] || fail "files left in the client folder"
  expect_server results 0
  expect_nothing_lost
  expect_sound_run
}

# A unit folder that a user who is not root cannot empty, or a file in it
# that such a user cannot read (root does both regardless). The pop fails,
# leaves nothing in the client folder, and is retried quietly; the client is
# never started on a unit that did not wholly move. Once the fault is gone
# the pop completes and the unit is computed, once. Root runs the controller
# as nobody; any other user runs it as itself.
pop_fault_as_nobody() {  # FAULT UNDO LINE_PATTERN
  local as_nobody=()
  if [ "$(id -u)" -eq 0 ]; then
    command -v setpriv >/dev/null || skip "setpriv is not installed"
    id nobody >/dev/null 2>&1 || skip "no user 'nobody'"
    as_nobody=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  fi
  new_world 4
  add_unit 0
  write_cfg "UNITS = 1"
  : >>"$VORSIM_RUNDIR/orders.log"
  if [ ${#as_nobody[@]} -gt 0 ]; then
    chown -R nobody "$W"
    "${as_nobody[@]}" true 2>/dev/null || skip "setpriv cannot change user here"
    "${as_nobody[@]}" test -x "$BIN/vorcnt" || skip "the build folder cannot be run by 'nobody'"
  fi
  eval "$1"
  (cd "$W" && exec "${as_nobody[@]}" "$BIN/vorcnt" >"$W/out.raw" 2>"$W/err.txt") &
  CPID=$!
  quiet_retries "the failed pop" "^\\[Unit0\\] pop failed: $3"
  # A retry may be copying right now; between retries the client folder must
  # be empty again, so a pop that failed for good leaves nothing behind.
  wait_until "the failed pop's copies to be removed" client_folder_holds_no_unit
  [ -f "$C/unit0/work_unit.vwu" ] || fail "the unit left its folder"
  output_has "[Unit0] Data計算準備" && fail "the client was started on a unit that did not move"
  eval "$2"
  wait_until "the unit to be computed" output_has "[Unit0] Data計算完了"
  stop_controller
  [ "$(grep -cxE "^\[Unit0\] pop failed: $3, files kept in unit0\$" "$W/out.txt")" -eq 1 ] ||
    fail "not one clear line for the failed pops"
  expect_lines "[Unit0] pop" "[Unit0] pop" "[Unit0] pop: the earlier failure has cleared" \
    "[Unit0] Data計算準備" "[Unit0] Data計算完了"
  expect_line_count 1 "[Unit0] Data計算準備"
  expect_server duplicates 0
  expect_nothing_lost
  expect_sound_run
}

case_undeletable_unit() {
  pop_fault_as_nobody 'chmod a-w "$C/unit0"' 'chmod u+w "$C/unit0"' \
    '[a-z_]+\.vwu could not be deleted \(Permission denied\), the copies were removed'
}

case_unreadable_unit_file() {
  pop_fault_as_nobody 'chmod 000 "$C/unit0/user_info.vwu"' 'chmod 644 "$C/unit0/user_info.vwu"' \
    'user_info\.vwu cannot be read \(Permission denied\)'
}

# ---- hostile input ------------------------------------------------------------------

stand_in_client() {  # FOLDER: a Vorelith.exe that does nothing (these runs need no client)
  printf '#!/bin/sh\nexit 0\n' >"$1/Vorelith.exe"
  chmod +x "$1/Vorelith.exe"
}

hostile_world() {
  mkdir -p "$C/unit0" "$VORSIM_RUNDIR"
  stand_in_client "$C"
  printf 'id=wu1\ndata\n' >"$C/unit0/work_unit.vwu"
  write_client_files "$C/unit0"
}

repeat() { head -c "$2" /dev/zero | tr '\0' "$1"; }  # CHAR COUNT

# Over-long values on the command line: one message each, none of them
# echoed, and -version still ends the run.
case_long_arguments() {
  hostile_world
  write_cfg
  local big
  big=$(repeat A 102400)
  run_to_end "-$big" -exec "$big" -execfinish "$big" -units "$big" -time "$big" -fill "$big" -version
  [ "$RUN_STATUS" -eq 0 ] || fail "exit status $RUN_STATUS"
  expect_line_count 4 "bad arg: argument longer than 255 characters"
  expect_line_count 1 "bad arg: path longer than 118 characters"
  expect_line_count 1 "bad arg: execfinish longer than 254 characters"
  [ "$(grep -c . "$W/out.txt")" -eq 8 ] || fail "expected the two banners and six messages"
  expect_sound_run

  # Without -version the run goes on, with its settings in error, only as
  # far as it safely can: with no work in the client folder, nothing starts.
  run_to_end "$big"
  [ "$RUN_STATUS" -eq 64 ] || fail "exit status $RUN_STATUS, not 64 (a bad command line)"
  expect_lines "bad arg: argument longer than 255 characters" "[unit0] Dir find : 5" \
    "The settings are in error and the client folder holds no work: nothing is started; correct them and restart" \
    "path:$C/"
  expect_sound_run
}

# A path too long for the command lines, from the command line and from
# vorcnt.cfg, and a finish command far too long for its field.
case_long_paths() {
  hostile_world
  write_cfg
  run_to_end -exec "/$(repeat x 400)/" -version
  [ "$RUN_STATUS" -eq 0 ] || fail "exit status $RUN_STATUS"
  expect_line_count 1 "bad arg: path longer than 118 characters"
  expect_sound_run

  { echo "EXEC = /$(repeat y 200)/"; echo "EXECFINISH = $(repeat z 10000)"; echo "UNITS = 1"; } >"$W/vorcnt.cfg"
  # The run does not fall back to the current folder, which holds a client.
  stand_in_client "$W"
  run_to_end
  [ "$RUN_STATUS" -eq 78 ] || fail "exit status $RUN_STATUS, not 78 (a bad setting)"
  expect_line_count 1 "bad arg: path longer than 118 characters"
  # A line longer than 254 bytes is read in pieces, each a line of its own;
  # the refused folder ends the run before anything is scanned.
  expect_lines "The client folder setting was refused: nothing is started; correct EXEC or -exec"
  expect_line_count 0 "fill:0"
  expect_sound_run
}

# Binary noise and 10,000-byte tokens in vorcnt.cfg.
case_cfg_noise() {
  hostile_world
  {
    echo "EXEC = $C/"
    head -c 8192 /dev/urandom | tr -d '\032'
    printf '\n%s\n' "$(repeat Q 10000)"
    printf 'UNITS = %s\n' "$(repeat 9 10000)"
    printf 'TIME = -5\nUNITS\x00= 3\n\x1a'
    echo "UNITS = 16"
  } >"$W/vorcnt.cfg"
  run_to_end -version
  [ "$RUN_STATUS" -eq 0 ] || fail "exit status $RUN_STATUS"
  grep -q '^bad arg: ' "$W/out.txt" || fail "no message for the noise"
  grep -q '^vorcnt.cfg bad arg: units = 9' "$W/out.txt" || fail "no message for the 10,000-digit UNITS"
  expect_sound_run

  run_to_end
  [ "$RUN_STATUS" -eq 78 ] || fail "exit status $RUN_STATUS, not 78 (a bad setting)"
  # The line with a NUL was refused whole; the Ctrl-Z ended the file before
  # "UNITS = 16".
  expect_lines "[unit0] Dir find : 5" "path:$C/" "Units:0"
  expect_sound_run
}

# state.vwu and user_info.vwu full of noise, out-of-range bg_pot indexes and
# 10,000-byte tokens, in unit folders and in the client folder, read by the
# scan and on every pass.
hostile_state() {
  printf 'bg_pot=70,1.5\nbg_pot=-5,2.5\nbg_pot=99999999999,3.5\nbg_pot=1,0.25\n'
  printf '%s=1\n' "$(repeat k 10000)"
  printf 'bs_power=%s\n' "$(repeat 7 10000)"
  printf 'cpu=%s\n' "$(repeat c 10000)"
  head -c 2048 /dev/urandom | tr -d '\n\032'
  printf '\nprog=0.25\n'
}

hostile_user_info() {
  head -c 2048 /dev/urandom
  printf '\nid=%s\nname=%s\nshow_name=%s\nnwus=%s\n' "$(repeat i 10000)" "$(repeat n 10000)" \
    "$(repeat s 10000)" "$(repeat 9 10000)"
}

case_client_file_noise() {
  hostile_world
  hostile_state >"$C/unit0/state.vwu"  # unit0: being computed
  hostile_user_info >"$C/unit0/user_info.vwu"
  mkdir -p "$C/unit1" "$C/unit2"
  printf 'id=wu2\ndata\n' >"$C/unit1/work_unit.vwu"  # unit1: noise only, waiting
  printf 'client=Vorelith\n' >"$C/unit1/version.vwu"
  head -c 4096 /dev/urandom >"$C/unit1/state.vwu"
  head -c 4096 /dev/urandom >"$C/unit1/user_info.vwu"
  printf 'client=Vorelith\n' >"$C/unit2/version.vwu"  # unit2: finished, with a 10,000-digit prog
  printf 'id=wu3\n' >"$C/unit2/result.vwu"
  printf 'prog=%s\n' "$(repeat 9 10000)" >"$C/unit2/state.vwu"
  # The client folder's own work, with the same kind of files.
  printf 'id=wu4\ndata\n' >"$C/work_unit.vwu"
  printf 'client=Vorelith\n' >"$C/version.vwu"
  hostile_state >"$C/state.vwu"
  hostile_user_info >"$C/user_info.vwu"
  write_cfg "UNITS = 3" "PROG"
  start_controller
  wait_until "the client start" output_count_at_least 1 "fill:"
  sleep 0.5
  stop_controller
  expect_lines "[unit0] Dir find : 1" "[unit1] Dir find : 5" "[unit2] Dir find : 2" "[Unit3] Dir maiking SUB. : 0" \
    "calculation_unit:3"
  expect_sound_run
}

run_case
