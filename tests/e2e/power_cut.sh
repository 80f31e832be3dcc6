#!/usr/bin/env bash
# Power cuts on a real file system. The client folder lives on a loop-mounted
# ext4 image (data=ordered, delayed allocation, 5 s commit). The controller
# runs one cycle: the start-up pop of unit0, the client computing it, the push
# back into unit0 and the pop of unit1. strace freezes it at one chosen system
# call; after a wait longer than the commit interval the image is copied,
# which is exactly what the device had received, and the copy is mounted and
# used for a restart. The cut points: every unlink of the cycle (the deletes
# of the cycle), every rename (the copies'), and the sync of each move
# record's write.
#
#   power_cut.sh BIN_DIR [--no-sync]
#
# Each cut must leave, on the copy:
#   - every work unit and result the frozen controller held, whole (the
#     copies reached the disk before their sources were deleted);
#   - after a restart run to the end (both buffered units computed and sent),
#     each work unit computed once, each result sent once and matching its
#     work unit, and no move record left behind. Files a record proves torn
#     may be set aside in damaged/; they are listed.
# --no-sync makes every fsync a no-op (strace fault injection) to show what
# the syncs prevent; it reports the same counts and fails when a cut lost data.
# Needs root, loop devices, mkfs.ext4 and strace; without them it prints
# SKIPPED and the reason and exits 77.
set -u
export LC_ALL=C

BIN=$(cd "${1:?usage: power_cut.sh BIN_DIR [--no-sync]}" && pwd)
NO_SYNC=0
[ "${2:-}" = --no-sync ] && NO_SYNC=1

skip() {
  echo "power cut: SKIPPED ($*)"
  exit 77
}
[ "$(id -u)" -eq 0 ] || skip "needs root to mount a loop device"
for tool in strace mkfs.ext4 losetup mount umount; do
  command -v "$tool" >/dev/null || skip "$tool is missing"
done
[ -e /dev/loop-control ] || ls /dev/loop[0-9]* >/dev/null 2>&1 || skip "no loop devices"

export VORCNT_TIME_SCALE=0.01
export PATH="$BIN:$PATH"
unset VORSIM_FAULT VORSIM_UPLOAD_SECONDS VORSIM_DOWNLOAD_SECONDS VORSIM_RETRY_SECONDS
WORK=$(mktemp -d /tmp/vorcnt-power-cut.XXXXXX)
PARALLEL=${VORCNT_POWER_CUT_PARALLEL:-6}
status=0
. "$(dirname "${BASH_SOURCE[0]}")/world.sh"

cleanup() {
  local m
  for m in "$WORK"/cut*/m; do
    [ -d "$m" ] || continue
    VORSIM_RUNDIR=${m%/m}/run vorclose -exit -echo off >/dev/null 2>&1
    mountpoint -q "$m" && umount "$m" 2>/dev/null
  done
  [ -n "${VORCNT_POWER_CUT_KEEP:-}" ] || rm -rf "$WORK"
}
trap cleanup EXIT

# Every "*.vwu" below the client folder with its digest, one line each:
# "<folder>/<name> <cksum>".
snapshot() {  # CLIENT_FOLDER
  (cd "$1" && find . -name '*.vwu' -type f | sort | while read -r f; do echo "$f $(cksum <"$f")"; done)
}

# The files that name a work unit: work units and results, by contents.
marks() {  # CLIENT_FOLDER
  (cd "$1" && find . -path ./damaged -prune -o \( -name work_unit.vwu -o -name result.vwu \) -type f -print |
    while read -r f; do cksum <"$f"; done)
}

# A world on the mounted image D/m: unit0 and unit1 each hold a fresh work
# unit, unit0 the older. Each cut runs in a subshell of its own, so these
# settings stay with it.
power_world() {  # D
  W=$1 C=$1/m/c SRV=$1/srv VORSIM_RUNDIR=$1/run
  new_world 4 24
  add_unit 0 1200
  add_unit 1 600
  unit_id "$C/unit0/work_unit.vwu" >"$1/ids"
  unit_id "$C/unit1/work_unit.vwu" >>"$1/ids"
  write_cfg "UNITS = 2"
  # The world itself is on the disk before the run starts.
  sync -f "$C"
}

# How many of the two buffered units' results the server holds.
sent_units() {  # D
  local id n=0
  for id in $(cat "$1/ids"); do ls "$1/srv/results" 2>/dev/null | grep -q "^$id-" && n=$((n + 1)); done
  echo $n
}

# The state letter of a process, from /proc.
proc_state() { awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null; }

