#!/usr/bin/env bash
# The install and the package, checked without touching this machine: cpack
# builds the .deb into a scratch folder, which is unpacked (dpkg-deb -x) and
# run from there. Then: "vorcnt -version" and "vorstat --version" from the
# package, the manual pages through man -l and the roff linters, the systemd
# unit through systemd-analyze verify, a stop of the service's command lines
# against the simulated client, "cmake --install" into a scratch prefix,
# vorstat's metrics file through an outside exposition-format parser, and the
# example alert rules through promtool.
# A check whose tool is missing prints "SKIPPED: <check> (<reason>)"; the
# test fails on any failed check.
# Usage: check.sh BUILD_DIR
set -u
build=$1
bin=$build/bin
work=$(mktemp -d) || exit 1
trap 'stop_world; rm -rf "$work"' EXIT
. "$(dirname "${BASH_SOURCE[0]}")/../e2e/world.sh"
failed=0
fail() { echo "FAIL: $*"; failed=1; }
skip() { echo "SKIPPED: $1 ($2)"; }
pass() { echo "ok: $*"; }
client_pid=
stop_world() {
  [ -n "$client_pid" ] && kill "$client_pid" 2>/dev/null
  client_pid=
}

# --- the package ----------------------------------------------------------
if ! command -v cpack >/dev/null || ! command -v dpkg-deb >/dev/null; then
  skip package "cpack or dpkg-deb not found"
  exit 0
