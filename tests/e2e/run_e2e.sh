#!/usr/bin/env bash
# End-to-end runs of the real controller in the simulated world.
#
#   run_e2e.sh BIN_DIR CASE
#
# Each case lays out a scratch client folder with the simulated client and
# buffered units, runs `vorcnt` at an accelerated time scale, stops it once
# the road has been travelled (or a generous deadline has passed), and checks
# three things: the controller's console lines (raw CP932, read here through
# iconv), the orders the closer was given (orders.log), and what the project
# server received (vorserver verify / lost).
#
# Only bash, coreutils and iconv are needed. Nothing here measures speed:
# every wait has a deadline far above what the road takes.
# VORCNT_E2E_VERBOSE=1 shows the logs of a passing run too.
set -u

BIN=$(cd "${1:?usage: run_e2e.sh BIN_DIR CASE}" && pwd)
CASE=${2:?usage: run_e2e.sh BIN_DIR CASE}
DEADLINE=${VORCNT_E2E_DEADLINE:-90}

# Short scratch paths: the client folder must stay well under 118 bytes.
W=$(mktemp -d /tmp/vce.XXXXXX)
export TMPDIR=$W  # a session of its own: controllers in other runs are not "another vorcnt"
C=$W/c
SRV=$W/srv
export VORSIM_RUNDIR=$W/run
export VORSIM_SERVER=$SRV
export VORCNT_TIME_SCALE=${VORCNT_TIME_SCALE:-0.005}
# Leaks are not what these runs look for; a stop now ends through exit(),
# where the leak check's stop of the world could hang an instrumented run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
# Computing must outlast the controller's 5 s wait before "-close" by far.
export VORSIM_COMPUTE_SECONDS=300
# A client left behind by a killed run ends by itself.
export VORSIM_LIFETIME=600
export PATH="$BIN:$PATH"
unset VORSIM_FAULT
CPID=
status=0
. "$(dirname "${BASH_SOURCE[0]}")/world.sh"
GOLDEN="$(cd "$(dirname "${BASH_SOURCE[0]}")/../golden" && pwd)"
. "$GOLDEN/golden.sh"

show_logs() {
  echo "---- controller output (UTF-8) ----"; cat "$W/out.txt" 2>/dev/null
  echo "---- controller stderr ----"; cat "$W/err.txt" 2>/dev/null
  echo "---- orders.log ----"; cat "$VORSIM_RUNDIR/orders.log" 2>/dev/null
  echo "---- client.log ----"; cat "$VORSIM_RUNDIR/client.log" 2>/dev/null
  echo "---- client folder ----"; (cd "$C" 2>/dev/null && ls -lR)
}

cleanup() {
  [ -n "$CPID" ] && kill -KILL "$CPID" 2>/dev/null
  vorclose -exit -echo off >/dev/null 2>&1
  rm -rf "$W"
}
trap cleanup EXIT

# ---- the world ------------------------------------------------------------

