#!/usr/bin/env bash
# Runs every test:
#   1. unit and end-to-end tests in the default build;
#   2. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer;
#   3. the Windows suite: the 32-bit build under Wine, with its real cmd.exe;
#   4. a short run of each libFuzzer target.
# Installs what is missing (apt-get) first. Ends with one line
# "tests: N passed, M failed" and a non-zero status when anything failed.
#
# VORCNT_SKIP_ASAN=1, VORCNT_SKIP_WINE=1, VORCNT_SKIP_FUZZ=1 leave a stage out.
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

run_suite() {  # preset
  local preset=$1
  echo "== $preset: configure and build"
  if ! { cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; }; then
    echo "== $preset: BUILD FAILED"
    failed=$((failed + 1))
    return
  fi
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs" --no-tests=error 2>&1 | tee "$log"
  count_from ctest
}

run_suite default
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
