#!/usr/bin/python3
"""VARMALIK's Kalman filter (method 2) against statsmodels' VARMAX filter on
the wide model of bench/varmalik.cpp (BM_KalmanWide): k = 10 variables, AR
blocks at lags 1 .. p equal to Phi / p, one MA block, T = 50 observations
simulated here.  Both evaluate the exact Gaussian log-likelihood with the
stationary initial covariance; the script checks that they agree and prints
the seconds per evaluation (wall and CPU) and their ratio.  It also times the
stationary covariance alone: scipy.linalg.solve_discrete_lyapunov against
BM_InitialCovariance of bench_varmalik on the same T and Q.

  MVTS_MODULE_PATH=build/lib OPENBLAS_NUM_THREADS=1 \\
    /usr/bin/python3 bench/varmalik_peer.py [--mvts build/bin/mvts] [--p 10]

Our side runs as one `mvts run` script of REPS calls (one process, so the
module is loaded once); its time per call includes parsing the CSV inputs.
"""
import argparse
import math
import os
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np
import scipy
import scipy.linalg

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "reference"))
from make_tables import varmax_model  # noqa: E402


def base_model(k):
    """The VARMA(1,1) of bench/varmalik.cpp's Problem."""
    phi = np.zeros((k, k))
    theta = np.zeros((k, k))
    sigma = np.eye(k)
    for i in range(k):
        phi[i, i] = 0.5
        theta[i, i] = -0.3
        if i + 1 < k:
            phi[i, i + 1] = 0.1
            theta[i + 1, i] = 0.2
            sigma[i, i + 1] = sigma[i + 1, i] = 0.3
    return phi, theta, sigma


def simulate(phis, theta, sigma, T, seed=1, burn=300):
    k = sigma.shape[0]
    rng = np.random.default_rng(seed)
    chol = np.linalg.cholesky(sigma)
    e = rng.standard_normal((T + burn, k)) @ chol.T
    y = np.zeros((T + burn, k))
    for t in range(T + burn):
        v = e[t].copy()
        for l, phi in enumerate(phis, start=1):
            if t - l >= 0:
                v += phi @ y[t - l]
        if t >= 1:
            v -= theta @ e[t - 1]
        y[t] = v
    return y[burn:]


def state_space(phis, theta, sigma):
    """Our filter's T and Q = R Sigma R' (m = max(p, 2) blocks)."""
    k = sigma.shape[0]
    p = len(phis)
    m = max(p, 2)
    f = k * m
    T = np.zeros((f, f))
    T[: f - k, k:] = np.eye(f - k)
    for l, phi in enumerate(phis, start=1):
        T[(m - 1) * k:, (m - l) * k:(m - l + 1) * k] = phi
    psi = [np.eye(k)]
    for j in range(1, m):
        s = -theta if j == 1 else np.zeros((k, k))
        for l in range(1, min(j, p) + 1):
            s = s + phis[l - 1] @ psi[j - l]
        psi.append(s)
    R = np.vstack(psi)
    return T, R @ sigma @ R.T


def timed(fn, reps):
    fn()
    best_wall, best_cpu = math.inf, math.inf
    for _ in range(3):
        w0, c0 = time.perf_counter(), time.process_time()
        for _ in range(reps):
            fn()
        best_wall = min(best_wall, (time.perf_counter() - w0) / reps)
        best_cpu = min(best_cpu, (time.process_time() - c0) / reps)
    return best_wall, best_cpu


def ours(mvts, y, phis, theta, sigma, reps):
    k = sigma.shape[0]
    with tempfile.TemporaryDirectory() as d:
        def put(name, a):
            path = os.path.join(d, name)
            np.savetxt(path, a, delimiter=",", fmt="%.17g")
            return path
        py, pphi = put("y.csv", y), put("phi.csv", np.vstack(phis))
        pth, psg = put("theta.csv", theta), put("sigma.csv", sigma)
        call = f"VARMALIK @{py} phi=@{pphi} theta=@{pth} sigma=@{psg} method=2"
        script = os.path.join(d, "calls.mvts")
        with open(script, "w") as fh:
            fh.write(f"first = {call}\nprint first\n")
            for i in range(reps):
                fh.write(f"r{i} = {call}\n")
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        w0 = time.perf_counter()
        out = subprocess.run([mvts, "run", script, "--format", "csv"], check=True,
                             capture_output=True, text=True).stdout
        wall = time.perf_counter() - w0
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = (after.ru_utime + after.ru_stime) - (before.ru_utime + before.ru_stime)
        values = [float(x) for line in out.splitlines() if line and not line.startswith("#")
                  for x in line.split(",")]
        return values[:3], wall / (reps + 1), cpu / (reps + 1)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mvts", default=os.path.join(ROOT, "build", "bin", "mvts"))
    ap.add_argument("--p", type=int, default=10)
    ap.add_argument("--reps", type=int, default=20)
    a = ap.parse_args()
    k, p, T = 10, a.p, 50
    phi, theta, sigma = base_model(k)
    phis = [phi / p for _ in range(p)]
    y = simulate(phis, theta, sigma, T)
    print(f"k = {k}, p = {p}, q = 1, T = {T}; peer: statsmodels VARMAX, scipy {scipy.__version__}")

    (ll, D, S), our_wall, our_cpu = ours(a.mvts, y, phis, theta, sigma, a.reps)
    mod, params = varmax_model(y, phis, [theta], sigma)
    mod.ssm.tolerance = 0.0  # every step in full, as ours
    peer_llf = mod.loglike(params)
    ours_llf = ll - 0.5 * k * T * math.log(2 * math.pi)
    print(f"log-likelihood: ours {ours_llf:.12g}, statsmodels {peer_llf:.12g}, "
          f"relative difference {abs(ours_llf - peer_llf) / abs(peer_llf):.1e}")
    sm_wall, sm_cpu = timed(lambda: mod.loglike(params), max(1, a.reps // 4))
    print(f"likelihood  ours {our_wall * 1e3:8.2f} ms wall {our_cpu * 1e3:8.2f} ms CPU | "
          f"statsmodels {sm_wall * 1e3:8.2f} ms wall {sm_cpu * 1e3:8.2f} ms CPU | "
          f"ratio (statsmodels / ours, CPU) {sm_cpu / our_cpu:.2f}")

    Tm, Q = state_space(phis, theta, sigma)
    sp_wall, sp_cpu = timed(lambda: scipy.linalg.solve_discrete_lyapunov(Tm, Q), 5)
    P = scipy.linalg.solve_discrete_lyapunov(Tm, Q)
    res = np.max(np.abs(P - Tm @ P @ Tm.T - Q)) / np.max(np.abs(P))
    print(f"P(1), f = {Tm.shape[0]}: scipy.linalg.solve_discrete_lyapunov {sp_wall * 1e3:.2f} ms "
          f"wall {sp_cpu * 1e3:.2f} ms CPU (relative residual {res:.1e}); compare "
          f"BM_InitialCovariance/{p} of bench_varmalik")


if __name__ == "__main__":
    main()
