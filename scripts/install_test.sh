#!/usr/bin/env bash
# Installs a built tree and uses the install as a user would, with nothing
# of the build or source tree on any search path:
#   - into a temporary prefix: the files in their places, no run path into
#     the build tree; a ten-line C++ program built with pkg-config, then
#     (after the prefix is moved elsewhere) with find_package(mvts); bin/mvts
#     and /usr/bin/python3 (PYTHONPATH unset) call both modules; mvts study
#     finds the installed package; man -l renders the page; the bash
#     completion completes commands, functions and inputs;
#   - with --prefix /usr/local into a staging DESTDIR: the Python package
#     where Debian's interpreter looks without PYTHONPATH;
#   - the Debian package (CPack): the same files under /usr, and a declared
#     dependency for every shared library its binaries need.
# Every version reported is the project version.
#   bash scripts/install_test.sh [BUILD_DIR]     (default: build)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$src/build}" && pwd)
tmp=$(mktemp -d /tmp/mvts_install_XXXXXX)
trap 'rm -rf "$tmp"' EXIT
trap 'echo "install test: stopped by a failing command at line $LINENO" >&2' ERR
unset PYTHONPATH MVTS_MODULE_PATH LD_LIBRARY_PATH MVTS_PYTHON PKG_CONFIG_PATH
export OPENBLAS_NUM_THREADS=1 LC_ALL=C.UTF-8

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_eq() {  # WHAT GOT WANT
  [ "$2" == "$3" ] || fail "$1: got '$2', want '$3'"
}
cache() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }

version=$(cache CMAKE_PROJECT_VERSION)
libdir=$(cache CMAKE_INSTALL_LIBDIR)
python_version=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')
[ -n "$version" ] && [ -n "$libdir" ] || { echo "no configured build in $build" >&2; exit 1; }
functions=$("$build/bin/mvts" list | sed -n 's/^\([A-Z0-9]*\)(.*/\1/p')
[ "$(echo "$functions" | wc -l)" -ge 12 ] || fail "mvts list shows $(echo "$functions" | wc -l) functions"

# ---- A run of both modules, from the command line and from Python.
fit_script='y = VARMASIM phi="0.5 0.1; 0.1 0.5" n=400 seed=7
VARMAFIT $y p=1'
check_command() {  # PREFIX: bin/mvts reports the version and runs a fit
  expect_eq "$1/bin/mvts --version" "$("$1/bin/mvts" --version)" "mvts $version"
  local out
  if out=$(echo "$fit_script" | "$1/bin/mvts" run - --format csv 2>&1); then
    # the AR estimate of a VAR(1) with phi = (0.5 0.1; 0.1 0.5), n = 400
    echo "$out" | awk -F, '/^# ar$/ { getline; ok = $1 > 0.35 && $1 < 0.65 } END { exit !ok }' ||
      fail "$1/bin/mvts: unexpected fit: $out"
  else
    fail "$1/bin/mvts run failed: $out"
  fi
}
check_python() {  # SITE: the package imported from SITE alone
  local out
  out=$(cd "$tmp" && /usr/bin/python3 -I - "$1" <<'EOF' 2>&1
import site, sys
site.addsitedir(sys.argv[1])     # what the interpreter does with its own site directories
import numpy as np, mvts
for m in (mvts, mvts._core):
    assert m.__file__.startswith(sys.argv[1] + "/"), m.__file__
y = mvts.varmasim(np.array([[0.5, 0.1], [0.1, 0.5]]), n=400, seed=7)
fit = mvts.varmafit(y, p=1)      # the optimizer module, loaded by the module
assert 0.35 < fit.ar[0, 0] < 0.65, fit.ar
print(mvts.__version__)
EOF
  ) || { fail "python3 with $1: $out"; return; }
  expect_eq "mvts.__version__ from $1" "$out" "$version"
}
check_man() {  # PAGE: renders without warnings and documents every function
  local text
  text=$(MANWIDTH=80 man -l --warnings=w "$1" 2>"$tmp/man.err") || fail "man -l $1 failed"
  [ ! -s "$tmp/man.err" ] || fail "man -l $1 warns: $(cat "$tmp/man.err")"
  for f in $functions; do
    grep -q "^   $f\$" <<<"$text" || fail "the manual page has no section $f"
  done
  grep -q "mvts $version" <<<"$text" || fail "the manual page does not show version $version"
  grep -q -- "--format table|csv|json" <<<"$text" || fail "the manual page lost its hyphens"
}

# ---- Install into a temporary prefix.
p=$tmp/prefix
cmake --install "$build" --prefix "$p" >/dev/null
site=$p/lib/python$python_version/dist-packages
for f in bin/mvts "$libdir/libmvtshost.so" "$libdir/libmvtshost.so.${version%%.*}" \
         "$libdir/mvts/orvmvtsa.so" "$libdir/mvts/orvmvtst.so" "$libdir/mvts/orvnlbrg.so" include/mvts/host/host.hpp \
         include/mvts/abi/mcn_abi.h "$libdir/cmake/mvts/mvtsConfig.cmake" \
         "$libdir/cmake/mvts/mvtsConfigVersion.cmake" "$libdir/pkgconfig/mvts.pc" \
         share/man/man1/mvts.1.gz share/bash-completion/completions/mvts \
         "${site#"$p"/}/mvts/__init__.py"; do
  [ -e "$p/$f" ] || fail "not installed: $f"
