#!/usr/bin/python3
"""Reference tables for the VARMA, ARFIMA and root tests, computed with an
independent peer (statsmodels, scipy, numpy) and written into the
GENERATED TABLE sections of

  tests/varma/reference_test.cpp            VARMACOV
  tests/varma/varmalik_reference_test.cpp   VARMALIK (methods 0 and 2)
  tests/farma/reference_test.cpp            FARMACOV, arfima_autocov (d = 0), FARMALIK exact
  tests/roots/reference_test.cpp            VTSROOT, poly_roots
  tests/fit/reference_test.cpp              VARMAFIT (maximised log-likelihoods)
  tests/stats/varma_reference_test.cpp      VARMAFCST (forecasts, MSE matrices) and
                                            VARMAINFO (standard errors; needs --mvts)

This script is how the tables were made; CI does not run it (the tests hold
only the numbers).  Usage:

  /usr/bin/python3 tests/reference/make_tables.py [--write] [--mvts build/bin/mvts]

Without --write the tables are printed.  With --mvts the script also calls
our command line (--format json) on every case and prints the largest
difference from the peer in units of the table's scale, which is how the
tolerances were chosen (about ten times the observed difference, rounded up
to a power of two, in units of the machine epsilon 2^-52).

All inputs are exactly representable (binary fractions; the series are
rounded to multiples of 2^-8), so the tables need no input tolerance.

Conventions (ours): y_t = sum Phi_i y_{t-i} + e_t - sum Theta_j e_{t-j};
statsmodels' VARMAX has + M_j e_{t-j}, so M_j = -Theta_j.  ARFIMA:
phi(B)(1-B)^d y = theta(B) e with theta(B) = 1 - theta_1 B - ...
"""
import argparse
import json
import math
import os
import re
import subprocess
import sys
import tempfile
import warnings

import numpy as np
import scipy
import scipy.integrate
import scipy.linalg
import scipy.special
import statsmodels
from statsmodels.tsa.arima_process import arma_acovf
from statsmodels.tsa.statespace.varmax import VARMAX
from statsmodels.tsa.vector_ar.var_model import VARProcess

warnings.simplefilter("ignore")
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
EPS = 2.0 ** -52
PEER = "statsmodels %s, scipy %s, numpy %s" % (statsmodels.__version__, scipy.__version__,
                                                np.__version__)


def fmt(x):
    """A double as a C++ literal that reads back to the same value."""
    if math.isnan(x):
        return "kNaN"
    s = "%.17g" % x
    if "e" not in s and "." not in s and "inf" not in s:
        s += ".0"
    return s


def cvec(values, per_line=3, indent="      "):
    vals = [fmt(float(v)) for v in np.asarray(values, dtype=float).ravel()]
    if not vals:
        return "{}"
    lines = []
    for i in range(0, len(vals), per_line):
        lines.append(indent + ", ".join(vals[i:i + per_line]))
    return "{\n" + ",\n".join(lines) + "}"


def ulps_needed(observed):
    """Tolerance in units of eps: ten times the observed error, rounded up to
    a power of two, at least 16."""
    t = 16
    while t < 10 * observed:
        t *= 2
    return t


def run_mvts(mvts, args):
    if not mvts:
        return None
    out = subprocess.run([mvts] + args + ["--format", "json"], capture_output=True, text=True)
    obj = json.loads(out.stdout.strip().splitlines()[-1])
    return obj


def mat_arg(a):
    a = np.atleast_2d(np.asarray(a, dtype=float))
    return ";".join(" ".join(fmt(x) if not math.isnan(x) else "." for x in row) for row in a)


# ---------------------------------------------------------------- VARMA helpers

def spread(blocks, lags, k):
    """Blocks at their lags (ascending lag list) -> blocks at lags 1..max."""
    order = max(lags) if lags else 0
    out = np.zeros((order, k, k))
    for b, lag in zip(blocks, lags):
        out[lag - 1] = b
    return out


def varmax_model(endog, phis, thetas, sigma):
    """statsmodels VARMAX with our coefficients (MA sign flipped) set."""
    k = sigma.shape[0]
    p, q = len(phis), len(thetas)
    mod = VARMAX(endog, order=(p, q), trend="n", enforce_stationarity=False,
                 enforce_invertibility=False)
    chol = np.linalg.cholesky(sigma)
    params = []
    for name in mod.param_names:
        m = re.fullmatch(r"L(\d+)\.y(\d+)\.y(\d+)", name)
        if m:  # coefficient on lag l of y_j in the equation of y_i
            lag, j, i = int(m[1]), int(m[2]) - 1, int(m[3]) - 1
            params.append(phis[lag - 1][i, j])
            continue
        m = re.fullmatch(r"L(\d+)\.e\(y(\d+)\)\.y(\d+)", name)
        if m:
            lag, j, i = int(m[1]), int(m[2]) - 1, int(m[3]) - 1
            params.append(-thetas[lag - 1][i, j])
            continue
        m = re.fullmatch(r"sqrt\.var\.y(\d+)", name)
        if m:
            i = int(m[1]) - 1
            params.append(chol[i, i])
            continue
        m = re.fullmatch(r"sqrt\.cov\.y(\d+)\.y(\d+)", name)
        if m:
            j, i = int(m[1]) - 1, int(m[2]) - 1
            params.append(chol[i, j])
            continue
        raise ValueError("unexpected parameter " + name)
    params = np.array(params)
    mod.update(params)
    return mod, params


def state_space_autocov(phis, thetas, sigma, L):
    """Gamma(h) = E[y_t y_{t+h}'] = Z P (T')^h Z' with P from
    scipy.linalg.solve_discrete_lyapunov on VARMAX's state-space form."""
    k = sigma.shape[0]
    mod, _ = varmax_model(np.zeros((10, k)), phis, thetas, sigma)
    T = mod.ssm["transition"][:, :, 0] if mod.ssm["transition"].ndim == 3 else mod.ssm["transition"]
    R = mod.ssm["selection"]
    R = R[:, :, 0] if R.ndim == 3 else R
    Q = mod.ssm["state_cov"]
    Q = Q[:, :, 0] if Q.ndim == 3 else Q
    Z = mod.ssm["design"]
    Z = Z[:, :, 0] if Z.ndim == 3 else Z
    P = scipy.linalg.solve_discrete_lyapunov(T, R @ Q @ R.T)
    out = []
    Th = np.eye(T.shape[0])
    for h in range(L + 1):
        out.append(Z @ P @ Th.T @ Z.T)
        Th = T @ Th
    return np.vstack(out)