# One cut: freezes the controller at its Nth call of SYSCALL; writes the
# verdict to D/verdict ("ok" or the reasons) and the call to D/where.
# (Not named "cut": the verdict's own lines call that command.)
cut_at() {  # K SYSCALL N: K numbers the cut
  local call=$2 n=$3 d=$WORK/cut$1
  mkdir -p "$d/m"
  truncate -s 32M "$d/img" && mkfs.ext4 -q -F "$d/img" && mount -o loop,commit=5 "$d/img" "$d/m" ||
    { echo "cannot make or mount an ext4 image" >"$d/verdict"; return; }
  power_world "$d" || { echo "cannot lay out the world" >"$d/verdict"; return; }
  local inject=(-e "inject=$call:signal=SIGSTOP:when=$n")
  [ $NO_SYNC -eq 1 ] && inject+=(-e "inject=fsync,fdatasync,syncfs:retval=0")
  (cd "$d" && VORSIM_RUNDIR=$d/run VORSIM_SERVER=$d/srv VORSIM_COMPUTE_SECONDS=50 \
    exec strace -o "$d/strace.log" -e trace=unlink,unlinkat,rename,renameat,renameat2,fsync,fdatasync,syncfs "${inject[@]}" vorcnt >"$d/out1.txt" 2>&1) &
  local tracer=$! pid="" end=$((SECONDS + 30)) state=""
  while [ $SECONDS -lt $end ]; do
    [ -z "$pid" ] && pid=$(pgrep -P "$tracer" -x vorcnt)
    # Every syscall stop of a traced process shows as "t" too; the tracer's
    # log tells the stop by the signal apart.
    if [ -n "$pid" ] && grep -q 'stopped by SIGSTOP' "$d/strace.log" 2>/dev/null; then
      state=$(proc_state "$pid")
      [ "$state" = t ] || [ "$state" = T ] && break
    fi
    sleep 0.05
  done
  if [ "$state" != t ] && [ "$state" != T ]; then
    echo "the controller never made its $call $n" >"$d/verdict"
    kill -KILL "$pid" "$tracer" 2>/dev/null
    return
  fi
  # What the frozen controller sees is what the disk must hold after the cut.
  snapshot "$d/m/c" >"$d/live"
  marks "$d/m/c" | sort >"$d/live_marks"
  grep "^$call(" "$d/strace.log" | sed -n "${n}p" | grep -o '^[a-z]*([^)]*)' >"$d/where"
  sleep 7
  cp --sparse=always "$d/img" "$d/img.cut"
  kill -KILL "$pid" 2>/dev/null
  wait "$tracer" 2>/dev/null
  VORSIM_RUNDIR=$d/run vorclose -exit -echo off >/dev/null 2>&1
  umount "$d/m" && rm -f "$d/img" && mount -o loop "$d/img.cut" "$d/m" ||
    { echo "cannot mount the copy of the image" >"$d/verdict"; return; }

  # Every work unit and result the frozen controller held is on the disk
  # whole somewhere. (A client file it had not copied yet may be torn: the
  # client writes without syncing; the restart must cope with that.)
  local reasons=() mark
  snapshot "$d/m/c" >"$d/cut"
  marks "$d/m/c" | sort >"$d/cut_marks"
  while read -r mark; do
    grep -qxF "$mark" "$d/cut_marks" ||
      reasons+=("lost by the cut: $(grep -F " $mark" "$d/live" | cut -d' ' -f1 | tr '\n' ' ')($(diff "$d/live" "$d/cut" | grep '^[<>]' | tr '\n' ';'))")
  done < <(sort -u "$d/live_marks")

  # The restart, run to the end: recovery, then both buffered units computed
  # and sent (the server verifies each result against its work unit).
  (cd "$d" && VORSIM_RUNDIR=$d/run VORSIM_SERVER=$d/srv VORSIM_COMPUTE_SECONDS=50 \
    exec vorcnt >"$d/out2.txt" 2>&1) &
  local restart=$!
  end=$((SECONDS + 90))
  until [ "$(sent_units "$d")" -ge 2 ] || [ $SECONDS -ge $end ] || ! kill -0 $restart 2>/dev/null; do
    sleep 0.2
  done
  # Not inside a move: stopped while the client computes the next unit.
  until grep -qaF "Data計算準備" <(iconv -c -f CP932 -t UTF-8 "$d/out2.txt" | tail -n 1) || [ $SECONDS -ge $end ]; do
    sleep 0.05
  done
  kill -KILL $restart 2>/dev/null
  wait $restart 2>/dev/null
  VORSIM_RUNDIR=$d/run vorclose -exit -echo off >/dev/null 2>&1
  [ "$(sent_units "$d")" -ge 2 ] || reasons+=("the restart did not get both units computed and sent")
  local id
  for id in $(cat "$d/ids"); do
    [ "$(ls "$d/srv/results" | grep -c "^$id-")" -eq 1 ] || reasons+=("$id was sent $(ls "$d/srv/results" | grep -c "^$id-") times")
  done
  [ -s "$d/m/c/vorcnt.move" ] && reasons+=("a move record was left behind")
  [ -e "$d/m/c/damaged" ] && echo "set aside: $(cd "$d/m/c/damaged" && find . -type f | tr '\n' ' ')" >"$d/aside"

  # Nothing torn computed or sent, nothing computed twice.
  if grep -q '^result ' "$d/run/client.log" 2>/dev/null; then
    grep '^result ' "$d/run/client.log" | awk '{ print $2 }' | sort | uniq -d | grep -q . &&
      reasons+=("a work unit was computed twice")
  fi
  grep -qE 'AddressSanitizer|runtime error' "$d/out1.txt" "$d/out2.txt" &&
    reasons+=("sanitizer report: $(grep -h -m2 -E 'AddressSanitizer|runtime error' "$d/out1.txt" "$d/out2.txt")")
  local verify
  verify=$(vorserver verify "$d/srv")
  echo "$verify" | grep -qx 'mismatched 0' || reasons+=("a result that does not match its work unit was sent")
  echo "$verify" | grep -qx 'duplicates 0' || reasons+=("a result was sent twice")
  if [ ${#reasons[@]} -eq 0 ]; then echo ok >"$d/verdict"; else printf '%s\n' "${reasons[@]}" >"$d/verdict"; fi
  umount "$d/m"
  rm -f "$d/img.cut"
}

# The cut points, from a run without a cut (the pop of unit0, the push into
# it, the pop of unit1): "SYSCALL N" for every unlink and rename, and for the
# sync of each move record once written. A move opens its record twice: to
# write it, and to empty it at the end.
cut_points() {
  local d=$WORK/count
  mkdir -p "$d/m"
  power_world "$d" || return 1
  (cd "$d" && VORSIM_RUNDIR=$d/run VORSIM_SERVER=$d/srv VORSIM_COMPUTE_SECONDS=50 \
    exec strace -o "$d/strace.log" -e trace=unlink,unlinkat,rename,renameat,renameat2,fsync,openat,openat2,close vorcnt >"$d/out.txt" 2>&1) &
  local tracer=$! end=$((SECONDS + 30))
  # Done when unit1 has been popped and its record emptied.
  until [ -z "$(ls "$d/m/c/unit1"/*.vwu 2>/dev/null)" ] && [ -z "$(ls "$d/m/c"/result.vwu 2>/dev/null)" ] &&
    [ -e "$d/m/c/unit0/result.vwu" ] && [ ! -s "$d/m/c/vorcnt.move" ]; do
    [ $SECONDS -lt $end ] || break
    sleep 0.1
  done
  sleep 0.2
  kill -KILL "$(pgrep -P "$tracer" -x vorcnt)" 2>/dev/null
  wait "$tracer" 2>/dev/null
  VORSIM_RUNDIR=$d/run vorclose -exit -echo off >/dev/null 2>&1
  # The cycle ends when the third record is emptied (each record is opened
  # twice to write: its content, then nothing; by its name in the client
  # folder, opened first). A record's sync opens it for reading, without
  # following links, and fsyncs that descriptor.
  awk -F'(' '
    /^openat2?\(/ && index($0, "vorcnt.move\"") {
      if (index($0, "O_WRONLY") && ++writes == 6) exit
      if (index($0, "O_NOFOLLOW")) { record_fd = $0; sub(/.*= /, "", record_fd) }
      next
    }
    /^close\(/ { fd = $2; sub(/\).*/, "", fd); if (fd == record_fd) record_fd = ""; next }
    /^(unlink|unlinkat|rename|renameat|renameat2|fsync)\(/ {
      n[$1]++
      # The advisory status file is no step of a move: counted, never cut at.
      if (index($0, "vorcnt.status")) next
      if ($1 == "fsync") {
        fd = $2; sub(/\).*/, "", fd)
        if (fd == record_fd) print "fsync", n[$1]
        next
      }
      print $1, n[$1]
    }' "$d/strace.log"
}

cut_points >"$WORK/points"
CUTS=$(grep -c . "$WORK/points")
[ "$CUTS" -ge 25 ] || { echo "FAIL: the cycle gave ${CUTS} cut points, expected about 28"; cat "$WORK/points"; exit 1; }
echo "power cut: $CUTS cut points (every unlink and rename of a pop, a push and a pop, and each move record's sync)$([ $NO_SYNC -eq 1 ] && echo ', fsync disabled')"

started=$SECONDS
running=0
k=0
while read -r call n; do
  k=$((k + 1))
  cut_at "$k" "$call" "$n" &
  running=$((running + 1))
  if [ $running -ge "$PARALLEL" ]; then
    wait -n
    running=$((running - 1))
  fi
done <"$WORK/points"
wait

bad=0
for ((k = 1; k <= CUTS; k++)); do
  d=$WORK/cut$k
  verdict=$(cat "$d/verdict" 2>/dev/null || echo "no verdict")
  where=$(cat "$d/where" 2>/dev/null)
  aside=$(cat "$d/aside" 2>/dev/null)
  if [ "$verdict" = ok ]; then
    echo "  cut $k at ${where:-?}: ok${aside:+ ($aside)}"
  else
    bad=$((bad + 1))
    echo "  cut $k at ${where:-?}: FAILED${aside:+ ($aside)}"
    echo "$verdict" | sed 's/^/      /'
  fi
done
echo "power cut: $CUTS cuts, $((CUTS - bad)) intact, $bad failed, in $((SECONDS - started)) s"
if [ $bad -ne 0 ]; then
  status=1
  echo "FAILED: power cut"
else
  echo "passed: power cut"
fi
exit $status