fi
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack did not build the .deb"; exit 1; }
deb=$(ls "$work"/pkg/vorcnt_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { fail "no .deb in $work/pkg"; exit 1; }
pass "cpack built $(basename "$deb")"

root=$work/root
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x"; exit 1; }
for f in usr/bin/vorcnt usr/bin/vorstat usr/bin/vorclose usr/share/man/man1/vorcnt.1 usr/share/man/man1/vorstat.1 \
  etc/vorcnt/vorcnt.cfg usr/lib/systemd/system/vorcnt.service; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
for f in Vorelith.exe vorserver; do
  [ -z "$(find "$root" -name "$f")" ] || fail "the package holds the simulated $f"
done
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "the package declares no dependency on libc6"
grep -qx '/etc/vorcnt/vorcnt.cfg' <(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles) ||
  fail "vorcnt.cfg is not a conffile"

# The programs run from the unpacked package, the closer found along PATH.
mkdir "$work/run"
out=$(cd "$work/run" && PATH="$root/usr/bin:$PATH" TMPDIR="$work/run" "$root/usr/bin/vorcnt" -version)
grep -q '^Vorelith Client Controler Version 0.2' <<<"$out" || fail "vorcnt -version said: $out"
out=$("$root/usr/bin/vorstat" --version)
[ "$out" = "vorstat 0.2" ] || fail "vorstat --version said: $out"
pass "vorcnt -version and vorstat --version from the package"

# Every keyword is in the example settings, explained.
for kw in EXEC UNITS TIME PROG FILL EXECFINISH CONNECT HISTORY EXECEMPTY AUTOFILL HELP VERSION; do
  grep -Eq "^#?$kw( |$)" "$root/etc/vorcnt/vorcnt.cfg" || fail "vorcnt.cfg lacks $kw"
done

# --- manual pages -------------------------------------------------------------
for page in vorcnt vorstat; do
  src=$root/usr/share/man/man1/$page.1
  if command -v man >/dev/null; then
    text=$(MANWIDTH=80 man -l "$src" 2>"$work/man.err" | col -b 2>/dev/null)
    grep -q 'EXIT STATUS' <<<"$text" && [ ! -s "$work/man.err" ] ||
      fail "man -l $page.1: $(cat "$work/man.err")"
  else
    skip "man -l $page.1" "man not installed"
  fi
  if command -v groff >/dev/null; then
    warnings=$(groff -man -ww -z "$src" 2>&1)
    [ -z "$warnings" ] || fail "groff warns on $page.1: $warnings"
  else
    skip "groff $page.1" "groff not installed"
  fi
  if command -v mandoc >/dev/null; then
    lint=$(mandoc -T lint -W warning "$src" 2>&1)
    [ -z "$lint" ] || fail "mandoc lint on $page.1: $lint"
  else
    skip "mandoc -T lint $page.1" "mandoc not installed"
  fi
done
# Each setting the controller knows is in its page.
for opt in '\\-exec' '\\-fill' '\\-units' '\\-prog' '\\-time' '\\-execfinish' '\\-connect' '\\-execempty' HISTORY AUTOFILL; do
  grep -q "$opt" "$root/usr/share/man/man1/vorcnt.1" || fail "vorcnt.1 does not mention $opt"
done
pass "manual pages"

# --- the systemd unit ---------------------------------------------------------
unit=$root/usr/lib/systemd/system/vorcnt.service
grep -Eq '^KillMode=control-group$' "$unit" && grep -Eq '^ExecStop=/usr/bin/vorclose -exit' "$unit" ||
  fail "the unit no longer closes the client on stop"
if command -v systemd-analyze >/dev/null; then
  # verify wants the programs where the unit names them: point it into the
  # unpacked package rather than installing anything.
  mkdir "$work/unit"
  sed -e "s|=/usr/bin/|=$root/usr/bin/|g" -e "s|^WorkingDirectory=/|WorkingDirectory=$root/|" "$unit" >"$work/unit/vorcnt.service"
  if MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/vorcnt.service" >"$work/verify.log" 2>&1 &&
    [ ! -s "$work/verify.log" ]; then
    pass "systemd-analyze verify"
  else
    fail "systemd-analyze verify: $(cat "$work/verify.log")"
  fi
else
  skip "systemd-analyze verify" "systemd not installed"
fi

# A service stop, as systemd carries it out with this unit: ExecStop first,
# then SIGTERM to the control group. The detached client must end through the
# closer, before any signal, so it is never cut off mid-write; with
# KillMode=process it would have gone on running after the stop.
if [ -x "$bin/Vorelith.exe" ] && [ -x "$bin/vorserver" ]; then
  export VORCNT_TIME_SCALE=0.001 VORSIM_RUNDIR=$work/rundir VORSIM_COMPUTE_SECONDS=200000
  BIN=$bin W=$work/run C=$work/client SRV=$work/srv
  new_world 1
  add_unit 0
  write_cfg "UNITS = 1"
  stop_cmd=$(sed -n 's|^ExecStop=/usr/bin/||p' "$unit")
  (cd "$W" && exec env PATH="$root/usr/bin:$PATH" "$root/usr/bin/vorcnt" >"$work/vorcnt.log" 2>&1) &
  controller=$!
  for _ in $(seq 200); do
    client_pid=$(sed -n 's/^pid=//p' "$VORSIM_RUNDIR/client.reg" 2>/dev/null)
    [ -n "$client_pid" ] && kill -0 "$client_pid" 2>/dev/null && break
    client_pid=
    sleep 0.05
  done
  if [ -z "$client_pid" ]; then
    fail "service stop: the simulated client did not start: $(cat "$work/vorcnt.log")"
  else
    (cd "$work/run" && PATH="$root/usr/bin:$PATH" $stop_cmd)
    # An ended client may linger as a zombie until its new parent reaps it.
    if ps -o stat= -p "$client_pid" 2>/dev/null | grep -qv '^Z'; then
      fail "the client is still running after ExecStop ($stop_cmd)"
    else
      client_pid=
      pass "ExecStop ends the detached client before any signal"
    fi
  fi
  kill -TERM "$controller" 2>/dev/null
  wait "$controller" 2>/dev/null
  stop_world
else
  skip "service stop" "the simulated client is not built"
fi

# --- cmake --install ----------------------------------------------------------
if cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
  grep -qx "ExecStart=$work/prefix/bin/vorcnt" "$work/prefix/lib/systemd/system/vorcnt.service" &&
    grep -qx "WorkingDirectory=$work/prefix/etc/vorcnt" "$work/prefix/lib/systemd/system/vorcnt.service" &&
    [ -f "$work/prefix/etc/vorcnt/vorcnt.cfg" ] && [ -x "$work/prefix/bin/vorclose" ] ||
    fail "cmake --install --prefix: the unit or the files do not follow the prefix"
  [ ! -e "$work/prefix/bin/Vorelith.exe" ] || fail "cmake --install put the simulated client in bin"
  pass "cmake --install"
else
  fail "cmake --install: $(cat "$work/install.log")"
fi

# --- the metrics file -----------------------------------------------------------
mkdir -p "$work/buffer/unit0" "$work/buffer/unit1"
: >"$work/buffer/version.vwu"
echo wu >"$work/buffer/work_unit.vwu"
printf 'prog=0.25\n' >"$work/buffer/state.vwu"
: >"$work/buffer/unit0/version.vwu"
echo wu0 >"$work/buffer/unit0/work_unit.vwu"
echo r >"$work/buffer/unit1/result.txt"  # a result alone: sending
"$root/usr/bin/vorstat" --prometheus "$work/vorcnt.prom" "$work/buffer" || fail "vorstat --prometheus exited $?"
if command -v promtool >/dev/null; then
  promtool check metrics <"$work/vorcnt.prom" && pass "promtool check metrics" ||
    fail "promtool: $(promtool check metrics <"$work/vorcnt.prom" 2>&1)"
elif /usr/bin/python3 -c 'import prometheus_client.parser' 2>/dev/null; then
  /usr/bin/python3 - "$work/vorcnt.prom" <<'PY' && pass "exposition format parsed" || fail "the exposition format parser rejected: $(cat "$work/vorcnt.prom")"
import sys
from prometheus_client.parser import text_string_to_metric_families
families = {f.name: f for f in text_string_to_metric_families(open(sys.argv[1]).read())}
for f in families.values():
    assert f.type == "gauge", (f.name, f.type)
    assert f.name.startswith("vorcnt_") and not f.name.endswith("_total"), f.name
units = {s.labels["state"]: s.value for s in families["vorcnt_units"].samples}
assert units["Data_Calculation_wait"] == 1 and units["Data_Sending"] == 1, units
assert families["vorcnt_client_progress_ratio"].samples[0].value == 0.25
PY
else
  skip "exposition format" "neither promtool nor python3-prometheus-client is installed"
fi

# --- the example alert rules -----------------------------------------------------
# Parsed, and run against made-up series, by Prometheus's own rule checker.
rules=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/packaging/vorcnt.rules.yml
[ -e "$root/usr/share/doc/vorcnt/examples/vorcnt.rules.yml" ] || fail "the package lacks the example alert rules"
if command -v promtool >/dev/null; then
  promtool check rules "$rules" >"$work/rules.log" 2>&1 && pass "promtool check rules" ||
    fail "promtool check rules: $(cat "$work/rules.log")"
  promtool test rules "$(dirname "${BASH_SOURCE[0]}")/alert_rules_test.yml" >"$work/rules.log" 2>&1 &&
    pass "promtool test rules" || fail "promtool test rules: $(cat "$work/rules.log")"
else
  skip "alert rules" "promtool is not installed (Debian package prometheus)"
fi

[ $failed -eq 0 ] && echo "packaging: ok"
exit $failed
