#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each one.
#   scripts/fuzz.sh            smoke run: a few seconds per target
#   scripts/fuzz.sh RUNS       each target for RUNS executions
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_build_packages
need_packages clang libclang-rt-14-dev

runs=${1:-}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc 2>/dev/null || echo 2)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in config cmdline state user_info; do
  mkdir -p "$work/$target" "$work/artifacts"
  cp fuzz/corpus/$target/* "$work/$target/"
  if [ -n "$runs" ]; then limit=(-runs="$runs"); else limit=(-max_total_time=10); fi
  log="$work/$target.log"
  if build-fuzz/bin/fuzz_$target "${limit[@]}" -max_len=4096 -artifact_prefix="$work/artifacts/" \
      "$work/$target" >"$log" 2>&1; then
    echo "fuzz $target: $(grep -E '^#[0-9]+.*DONE|^Done' "$log" | tail -n 2 | tr '\n' ' ')"
  else
    echo "fuzz $target: FAILED"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
