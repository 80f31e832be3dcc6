#!/usr/bin/env bash
# End-to-end cases for the 32-bit Windows build, run under Wine with Wine's own
# cmd.exe. Usage: tests/wine/run.sh BIN_DIR WORK_DIR
#   BIN_DIR   the win32 build's bin folder (vorcnt.exe, vorclose.exe, Vorelith.exe)
#   WORK_DIR  scratch space; each case gets a fresh folder inside it
# WINEPREFIX must name a prefix that is ready (scripts/wine.sh makes one).
# Prints one line per case and ends with "wine: N passed, M failed".
set -u
export LC_ALL=C

bin=$(cd "${1:?BIN_DIR}" && pwd)
work=${2:?WORK_DIR}
mkdir -p "$work" && work=$(cd "$work" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:?WINEPREFIX must be set}"
export WINEDEBUG=${WINEDEBUG:--all}
# Pauses of minutes become fractions of a second; cmd.exe starts dominate.
scale=${VORCNT_WINE_TIME_SCALE:-0.01}

passed=0
failed=0
transcripts=()
# The shared world builder; the pass and fail below are this suite's own.
. "$here/../e2e/world.sh"

pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() {  # name, reason...
  failed=$((failed + 1))
  local name=$1
  shift
  echo "FAIL $name: $*"
}

# The Windows name of a Unix path (Wine maps the root to Z:).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# A fresh case folder holding the controller and the closer.
new_case() {
  local dir=$work/$1
  rm -rf "$dir"
  mkdir -p "$dir"
  cp "$bin/vorcnt.exe" "$bin/vorclose.exe" "$dir/"
  printf '%s' "$dir"
}

# Runs vorcnt.exe in DIR to its end; stdout to DIR/out.bin. Returns its status.
run_vorcnt() {  # dir, args...
  local dir=$1
  shift
  (cd "$dir" && VORCNT_TIME_SCALE=$scale timeout -k 5 60 wine vorcnt.exe "$@" >out.bin 2>err.txt)
}

# Ends a program started here, as an operator's interrupt would (Wine makes
# SIGINT the console's Ctrl+C); one that does not go within ten seconds is
# killed. Stopped so, the controller exits with status 0: any other is
# noted for the stop_status case.
bad_stops=()
stops=0
stop_pid() {  # pid
  kill -INT "$1" 2>/dev/null
  local i status
  for i in $(seq 100); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  # Not reaped yet, so the id is still this child's.
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
  status=$?
  stops=$((stops + 1))
  [ $status -eq 0 ] || bad_stops+=("$status")
}

# Starts vorcnt.exe in DIR, waits until its output holds MARKER (the
# controller writes out what it holds before each command it runs), then stops
# it. Returns 0 when the marker came, 1 on timeout or an early end.
run_until() {  # dir, marker, seconds, args...
  local dir=$1 marker=$2 seconds=$3
  shift 3
  (cd "$dir" && VORCNT_TIME_SCALE=$scale exec wine vorcnt.exe "$@" >out.bin 2>err.txt) &
  local pid=$! found=1 end=$((SECONDS + seconds))
  while [ $SECONDS -lt $end ]; do
    if grep -qaF -- "$marker" "$dir/out.bin" 2>/dev/null; then
      found=0
      break
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  stop_pid "$pid"
  grep -qaF -- "$marker" "$dir/out.bin" 2>/dev/null && found=0
  transcripts+=("$dir/out.bin")
  return $found
}

# Compares FILE with the expected bytes; on a difference shows both in hex.
same_bytes() {  # name, file, expected bytes
  if [ "$(od -An -tx1 -v "$2")" = "$(printf '%s' "$3" | od -An -tx1 -v)" ]; then
    return 0
  fi
  echo "--- $1: expected"
  printf '%s' "$3" | od -c | head -20
  echo "--- $1: got"
  od -c "$2" | head -20
  return 1
}

# True when the lines hold each pattern, in this order.
in_order() {  # file, pattern...
  local file=$1 from=1 at
  shift
  for pattern in "$@"; do
    at=$(tail -n +"$from" "$file" | grep -naF -m1 -- "$pattern" | cut -d: -f1)
    [ -n "$at" ] || { echo "    missing in order: $pattern"; return 1; }
    from=$((from + at))
  done
}

