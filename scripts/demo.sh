#!/usr/bin/env bash
# Builds everything and runs the controller.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
need_build_packages
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc 2>/dev/null || echo 2)"
cd build/bin
./vorcnt -version
