#!/usr/bin/env bash
# The demo: builds what it runs (the controller, vorstat and the simulated
# world; scripts/test.sh builds the tests), then lets the controller drive the simulated
# client through a whole cycle in about a minute. Three buffered work units
# are computed one after another, oldest first; with nothing left to compute
# the client connects once per unit to send each result and fetch new work;
# then computing begins again. The demo then stops the controller itself and
# checks with the project server that no computed result was lost.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_build_packages
command -v iconv >/dev/null || need_packages libc-bin

echo "demo: building"
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)" --target vorcnt vorstat vorsim_client vorclose vorserver
BIN=$PWD/build/bin

W=$(mktemp -d /tmp/vorcnt-demo.XXXXXX)
C=$W/client
SRV=$W/server
export VORSIM_RUNDIR=$W/run
export VORSIM_SERVER=$SRV
# 600 s of computing per unit and the controller's 120 s polls, at 1/50 speed.
export VORCNT_TIME_SCALE=0.02
export VORSIM_LIFETIME=900
export PATH="$BIN:$PATH"
unset VORSIM_FAULT VORSIM_COMPUTE_SECONDS VORSIM_UPLOAD_SECONDS VORSIM_DOWNLOAD_SECONDS
CPID=

cleanup() {
  [ -n "$CPID" ] && kill -KILL "$CPID" 2>/dev/null
  vorclose -exit -echo off >/dev/null 2>&1 || true
  rm -rf "$W"
}
trap cleanup EXIT

echo "demo: laying out a project server and a client folder in $W"
. tests/e2e/world.sh
# Units of the size a real one has; distinct ages, so that "oldest first"
# shows: unit2, unit0, unit1.
new_world 8 350
add_unit 0 600
add_unit 1 60
add_unit 2 3600
write_cfg "UNITS = 3" PROG
for n in 0 1 2; do
  age=$(($(date +%s) - $(stat -c %Y "$C/unit$n/work_unit.vwu")))
  echo "demo:   unit$n holds $(unit_id "$C/unit$n/work_unit.vwu"), fetched $((age / 60)) min ago"
done
echo "demo:   the server has $(ls "$SRV/queue" | wc -l) more work units queued"
echo

# Prints the lines of FILE from line FROM+1 to its last complete line, each
# behind PREFIX, converted from CP932 when asked; echoes the new line count.
show_new() {  # FILE FROM PREFIX CONVERT
  local total=0
  [ -f "$1" ] && total=$(wc -l <"$1")
  if [ "$total" -gt "$2" ]; then
    sed -n "$(($2 + 1)),${total}p" "$1" | if [ "$4" = yes ]; then iconv -c -f CP932 -t UTF-8; else cat; fi |
      tr -d '\r' | sed "s/^/$3/" >&2
  fi
  echo "$total"
}

echo "demo: starting vorcnt (its lines show as 'vorcnt |', the client's as 'client |')"
: >"$VORSIM_RUNDIR/orders.log"
(cd "$W" && exec timeout 600 "$BIN/vorcnt" >"$W/out.raw" 2>&1) &
CPID=$!

# Three units computed, three sent and refilled, and the start of the next
# computation: the startup exit order plus 3 x (close, exit) plus 3 exits plus
# one more close.
want_orders=11
shown_out=0
shown_client=0
deadline=$(($(date +%s) + 480))
while :; do
  shown_out=$(show_new "$W/out.raw" "$shown_out" "  vorcnt | " yes)
  shown_client=$(show_new "$VORSIM_RUNDIR/client.log" "$shown_client" "  client | " no)
  orders=$(grep -c . "$VORSIM_RUNDIR/orders.log" || true)
  if [ "$orders" -ge "$want_orders" ]; then
    echo "demo: computing has begun again after the refill"
    break
  fi
  if ! kill -0 "$CPID" 2>/dev/null; then
    echo "demo: vorcnt ended by itself"
    break
  fi
  if [ "$(date +%s)" -ge "$deadline" ]; then
    echo "demo: the cycle did not complete in time"
    break
  fi
  sleep 0.5
done

echo "demo: stopping vorcnt"
kill -TERM "$CPID" 2>/dev/null || true
wait "$CPID" 2>/dev/null || true
CPID=
show_new "$W/out.raw" "$shown_out" "  vorcnt | " yes 2>&1 >/dev/null
echo "demo: the orders vorcnt gave the client through vorclose:"
sed 's/^/  /' "$VORSIM_RUNDIR/orders.log"
echo "demo: ending the client"
vorclose -exit
show_new "$VORSIM_RUNDIR/client.log" "$shown_client" "  client | " no 2>&1 >/dev/null

echo
echo "demo: the project server reports:"
vorserver verify "$SRV" | sed 's/^/  /'
verified=$(vorserver verify "$SRV" | awk '$1 == "verified" { print $2 }')
lost=$(vorserver lost "$SRV" "$C/" | awk '$1 == "lost" && NF == 2 { print $2 }')
vorserver lost "$SRV" "$C/" | grep '^lost result' | sed 's/^/  /' || true
echo "demo: $verified results verified, $lost lost"
[ "$lost" -eq 0 ] && [ "$verified" -ge 3 ]