# Lists the .vwu files of a folder with a digest of each, to compare sets.
vwu_digest() {  # dir
  (cd "$1" && for f in *.vwu; do [ -e "$f" ] && printf '%s %s\n' "$f" "$(cksum <"$f")"; done) 2>/dev/null
}

# Writes each name=text pair as a one-line file in DIR.
put_files() {  # dir, name=text...
  local dir=$1
  shift
  mkdir -p "$dir"
  for pair in "$@"; do
    printf '%s\n' "${pair#*=}" >"$dir/${pair%%=*}"
  done
}

banners=$'Vorelith Client Controler Version 0.2\x83\xc0+6\r\nVorelith Client Monitor Version 0.6\x83\xbf6\r\n'
no_cfg=$'vorcnt.cfg open error!\r\n'

# --- version: the banners and the missing-file line, CP932, CR LF ---------------
case_version() {
  local dir
  dir=$(new_case version)
  run_vorcnt "$dir" -version
  local status=$?
  if [ $status -ne 0 ]; then
    fail version "exit status $status (stderr: $(head -c 300 "$dir/err.txt"))"
    return
  fi
  transcripts+=("$dir/out.bin")
  same_bytes version "$dir/out.bin" "$banners$no_cfg" && pass version || fail version "output differs"

  # Unzipped before the client's closer is on PATH: cmd's "not recognized"
  # line comes first, and the line after the version explains it.
  dir=$(new_case version-no-closer)
  rm "$dir/vorclose.exe"
  run_vorcnt "$dir" -version
  transcripts+=("$dir/out.bin")
  same_bytes version-no-closer "$dir/out.bin" "$banners$no_cfg"$'vorclose could not be run (status 9009), so the command interpreter said it is not found: put the client\'s vorclose.exe in this folder or on PATH\r\n' &&
    pass version-no-closer || fail version-no-closer "output differs"
}

# --- help: banners, then the help text with its tabs -----------------------------
case_help() {
  local dir expected
  dir=$(new_case help)
  expected=$banners$no_cfg$'options:\r\n'
  expected+=$'\t-version            show version info\r\n'
  expected+=$'\t-help               show help info\r\n'
  expected+=$'\t-exec PATH          Vorelith Client PATH\r\n'
  expected+=$'\t-fill               Send result & get New work_unit\r\n'
  expected+=$'\t-units N            Number of work_unit buffer. default=2 1<=N<=16\r\n'
  expected+=$'\t-prog               show Vorelith Progress.\r\n'
  expected+=$'\t-time N             Polling Time. default=120Sec 120Sec<=N<=36000Sec\r\n'
  expected+=$'\t-execfinish COMMAND Execute command if finished run Vorelith.\r\n'
  expected+=$'\t-connect FROM-TO    Connect only from FROM to TO (local HH:MM-HH:MM).\r\n'
  expected+=$'\t-execempty COMMAND  Execute command if no work_unit is left to compute.\r\n'
  expected+=$'\t-stall MINUTES      Restart Vorelith if its files do not change for MINUTES. 1<=N<=100000\r\n'
  expected+=$'\t-nowork MINUTES     End a connection that gets no new work after MINUTES and retry later. 1<=N<=100000\r\n'
  expected+=$'\t-log FILE           Copy every line to FILE (UTF-8), with the time.\r\n'
  run_vorcnt "$dir" -help
  local status=$?
  if [ $status -ne 0 ]; then
    fail help "exit status $status"
    return
  fi
  transcripts+=("$dir/out.bin")
  same_bytes help "$dir/out.bin" "$expected" && pass help || fail help "output differs"
}

