#!/usr/bin/env bash
# The lines the program adds, in the user's language. First the catalogue:
# every marked text of the sources has a Japanese translation that code page
# 932 can hold. Then the real binary, once in English and once in Japanese
# per situation: the client's own lines keep their bytes, each added line
# changes, and the log holds the same Japanese as UTF-8.
# Usage: language.sh BIN_DIR SOURCE_DIR
set -uo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TMPDIR=$work ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
failed=0
fail() { echo "FAIL $*"; failed=1; }

# --- the catalogue ---------------------------------------------------------
# It needs the sources as a git checkout (their files) and the tools to read
# them; the programs' part below runs without.
if ! command -v python3 >/dev/null || ! command -v xgettext >/dev/null || ! (cd "$src" && git ls-files >/dev/null 2>&1); then
  echo "SKIPPED: the catalogue check (needs python3, xgettext and a git checkout of the sources)"
elif ! "$src/scripts/update_po.sh" --pot-to "$work/fresh.pot"; then
  fail "catalogue: xgettext failed"
else
python3 - "$work/fresh.pot" "$src/po/vorcnt.pot" "$src/po/ja.po" <<'PY' || failed=1
import re, sys

def entries(path):
    text = open(path, encoding="utf-8").read()
    out = {}
    for block in text.split("\n\n"):
        lines = [l for l in block.splitlines() if not l.startswith("#~")]
        fuzzy = any(l.startswith("#,") and "fuzzy" in l for l in lines)
        body = "\n".join(l for l in lines if not l.startswith("#"))
        m = re.match(r'msgid ((?:".*"\n?)+)msgstr ((?:".*"\n?)+)', body)
        if not m:
            continue
        join = lambda s: "".join(re.findall(r'"((?:[^"\\]|\\.)*)"', s))
        if join(m.group(1)):
            out[join(m.group(1))] = (join(m.group(2)), fuzzy)
    return out

fresh, pot, ja = (entries(p) for p in sys.argv[1:4])
bad = False
def say(what, ids):
    global bad
    for i in sorted(ids)[:5]:
        print(f"FAIL catalogue: {what}: {i[:70]!r}")
    bad = bad or bool(ids)
say("po/vorcnt.pot is behind the sources (run scripts/update_po.sh)", set(fresh) ^ set(pot))
untranslated = set(fresh) - set(ja)
for english, (text, fuzzy) in ja.items():
    if english not in fresh:
        continue
    # A layout with no words (a row's columns, key=value fields) needs no
    # Japanese, only its own widths.
    words = re.sub(r"\w+=|%[-0-9.*]*[a-z]|\\[nt]", "", english)
    if fuzzy or (re.search(r"[A-Za-z]", words) and not re.search(r"[\u3040-\u30ff\u4e00-\u9fff]", text)):
        untranslated.add(english)
        continue
    try:
        text.encode("cp932")
    except UnicodeEncodeError as e:
        say(f"a character code page 932 lacks ({text[e.start]!r})", [english])
    if english.endswith("\\n") != text.endswith("\\n"):
        say("the line end differs from the English", [english])
say(f"{len(untranslated)} texts with no Japanese in po/ja.po", untranslated)
sys.exit(1 if bad else 0)
PY
fi

# --- the program, in each language -------------------------------------------
mkdir -p "$work/tools"
printf '#!/bin/sh\nexit 0\n' >"$work/tools/vorclose"
chmod +x "$work/tools/vorclose"

run() {  # out file, environment assignments... -- args...
  local out=$1 dir
  shift
  dir=$(mktemp -d "$work/run.XXXX")
  local envs=()
  while [ "$1" != "--" ]; do envs+=("$1"); shift; done
  shift
  [ -n "${cfg:-}" ] && printf '%s\n' "$cfg" >"$dir/vorcnt.cfg"
  (cd "$dir" && env -u LANGUAGE -u LC_ALL -u LC_MESSAGES -u LANG PATH="$work/tools:$PATH" "${envs[@]}" \
    timeout 20 "$bin/vorcnt" "$@" >"$out" 2>/dev/null)
  [ -f "$dir/log.txt" ] && cp "$dir/log.txt" "$out.log"
}

is_japanese() { iconv -f CP932 -t UTF-8 <<<"$1" 2>/dev/null | LC_ALL=C.UTF-8 grep -qP '[\x{3040}-\x{30ff}\x{4e00}-\x{9fff}]'; }

# situation | cfg | args | a client line that must keep its bytes | an added line (English, grep -F)
while IFS='|' read -r name cfg args kept added; do
  # shellcheck disable=SC2086
  run "$work/$name.en" LANG=C -- $args
  # shellcheck disable=SC2086
  run "$work/$name.ja" LANG=ja_JP.UTF-8 -- $args
  grep -qaF -- "$kept" "$work/$name.ja" || fail "$name: the client's line '$kept' changed in Japanese"
  grep -qaF -- "$added" "$work/$name.en" || fail "$name: English run lacks '$added'"
  grep -qaF -- "$added" "$work/$name.ja" && fail "$name: '$added' stayed English in Japanese"
  mapfile -t en <"$work/$name.en"
  mapfile -t ja <"$work/$name.ja"
  [ "${#en[@]}" -eq "${#ja[@]}" ] || fail "$name: ${#en[@]} English lines but ${#ja[@]} Japanese"
  for i in "${!en[@]}"; do
    [ "${en[$i]}" = "${ja[$i]:-}" ] || is_japanese "${ja[$i]:-}" ||
      fail "$name: line $((i + 1)) is neither the client's nor Japanese: ${ja[$i]:-}"
  done
done <<'TABLE'
help||-help|-units N            Number of work_unit buffer|-connect FROM-TO    Connect only
blank|EXEC = /tmp/a b/||bad arg: path holds a blank|holds a blank: give a path
connect|CONNECT = 25:00-99|-log log.txt|Vorelith Client Monitor Version|connect window ignored
stall|STALL = soon|-units 0|bad arg: -units|stall watch ignored
TABLE

# The log follows the console, as UTF-8.
if [ -f "$work/connect.ja.log" ]; then
  iconv -f UTF-8 -t UTF-8 "$work/connect.ja.log" >/dev/null 2>&1 || fail "log: not UTF-8"
  LC_ALL=C.UTF-8 grep -qP '[\x{3040}-\x{30ff}\x{4e00}-\x{9fff}]' "$work/connect.ja.log" || fail "log: no Japanese"
else
  fail "log: none written"
fi
# LC_ALL outranks LANG, as everywhere; a locale that names another language
# stays English.
for env in "LC_ALL=C LANG=ja_JP.UTF-8" "LANG=de_DE.UTF-8" "LC_MESSAGES=ja_JP.UTF-8 LANG=C"; do
  # shellcheck disable=SC2086
  run "$work/which" $env -- -exec "/tmp/a b/"
  case "$env" in
    LC_MESSAGES=ja*) ! grep -qaF "give a path" "$work/which" || fail "'$env' is not Japanese" ;;
    *) grep -qaF "give a path" "$work/which" || fail "'$env' is not English" ;;
  esac
done

[ "$failed" -eq 0 ] && echo "language: all passed"
exit "$failed"