VARMACOV_CASES = [
    # name, region, k, AR blocks, AR lags (None: 1..p), MA blocks, MA lags, sigma, L
    dict(name="Var1Coupled", region="well inside the unit circle",
         phi=[[[0.5, 0.25], [-0.125, 0.375]]], theta=[],
         sigma=[[1.0, 0.5], [0.5, 2.0]], L=6),
    dict(name="Varma11", region="well inside the unit circle",
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[[[0.375, -0.25], [0.125, 0.5]]],
         sigma=[[2.0, 0.75], [0.75, 1.5]], L=6),
    dict(name="Var2NearUnitRoot", region="AR root modulus 0.96875",
         phi=[[[1.46875, 0.0625], [0.0, 1.25]], [[-0.484375, 0.0], [0.0, -0.875]]], theta=[],
         sigma=[[1.0, 0.25], [0.25, 0.5]], L=8),
    dict(name="Varma21ThreeSeries", region="well inside the unit circle",
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]],
              [[-0.125, 0.0625, 0.0], [0.0, 0.1875, -0.0625], [0.0625, 0.0, -0.25]]],
         theta=[[[0.25, 0.0, 0.125], [-0.125, 0.375, 0.0], [0.0, 0.25, -0.5]]],
         sigma=[[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]], L=5),
    dict(name="Vma2", region="pure moving average",
         phi=[], theta=[[[0.5, -0.25], [0.125, 0.75]], [[-0.25, 0.0], [0.375, 0.125]]],
         sigma=[[1.0, -0.375], [-0.375, 0.75]], L=4),
    dict(name="SubsetAr13Ma2", region="lag lists",
         phi=[[[0.375, 0.125], [0.0, 0.25]], [[0.25, 0.0], [-0.125, 0.3125]]], ar_lags=[3, 1],
         theta=[[[0.5, 0.25], [-0.25, 0.125]]], ma_lags=[2],
         sigma=[[1.25, 0.5], [0.5, 1.0]], L=7),
]


def normalise_case(c):
    k = len(c["sigma"])
    phi = [np.array(b, dtype=float) for b in c["phi"]]
    theta = [np.array(b, dtype=float) for b in c["theta"]]
    ar_lags = c.get("ar_lags") or list(range(1, len(phi) + 1))
    ma_lags = c.get("ma_lags") or list(range(1, len(theta) + 1))
    # blocks go to lags in ascending order of the lag list
    ar_sorted = sorted(ar_lags)
    ma_sorted = sorted(ma_lags)
    phis = spread(phi, ar_sorted, k)
    thetas = spread(theta, ma_sorted, k)
    return k, phi, theta, phis, thetas, np.array(c["sigma"], dtype=float)


def varmacov_tables(mvts, report):
    out = []
    for c in VARMACOV_CASES:
        k, phi, theta, phis, thetas, sigma = normalise_case(c)
        L = c["L"]
        ar = np.abs(np.linalg.eigvals(companion(phis, k))) if len(phis) else np.array([0.0])
        gam = state_space_autocov(list(phis), list(thetas), sigma, L)
        if len(thetas) == 0:  # second peer for pure VAR: VARProcess.acf (autocovariances) gives E[y_{t+h} y_t']
            proc = VARProcess(np.array(phis), np.zeros(k), sigma)
            acvf = proc.acf(L)
            alt = np.vstack([acvf[h].T for h in range(L + 1)])
            assert np.max(np.abs(alt - gam)) < 1e-12 * np.max(np.abs(gam)), c["name"]
        scale = np.max(np.abs(gam[:k]))
        diff = None
        if mvts:
            args = ["VARMACOV"]
            if phi:
                args.append("phi=" + mat_arg(np.vstack(phi)))
            if theta:
                args.append("theta=" + mat_arg(np.vstack(theta)))
            args.append("sigma=" + mat_arg(sigma))
            if c.get("ar_lags"):
                args.append("p=" + mat_arg(c["ar_lags"]))
            if c.get("ma_lags"):
                args.append("q=" + mat_arg(c["ma_lags"]))
            args.append("lag=%d" % L)
            obj = run_mvts(mvts, args)
            ours = np.array(obj["outputs"][0]["data"], dtype=float)
            diff = np.max(np.abs(ours - gam)) / scale / EPS
            report.append("VARMACOV %-22s max|ours-peer|/max|Gamma(0)| = %.2f eps  (max AR modulus %.4f)"
                          % (c["name"], diff, ar.max()))
        tol = c.get("tol") or (ulps_needed(diff) if diff is not None else 64)
        out.append("  {\"%s\", \"%s\", %d, %s, %s, %s, %s, %s, %d, %d,\n    %s},"
                   % (c["name"], c["region"], k,
                      cvec(np.vstack(phi) if phi else []),
                      cvec(np.vstack(theta) if theta else []),
                      cvec(sigma), cvec(c.get("ar_lags") or []), cvec(c.get("ma_lags") or []),
                      L, tol, cvec(gam)))
    head = ("// Peer: %s.\n// Gamma(h) = Z P (T')^h Z' with P from\n"
            "// scipy.linalg.solve_discrete_lyapunov on the state-space form of statsmodels'\n"
            "// VARMAX (MA blocks entered as -Theta); pure VAR cases agree with\n"
            "// VARProcess.acf to 1e-12.  Tolerance: |ours - table| <= tol * eps * max|Gamma(0)|.\n"
            % PEER)
    return head + "const CovCase kCovCases[] = {\n" + "\n".join(out) + "\n};\n"


def companion(blocks, k):
    p = len(blocks)
    C = np.zeros((k * p, k * p))
    for i, b in enumerate(blocks):
        C[:k, i * k:(i + 1) * k] = b
    C[k:, :-k] = np.eye(k * (p - 1))
    return C


# ---------------------------------------------------------------- VARMALIK

def simulate(phis, thetas, sigma, T, seed, burn=200):
    rng = np.random.default_rng(seed)
    k = sigma.shape[0]
    chol = np.linalg.cholesky(sigma)
    e = rng.standard_normal((T + burn, k)) @ chol.T
    y = np.zeros((T + burn, k))
    for t in range(T + burn):
        v = e[t].copy()
        for i, b in enumerate(phis):
            if t - i - 1 >= 0:
                v += b @ y[t - i - 1]
        for j, b in enumerate(thetas):
            if t - j - 1 >= 0:
                v -= b @ e[t - j - 1]
        y[t] = v
    y = y[burn:]
    return np.round(y * 256.0) / 256.0  # exactly representable


