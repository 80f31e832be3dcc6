#!/bin/sh
# Runs the real vorstat binary over a scratch buffer: its --json output must
# satisfy python3's JSON parser, bad usage must exit 2, and the table run must
# succeed, also for a reader that stops early or a folder closed to the user.
# Exit 77 (skipped) when python3 is missing.
set -u
vorstat=$1
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir" "$dir.table" "$dir.json" "$dir.err" "$dir.rc" "$dir.big"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$dir/unit0" "$dir/unit1" "$dir/unit2"
: >"$dir/version.vwu"
echo data >"$dir/work_unit.vwu"
printf 'cpu=5400\nprog=0.375\n' >"$dir/state.vwu"
# A user name in code page 932 (two kanji), with a quote, a backslash and a tab.
printf 'id=7\nname=\223\372\226\173 "q" \\ \t.\n' >"$dir/user_info.vwu"
: >"$dir/unit0/version.vwu"
echo data0 >"$dir/unit0/work_unit.vwu"
: >"$dir/unit1/version.vwu"
printf 'prog=1\n' >"$dir/unit1/state.vwu"
echo r >"$dir/unit1/result.vwu"

"$vorstat" "$dir" >"$dir.table" 2>&1 || fail "table run exited $?"
grep -q '^client  1 Data_Calculation  *37.50%' "$dir.table" || fail "no client row in: $(cat "$dir.table")"
# A Japanese user reads the table and the refusals in Japanese (in UTF-8, as
# a terminal gets them), and the folder's name as it is.
ja() { env -u LANGUAGE LC_ALL=ja_JP.UTF-8 VORCNT_ENCODING=UTF-8 "$vorstat" "$@"; }
ja "$dir" >"$dir.table" 2>&1 || fail "a Japanese table run exited $?"
grep -q '^unit0  *5 Data_Calculation_wait .*  計算待ち$' "$dir.table" || fail "no Japanese row in: $(cat "$dir.table")"
ja "$dir/無い" 2>"$dir.err"
[ "$(cat "$dir.err")" = "vorstat: '$dir/無い/' にクライアントのフォルダがありません" ] || fail "a Japanese refusal: $(cat "$dir.err")"

# A reader that closes the pipe early has what it wanted: the report's status,
# nothing on stderr. The report (its damaged list) is far larger than a pipe
# holds. (dash has no pipefail: the status is taken inside the pipeline.)
mkdir -p "$dir.big/unit0" "$dir.big/damaged" "$dir.big/closed/unit0"
seq 1000 | sed "s|^|$dir.big/damaged/$(printf '%0200d' 0)|" | xargs touch
{ "$vorstat" "$dir.big" 2>"$dir.err"; echo $? >"$dir.rc"; } | head -c1 >/dev/null
[ "$(cat "$dir.rc")" = 0 ] && [ ! -s "$dir.err" ] ||
  fail "a reader that stopped early: status $(cat "$dir.rc"), $(cat "$dir.err")"
# Any other failure to write is said, and fails the run.
"$vorstat" "$dir.big" >/dev/full 2>"$dir.err"
[ $? -eq 1 ] && [ "$(cat "$dir.err")" = "vorstat: standard output cannot be written (No space left on device)" ] ||
  fail "a full disk: $(cat "$dir.err")"

# A folder closed to the user, as the package's 0750 /var/lib/vorelith is to
# all but its owner: one line, status 1. Root reads any folder, so the row
# runs as nobody then; as anyone else, on a folder closed to its owner.
chmod 755 "$dir.big" && chmod 750 "$dir.big/closed"
as_other=env
[ "$(id -u)" -ne 0 ] && chmod 0 "$dir.big/closed" || as_other="setpriv --reuid=nobody --regid=nogroup --clear-groups"
if ! $as_other true 2>/dev/null; then
  echo "setpriv cannot run as nobody here: the closed-folder row is skipped"
else
  $as_other "$vorstat" "$dir.big/closed" >"$dir.table" 2>"$dir.err"
  status=$?
  chmod 750 "$dir.big/closed"
  [ $status -eq 1 ] && [ ! -s "$dir.table" ] && [ "$(cat "$dir.err")" = \
    "vorstat: cannot read the client folder '$dir.big/closed/': it cannot be listed (Permission denied)" ] ||
    fail "a closed folder: status $status, $(cat "$dir.err")"
fi

"$vorstat" --bogus >/dev/null 2>&1
[ $? -eq 2 ] || fail "--bogus did not exit 2"
# A link at the metrics file, to nothing: refused, and nothing made where it points.
ln -s "$dir/nowhere" "$dir/m.prom"
"$vorstat" --prometheus "$dir/m.prom" "$dir" >/dev/null 2>&1 && fail "the metrics file was written through a link"
[ "$(readlink "$dir/m.prom")" = "$dir/nowhere" ] && [ ! -e "$dir/nowhere" ] || fail "a link at the metrics file was followed"

if ! command -v python3 >/dev/null 2>&1; then
  echo "python3 not found: the JSON check by an outside parser is skipped"
  exit 77
fi
"$vorstat" --json "$dir" >"$dir.json" || fail "--json exited $?"
python3 - "$dir.json" <<'PY' || fail "python3 rejected the JSON: $(cat "$dir.json")"
import json, sys
with open(sys.argv[1], "rb") as f:
    doc = json.loads(f.read().decode("utf-8"))
assert doc["client"]["state"] == 1 and doc["client"]["progress"] == 37.5, doc["client"]
assert [u["state"] for u in doc["units"]] == [5, 2, 0], doc["units"]
assert doc["client"]["name"] == '\u65e5\u672c "q" \\ \t.', repr(doc["client"]["name"])
PY
echo "vorstat cli: ok"
