#!/usr/bin/env bash
# Runs every test:
#   1. unit and end-to-end tests in the default build;
#   2. when run as root, the same tests once more as a user who is not root
#      (uid 65534): the cases that need root say so and are skipped;
#   3. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#   4. the Windows suite: the 32-bit build under Wine, with its real cmd.exe;
#   5. a short run of each libFuzzer target.
# Installs what is missing (apt-get) first. Ends with one line
# "tests: N passed, M failed" and a non-zero status when anything failed.
#
# VORCNT_SKIP_PLAIN=1, VORCNT_SKIP_ASAN=1, VORCNT_SKIP_WINE=1, VORCNT_SKIP_FUZZ=1
# leave a stage out.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_build_packages || { echo "tests: 0 passed, 1 failed (cannot install the build tools)"; exit 1; }
need_packages python3 || echo "tests: python3 missing; the include-graph check and the start-up model will be skipped"
# The power-cut test mounts ext4 images and freezes the controller with
# strace; without them it reports SKIPPED.
need_packages xxhash || echo "tests: xxhash missing; the journal case cannot check identities"
need_packages strace e2fsprogs mount || echo "tests: strace or e2fsprogs missing; the power-cut test will be skipped"
need_check_packages || echo "deps: the packaging check will skip what it cannot run"

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Adds the counts of a ctest or wine summary in $log to the totals; a stage
# that printed no summary counts as one failure.
count_from() {  # pattern-kind
  local p f line
  case $1 in
    ctest)
      line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
      if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
      f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
      p=$(( $(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line") - f ))
      ;;
    wine)
      line=$(grep -E '^wine: [0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
      if [ -z "$line" ]; then
        grep -q 'SKIPPED' "$log" && return
        failed=$((failed + 1)); return
      fi
      p=$(sed -E 's/^wine: ([0-9]+) passed.*/\1/' <<<"$line")
      f=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
      ;;
  esac
  passed=$((passed + p))
  failed=$((failed + f))
}

run_suite() {  # preset: false when it could not be built
  local preset=$1
  echo "== $preset: configure and build"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    echo "== $preset: BUILD FAILED"
    failed=$((failed + 1))
    return 1
  fi
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs" --no-tests=error 2>&1 | tee "$log"
  count_from ctest
}

# The default build's tests once more as a user who is not root. Root reads
# files that are not readable, writes folders others own and signals others'
# processes, which hides what the controller meets as a plain user. The user
# needs only to read the repository: its scratch folders are its own, and
# ctest keeps its records in one of them. Folders above the repository that
# it may not pass (a clone in /root) get an ACL entry for it alone, taken
# away again at the end.
run_as_plain_user() {
  local uid=65534 d part parts granted=() home ctdir
  local plain=(setpriv --reuid="$uid" --regid="$uid" --clear-groups)
  echo "== default, as a plain user (uid $uid)"
  if ! command -v setpriv >/dev/null || ! "${plain[@]}" true 2>/dev/null; then
    echo "== plain user: setpriv cannot change to uid $uid here"
    failed=$((failed + 1))
    return
  fi
  d=
  IFS=/ read -ra parts <<<"${PWD#/}"
  for part in "${parts[@]}"; do
    d=$d/$part
    "${plain[@]}" test -x "$d" && continue
    { command -v setfacl >/dev/null || need_packages acl; } || break
    # A folder with no ACL of its own gets none back; another loses our entry.
    if [ -z "$(getfacl -s -p "$d" 2>/dev/null)" ]; then part=-b; else part=-x; fi
    setfacl -m "u:$uid:x" "$d" && granted+=("$part:$d")
  done
  if "${plain[@]}" test -r build/bin/vorcnt_tests -a -r tests/e2e/run_e2e.sh; then
    # Under /tmp, which every user may reach, whatever TMPDIR says here.
    home=$(mktemp -d /tmp/vorcnt-plain.XXXXXX)
    ctdir=$(mktemp -d /tmp/vorcnt-plain-ctest.XXXXXX)
    echo "subdirs(\"$PWD/build\")" >"$ctdir/CTestTestfile.cmake"
    chown -R "$uid:$uid" "$home" "$ctdir"
    "${plain[@]}" env HOME="$home" TMPDIR="$home" ctest --test-dir "$ctdir" -j "$jobs" --no-tests=error \
      --output-on-failure 2>&1 | tee "$log"
    count_from ctest
    rm -rf "$home" "$ctdir"
  else
    echo "== plain user: uid $uid cannot read $PWD/build"
    failed=$((failed + 1))
  fi
  for d in "${granted[@]}"; do
    if [ "${d%%:*}" = -b ]; then setfacl -b "${d#*:}"; else setfacl -x "u:$uid" "${d#*:}"; fi
  done
}

if run_suite default && [ "$(id -u)" -eq 0 ] && [ "${VORCNT_SKIP_PLAIN:-0}" != 1 ]; then
  run_as_plain_user
fi
[ "${VORCNT_SKIP_ASAN:-0}" = 1 ] || run_suite asan

if [ "${VORCNT_SKIP_WINE:-0}" != 1 ]; then
  echo "== wine"
  scripts/wine.sh 2>&1 | tee "$log"
  count_from wine
fi

if [ "${VORCNT_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== fuzz (smoke)"
  if scripts/fuzz.sh 2>&1 | tee "$log"; then
    passed=$((passed + $(grep -c '^fuzz .*: ' "$log")))
  else
    failed=$((failed + 1))
  fi
fi

echo "tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
