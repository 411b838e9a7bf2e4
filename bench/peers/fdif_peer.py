"""scipy peers of bench_fdif, run by /usr/bin/python3 on the series the
benchmark wrote (raw little-endian doubles).

  fdif_peer.py fftconvolve FILE D REPS
      (1 - B)^D x truncated at the start: the binomial weights by numpy,
      then scipy.signal.fftconvolve(w, x)[:n].
  fdif_peer.py css FILE D PHI THETA REPS
      the conditional sum of squares log-likelihood of ARFIMA(1, D, 1):
      u = fftconvolve(w, x)[:n], u_0 = 0, e = lfilter([1, -PHI], [1, -THETA], u),
      -(n - 1)/2 ln(S / (n - 1)), S = sum_{t>=1} e_t^2.

Prints the best wall time and the CPU time of that call, in seconds, and
the first and last values for a spot check.
"""
import sys
import time

import numpy as np
from scipy import signal


def weights(d, n):
    w = np.empty(n)
    w[0] = 1.0
    k = np.arange(1, n, dtype=float)
    w[1:] = np.cumprod((k - 1.0 - d) / k)
    return w


def fdif(x, d):
    n = x.size
    return signal.fftconvolve(weights(d, n), x)[:n]


def css(x, d, phi, theta):
    n = x.size
    u = signal.fftconvolve(weights(d, n), x)[:n]
    u[0] = 0.0
    e = signal.lfilter([1.0, -phi], [1.0, -theta], u)
    s = float(np.dot(e[1:], e[1:]))
    return np.array([-0.5 * (n - 1) * np.log(s / (n - 1))])


def main():
    mode, path = sys.argv[1], sys.argv[2]
    x = np.fromfile(path, dtype="<f8")
    if mode == "fftconvolve":
        d, reps = float(sys.argv[3]), int(sys.argv[4])
        call = lambda: fdif(x, d)
    else:
        d, phi, theta, reps = (float(sys.argv[3]), float(sys.argv[4]), float(sys.argv[5]),
                               int(sys.argv[6]))
        call = lambda: css(x, d, phi, theta)
    out = call()  # warm-up: scipy's FFT plan cache
    best_wall, best_cpu = float("inf"), float("inf")
    for _ in range(reps):
        w0, c0 = time.perf_counter(), time.process_time()
        out = call()
        w1, c1 = time.perf_counter(), time.process_time()
        if w1 - w0 < best_wall:
            best_wall, best_cpu = w1 - w0, c1 - c0
    print(f"{best_wall:.9g} {best_cpu:.9g} {out[0]:.17g} {out[-1]:.17g}")


if __name__ == "__main__":
    main()
