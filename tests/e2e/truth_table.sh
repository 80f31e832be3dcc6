#!/usr/bin/env bash
# What each report says, situation by situation: the rows of the README's
# table "What each report says". A row is reached on the real controller,
# client and server (or, where no controller is involved, on a folder laid
# out by hand); the controller and its client are then frozen (SIGSTOP), so
# that every surface is read at one moment:
#   T  the vorstat table on standard output   E  its standard error
#   J  vorstat --json                          P  vorstat --prometheus FILE
#   S  vorcnt.status                           N  the last message the stand-in service manager got
# and the exit status of all three vorstat runs. A pattern is an extended
# regular expression that some line must match; "!" first: that none may.
#
#   truth_table.sh BIN_DIR
#
# vorstat read in a loop beside a moving controller is vorstat_moves.sh's;
# the order of the STATUS= messages over a whole road is e2e.notify's.
set -u
BIN=$(cd "${1:?usage: truth_table.sh BIN_DIR}" && pwd)
CASE=truth_table
DEADLINE=${VORCNT_E2E_DEADLINE:-90}
W=$(mktemp -d /tmp/vtt.XXXXXX)
export TMPDIR=$W  # a session of its own: controllers in other runs are not "another vorcnt"
C=$W/c
SRV=$W/srv
export VORSIM_RUNDIR=$W/run VORSIM_SERVER=$SRV VORSIM_LIFETIME=600
export VORCNT_TIME_SCALE=0.005 VORSIM_COMPUTE_SECONDS=1200
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export PATH="$BIN:$PATH"
unset VORSIM_FAULT
CPID= LISTENER= FROZEN=() status=0
. "$(dirname "${BASH_SOURCE[0]}")/world.sh"

cleanup() {
  thaw
  [ -n "$CPID" ] && kill -KILL "$CPID" 2>/dev/null
  [ -n "$LISTENER" ] && kill "$LISTENER" 2>/dev/null
  vorclose -exit -echo off >/dev/null 2>&1
  chattr -R -i "$W" 2>/dev/null
  chmod -R u+rwx "$W" 2>/dev/null
  rm -rf "$W"
}
trap cleanup EXIT
command -v python3 >/dev/null || { echo "SKIPPED: python3 not found"; exit 77; }

start_controller() { : >"$W/notify.log"; (cd "$W" && exec vorcnt >"$W/out.raw" 2>"$W/err.txt") & CPID=$!; }

end_controller() {  # SIGNAL
  thaw
  kill "-$1" "$CPID"
  wait "$CPID" 2>/dev/null
  CPID=
}

freeze() {
  local client
  client=$(sed -n 's/^pid=//p' "$VORSIM_RUNDIR/client.reg" 2>/dev/null)
  FROZEN=("$CPID")
  [ -n "$client" ] && [ "$(readlink "/proc/$client/exe")" = "$C/Vorelith.exe" ] && FROZEN+=("$client")
  kill -STOP "${FROZEN[@]}"
}

