# Cases for Windows as its Japanese users have it, sourced by run.sh after
# road.sh: code page 932, client folders with Japanese names, cmd's own
# characters in the folder name, a controller killed mid-move, and a work unit
# of raw bytes. Outcomes are counted by files and by the simulated server.

# Wine takes each program's ANSI code page from its locale: a ja_JP.UTF-8
# locale built into a private folder gives 932 without touching the system.
# Every Windows program of these cases runs through a wrapper that sets it;
# the shell itself stays in the C locale, so its byte checks are unchanged.
cp932_locale=$work/locale
cp932_bin=$work/cp932-bin

cp932_ready() {
  if [ ! -f "$cp932_bin/wine" ]; then
    mkdir -p "$cp932_locale" "$cp932_bin"
    localedef -i ja_JP -f UTF-8 "$cp932_locale/ja_JP.UTF-8" >"$work/localedef.log" 2>&1 ||
      [ -f "$cp932_locale/ja_JP.UTF-8/LC_CTYPE" ] || return 1
    printf '#!/bin/sh\nLC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8 LOCPATH=%s exec %s "$@"\n' \
      "$cp932_locale" "$(command -v wine)" >"$cp932_bin/wine"
    chmod +x "$cp932_bin/wine"
  fi
  # ソ reaches cmd and comes back as its code page 932 bytes.
  [ "$(PATH=$cp932_bin:$PATH wine cmd /c echo ソ 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 835c0d0a ]
}

# Runs a command (a function of these scripts included) with every "wine"
# found first on PATH being the code page 932 one.
cp932() { PATH=$cp932_bin:$PATH "$@"; }

# C:\NAME\ of the Wine prefix, made empty; the Unix path in `drive`.
c_drive_folder() {  # name (UTF-8)
  drive=$WINEPREFIX/drive_c/$1
  rm -rf "$drive"
  mkdir -p "$drive"
}

# The work-unit ids of a folder and its unit folders, one per line.
buffer_ids() {  # client folder
  local f
  for f in "$1"/work_unit.vwu "$1"/unit*/work_unit.vwu; do [ -f "$f" ] && unit_id "$f"; done
}

# The server verified RESULTS results, none twice and none wrong, and no
# result the client computed (by its log) is missing from it. CLIENT is the
# client folder's Windows name, ending in a separator.
server_counts() {  # results, client
  local report
  report=$(cp932 sim_tool vorserver.exe verify "$VORSIM_SERVER" | tr '\n' ' ')
  case " $report" in
    *" results $1 verified $1 mismatched 0 duplicates 0 "*) ;;
    *) echo "    server: $report"; return 1 ;;
  esac
  report=$(cp932 sim_tool vorserver.exe lost "$VORSIM_SERVER" "$2" "$VORSIM_RUNDIR\\client.log")
  printf '%s\n' "$report" | grep -qx 'lost 0' || { echo "    $(printf '%s' "$report" | tr '\n' ' ')"; return 1; }
}

# vorcnt.cfg's text (UTF-8 on stdin) saved as Notepad saves it: ANSI (code
# page 932), UTF-8 without a mark and with one, and Unicode (UTF-16 with its
# mark).
saved_as() {  # cp932 | utf8 | utf8bom | utf16
  case $1 in
    cp932) iconv -f UTF-8 -t CP932 ;;
    utf8) cat ;;
    utf8bom) printf '\xef\xbb\xbf'; cat ;;
    utf16) iconv -f UTF-8 -t UTF-16 ;;
  esac
}

# The log beside the console: a UTF-8 mark first, CR LF line ends, a local
# time before every line, and every line the controller printed, in order.
# The console loses what its buffer held when the run is stopped, and the
# lines of the commands it ran are the console's only, so the log's lines
# start with the console's own ones.
log_matches_console() {  # log, console out.txt, fewest console lines
  local lines=$dir/log-lines.txt ours=$dir/console-lines.txt
  [ "$(head -c 3 "$1" | od -An -tx1 | tr -d ' ')" = efbbbf ] || { echo "    the log has no UTF-8 mark"; return 1; }
  transcripts+=("$1")
  tail -c +4 "$1" | tr -d '\r' >"$lines"
  grep -Evq '^[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2} ' "$lines" &&
    { echo "    a log line without its time: $(grep -Ev '^[0-9]{4}-' "$lines" | head -n 1)"; return 1; }
  grep -Ev '^vorclose: |^Vorelith: |^ +[0-9]+ file\(s\) copied\.$' "$2" >"$ours"
  cut -c 21- "$lines" | head -n "$(grep -c '' "$ours")" | cmp -s - "$ours" ||
    { echo "    the log differs from the console: $(cut -c 21- "$lines" | diff - "$ours" | head -n 4 | tr '\n' '|')"; return 1; }
  [ "$(grep -c '' "$ours")" -ge "$3" ] || { echo "    only $(grep -c '' "$ours") console lines"; return 1; }
}

