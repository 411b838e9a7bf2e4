#!/usr/bin/python3
"""VARMA forecasts and standard errors against statsmodels' VARMAX, timed in
the same run on the same series and model: a VARMA(1,1) with k = 3
variables and T = 1000 observations simulated here, h = 12.

Ours: bench_varma_stats (Google Benchmark, through the session as a user
calls the functions): VARMAFCST (forecasts, MSE matrices, intervals) and
VARMAINFO (the Hessian by extrapolated differences and its inverse, the
standard errors).  Peer: VARMAX at the same parameters (MA blocks entered as
-Theta, stationary start), get_forecast(12) with its predicted_mean and
var_pred_mean, and smooth(params, cov_type="oim").bse.  The script checks
that the forecasts agree and prints both times and their ratio.

  MVTS_MODULE_PATH=build/lib OPENBLAS_NUM_THREADS=1 \\
    /usr/bin/python3 bench/varma_stats_peer.py [--bench build/bin/bench_varma_stats]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np
import statsmodels

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "reference"))
from make_tables import simulate, varmax_model  # noqa: E402

# The model of bench/varma_stats.cpp.
PHI = np.array([[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]])
THETA = np.array([[0.25, 0.0, 0.125], [-0.125, 0.375, 0.0], [0.0, 0.25, -0.5]])
SIGMA = np.array([[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]])
H = 12


def peer(y, reps):
    """Seconds (best of reps) of the forecasts and of the standard errors."""
    mod, params = varmax_model(y, [PHI], [THETA], SIGMA)
    assert mod.ssm.initialization.initialization_type == "stationary"
    best_f, best_s = float("inf"), float("inf")
    for _ in range(reps):
        t0 = time.perf_counter()
        fc = mod.filter(params, cov_type="none").get_forecast(H)
        mean, mse = np.asarray(fc.predicted_mean), np.asarray(fc.var_pred_mean)
        t1 = time.perf_counter()
        bse = mod.smooth(params, cov_type="oim").bse
        t2 = time.perf_counter()
        best_f, best_s = min(best_f, t1 - t0), min(best_s, t2 - t1)
    return mean, mse, bse, best_f, best_s


def ours(bench, series_csv):
    out = subprocess.run([bench, "--series", series_csv, "--benchmark_format=json"],
                         check=True, capture_output=True, text=True).stdout
    times = {}
    for b in json.loads(out)["benchmarks"]:
        scale = {"ms": 1e-3, "us": 1e-6, "ns": 1e-9, "s": 1.0}[b["time_unit"]]
        times[b["name"].split("/")[0]] = b["real_time"] * scale
    return times["BM_VarmaForecast"], times["BM_VarmaInfo"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bench", default=os.path.join(ROOT, "build", "bin", "bench_varma_stats"))
    ap.add_argument("--mvts", default=os.path.join(ROOT, "build", "bin", "mvts"))
    ap.add_argument("--reps", type=int, default=3)
    a = ap.parse_args()
    warnings.simplefilter("ignore")
    y = simulate([PHI], [THETA], SIGMA, 1000, 5)
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "y.csv")
        np.savetxt(path, y, delimiter=",", fmt="%.17g")
        our_f, our_s = ours(a.bench, path)
        mat = lambda m: ";".join(" ".join("%.17g" % x for x in row) for row in m)  # noqa: E731
        got = json.loads(subprocess.run(
            [a.mvts, "VARMAFCST", "@" + path, "phi=" + mat(PHI), "theta=" + mat(THETA),
             "sigma=" + mat(SIGMA), "h=%d" % H, "--format", "json"],
            check=True, capture_output=True, text=True).stdout)
    mean, mse, _, peer_f, peer_s = peer(y, a.reps)
    # the forecasts compared with every step filtered in full (the timing
    # above keeps the peer's default, which switches to the steady-state gain)
    mod, params = varmax_model(y, [PHI], [THETA], SIGMA)
    mod.ssm.tolerance = 0.0
    mean = np.asarray(mod.filter(params, cov_type="none").get_forecast(H).predicted_mean)
    ours_fc = np.array(got["outputs"][0]["data"])
    print("VARMA(1,1), k = 3, T = 1000, h = %d; peer statsmodels %s VARMAX"
          % (H, statsmodels.__version__))
    print("forecasts: max |ours - statsmodels| / max |statsmodels| = %.1e"
          % (np.max(np.abs(ours_fc - mean)) / np.max(np.abs(mean))))
    print("forecasts            ours %9.2f ms | statsmodels %9.2f ms | ratio %6.1f"
          % (our_f * 1e3, peer_f * 1e3, peer_f / our_f))
    print("standard errors      ours %9.2f ms | statsmodels %9.2f ms | ratio %6.1f"
          % (our_s * 1e3, peer_s * 1e3, peer_s / our_s))
    print("forecasts + errors   ours %9.2f ms | statsmodels %9.2f ms | ratio %6.1f"
          % ((our_f + our_s) * 1e3, (peer_f + peer_s) * 1e3, (peer_f + peer_s) / (our_f + our_s)))


if __name__ == "__main__":
    main()