done
ls "$site"/mvts/_core*.so >/dev/null 2>&1 || fail "not installed: the extension mvts._core"
for f in "$p/bin/mvts" "$p/$libdir"/libmvtshost.so.* "$p/$libdir"/mvts/*.so "$site"/mvts/_core*.so; do
  runpath=$(readelf -d "$f" | sed -n 's/.*(R\(UN\)\{0,1\}PATH).*\[\(.*\)\]/\2/p')
  [[ $runpath != *"$build"* ]] || fail "$f has a run path into the build tree: $runpath"
done

# A ten-line consumer of the installed library.
mkdir -p "$tmp/consumer"
cat >"$tmp/consumer/main.cpp" <<'EOF'
#include <cstdio>
#include <host/host.hpp>
int main() {  // simulates a VAR(1) and fits it: both modules, found by the library
  mvts::Session s;
  auto y = s.call("VARMASIM", {mvts::Value::matrix(2, 2, {0.5, 0.1, 0.1, 0.5}), {}, {}, {},
                               mvts::Value::scalar(400), {}, {}, {}, mvts::Value::scalar(7)});
  auto fit = s.call("VARMAFIT", {mvts::Value::matrix(*y.outputs.at(0)), mvts::Value::scalar(1)});
  std::printf("%s %d %d %.2f\n", mvts::version(), y.status, fit.status, fit.outputs.at(0)->at(0, 0));
  return y.status || fit.status;
}
EOF
cat >"$tmp/consumer/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.22)
project(consumer CXX)
set(CMAKE_CXX_STANDARD 17)  # the public header asks no more than C++17
find_package(mvts 1.0 REQUIRED)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE mvts::host)
EOF
check_consumer() {  # PROGRAM: prints the version, two zero statuses and a fitted coefficient
  local out
  out=$("$1" 2>&1) || { fail "$1 failed: $out"; return; }
  read -r v st1 st2 ar <<<"$out"
  expect_eq "$1: version" "$v" "$version"
  expect_eq "$1: statuses" "$st1 $st2" "0 0"
  awk -v a="$ar" 'BEGIN { exit !(a > 0.35 && a < 0.65) }' || fail "$1: unexpected fit: $out"
}
# pkg-config (its prefix is written out, so before the move)
export PKG_CONFIG_PATH=$p/$libdir/pkgconfig
expect_eq "pkg-config --modversion mvts" "$(pkg-config --modversion mvts)" "$version"
# shellcheck disable=SC2046
g++ -std=c++17 "$tmp/consumer/main.cpp" -o "$tmp/consumer/by_pkg_config" $(pkg-config --cflags --libs mvts) \
  -Wl,-rpath,"$p/$libdir" || fail "the consumer does not build with pkg-config"
check_consumer "$tmp/consumer/by_pkg_config"
unset PKG_CONFIG_PATH

# The rest from a moved prefix: nothing installed may depend on where it was
# installed.
q=$tmp/moved
mv "$p" "$q"
site=$q/lib/python$python_version/dist-packages
if cmake -S "$tmp/consumer" -B "$tmp/consumer/build" -DCMAKE_PREFIX_PATH="$q" >"$tmp/consumer.log" 2>&1 &&
   cmake --build "$tmp/consumer/build" >>"$tmp/consumer.log" 2>&1; then
  check_consumer "$tmp/consumer/build/consumer"
else
  fail "the consumer does not build with find_package(mvts): $(tail -20 "$tmp/consumer.log")"
fi
check_command "$q"
check_python "$site"
check_man "$q/share/man/man1/mvts.1.gz"

# mvts study runs the package of its own install (the interpreter replaced by
# one that shows its PYTHONPATH), and the build tree's program its own.
printf '#!/bin/sh\necho "$PYTHONPATH"\n' >"$tmp/showpath"
chmod +x "$tmp/showpath"
expect_eq "mvts study's package, installed" "$(MVTS_PYTHON=$tmp/showpath "$q/bin/mvts" study)" "$site"
expect_eq "mvts study's package, build tree" "$(MVTS_PYTHON=$tmp/showpath "$build/bin/mvts" study)" \
  "$build/python:$src/python"

# Bash completion: commands, functions in the case typed, inputs as NAME=,
# formats; nothing offered for a value.
completion() {  # WORDS...: what _mvts offers for the last word
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _mvts
           [ ${#COMPREPLY[@]} -eq 0 ] || printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "' _ \
    "$q/share/bash-completion/completions/mvts" "$@"
}
expect_eq "complete 'mvts varm'" "$(completion mvts varm)" "varmacov varmafcst varmafit varmainfo varmalik varmares varmasim "
expect_eq "complete 'mvts VARMAF'" "$(completion mvts VARMAF)" "VARMAFCST VARMAFIT "
expect_eq "complete 'mvts l'" "$(completion mvts l)" "list "
expect_eq "complete 'mvts help farmal'" "$(completion mvts help farmal)" "farmalik "
expect_eq "complete 'mvts --format j'" "$(completion mvts --format j)" "json "
expect_eq "complete 'mvts --format=c'" "$(completion mvts --format = c)" "csv "
expect_eq "complete 'mvts --format=json farmafit o'" "$(completion mvts --format = json farmafit o)" "opt= "
expect_eq "complete 'mvts varmasim phi='" "$(completion mvts varmasim phi = '')" ""
expect_eq "complete 'mvts --keep'" "$(completion mvts --keep)" "--keep-going "
# every function's inputs, as mvts list shows them
while IFS= read -r line; do
  f=${line%%(*}
  want=$(sed 's/^[^(]*(\([^)]*\)).*/\1/; s/, /\n/g' <<<"$line" | sed 's/$/=/' | sort | tr '\n' ' ')
  expect_eq "complete the inputs of $f" "$(completion mvts "$f" '')" "$want"
