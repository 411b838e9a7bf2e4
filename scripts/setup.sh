#!/usr/bin/env bash
# Installs every package the build, tests and benchmarks need (Debian 12,
# as root), then configures and builds the Release tree in build/.
#   --peers  also installs the independent peers the benchmarks and the
#            reference-table generator time and compare against
#            (statsmodels, scipy, R with fracdiff); the tests do not need them.
set -euo pipefail
cd "$(dirname "$0")/.."
PACKAGES="g++ libtsan2 cmake make libopenblas-dev liblapack-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
  python3-dev pybind11-dev python3-pybind11 python3-numpy python3-matplotlib python3-pytest python3-pandas
  python3-distributed python3-tqdm python3-psutil
  clang libfuzzer-14-dev libclang-rt-14-dev libfftw3-dev"
if [ "${1:-}" = "--peers" ]; then
  PACKAGES="$PACKAGES python3-scipy python3-statsmodels r-base-core r-cran-fracdiff"
fi
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq $missing
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
