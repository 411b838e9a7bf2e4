#!/usr/bin/env bash
# Hashes the round-trip (17-digit) outputs, messages and statuses of a fixed
# set of calls through the CLI: the reference cases of every registered
# function, a few failures, and streams that continue from call to call.
# Two builds that print the same hash give every one of these bytes alike,
# the way a change made for structure must.
#   bash scripts/output_hash.sh BUILD_DIR        prints the hash
#   bash scripts/output_hash.sh BUILD_DIR -v     prints the outputs too
set -u
build=$(realpath "${1:?usage: output_hash.sh BUILD_DIR [-v]}")
mvts="$build/bin/mvts"
export MVTS_MODULE_PATH="$build/lib"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cat > "$work/calls.mvts" <<'CALLS'
# draws: the generator, the multivariate normal, streams that continue
z = VNORMAL mu="1 2" sigma="2 0.5; 0.5 1" n=7 seed=11
print z
VNORMAL mu="0 0 0" sigma="1 0.3 0.1; 0.3 2 0.2; 0.1 0.2 3" n=5 seed=-3
VNORMAL mu="0 0 0" sigma="1 0.3 0.1; 0.3 2 0.2; 0.1 0.2 3" n=4 seed=-8
VNORMAL mu="0 0" sigma="1 1; 1 1" n=3 seed=5
y = VARMASIM phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1" n=150 seed=7
print y
VARMASIM phi="0.5 0.1; 0.1 0.4; -0.2 0; 0 0.1" sigma="2 0.3; 0.3 1" mu="1 -1" n=40 seed=3
VARMASIM phi="0.5 0.1; 0.1 0.4" n=20 initial=1 seed=-6
VARMASIM theta="0.3 0.1; 0 0.2" p= q=2 n=25 seed=9
VARMASIM phi="1.1 0; 0 0.3" n=10 seed=4
# covariances and roots
VARMACOV phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1" lag=6
VARMACOV phi="0.5 0.1 0; 0.1 0.4 0; 0 0 0.2" sigma="1 0 0; 0 2 0; 0 0 3" p=2 lag=5
VTSROOT phi="0.5 0.1; 0.1 0.4; -0.2 0; 0 0.1" theta="0.3 0; 0 0.2"
VTSROOT phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" p=3 q=2
VTSROOT phi="0.9 0 0; 0.1 0.5 0; 0 0.2 -0.7" p=4
VTSROOT phi="1 0; 0 1"
VTSROOT phi="0.5 0.1; 0.1 0.5"
VTSROOT phi="0.2 0.1; 0 0.3" p=12
VTSROOT phi="0.2 0.1; 0 0.3; 0.1 0; 0 0.1" theta="0.4 0; 0.1 0.2" p="4 8" q=3
VTSROOT phi="0.5 .; 0 0.2"
# likelihoods
VARMALIK $y phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1" method=0
VARMALIK $y phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1" method=1
VARMALIK $y phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1" method=2
VARMALIK $y phi="0.5 0.1; 0.1 0.4" method=2
VARMALIK $y theta="0.3 0; 0 0.2" q=3 method=0
VARMALIK $y phi="0.3 0.1; 0 0.2" p=4 method=0
VARMALIK $y phi="0.9 0.3; 0.3 0.9" method=0
VARMALIK $y phi="0.5 0.1; 0.1 0.4" sigma="1 2; 2 1"
VARMALIK $y phi="0.5 0.1; 0.1 0.4" sigma="1 0.3; 0.2 1"
# fits
ar, ma, s = VARMAFIT $y p=1 q=1
print ar
print ma
print s
VARMAFIT $y p=1
VARMAFIT $y q=1
# long memory
FARMACOV d=0.3 phi=0.5 theta=-0.2 sigma=2 lag=12
FARMACOV d=0.45 lag=8
FARMACOV d=-0.2 phi="0.3 -0.2" lag=10
FARMACOV d=0.1 theta=0.4 q=3 lag=6
x = FARMASIM d=0.3 phi=0.5 theta=-0.2 n=300 seed=5
print x
FARMASIM d=0.4 n=50 sigma=2 mu=3 seed=-4
FARMASIM d=-0.3 phi="0.4 0.1" n=40 initial=1 seed=2
FARMASIM d=0.2 theta=0.5 q=2 n=30 seed=13
FARMALIK $x d=0.3 phi=0.5 theta=-0.2
FARMALIK $x d=0.3 phi=0.5 theta=-0.2 opt=1
FARMALIK $x d=0.25 opt=0
d, far, fma, fs = FARMAFIT $x p=1 q=1 opt="0 0"
print d
print far
print fma
print fs
FARMAFIT $x p=1 q=1 opt="1 0"
FARMAFIT $x p=1 opt="1 0"
FARMAFIT $x opt="0 0"
FDIF $x d=0.3
FDIF "1 2 3 4 5 6" d=-0.4
UCMSIM level="1 0.1" slope="0 0.01" cycle1="0 0 12 0.9 0.2" season1="1 0.1" init1="1 -1 0.5" irregular=0.5 n=40 seed=21
# the statistics module
VTSACF $y 5
VARMAFCST $y phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1" h=4
VARMARES $y phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1"
VARMAINFO $y phi="0.5 0.1; 0.1 0.4" theta="0.3 0; 0 0.2" sigma="1 0.3; 0.3 1"
FARMAFCST $x d=0.3 phi=0.5 theta=-0.2 h=5
FARMARES $x d=0.3 phi=0.5 theta=-0.2
FARMAINFO $x d=0.3 phi=0.5 theta=-0.2
FARMAFITMEAN $x p=1 q=1
# failures: bad arguments named, no result
VNORMAL mu="0 0" sigma="1 2; 2 1" n=3 seed=1
VNORMAL mu="0 0" sigma="1 0; 0 1; 1 1" n=3 seed=1
VNORMAL mu="0 0" sigma=". 0; 0 1" n=3 seed=1
VARMASIM phi="0.5 0.1; 0.1 0.4" sigma="1 0.3; 0.2 1" n=5 seed=1
VARMASIM phi="0.5 0.1; 0.1 0.4" sigma=abc n=5 seed=1
FARMASIM d=0 n=5 seed=1
FARMASIM d=0.3 sigma=-1 n=5 seed=1
FARMACOV d=0.6 lag=3
VARMACOV phi="0.5 0.1; 0.1 0.4" sigma="1 0.3 1" lag=3
CALLS

# Run from the scratch folder so that messages name the script alike.
run() { (cd "$work" && "$mvts" run calls.mvts --format csv --keep-going 2>&1; echo "exit $?"); }
if [ "${2:-}" = "-v" ]; then run; fi
run | sha256sum | cut -d' ' -f1
