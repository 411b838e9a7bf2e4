#!/usr/bin/python3
"""FARMAFIT against R's fracdiff on the same ARFIMA(1, d, 1) series.

The series (d = 0.3, phi = -0.5, theta = 0.3, n = 2000 and 10^4) is
simulated once by FARMASIM and written to a CSV file; then, in the same
run and one after the other, single-threaded:
  mvts     REPS fits by FARMAFIT in one script (conditional, opt = 0, and
           exact, opt = 1), CPU seconds of the process less those of the
           same script without the fits (start-up, simulation, writing);
  fracdiff REPS fits fracdiff(y, nar = 1, nma = 1) (Haslett and Raftery's
           approximate maximum likelihood), CPU seconds by system.time.
Prints one Markdown table row per case: seconds per fit and the ratio.

Usage:
  /usr/bin/python3 bench/farmafit_vs_fracdiff.py --mvts build/bin/mvts [--reps 5]
Needs Rscript with the fracdiff package (Debian: r-cran-fracdiff).
"""
import argparse
import os
import resource
import subprocess
import sys
import tempfile

os.environ["OPENBLAS_NUM_THREADS"] = "1"
os.environ["OMP_NUM_THREADS"] = "1"


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run_cpu(cmd, **kw):
    before = child_cpu()
    out = subprocess.run(cmd, check=True, capture_output=True, text=True, **kw)
    return child_cpu() - before, out.stdout


def mvts_seconds(mvts, series, opt, reps, tmp):
    lines = [f"let y = @{series.path}\n"]
    fits = [f"f{i}, a{i}, m{i}, s{i} = FARMAFIT $y p=1 q=1 opt={opt}\n" for i in range(reps)]
    script0 = os.path.join(tmp, "base.mvts")
    script1 = os.path.join(tmp, "fits.mvts")
    with open(script0, "w") as f:
        f.writelines(lines)
    with open(script1, "w") as f:
        f.writelines(lines + fits + [f"print f0\n"])
    base, _ = run_cpu([mvts, "run", script0])
    total, out = run_cpu([mvts, "run", script1, "--format", "csv"])
    return max(total - base, 0.0) / reps, out


class Series:
    def __init__(self, path, n):
        self.path, self.n = path, n

    def __len__(self):
        return self.n


def fracdiff_seconds(series, reps):
    code = (
        "suppressMessages(library(fracdiff));"
        f"y <- scan('{series.path}', quiet = TRUE);"
        "f <- fracdiff(y, nar = 1, nma = 1);"
        f"t <- system.time(for (i in 1:{reps}) f <- fracdiff(y, nar = 1, nma = 1));"
        f"cat(t[['user.self']] + t[['sys.self']], f$d, '\\n')"
    )
    _, out = run_cpu(["Rscript", "-e", code])
    sec, d = out.split()
    return float(sec) / reps, float(d)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mvts", default="build/bin/mvts")
    ap.add_argument("--reps", type=int, default=5)
    args = ap.parse_args()
    print("| n | FARMAFIT conditional s | FARMAFIT exact s | fracdiff s | conditional / fracdiff | exact / fracdiff |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as tmp:
        for n in (2000, 10000):
            path = os.path.join(tmp, f"y{n}.csv")
            subprocess.run([args.mvts, "run", "-"], check=True, capture_output=True, text=True,
                           input=f"y = FARMASIM d=0.3 phi=-0.5 theta=0.3 n={n} seed=7\n"
                                 f"write y {path}\n")
            s = Series(path, n)
            css, _ = mvts_seconds(args.mvts, s, 0, args.reps, tmp)
            exact, _ = mvts_seconds(args.mvts, s, 1, max(1, args.reps // 5), tmp)
            fd, _ = fracdiff_seconds(s, args.reps)
            print(f"| {n} | {css:.4f} | {exact:.3f} | {fd:.4f} | {css / fd:.2f} | {exact / fd:.1f} |")
            sys.stdout.flush()


if __name__ == "__main__":
    main()