def peer_loglik(series, phis, thetas, sigma, known_p1=None):
    """D = sum of log det F_t and S = sum of v' F^-1 v over the complete rows,
    from statsmodels' Kalman filter: the likelihood of the rows observed.  A
    row with any missing value is handed to the peer as wholly missing."""
    k = sigma.shape[0]
    endog = series.copy()
    miss = np.any(np.isnan(endog), axis=1)
    endog[miss, :] = np.nan
    mod, params = varmax_model(endog, list(phis), list(thetas), sigma)
    if known_p1 is not None:
        m = mod.k_states
        # diffuse in the units of each variable: known_p1 Sigma_jj on the
        # state elements of variable j
        mod.ssm.initialize_known(np.zeros(m), known_p1 * np.diag(np.tile(np.diag(sigma), m // k)))
    # filter every step in full: the peer otherwise switches to the steady-state
    # gain once det F stops changing by 1e-19, which moves S by about 1e-11
    mod.ssm.tolerance = 0.0
    res = mod.filter(params)
    Z = mod.ssm["design"]
    Z = Z[:, :, 0] if Z.ndim == 3 else Z
    D = 0.0
    S = 0.0
    terms_d, terms_s = [], []
    for t in range(series.shape[0]):
        F = Z @ res.predicted_state_cov[:, :, t] @ Z.T
        sign, ld = np.linalg.slogdet(F)
        assert sign > 0
        terms_d.append(ld)
        if not miss[t]:
            v = res.forecasts_error[:, t]
            terms_s.append(v @ np.linalg.solve(F, v))
    D = math.fsum(ld for ld, m in zip(terms_d, miss) if not m)
    S = math.fsum(terms_s)
    # consistency with the peer's own log-likelihood
    llf = -0.5 * (D + S) - 0.5 * k * np.sum(~miss) * math.log(2 * math.pi)
    assert abs(llf - res.llf) < 1e-9 * abs(res.llf), (llf, res.llf)
    return -0.5 * (D + S), D, S, res.llf


VARMALIK_CASES = [
    dict(name="Varma11", region="stationary, complete series", methods=[0, 2], T=40, seed=11,
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[[[0.375, -0.25], [0.125, 0.5]]],
         sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="Var2ThreeSeries", region="stationary, complete series", methods=[0, 2], T=30,
         seed=12,
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]],
              [[-0.125, 0.0625, 0.0], [0.0, 0.1875, -0.0625], [0.0625, 0.0, -0.25]]],
         theta=[], sigma=[[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]]),
    dict(name="Vma2IdentitySigma", region="stationary, complete series", methods=[0, 2], T=36,
         seed=13, sigma_omitted=True,
         phi=[], theta=[[[0.5, -0.25], [0.125, 0.75]], [[-0.25, 0.0], [0.375, 0.125]]],
         sigma=[[1.0, 0.0], [0.0, 1.0]]),
    dict(name="Var2NearUnitRoot", region="stationary, AR root modulus 0.96875", methods=[0, 2],
         T=40, seed=14,
         phi=[[[1.46875, 0.0625], [0.0, 1.25]], [[-0.484375, 0.0], [0.0, -0.875]]], theta=[],
         sigma=[[1.0, 0.25], [0.25, 0.5]]),
    dict(name="Varma11Missing", region="missing values (rows 3, 10 partly, 17 and 18 wholly)",
         methods=[0, 2], T=40, seed=15, missing=[(3, 0), (10, 1), (17, 0), (17, 1), (18, 0),
                                                 (18, 1)],
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[[[0.375, -0.25], [0.125, 0.5]]],
         sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="RandomWalkDiffuseStart", region="not stationary: P(1) = 1e6 diag(Sigma)", methods=[2],
         T=20, seed=16, known_p1=1e6,
         phi=[[[1.0, 0.0], [0.0, 1.0]]], theta=[], sigma=[[1.0, 0.5], [0.5, 2.0]]),
]


def varmalik_tables(mvts, report):
    out = []
    for c in VARMALIK_CASES:
        k, phi, theta, phis, thetas, sigma = normalise_case(c)
        if c.get("known_p1"):
            y = np.cumsum(np.random.default_rng(c["seed"]).standard_normal((c["T"], k)), axis=0)
            y = np.round(y * 256.0) / 256.0
        else:
            y = simulate(phis, thetas, sigma, c["T"], c["seed"])
        for (t, j) in c.get("missing", []):
            y[t, j] = np.nan
        ll, D, S, llf = peer_loglik(y, phis, thetas, sigma, c.get("known_p1"))
        ref = np.array([ll, D, S])
        diff = None
        if mvts:
            diff = 0.0
            for meth in c["methods"]:
                args = ["VARMALIK", "series=" + mat_arg(y)]
                if phi:
                    args.append("phi=" + mat_arg(np.vstack(phi)))
                if theta:
                    args.append("theta=" + mat_arg(np.vstack(theta)))
                if not c.get("sigma_omitted"):
                    args.append("sigma=" + mat_arg(sigma))
                args.append("method=%d" % meth)
                obj = run_mvts(mvts, args)
                assert obj["status"] == 0, obj
                ours = np.array([r[0] for r in obj["outputs"][0]["data"]], dtype=float)
                scale = abs(D) + abs(S)
                dd = np.max(np.abs(ours - ref)) / scale / EPS
                report.append("VARMALIK %-22s method %d: ours %s  peer %s  diff %.2f eps of |D|+|S|"
                              % (c["name"], meth, ours, ref, dd))
                diff = max(diff, dd)
        tol = ulps_needed(diff) if diff is not None else 1024
        out.append("  {\"%s\", \"%s\", %d, %d, %s, %s, %s, %s, %s, %s, %d,\n    %s,\n    %s},"
                   % (c["name"], c["region"], k, c["T"], cvec(y),
                      cvec(np.vstack(phi) if phi else []), cvec(np.vstack(theta) if theta else []),
                      "true" if c.get("sigma_omitted") else "false", cvec(sigma),
                      cvec(c["methods"]), tol, cvec(ref), fmt(llf)))
    head = ("// Peer: %s.\n// statsmodels' VARMAX Kalman filter (MA blocks entered as -Theta;\n"
            "// stationary start by the peer's Lyapunov solver, or the known start 1e6 diag(Sigma)):\n"
            "// D = sum over complete rows of log det F_t (Z P_t Z' from predicted_state_cov),\n"
            "// S = sum over complete rows of v_t' F_t^-1 v_t (forecasts_error); a row with any\n"
            "// missing value is wholly missing for the peer.  -(D + S)/2 - (T_obs k/2) log 2pi\n"
            "// equals the peer's llf (last field) to 1e-9 relative.  Tolerance:\n"
            "// |ours - table| <= tol * eps * (|D| + |S|) for each of the three values.\n" % PEER)
    return head + "const LikCase kLikCases[] = {\n" + "\n".join(out) + "\n};\n"


# ---------------------------------------------------------------- ARFIMA

def fn_acov(d, n):
    """Autocovariances 0..n-1 of fractional noise (1-B)^-d e, unit variance:
    Gamma(1-2d)/Gamma(1-d)^2 and the ratio (h-1+d)/(h-d), with scipy.special.gamma."""
    g = np.empty(n)
    g[0] = scipy.special.gamma(1 - 2 * d) / scipy.special.gamma(1 - d) ** 2
    for h in range(1, n):
        g[h] = g[h - 1] * (h - 1 + d) / (h - d)
    return g


