#!/usr/bin/env bash
# The real binary's first moments: the closer runs before any output, and
# -version / -help print exactly their bytes and exit 0.
# Usage: startup.sh BIN_DIR
set -uo pipefail
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/tools" "$work/run"
# A stand-in closer that says on stdout that it ran, so its place among the
# controller's (redirected, buffered) lines shows the order.
cat >"$work/tools/vorclose" <<'SH'
#!/bin/sh
echo "closer: $*"
SH
chmod +x "$work/tools/vorclose"

banners=$'Vorelith Client Controler Version 0.2\x83\xc0+6\nVorelith Client Monitor Version 0.6\x83\xbf6\n'
help=$'options:\n\t-version            show version info\n\t-help               show help info\n\t-exec PATH          Vorelith Client PATH\n\t-fill               Send result & get New work_unit\n\t-units N            Number of work_unit buffer. default=2 1<=N<=16\n\t-prog               show Vorelith Progress.\n\t-time N             Polling Time. default=120Sec 120Sec<=N<=36000Sec\n\t-execfinish COMMAND Execute command if finished run Vorelith.\n'
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
printf 'HELP\r\n' >"$work/run/vorcnt.cfg"
check help_from_file "closer: -exit -echo off"$'\n'"${banners}${help}"
check version_overrides_file "closer: -exit -echo off"$'\n'"${banners}" -version
exit $failed
