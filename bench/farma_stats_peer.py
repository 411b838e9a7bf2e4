#!/usr/bin/python3
"""FARMAFCST against statsmodels' ARIMA forecast, timed side by side in one
process: h = 20 forecasts with their variances and 95% intervals from a
series of n = 10^4 values simulated by FARMASIM (ARFIMA(1, 0.3, 1), phi =
0.5, theta = -0.4, sigma = 1, the series of bench/farma_stats.cpp).

statsmodels has no fractional model: it forecasts the ARMA part, ARIMA(1, 0,
1) at the same phi and theta (its ma.L1 is -theta: the MA sign of mvts is
the opposite of statsmodels'), by its Kalman filter through the whole series
(model construction + filter(params) + get_forecast(h)); we time FARMAFCST
on the same ARMA model (d = 0), where the two must agree, and on the
ARFIMA(1, d, 1) model.  Best of REPS wall-clock times; ratios are
statsmodels / mvts.

  PYTHONPATH=build/python:python MVTS_MODULE_PATH=build/lib OPENBLAS_NUM_THREADS=1 \\
    /usr/bin/python3 bench/farma_stats_peer.py [--n 10000] [--h 20] [--reps 5]
"""
import argparse
import time
import warnings

import numpy as np

import mvts


def best_time(fn, reps):
    best = float("inf")
    out = None
    for _ in range(reps):
        t0 = time.perf_counter()
        out = fn()
        best = min(best, time.perf_counter() - t0)
    return best, out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--n", type=int, default=10000)
    ap.add_argument("--h", type=int, default=20)
    ap.add_argument("--reps", type=int, default=5)
    a = ap.parse_args()
    d, phi, theta, sigma = 0.3, 0.5, -0.4, 1.0
    y = np.ravel(np.asarray(mvts.farmasim(d=d, phi=phi, theta=theta, n=a.n, seed=17)))

    def ours(dd):
        r = mvts.farmafcst(y, d=dd, phi=phi, theta=theta, sigma=sigma, h=a.h)
        return np.ravel(r.forecast), np.ravel(r.mse), np.asarray(r.interval)

    t_arfima, _ = best_time(lambda: ours(d), a.reps)
    t_arma, (f_ours, mse_ours, ci_ours) = best_time(lambda: ours(0.0), a.reps)

    try:
        from statsmodels.tsa.arima.model import ARIMA
        import statsmodels
    except ImportError:
        print("statsmodels is not installed: mvts alone")
        print(f"FARMAFCST ARFIMA(1,d,1) n={a.n} h={a.h}: {t_arfima * 1e3:.1f} ms")
        print(f"FARMAFCST ARMA(1,1)     n={a.n} h={a.h}: {t_arma * 1e3:.1f} ms")
        return

    def peer():
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            mod = ARIMA(y, order=(1, 0, 1), trend="n")
            res = mod.filter(np.array([phi, -theta, sigma]))
            fc = res.get_forecast(a.h)
            return (np.asarray(fc.predicted_mean), np.asarray(fc.var_pred_mean),
                    np.asarray(fc.conf_int(alpha=0.05)))

    t_peer, (f_sm, var_sm, ci_sm) = best_time(peer, a.reps)
    agree_f = np.max(np.abs(f_ours - f_sm)) / max(1.0, np.max(np.abs(f_sm)))
    agree_v = np.max(np.abs(mse_ours - var_sm) / var_sm)
    agree_ci = np.max(np.abs(ci_ours - ci_sm))
    print(f"n = {a.n}, h = {a.h}, best of {a.reps}; statsmodels {statsmodels.__version__}")
    print(f"ARMA(1,1) forecasts: max |difference| {agree_f:.2e} (relative), "
          f"variances {agree_v:.2e} (relative), intervals {agree_ci:.2e}")
    print(f"statsmodels ARIMA(1,0,1) filter + get_forecast: {t_peer * 1e3:8.1f} ms")
    print(f"mvts FARMAFCST ARMA(1,1) (d = 0):              {t_arma * 1e3:8.1f} ms"
          f"   ratio statsmodels / mvts = {t_peer / t_arma:.2f}")
    print(f"mvts FARMAFCST ARFIMA(1,0.3,1):                {t_arfima * 1e3:8.1f} ms"
          f"   ratio statsmodels / mvts = {t_peer / t_arfima:.2f}")


if __name__ == "__main__":
    main()