def arfima_reference(d, phi, theta, L, M=3000):
    """gamma(0..L) of phi(B)(1-B)^d y = theta(B) e, unit variance, as
    sum_m gamma_AR(m) gamma_x(h - m): gamma_AR from statsmodels arma_acovf
    of the AR part (geometric decay, summed to |m| < M), gamma_x the
    fractional noise convolved with the MA autocovariances (closed form)."""
    ma = np.r_[1.0, -np.asarray(theta, dtype=float)]
    q = len(ma) - 1
    psi = {l: sum(ma[s] * ma[s - l] for s in range(max(0, l), min(q, q + l) + 1))
           for l in range(-q, q + 1)}
    fn = fn_acov(d, L + M + q + 2)

    def gx(h):
        return math.fsum(psi[l] * fn[abs(h - l)] for l in psi)

    if len(phi) == 0:
        return np.array([gx(h) for h in range(L + 1)])
    gar = arma_acovf(np.r_[1.0, -np.asarray(phi, dtype=float)], np.array([1.0]), nobs=M)
    assert abs(gar[-1]) < 1e-30 * gar[0]
    return np.array([math.fsum([gar[0] * gx(h)] + [gar[m] * (gx(h - m) + gx(h + m))
                                                    for m in range(1, M)])
                     for h in range(L + 1)])


def spectral_reference(d, phi, theta, L):
    """gamma(h) = (1/pi) int_0^pi cos(h w) f(w) dw by scipy.integrate.quad with
    the algebraic weight w^(-2d) for the pole at frequency 0."""
    phi = np.asarray(phi, dtype=float)
    theta = np.asarray(theta, dtype=float)

    def smooth(w):
        z = np.exp(-1j * w)
        num = abs(1 - sum(t * z ** (j + 1) for j, t in enumerate(theta))) ** 2
        den = abs(1 - sum(f * z ** (j + 1) for j, f in enumerate(phi))) ** 2
        s = 2 * math.sin(w / 2) / w if w > 0 else 1.0
        return num / den * s ** (-2 * d)

    out = []
    for h in range(L + 1):
        v, _ = scipy.integrate.quad(lambda w: math.cos(h * w) * smooth(w), 0, math.pi,
                                    weight="alg", wvar=(-2 * d, 0), limit=400, epsabs=1e-14,
                                    epsrel=1e-13)
        out.append(v / math.pi)
    return np.array(out)


FARMACOV_CASES = [
    dict(name="NoiseQuarter", region="fractional noise", d=0.25, phi=[], theta=[], L=20),
    dict(name="NoiseNegative", region="fractional noise", d=-0.375, phi=[], theta=[], L=20),
    dict(name="NoiseNearHalf", region="d close to 0.5", d=0.46875, phi=[], theta=[], L=20),
    dict(name="NoiseNearZero", region="d close to 0", d=0.0078125, phi=[], theta=[], L=12),
    dict(name="Ma1", region="moving average", d=0.3125, phi=[], theta=[0.5], L=15),
    dict(name="Ma2Negative", region="moving average", d=-0.25, phi=[], theta=[0.25, -0.375],
         L=15),
    dict(name="Ar1", region="real AR root", d=0.25, phi=[0.5], theta=[], L=15),
    dict(name="Ar2Complex", region="complex AR roots", d=0.125, phi=[0.75, -0.5], theta=[],
         L=15),
    dict(name="Ar1NearUnitRoot", region="AR root 0.9375", d=0.1875, phi=[0.9375], theta=[],
         L=15),
    dict(name="Arma21", region="real AR roots with MA", d=0.375, phi=[0.5, 0.25], theta=[-0.5],
         L=15),
    dict(name="Arma11Sigma", region="sigma 2.5", d=-0.125, phi=[-0.625], theta=[0.25],
         sigma=2.5, L=12),
    dict(name="Arma22NearHalf", region="d close to 0.5", d=0.4375, phi=[0.25, -0.5],
         theta=[0.5, 0.25], L=15),
]


def farmacov_tables(mvts, report):
    out = []
    for c in FARMACOV_CASES:
        sigma = c.get("sigma", 1.0)
        ref = sigma * arfima_reference(c["d"], c["phi"], c["theta"], c["L"])
        spectral_cov = sigma * spectral_reference(c["d"], c["phi"], c["theta"], c["L"])
        sdiff = np.max(np.abs(spectral_cov - ref)) / abs(ref[0])
        assert sdiff < 1e-9, (c["name"], sdiff)
        diff = None
        if mvts:
            args = ["FARMACOV", "d=" + fmt(c["d"])]
            if c["phi"]:
                args.append("phi=" + mat_arg([c["phi"]]))
            if c["theta"]:
                args.append("theta=" + mat_arg([c["theta"]]))
            if "sigma" in c:
                args.append("sigma=" + fmt(sigma))
            args.append("lag=%d" % c["L"])
            obj = run_mvts(mvts, args)
            assert obj["status"] == 0, obj
            ours = np.array([r[0] for r in obj["outputs"][0]["data"]], dtype=float)
            diff = np.max(np.abs(ours - ref)) / abs(ref[0]) / EPS
            report.append("FARMACOV %-18s diff %.2f eps of gamma(0)   (spectral integral agrees to %.1e)"
                          % (c["name"], diff, sdiff))
        tol = ulps_needed(diff) if diff is not None else 256
        out.append("  {\"%s\", \"%s\", %s, %s, %s, %s, %d, %d,\n    %s},"
                   % (c["name"], c["region"], fmt(c["d"]), cvec(c["phi"]), cvec(c["theta"]),
                      fmt(sigma), c["L"], tol, cvec(ref)))
    head = ("// Peer: %s.\n// gamma(h) = sum_m gamma_AR(m) gamma_x(h - m), gamma_AR by\n"
            "// statsmodels arma_acovf of the AR part (|m| < 3000), gamma_x fractional noise\n"
            "// (scipy.special.gamma, ratio recursion) convolved with the MA autocovariances;\n"
            "// checked against scipy.integrate.quad of the spectral density to 1e-9.\n"
            "// Tolerance: |ours - table| <= tol * eps * gamma(0).\n" % PEER)
    return head + "const FcovCase kFcovCases[] = {\n" + "\n".join(out) + "\n};\n"


ARMA_CASES = [
    dict(name="Ar1", phi=[0.5], theta=[], L=10),
    dict(name="Arma21", phi=[0.5, 0.25], theta=[-0.5], L=10),
    dict(name="Arma12", phi=[-0.625], theta=[0.25, 0.5], L=10),
    dict(name="Ar2NearUnitRoot", phi=[1.71875, -0.75], theta=[], L=10),
    dict(name="Ma3", phi=[], theta=[0.5, -0.25, 0.125], L=6),
]


def arma_tables():
    out = []
    for c in ARMA_CASES:
        ref = arma_acovf(np.r_[1.0, -np.array(c["phi"], dtype=float)],
                         np.r_[1.0, -np.array(c["theta"], dtype=float)], nobs=c["L"] + 1)
        out.append("  {\"%s\", %s, %s, %d,\n    %s},"
                   % (c["name"], cvec(c["phi"]), cvec(c["theta"]), c["L"], cvec(ref)))
    head = ("// Peer: statsmodels %s arma_acovf (ar = [1, -phi], ma = [1, -theta]), unit\n"
            "// variance.  Tolerance: 64 eps * gamma(0).\n" % statsmodels.__version__)
    return head + "const ArmaCase kArmaCases[] = {\n" + "\n".join(out) + "\n};\n"


