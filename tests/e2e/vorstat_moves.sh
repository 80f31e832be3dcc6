#!/usr/bin/env bash
# vorstat beside a working controller: the real vorcnt computes and sends
# three buffered units in the simulated world, moving files between the client
# folder and the unit folders, while vorstat --json reads the buffer in a loop.
# Every report must parse, carry schema 1 and list unit0..unit2 once each,
# and the folders that are not in transition must never hold more work units
# than there are (a unit shown both in the client folder and in its unit
# folder would make one too many).
#
#   vorstat_moves.sh BIN_DIR [SECONDS]   (default 60)
set -u
BIN=$(cd "${1:?usage: vorstat_moves.sh BIN_DIR [SECONDS]}" && pwd)
SECONDS_TO_RUN=${2:-60}
CASE=vorstat_moves
DEADLINE=60
W=$(mktemp -d /tmp/vsm.XXXXXX)
export TMPDIR=$W  # a session of its own: controllers in other runs are not "another vorcnt"
C=$W/c
SRV=$W/srv
export VORSIM_RUNDIR=$W/run VORSIM_SERVER=$SRV
# Moves often, and the controller's second between a copy and its delete
# still lasts a few milliseconds.
export VORCNT_TIME_SCALE=0.004 VORSIM_COMPUTE_SECONDS=400 VORSIM_LIFETIME=600
export PATH="$BIN:$PATH"
unset VORSIM_FAULT
CPID=
status=0
. "$(dirname "${BASH_SOURCE[0]}")/world.sh"
cleanup() {
  [ -n "$CPID" ] && kill -KILL "$CPID" 2>/dev/null
  vorclose -exit -echo off >/dev/null 2>&1
  rm -rf "$W"
}
trap cleanup EXIT
command -v python3 >/dev/null || { echo "SKIPPED: python3 not found"; exit 77; }

new_world 400
for n in 0 1 2; do add_unit $n; done
write_cfg "UNITS = 3"
(cd "$W" && exec vorcnt >"$W/out.txt" 2>"$W/err.txt") &
CPID=$!

reports=0 moving=0 end=$(($(date +%s) + SECONDS_TO_RUN))
while [ "$(date +%s)" -lt "$end" ]; do
  if ! vorstat --json "$C" >"$W/report.json" 2>"$W/report.err"; then
    fail "vorstat exited $?: $(cat "$W/report.err")"
    break
  fi
  verdict=$(python3 - "$W/report.json" <<'PY'
import json, sys
doc = json.load(open(sys.argv[1]))
assert doc["schema"] == 1, doc
units = [u["unit"] for u in doc["units"]]
assert units == [0, 1, 2], units
folders = [doc["client"]] + doc["units"]
settled = [f for f in folders if not f["in_transition"]]
holding = [f for f in settled if f["state"] != 0]  # Data_nothing holds no work unit
assert len(holding) <= 3, [(f["folder"], f["state_name"]) for f in holding]
print("moving" if len(settled) < len(folders) else "settled")
PY
  ) || { fail "report $reports: $verdict $(cat "$W/report.json")"; break; }
  reports=$((reports + 1))
  [ "$verdict" = moving ] && moving=$((moving + 1))
done
kill -KILL "$CPID" 2>/dev/null
CPID=
moves=$(grep -c '\] \(push\|pop\)$' <(iconv -f CP932 -t UTF-8 "$W/out.txt" 2>/dev/null))
echo "$reports reports beside $moves pushes and pops; $moving saw a folder in transition"
[ "$moves" -ge 6 ] || fail "the controller moved too little to test anything ($moves moves)"
[ $status -eq 0 ] && echo "passed: $CASE" || echo "FAILED: $CASE"
exit $status
