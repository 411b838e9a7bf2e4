"""Times mvts.select_order over the ARFIMA orders p, q <= 2 (nine fits) at
n = 2000, serially and on a two-worker local cluster, beside statsmodels'
arma_order_select_ic over the same grid of ARMA orders (the nearest peer:
it fits ARMA(p, q) with a constant, no fractional d) in the same run.

    PYTHONPATH=build/python:python OPENBLAS_NUM_THREADS=1 \\
        /usr/bin/python3 bench/select_order.py [--n 2000] [--repeat 3] [--method exact]

Reported: wall and CPU seconds (this process; plus the workers' for the
cluster) with medians over the repeats, the ratios, and whether the
cluster's table equals the serial one bit for bit.  The cluster's start-up
is timed apart.  The series: ARFIMA(1, 0.3, 1), phi = 0.5, theta = 0.3.
"""

import argparse
import os
import resource
import statistics
import time
import warnings

import mvts
from mvts import _parallel


def cpu_seconds():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def timed(fn, repeat, client=None):
    """Medians of wall seconds, this process's CPU seconds, the workers' CPU
    seconds and the busiest worker's over `repeat` runs of fn(), and the
    last result."""
    def workers():
        return client.run(cpu_seconds) if client else {}
    walls, mine, theirs, busiest = [], [], [], []
    for _ in range(repeat):
        before = workers()
        c, t = cpu_seconds(), time.perf_counter()
        result = fn()
        walls.append(time.perf_counter() - t)
        mine.append(cpu_seconds() - c)
        used = [v - before.get(k, 0.0) for k, v in workers().items()]
        theirs.append(sum(used))
        busiest.append(max(used, default=0.0))
    return (statistics.median(walls), statistics.median(mine), statistics.median(theirs),
            statistics.median(busiest), result)


def same_table(a, b):
    a, b = a.drop(columns="time"), b.drop(columns="time")
    return a.equals(b)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--n", type=int, default=2000)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--method", default="exact", choices=["exact", "conditional"])
    args = parser.parse_args()
    y = mvts.Session().farmasim(0.3, [0.5], [0.3], n=args.n, seed=7)
    print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores; "
          f"select_order('arfima', 2, 2, method={args.method!r}), n = {args.n}")

    def ours(client=None):
        return mvts.select_order(y, "arfima", 2, 2, method=args.method, client=client,
                                 progress=False)

    wall_s, cpu_s, _, _, serial = timed(ours, args.repeat)
    print(f"mvts serial            wall {wall_s:7.2f} s   CPU {cpu_s:7.2f} s   "
          f"chosen {serial.order}")
    fits = serial.table["time"]
    print("  seconds per fit: " + ", ".join(f"{p}{q}: {t:.2f}" for (p, q), t in fits.items()))

    t = time.perf_counter()
    with _parallel.connect("local", workers=2) as client:
        client.wait_for_workers(2)
        startup = time.perf_counter() - t
        ours(client)  # the workers import mvts once
        wall_c, cpu_c, cpu_w, cpu_b, spread = timed(lambda: ours(client), args.repeat, client)
    print(f"mvts 2 workers         wall {wall_c:7.2f} s   CPU {cpu_c:.2f} s here + {cpu_w:.2f} s "
          f"in the workers   start-up {startup:.1f} s (apart)")
    # On two idle cores the run would take the busiest worker's CPU time,
    # and at least half of all of it.
    ideal = max(cpu_b, (cpu_c + cpu_w) / 2)
    print(f"  speed-up measured {wall_s / wall_c:.2f}x; from CPU times, for two idle cores "
          f"{cpu_s / ideal:.2f}x (busiest worker {cpu_b:.2f} s); tables identical: "
          f"{same_table(serial.table, spread.table)}")

    try:
        from statsmodels.tsa.stattools import arma_order_select_ic
    except ImportError:
        print("statsmodels is not installed: no peer timed")
        return

    def peer():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            return arma_order_select_ic(y, max_ar=2, max_ma=2, ic="bic", trend="c")

    wall_p, cpu_p, _, _, found = timed(peer, args.repeat)
    print(f"statsmodels arma_order_select_ic (ARMA, no d) wall {wall_p:7.2f} s   "
          f"CPU {cpu_p:7.2f} s   chosen {found.bic_min_order}")
    print(f"  ratio statsmodels / mvts: serial {wall_p / wall_s:.2f}x, 2 workers "
          f"{wall_p / wall_c:.2f}x (wall time)")


if __name__ == "__main__":
    main()