FARMALIK_CASES = [
    dict(name="Noise", d=0.25, phi=[], theta=[], n=30, seed=21),
    dict(name="Ar1NegativeD", d=-0.3125, phi=[0.5], theta=[], n=30, seed=22),
    dict(name="Arma11Sigma", d=0.375, phi=[0.25], theta=[-0.5], sigma=1.5, n=32, seed=23),
    dict(name="Ar2ComplexNearHalf", d=0.46875, phi=[0.75, -0.5], theta=[0.25], n=28, seed=24),
]


def farmalik_tables(mvts, report):
    out = []
    for c in FARMALIK_CASES:
        sigma = c.get("sigma", 1.0)
        n = c["n"]
        gam = sigma * arfima_reference(c["d"], c["phi"], c["theta"], n - 1)
        Sig = scipy.linalg.toeplitz(gam)
        rng = np.random.default_rng(c["seed"])
        y = np.linalg.cholesky(Sig) @ rng.standard_normal(n)
        y = np.round(y * 256.0) / 256.0
        cf = scipy.linalg.cho_factor(Sig, lower=True)
        logdet = 2.0 * math.fsum(np.log(np.diag(cf[0])))
        quad = float(y @ scipy.linalg.cho_solve(cf, y))
        ref = np.array([-0.5 * (logdet + quad), logdet, quad])
        diff = None
        if mvts:
            args = ["FARMALIK", "series=" + mat_arg(y[:, None]), "d=" + fmt(c["d"])]
            if c["phi"]:
                args.append("phi=" + mat_arg([c["phi"]]))
            if c["theta"]:
                args.append("theta=" + mat_arg([c["theta"]]))
            if "sigma" in c:
                args.append("sigma=" + fmt(sigma))
            args.append("opt=1")
            obj = run_mvts(mvts, args)
            assert obj["status"] == 0, obj
            ours = np.array([r[0] for r in obj["outputs"][0]["data"]], dtype=float)
            scale = abs(logdet) + abs(quad)
            diff = np.max(np.abs(ours - ref)) / scale / EPS
            report.append("FARMALIK %-18s ours %s peer %s diff %.2f eps of |logdet|+|quad|"
                          % (c["name"], ours, ref, diff))
        tol = ulps_needed(diff) if diff is not None else 1024
        out.append("  {\"%s\", %s, %s, %s, %s, %d, %d,\n    %s,\n    %s},"
                   % (c["name"], fmt(c["d"]), cvec(c["phi"]), cvec(c["theta"]), fmt(sigma), n,
                      tol, cvec(y), cvec(ref)))
    head = ("// Peer: %s.\n// Sigma = scipy.linalg.toeplitz of the autocovariances\n"
            "// computed as for the FARMACOV table; log det Sigma and y' Sigma^-1 y from\n"
            "// scipy.linalg.cho_factor / cho_solve.  Rows: log-likelihood, log det, quadratic\n"
            "// form.  Tolerance: |ours - table| <= tol * eps * (|log det| + |quad|).\n" % PEER)
    return head + "const FlikCase kFlikCases[] = {\n" + "\n".join(out) + "\n};\n"


# ---------------------------------------------------------------- roots

def order_roots(z):
    """Root-array order: real parts descending, a conjugate pair with the
    positive imaginary part first."""
    return sorted(z, key=lambda w: (-round(w.real, 12), -w.imag))


VTSROOT_CASES = [
    dict(name="Var1Symmetric", region="well separated", phi=[[[0.5, 0.1], [0.1, 0.5]]],
         theta=[]),
    dict(name="Varma21", region="well separated",
         phi=[[[0.5, 0.25], [-0.125, 0.375]], [[-0.25, 0.0625], [0.125, 0.1875]]],
         theta=[[[0.375, -0.25], [0.125, 0.5]]]),
    dict(name="Var2NearUnitCircle", region="near the unit circle",
         phi=[[[1.46875, 0.0625], [0.0, 1.25]], [[-0.484375, 0.0], [0.0, -0.875]]], theta=[]),
    dict(name="Var3ThreeSeries", region="well separated",
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]],
              [[-0.125, 0.0625, 0.0], [0.0, 0.1875, -0.0625], [0.0625, 0.0, -0.25]],
              [[0.0625, 0.0, 0.03125], [0.0, -0.125, 0.0], [0.03125, 0.0625, 0.125]]],
         theta=[[[0.25, 0.0, 0.125], [-0.125, 0.375, 0.0], [0.0, 0.25, -0.5]]]),
    dict(name="SubsetAr13", region="lag lists",
         phi=[[[0.375, 0.125], [0.0, 0.25]], [[0.25, 0.0], [-0.125, 0.3125]]], ar_lags=[3, 1],
         theta=[[[0.5, 0.25], [-0.25, 0.125]]], ma_lags=[2]),
]


def vtsroot_tables(mvts, report):
    out = []
    for c in VTSROOT_CASES:
        k, phi, theta, phis, thetas, sigma = normalise_case(dict(c, sigma=np.eye(2 if len(
            c["phi"][0]) == 2 else 3)))
        rows = []
        for blocks in (phis, thetas):
            if len(blocks) == 0:
                continue
            for z in order_roots(np.linalg.eigvals(companion(blocks, k))):
                rows.append([z.real, z.imag])
        rows = np.array(rows)
        diff = None
        if mvts:
            args = ["VTSROOT"]
            if phi:
                args.append("phi=" + mat_arg(np.vstack(phi)))
            if theta:
                args.append("theta=" + mat_arg(np.vstack(theta)))
            if c.get("ar_lags"):
                args.append("p=" + mat_arg(c["ar_lags"]))
            if c.get("ma_lags"):
                args.append("q=" + mat_arg(c["ma_lags"]))
            obj = run_mvts(mvts, args)
            assert obj["status"] == 0, obj
            ours = np.array(obj["outputs"][0]["data"], dtype=float)
            diff = np.max(np.abs(ours[:, :2] - rows)) / EPS
            report.append("VTSROOT %-20s max|ours-peer| %.2f eps" % (c["name"], diff))
        tol = ulps_needed(diff) if diff is not None else 64
        out.append("  {\"%s\", \"%s\", %d, %s, %s, %s, %s, %d,\n    %s},"
                   % (c["name"], c["region"], k, cvec(np.vstack(phi) if phi else []),
                      cvec(np.vstack(theta) if theta else []), cvec(c.get("ar_lags") or []),
                      cvec(c.get("ma_lags") or []), tol, cvec(rows)))
    head = ("// Peer: numpy %s linalg.eigvals of the companion matrix (first block row\n"
            "// Phi_1 .. Phi_p, identity below), each polynomial's roots in root-array order.\n"
            "// Rows: real, imaginary.  Tolerance: absolute, tol * eps.\n" % np.__version__)
    return head + "const RootCase kRootCases[] = {\n" + "\n".join(out) + "\n};\n"


