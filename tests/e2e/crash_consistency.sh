#!/usr/bin/env bash
# Crash consistency: the real controller is stopped at random moments, over
# and over, while it drives the simulated client through computing and
# sending cycles with three buffered units, and each time it is started
# again at once. At the end it is left to run until the buffer has been sent
# and refilled, and the whole history is accounted for.
#
#   crash_consistency.sh BIN_DIR [STOPS] [SIGNALS]
#
# STOPS (default 30) stop points per signal; SIGNALS (default "KILL TERM")
# each get a world of their own. SIGKILL ends the controller wherever it
# stands; SIGTERM at its next pause or command wait (an in-process copy or
# delete in hand is finished first), with status 0. Stop points are of three
# kinds:
#   timed  a random moment up to 4 s (nominal 400 s) after the start: the
#          start-up scan and pop, the client computing or connecting;
#   push   a random moment up to 1.4 nominal seconds after a "[UnitN] push"
#          line: the copy, the one-second pause, the delete;
#   pop    the same after a "[UnitN] pop" line.
# Between a stop and the next start the simulated client, if one runs, goes
# on by itself for up to 0.3 s (the next start tells it to exit first).
#
# Counted at the end, per world:
#   lost            work units the client had whole (placed or downloaded)
#                   that are neither sent as a verified result nor held in
#                   the client folder or a unit folder: must be 0
#   held twice      work units held in two places, or held and sent: must be 0
#   computed twice  work units with more than one "result" in client.log
#   sent twice      duplicate uploads on the server: must be 0
# and, for information: downloads the client abandoned when it was told to
# exit halfway (the server never handed them over whole), computations
# resumed from a saved state, moves the controller found interrupted and
# finished.
#
# Environment: VORCNT_CRASH_SEED (random seed), VORCNT_TIME_SCALE (default
# 0.01), VORCNT_CRASH_KEEP=1 keeps the scratch worlds.
set -u
export LC_ALL=C

BIN=$(cd "${1:?usage: crash_consistency.sh BIN_DIR [STOPS] [SIGNALS]}" && pwd)
STOPS=${2:-30}
SIGNALS=${3:-KILL TERM}
SEED=${VORCNT_CRASH_SEED:-$((RANDOM * 32768 + RANDOM))}
RANDOM=$SEED

export VORCNT_TIME_SCALE=${VORCNT_TIME_SCALE:-0.01}
# Leaks are not what these runs look for; a stop now ends through exit(),
# where the leak check's stop of the world could hang an instrumented run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
export VORSIM_COMPUTE_SECONDS=300
export VORSIM_LIFETIME=900
export PATH="$BIN:$PATH"
unset VORSIM_FAULT VORSIM_UPLOAD_SECONDS VORSIM_DOWNLOAD_SECONDS VORSIM_RETRY_SECONDS