thaw() { [ ${#FROZEN[@]} -eq 0 ] || kill -CONT "${FROZEN[@]}" 2>/dev/null; FROZEN=(); }

# Freezes the controller and its client at a moment when CMD holds (checked
# again once they are frozen).
hold_when() {  # WHAT CMD...
  local what=$1 end=$(($(date +%s) + DEADLINE))
  shift
  until "$@" && freeze && "$@"; do
    thaw
    [ "$(date +%s)" -lt "$end" ] || { fail "gave up waiting for $what"; return 1; }
    sleep 0.05
  done
}

says() { grep -qx "wait=$1" "$C/vorcnt.status" 2>/dev/null && [ ! -s "$C/vorcnt.move" ]; }

lock_folder() {  # FOLDER: true when nothing in it can be created or deleted any more
  : >"$1/probe"
  chattr +i "$1" 2>/dev/null || chmod a-w "$1"
  ! rm -f "$1/probe" 2>/dev/null
}

VP=$C/ CWD=$W AS=()  # the folder vorstat reads, where it runs, and as whom

row() {  # SITUATION EXIT [SURFACE PATTERN]...
  local what=$1 want=$2 got s
  shift 2
  rm -f "$W/pub/m.prom"
  for s in T J P; do
    local args=("$VP") out=$W/$s
    [ $s = J ] && args=(--json "$VP")
    [ $s = P ] && args=(--prometheus "$W/pub/m.prom" "$VP") out=/dev/null
    (cd "$CWD" && "${AS[@]}" vorstat "${args[@]}") >"$out" 2>"$W/E$s"
    got=$?
    [ "$got" -eq "$want" ] || fail "$what: vorstat ($s) exited $got, not $want"
  done
  mv "$W/ET" "$W/E"
  cp "$W/pub/m.prom" "$W/P" 2>/dev/null || : >"$W/P"
  cat "$VP/vorcnt.status" >"$W/S" 2>/dev/null || : >"$W/S"
  grep -v '^WATCHDOG=1$' "$W/notify.log" | tail -n 1 >"$W/N"
  [ -n "${VORCNT_E2E_VERBOSE:-}" ] && for s in T E J P S N; do sed "s/^/$what $s| /" "$W/$s"; done
  while [ $# -ge 2 ]; do
    local pattern=${2#!}
    if [ "$pattern" = "$2" ]; then
      grep -qE -- "$pattern" "$W/$1" || fail "$what: $1 has no line '$pattern': $(tr '\n' '|' <"$W/$1")"
    elif grep -qE -- "$pattern" "$W/$1"; then
      fail "$what: $1 has a line '$pattern': $(grep -E -- "$pattern" "$W/$1" | head -n 2)"
    fi
    shift 2
  done
}

mkdir -p "$W/pub" && chmod 1777 "$W/pub" && chmod 711 "$W"
new_world 1  # one work unit: once it is sent the project has no more
add_unit 0
# A big file of the unit's, moved last, makes each move last long enough to be
# caught between its copy of the unit's own files and the deletes.
head -c 200M /dev/zero >"$C/unit0/zz.vwu"
notify_listener "$W/notify.log"
h=$((10#$(date +%H)))
write_cfg "UNITS = 1" "HISTORY = history.tsv" "NOWORK = 2" "CONNECT = $(printf '%02d:00-%02d:00' $(((h + 2) % 24)) $(((h + 3) % 24)))"
RUNNING='^controller: running \(pid [0-9]+\) since [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}, '
NOT_RUNNING='^controller: not running \(last seen [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}\)$'
YOUNG='^not enough computed units yet to tell how long the work lasts$'
DRY='^no work left to compute: the buffer has run dry$'
MOVING='^a move is under way: how long the work lasts is told once it has settled$'

start_controller
hold_when "the computation" says client_computing &&
  row computing 0 T "${RUNNING}computing unit0 \([0-9]+ %\)$" T "$YOUNG" T '^unit0  .*  computing, in the client folder$' \
    T '^units: 0 waiting to compute and 1 computing, 0 done and waiting to send$' J '"controller_up": true' \
    J '"state": "computing", "unit": 0, "progress": [0-9.]+, "waiting_for": "client_computing", "wait_time": null, "status": "computing unit0 \([0-9]+ %\)"' \
    P '^vorcnt_controller_up 1$' P '^vorcnt_controller_waiting\{for="client_computing"\} 1$' \
    P '^vorcnt_controller_waiting\{for="window"\} 0$' P '!^vorcnt_buffer_seconds_left' \
    S '^wait=client_computing$' S '^status=computing unit0' N '^STATUS=computing unit0 \([0-9]+ %\)$'
thaw
moving() { [ -s "$C/vorcnt.move" ] && [ -e "$C/unit0/result.vwu" ]; }
hold_when "the push under way" moving &&
  row "a move in progress" 0 T "${RUNNING}storing unit0$" T '^move under way: push of unit0 \([0-9]+ files\)$' \
    T '^in transition: client unit0 ' T "$MOVING" J '"controller_up": true' \
    J '"move": \{"state": "under_way", "direction": "push", "unit": 0, "files": [0-9]+\}' \
    P '^vorcnt_controller_up 1$' P '^vorcnt_folders_in_transition 2$' P '!^vorcnt_buffer_seconds_left' \
    S '^status=storing unit0$' N '^STATUS=storing unit0$'
end_controller KILL
row "killed during a move" 0 T "$NOT_RUNNING" \
  T '^a move was cut short: how long the work lasts is told once the next start has settled it$' \
  T '^interrupted move: push of unit0 \([0-9]+ files\); the controller finishes or undoes it when it starts$' \
  J '"controller_up": false' J '"move": \{"state": "interrupted", "direction": "push", ' \
  P '^vorcnt_controller_up 0$' P '!^vorcnt_controller_waiting\{' S '^status=storing unit0$' N '^STATUS=storing unit0$'
start_controller
# Until its first pause the new controller has published nothing: the last
# run's status must not pass for its own.
recovering() { ! flock -n "$C" true && [ -s "$C/vorcnt.move" ]; }
hold_when "the restart's recovery" recovering &&
  row "restarted, finishing the move" 0 T '^controller: running$' T '^move under way: push of unit0 ' \
    J '"controller_up": true' J '"controller": null' \
    P '^vorcnt_controller_up 1$' P '!^vorcnt_controller_waiting\{' S '!.' N '!.'
thaw
hold_when "the wait for the window" says window &&
  row "waiting for the window" 0 T "${RUNNING}waiting for the connection window \(opens [0-9]{2}:00\)$" T "$DRY" \
    T '^units: 0 waiting to compute, 1 done and waiting to send$' \
    J '"waiting_for": "window", "wait_time": [0-9]+,' J '"connect_window_opens_timestamp_seconds": [0-9]+' \
    P '^vorcnt_controller_waiting\{for="window"\} 1$' P '^vorcnt_buffer_seconds_left 0$' \
    P '^vorcnt_connect_window_opens_timestamp_seconds [0-9]+$' \
    S '^wait=window$' N '^STATUS=waiting for the connection window \(opens [0-9]{2}:00\)$'
end_controller TERM
row "stopped cleanly" 0 T "$NOT_RUNNING" T '^units: 0 waiting to compute, 1 done and waiting to send$' \
  J '"controller_up": false' J '"controller": \{"pid": [0-9]+, .*"waiting_for": "window"' \
  P '^vorcnt_controller_up 0$' P '!^vorcnt_controller_waiting\{' P '!^vorcnt_controller_start_timestamp_seconds ' \
  S '^wait=window$' N '^STOPPING=1$'

write_cfg "UNITS = 1" "HISTORY = history.tsv" "NOWORK = 2" "CONNECT = $(printf '%02d:00-%02d:00' $(((h + 23) % 24)) $(((h + 2) % 24)))"
# Stopped while it waited for the window, the controller had taken the unit
# out to send it; started again, it cannot put it back where nothing can be written.
if lock_folder "$C/unit0"; then
  start_controller
  hold_when "the retried move" says failure &&
    row "retrying a failure" 0 T "${RUNNING}retrying a failed move of unit0 since [0-9]{2}:[0-9]{2}$" T "$DRY" \
      T '^units: 0 waiting to compute, 1 done and waiting to send$' \
      J '"controller_up": true' J '"state": "storing_result", "unit": 0, .*"waiting_for": "failure", "wait_time": [0-9]+,' \
      P '^vorcnt_scrape_ok 1$' P '^vorcnt_controller_up 1$' P '^vorcnt_controller_waiting\{for="failure"\} 1$' \
      S '^wait=failure$' S '^status=retrying a failed move of unit0 since [0-9]{2}:[0-9]{2}$' \
      N '^STATUS=retrying a failed move of unit0 since [0-9]{2}:[0-9]{2}$'
  chattr -i "$C/unit0" 2>/dev/null; chmod u+w "$C/unit0"
else
  echo "row skipped: retrying a failure (no folder can be locked here)"
  start_controller
fi
hold_when "the wait for work" says no_work &&
  row "waiting for work" 0 T "${RUNNING}no work for unit0 until [0-9]{2}:[0-9]{2}$" T "$DRY" \
    T '^units waiting for work: 1 \(unit0; their project had no work\)$' \
    T '^units: 0 waiting to compute, 0 done and waiting to send$' \
    J '"waiting_for": "no_work", "wait_time": [0-9]+,' J '"units_waiting_for_work": 1,' \
    P '^vorcnt_controller_waiting\{for="no_work"\} 1$' P '^vorcnt_units_waiting_for_work 1$' \
    S '^wait=no_work$' N '^STATUS=no work for unit0 until [0-9]{2}:[0-9]{2}$'
end_controller KILL
row killed 0 T "$NOT_RUNNING" T '^units waiting for work: 1 ' \
  J '"controller_up": false' J '"controller": \{"pid": [0-9]+, .*"waiting_for": "no_work"' \
  P '^vorcnt_controller_up 0$' P '!^vorcnt_controller_waiting\{' S '^wait=no_work$' N '^STATUS=no work for unit0 until '
vorclose -exit -echo off >/dev/null 2>&1

# No controller below: no status file, no message.
: >"$W/notify.log"
FOLDER_FAILED=(T '!.' J '!.' P '^vorcnt_scrape_ok 0$' P '!^vorcnt_controller_up' P '!^vorcnt_units' S '!.' N '!.')
VP=$W/shut/
mkdir "$VP" && write_client_files "$VP" && chmod 750 "$VP"
# As root: the package's 0750 folder, read by another user.
[ "$(id -u)" -eq 0 ] && AS=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups) || chmod 000 "$VP"
if "${AS[@]}" test -x "$BIN/vorstat" 2>/dev/null; then
  row "a folder that cannot be read" 1 "${FOLDER_FAILED[@]}" P '!^vorcnt_client_folder_present' \
    E "^vorstat: cannot read the client folder '$VP': it cannot be listed \(Permission denied\)$"
  [ "$(grep -c . "$W/E")" -eq 1 ] || fail "not one line on standard error: $(cat "$W/E")"
else
  echo "row skipped: a folder that cannot be read (user nobody cannot run $BIN/vorstat)"
fi
AS=()

VP=$W/plain/
mkdir "$VP" && echo notes >"$VP/notes.txt"
row "a folder that is no client folder" 1 "${FOLDER_FAILED[@]}" \
  E "^vorstat: '$VP' is no client folder: " P '^vorcnt_client_folder_present 0$'

VP=$W/clock/ CWD=$W/clock  # no vorcnt.cfg there: no journal
mkdir -p "$VP" && printf 'id=wu9\ndata\n' >"$VP/work_unit.vwu" && write_client_files "$VP"
touch -d "@$(($(date +%s) - 7200))" "$VP"/*.vwu
row "the clock ahead of the files" 0 T '^client files unchanged for 2h00m$' T '^client  .* +- +2h00m  no  ' \
  T '^controller: not running$' J '"work_unit_age_s": 720[0-9], "files_unchanged_s": 720[0-9],' \
  J '"clock_ahead": false' J '"controller": null' \
  P '^vorcnt_clock_ahead 0$' P '^vorcnt_client_unchanged_seconds 720[0-9]$' P '^vorcnt_controller_up 0$'
touch -d "@$(($(date +%s) + 7200))" "$VP"/*.vwu
row "the clock behind the files" 0 T '^client files changed in the future \(their newest time is ahead of the clock\)$' \
  T ' in the future  no  ' J '"work_unit_age_s": 0, "files_unchanged_s": 0,' J '"clock_ahead": true' \
  P '^vorcnt_clock_ahead 1$' P '^vorcnt_client_unchanged_seconds 0$'

# Two units waiting, and a journal whose every figure is one no computation can give.
CWD=$W/h VP=$W/h/c/
for n in 0 1; do
  mkdir -p "$VP/unit$n" && printf 'id=wu%s\ndata\n' $n >"$VP/unit$n/work_unit.vwu" && write_client_files "$VP/unit$n"
done
printf 'cpu=1e308\nprog=0.250000\n' >"$VP/unit1/state.vwu"  # as a corrupt state file gives
printf 'EXEC = %s\nHISTORY = j.tsv\n' "$VP" >"$CWD/vorcnt.cfg"
journal() {  # HOURS_AGO UNIT EVENT DETAIL
  printf '%s\t%s\t%s\t0123456789ab\t%s\n' "$(date -d "@$(($(date +%s) - 3600 * $1))" +%Y-%m-%dT%H:%M:%S%:z)" "$2" "$3" "$4" >>"$CWD/j.tsv"
}
journal 9 0 computed "progress=100.000000 cpu=1e308 wall=1e308"
journal 8 1 computed "progress=100.000000 cpu=-5 wall=-5.000000"
journal 7 0 computed "progress=nan cpu=nan wall=nan"
journal 6 1 computed "progress=100.000000 cpu=inf wall=99999999999.0"
journal 4 0 calc_start ""
journal 5 0 computed "progress=100.000000 cpu=0.000000 wall=0.000000"  # finished before it started
row "a journal with hostile numbers" 0 T "$YOUNG" T '^unit1   1 Data_Calculation +25.00% +\? ' \
  J '"unit": 1, .*"cpu": null,' J '"unit_seconds_median": null,' J '"computed_units_timed": 0,' \
  J '"buffer_seconds_left": null,' P '!^vorcnt_buffer_seconds_left' P '!(NaN|Inf)'
for n in 3 2 1; do journal $n 1 computed "progress=100.000000 cpu=7200.000000 wall=3600.000000"; done
row "... and three sound ones" 0 T '^work for about 2h00m; the buffer runs dry about [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}$' \
  J '"buffer_seconds_left": 7200.0,' J '"computed_units_timed": 3,' P '^vorcnt_buffer_seconds_left 7200$'

[ $status -eq 0 ] || iconv -c -f CP932 -t UTF-8 "$W/out.raw"
[ $status -eq 0 ] && echo "passed: $CASE" || echo "FAILED: $CASE"
exit $status