# --- the command interpreter: how it is found and how it is started ---------------
# Each sub-case runs "vorcnt.exe -version" from a batch file that sets up the
# environment first, with a stand-in interpreter that logs its command line.
interp_run() {  # dir, batch lines that prepare the environment...
  local dir=$1 line
  shift
  {
    printf '@echo off\r\n'
    for line in "$@"; do printf '%s\r\n' "$line"; done
    printf 'vorcnt.exe -version\r\n'
  } >"$dir/run.bat"
  (cd "$dir" && timeout -k 5 60 wine "C:\\windows\\system32\\cmd.exe" /c run.bat >out.bin 2>err.txt)
  local status=$?
  transcripts+=("$dir/out.bin")
  return $status
}

case_interpreter() {
  local dir fake=$work/fake_interpreter.exe
  if ! i686-w64-mingw32-g++ -O1 -static -o "$fake" "$here/fake_interpreter.cpp" 2>"$work/fake.err"; then
    fail interpreter "cannot build the stand-in interpreter: $(head -c 300 "$work/fake.err")"
    return
  fi

  # COMSPEC's name in mixed case, its folder holding a blank: the interpreter
  # is the quoted first word, then "/c " and the text exactly as built.
  dir=$(new_case interp-comspec)
  mkdir -p "$dir/my shell"
  cp "$fake" "$dir/my shell/fake.exe"
  local want
  want="\"$(winpath "$dir")\\my shell\\fake.exe\" /c vorclose.exe -exit -echo off"
  interp_run "$dir" "set comspec=" "set CoMsPeC=$(winpath "$dir")\\my shell\\fake.exe"
  if [ "$(cat "$dir/interp.log" 2>/dev/null)" = "$want" ] && same_bytes interp-comspec "$dir/out.bin" "$banners$no_cfg"; then
    pass interp-comspec
  else
    fail interp-comspec "logged [$(cat "$dir/interp.log" 2>/dev/null)], wanted [$want]"
  fi

  # No COMSPEC: CMD.EXE in the current folder comes before PATH.
  dir=$(new_case interp-cwd)
  cp "$fake" "$dir/CMD.EXE"
  mkdir -p "$dir/other"
  cp "$fake" "$dir/other/CMD.EXE"
  interp_run "$dir" "set comspec=" "set PATH=$(winpath "$dir")\\other"
  want='"CMD.EXE" /c vorclose.exe -exit -echo off'
  if [ "$(cat "$dir/interp.log" 2>/dev/null)" = "$want" ]; then
    pass interp-cwd
  else
    fail interp-cwd "logged [$(cat "$dir/interp.log" 2>/dev/null)], wanted [$want]"
  fi

  # No COMSPEC, none in the current folder: PATH in order, quotes dropped,
  # empty and missing entries passed over.
  dir=$(new_case interp-path)
  mkdir -p "$dir/no cmd here" "$dir/sh ell"
  cp "$fake" "$dir/sh ell/CMD.EXE"
  interp_run "$dir" "set comspec=" "set PATH=;\"$(winpath "$dir")\\no cmd here\";Z:\\missing;\"$(winpath "$dir")\\sh ell\""
  want="\"$(winpath "$dir")\\sh ell\\CMD.EXE\" /c vorclose.exe -exit -echo off"
  if [ "$(cat "$dir/interp.log" 2>/dev/null)" = "$want" ]; then
    pass interp-path
  else
    fail interp-path "logged [$(cat "$dir/interp.log" 2>/dev/null)], wanted [$want]"
  fi

  # No interpreter anywhere, or COMSPEC naming a missing file: nothing is
  # started and the run goes on as before.
  dir=$(new_case interp-none)
  mkdir -p "$dir/empty"
  interp_run "$dir" "set comspec=" "set PATH=$(winpath "$dir")\\empty"
  local none_ok=$?
  same_bytes interp-none "$dir/out.bin" "$banners$no_cfg" || none_ok=1
  dir=$(new_case interp-missing)
  cp "$fake" "$dir/CMD.EXE"
  interp_run "$dir" "set comspec=" "set ComSpec=$(winpath "$dir")\\nothere.exe"
  [ -e "$dir/interp.log" ] && none_ok=1
  same_bytes interp-missing "$dir/out.bin" "$banners$no_cfg" || none_ok=1
  [ $none_ok -eq 0 ] && pass interp-none || fail interp-none "a run without an interpreter went wrong"
}

