#!/usr/bin/env bash
# Builds (if needed) and runs the whole test suite of the Release tree.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build ] || bash scripts/setup.sh
cmake --build build -j"$(nproc)"
export OPENBLAS_NUM_THREADS=1
ctest --test-dir build --output-on-failure -j"$(nproc)"