finished_unit() {  # N: unitN holding a computed result waiting to be sent
  local p=$W/prep
  mkdir -p "$p"
  compute_here "$p"
  mkdir -p "$C/unit$1"
  mv "$p"/*.vwu "$C/unit$1/"
  rm -rf "$p"
}

# ---- running the controller -----------------------------------------------

start_controller() {  # ARGS...
  : >"$VORSIM_RUNDIR/orders.log"
  (cd "$W" && exec timeout $((DEADLINE + 30)) vorcnt "$@" >"$W/out.raw" 2>"$W/err.txt") &
  CPID=$!
}

server_verified() { vorserver verify "$SRV" | grep -qx "verified $1"; }

orders_at_least() { [ "$(grep -c . "$VORSIM_RUNDIR/orders.log" 2>/dev/null)" -ge "$1" ]; }

# N orders given, and every "-close" among them taken by the client: a stop
# that lands while the closer is still on its way ends the closer too, and
# the client, never closed, would go on to send what it computes next.
computing_again() {
  orders_at_least "$1" &&
    [ "$(grep -c '^order close$' "$VORSIM_RUNDIR/client.log" 2>/dev/null)" -ge "$(grep -c '^-close' "$VORSIM_RUNDIR/orders.log")" ]
}

# Stops the controller as an operator would, keeps what it had written and
# the orders so far, then ends the client. Stopped from outside, it exits 0.
stop_controller() {
  if [ -n "$CPID" ]; then
    kill -TERM "$CPID" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$CPID" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$CPID" 2>/dev/null
    wait "$CPID" 2>/dev/null
    local stopped=$?
    [ $stopped -eq 0 ] || fail "stopped from outside, the controller exited with status $stopped"
    CPID=
  fi
  cp "$VORSIM_RUNDIR/orders.log" "$W/orders.txt"
  vorclose -exit -echo off
  iconv -c -f CP932 -t UTF-8 <"$W/out.raw" | tr -d '\r' >"$W/out.txt"
}

# ---- checks -----------------------------------------------------------------

# The controller writes its Japanese texts as CP932 bytes.
expect_raw_cp932() {  # UTF-8 TEXT
  local bytes
  bytes=$(printf '%s' "$1" | iconv -f UTF-8 -t CP932)
  grep -qF -- "$bytes" "$W/out.raw" || fail "raw output lacks the CP932 bytes of '$1'"
}

# orders.log, as it stood when the controller was stopped, starts with these.
expect_orders() {
  local want got
  want=$(printf '%s\n' "$@")
  got=$(head -n $# "$W/orders.txt")
  [ "$got" = "$want" ] || fail "orders were:
$(cat "$W/orders.txt")
expected them to start with:
$want"
}

computed_ids() { grep '^compute ' "$VORSIM_RUNDIR/client.log" | awk '{ print $2 }' | awk '!seen[$0]++' | tr '\n' ' '; }

# ---- cases ------------------------------------------------------------------

# Opt-in lines for vorcnt.cfg that the road below adds to its own.
EXTRA_CFG=()

# Computes every buffered unit, oldest first, then sends each result and
# refills each unit, then computes again.
case_calc_road() {  # UNITS AGES...: ages in seconds of unit0, unit1, ...
  local units=$1
  shift
  new_world 8
  local i=0 age
  for age in "$@"; do add_unit $i "$age"; i=$((i + 1)); done
  # Expected compute order: by age, oldest first.
  local order expect_ids="" ages=("$@")
  order=$(for i in "${!ages[@]}"; do echo "${ages[$i]} $i"; done | sort -k1,1nr -k2,2n | awk '{ print $2 }')
  for i in $order; do expect_ids+="$(unit_id "$C/unit$i/work_unit.vwu") "; done
  local first
  first=$(echo "$order" | head -n 1)
  write_cfg "UNITS = $units" "${EXTRA_CFG[@]}"
  for i in $(seq 0 $((units - 1))); do sha12 "$C/unit$i/work_unit.vwu" >"$W/placed$i.id"; done

  start_controller
  # One start order per unit computed, one per unit sent, then the next start.
  wait_until "computing to start again" computing_again $((1 + 2 * units + units + 1))
  stop_controller

  local lines
  mapfile -t lines < <(golden_lines "$GOLDEN/calc_road.txt" "$first" "$order" "$(seq 0 $((units - 1)))")
  expect_lines "${lines[@]}"
  expect_line_count 1 "計算可能ユニットがありません"
  expect_line_count 1 "FILL Completion"
  expect_raw_cp932 "計算可能ユニットがありません"
  expect_raw_cp932 "[Unit0] Data交信完了"

  local orders=("-exit -echo off")
  for _ in $(seq "$units"); do orders+=("-close -echo off" "-exit -echo off"); done
  for _ in $(seq "$units"); do orders+=("-exit -echo off"); done
  orders+=("-close -echo off")
  expect_orders "${orders[@]}"

  local got
  got=$(computed_ids | cut -d' ' -f1-"$units")
  [ "$got " = "$expect_ids" ] || fail "computed '$got', expected oldest first: '$expect_ids'"
  expect_server results "$units" verified "$units" mismatched 0 duplicates 0
  expect_nothing_lost
}

case_calc_two() { case_calc_road 2 100 3600; }
case_calc_three() { case_calc_road 3 600 60 3600; }

sha12() { xxh128sum "$1" | cut -c1-12; }

window_around_now() {  # FROM TO: whole hours relative to this hour, as HH:00-HH:00
  local h=$((10#$(date +%H)))
  printf '%02d:00-%02d:00' $(((h + $1 + 24) % 24)) $(((h + $2 + 24) % 24))
}

# With the connection window open, HISTORY and EXECEMPTY set, the road is the
# same; the journal tells it event by event, naming each work unit by its
# file, and the hook ran once, when the buffer ran dry.
case_window_open() {
  EXTRA_CFG=("CONNECT = $(window_around_now -1 2)" "HISTORY = history.tsv" "EXECEMPTY = echo empty >>$W/hook.log")
  case_calc_road 2 100 3600
  local j=$W/history.tsv
  [ "$(head -n 1 "$j")" = "$(printf 'time\tunit\tevent\tidentity\tdetail')" ] || fail "journal header: $(head -n 1 "$j")"
  local got want="1 pop_compute,1 calc_start,1 computed,1 push,0 pop_compute,0 calc_start,0 computed,0 push,"
  want+="- no_work,0 pop_send,0 connect_start,0 connected,0 push,1 pop_send,1 connect_start,1 connected,1 push,"
  want+="- fill_complete,0 pop_compute,"
  got=$(tail -n +2 "$j" | awk -F'\t' '{ printf "%s %s,", $2, $3 }')
  [ "${got:0:${#want}}" = "$want" ] || fail "journal events: $got"
  tail -n +2 "$j" | grep -qvE $'^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}\t' &&
    fail "a journal line without its time"
  id_of() { awk -F'\t' -v u="$1" -v e="$2" '$2 == u && $3 == e { print $4; exit }' "$j"; }
  local u results issued
  results=$(for f in "$SRV"/results/*.res; do sha12 "$f"; done)
  issued=$(for f in "$SRV"/issued/*; do sha12 "$f"; done)
  for u in 0 1; do
    [ "$(id_of $u pop_compute)" = "$(cat "$W/placed$u.id")" ] || fail "unit$u popped as $(id_of $u pop_compute)"
    [ "$(id_of $u calc_start)" = "$(cat "$W/placed$u.id")" ] || fail "unit$u started as $(id_of $u calc_start)"
    echo "$results" | grep -qx "$(id_of $u computed)" || fail "unit$u computed as $(id_of $u computed), no such result"
    [ "$(id_of $u pop_send)" = "$(id_of $u computed)" ] || fail "unit$u sent as $(id_of $u pop_send)"
    [ "$(id_of $u connect_start)" = "$(id_of $u computed)" ] || fail "unit$u connected as $(id_of $u connect_start)"
    echo "$issued" | grep -qx "$(id_of $u connected)" || fail "unit$u refilled as $(id_of $u connected)"
  done
  grep -qP '\t0\tcomputed\t[0-9a-f]{12}\tprogress=100\.000000 cpu=[0-9.]+ wall=[0-9.]+$' "$j" || fail "computed without its figures"
  grep -qP '\t1\tconnected\t[0-9a-f]{12}\tsent=yes new_work=yes$' "$j" || fail "connected without its outcome"
  [ "$(cat "$W/hook.log")" = "empty" ] || fail "the hook ran $(grep -c . "$W/hook.log") times, not once"

  # vorstat reads the journal that vorcnt.cfg names.
  local report
  report=$(cd "$W" && vorstat --history -n 3) || fail "vorstat --history exited $?"
  [ "$(echo "$report" | grep -cE '^[0-9]{4}-.* (push|fill_complete|pop_compute|calc_start) ')" -eq 3 ] ||
    fail "vorstat did not show the last 3 events: $report"
  echo "$report" | grep -qx "  $(date +%Y-%m-%d)  2" || fail "vorstat did not count 2 units today: $report"
  echo "$report" | grep -qx "Last connection: $(awk -F'\t' '$3 == "connected" { t = $1 } END { print t }' "$j")" ||
    fail "vorstat named another last connection: $report"
  # Two computed units are too few to tell a pace from; the counts are the table's.
  echo "$report" | grep -qx 'Buffer: not enough computed units yet to tell how long the work lasts' ||
    fail "vorstat guessed how long the buffer lasts: $report"
  local counts
  counts=$(vorstat "$C/" | sed -n 's/^units: \([0-9]*\) waiting to compute\( and 1 computing\)\{0,1\}, \([0-9]*\) done.*/\1\2 \3/p')
  [ "$(echo "$report" | sed -n 's/^Units waiting to compute: //p') $(echo "$report" | sed -n 's/^Units done and waiting to send: //p')" = "$counts" ] ||
    fail "vorstat --history and the table count the buffer apart: $report / $counts"
}