# Completed unit: version, state with progress, result. Waiting unit: version
# and a work unit. Each file's text names where it started, to trace moves.
completed() { put_files "$1" "version.vwu=v $2" "state.vwu=prog=1.000000" "result.vwu=result of $2"; }
waiting() { put_files "$1" "version.vwu=v $2" "work_unit.vwu=work of $2"; }

# --- push of unit 3: a fill run hands the finished client folder to the empty
# unit3, then pops the first unit with a result to send (unit1) ------------------
case_push() {
  local dir before_client before_unit1 before_unit0 before_unit2 ok=0
  dir=$(new_case push)
  printf 'EXEC = client\\\nFILL\nUNITS = 4\n' >"$dir/vorcnt.cfg"
  completed "$dir/client" client
  : >"$dir/client/Vorelith.exe"  # a client folder must hold one; the case ends before it would run
  printf 'out of client\n' >"$dir/client/outfile.vwu"
  printf 'kept\n' >"$dir/client/notes.txt"
  waiting "$dir/client/unit0" unit0
  completed "$dir/client/unit1" unit1
  waiting "$dir/client/unit2" unit2
  mkdir -p "$dir/client/unit3"
  before_client=$(vwu_digest "$dir/client")
  before_unit0=$(vwu_digest "$dir/client/unit0")
  before_unit1=$(vwu_digest "$dir/client/unit1")
  before_unit2=$(vwu_digest "$dir/client/unit2")

  if ! run_until "$dir" $'[Unit1] Data\x8c\xf0\x90\x4d\x91\xd2\x8b\x40' 90; then
    fail push "the run never reached the connection (output: $(tr -d '\r' <"$dir/out.bin" | tail -n 5 | tr '\n' '|'))"
    return
  fi
  [ "$(vwu_digest "$dir/client/unit3")" = "$before_client" ] || { echo "    unit3 does not hold the client's files"; ok=1; }
  [ "$(vwu_digest "$dir/client" | grep -v '^outfile.vwu ')" = "$before_unit1" ] || { echo "    client does not hold unit1's files"; ok=1; }
  [ -f "$dir/client/outfile.vwu" ] && [ ! -s "$dir/client/outfile.vwu" ] || { echo "    no empty outfile.vwu after the pop"; ok=1; }
  [ -z "$(vwu_digest "$dir/client/unit1")" ] || { echo "    unit1 still holds files"; ok=1; }
  [ "$(vwu_digest "$dir/client/unit0")" = "$before_unit0" ] || { echo "    unit0 changed"; ok=1; }
  [ "$(vwu_digest "$dir/client/unit2")" = "$before_unit2" ] || { echo "    unit2 changed"; ok=1; }
  [ -f "$dir/client/notes.txt" ] && [ ! -e "$dir/client/unit3/notes.txt" ] || { echo "    a file other than *.vwu moved"; ok=1; }
  in_order "$dir/out.bin" "[unit3] Dir find : 0" "[Unit3] push" "[Unit1]:Data Conection" "[Unit1] pop" || ok=1
  [ $ok -eq 0 ] && pass push || fail push "files not where they belong"
}