# --- a Japanese client folder: the computing road of case_road in C:\NAME\client\,
# named in vorcnt.cfg saved in ENCODING. Both units are computed and sent once,
# and after the refill the buffer holds new work only, each unit once --------
jp_road() {  # case name, folder name (UTF-8), encoding, controller args...
  local name=$1 folder=$2 encoding=$3
  shift 3
  have_sim "$name" || return
  local dir srv run drive bad=0 client id0 id1 ids
  c_drive_folder "$folder"
  client=$drive/client
  road_world "$name" 8 && mkdir -p "$client" && cp "$bin/Vorelith.exe" "$client/" &&
    park_unit "$client/unit0" 100 && park_unit "$client/unit1" 3600 ||
    { fail "$name" "cannot lay out the world"; return; }
  id0=$(unit_id "$client/unit0/work_unit.vwu")
  id1=$(unit_id "$client/unit1/work_unit.vwu")
  printf 'EXEC = C:\\%s\\client\\\nUNITS = 2\nHISTORY = units.tsv\n' "$folder" | saved_as "$encoding" >"$dir/vorcnt.cfg"

  cp932 road_run 8 "$@"

  local lines
  mapfile -t lines < <(golden_lines "$here/../golden/calc_road.txt" 1 "1 0" "0 1")
  road_lines "${lines[@]}" || bad=1
  road_line_count 1 "計算可能ユニットがありません" || bad=1
  local computed
  computed=$(grep '^compute ' "$run/client.log" 2>/dev/null | awk '{ print $2 }' | awk '!seen[$0]++' | head -n 2 | tr '\n' ' ')
  [ "$computed" = "$id1 $id0 " ] || { echo "    computed '$computed', expected '$id1 $id0 '"; bad=1; }
  ids=$(buffer_ids "$client")
  [ "$(printf '%s\n' "$ids" | grep -c .)" -ge 2 ] && [ -z "$(printf '%s\n' "$ids" | sort | uniq -d)" ] &&
    ! printf '%s\n' "$ids" | grep -qx -e "$id0" -e "$id1" ||
    { echo "    work units in the buffer after the refill: $(printf '%s' "$ids" | tr '\n' ' ')"; bad=1; }
  server_counts 2 "C:\\$folder\\client\\" || bad=1
  # The journal's lines end in CR LF (checked with the transcripts), and
  # vorstat reads both connections from it whole.
  transcripts+=("$dir/units.tsv")
  local sent
  sent=$(cd "$dir" && cp932 wine "$bin/vorstat.exe" --history units.tsv -n 100 --json 2>/dev/null |
    grep -o '"event": "connected", "identity": "[0-9a-f-]*", "detail": "sent=yes new_work=yes"}' | grep -c .)
  [ "$sent" -eq 2 ] || { echo "    vorstat read $sent connections from the journal, expected 2"; bad=1; }
  # With a log, it holds every line of the console's full cycle.
  if [ $# -gt 0 ]; then log_matches_console "$dir/vorcnt.log" "$dir/out.txt" 30 || bad=1; fi
  road_verdict "$name" $bad
  rm -rf "$drive"
}

case_jp_folders() {
  cp932_ready || { fail jp_folders "no code page 932 for Wine (localedef: $(head -c 200 "$work/localedef.log"))"; return; }
  # ボ and ン are plain; タ ends in 0x5E ('^'), ソ in 0x5C ('\').
  jp_road jp_volunteer ボランティア cp932
  jp_road jp_data データ cp932
  jp_road jp_soft ソフト cp932
  # Saved by today's Notepad: UTF-8, with a mark and without one (the second
  # with the log of the task), and as "Unicode".
  jp_road jp_utf8 ボランティア utf8 -log vorcnt.log
  jp_road jp_utf8_mark ボランティア utf8bom
  jp_road jp_utf16 ボランティア utf16
  jp_no_form
}

# --- a UTF-8 vorcnt.cfg naming a folder that code page 932 cannot write (Korean):
# refused in one line that names the encoding. A comment in the same letters
# applies nothing and passes --------------------------------------------------
jp_no_form() {
  local dir
  dir=$(new_case jp_no_form)
  printf '# 한국어\r\nEXEC = C:\\한국\\client\\\r\n' >"$dir/vorcnt.cfg"
  cp932 run_vorcnt "$dir" -version
  transcripts+=("$dir/out.bin")
  # In Japanese, as a Japanese Windows shows it; the code page's name as
  # Notepad's "Save as" offers it.
  local said
  said=$(tail -c +$((${#banners} + 1)) "$dir/out.bin" | iconv -f CP932 -t UTF-8 2>/dev/null)
  head -c ${#banners} "$dir/out.bin" | cmp -s - <(printf '%s' "$banners") && [ "$(grep -c '' <<<"$said")" -eq 1 ] &&
    LC_ALL=C.UTF-8 grep -qP 'UTF-8.*2.*ANSI \(code page 932\).*[\x{3040}-\x{30ff}]' <<<"$said" &&
    pass jp_no_form || fail jp_no_form "a setting with no code page 932 form was not refused in one Japanese line: $said"
}

# --- cmd's own characters: a folder holding '+' is refused at start with the
# line that says why and the stop line, and nothing runs; a folder written
# with '/' works as with '\' ----------------------------------------------------
case_plus_slash() {
  local dir drive ok=0
  c_drive_folder a+b
  dir=$(new_case plus)
  : >"$drive/Vorelith.exe"
  waiting "$drive/unit0" unit0
  printf 'EXEC = C:\\a+b\\\n' >"$dir/vorcnt.cfg"
  run_vorcnt "$dir"
  local status=$?
  transcripts+=("$dir/out.bin")
  [ $status -eq 78 ] || { echo "    exit status $status, not 78 (a refused setting)"; ok=1; }
  same_bytes plus "$dir/out.bin" "$banners"$'bad arg: path holds the character +, which the command interpreter reads specially\r\n'\
$'The client folder setting was refused: nothing is started; correct EXEC or -exec\r\n' || ok=1
  [ -f "$drive/unit0/work_unit.vwu" ] && [ ! -e "$drive/work_unit.vwu" ] || { echo "    files moved"; ok=1; }
  rm -rf "$drive"
  [ $ok -eq 0 ] && pass plus || fail plus "a folder holding + was not refused with one line"

  ok=0
  c_drive_folder cl5s
  dir=$(new_case slash)
  : >"$drive/Vorelith.exe"
  waiting "$drive/unit0" unit0
  local before
  before=$(vwu_digest "$drive/unit0")
  printf 'EXEC = C:/cl5s/\n' >"$dir/vorcnt.cfg"
  if ! run_until "$dir" $'[Unit0] Data\x8c\x76\x8e\x5a\x8f\x80\x94\xf5' 90; then
    fail slash "the run never started the client (output: $(tr -d '\r' <"$dir/out.bin" | tail -n 5 | tr '\n' '|'))"
  else
    grep -qaFx $'path:C:\\cl5s\\\r' "$dir/out.bin" || { echo "    the dump does not show C:\\cl5s\\"; ok=1; }
    [ "$(vwu_digest "$drive" | grep -v '^outfile.vwu ')" = "$before" ] || { echo "    client folder does not hold unit0's files"; ok=1; }
    [ -z "$(vwu_digest "$drive/unit0")" ] || { echo "    unit0 still holds files"; ok=1; }
    [ $ok -eq 0 ] && pass slash || fail slash "a folder written with / did not work"
  fi
  rm -rf "$drive"
}

# --- the added lines in the user's language: the same refusals and -help in
# English (Wine's C locale) and in Japanese (code page 932, a Japanese UI).
# The client's lines keep their bytes, every other line is Japanese CP932 on
# the console and the same text as UTF-8 in the log -------------------------
case_language() {
  cp932_ready || { fail language "no code page 932 for Wine"; return; }
  local dir lang run bad=0 i
  for lang in en ja; do
    for run in refused help; do
      dir=$(new_case "language_${lang}_$run")
      local args=()
      if [ $run = help ]; then
        args=(-help)
      else
        printf 'EXEC = C:\\Vorelith work\\\r\nCONNECT = 25:00-99\r\nLOG = vorcnt.log\r\n' >"$dir/vorcnt.cfg"
      fi
      if [ $lang = ja ]; then cp932 run_vorcnt "$dir" "${args[@]}"; else run_vorcnt "$dir" "${args[@]}"; fi
      transcripts+=("$dir/out.bin")
    done
  done
  local en ja translated=0
  for run in refused help; do
    mapfile -t en <"$work/language_en_$run/out.bin"
    mapfile -t ja <"$work/language_ja_$run/out.bin"
    [ "${#en[@]}" -eq "${#ja[@]}" ] || { echo "    $run: ${#en[@]} English lines, ${#ja[@]} Japanese"; bad=1; }
    for i in "${!en[@]}"; do
      [ "${en[$i]}" = "${ja[$i]:-}" ] && continue
      if iconv -f CP932 -t UTF-8 <<<"${ja[$i]:-}" 2>/dev/null | LC_ALL=C.UTF-8 grep -qP '[\x{3040}-\x{30ff}\x{4e00}-\x{9fff}]'; then
        translated=$((translated + 1))
      else
        echo "    $run line $((i + 1)) is neither the client's nor Japanese: ${ja[$i]:-}"
        bad=1
      fi
    done
  done
  # The blank's fix, the window's line, the refusal, and -help's five.
  [ $translated -ge 8 ] || { echo "    only $translated lines in Japanese"; bad=1; }
  grep -qaF 'bad arg: path holds a blank' "$work/language_ja_refused/out.bin" || { echo "    the client's refusal changed"; bad=1; }
  # The log holds the console's Japanese as UTF-8.
  dir=$work/language_ja_refused
  tail -c +4 "$dir/vorcnt.log" | tr -d '\r' | cut -c 21- >"$dir/log-text.txt"
  iconv -f CP932 -t UTF-8 "$dir/out.bin" | tr -d '\r' | cmp -s - "$dir/log-text.txt" ||
    { echo "    the log is not the console's text in UTF-8"; bad=1; }
  # vorstat.exe's table: the same rows, its words in Japanese.
  c_drive_folder vorstat_language
  : >"$drive/Vorelith.exe"
  waiting "$drive/unit0" unit0
  (cd "$work" && wine "$bin/vorstat.exe" 'C:\vorstat_language\' >"$work/vorstat_en.txt" 2>&1)
  (cd "$work" && cp932 wine "$bin/vorstat.exe" 'C:\vorstat_language\' >"$work/vorstat_ja.txt" 2>&1)
  grep -qa '^unit0 .*waiting' "$work/vorstat_en.txt" || { echo "    vorstat in English: $(head -c 300 "$work/vorstat_en.txt")"; bad=1; }
  iconv -f CP932 -t UTF-8 "$work/vorstat_ja.txt" 2>/dev/null | LC_ALL=C.UTF-8 grep -qP '^unit0 .*\x{5F85}' ||
    { echo "    vorstat.exe's row is not Japanese: $(head -c 300 "$work/vorstat_ja.txt")"; bad=1; }
  rm -rf "$drive"
  [ $bad -eq 0 ] && pass language || fail language "the added lines are not in the user's language"
}

# The Wine processes still running a command of the controller's.
command_children() { ps -eo pid=,args= | grep -a 'cmd\.exe.* /c \(copy\|del\|mkdir\) ' | grep -v defunct; }

# --- a controller killed mid-move: its copy ends with it, and a restart
# computes and sends the unit once, in C:\ソフト\client\ under code page 932.
# The unit carries 2000 small files besides its own, so that cmd's copy of it
# takes seconds ---------------------------------------------------------------
case_kill_move() {
  have_sim kill_move || return
  cp932_ready || { fail kill_move "no code page 932 for Wine"; return; }
  local dir srv run drive client bad=0 pid end id copied later i
  c_drive_folder ソフト
  client=$drive/client
  road_world kill_move 2 && mkdir -p "$client" && cp "$bin/Vorelith.exe" "$client/" &&
    park_unit "$client/unit0" 100 || { fail kill_move "cannot lay out the world"; return; }
  for i in $(seq -w 1 2000); do printf 'pad %s\n' "$i" >"$client/unit0/pad$i.vwu"; done
  id=$(unit_id "$client/unit0/work_unit.vwu")
  { printf 'EXEC = C:\\ソフト\\client\\\n' | iconv -f UTF-8 -t CP932; printf 'UNITS = 1\n'; } >"$dir/vorcnt.cfg"

  (cd "$dir" && VORCNT_TIME_SCALE=$road_scale PATH=$cp932_bin:$PATH exec wine vorcnt.exe >out.bin 2>err.txt) &
  pid=$!
  end=$((SECONDS + 120))
  until [ -n "$(command_children)" ] || [ $SECONDS -ge $end ] || ! kill -0 $pid 2>/dev/null; do sleep 0.05; done
  if [ -z "$(command_children)" ]; then
    echo "    no copy was seen running"
    bad=1
  fi
  sleep 0.3
  kill -KILL $pid 2>/dev/null
  wait $pid 2>/dev/null
  # What the copy had done a moment after the kill, and a while later.
  sleep 0.5
  copied=$(ls "$client" | grep -c '^pad')
  sleep 2
  later=$(ls "$client" | grep -c '^pad')
  [ -z "$(command_children)" ] || { echo "    left running: $(command_children | tr '\n' '|')"; bad=1; }
  [ "$copied" -eq "$later" ] && [ "$later" -lt 2000 ] ||
    { echo "    the copy went on after the kill: $copied files, then $later of 2000"; bad=1; }
  transcripts+=("$dir/out.bin")
  mv "$dir/out.bin" "$dir/killed.bin"

  # The restart finishes or undoes the move and goes on: the first "-exit",
  # "-close" as computing starts, "-exit" once computed, "-exit" after the
  # connection.
  cp932 road_run 4
  [ "$(buffer_ids "$client" | grep -cx "$id")" -eq 0 ] || { echo "    the sent unit is still in the buffer"; bad=1; }
  server_counts 1 "C:\\ソフト\\client\\" || bad=1
  road_verdict kill_move $bad
  rm -rf "$drive"
}

# --- a work unit of raw bytes, zero runs included, parked before the start:
# it is data like any other, computed once and sent once across a restart ------
case_binary_unit() {
  have_sim binary_unit || return
  local dir srv run bad=0 unit id
  road_world binary_unit 2 || { fail binary_unit "cannot lay out the world"; return; }
  unit=$(ls "$srv/queue"/*.wu | head -n 1)
  { head -n 1 "$unit"; head -c 20000 /dev/urandom; head -c 8192 /dev/zero; printf '\0\r\n\x1a'; head -c 4096 /dev/urandom; } \
    >"$unit.bin" && mv "$unit.bin" "$unit"
  park_unit "$dir/c/unit0" 100 || { fail binary_unit "cannot park the unit"; return; }
  id=$(unit_id "$dir/c/unit0/work_unit.vwu")
  printf 'EXEC = c\\\nUNITS = 1\n' >"$dir/vorcnt.cfg"

  # Stopped once the client computes it, then run again to the connection.
  VORSIM_RESULT_BYTES=6000 road_run 2
  mv "$dir/out.txt" "$dir/first.txt"
  if grep -q 'set aside' "$dir/first.txt"; then
    echo "    $(grep 'set aside' "$dir/first.txt")"
    cp "$dir/first.txt" "$dir/out.txt"
    road_verdict binary_unit 1
    return
  fi
  VORSIM_RESULT_BYTES=6000 road_run 4
  grep -q "^compute $id" "$run/client.log" 2>/dev/null || { echo "    the unit was never computed"; bad=1; }
  [ -z "$(ls "$dir/c/damaged" 2>/dev/null)" ] || { echo "    set aside: $(ls -R "$dir/c/damaged" | tr '\n' ' ')"; bad=1; }
  server_counts 1 "$(winpath "$dir/c")\\" || bad=1
  road_verdict binary_unit $bad
}