done < <("$build/bin/mvts" list | grep '^[A-Z0-9]*(')

# ---- --prefix /usr/local into a staging directory: the package lands in a
# directory on the path of Debian's interpreter.
DESTDIR=$tmp/stage cmake --install "$build" --prefix /usr/local >/dev/null
local_site=/usr/local/lib/python$python_version/dist-packages
[ -f "$tmp/stage$local_site/mvts/__init__.py" ] || fail "--prefix /usr/local: no package in $local_site"
/usr/bin/python3 -c 'import sys; sys.exit(sys.argv[1] not in sys.path)' "$local_site" ||
  fail "$local_site is not on /usr/bin/python3's path"
rm -rf "$tmp/stage"

# ---- The Debian package.
if cpack --config "$build/CPackConfig.cmake" -B "$tmp/deb" >"$tmp/cpack.log" 2>&1; then
  deb=$(ls "$tmp"/deb/mvts_*.deb)
  expect_eq "the package's version" "$(dpkg-deb -f "$deb" Version)" "$version"
  outside=$(dpkg-deb -c "$deb" | awk '$6 != "./" && $6 !~ /^\.\/usr\// { print $6 }')
  [ -z "$outside" ] || fail "the package has files outside /usr: $outside"
  dpkg-deb -x "$deb" "$tmp/root"
  usr_site=$tmp/root/usr/lib/python3/dist-packages
  /usr/bin/python3 -c 'import sys; sys.exit("/usr/lib/python3/dist-packages" not in sys.path)' ||
    fail "/usr/lib/python3/dist-packages is not on /usr/bin/python3's path"
  check_command "$tmp/root/usr"
  check_python "$usr_site"
  check_man "$tmp/root/usr/share/man/man1/mvts.1.gz"
  # Each library a packaged binary needs comes from the package or from a
  # declared dependency (directly, or as an alternative that one depends on:
  # libopenblas0 -> libopenblas0-pthread).
  depends=$(dpkg-deb -f "$deb" Depends | sed 's/([^)]*)//g; s/[,|]/ /g')
  allowed=" $depends "
  for d in $depends; do
    allowed+=" $(dpkg-query -W -f='${Depends} ${Pre-Depends}' "$d" 2>/dev/null | sed 's/([^)]*)//g; s/[,|]/ /g') "
  done
  find "$tmp/root" -type f \( -name '*.so*' -o -path '*/bin/*' \) | while read -r f; do
    readelf -d "$f" 2>/dev/null | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | while read -r lib; do
      [ -n "$(find "$tmp/root" -name "$lib")" ] && continue
      # (no reader here stops early: a writer killed by SIGPIPE fails the
      # pipeline under pipefail)
      path=$(ldconfig -p | awk -v l="$lib" '$1 == l && !found { print $NF; found = 1 }')
      owner=$( { dpkg -S "$(readlink -f "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null; } |
               awk -F: 'NR == 1 { print $1 }')
      [ -n "$owner" ] && [[ $allowed == *" $owner "* ]] ||
        echo "FAIL: ${f#"$tmp"/root} needs $lib (package ${owner:-unknown}), not in Depends: $depends"
    done
  done >"$tmp/needed.log"
  if [ -s "$tmp/needed.log" ]; then
    cat "$tmp/needed.log" >&2
    failures=$((failures + 1))
  fi
else
  fail "cpack failed: $(tail -20 "$tmp/cpack.log")"
fi

if [ "$failures" -ne 0 ]; then
  echo "install test: $failures failures" >&2
  exit 1
fi
echo "install test: passed (version $version, prefix install, find_package and pkg-config consumers, python, man, completion, .deb)"
