# Cases in the simulated world under Wine, sourced by run.sh after the shared
# world builder (tests/e2e/world.sh): the computing
# road with two units, and a fill run. The controller lines, the closer's
# orders and the server's counts are the ones the POSIX end-to-end run expects
# of the same roads. Then vorstat.exe beside a running controller.

# Starting a program through cmd.exe takes Wine a good part of a second, so a
# unit computes for longer than on POSIX: the "-close" order must reach the
# client before it has finished and gone to connect by itself.
road_scale=${VORCNT_WINE_ROAD_SCALE:-0.005}
road_compute=${VORCNT_WINE_ROAD_COMPUTE:-600}
road_deadline=${VORCNT_WINE_ROAD_DEADLINE:-240}

# Runs a simulated-world tool from BIN under Wine; its output without CRs.
sim_tool() {  # exe, args...
  local exe=$1
  shift
  wine "$bin/$exe" "$@" 2>/dev/null | tr -d '\r'
}

# A case folder with a client folder c\ holding the simulated client, a server
# with QUEUED work units, and the run folder. Sets dir, srv, run and exports
# the sim's settings as Windows paths (the checks read the files from here).
road_world() {  # name, queued
  dir=$(new_case "$1")
  srv=$dir/srv
  SRV=$srv
  run=$dir/run
  mkdir -p "$dir/c" "$run"
  cp "$bin/Vorelith.exe" "$dir/c/"
  : >"$run/orders.log"
  export VORSIM_RUNDIR VORSIM_SERVER VORSIM_COMPUTE_SECONDS=$road_compute
  VORSIM_RUNDIR=$(winpath "$run")
  VORSIM_SERVER=$(winpath "$srv")
  unset VORSIM_FAULT
  sim_tool vorserver.exe init "$VORSIM_SERVER" "$2" 24 | grep -qx "queued $2"
}