# A pause without a process per call: read from a pipe that never delivers.
exec {SLEEP_FD}<> <(:)
pause_ms() { local s; printf -v s '%d.%03d' $(($1 / 1000)) $(($1 % 1000)); read -r -t "$s" -u "$SLEEP_FD" _; }
now_ms() { local t=${EPOCHREALTIME/./}; NOW=$((10#$t / 1000)); }
ms_of() { awk -v s="$1" 'BEGIN { printf "%d", s * 1000 + 0.5 }'; }
SECOND_MS=$(ms_of "$VORCNT_TIME_SCALE")  # one nominal second

WORLDS=()
VPID=
cleanup() {
  [ -n "$VPID" ] && kill -KILL "$VPID" 2>/dev/null
  for w in "${WORLDS[@]}"; do
    VORSIM_RUNDIR=$w/run vorclose -exit -echo off >/dev/null 2>&1
    [ -n "${VORCNT_CRASH_KEEP:-}" ] || rm -rf "$w"
  done
}
trap cleanup EXIT

status=0
. "$(dirname "${BASH_SOURCE[0]}")/world.sh"
fail() {
  echo "FAIL [$SIG]: $*"
  status=1
}

# ---- the world ------------------------------------------------------------

# Three parked units, oldest first unit2, and a large server queue.
crash_world() {
  W=$(mktemp -d /tmp/vcc.XXXXXX)
  WORLDS+=("$W")
  C=$W/c
  SRV=$W/srv
  export VORSIM_RUNDIR=$W/run
  export VORSIM_SERVER=$SRV
  new_world 300 64
  local n
  for n in 0 1 2; do add_unit $n $((600 * (n + 1))); done
  ls "$SRV/issued" | sed 's/\.wu$//' >"$W/placed"
  write_cfg "UNITS = 3" "HISTORY = history.tsv"
  : >"$W/out.raw"
  : >"$W/stops.log"
}

top_up_server() {
  [ "$(ls "$SRV/queue" | wc -l)" -ge 30 ] || vorserver init "$SRV" 100 64 >/dev/null
}

# ---- one run of the controller, up to a stop --------------------------------

start_controller() {
  exec {OUT}< <(cd "$W" && exec vorcnt 2>>"$W/err.txt")
  VPID=$!
}

# Reads the controller's output into out.raw until `done_when` says stop or
# the deadline passes; LAST holds the last line read.
# KIND: timed | push | pop | final. DELAY in ms.
run_to_stop() {
  local kind=$1 delay=$2 deadline_ms=$3
  local line wait_ms secs rc armed=-1 seen_fill=0 popped=0
  start_controller
  now_ms
  local started=$NOW
  [ "$kind" = timed ] && armed=$((started + delay))
  LAST="(no output yet)"
  LAST_AT=$started
  ORDERS_AT_LAST=0
  MOVE=
  STOPPED_BY=deadline
  while :; do
    now_ms
    if [ "$armed" -ge 0 ] && [ "$NOW" -ge "$armed" ]; then STOPPED_BY=plan; break; fi
    [ "$NOW" -ge $((started + deadline_ms)) ] && break
    if [ "$armed" -ge 0 ]; then wait_ms=$((armed - NOW)); else wait_ms=200; fi
    [ "$wait_ms" -ge 1 ] || wait_ms=1
    printf -v secs '%d.%03d' $((wait_ms / 1000)) $((wait_ms % 1000))
    IFS= read -r -t "$secs" -u "$OUT" line
    rc=$?
    if [ $rc -gt 128 ]; then continue; fi
    if [ $rc -ne 0 ] && [ -z "$line" ]; then STOPPED_BY=ended; break; fi
    printf '%s\n' "$line" >>"$W/out.raw"
    line=${line%$'\r'}
    now_ms
    LAST=$line
    LAST_AT=$NOW
    # The controller's later lines of a state wait in its buffer until its
    # next command, so the orders given since tell how far it got.
    case "$line" in "[Unit"*"] Data"*) ORDERS_AT_LAST=$(grep -c . "$VORSIM_RUNDIR/orders.log") ;; esac
    case "$line" in
      "[Unit"*"] push") MOVE=push ;;
      "[Unit"*"] pop") MOVE=pop ;;
      *"file(s) copied.") ;;
      *) MOVE= ;;
    esac
    case "$kind:$line" in
      push:"[Unit"*"] push" | pop:"[Unit"*"] pop")
        [ "$armed" -lt 0 ] && armed=$((NOW + delay)) ;;
      final:"FILL Completion") seen_fill=1 ;;
      final:"[Unit"*"] pop") [ $seen_fill -eq 1 ] && popped=1 ;;
      # The next pass after that pop starts computing again.
      final:"[Unit"*"] Data"*) if [ $popped -eq 1 ]; then STOPPED_BY=plan; break; fi ;;
    esac
  done
  kill -"$SIG" "$VPID" 2>/dev/null
  now_ms
  ORDERS_SINCE=$(tail -n +$((ORDERS_AT_LAST + 1)) "$VORSIM_RUNDIR/orders.log" | tr '\n' ' ')
  PHASE=$(phase_of "$LAST" $((NOW - LAST_AT)))
  # What it had written before the stop is still in the pipe.
  while IFS= read -r -t 10 -u "$OUT" line; do printf '%s\n' "$line" >>"$W/out.raw"; done
  exec {OUT}<&-
  for _ in $(seq 100); do kill -0 "$VPID" 2>/dev/null || break; pause_ms 20; done
  wait "$VPID" 2>/dev/null
  local ended=$? want=0
  [ "$SIG" = KILL ] && want=137
  # SIGTERM before the first line may come before the handler is set.
  [ "$SIG:$ended:$LAST" = "TERM:143:(no output yet)" ] && want=143
  [ "$STOPPED_BY" = ended ] || [ "$ended" = "$want" ] || fail "stopped by SIG$SIG ($PHASE): exit status $ended"
  VPID=
}

