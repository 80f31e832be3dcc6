# The simulated world shared by the end-to-end scripts, the Wine suite, the
# packaging check and the demo (sourced, not run). The caller sets BIN, W (scratch folder),
# C (client folder), SRV (server folder) and VORSIM_RUNDIR; the case helpers
# below also use CASE, DEADLINE and `status`. WORLD_UNIT_KB sizes the work
# units (default 24).

fail() {
  echo "FAIL [$CASE]: $*"
  status=1
}

write_client_files() {  # FOLDER: the version and user-info files a unit carries
  printf 'client=Vorelith\nversion=0.6\n' >"$1/version.vwu"
  printf 'id=4711\nname=Vorelith Simulator\nnwus=0\n' >"$1/user_info.vwu"
}

take_unit() {  # hands out the next work unit from the server; prints its path
  local name
  name=$(ls "$SRV/queue" | head -n 1)
  [ -n "$name" ] || { echo "server queue is empty" >&2; return 1; }
  mv "$SRV/queue/$name" "$SRV/issued/$name"
  echo "$SRV/issued/$name"
}

unit_id() { head -n 1 "$1" | cut -d= -f2; }

new_world() {  # QUEUED [KB]: a server with QUEUED work units and a client folder with only the client
  # Each world is a session of its own: controllers in other worlds are not
  # "another vorcnt" to this one.
  export TMPDIR=$W
  mkdir -p "$C" "$VORSIM_RUNDIR"
  cp "$BIN/Vorelith.exe" "$C/"
  # WORLD_UNIT_KIND=binary: raw bytes, zeros included, as real work units hold.
  "$BIN/vorserver" init "$SRV" "$1" "${2:-${WORLD_UNIT_KB:-24}}" ${WORLD_UNIT_KIND:+"$WORLD_UNIT_KIND"} >/dev/null ||
    { echo "vorserver init failed"; exit 1; }
}

park_unit() {  # FOLDER AGE: FOLDER holds the server's next work unit, last modified AGE seconds ago
  local unit
  unit=$(take_unit) || return 1
  mkdir -p "$1" && cp "$unit" "$1/work_unit.vwu" || return 1
  write_client_files "$1"
  touch -d "@$(($(date +%s) - $2))" "$1/work_unit.vwu"
}

add_unit() { park_unit "$C/unit$1" "${2:-3600}"; }  # N [AGE]: the same for unitN (default an hour)

compute_here() {  # FOLDER: the simulated client computes one unit in FOLDER
  [ -f "$1/Vorelith.exe" ] || cp "$BIN/Vorelith.exe" "$1/"
  cp "$(take_unit)" "$1/work_unit.vwu"
  # No server, so the finished result stays where it is.
  VORSIM_SERVER=$W/none VORSIM_COMPUTE_SECONDS=2 "$1/Vorelith.exe"
  wait_until "the preparing client's result" test -f "$1/result.vwu" || exit 1
  "$BIN/vorclose" -exit -echo off
}

write_cfg() {  # extra lines for vorcnt.cfg
  {
    echo "EXEC = $C/"
    for line in "$@"; do echo "$line"; done
  } >"$W/vorcnt.cfg"
}

wait_until() {  # WHAT CMD...: polls CMD until it succeeds or the deadline
  local what=$1
  shift
  local end=$(($(date +%s) + DEADLINE))
  until "$@"; do
    if [ "$(date +%s)" -ge "$end" ]; then
      fail "gave up waiting for $what"
      return 1
    fi
    sleep 0.05
  done
}

# The given lines appear in W/out.txt (the UTF-8 output) as whole lines, in
# this order; other lines may come between them.
expect_lines() {
  local missing
  missing=$(awk -v n=$# 'BEGIN { for (i = 1; i < ARGC; i++) want[i] = ARGV[i]; ARGC = 1; k = 1 }
    k <= n && $0 == want[k] { k++ }
    END { if (k <= n) print want[k] }' "$@" <"$W/out.txt")
  [ -z "$missing" ] || fail "output lacks, in order: '$missing'"
}

expect_line_count() {  # COUNT LINE: exact whole lines of W/out.txt
  local n
  n=$(grep -cxF -- "$2" "$W/out.txt")
  [ "$n" -eq "$1" ] || fail "output has '$2' $n times, expected $1"
}

# The controller's output so far holds this line (UTF-8; the output is CP932).
output_has() { [ -f "$W/out.raw" ] && iconv -c -f CP932 -t UTF-8 <"$W/out.raw" | tr -d '\r' | grep -qxF -- "$1"; }

expect_server() {  # KEY VALUE...: lines of vorserver verify
  local report
  report=$(vorserver verify "$SRV")
  while [ $# -ge 2 ]; do
    echo "$report" | grep -qx "$1 $2" || fail "server: expected '$1 $2', got: $(echo "$report" | tr '\n' ' ')"
    shift 2
  done
}

expect_nothing_lost() {
  local report
  report=$(vorserver lost "$SRV" "$C/")
  echo "$report" | grep -qx "lost 0" || fail "results lost: $report"
}

# A service manager stands in: NOTIFY_SOCKET names a datagram socket (an
# abstract name) whose listener, LISTENER, appends each message to LOG.
notify_listener() {  # LOG
  : >"$1"
  export NOTIFY_SOCKET="@vorcnt-notify-${W##*/}"
  python3 -c '
import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
s.bind("\0" + sys.argv[1][1:])
open(sys.argv[2] + ".up", "w").close()
while True:
    with open(sys.argv[2], "a") as f:
        f.write(s.recv(4096).decode() + "\n")
' "$NOTIFY_SOCKET" "$1" &
  LISTENER=$!
  wait_until "the stand-in listener" test -e "$1.up"
}

run_case() {  # runs case_$CASE, shows the logs when it failed, and exits with its status
  if ! declare -F "case_$CASE" >/dev/null; then
    echo "unknown case: $CASE"
    exit 2
  fi
  "case_$CASE"
  [ $status -ne 0 ] || [ -n "${VORCNT_E2E_VERBOSE:-}" ] && show_logs
  if [ $status -ne 0 ]; then
    echo "FAILED: $CASE"
  else
    echo "passed: $CASE"
  fi
  exit $status
}
