#!/usr/bin/env bash
# The real binary's first moments: the closer runs before any output, and
# -version / -help print exactly their bytes and exit 0. With no closer to
# run nothing else happens (status 69); redirected lines are out before the
# first pause. A stop from outside exits 0; a hook reads nothing and does not
# outlive a stop; a stop by hand says that the client goes on.
# Usage: startup.sh BIN_DIR
set -uo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A session of its own: controllers run beside this one are not "another vorcnt".
export TMPDIR=$work
# Leaks are not what these runs look for; a stop now ends through exit(),
# where the leak check's stop of the world could hang an instrumented run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
mkdir -p "$work/tools" "$work/run"
# A stand-in closer that says on stdout that it ran, so its place among the
# controller's (redirected, buffered) lines shows the order.
cat >"$work/tools/vorclose" <<'SH'
#!/bin/sh
echo "closer: $*"
SH
chmod +x "$work/tools/vorclose"

banners=$'Vorelith Client Controler Version 0.2\x83\xc0+6\nVorelith Client Monitor Version 0.6\x83\xbf6\n'
help=$'options:\n\t-version            show version info\n\t-help               show help info\n\t-exec PATH          Vorelith Client PATH\n\t-fill               Send result & get New work_unit\n\t-units N            Number of work_unit buffer. default=2 1<=N<=16\n\t-prog               show Vorelith Progress.\n\t-time N             Polling Time. default=120Sec 120Sec<=N<=36000Sec\n\t-execfinish COMMAND Execute command if finished run Vorelith.\n\t-connect FROM-TO    Connect only from FROM to TO (local HH:MM-HH:MM).\n\t-execempty COMMAND  Execute command if no work_unit is left to compute.\n\t-stall MINUTES      Restart Vorelith if its files do not change for MINUTES. 1<=N<=100000\n\t-nowork MINUTES     End a connection that gets no new work after MINUTES and retry later. 1<=N<=100000\n\t-log FILE           Copy every line to FILE (UTF-8), with the time.\n'
failed=0

check() {  # NAME EXPECTED ARGS...
  local name=$1 expected=$2
  shift 2
  (cd "$work/run" && PATH="$work/tools:$PATH" "$bin/vorcnt" "$@" >"$work/out" 2>"$work/err")
  local status=$?
  if [ "$status" -ne 0 ]; then
    echo "FAIL $name: exit status $status"
    failed=1
  elif ! cmp -s "$work/out" <(printf '%s' "$expected"); then
    echo "FAIL $name: output differs"
    diff <(od -c "$work/out") <(printf '%s' "$expected" | od -c) | head -n 20
    failed=1
  else
    echo "PASS $name"
  fi
}

check version "closer: -exit -echo off"$'\n'"${banners}vorcnt.cfg open error!"$'\n' -version
check help "closer: -exit -echo off"$'\n'"${banners}vorcnt.cfg open error!"$'\n'"$help" -help

# On a UTF-8 terminal the program's CP932 texts and the client's CP932 data
# are converted, and a UTF-8 folder name is shown as it is, in both programs.
if command -v script >/dev/null; then
  folder=$work/$'\xe3\x83\xb4\xe3\x82\xa9'  # two katakana in UTF-8
  mkdir -p "$folder/unit0"
  : >"$folder/version.vwu"
  printf '#!/bin/sh\nexit 0\n' >"$folder/Vorelith.exe"  # a stand-in: it must be there, it never runs
  chmod +x "$folder/Vorelith.exe"
  printf 'id=7\nname=\x93\xfa\x96\x7b\n' >"$folder/user_info.vwu"  # two kanji in CP932
  # UNITS = 99 is refused, so this run moves nothing: with no work in the
  # folder it prints its dump and ends.
  printf 'EXEC = %s/\nUNITS = 99\n' "$folder" >"$work/run/vorcnt.cfg"
  (cd "$work/run" && LC_ALL=C.UTF-8 VORCNT_TIME_SCALE=0.001 PATH="$work/tools:$PATH" \
    script -qec "timeout 1 $bin/vorcnt" /dev/null | tr -d '\r' >"$work/tty.vorcnt")
  (LC_ALL=C.UTF-8 script -qec "$bin/vorstat $folder" /dev/null | tr -d '\r' >"$work/tty.vorstat")
  if grep -qF "path:$folder/" "$work/tty.vorcnt" && grep -qF $'Controler Version 0.2\xce\xb2+6' "$work/tty.vorcnt" &&
    grep -qF "Client folder: $folder/ (1 unit folder)" "$work/tty.vorstat" &&
    grep -qF $'name=\xe6\x97\xa5\xe6\x9c\xac' "$work/tty.vorstat"; then
    echo "PASS utf8_folder_on_terminal"
  else
    echo "FAIL utf8_folder_on_terminal"
    head -n 12 "$work/tty.vorcnt" "$work/tty.vorstat"
    failed=1
  fi
else
  echo "SKIPPED utf8_folder_on_terminal (script not found)"
fi

# A client folder with a stand-in client and one waiting unit.
client=$work/client
mkdir -p "$client/unit0"
printf '#!/bin/sh\nexit 0\n' >"$client/Vorelith.exe"
chmod +x "$client/Vorelith.exe"
printf 'v\n' >"$client/unit0/version.vwu"
printf 'w\n' >"$client/unit0/work_unit.vwu"
rm -f "$work/run/vorcnt.cfg"