# The phase a stop fell in, from the last line the controller had written
# and how long before the stop it came.
phase_of() {  # LAST_LINE MS_SINCE
  local text
  text=$(printf '%s' "$1" | iconv -c -f CP932 -t UTF-8)
  case "$text" in
    *"file(s) copied.")
      if [ "$2" -lt "$SECOND_MS" ]; then echo "$MOVE: between the copy and its delete"; else echo "$MOVE: deleting, or after"; fi ;;
    *"] push") echo "push: copying" ;;
    *"] pop") echo "pop: copying" ;;
    *finishing*) echo "finishing an interrupted move" ;;
    *計算準備)
      case "$ORDERS_SINCE" in
        *-exit*) echo "after a computation" ;;
        *-close*) echo "client computing" ;;
        *) echo "starting the client" ;;
      esac ;;
    *交信待機) case "$ORDERS_SINCE" in *-exit*) echo "after a connection" ;; *) echo "client connecting" ;; esac ;;
    *) echo "start-up and selection" ;;
  esac
}

# ---- accounting ---------------------------------------------------------------

held_ids() {  # one line per place a work unit is held: "<id> <folder>"
  local f
  for f in "$C" "$C"/unit*; do
    [ -d "$f" ] || continue
    [ -f "$f/work_unit.vwu" ] && echo "$(head -n 1 "$f/work_unit.vwu" | cut -d= -f2) ${f#$W/}:work_unit"
    [ -f "$f/result.vwu" ] && echo "$(grep -m1 '^id=' "$f/result.vwu" | cut -d= -f2) ${f#$W/}:result"
  done
  return 0
}

account() {
  local log=$VORSIM_RUNDIR/client.log
  held_ids >"$W/held"
  ls "$SRV/results" | grep '\.res$' | sed 's/-[0-9]*\.res$//' >"$W/sent"
  { cat "$W/placed"; grep '^download .* done$' "$log" | awk '{ print $2 }'; } | sort -u >"$W/delivered"
  awk '{ print $1 }' "$W/held" | sort -u >"$W/held_ids"
  sort -u "$W/sent" >"$W/sent_ids"

  LOST=$(sort -u "$W/held_ids" "$W/sent_ids" | comm -23 "$W/delivered" - | tr '\n' ' ')
  HELD_TWICE=$( { awk '{ print $1 }' "$W/held"; cat "$W/sent_ids"; } | sort | uniq -d | tr '\n' ' ')
  COMPUTED_TWICE=$(grep '^result ' "$log" | awk '{ print $2 }' | sort | uniq -d | tr '\n' ' ')
  local verify
  verify=$(vorserver verify "$SRV")
  SENT_TWICE=$(echo "$verify" | awk '$1 == "duplicates" { print $2 }')
  MISMATCHED=$(echo "$verify" | awk '$1 == "mismatched" { print $2 }')
  VERIFIED=$(echo "$verify" | awk '$1 == "verified" { print $2 }')
  ABANDONED=$(grep '^download .* begin$' "$log" | awk '{ print $2 }' | sort -u |
    comm -23 - "$W/delivered" | comm -23 - "$W/held_ids" | wc -l)
  COMPUTED=$(grep -c '^result ' "$log")
  RESUMED=$(grep -c '^compute .* from 0\.[0-9]*[1-9][0-9]*$' "$log")
  FINISHED_MOVES=$(grep -c 'finishing an interrupted move' "$W/out.raw")
  FAILED_MOVES=$(grep -c -e 'push failed' -e 'pop failed' "$W/out.raw")
  UNIT_FOLDERS=$(find "$C" -maxdepth 1 -type d -name 'unit*' | wc -l)
  TEMP_LEFT=$(find "$C" -name '.vorcnt-copy-*' | wc -l)
  local lost_n held2_n comp2_n
  lost_n=$(echo $LOST | wc -w)
  held2_n=$(echo $HELD_TWICE | wc -w)
  comp2_n=$(echo $COMPUTED_TWICE | wc -w)

  echo "SIG$SIG: $STOPS stop points; lost $lost_n, computed twice $comp2_n, sent twice $SENT_TWICE, held twice $held2_n"
  echo "  by phase: $(cut -f4 "$W/stops.log" | sort | uniq -c | awk '{ n = $1; $1 = ""; printf "%s%s %d", sep, substr($0, 2), n; sep = ", " }')"
  echo "  by kind: $(cut -f2 "$W/stops.log" | sort | uniq -c | awk '{ printf "%s%s %d", sep, $2, $1; sep = ", " }')"
  echo "  results computed $COMPUTED, verified on the server $VERIFIED, mismatched $MISMATCHED;" \
    "computations resumed from a saved state $RESUMED"
  echo "  interrupted moves finished at start-up $FINISHED_MOVES; failed copies $FAILED_MOVES;" \
    "downloads abandoned by the client $ABANDONED; unit folders $UNIT_FOLDERS; copy temp files left $TEMP_LEFT"

  [ "$lost_n" -eq 0 ] || fail "lost: $LOST"
  [ "$held2_n" -eq 0 ] || fail "held twice: $HELD_TWICE ($(sort "$W/held" | tr '\n' ';'))"
  # The unit journal, written through every stop: one header, then whole
  # lines of five fields only.
  local j=$W/history.tsv torn
  torn=$(tail -n +2 "$j" | grep -cvE $'^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}[+-][0-9:]{5}(\t[^\t]*){4}$')
  echo "  journal: $(($(grep -c . "$j") - 1)) events, $torn torn or partial lines"
  [ "$(head -n 1 "$j")" = "$(printf 'time\tunit\tevent\tidentity\tdetail')" ] || fail "journal header: $(head -n 1 "$j")"
  [ "$(grep -c '^time' "$j")" -eq 1 ] || fail "more than one journal header"
  [ -z "$(tail -c 1 "$j")" ] || fail "the journal ends in a partial line"
  [ "$torn" -eq 0 ] || fail "torn journal lines: $(tail -n +2 "$j" | grep -vE $'(\t[^\t]*){4}$' | head -n 3)"
  [ "$comp2_n" -eq 0 ] || fail "computed twice: $COMPUTED_TWICE"
  [ "$SENT_TWICE" -eq 0 ] || fail "sent twice: $SENT_TWICE"
  [ "$MISMATCHED" -eq 0 ] || fail "mismatched results: $MISMATCHED"
  [ "$UNIT_FOLDERS" -eq 3 ] || fail "expected 3 unit folders, found $UNIT_FOLDERS"
  [ "$COMPUTED" -ge 3 ] || fail "only $COMPUTED results were computed: the runs made no progress"
  if grep -qE 'AddressSanitizer|runtime error' "$W/err.txt"; then
    fail "sanitizer report: $(grep -m2 -E 'AddressSanitizer|runtime error' "$W/err.txt")"
  fi
}