POLY_CASES = [
    dict(name="CubeRootOfHalf", region="well separated", coef=[1, 0, 0, -0.5], tol=16),
    dict(name="MixedDegree5", region="well separated",
         coef=[1, -0.75, -0.4375, 0.21875, 0.0859375, -0.0234375], tol=64),
    dict(name="Degree8", region="well separated",
         coef=[1, 0.5, -0.25, 0.375, 0.125, -0.0625, 0.25, -0.125, 0.03125], tol=8192),
    dict(name="NearUnitCircle", region="near the unit circle",
         coef=[1, -1.9375, 0.9609375], tol=16),
    dict(name="ClusterPair", region="clustered roots (0.5 and 0.5 + 2^-10)",
         coef=[1, -(0.5 + 0.5 + 2 ** -10), 0.5 * (0.5 + 2 ** -10)], tol=64),
    dict(name="ClusterTriple", region="clustered roots (0.5, 0.5 +- 2^-8)",
         coef=list(np.poly([0.5 - 2 ** -8, 0.5, 0.5 + 2 ** -8])), tol=2 ** 23),
]


def poly_tables():
    out = []
    for c in POLY_CASES:
        coef = np.array(c["coef"], dtype=float)
        z = order_roots(np.roots(coef))
        rows = np.array([[w.real, w.imag] for w in z])
        out.append("  {\"%s\", \"%s\", %s, %d,\n    %s},"
                   % (c["name"], c["region"], cvec(coef), c["tol"], cvec(rows)))
    head = ("// Peer: numpy %s roots (companion eigenvalues).  Coefficients c_0 .. c_n of\n"
            "// c_0 z^n + ... + c_n, exactly representable.  Rows: real, imaginary, in the\n"
            "// root-array order.  Tolerance: absolute, tol * eps, ten times the error\n"
            "// poly_roots showed against 50-digit mpmath roots: Degree8's last two pairs\n"
            "// (0.5 +- 0.5i, -0.954 +- 0.285i) are off by 2.7e-14 and 1.1e-13 where the\n"
            "// root condition allows 2e-16; ClusterTriple by 1.5e-10 where it allows\n"
            "// 1.4e-11 (numpy: 1.2e-15 and 4e-12).  Both losses come from the\n"
            "// acceptance tests with the precision constants eta = are = mre =\n"
            "// 1.11e-15 (five units of 2^-52): at degree 4 the quadratic iteration\n"
            "// accepts 0.5 +- 0.5i with residual 9.0e-14 under a bound of 1.7e-13 (with\n"
            "// 2^-52 the bound is 3.3e-14 and one more step gives 1e-16), and the\n"
            "// deflated quadratic inherits that error; ClusterTriple's real iteration\n"
            "// accepts |p(s)| = 1.5e-15 under 1.3e-14, where |p'| is 1e-5.\n" % np.__version__)
    return head + "const PolyCase kPolyCases[] = {\n" + "\n".join(out) + "\n};\n"


# ---------------------------------------------------------------- VARMAFIT

VARMAFIT_CASES = [
    dict(name="Var1", T=100, seed=31, phi=[[[0.5, 0.125], [-0.25, 0.375]]], theta=[],
         sigma=[[1.0, 0.375], [0.375, 0.75]]),
    dict(name="Varma11", T=100, seed=32, phi=[[[0.5, 0.125], [0.25, -0.25]]],
         theta=[[[-0.375, 0.0], [0.125, 0.25]]], sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="Var2", T=120, seed=33,
         phi=[[[0.375, 0.125], [0.0625, 0.25]], [[-0.125, 0.0625], [0.0, 0.1875]]], theta=[],
         sigma=[[1.0, 0.25], [0.25, 0.5]]),
    dict(name="Var1ThreeSeries", T=80, seed=34,
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]]], theta=[],
         sigma=[[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]]),
    dict(name="Varma11MacroScale", T=100, seed=35, phi=[[[0.3, 0.05], [0.1, 0.2]]],
         theta=[[[-0.3, 0.0], [0.05, -0.2]]], sigma=[[0.64, 0.288], [0.288, 0.36]]),
]


def peer_maximum(y, p, q):
    """The peer's maximised log-likelihood without the constant: VARMAX with
    no stationarity or invertibility constraint (as VARMAFIT), BFGS from the
    peer's own start, then Nelder-Mead and BFGS again from its end until the
    value stops rising by 1e-10."""
    k = y.shape[1]
    mod = VARMAX(y, order=(p, q), trend="n", enforce_stationarity=False,
                 enforce_invertibility=False)
    res = mod.fit(disp=False, maxiter=5000, method="bfgs", gtol=1e-10)
    best = res
    for _ in range(5):
        nxt = mod.fit(start_params=best.params, disp=False, maxiter=5000, method="nm")
        nxt = mod.fit(start_params=nxt.params, disp=False, maxiter=5000, method="bfgs",
                      gtol=1e-10)
        if nxt.llf <= best.llf + 1e-10:
            break
        best = nxt
    return best.llf + 0.5 * y.shape[0] * k * math.log(2 * math.pi)


def varmafit_tables(mvts, report):
    out = []
    for c in VARMAFIT_CASES:
        k, phi, theta, phis, thetas, sigma = normalise_case(c)
        y = simulate(phis, thetas, sigma, c["T"], c["seed"])
        p, q = len(phi), len(theta)
        ll = peer_maximum(y, p, q)
        if mvts:
            args = ["VARMAFIT", "series=" + mat_arg(y), "p=%s" % " ".join(
                str(i) for i in range(1, p + 1))]
            if q:
                args.append("q=%s" % " ".join(str(i) for i in range(1, q + 1)))
            obj = run_mvts(mvts, [a for a in args if a != "p="])
            assert obj["status"] == 0, obj
            outs = {o["name"]: np.array(o["data"], dtype=float) for o in obj["outputs"]}
            largs = ["VARMALIK", "series=" + mat_arg(y)]
            if p:
                largs.append("phi=" + mat_arg(outs["ar"]))
            if q:
                largs.append("theta=" + mat_arg(outs["ma"]))
            largs.append("sigma=" + mat_arg(outs["sigma"]))
            lik = run_mvts(mvts, largs)
            ours = lik["outputs"][0]["data"][0][0]
            report.append("VARMAFIT %-18s ours %.12f  peer %.12f  ours - peer %.3g"
                          % (c["name"], ours, ll, ours - ll))
        out.append("  {\"%s\", %d, %d, %d, %d, %s,\n    %s}," % (
            c["name"], k, c["T"], p, q, cvec(y), fmt(ll)))
    head = ("// Peer: %s.\n// statsmodels' VARMAX (trend \"n\", no stationarity or invertibility\n"
            "// constraint), BFGS with gtol 1e-10 from its own start, restarted through\n"
            "// Nelder-Mead and BFGS until the value stops rising; the maximised\n"
            "// log-likelihood plus (T k / 2) log 2 pi, the scale of VARMALIK.  VARMAFIT's\n"
            "// estimate must score at least the table minus 1e-6 under VARMALIK.\n" % PEER)
    return head + "const FitCase kFitCases[] = {\n" + "\n".join(out) + "\n};\n"



