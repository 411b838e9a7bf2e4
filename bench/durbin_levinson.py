#!/usr/bin/python3
"""The exact ARFIMA likelihood beside its numpy peer, in one run.

For each n: the autocovariances gamma(0..n-1) of ARFIMA(1, 0.3, 1) with
phi = 0.5, theta = -0.4 (from FARMACOV) and the series of the same model
(FARMASIM, seed 17), both through the command line, so that numpy gets the
very numbers that bench_farma's BM_ToeplitzLoglik and BM_FarmalikExact use.
numpy runs the Durbin-Levinson recursion written the usual way (one
vectorised inner product and one vectorised update per step); the script
then runs those two benchmarks and prints wall and CPU times and the ratio.
With --growth it also runs BM_FarmalikExact from n = 500 to 1e5 and prints
the growth exponent between consecutive sizes and the peak memory.

Run with Debian's interpreter, which has numpy, after building bench_farma:
    /usr/bin/python3 bench/durbin_levinson.py [--build build] [--growth]
"""
import argparse
import json
import math
import os
import subprocess
import time

import numpy as np


def mvts(build, *args):
    env = dict(os.environ, MVTS_MODULE_PATH=os.path.join(build, "lib"), OPENBLAS_NUM_THREADS="1")
    out = subprocess.run([os.path.join(build, "bin", "mvts"), *args, "--format", "json"],
                         capture_output=True, text=True, env=env, check=True)
    result = json.loads(out.stdout)
    if result["status"] != 0:
        raise RuntimeError(f"{args[0]} failed: {result}")
    return np.array([row[0] for row in result["outputs"][0]["data"]])


def numpy_loglik(g, y):
    """ln det Sigma and y' Sigma^-1 y by the Durbin-Levinson recursion."""
    n = len(g)
    phi = np.zeros(n)
    v = g[0]
    logdet = math.log(v)
    quad = y[0] * y[0] / v
    for t in range(1, n):
        k = (g[t] - phi[:t - 1] @ g[t - 1:0:-1]) / v
        if t > 1:
            phi[:t - 1] -= k * phi[t - 2::-1]
        phi[t - 1] = k
        v *= (1.0 - k) * (1.0 + k)
        e = y[t] - phi[:t] @ y[t - 1::-1]
        logdet += math.log(v)
        quad += e * e / v
    return logdet, quad


def best_time(fn, reps):
    wall, cpu = math.inf, math.inf
    for _ in range(reps):
        w0, c0 = time.perf_counter(), time.process_time()
        value = fn()
        wall = min(wall, time.perf_counter() - w0)
        cpu = min(cpu, time.process_time() - c0)
    return value, wall, cpu


def run_bench(build, pattern, repetitions=1):
    env = dict(os.environ, MVTS_MODULE_PATH=os.path.join(build, "lib"), OPENBLAS_NUM_THREADS="1")
    out = subprocess.run([os.path.join(build, "bin", "bench_farma"),
                          f"--benchmark_filter={pattern}", "--benchmark_format=json",
                          f"--benchmark_repetitions={repetitions}"],
                         capture_output=True, text=True, env=env, check=True)
    found = {}
    for b in json.loads(out.stdout)["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "min":
            continue
        name = b.get("run_name", b["name"]).removesuffix("/real_time")
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b.get("time_unit", "ns")]
        wall, cpu = b["real_time"] * scale, b["cpu_time"] * scale
        old = found.get(name)
        if old is None or wall < old["wall"]:
            found[name] = dict(b, wall=wall, cpu=cpu)
    return found


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default="build")
    ap.add_argument("--n", type=int, nargs="*", default=[2000, 10000])
    ap.add_argument("--reps", type=int, default=5)
    ap.add_argument("--growth", action="store_true")
    a = ap.parse_args()

    print(f"{'n':>6} {'numpy DL':>17} {'recursion':>17} {'FARMALIK exact':>17} "
          f"{'ratio':>7} {'ln det agreement':>17}")
    print(f"{'':>6} {'wall / CPU ms':>17} {'wall / CPU ms':>17} {'wall / CPU ms':>17} "
          f"{'(CPU)':>7}")
    for n in a.n:
        g = mvts(a.build, "farmacov", "d=0.3", "phi=0.5", "theta=-0.4", f"lag={n - 1}")
        y = mvts(a.build, "farmasim", "d=0.3", "phi=0.5", "theta=-0.4", f"n={n}", "seed=17")
        (ld, _), npw, npc = best_time(lambda: numpy_loglik(g, y), a.reps)
        ours = run_bench(a.build, f"BM_ToeplitzLoglik/{n}$|BM_FarmalikExact/{n}/", a.reps)
        k = ours[f"BM_ToeplitzLoglik/{n}"]
        f = ours.get(f"BM_FarmalikExact/{n}")
        whole = f"{f['wall'] * 1e3:7.1f} / {f['cpu'] * 1e3:6.1f}" if f else "-"
        print(f"{n:>6} {npw * 1e3:8.1f} / {npc * 1e3:6.1f} "
              f"{k['wall'] * 1e3:8.1f} / {k['cpu'] * 1e3:6.1f} {whole:>17} "
              f"{k['cpu'] / npc:7.3f} {abs(k['logdet'] - ld) / abs(ld):17.1e}")

    if a.growth:
        found = run_bench(a.build, "BM_FarmalikExact/")
        sizes = sorted(int(name.split("/")[1]) for name in found)
        print(f"\n{'n':>7} {'wall s':>9} {'CPU s':>9} {'exponent':>9} {'peak MiB':>9}")
        print(f"{'':>7} {'':>9} {'':>9} {'(CPU)':>9}")
        prev = None
        for n in sizes:
            b = found[f"BM_FarmalikExact/{n}"]
            slope = (f"{math.log(b['cpu'] / prev[1]) / math.log(n / prev[0]):9.2f}"
                     if prev else f"{'':>9}")
            print(f"{n:>7} {b['wall']:9.4f} {b['cpu']:9.4f} {slope} {b['peak_MiB']:9.1f}")
            prev = (n, b["cpu"])


if __name__ == "__main__":
    main()