# --- pop of unit 3: a computing run with an empty client folder takes the only
# buffered work unit, from unit3, keeping its modification time ------------------
case_pop() {
  local dir before_unit3 ok=0
  dir=$(new_case pop)
  printf 'EXEC = client\\\n' >"$dir/vorcnt.cfg"
  mkdir -p "$dir/client"
  : >"$dir/client/Vorelith.exe"  # a client folder must hold one; the case ends before it would run
  completed "$dir/client/unit0" unit0
  completed "$dir/client/unit1" unit1
  completed "$dir/client/unit2" unit2
  waiting "$dir/client/unit3" unit3
  touch -d '2001-02-03 04:05:06' "$dir/client/unit3/work_unit.vwu"
  before_unit3=$(vwu_digest "$dir/client/unit3")

  if ! run_until "$dir" $'[Unit3] Data\x8c\x76\x8e\x5a\x8f\x80\x94\xf5' 90; then
    fail pop "the run never started the client (output: $(tr -d '\r' <"$dir/out.bin" | tail -n 5 | tr '\n' '|'))"
    return
  fi
  [ "$(vwu_digest "$dir/client" | grep -v '^outfile.vwu ')" = "$before_unit3" ] || { echo "    client does not hold unit3's files"; ok=1; }
  [ -f "$dir/client/outfile.vwu" ] && [ ! -s "$dir/client/outfile.vwu" ] || { echo "    no empty outfile.vwu after the pop"; ok=1; }
  [ -z "$(vwu_digest "$dir/client/unit3")" ] || { echo "    unit3 still holds files"; ok=1; }
  [ "$(date -r "$dir/client/work_unit.vwu" +%s 2>/dev/null)" = "$(date -d '2001-02-03 04:05:06' +%s)" ] ||
    { echo "    the copy did not keep the work unit's time"; ok=1; }
  in_order "$dir/out.bin" "[unit3] Dir find : 5" "[unitselect State_Data_Calculation]" \
    $'[Unit3]:\x8c\x76\x8e\x5a\x91\xd2\x8b\x40\x92\x86' "[Unit3] pop" "calculation_unit:3" || ok=1
  [ $ok -eq 0 ] && pass pop || fail pop "files not where they belong"
}

# --- the copies reach the disk before their sources are deleted: cmd's copy does
# not flush, so the controller flushes each copied file itself. Wine's relay
# trace of the pop at start-up shows the calls in order ---------------------------
case_flush() {
  local dir calls
  dir=$(new_case flush)
  printf 'EXEC = client\\\n' >"$dir/vorcnt.cfg"
  waiting "$dir/client/unit0" unit0
  : >"$dir/client/Vorelith.exe"  # a client folder must hold one; the case ends before it would run
  wine reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /d 'kernel32.FlushFileBuffers;kernel32.CreateProcessA' /f \
    >/dev/null 2>&1
  WINEDEBUG=+relay run_until "$dir" $'[Unit0] Data\x8c\x76\x8e\x5a\x8f\x80\x94\xf5' 90
  wine reg delete 'HKCU\Software\Wine\Debug' /v RelayInclude /f >/dev/null 2>&1
  # One word per call: "copy", "del", "flush", "other".
  calls=$(grep -a ':Call KERNEL32\.' "$dir/err.txt" | sed -E \
    -e 's/.*CreateProcessA.* \/c (copy|del) .*/\1/' -e 's/.*FlushFileBuffers.*/flush/' \
    -e 's/.*CreateProcessA.*/other/' | tr '\n' ' ')
  # The pop copies two files: both flushed, then the folder, then the delete.
  case "$calls" in
    *"copy flush flush flush del "*) pass flush ;;
    *) fail flush "calls in order: $calls" ;;
  esac
}

# --- every transcript so far: each line end is CR LF -----------------------------
# One controller per session: while one works, a second in another folder,
# asked only for -version, gives no closer order (which would stop the first
# one's client) and prints one line.
case_session() {
  local first second pid end
  first=$(new_case session)
  second=$(new_case session_second)
  printf 'EXEC = client\\\n' >"$first/vorcnt.cfg"
  waiting "$first/client/unit0" unit0
  : >"$first/client/Vorelith.exe"
  (cd "$first" && VORCNT_TIME_SCALE=1 exec wine vorcnt.exe >out.bin 2>err.txt) &
  pid=$!
  # The dump is written out before the 5 s pause that follows it.
  end=$((SECONDS + 60))
  until grep -qa '^fill:' "$first/out.bin" 2>/dev/null || [ $SECONDS -ge $end ]; do sleep 0.2; done
  run_vorcnt "$second" -version
  local second_status=$?
  stop_pid "$pid"
  if ! grep -qa '^fill:' "$first/out.bin"; then
    fail session "the first controller did not reach its dump"
  elif same_bytes session "$second/out.bin" \
    $'Another vorcnt is running for this user; its client would be stopped: this one ends\r\n'; then
    pass session
  else
    fail session "the second controller did not stop at the session lock"
  fi
  [ $second_status -eq 75 ] || fail session_status "the second controller exited with status $second_status, not 75"
}