# No closer anywhere: a client still running could not be stopped, so
# nothing may move and no client may start.
(cd "$work/run" && PATH=/usr/bin:/bin "$bin/vorcnt" -exec "$client/" >"$work/out" 2>"$work/err")
status=$?
expected="${banners}vorcnt.cfg open error!"$'\n'"vorclose could not be run (status 127): a running client could not be stopped; nothing is started"$'\n'
if [ "$status" -ne 69 ] || ! cmp -s "$work/out" <(printf '%s' "$expected") || [ ! -f "$client/unit0/work_unit.vwu" ] ||
  [ -e "$client/work_unit.vwu" ]; then
  echo "FAIL no_closer: $(od -c "$work/out" | tail -n 4)"
  failed=1
else
  echo "PASS no_closer"
fi

# Redirected output is held in blocks; a stop during a pause (here the 5 s
# after the dump) must not lose what was printed before it.
(cd "$work/run" && PATH="$work/tools:$PATH" VORCNT_TIME_SCALE=1 exec "$bin/vorcnt" -exec "$client/" >"$work/out" 2>"$work/err") &
pid=$!
# The pop's delete is the last command before the dump and the pause.
for _ in $(seq 100); do [ -e "$client/unit0/work_unit.vwu" ] || break; sleep 0.1; done
sleep 0.5
kill -TERM "$pid"
wait "$pid" 2>/dev/null
status=$?
if [ "$status" -eq 0 ] && [ "$(tail -n 2 "$work/out" | sed -n 1p)" = 'fill:0' ]; then
  echo "PASS stop_during_pause"
else
  echo "FAIL stop_during_pause (status $status): $(tail -n 3 "$work/out")"
  failed=1
fi

# Runs the controller on $client in the background, its input a pipe that
# is never written to and never closed, as a terminal's would be.
start_bg() {
  (cd "$work/run" && PATH="$work/tools:$PATH" VORCNT_TIME_SCALE=0.01 exec "$bin/vorcnt" -exec "$client/" \
    >"$work/out" 2>"$work/err" < <(sleep 600)) &
  pid=$!
}
wait_for() {  # TEXT: up to 20 s for TEXT in the output
  for _ in $(seq 200); do LC_ALL=C grep -qF "$1" "$work/out" 2>/dev/null && return 0; sleep 0.1; done
  return 1
}
# Up to SECONDS for the controller to end; its status in `status`.
ended_within() {  # SECONDS
  for _ in $(seq $(($1 * 10))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; wait "$pid" 2>/dev/null; return 1; fi
  wait "$pid" 2>/dev/null
  status=$?
}

verdict() {  # OK NAME DETAIL
  if [ "$1" -eq 0 ]; then echo "PASS $2"; else echo "FAIL $2 (status ${status:-}): $3"; failed=1; fi
}

# Nothing to compute: the hook runs. `cat` reads nothing and ends, and the
# run goes on to its dump.
rm -f "$client/unit0/work_unit.vwu" "$client/work_unit.vwu"
printf 'EXECEMPTY = cat\n' >"$work/run/vorcnt.cfg"
start_bg
wait_for "fill:0" && kill -TERM "$pid" && ended_within 10 && [ "$status" -eq 0 ]
verdict $? hook_reads_nothing "$(tail -n 3 "$work/out")"

# A hook that hangs and ignores SIGTERM ends with the controller's stop, by
# SIGKILL after the grace, well within 10 s: here a grandchild, not the
# group's leader, which itself ends at the SIGTERM.
printf "EXECEMPTY = (trap '' TERM; exec sh -c 'echo \$\$ >%s/hook.pid; exec sleep 100000') & wait\n" "$work" >"$work/run/vorcnt.cfg"
start_bg
for _ in $(seq 200); do [ -s "$work/hook.pid" ] && break; sleep 0.1; done
hook=$(cat "$work/hook.pid" 2>/dev/null)
# Ended, or a zombie that init has yet to reap.
hook_ended() { ! kill -0 "$1" 2>/dev/null || [ "$(sed 's/.*) \(.\).*/\1/' "/proc/$1/stat" 2>/dev/null)" = Z ]; }
[ -n "$hook" ] && kill -TERM "$pid" && ended_within 10 && [ "$status" -eq 0 ] && hook_ended "$hook"
verdict $? hung_hook_ends_with_stop "hook '$hook'"
[ -n "$hook" ] && kill -KILL "$hook" 2>/dev/null

# Stopped by hand while the client computes: the lines of today, then one
# that says the client goes on and what ends it.
rm -f "$work/run/vorcnt.cfg"
printf 'w\n' >"$client/unit0/work_unit.vwu"
start_bg
note='Stopped; the client goes on computing unit0: "vorclose -exit" ends it'
wait_for $'[Unit0] Data\x8cv\x8eZ\x8aJ\x8en' && kill -INT "$pid" && ended_within 10 && [ "$status" -eq 0 ] &&
  [ "$(tail -n 1 "$work/out")" = "$note" ] && [ "$(grep -c . "$work/out")" -gt 1 ]
verdict $? stop_by_hand_says_client_goes_on "$(tail -n 2 "$work/out")"
exit $failed