# With the window closed the whole buffer is still computed; then the first
# unit to send waits, with one line, and nothing connects.
case_window_closed() {
  new_world 4
  add_unit 0 100
  add_unit 1 3600
  write_cfg "UNITS = 2" "CONNECT = $(window_around_now 2 3)"
  start_controller
  wait_until "the wait for the window" grep -q 'connection waits for the window' "$W/out.raw"
  sleep 2  # several pauses of `time` at this time scale
  kill -0 "$CPID" 2>/dev/null || fail "the controller ended instead of waiting"
  stop_controller
  expect_lines "[Unit1] Data計算完了" "[Unit0] Data計算完了" "計算可能ユニットがありません" "[Unit0]:送信待機中" "[Unit0] pop"
  [ "$(grep -cE '^\[Unit0\] connection waits for the window [0-9:]{5}-[0-9:]{5}: it opens at [0-9:]{5}, in [0-9]+h[0-9]{2}m$' \
    "$W/out.txt")" -eq 1 ] || fail "expected one waiting line"
  expect_line_count 0 "[Unit0] Data交信待機"
  expect_orders "-exit -echo off" "-close -echo off" "-exit -echo off" "-close -echo off" "-exit -echo off"
  [ "$(grep -c . "$W/orders.txt")" -eq 5 ] || fail "orders beyond the computing: $(cat "$W/orders.txt")"
  [ "$(grep -c '^result ' "$VORSIM_RUNDIR/client.log")" -eq 2 ] || fail "the buffer was not computed whole"
  expect_server results 0
  expect_nothing_lost
}

