# Cases for what the Windows zip ships and for the opt-in settings, sourced by
# run.sh after road.sh (whose world and run helpers they use): the zip's own
# vorcnt.exe with its own example vorcnt.cfg, changed only in its EXEC line;
# the HISTORY journal read back by vorstat.exe; and the CONNECT window, shut
# and open.

# --- zip: the zip as an operator unpacks it, with the client's closer copied
# beside it as its README says, run as its task runs it (with the log) --------
case_zip() {
  have_sim zip || return
  local zip dir srv run bad=0
  zip=$(ls "$bin"/../vorcnt-*-win32.zip 2>/dev/null | head -n 1)
  [ -n "$zip" ] || { fail zip "no zip beside $bin: run cpack in the win32 build folder"; return; }
  road_world zip 4 && park_unit "$dir/c/unit0" 3600 || { fail zip "cannot lay out the world"; return; }
  rm -f "$dir/vorcnt.exe"
  unzip -q -j "$zip" -d "$dir/zip" || { fail zip "unzip $zip"; return; }
  local names
  names=$(cd "$dir/zip" && ls | tr '\n' ' ')
  [ "$names" = "LICENSE.txt README-ja.txt README.txt vorcnt-task.xml vorcnt.cfg vorcnt.exe vorstat.exe " ] ||
    { echo "    the zip holds: $names"; bad=1; }
  # One folder, vorcnt: unpacked to C:\ it is the task's C:\vorcnt\.
  [ -z "$(unzip -Z1 "$zip" | grep -v '^vorcnt/')" ] && grep -q '<Command>C:\\vorcnt\\vorcnt.exe</Command>' "$dir/zip/vorcnt-task.xml" ||
    { echo "    the zip's folders: $(unzip -Z1 "$zip" | cut -d/ -f1 | sort -u | tr '\n' ' ')"; bad=1; }
  # The Japanese texts are UTF-8 with a mark, as Notepad reads them anywhere.
  local f
  for f in README-ja.txt vorcnt.cfg; do
    [ "$(head -c 3 "$dir/zip/$f" | od -An -tx1 | tr -d ' ')" = efbbbf ] && iconv -f UTF-8 -t UTF-16 "$dir/zip/$f" >/dev/null &&
      [ "$(grep -c $'\r$' "$dir/zip/$f")" -eq "$(wc -l <"$dir/zip/$f")" ] || { echo "    $f is not UTF-8 with a mark and CR LF"; bad=1; }
  done
  grep -q '<Arguments>-log vorcnt.log</Arguments>' "$dir/zip/vorcnt-task.xml" || { echo "    the task keeps no log"; bad=1; }
  cp "$dir/zip/vorcnt.exe" "$dir/"
  # The example with its EXEC line pointed at this client folder, nothing else
  # touched, CR LF kept.
  P="EXEC = $(winpath "$dir/c")\\" awk '/^EXEC = / { printf "%s\r\n", ENVIRON["P"]; next } { print }' \
    "$dir/zip/vorcnt.cfg" >"$dir/vorcnt.cfg"
  local changed lines crlf
  changed=$(diff "$dir/zip/vorcnt.cfg" "$dir/vorcnt.cfg" | grep -c '^>')
  lines=$(wc -l <"$dir/vorcnt.cfg")
  crlf=$(grep -c $'\r$' "$dir/vorcnt.cfg")
  [ "$changed" -eq 1 ] && [ "$crlf" -eq "$lines" ] ||
    { echo "    the example cfg: $changed lines changed, $crlf of $lines end in CR LF"; bad=1; }
  grep -q $'^<?xml .*\r$' "$dir/zip/vorcnt-task.xml" && grep -q '<WorkingDirectory>' "$dir/zip/vorcnt-task.xml" ||
    { echo "    the task definition is not a CR LF XML file with a start-in folder"; bad=1; }
  # The README's command registers it (Wine's task scheduler reads the same XML).
  if (cd "$dir/zip" && timeout 60 wine schtasks /create /tn vorcnt-zip-case /xml vorcnt-task.xml >/dev/null 2>&1); then
    (cd "$dir/zip" && timeout 60 wine schtasks /delete /tn vorcnt-zip-case /f >/dev/null 2>&1)
  else
    echo "    schtasks /create /xml refused vorcnt-task.xml"
    bad=1
  fi
  i686-w64-mingw32-objdump -h "$dir/vorcnt.exe" | grep -q '\.debug' && { echo "    vorcnt.exe keeps its debug sections"; bad=1; }

  # The closer's start-up order, then "-close" once the client computes unit0.
  # (Stopped as the second order arrives: the line after it may not be out.)
  road_run 2 -log vorcnt.log
  road_lines "[Unit0] pop" "[Unit0] Data計算準備" || bad=1
  road_orders "-exit -echo off" "-close -echo off" || bad=1
  log_matches_console "$dir/vorcnt.log" "$dir/out.txt" 5 || bad=1
  # Its -help: the lines of the help case (past its missing-file line).
  if [ -s "$work/help/out.bin" ]; then
    run_vorcnt "$dir" -help
    same_bytes zip-help "$dir/out.bin" "$banners$(tail -n +4 "$work/help/out.bin")"$'\n' || bad=1
  fi
  road_verdict zip $bad
}

