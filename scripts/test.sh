#!/usr/bin/env bash
# Runs every test: unit and end-to-end tests in the default build, the same
# suite under ASan and UBSan, and the Windows suite under Wine where possible.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_build_packages

jobs=$(nproc 2>/dev/null || echo 2)
status=0

run_suite() {  # preset
  local preset=$1
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs" --no-tests=error || status=1
}

run_suite default
if [ "${VORCNT_SKIP_ASAN:-0}" != 1 ]; then
  run_suite asan
fi

exit $status
