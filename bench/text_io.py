#!/usr/bin/python3
"""Text I/O of the command line against numpy and pandas, in one run, on the
same numbers and the same file: 5 x 10^6 numbers (VNORMAL, k = 5, n = 10^6)
written as CSV and as JSON, and read back from the CSV file the command line
wrote (mvts reads no JSON: the peers' JSON readers are timed alone).

The command line's times are of whole processes; its net time takes off
what the same process spends without the text: for writing, the same call
with its result kept in a variable (start-up and the draws); for reading, a
script that sets a variable from a literal (start-up).  Times are CPU
seconds (user + system: of the child process for mvts, of this process for
the peers), which a machine shared with other work disturbs less than
wall-clock time; each is the best of --repeat runs (numpy's savetxt and
loadtxt: one run).  The ratio is peer time / mvts net time: above 1, mvts
is faster.

  /usr/bin/python3 bench/text_io.py [--mvts build/bin/mvts] [--n 1000000] [--repeat 3]
                                   [--no-peers]   (the command line alone: two builds compared)
"""
import argparse
import json
import os
import resource
import subprocess
import sys
import tempfile

import numpy as np


def cpu_seconds():
    """CPU seconds so far of this process and of its waited-for children."""
    own = resource.getrusage(resource.RUSAGE_SELF)
    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own.ru_utime + own.ru_stime + children.ru_utime + children.ru_stime


def best(f, repeat):
    times = []
    for _ in range(repeat):
        t = cpu_seconds()
        f()
        times.append(cpu_seconds() - t)
    return min(times)


def time_peers(rows, y, csv, d, rep, w_csv, w_json, r_csv):
    """numpy, pandas and Python's json on the same numbers; reading: the file
    that mvts wrote."""
    npy = os.path.join(d, "np.csv")
    rows.append(("write CSV", "numpy savetxt %.17g",
                 best(lambda: np.savetxt(npy, y, delimiter=",", fmt="%.17g"), 1), w_csv))
    rows.append(("read CSV", "numpy loadtxt",
                 best(lambda: np.loadtxt(csv, delimiter=",", comments="#"), 1), r_csv))
    try:
        import pandas as pd
    except ImportError:
        pd = None
    if pd is not None:
        frame = pd.DataFrame(y)
        pdf = os.path.join(d, "pd.csv")
        rows.append(("write CSV", "pandas to_csv %.17g",
                     best(lambda: frame.to_csv(pdf, index=False, float_format="%.17g"), rep),
                     w_csv))
        rows.append(("write CSV", "pandas to_csv (repr)",
                     best(lambda: frame.to_csv(pdf, index=False), rep), w_csv))
        rows.append(("read CSV", "pandas read_csv (C)",
                     best(lambda: pd.read_csv(csv, comment="#", header=None), rep), r_csv))
        rows.append(("read CSV", "pandas read_csv round_trip",
                     best(lambda: pd.read_csv(csv, comment="#", header=None,
                                              float_precision="round_trip"), rep), r_csv))
        pjs = os.path.join(d, "pd.json")
        rows.append(("write JSON", "pandas to_json values",
                     best(lambda: frame.to_json(pjs, orient="values", double_precision=15),
                          rep), w_json))
        rows.append(("read JSON", "pandas read_json values",
                     best(lambda: pd.read_json(pjs, orient="values"), 1), None))
    lists = y.tolist()
    pjs = os.path.join(d, "py.json")

    def dump():
        with open(pjs, "w") as f:
            json.dump(lists, f)

    def load():
        with open(pjs) as f:
            json.load(f)
    rows.append(("write JSON", "python json.dump", best(dump, rep), w_json))
    rows.append(("read JSON", "python json.load", best(load, rep), None))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--mvts", default=os.path.join(here, "..", "build", "bin", "mvts"))
    ap.add_argument("--n", type=int, default=1000000)
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--no-peers", action="store_true", help="time the command line alone")
    a = ap.parse_args()
    n, k, rep = a.n, 5, a.repeat
    numbers = n * k
    mu = " ".join(["0"] * k)
    call = f'VNORMAL mu="{mu}" n={n} seed=1'

    def mvts(args, stdin=None, out=subprocess.DEVNULL):
        subprocess.run([a.mvts] + args, input=stdin, stdout=out, check=True)

    rows = []  # (what, peer, seconds, mvts net seconds or None)
    with tempfile.TemporaryDirectory() as d:
        csv, js = os.path.join(d, "y.csv"), os.path.join(d, "y.json")

        def to_file(path, fmt):
            with open(path, "wb") as f:
                mvts(["run", "-", "--format", fmt], f"{call}\n".encode(), f)

        kept = best(lambda: mvts(["run", "-"], f"y = {call}\n".encode()), rep)
        start = best(lambda: mvts(["run", "-"], b"let y = 1\n"), rep)
        w_csv = best(lambda: to_file(csv, "csv"), rep) - kept
        w_json = best(lambda: to_file(js, "json"), rep) - kept
        read_script = f"let y = @{csv}\n".encode()
        r_csv = best(lambda: mvts(["run", "-"], read_script), rep) - start

        # The numbers themselves, read by numpy from the file mvts wrote.
        y = np.loadtxt(csv, delimiter=",", comments="#")
        assert y.shape == (n, k)
        rows.append(("write CSV", "mvts (net)", w_csv, w_csv))
        rows.append(("write JSON", "mvts (net)", w_json, w_json))
        rows.append(("read CSV", "mvts (net)", r_csv, r_csv))

        if not a.no_peers:
            time_peers(rows, y, csv, d, rep, w_csv, w_json, r_csv)

    print(f"{numbers} numbers ({n} x {k}); CPU seconds, best of {rep} (numpy: one run); "
          f"mvts start-up {start * 1e3:.0f} ms, the call with its result kept {kept:.3f} s")
    print(f"  {'':11s}{'':28s}{'CPU s':>8s}  {'M numbers/s':>11s}  {'peer / mvts':>11s}")
    for what, who, t, ref in rows:
        ratio = "" if ref is None or who.startswith("mvts") else f"{t / ref:10.1f}x"
        print(f"  {what:11s}{who:28s}{t:8.3f}  {numbers / t / 1e6:11.1f}  {ratio:>11s}")


if __name__ == "__main__":
    sys.exit(main())
