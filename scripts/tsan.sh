#!/usr/bin/env bash
# Builds the sessions test, the host library and the two modules with
# ThreadSanitizer in build-tsan/ and runs that test: several sessions used
# from several threads at once must share no state.  Only these few targets
# are built, so that the check costs a few minutes of CI.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DMVTS_SANITIZE_THREAD=ON -DMVTS_BENCH=OFF \
  >/dev/null
cmake --build build-tsan --target test_sessions -j"$(nproc)"
export OPENBLAS_NUM_THREADS=1
export MVTS_MODULE_PATH="$PWD/build-tsan/lib"
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1"
build-tsan/bin/test_sessions
