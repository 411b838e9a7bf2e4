#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer in build-fuzz/, then runs each target for the
# given number of seconds (default 60) over its corpus in tests/fuzz/corpus.
# New inputs go to build-fuzz/corpus/<target>; a finding (a crash, a
# sanitizer report, a failed property, an input running past the time limit)
# is written to build-fuzz/ and ends the run with a non-zero status.  The
# session target runs each call under a budget of MVTS_FUZZ_BUDGET_MS
# (1000 ms): a call past it is cancelled, its input kept in
# build-fuzz/slow/session and counted at the end; a cancelled call that does
# not end soon after is a finding.
# FUZZ_FLAGS adds libFuzzer flags (e.g. "-seed=1 -runs=100000").
#
#   scripts/fuzz.sh [SECONDS] [TARGET ...]      TARGET: script, session
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(script session)

CC="${CC_FUZZ:-clang}"
CXX="${CXX_FUZZ:-clang++}"
# -O1 with line tables: quick to build, fast enough to fuzz, and every
# report names its source lines.  Assertions stay on.
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DCMAKE_C_COMPILER="$CC" \
  -DCMAKE_CXX_COMPILER="$CXX" -DMVTS_FUZZ=ON -DMVTS_SANITIZE=ON -DMVTS_TESTS=OFF \
  -DMVTS_BENCH=OFF -DMVTS_PYTHON=OFF >/dev/null
build=()
for t in "${targets[@]}"; do build+=("fuzz_$t"); done
cmake --build build-fuzz --target "${build[@]}" -j"$(nproc)"

export OPENBLAS_NUM_THREADS=1
export MVTS_MODULE_PATH="$PWD/build-fuzz/lib"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/slow/$t"
  export MVTS_FUZZ_SLOW_DIR="$PWD/build-fuzz/slow/$t"
  echo "fuzz_$t: ${seconds} s"
  # The time limit of one input is wide: a sanitized fit takes a few seconds
  # of processor time, and the machine may be shared.
  build-fuzz/bin/fuzz_"$t" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=2048 \
    -max_len=4096 -artifact_prefix="build-fuzz/" -print_final_stats=1 ${FUZZ_FLAGS:-} \
    "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t"
done
for t in "${targets[@]}"; do
  slow=$(find "build-fuzz/slow/$t" -type f | wc -l)
  echo "fuzz_$t: $slow inputs ran past the budget and were cancelled (build-fuzz/slow/$t)"
done