# vorcnt.cfg saved as UTF-16 ("Unicode"): read in the ANSI code page; a line
# with a character that code page lacks refuses the file in one line.
case_utf16() {
  local dir got
  dir=$(new_case utf16)
  printf 'UNITS = 3\r\nPROG\r\n' | iconv -f UTF-8 -t UTF-16 >"$dir/vorcnt.cfg"  # with its mark
  run_vorcnt "$dir" -version
  if [ -s "$dir/out.bin" ] && ! grep -qa 'bad arg\|UTF-16' "$dir/out.bin"; then
    { printf '\xfe\xff'; printf 'PROG\r\nEXEC = \xe3\x83\xb4\\\r\n' | iconv -f UTF-8 -t UTF-16BE; } >"$dir/vorcnt.cfg"
    run_vorcnt "$dir" -version
    got=$(tr -d '\r' <"$dir/out.bin" | tail -n 1)
    if [[ "$got" == "vorcnt.cfg is saved as UTF-16 (big-endian) and its line 2 has no ANSI (code page "*") form: save it as ANSI (code page "*"); none of its settings are used" ]]; then
      pass utf16
    else
      fail utf16 "a line the code page lacks gave: $got"
    fi
  else
    fail utf16 "the UTF-16 file was not read: $(tr -d '\r' <"$dir/out.bin" | head -c 300)"
  fi
}

# A reader that went away: the run ends as usual, and stderr says once that
# standard output cannot be written.
case_pipe() {
  local dir
  dir=$(new_case pipe)
  (cd "$dir" && VORCNT_TIME_SCALE=$scale timeout -k 5 60 python3 -c '
import os, subprocess, sys
r, w = os.pipe()
os.close(r)
with open("err.txt", "wb") as err:
    sys.exit(subprocess.run(["wine", "vorcnt.exe", "-help"], stdout=w, stderr=err).returncode)')
  local status=$? said
  said=$(grep -c "^standard output cannot be written (error [0-9]*): what follows is not shown; the work goes on" \
    "$dir/err.txt")
  if [ $status -ne 0 ]; then
    fail pipe "exit status $status"
  elif [ "$said" -ne 1 ]; then
    fail pipe "stderr said it $said times: $(head -c 300 "$dir/err.txt")"
  else
    pass pipe
  fi
}

# Every controller stopped with Ctrl+C above exited with status 0.
case_stop_status() {
  if [ $stops -gt 0 ] && [ ${#bad_stops[@]} -eq 0 ]; then
    pass stop_status
  else
    fail stop_status "$stops stops, statuses other than 0: ${bad_stops[*]:-none}"
  fi
}

case_crlf() {
  local bad=0 f
  for f in "${transcripts[@]}"; do
    [ -s "$f" ] || continue
    # A LF with no CR before it, or a CR with no LF after it.
    if od -An -tx1 -v "$f" | tr -s ' \n' '\n\n' | grep -v '^$' |
      awk 'prev != "0d" && $1 == "0a" { bad = 1 } prev == "0d" && $1 != "0a" { bad = 1 } { prev = $1 }
           END { if (prev == "0d") bad = 1; exit bad }'; then
      :
    else
      echo "    bare line end in $f"
      bad=1
    fi
  done
  [ ${#transcripts[@]} -gt 0 ] || bad=1
  [ $bad -eq 0 ] && pass crlf || fail crlf "not every line end is CR LF"
}

. "$here/../golden/golden.sh"
. "$here/road.sh"
. "$here/package.sh"
. "$here/cp932.sh"

# VORCNT_WINE_CASES picks cases by name (for working on one); crlf always runs.
for name in ${VORCNT_WINE_CASES:-version help interpreter push pop flush session pipe utf16 road fill presence zip history connect jp_folders plus_slash kill_move binary_unit language}; do
  "case_$name"
done
case_crlf
case_stop_status

echo "wine: cases ran in $SECONDS s"
echo "wine: $passed passed, $failed failed"
[ $failed -eq 0 ]