# --- history: the journal written under Windows, read by vorstat.exe -------------
case_history() {
  have_sim history || return
  local dir srv run bad=0
  road_world history 4 && park_unit "$dir/c/unit0" 3600 || { fail history "cannot lay out the world"; return; }
  cp "$bin/vorstat.exe" "$dir/"
  printf 'EXEC = c\\\r\nUNITS = 1\r\nHISTORY = units.tsv\r\n' >"$dir/vorcnt.cfg"
  local id
  id=$(xxh128sum "$dir/c/unit0/work_unit.vwu" | cut -c1-12)
  # Until the client has been started on unit0: both events are written by then.
  run_until "$dir" $'[Unit0] Data\x8c\x76\x8e\x5a\x8a\x4a\x8e\x6e' 90 || { echo "    the client was never started"; bad=1; }
  (cd "$dir" && wine vorclose.exe -exit -echo off >/dev/null 2>&1)
  transcripts+=("$dir/out.bin")
  iconv -c -f CP932 -t UTF-8 <"$dir/out.bin" | tr -d '\r' >"$dir/out.txt"
  # Lines end in CR LF on Windows.
  head -n 1 "$dir/units.tsv" | grep -qx $'time\tunit\tevent\tidentity\tdetail\r' ||
    { echo "    no header line: $(head -c 200 "$dir/units.tsv")"; bad=1; }
  local events
  events=$(tail -n +2 "$dir/units.tsv" | head -n 2 | tr -d '\r' | awk -F '\t' '{ print $2, $3, $4 }' | tr '\n' '|')
  [ "$events" = "0 pop_compute $id|0 calc_start $id|" ] || { echo "    journal events: $events (work unit $id)"; bad=1; }
  grep -Eq $'^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}\t' "$dir/units.tsv" ||
    { echo "    the times are not local times with their offset"; bad=1; }
  local json
  json=$(cd "$dir" && wine vorstat.exe --history --json 2>/dev/null | tr -d '\r')
  grep -q '"schema": 1,' <<<"$json" && grep -q '"event": "calc_start"' <<<"$json" ||
    { echo "    vorstat.exe --history --json: $(head -c 300 <<<"$json")"; bad=1; }
  road_verdict history $bad
}

# --- connect: a unit waiting to be sent outside the window waits, with one line;
# inside it the connection starts ------------------------------------------------
case_connect() {
  have_sim connect || return
  local dir srv run bad=0 shut open
  road_world connect 4 && road_finished_unit 0 || { fail connect "cannot lay out the world"; return; }
  # Wine keeps the host's time zone: a window that opens in two hours, and
  # one that holds now.
  shut="$(date +%H:%M -d '+2 hour')-$(date +%H:%M -d '+3 hour')"
  open="$(date +%H:%M -d '-1 hour')-$(date +%H:%M -d '+1 hour')"
  printf 'EXEC = c\\\r\nUNITS = 1\r\nCONNECT = %s\r\n' "$shut" >"$dir/vorcnt.cfg"
  : >"$run/orders.log"
  if run_until "$dir" "connection waits for the window $shut" 90; then
    iconv -c -f CP932 -t UTF-8 <"$dir/out.bin" | tr -d '\r' >"$dir/out.txt"
    grep -Eq "^\[Unit0\] connection waits for the window $shut: it opens at ${shut%-*}, in (1h59m|2h00m)$" "$dir/out.txt" ||
      { echo "    the wait line: $(grep 'waits for' "$dir/out.txt")"; bad=1; }
    grep -q 'Conection Start' "$dir/out.txt" && { echo "    a connection started outside the window"; bad=1; }
    [ "$(grep -c . "$run/orders.log")" -eq 1 ] || { echo "    orders outside the window: $(tr '\n' '|' <"$run/orders.log")"; bad=1; }
  else
    echo "    no wait line for the window $shut: $(tr -d '\r' <"$dir/out.bin" | tail -n 3 | tr '\n' '|')"
    bad=1
  fi
  (cd "$dir" && wine vorclose.exe -exit -echo off >/dev/null 2>&1)
  transcripts+=("$dir/out.bin")

  printf 'EXEC = c\\\r\nUNITS = 1\r\nCONNECT = %s\r\n' "$open" >"$dir/vorcnt.cfg"
  if ! run_until "$dir" "[Unit0] Data Conection Start." 90; then
    echo "    inside the window $open no connection started: $(tr -d '\r' <"$dir/out.bin" | tail -n 3 | tr '\n' '|')"
    bad=1
  fi
  (cd "$dir" && wine vorclose.exe -exit -echo off >/dev/null 2>&1)
  iconv -c -f CP932 -t UTF-8 <"$dir/out.bin" | tr -d '\r' >"$dir/out.txt"
  road_verdict connect $bad
}