# ---------------------------------------------------------------- VARMAFCST, VARMAINFO

VARMAFCST_CASES = [
    dict(name="Varma11", T=40, seed=71, h=8,
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[[[0.375, -0.25], [0.125, 0.5]]],
         sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="Var2ThreeSeriesMean", T=30, seed=72, h=6, mean=[10.0, -5.0, 0.5],
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]],
              [[-0.125, 0.0625, 0.0], [0.0, 0.1875, -0.0625], [0.0625, 0.0, -0.25]]],
         theta=[], sigma=[[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]]),
    dict(name="Vma2", T=36, seed=73, h=5,
         phi=[], theta=[[[0.5, -0.25], [0.125, 0.75]], [[-0.25, 0.0], [0.375, 0.125]]],
         sigma=[[1.0, -0.375], [-0.375, 0.75]]),
    dict(name="Varma11MissingEnd", T=40, seed=74, h=6,
         missing=[(10, 1), (17, 0), (17, 1), (18, 0), (18, 1), (39, 0)],
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[[[0.375, -0.25], [0.125, 0.5]]],
         sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="SubsetAr13Ma2", T=40, seed=75, h=7,
         phi=[[[0.375, 0.125], [0.0, 0.25]], [[0.25, 0.0], [-0.125, 0.3125]]], ar_lags=[3, 1],
         theta=[[[0.5, 0.25], [-0.25, 0.125]]], ma_lags=[2],
         sigma=[[1.25, 0.5], [0.5, 1.0]]),
    dict(name="Var2NearUnitRoot", T=40, seed=76, h=10,
         phi=[[[1.46875, 0.0625], [0.0, 1.25]], [[-0.484375, 0.0], [0.0, -0.875]]], theta=[],
         sigma=[[1.0, 0.25], [0.25, 0.5]]),
]


def model_args(phi, theta, sigma, c):
    """The phi, theta, sigma, p and q arguments of our command line."""
    args = []
    if phi:
        args.append("phi=" + mat_arg(np.vstack(phi)))
    if theta:
        args.append("theta=" + mat_arg(np.vstack(theta)))
    args.append("sigma=" + mat_arg(sigma))
    if c.get("ar_lags"):
        args.append("p=" + mat_arg(c["ar_lags"]))
    if c.get("ma_lags"):
        args.append("q=" + mat_arg(c["ma_lags"]))
    return args


def peer_forecast(y, phis, thetas, sigma, mean, h):
    """statsmodels' get_forecast of y - mean, mean added back; a row with a
    missing value is wholly missing for the peer, as for the likelihood."""
    endog = y - mean
    endog[np.any(np.isnan(endog), axis=1), :] = np.nan
    mod, params = varmax_model(endog, list(phis), list(thetas), sigma)
    assert mod.ssm.initialization.initialization_type == "stationary"
    mod.ssm.tolerance = 0.0  # every step filtered in full
    fc = mod.filter(params).get_forecast(h)
    return np.asarray(fc.predicted_mean) + mean, np.asarray(fc.var_pred_mean).reshape(-1, len(mean))


def varmafcst_tables(mvts, report):
    out = []
    for c in VARMAFCST_CASES:
        k, phi, theta, phis, thetas, sigma = normalise_case(c)
        mean = np.array(c.get("mean", [0.0] * k))
        y = simulate(phis, thetas, sigma, c["T"], c["seed"]) + mean
        y = np.round(y * 256.0) / 256.0
        for (t, j) in c.get("missing", []):
            y[t, j] = np.nan
        fc, mse = peer_forecast(y, phis, thetas, sigma, mean, c["h"])
        if mvts:
            args = ["VARMAFCST", "series=" + mat_arg(y)] + model_args(phi, theta, sigma, c)
            args += ["h=%d" % c["h"], "mean=" + mat_arg(mean)]
            obj = run_mvts(mvts, args)
            assert obj["status"] == 0, obj
            ours = {o["name"]: np.array(o["data"], dtype=float) for o in obj["outputs"]}
            df = np.max(np.abs(ours["forecast"] - fc)) / np.max(np.abs(fc))
            dm = np.max(np.abs(ours["mse"] - mse)) / np.max(np.abs(mse))
            report.append("VARMAFCST %-20s max|ours-peer|/max|peer|: forecast %.2g, mse %.2g"
                          % (c["name"], df, dm))
        out.append("  {\"%s\", %d, %d, %d, %s, %s, %s, %s, %s, %s, %s,\n    %s,\n    %s},"
                   % (c["name"], k, c["T"], c["h"], cvec(y),
                      cvec(np.vstack(phi) if phi else []), cvec(np.vstack(theta) if theta else []),
                      cvec(sigma), cvec(c.get("ar_lags") or []), cvec(c.get("ma_lags") or []),
                      cvec(mean), cvec(fc), cvec(mse)))
    head = ("// Peer: %s.\n// statsmodels' VARMAX (MA blocks entered as -Theta, stationary start, every\n"
            "// step filtered in full) get_forecast(h) of the series less its mean:\n"
            "// predicted_mean plus the mean, and var_pred_mean (the MSE matrices by horizon);\n"
            "// a row with a missing value is wholly missing for the peer.  Tolerance: 1e-8\n"
            "// relative to the largest |value| of each output.\n" % PEER)
    return head + "const FcstCase kFcstCases[] = {\n" + "\n".join(out) + "\n};\n"