# unitN holding a computed result that waits to be sent: the client computes
# a unit in a side folder without a server, so the result stays there.
road_finished_unit() {  # n
  local prep=$dir/prep end=$((SECONDS + 60))
  mkdir -p "$prep"
  cp "$bin/Vorelith.exe" "$prep/"
  park_unit "$prep" 60 || return 1
  VORSIM_SERVER='Z:\nonexistent' VORSIM_COMPUTE_SECONDS=2 VORCNT_TIME_SCALE=$road_scale wine "$prep/Vorelith.exe" >/dev/null 2>&1
  until [ -f "$prep/result.vwu" ] || [ $SECONDS -ge $end ]; do sleep 0.1; done
  (cd "$dir" && wine vorclose.exe -exit -echo off >/dev/null 2>&1)
  [ -f "$prep/result.vwu" ] || return 1
  mkdir -p "$dir/c/unit$1"
  mv "$prep"/*.vwu "$dir/c/unit$1/"
  rm -rf "$prep"
}

# Runs the controller until the closer has been given ORDERS orders (or the
# deadline), stops it, then the client; leaves out.txt (UTF-8, no CRs) and
# orders.txt as they stood when the controller was stopped.
road_run() {  # orders, args...
  local orders=$1
  shift
  : >"$run/orders.log"
  (cd "$dir" && VORCNT_TIME_SCALE=$road_scale exec wine vorcnt.exe "$@" >out.bin 2>err.txt) &
  local pid=$! end=$((SECONDS + road_deadline))
  while [ "$(grep -c . "$run/orders.log")" -lt "$orders" ] && [ $SECONDS -lt $end ] && kill -0 "$pid" 2>/dev/null; do
    sleep 0.2
  done
  stop_pid "$pid"
  cp "$run/orders.log" "$dir/orders.txt"
  (cd "$dir" && VORCNT_TIME_SCALE=$road_scale wine vorclose.exe -exit -echo off >/dev/null 2>&1)
  transcripts+=("$dir/out.bin")
  iconv -c -f CP932 -t UTF-8 <"$dir/out.bin" | tr -d '\r' >"$dir/out.txt"
}

# The checks below print what is wrong and return 1.

# The given lines appear in out.txt as whole lines, in this order.
road_lines() {  # lines...
  local missing
  missing=$(awk -v n=$# 'BEGIN { for (i = 1; i < ARGC; i++) want[i] = ARGV[i]; ARGC = 1; k = 1 }
    k <= n && $0 == want[k] { k++ }
    END { if (k <= n) print want[k] }' "$@" <"$dir/out.txt")
  [ -z "$missing" ] || { echo "    output lacks, in order: '$missing'"; return 1; }
}

road_line_count() {  # count, line
  local n
  n=$(grep -cxF -- "$2" "$dir/out.txt")
  [ "$n" -eq "$1" ] || { echo "    output has '$2' $n times, expected $1"; return 1; }
}

road_orders() {  # the orders the closer was given first, in order
  [ "$(head -n $# "$dir/orders.txt")" = "$(printf '%s\n' "$@")" ] ||
    { echo "    orders were: $(tr '\n' '|' <"$dir/orders.txt")"; return 1; }
}

road_server() {  # results: the server verified them all and nothing was lost
  local report
  report=$(sim_tool vorserver.exe verify "$VORSIM_SERVER" | tr '\n' ' ')
  case " $report" in
    *" results $1 verified $1 mismatched 0 duplicates 0 "*) ;;
    *) echo "    server: $report"; return 1 ;;
  esac
  report=$(sim_tool vorserver.exe lost "$VORSIM_SERVER" "$(winpath "$dir/c")\\" "$VORSIM_RUNDIR\\client.log")
  printf '%s\n' "$report" | grep -qx 'lost 0' || { echo "    $(printf '%s' "$report" | tr '\n' ' ')"; return 1; }
}

road_verdict() {  # name, failures
  if [ "$2" -eq 0 ]; then
    pass "$1"
  else
    echo "    --- last controller lines:"
    tail -n 12 "$dir/out.txt" | sed 's/^/    /'
    fail "$1" "the run under Wine differs"
  fi
}

have_sim() {
  [ -f "$bin/Vorelith.exe" ] && [ -f "$bin/vorserver.exe" ] && return 0
  fail "$1" "the simulated client and server are not built in $bin"
  return 1
}

# --- road: unit1 holds the older work unit and is computed first; then both
# results are sent and the units refilled, and computing starts again ---------
case_road() {
  have_sim road || return
  local dir srv run bad=0
  road_world road 8 && park_unit "$dir/c/unit0" 100 && park_unit "$dir/c/unit1" 3600 ||
    { fail road "cannot lay out the world"; return; }
  local id0 id1
  id0=$(unit_id "$dir/c/unit0/work_unit.vwu")
  id1=$(unit_id "$dir/c/unit1/work_unit.vwu")
  printf 'EXEC = c\\\nUNITS = 2\n' >"$dir/vorcnt.cfg"

  # The first order, "-close" and "-exit" per computed unit, "-exit" per
  # connection, and "-close" as computing starts again.
  road_run 8

  local lines
  mapfile -t lines < <(golden_lines "$here/../golden/calc_road.txt" 1 "1 0" "0 1")
  road_lines "${lines[@]}" || bad=1
  road_line_count 1 "計算可能ユニットがありません" || bad=1
  road_line_count 1 "FILL Completion" || bad=1
  road_orders "-exit -echo off" "-close -echo off" "-exit -echo off" "-close -echo off" "-exit -echo off" \
    "-exit -echo off" "-exit -echo off" "-close -echo off" || bad=1

  local computed
  computed=$(grep '^compute ' "$run/client.log" 2>/dev/null | awk '{ print $2 }' | awk '!seen[$0]++' | head -n 2 | tr '\n' ' ')
  [ "$computed" = "$id1 $id0 " ] || { echo "    computed '$computed', expected oldest first: '$id1 $id0 '"; bad=1; }
  road_server 2 || bad=1
  road_verdict road $bad
}

# --- fill: "-fill auto" sends unit0's result first, telling the started client
# to connect; the closer's report lands between the controller's lines --------
case_fill() {
  have_sim fill || return
  local dir srv run bad=0
  road_world fill 6 && road_finished_unit 0 && park_unit "$dir/c/unit1" 3600 ||
    { fail fill "cannot lay out the world"; return; }
  printf 'EXEC = c\\\n' >"$dir/vorcnt.cfg"

  road_run 4 -fill auto

  local lines
  mapfile -t lines < <(golden_lines "$here/../golden/fill_road.txt")
  road_lines "${lines[@]}" || bad=1
  road_orders "-exit -echo off" "-connect" "-exit -echo off" "-close -echo off" || bad=1
  # Written out before the closer ran, so its report comes after the wait line.
  awk '$0 == "[Unit0] Data交信待機" { w = NR } /^vorclose: -connect: sent to client/ { c = NR }
       $0 == "[Unit0] Data Conection Start." { s = NR } END { exit !(w && c > w && s > c) }' "$dir/out.txt" ||
    { echo "    the closer's -connect report is missing or out of place"; bad=1; }
  road_server 1 || bad=1
  road_verdict fill $bad
}

# vorstat.exe run beside the controller (it reads vorcnt.cfg for the folder):
# its table in DIR/seen.txt; with "all", its JSON and metrics file too.
presence_look() {  # [all]
  (cd "$dir" && wine vorstat.exe 2>&1 | tr -d '\r' >seen.txt)
  [ "${1:-}" = all ] || return 0
  (cd "$dir" && wine vorstat.exe --json 2>&1 | tr -d '\r' >seen.json
    rm -f seen.prom && wine vorstat.exe --prometheus seen.prom >/dev/null 2>&1)
}

# --- presence: vorstat.exe sees the running controller while it moves a unit
# (2000 small files besides its own make the pop take seconds) and while it
# computes, and sees it gone once it was killed --------------------------------
case_presence() {
  have_sim presence || return
  local dir srv run bad=0 pid end i moves=0
  road_world presence 2 && park_unit "$dir/c/unit0" 100 || { fail presence "cannot lay out the world"; return; }
  VORSIM_COMPUTE_SECONDS=20000  # computing for 100 s, so that the looks find it computing
  for i in $(seq -w 1 2000); do printf 'pad %s\n' "$i" >"$dir/c/unit0/pad$i.vwu"; done
  cp "$bin/vorstat.exe" "$dir/"
  printf 'EXEC = c\\\r\nUNITS = 1\r\n' >"$dir/vorcnt.cfg"
  (cd "$dir" && VORCNT_TIME_SCALE=$road_scale exec wine vorcnt.exe >out.bin 2>err.txt) &
  pid=$!
  end=$((SECONDS + 120))
  until [ -s "$dir/c/vorcnt.move" ] || [ $SECONDS -ge $end ] || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
  # The record is emptied once the move is done. Every look that found it
  # full saw the move under way.
  while [ -s "$dir/c/vorcnt.move" ] && [ $SECONDS -lt $end ]; do
    presence_look
    grep -q '^interrupted move' "$dir/seen.txt" && { echo "    mid-move: $(grep '^interrupted' "$dir/seen.txt")"; bad=1; }
    grep -q '^move under way: pop of unit0' "$dir/seen.txt" && moves=$((moves + 1))
  done
  [ $moves -gt 0 ] || { echo "    no look caught the move under way"; bad=1; }
  end=$((SECONDS + 60))
  until grep -qaF $'[Unit0] Data\x8c\x76\x8e\x5a\x8a\x4a\x8e\x6e' "$dir/out.bin" || [ $SECONDS -ge $end ]; do sleep 0.2; done
  presence_look all
  grep -q '^controller: running (pid [0-9]*) since .*, computing unit0' "$dir/seen.txt" &&
    grep -q '"controller_up": true' "$dir/seen.json" && grep -qx 'vorcnt_controller_up 1' "$dir/seen.prom" ||
    { echo "    computing: $(grep '^controller' "$dir/seen.txt"), $(grep -h '^vorcnt_controller_up\|"controller_up"' "$dir/seen.json" "$dir/seen.prom" | tr -d '\n')"; bad=1; }
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  presence_look all
  grep -q '^controller: not running (last seen ' "$dir/seen.txt" &&
    grep -q '"controller_up": false' "$dir/seen.json" && grep -qx 'vorcnt_controller_up 0' "$dir/seen.prom" ||
    { echo "    killed: $(grep '^controller' "$dir/seen.txt"), $(grep -h '^vorcnt_controller_up\|"controller_up"' "$dir/seen.json" "$dir/seen.prom" | tr -d '\n')"; bad=1; }
  (cd "$dir" && wine vorclose.exe -exit -echo off >/dev/null 2>&1)
  transcripts+=("$dir/out.bin")
  iconv -c -f CP932 -t UTF-8 <"$dir/out.bin" | tr -d '\r' >"$dir/out.txt"
  road_verdict presence $bad
}
