#!/usr/bin/python3
"""Text I/O of the command line against numpy and pandas on the same data,
in one run: writing 5 x 10^6 numbers (VNORMAL, k = 5, n = 10^6) as CSV and as
JSON, and reading them back (a script that reads the file and prints its
column means).  Each time is the best of three; the command line's times
include its start-up (a few ms).

  /usr/bin/python3 bench/text_io.py [--mvts build/bin/mvts] [--n 1000000]
"""
import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np


def best(f, repeat=3):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        f()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mvts", default=os.path.join(os.path.dirname(__file__), "..", "build", "bin", "mvts"))
    ap.add_argument("--n", type=int, default=1000000)
    a = ap.parse_args()
    n, k = a.n, 5
    numbers = n * k
    with tempfile.TemporaryDirectory() as d:
        csv = os.path.join(d, "y.csv")
        call = [a.mvts, "vnormal", f"mu={' '.join(['0'] * k)}", f"n={n}", "seed=1"]

        def run(args, out=subprocess.DEVNULL):
            subprocess.run(args, stdout=out, check=True)

        def write_csv():
            with open(csv, "w") as f:
                run(call + ["--format", "csv"], f)
        rows = {}
        rows["mvts write CSV"] = best(write_csv)
        rows["mvts write JSON"] = best(lambda: run(call + ["--format", "json"]))
        y = np.loadtxt(csv, delimiter=",", comments="#")
        script = os.path.join(d, "read.mvts")
        with open(script, "w") as f:
            f.write(f"let y = @{csv}\nstats y\n")
        rows["mvts read CSV"] = best(lambda: run([a.mvts, "run", script]))
        npy = os.path.join(d, "np.csv")
        rows["numpy savetxt"] = best(lambda: np.savetxt(npy, y, delimiter=",", fmt="%.17g"), 1)
        rows["numpy loadtxt"] = best(lambda: np.loadtxt(npy, delimiter=","), 1)
        try:
            import pandas as pd
            frame = pd.DataFrame(y)
            pdf = os.path.join(d, "pd.csv")
            rows["pandas to_csv"] = best(lambda: frame.to_csv(pdf, index=False, float_format="%.17g"))
            rows["pandas read_csv"] = best(lambda: pd.read_csv(pdf))
        except ImportError:
            pass
    print(f"{numbers} numbers ({n} x {k}); best of three (numpy: one run)")
    for name, t in rows.items():
        print(f"  {name:18s} {t:7.3f} s   {numbers / t / 1e6:6.1f} M numbers/s")


if __name__ == "__main__":
    sys.exit(main())