# The standard-error cases: a series from our VARMASIM (phi, theta, sigma,
# n = T, seed), our VARMAFIT's estimate on it, and the peer's standard errors
# of the AR and MA entries at that estimate.  "oim" is statsmodels' default
# information matrix (Harvey's formula: the expected information of the
# innovations' derivatives, the second derivatives left out), which matches
# the observed information of a pure VAR but, with an MA part, only up to
# the sampling noise of O(T^-1/2) (VARMA(1,1), k = 2: 5-20 percent at
# T = 500, 2-7 at T = 1000, under 1.6 at T = 10^4); "approx" is its
# numerical Hessian of the same likelihood, the observed information itself.
VARMAINFO_CASES = [
    dict(name="Var1", T=500, seed=81, cov="oim", tol=0.02,
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[], sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="Var2ThreeSeries", T=500, seed=82, cov="oim", tol=0.02,
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]],
              [[-0.125, 0.0625, 0.0], [0.0, 0.1875, -0.0625], [0.0625, 0.0, -0.25]]],
         theta=[], sigma=[[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]]),
    dict(name="Varma11Long", T=10000, seed=83, cov="oim", tol=0.02,
         phi=[[[0.75, 0.0], [0.125, 0.5]]], theta=[[[-0.5, 0.0], [0.0, -0.375]]],
         sigma=[[1.0, 0.25], [0.25, 0.5]]),
    dict(name="Varma11", T=300, seed=84, cov="approx", tol=1e-4,
         phi=[[[0.5, 0.125], [0.25, -0.25]]], theta=[[[0.375, -0.25], [0.125, 0.5]]],
         sigma=[[2.0, 0.75], [0.75, 1.5]]),
    dict(name="Varma11ThreeSeries", T=600, seed=85, cov="approx", tol=1e-3,
         phi=[[[0.375, 0.125, -0.0625], [0.0625, 0.25, 0.125], [-0.125, 0.0, 0.5]]],
         theta=[[[0.25, 0.0, 0.125], [-0.125, 0.375, 0.0], [0.0, 0.25, -0.5]]],
         sigma=[[1.5, 0.25, -0.5], [0.25, 1.0, 0.125], [-0.5, 0.125, 2.0]]),
]


def peer_standard_errors(y, ar, ma, sigma, k, cov):
    """The peer's standard errors of the AR entries, then the MA entries
    (block by block, row-major), at our estimate."""
    mod, params = varmax_model(y, list(ar), list(ma), sigma)
    assert mod.ssm.initialization.initialization_type == "stationary"
    mod.ssm.tolerance = 0.0
    res = mod.smooth(params, cov_type=cov)
    names = mod.param_names
    se = []
    for which, blocks in (("", ar), ("e", ma)):
        for lag in range(1, len(blocks) + 1):
            for i in range(k):
                for j in range(k):
                    nm = ("L%d.e(y%d).y%d" if which else "L%d.y%d.y%d") % (lag, j + 1, i + 1)
                    se.append(res.bse[names.index(nm)])
    return np.array(se)


def varmainfo_tables(mvts, report):
    out = []
    for c in VARMAINFO_CASES:
        k, phi, theta, phis, thetas, sigma = normalise_case(c)
        sim = ["VARMASIM"] + model_args(phi, theta, sigma, c) + ["n=%d" % c["T"],
                                                                  "seed=%d" % c["seed"]]
        y = np.array(run_mvts(mvts, sim)["outputs"][0]["data"], dtype=float)
        with tempfile.NamedTemporaryFile("w", suffix=".csv", delete=False) as f:
            np.savetxt(f, y, delimiter=",", fmt="%.17g")
        p, q = len(phi), len(theta)
        fit = ["VARMAFIT", "series=@" + f.name, "p=" + " ".join(map(str, range(1, p + 1)))]
        if q:
            fit.append("q=" + " ".join(map(str, range(1, q + 1))))
        obj = run_mvts(mvts, fit)
        assert obj["status"] == 0, obj
        est = {o["name"]: np.array(o["data"], dtype=float) for o in obj["outputs"]}
        ar = est["ar"].reshape(p, k, k)
        ma = est["ma"].reshape(q, k, k) if q else np.zeros((0, k, k))
        se = peer_standard_errors(y, ar, ma, est["sigma"], k, c["cov"])
        info = ["VARMAINFO", "series=@" + f.name, "phi=" + mat_arg(est["ar"]),
                "sigma=" + mat_arg(est["sigma"])] + (["theta=" + mat_arg(est["ma"])] if q else [])
        ours = run_mvts(mvts, info)
        os.unlink(f.name)
        cov = np.array(ours["outputs"][1]["data"], dtype=float)
        rel = np.max(np.abs(np.sqrt(np.diag(cov))[:len(se)] / se - 1))
        report.append("VARMAINFO %-20s max|ours/peer - 1| = %.3g (peer cov_type %s)"
                      % (c["name"], rel, c["cov"]))
        out.append("  {\"%s\", \"%s\", %d, %d, %d, %s, %s, %s, %s, %s,\n    %s, %s, %s,\n    %s},"
                   % (c["name"], c["cov"], k, c["T"], c["seed"], fmt(c["tol"]),
                      cvec(np.vstack(phi) if phi else []),
                      cvec(np.vstack(theta) if theta else []), cvec(sigma),
                      fmt(math.fsum(y.ravel())), cvec(est["ar"]),
                      cvec(est["ma"] if q else []), cvec(est["sigma"]), cvec(se)))
    head = ("// Peer: %s.\n// Series: our VARMASIM(phi, theta, sigma, n = T, seed) (its sum is the\n"
            "// checksum); estimate: our VARMAFIT on it (the maximum of our likelihood); peer:\n"
            "// statsmodels' VARMAX at that estimate (MA blocks entered as -Theta, sigma by its\n"
            "// Cholesky factor, stationary start), res.bse of the AR and MA entries for the\n"
            "// cov_type named (at a maximum that block of the inverse Hessian does not depend\n"
            "// on how sigma is parametrised).  Tolerance: |ours / peer - 1| <= tol.\n" % PEER)
    return head + "const SeCase kSeCases[] = {\n" + "\n".join(out) + "\n};\n"


# ---------------------------------------------------------------- output

def replace_section(path, text):
    with open(path) as f:
        src = f.read()
    begin = "// BEGIN GENERATED TABLE (tests/reference/make_tables.py)\n"
    end = "// END GENERATED TABLE\n"
    i = src.index(begin) + len(begin)
    j = src.index(end)
    with open(path, "w") as f:
        f.write(src[:i] + text + src[j:])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--write", action="store_true")
    ap.add_argument("--mvts", default=None)
    a = ap.parse_args()
    report = []
    sections = {
        "tests/varma/reference_test.cpp": varmacov_tables(a.mvts, report),
        "tests/varma/varmalik_reference_test.cpp": varmalik_tables(a.mvts, report),
        "tests/farma/reference_test.cpp": farmacov_tables(a.mvts, report) + "\n" + arma_tables()
        + "\n" + farmalik_tables(a.mvts, report),
        "tests/roots/reference_test.cpp": vtsroot_tables(a.mvts, report) + "\n" + poly_tables(),
        "tests/fit/reference_test.cpp": varmafit_tables(a.mvts, report),
    }
    if a.mvts:  # the VARMAINFO cases run our VARMASIM and VARMAFIT
        sections["tests/stats/varma_reference_test.cpp"] = (
            varmafcst_tables(a.mvts, report) + "\n" + varmainfo_tables(a.mvts, report))
    else:
        print("tests/stats/varma_reference_test.cpp needs --mvts: skipped", file=sys.stderr)
    for line in report:
        print(line, file=sys.stderr)
    for path, text in sections.items():
        if a.write:
            replace_section(os.path.join(ROOT, path), text)
        else:
            print("// ----", path)
            print(text)


if __name__ == "__main__":
    main()
