#!/usr/bin/env bash
# Installs every package the build, tests and benchmarks need (Debian 12,
# as root), then configures and builds the Release tree in build/.
#   --peers  also installs the independent peers the benchmarks and the
#            reference-table generator time and compare against
#            (statsmodels, scipy, R with fracdiff); the tests do not need them.
set -euo pipefail
cd "$(dirname "$0")/.."
# The list is scripts/packages.txt (NAME ROLE[,ROLE...]), which also gives
# the Debian package's dependencies.
PACKAGES=$(awk -v peers="${1:-}" '
  /^[ \t]*(#|$)/ { next }
  $2 != "peers" || peers == "--peers" { print $1 }' scripts/packages.txt)
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