# ---- the runs -----------------------------------------------------------------

echo "crash consistency: $STOPS stop points per signal ($SIGNALS), time scale $VORCNT_TIME_SCALE, seed $SEED"
for SIG in $SIGNALS; do
  crash_world
  for ((i = 1; i <= STOPS; i++)); do
    r=$((RANDOM % 10))
    if [ $r -lt 4 ]; then
      kind=timed delay=$((RANDOM % 4000))
    else
      [ $r -lt 7 ] && kind=push || kind=pop
      delay=$((RANDOM % (SECOND_MS * 14 / 10 + 2)))
    fi
    run_to_stop "$kind" "$delay" 60000
    [ "$STOPPED_BY" = ended ] && fail "stop $i: the controller ended by itself"
    [ "$STOPPED_BY" = deadline ] && echo "  stop $i: no $kind line within the deadline; stopped anyway"
    printf '%d\t%s\t%d\t%s\t%s\n' "$i" "$kind" "$delay" "$PHASE" \
      "$(printf '%s' "$LAST" | iconv -c -f CP932 -t UTF-8)" >>"$W/stops.log"
    pause_ms $((RANDOM % 300))
    top_up_server
  done
  # The last start is left to send every result and refill the buffer.
  run_to_stop final 0 240000
  [ "$STOPPED_BY" = plan ] || fail "the last run did not finish the buffer (last line: $LAST)"
  vorclose -exit -echo off >/dev/null
  account
  if [ $status -ne 0 ]; then
    echo "---- world kept in $W"
    VORCNT_CRASH_KEEP=1
  fi
done
[ $status -eq 0 ] && echo "passed: crash consistency" || echo "FAILED: crash consistency (seed $SEED)"
exit $status
