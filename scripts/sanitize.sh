#!/usr/bin/env bash
# Builds the tests in Debug with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs them: the C++ tests, and the Python package's tests on the
# sanitized extension (the interpreter runs with the sanitizer's runtime
# preloaded, without leak reports for its own allocations; see
# CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DMVTS_SANITIZE=ON -DMVTS_BENCH=OFF >/dev/null
cmake --build build-asan -j"$(nproc)"
export OPENBLAS_NUM_THREADS=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j"$(nproc)"
