#!/usr/bin/env bash
# Builds the Debian package build/package/mvts_<version>_<arch>.deb from the
# Release tree in build/ (set up by scripts/setup.sh if there is none):
# CPack's DEB generator over the install rules, under /usr, with the Depends
# and Recommends that scripts/packages.txt gives.  Install it with
#   apt install ./build/package/mvts_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
[ -d build ] || bash scripts/setup.sh
cmake --build build -j"$(nproc)"
rm -f build/package/mvts_*.deb
mkdir -p build/package
# CPack warns that the modules have no soname: they are loaded by path, not
# linked, so they need none.  Its output is shown only when it fails.
(cd build && cpack -G DEB >package/cpack.log 2>&1) || { cat build/package/cpack.log >&2; exit 1; }
ls build/package/mvts_*.deb
