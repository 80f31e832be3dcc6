#!/usr/bin/env bash
# The install and the package, checked without touching this machine: cpack
# builds the .deb into a scratch folder, which is unpacked (dpkg-deb -x) and
# run from there. Then: the package's files and fields (no simulated program
# among them), the debug package's modes, lintian on both, "vorcnt -version"
# and "vorstat --version" from the package,
# the manual pages through man -l and the roff linters, the systemd units
# through systemd-analyze verify and security, a stop of the service's
# command lines against the simulated client with the unit's encoding
# through a pipe, the logrotate entry, "cmake --install" into a scratch
# prefix, and vorstat's metrics file through an outside exposition-format
# parser, the example alert rules through promtool. With VORCNT_CHECK_INSTALL=1, as root, the package is also
# installed on this machine (dpkg -i), the service's command run as its
# user, and the package purged.
# A check whose tool is missing prints "SKIPPED: <check> (<reason>)"; the
# test fails on any failed check, and is skipped (77) where no package can be
# made.
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
# cpack runs the install step in the build folder: a user who may not write
# there (the tests' pass as a plain user) cannot make the package at all.
if [ ! -w "$build" ]; then
  echo "SKIPPED: package (cpack writes into $build, which this user cannot write)"
  exit 77
fi
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack did not build the .deb"; exit 1; }
deb=$(ls "$work"/pkg/vorcnt_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || { fail "no .deb in $work/pkg"; exit 1; }
pass "cpack built $(basename "$deb")"

root=$work/root
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x"; exit 1; }
for f in usr/bin/vorcnt usr/bin/vorstat usr/share/man/man1/vorcnt.1.gz usr/share/man/man1/vorstat.1.gz \
  usr/share/doc/vorcnt/copyright usr/share/doc/vorcnt/changelog.gz usr/share/doc/vorcnt/README.Debian etc/vorcnt/vorcnt.cfg etc/logrotate.d/vorcnt \
  usr/lib/systemd/system/vorcnt.service usr/lib/systemd/system/vorstat-prometheus.service \
  usr/lib/systemd/system/vorstat-prometheus.timer usr/lib/sysusers.d/vorcnt.conf usr/lib/tmpfiles.d/vorcnt.conf \
  usr/share/bash-completion/completions/vorcnt usr/share/bash-completion/completions/vorstat \
  usr/share/locale/ja/LC_MESSAGES/vorcnt.mo; do
  [ -e "$root/$f" ] || fail "the package lacks /$f"
done
# The installed program finds its catalogue beside it.
(cd "$work" && PATH="$bin:$PATH" TMPDIR="$work" env -u LANGUAGE -u LC_ALL -u LC_MESSAGES LANG=ja_JP.UTF-8 "$root/usr/bin/vorcnt" -help 2>/dev/null | LC_ALL=C grep -qa $'^\t-connect FROM-TO .*[\x80-\xff]') ||
  fail "the installed vorcnt does not speak Japanese"
# A closer of ours on PATH would shadow the real one, which comes with the
# client, and silently fail to stop a real client.
sim=$(find "$root" -iname 'vorclose*' -o -iname 'vorelith*' -o -iname 'vorserver*')
[ -z "$sim" ] || fail "the package holds a simulated program: $sim"
dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "the package declares no dependency on libc6"
[ "$(dpkg-deb -f "$deb" Suggests)" = prometheus-node-exporter ] || fail "Suggests: $(dpkg-deb -f "$deb" Suggests)"
for f in /etc/vorcnt/vorcnt.cfg /etc/logrotate.d/vorcnt; do
  grep -qx "$f" <(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles) || fail "$f is not a conffile"
done
file "$root/usr/bin/vorcnt" | grep -q ', stripped' || fail "vorcnt is not stripped: $(file "$root/usr/bin/vorcnt")"
ddeb=$(ls "$work"/pkg/vorcnt-dbgsym_*.ddeb 2>/dev/null | head -n 1)
[ -n "$ddeb" ] || fail "no debug symbols package beside the .deb"
# Nothing runs a .debug file (lintian: executable-in-usr-lib).
modes=$(dpkg-deb -c "$ddeb" 2>&1 | awk '/\.debug$/ { print $1 }' | sort -u)
[ "$modes" = -rw-r--r-- ] || fail "the .debug files' modes: ${modes:-no .debug file}"

if command -v lintian >/dev/null; then
  # Every tag at warning level or above fails, in either package;
  # informational ones are shown.
  lintian --fail-on error,warning "$deb" "$ddeb" >"$work/lintian.log" 2>&1
  lintian_status=$?
  tags=$(grep -E '^[EW]: ' "$work/lintian.log")
  if [ $lintian_status -eq 0 ] && [ -z "$tags" ]; then
    pass "lintian: 0 errors, 0 warnings on $(basename "$deb") and $(basename "$ddeb")"
  else
    fail "lintian: $(grep -c '^E: ' "$work/lintian.log") errors, $(grep -c '^W: ' "$work/lintian.log") warnings:
$(cat "$work/lintian.log")"
  fi
else
  skip lintian "lintian not installed"
fi

# The shell completion offers every option each program's help names.
completions=$root/usr/share/bash-completion/completions
for program in vorcnt vorstat; do
  if [ "$program" = vorcnt ]; then
    listed=$(cd "$work" && PATH="$bin:$PATH" TMPDIR="$work" "$root/usr/bin/vorcnt" -help 2>/dev/null | grep -o $'^\t-[a-z]*' | tr -d '\t')
  else
    listed=$("$root/usr/bin/vorstat" --help | grep -oE -- '(^| )--?[a-z]+' | tr -d ' ')
  fi
  offered=$(bash -c '. "$1"; COMP_WORDS=("$2" -); COMP_CWORD=1; "_$2"; printf "%s\n" "${COMPREPLY[@]}"' _ \
    "$completions/$program" "$program" 2>&1)
  missing=$(comm -23 <(echo "$listed" | sort -u) <(echo "$offered" | sort -u))
  if [ -n "$listed" ] && [ -z "$missing" ]; then
    pass "bash completes the options of $program"
  else
    fail "bash completion of $program lacks: ${missing:-the options of its help (none read)}"
  fi
done

# The programs run from the unpacked package, the closer found along PATH.
mkdir "$work/run"
out=$(cd "$work/run" && PATH="$root/usr/bin:$bin:$PATH" TMPDIR="$work/run" "$root/usr/bin/vorcnt" -version)
grep -q '^Vorelith Client Controler Version 0.2' <<<"$out" || fail "vorcnt -version said: $out"
out=$("$root/usr/bin/vorstat" --version)
version=$(sed -nE 's/^project\(vorcnt VERSION ([0-9.]+).*/\1/p' "$(dirname "${BASH_SOURCE[0]}")/../../CMakeLists.txt")
[ "$out" = "vorstat $version" ] || fail "vorstat --version said: $out (the project is $version)"
pass "vorcnt -version and vorstat --version from the package"

# Every keyword of the option table is in the example settings, explained.
keywords=$(grep -o '\.name = "[A-Z]*"' "$(dirname "${BASH_SOURCE[0]}")/../../src/config/option_rows.cpp" | cut -d'"' -f2)
[ "$(wc -w <<<"$keywords")" -ge 13 ] || fail "the option table's keywords were not found: $keywords"
windows_cfg=$(dirname "${BASH_SOURCE[0]}")/../../packaging/vorcnt-windows.cfg
for kw in $keywords; do
  grep -Eq "^#?$kw( |$)" "$root/etc/vorcnt/vorcnt.cfg" || fail "vorcnt.cfg lacks $kw"
  grep -Eq "^#?$kw( |$)" "$windows_cfg" || fail "the Windows example vorcnt-windows.cfg lacks $kw"
done

# --- manual pages -------------------------------------------------------------
for page in vorcnt vorstat; do
  src=$work/$page.1
  zcat "$root/usr/share/man/man1/$page.1.gz" >"$src" || fail "$page.1.gz is not gzip"
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
  grep -q "$opt" "$work/vorcnt.1" || fail "vorcnt.1 does not mention $opt"
done
pass "manual pages"

# --- the systemd units ----------------------------------------------------------
units=$root/usr/lib/systemd/system
unit=$units/vorcnt.service
grep -Eq '^KillMode=control-group$' "$unit" && grep -Eq '^ExecStop=-?/var/lib/vorelith/vorclose -exit' "$unit" ||
  fail "the unit no longer closes the client on stop"
grep -Eq '^User=vorcnt$' "$unit" && grep -Eq '^ReadWritePaths=/var/lib/vorelith$' "$unit" ||
  fail "the unit does not run as vorcnt with the client folder writable"
# Without the node exporter's folder the metrics timer is skipped, not failing every minute.
prom_dir=$(sed -n 's|^ExecStart=.* --prometheus \([^ ]*\)/[^/ ]* .*|\1|p' "$units/vorstat-prometheus.service")
for u in vorstat-prometheus.timer vorstat-prometheus.service; do
  grep -qx "ConditionPathIsDirectory=${prom_dir:-?}" "$units/$u" || fail "$u runs without the folder it writes to (${prom_dir:-?})"
done
# The client is the controller's child and must reach its project; the
# one-controller guard may use a unix socket.
! grep -Eq '^(PrivateNetwork=yes|IPAddressDeny=)' "$unit" ||
  fail "the unit cuts the client off the network"
if command -v systemd-analyze >/dev/null; then
  # verify wants the programs where the units name them: point it into the
  # unpacked package, and the client folder into a scratch one holding the
  # closer, rather than installing anything.
  mkdir -p "$work/unit" "$work/client"
  cp "$bin/vorclose" "$work/client/" 2>/dev/null || : >"$work/client/vorclose"
  chmod +x "$work/client/vorclose"
  for u in vorcnt.service vorstat-prometheus.service vorstat-prometheus.timer; do
    sed -e "s|=/usr/bin/|=$root/usr/bin/|g" -e "s|^WorkingDirectory=/|WorkingDirectory=$root/|" \
      -e "s|^ExecStop=-/var/lib/vorelith/|ExecStop=-$work/client/|" "$units/$u" >"$work/unit/$u"
  done
  if MANPATH=$root/usr/share/man systemd-analyze verify "$work"/unit/* >"$work/verify.log" 2>&1 &&
    [ ! -s "$work/verify.log" ]; then
    pass "systemd-analyze verify"
  else
    fail "systemd-analyze verify: $(cat "$work/verify.log")"
  fi
  for u in vorcnt.service vorstat-prometheus.service; do
    level=$(systemd-analyze security --offline=true "$units/$u" 2>&1 | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    if [ -z "$level" ]; then
      skip "systemd-analyze security $u" "this systemd cannot rate a unit offline"
    elif awk -v l="$level" 'BEGIN { exit !(l < 4) }'; then
      pass "systemd-analyze security $u: $level"
    else
      fail "systemd-analyze security $u: $level, not under 4"
    fi
  done
else
  skip "systemd-analyze verify and security" "systemd not installed"
fi

# A service stop, as systemd carries it out with this unit: ExecStop first,
# then SIGTERM to the control group. The detached client must end through the
# closer, before any signal, so it is never cut off mid-write; with
# KillMode=process it would have gone on running after the stop. The
# controller runs with the unit's environment, its output through a pipe as
# to the journal: the Japanese lines must arrive as UTF-8.
if [ -x "$bin/Vorelith.exe" ] && [ -x "$bin/vorserver" ] && [ -x "$bin/vorclose" ]; then
  export VORCNT_TIME_SCALE=0.001 VORSIM_RUNDIR=$work/rundir VORSIM_COMPUTE_SECONDS=200000
  BIN=$bin W=$work/run C=$work/client SRV=$work/srv
  new_world 1
  add_unit 0
  write_cfg "UNITS = 1"
  cp "$bin/vorclose" "$C/"  # the real closer comes with the client
  unit_env=$(sed -n 's/^Environment=VORCNT_ENCODING=/VORCNT_ENCODING=/p' "$unit")
  stop_cmd=$(sed -n "s|^ExecStop=-/var/lib/vorelith/|$C/|p" "$unit")
  # Through a pipe, as to the journal.
  (cd "$W" && exec env PATH="$C:$root/usr/bin:$PATH" $unit_env "$root/usr/bin/vorcnt" > >(cat >"$work/vorcnt.log") 2>&1) &
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
    (cd "$work/run" && $stop_cmd)
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
  stopped=$?
  [ $stopped -eq 0 ] || fail "service stop: the controller exited with status $stopped, not 0"
  sleep 0.2  # the pipe's reader writes out what is left
  stop_world
  # 計算 (computing) of the controller's lines, in UTF-8.
  if iconv -f UTF-8 -t UTF-8 "$work/vorcnt.log" >/dev/null 2>&1 && grep -q $'\xe8\xa8\x88\xe7\xae\x97' "$work/vorcnt.log"; then
    pass "the unit's $unit_env gives UTF-8 through a pipe"
  else
    fail "the controller's piped output under the unit is not UTF-8: $(od -c "$work/vorcnt.log" | head -n 5)"
  fi
else
  skip "service stop" "the simulated client is not built"
fi

# --- the journal's rotation ------------------------------------------------------
if command -v logrotate >/dev/null; then
  # Debug mode reads the entry and rotates nothing; the user it names need
  # not exist here.
  sed -e "s|^/var/log/vorcnt/|$work/log/|" -e 's/^\tsu .*/\tsu root root/' "$root/etc/logrotate.d/vorcnt" >"$work/logrotate.conf"
  mkdir -p "$work/log" && printf 'time\tunit\tevent\tidentity\tdetail\n' >"$work/log/units.tsv"
  if logrotate -d -s "$work/logrotate.state" "$work/logrotate.conf" >"$work/logrotate.log" 2>&1 &&
    ! grep -qi 'error' "$work/logrotate.log"; then
    pass "logrotate reads the entry"
  else
    fail "logrotate: $(cat "$work/logrotate.log")"
  fi
else
  skip logrotate "logrotate not installed"
fi

# --- cmake --install ----------------------------------------------------------
if cmake --install "$build" --prefix "$work/prefix" >"$work/install.log" 2>&1; then
  grep -qx "ExecStart=$work/prefix/bin/vorcnt" "$work/prefix/lib/systemd/system/vorcnt.service" &&
    grep -qx "WorkingDirectory=$work/prefix/etc/vorcnt" "$work/prefix/lib/systemd/system/vorcnt.service" &&
    grep -q "^ExecStart=$work/prefix/bin/vorstat " "$work/prefix/lib/systemd/system/vorstat-prometheus.service" &&
    [ -f "$work/prefix/etc/vorcnt/vorcnt.cfg" ] && [ -x "$work/prefix/bin/vorstat" ] ||
    fail "cmake --install --prefix: the units or the files do not follow the prefix"
  [ -z "$(find "$work/prefix" -iname 'vorclose*' -o -iname 'vorelith*' -o -iname 'vorserver*')" ] ||
    fail "cmake --install put a simulated program in the prefix"
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
mkdir -p "$work/buffer/damaged/unit0" && echo torn >"$work/buffer/damaged/unit0/result.vwu"
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
assert families["vorcnt_damaged_files"].samples[0].value == 1
PY
else
  skip "exposition format" "neither promtool nor python3-prometheus-client is installed"
fi

# --- installed on this machine ----------------------------------------------------
# dpkg -i, then the README's first run by hand and the unit's ExecStart, each
# as the unit's User= with its Environment= (systemd need not be PID 1): the
# controller runs as vorcnt, the unit folders belong to it, and its lines
# are UTF-8. Then the package is purged and the machine left as it was.
# Becomes COMMAND in the unit's folder, as its user, with its environment:
# call it in a subshell, or in the background (its id is then COMMAND's).
as_service_user() {  # command...
  cd "$(sed -n 's/^WorkingDirectory=//p' "$unit")" &&
    exec setpriv --reuid=vorcnt --regid=vorcnt --init-groups env -i \
      $(sed -n 's/^Environment=//p' "$unit") VORSIM_SERVER="$isrv" VORSIM_RUNDIR="$work/irundir" \
      VORSIM_COMPUTE_SECONDS=200000 VORCNT_TIME_SCALE=0.002 "$@"
}
# COMMAND as the service user in the background, its output through a pipe
# (as the journal's socket is) into LOG. Sets bg (the command) and bg_reader.
start_logged() {  # log command...
  rm -f "$work/fifo" && mkfifo "$work/fifo" || return 1
  cat "$work/fifo" >"$1" &
  bg_reader=$!
  shift
  as_service_user "$@" >"$work/fifo" 2>&1 &
  bg=$!
}
# The reader ends once every writer is gone; the detached client may hold the
# pipe a little longer than the controller.
wait_reader() {
  for _ in $(seq 100); do kill -0 "$bg_reader" 2>/dev/null || break; sleep 0.05; done
  kill "$bg_reader" 2>/dev/null
  wait "$bg_reader" 2>/dev/null
}
installed_client_pid() { sed -n 's/^pid=//p' "$work/irundir/client.reg" 2>/dev/null; }
stop_installed() {  # controller id; as systemctl stop: the closer, then the signal
  (as_service_user /var/lib/vorelith/vorclose -exit -echo off)
  kill -TERM "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}
if [ "${VORCNT_CHECK_INSTALL:-0}" != 1 ]; then
  skip "dpkg -i and the service as its user" "set VORCNT_CHECK_INSTALL=1 to install the package on this machine"
elif [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null; then
  skip "dpkg -i and the service as its user" "needs root and setpriv"
elif dpkg-query -W -f='${Status}' vorcnt 2>/dev/null | grep -q installed || [ -e /var/lib/vorelith ]; then
  skip "dpkg -i and the service as its user" "vorcnt or /var/lib/vorelith is here already; left alone"
else
  user_was_there=$(getent passwd vorcnt)
  if ! dpkg -i "$deb" >"$work/dpkg.log" 2>&1; then
    fail "dpkg -i: $(cat "$work/dpkg.log")"
  else
    [ "$(stat -c %U:%G /var/lib/vorelith /var/log/vorcnt | sort -u)" = vorcnt:vorcnt ] ||
      fail "the package's folders do not belong to vorcnt: $(ls -ld /var/lib/vorelith /var/log/vorcnt)"
    chmod 755 "$work"
    isrv=$work/isrv
    "$bin/vorserver" init "$isrv" 4 24 >/dev/null
    mkdir -p "$work/irundir"
    chown -R vorcnt:vorcnt "$isrv" "$work/irundir"
    install -o vorcnt -g vorcnt "$bin/Vorelith.exe" "$bin/vorclose" /var/lib/vorelith/
    # The first start by hand, as the README gives it: -fill makes the unit
    # folders and has each fetch work.
    start_logged "$work/fill.log" /usr/bin/vorcnt -fill
    for _ in $(seq 400); do [ -f /var/lib/vorelith/unit1/work_unit.vwu ] && break; sleep 0.05; done
    stop_installed $bg
    wait_reader
    # The service's own start: it computes what the fill fetched.
    start_logged "$work/service.log" "$(sed -n 's/^ExecStart=//p' "$unit")"
    service=$bg
    for _ in $(seq 400); do
      pid=$(installed_client_pid)
      [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && break
      sleep 0.05
    done
    owners=$(ps -o user= -p "$service,${pid:-$service}" | sort -u | tr '\n' ' ')
    # The computing line comes at the first poll after the client's start.
    for _ in $(seq 200); do
      grep -q $'\xe8\xa8\x88\xe7\xae\x97' "$work/service.log" 2>/dev/null && break
      sleep 0.05
    done
    stop_installed $service
    wait_reader
    folders=$(stat -c '%n %U:%G' /var/lib/vorelith/unit* 2>/dev/null)
    if [ -z "$pid" ]; then
      fail "the service's ExecStart did not start the client: $(cat "$work/fill.log" "$work/service.log")"
    elif [ "$owners" != "vorcnt " ]; then
      fail "the controller and client ran as: $owners"
    elif [ -z "$folders" ] || grep -qv ' vorcnt:vorcnt$' <<<"$folders"; then
      fail "unit folders not owned by vorcnt: $folders"
    elif ! iconv -f UTF-8 -t UTF-8 "$work/service.log" >/dev/null 2>&1 ||
      ! grep -q $'\xe8\xa8\x88\xe7\xae\x97' "$work/service.log"; then
      fail "the service's lines are not UTF-8: $(od -c "$work/service.log" | head -n 5)"
    else
      pass "installed: the fill and the service ran as vorcnt, $(wc -w <<<"$folders" | awk '{print $1 / 2}') unit folders are vorcnt's, UTF-8 lines"
    fi
  fi
  dpkg --purge vorcnt >"$work/purge.log" 2>&1 || fail "dpkg --purge: $(cat "$work/purge.log")"
  [ ! -e /var/log/vorcnt ] || fail "purge left /var/log/vorcnt"
  rm -rf /var/lib/vorelith
  [ -n "$user_was_there" ] || userdel vorcnt 2>/dev/null
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