# Started with -fill while the client folder holds a finished result: unit1
# is created for it, the result is sent from there, then computing resumes.
case_fill_with_result() {
  new_world 6
  add_unit 0 3600
  compute_here "$C"
  write_cfg
  start_controller -fill
  wait_until "computing to start again" computing_again 3
  stop_controller

  expect_lines "[unit0] Dir find : 5" "[Unit1] Dir maiking. : 0" "[Unit1] Data計算完了" "[Unit1] push" \
    "[unitselect State_Data_Calculation_completion]" "[Unit1]:Data Conection" "[Unit1]:送信待機中" "[Unit1] pop" \
    "[Unit1] Data交信待機" "[Unit1] Data Conection Start." "[Unit1] Data Conection Compleate." \
    "[Unit1] Data交信完了" "[Unit1] push" "FILL Completion" "[unitselect State_Data_Calculation]" \
    "[Unit0]:計算待機中" "[Unit0] pop" "[Unit0] Data計算準備"
  expect_orders "-exit -echo off" "-exit -echo off" "-close -echo off"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

# -fill auto tells the started client to connect.
case_fill_auto() {
  new_world 6
  finished_unit 0
  add_unit 1 3600
  write_cfg
  start_controller -fill auto
  wait_until "computing to start again" computing_again 4
  stop_controller

  local lines
  mapfile -t lines < <(golden_lines "$GOLDEN/fill_road.txt")
  expect_lines "${lines[@]}"
  expect_orders "-exit -echo off" "-connect" "-exit -echo off" "-close -echo off"
  grep -q '^vorclose: -connect: sent to client' "$W/out.txt" || fail "the closer's -connect report is missing"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

# -prog prints the progress on every poll, ending in a literal "%".
case_prog() {
  new_world 3
  add_unit 0 60
  export VORSIM_COMPUTE_SECONDS=500
  write_cfg
  start_controller -prog
  # Commands flush the controller's output; the connection that follows the
  # computation has run several by the time the result is on the server.
  wait_until "the result to reach the server" server_verified 1
  stop_controller

  local progress
  progress=$(grep -cE '^\[Unit0\] Data計算中：[0-9]+\.[0-9]{6}%$' "$W/out.txt")
  [ "$progress" -ge 2 ] || fail "expected progress lines, found $progress"
  expect_lines "[Unit0] Data計算開始" "[Unit0] Data計算中：100.000000%" "[Unit0] Data計算完了"
  expect_raw_cp932 "[Unit0] Data計算中：100.000000%"
  expect_nothing_lost
}

# -execfinish runs its command once a computation has finished.
case_execfinish() {
  new_world 3
  add_unit 0 60
  local command="touch $W/finished"
  write_cfg
  start_controller -execfinish "$command"
  wait_until "the finish command" test -f "$W/finished"
  wait_until "the result to reach the server" server_verified 1
  stop_controller

  expect_lines "[Unit0] Data計算開始" "strlen:$command" "strlen:${#command}" "[Unit0] Data計算完了"
  expect_orders "-exit -echo off" "-close -echo off" "-exit -echo off"
  expect_nothing_lost
}

# A client that never finishes, or that crashed, keeps the controller polling;
# stopping and restarting it later loses nothing: the unit is resumed,
# finished and sent.
stuck_client() {  # FAULT
  new_world 4
  add_unit 0 60
  write_cfg "UNITS = 1"
  # Longer units, so the resumed run cannot finish before it is told "-close".
  export VORSIM_COMPUTE_SECONDS=600
  export VORSIM_FAULT=$1
  start_controller -prog
  wait_until "the client to get stuck" grep -qs '^prog=0.250000$' "$C/state.vwu"
  sleep 2  # several polls at this time scale
  kill -0 "$CPID" 2>/dev/null || fail "the controller ended instead of polling"
  stop_controller
  expect_orders "-exit -echo off" "-close -echo off"
  [ "$(grep -c . "$W/orders.txt")" -eq 2 ] || fail "orders beyond the start: $(cat "$W/orders.txt")"
  [ -f "$C/work_unit.vwu" ] || fail "the work unit left the client folder"
  [ -z "$(ls "$C/unit0")" ] || fail "unit0 should be empty while its unit is in the client folder"

  unset VORSIM_FAULT
  start_controller
  wait_until "the resumed result to reach the server" server_verified 1
  stop_controller
  grep -q '^compute .* from 0.250000$' "$VORSIM_RUNDIR/client.log" || fail "the client did not resume at 0.25"
  expect_orders "-exit -echo off" "-close -echo off" "-exit -echo off"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

case_never_finishes() { stuck_client never; }
case_crash_midway() { stuck_client crash; }

# COUNT TAIL: lines "[Unit0] the client's files have not changed for <time>
# while TAIL" (an extended regular expression): the time depends on when the
# polls fell.
expect_stall_lines() {
  local n
  n=$(grep -cE "^\[Unit0\] the client's files have not changed for ([0-9]+h)?[0-9]+m[0-9]{2}s while $2\$" "$W/out.txt")
  [ "$n" -eq "$1" ] || fail "output has $n stall lines ending '$2', expected $1"
}

# The same clients with STALL set. Killed mid-computation (as the
# out-of-memory killer would): restarted once, the unit computed once and its
# result sent once.
case_stall_killed() {
  new_world 4
  add_unit 0 60
  write_cfg "UNITS = 1" "STALL = 1" "HISTORY = units.tsv"
  export VORSIM_COMPUTE_SECONDS=600
  start_controller
  wait_until "the client to compute" grep -qs '^prog=0.1' "$C/state.vwu"
  kill -KILL "$(sed -n 's/^pid=//p' "$VORSIM_RUNDIR/client.reg")"
  wait_until "the result to be sent" output_has "FILL Completion"
  stop_controller
  expect_stall_lines 1 "computing: restarting the client \(1 of 3\)"
  expect_lines "[Unit0] Data計算開始" "[Unit0] Data計算完了" "[Unit0] Data Conection Compleate."
  expect_orders "-exit -echo off" "-close -echo off" "-exit -echo off" "-close -echo off" "-exit -echo off"
  [ "$(grep -c '^result ' "$VORSIM_RUNDIR/client.log")" -eq 1 ] || fail "computed more than once"
  [ "$(cut -f3 "$W/units.tsv" | grep -cx restarted)" -eq 1 ] || fail "the restart was not journalled once"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

# Hung for ever (alive, files frozen): three restarts, then one line, then
# only polling. Nothing moves. vorstat then reports the client's files
# unchanged, here two hours.
case_stall_hung() {
  new_world 4
  add_unit 0 60
  write_cfg "UNITS = 1" "STALL = 1" "HISTORY = units.tsv"
  export VORSIM_COMPUTE_SECONDS=600 VORSIM_FAULT=never
  start_controller
  wait_until "the restarts to stop" grep -qF "after 3 restarts: no more restarts" "$W/out.raw"
  sleep 3  # several polls at this time scale
  kill -0 "$CPID" 2>/dev/null || fail "the controller ended instead of polling"
  stop_controller
  local n
  for n in 1 2 3; do expect_stall_lines 1 "computing: restarting the client \($n of 3\)"; done
  expect_stall_lines 1 "computing, after 3 restarts: no more restarts; check the client, this unit stays where it is and is still watched"
  expect_orders "-exit -echo off" "-close -echo off" "-exit -echo off" "-close -echo off" "-exit -echo off" \
    "-close -echo off" "-exit -echo off" "-close -echo off"
  [ "$(grep -c . "$W/orders.txt")" -eq 8 ] || fail "orders after the restarts stopped: $(cat "$W/orders.txt")"
  [ "$(cut -f3 "$W/units.tsv" | grep -E '^restart' | tr '\n' ' ')" = "restarted restarted restarted restart_stop " ] ||
    fail "journal: $(cut -f3 "$W/units.tsv" | tr '\n' ' ')"
  [ -f "$C/work_unit.vwu" ] || fail "the work unit left the client folder"
  [ -z "$(ls "$C/unit0")" ] || fail "unit0 should be empty while its unit is in the client folder"
  expect_nothing_lost

  # The client is gone now; date its files two hours back.
  touch -d "@$(($(date +%s) - 7200))" "$C"/*.vwu
  local json metrics
  json=$(vorstat --json "$C/") || fail "vorstat --json failed"
  echo "$json" | grep -q '"client": {.*"state": 1,.*"files_unchanged_s": 720[0-9],' || fail "vorstat --json: $json"
  vorstat --prometheus "$W/vorcnt.prom" "$C/" || fail "vorstat --prometheus failed"
  grep -qx 'vorcnt_client_unchanged_seconds 720[0-9]' "$W/vorcnt.prom" || fail "metrics: $(cat "$W/vorcnt.prom")"
}

# A slow client, its progress moving every 4 minutes: with STALL = 10 it is
# never restarted.
case_stall_slow() {
  new_world 4
  add_unit 0 60
  write_cfg "UNITS = 1" "STALL = 10"
  export VORSIM_COMPUTE_SECONDS=24000
  start_controller
  wait_until "the client to compute" grep -qs '^prog=0.01' "$C/state.vwu"
  sleep 15  # 3000 s at this time scale: five times STALL
  stop_controller
  grep -q "restarting" "$W/out.txt" && fail "a slow client was restarted"
  [ "$(grep -c . "$W/orders.txt")" -eq 2 ] || fail "orders beyond the start: $(cat "$W/orders.txt")"
  awk -F= '/^prog=/ { exit !($2 >= 0.05) }' "$C/state.vwu" || fail "the client did not go on computing: $(grep prog "$C/state.vwu")"
}

# Dead halfway through a download: restarted with the connection's own
# start; the result went out once and the new unit arrives whole.
case_stall_connection() {
  new_world 4
  finished_unit 0
  write_cfg "UNITS = 1" "STALL = 1"
  # Long enough computing that the new unit is still there to compare.
  export VORSIM_FAULT=connectcrash VORSIM_DOWNLOAD_SECONDS=40 VORSIM_COMPUTE_SECONDS=3000
  start_controller -fill
  wait_until "computing to start again" computing_again 4
  stop_controller
  grep -q '^crash during download' "$VORSIM_RUNDIR/client.log" || fail "the client did not die mid-connection"
  expect_stall_lines 1 "connecting: restarting the client \(1 of 3\)"
  expect_lines "[Unit0] Data Conection Start." "[Unit0] Data Conection Start." "[Unit0] Data Conection Compleate." \
    "FILL Completion"
  expect_orders "-exit -echo off" "-exit -echo off" "-exit -echo off" "-close -echo off"
  local unit
  unit=$(grep '^download .* done$' "$VORSIM_RUNDIR/client.log" | awk '{ print $2 }')
  cmp -s "$C/work_unit.vwu" "$SRV/issued/$unit.wu" || fail "the downloaded unit differs from the server's $unit"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

# A state file caught half-written now and then changes nothing for good.
case_torn_state() {
  new_world 3
  add_unit 0 60
  write_cfg
  export VORSIM_FAULT=tornstate
  start_controller -prog
  wait_until "computing to start again" computing_again 5
  stop_controller
  expect_lines "[Unit0] Data計算開始" "[Unit0] Data計算中：100.000000%" "[Unit0] Data計算完了" "FILL Completion" \
    "[Unit0] Data計算準備"
  expect_orders "-exit -echo off" "-close -echo off" "-exit -echo off" "-exit -echo off" "-close -echo off"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

# A slow download keeps the controller checking the connection until the
# new unit is whole.
case_slow_download() {
  new_world 4
  finished_unit 0
  write_cfg "UNITS = 1"
  # Long enough that the new unit is still being computed when it is compared.
  export VORSIM_FAULT=slowdownload VORSIM_COMPUTE_SECONDS=3000
  start_controller -fill
  wait_until "computing to start again" computing_again 3
  stop_controller
  local checks
  checks=$(grep -cxF "[Unit0] Data交信継続" "$W/out.txt")
  [ "$checks" -ge 3 ] || fail "expected the connection to be checked several times, it was checked $checks times"
  expect_lines "[Unit0] Data Conection Start." "[Unit0] Data Conection Compleate." "FILL Completion" \
    "[Unit0]:計算待機中" "[Unit0] Data計算準備"
  expect_orders "-exit -echo off" "-exit -echo off" "-close -echo off"
  local unit
  unit=$(ls "$SRV/issued" | tail -n 1)
  cmp -s "$C/work_unit.vwu" "$SRV/issued/$unit" || fail "the downloaded unit differs from the server's $unit"
  expect_server results 1 verified 1 mismatched 0 duplicates 0
  expect_nothing_lost
}

# Work units and results of raw bytes, zero runs included, are data: across
# three restarts, one of them with a finished binary result waiting, each is
# computed once and sent once, and nothing is ever set aside.
started_after_fill() {
  iconv -c -f CP932 -t UTF-8 <"$W/out.raw" | tr -d '\r' | sed -n '/^FILL Completion$/,$p' | grep -q 'Data計算準備$'
}
case_binary_units() {
  WORLD_UNIT_KIND=binary new_world 6
  export VORSIM_RESULT_BYTES=3000  # results carry raw bytes too
  add_unit 0 600
  add_unit 1 60
  write_cfg "UNITS = 2"
  local restart
  for restart in 1 2 3; do
    start_controller
    # 1: the first unit computed and pushed home; 2: the second computed;
    # 3: both sent and refilled, and computing again.
    case $restart in
      1) wait_until "the first result to be pushed home" orders_at_least 3 ;;
      2) wait_until "the second result" orders_at_least 3 ;;
      3) wait_until "both results to be sent" server_verified 2
         # Past the pop that follows the fill: a stop during a move leaves
         # its record for the next start, as it should.
         wait_until "computing to start again" started_after_fill ;;
    esac
    stop_controller
    cat "$W/out.txt" >>"$W/all_out.txt"
    [ -e "$C/damaged" ] && fail "restart $restart set files aside: $(cd "$C/damaged" && find . -type f)"
  done
  local zeros=0 f
  for f in "$SRV"/results/*.res; do zeros=$((zeros + $(tr -dc '\000' <"$f" | wc -c))); done
  [ "$zeros" -gt 0 ] || fail "no result held a zero byte"
  [ -s "$C/vorcnt.move" ] && fail "a move record was left behind"
  local ids
  ids=$(grep '^result ' "$VORSIM_RUNDIR/client.log" | awk '{ print $2 }' | sort | uniq -d)
  [ -z "$ids" ] || fail "computed twice: $ids"
  expect_server verified 2 mismatched 0 duplicates 0
  expect_nothing_lost
}

# UNITS = 4 and one spare unit on the server, with NOWORK: every result goes
# out once and every buffered unit is computed; each unit whose project had
# no work says so once per pause and waits, quietly, across a restart that
# keeps its retry time; the server refilled later fills every unit, nothing
# fetched twice.
nowork_lines() { grep -E '^\[Unit[0-3]\] the project has no work: ' "$W/all_out.txt"; }
waiting_units() { [ "$(cat "$C/vorcnt.nowork" 2>/dev/null | grep -c '^unit=')" -eq "$1" ]; }
# Each no-work line of a unit doubles the pause of the one before it (up to
# a day), unless work came in between: one line per step of the backoff.
backoff_kept() {
  awk 'function secs(t) { return t ~ /d/ ? 86400 * t : (t ~ /h/ ? 3600 * t : 60 * t) }
    /the project has work again/ { last[substr($1, 6, 1)] = 0 }
    /the project has no work: / { u = substr($1, 6, 1); p = secs($NF)
      if ((last[u] == 0 && p != 3600) || (last[u] > 0 && p != (last[u] < 43200 ? 2 * last[u] : 86400))) bad = bad " " $0
      last[u] = p }
    END { if (bad != "") { print bad; exit 1 } }' "$W/all_out.txt"
}
work_again_lines() { [ "$(grep -c 'the project has work again' "$W/out.raw")" -eq "$1" ]; }
case_no_work() {
  # 1 h of waiting is 3.6 s here; the server fills again 2.5 h after it ran dry.
  export VORCNT_TIME_SCALE=0.001 VORSIM_COMPUTE_SECONDS=600 VORSIM_REFILL=8:9000
  new_world 5
  local i
  for i in 0 1 2 3; do add_unit $i $((3600 - i)); done
  write_cfg "UNITS = 4" "NOWORK = 2" "HISTORY = units.tsv" "CONNECT = $(window_around_now -1 2)"
  start_controller
  wait_until "every unit to wait for work" waiting_units 4
  stop_controller
  grep -qx "units waiting for work: 4 (unit0, unit1, unit2, unit3; their project had no work)" <<<"$(vorstat "$C/")" ||
    fail "vorstat: $(vorstat "$C/")"
  grep -qx '  "units_waiting_for_work": 4,' <<<"$(vorstat --json "$C/")" || fail "vorstat --json: $(vorstat --json "$C/")"
  cat "$W/out.txt" >"$W/all_out.txt"
  expect_server results 5 verified 5 mismatched 0 duplicates 0
  cp "$C/vorcnt.nowork" "$W/nowork.before"

  start_controller
  wait_until "the kept waits" eval '[ "$(grep -c "waits for work: it asks again at" "$W/out.raw")" -eq 4 ]'
  cmp -s "$C/vorcnt.nowork" "$W/nowork.before" || fail "the restart changed the retry times"
  wait_until "every unit to fill again" work_again_lines 4
  stop_controller
  cat "$W/out.txt" >>"$W/all_out.txt"

  backoff_kept || fail "a no-work line out of the backoff's steps"
  [ "$(nowork_lines | grep -c 'after a pause of 2h00m$')" -ge 1 ] || fail "no pause doubled: $(nowork_lines)"
  [ "$(grep -cE '^\[Unit[0-3]\] waits for work: it asks again at [0-9]{2}:[0-9]{2}, in ' "$W/all_out.txt")" -eq 4 ] ||
    fail "the restart did not name the 4 waiting units"
  local dups
  dups=$(grep '^download .* done$' "$VORSIM_RUNDIR/client.log" | sort | uniq -d)
  [ -z "$dups" ] || fail "fetched twice: $dups"
  dups=$(grep '^result ' "$VORSIM_RUNDIR/client.log" | awk '{ print $2 }' | sort | uniq -d)
  [ -z "$dups" ] || fail "computed twice: $dups"
  [ "$(cut -f3 "$W/units.tsv" | grep -cx work_again)" -eq 4 ] || fail "work_again not journalled 4 times"
  grep -qP '\tproject_dry\t-\tretry_in=3600s$' "$W/units.tsv" || fail "project_dry without its pause"
  expect_server mismatched 0 duplicates 0
  expect_nothing_lost
}

# A service manager stands in: a datagram socket (an abstract name) whose
# listener logs each message. The road's every state reaches it as a
# STATUS= line after READY=1; vorstat shows the controller at work from its
# status file; the watchdog's pings come while the loop lives and stop while
# it is frozen; after a SIGKILL vorstat says it is not running.
case_notify() {
  local log=$W/notify.log listener
  export WATCHDOG_USEC=900000
  notify_listener "$log"
  listener=$LISTENER
  case_calc_road 2 100 3600
  [ "$(grep -v '^WATCHDOG=1$' "$log" | head -n 1)" = "READY=1" ] || fail "the first message was not READY=1: $(head -n 3 "$log")"
  local line
  for line in "starting the client for unit1" "computing unit1 \([0-9]+ %\)" "storing unit1" \
      "starting a connection for unit0" "connecting unit0" "storing unit0"; do
    grep -qxE "STATUS=$line" "$log" || fail "no '$line' in: $(grep -v WATCHDOG "$log" | tr '\n' '|')"
  done
  # Again, and frozen: no ping while stopped, pings again after.
  start_controller
  # This run's own status: the last run's file said computing too.
  local pid
  own_status() { pid=$(pgrep -P "$CPID" vorcnt) && grep -qsx "pid=$pid" "$C/vorcnt.status" && grep -qs '^status=computing' "$C/vorcnt.status"; }
  wait_until "the controller's status" own_status
  grep -q '^controller: running (pid [0-9]*) since [-0-9]* [0-9:]*, [a-z]' <<<"$(vorstat "$C/")" ||
    fail "vorstat: $(vorstat "$C/" | grep controller)"
  kill -STOP "$pid"
  sleep 1
  local before
  before=$(grep -c '^WATCHDOG=1$' "$log")
  sleep 3
  [ "$(grep -c '^WATCHDOG=1$' "$log")" -eq "$before" ] || fail "pings came from a frozen controller"
  kill -CONT "$pid"
  pinged_since() { [ "$(grep -c '^WATCHDOG=1$' "$log")" -gt "$1" ]; }
  wait_until "pings after the thaw" pinged_since "$before"
  kill -KILL "$pid"
  wait "$CPID" 2>/dev/null
  CPID=
  grep -q '^controller: not running (last seen ' <<<"$(vorstat "$C/")" || fail "after SIGKILL: $(vorstat "$C/" | grep controller)"
  kill "$listener"; [ -n "${VORCNT_E2E_VERBOSE:-}" ] && sort "$log" | uniq -c
  unset NOTIFY_SOCKET WATCHDOG_USEC
}

run_case
