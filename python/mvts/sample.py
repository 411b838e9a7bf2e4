"""Sample statistics of a series: auto- and cross-correlations with their
bands, the Ljung-Box portmanteau test and the information criteria.

The sample covariances come from the module (VTSACF); the bands, the
partial autocorrelations, the test and the criteria are computed here.

    acf(x, nlags)       sample autocorrelations r(0..nlags), Bartlett's band
    pacf(x, nlags)      sample partial autocorrelations, the band +-z/sqrt(n)
    ccf(x, y, nlags)    sample cross-correlations at lags -nlags..nlags
    ljung_box(x, lags)  Ljung-Box Q statistics and p-values
    information_criteria(llf, nobs, k)  AIC, BIC, HQIC

The sample autocovariance is the biased one of Box and Jenkins,
    c(h) = (1/n) sum_{t=1}^{n-h} (x_t - xbar)(x_{t+h} - xbar),
so that c(0), c(1), ... is a positive semi-definite sequence; r(h) = c(h)/c(0).
"""

import math
import numbers

import numpy as np

__all__ = ["acf", "pacf", "ccf", "ljung_box", "information_criteria"]


def normal_quantile(p):
    """The standard normal quantile: Acklam's rational approximation (relative
    error 1.2e-9) refined by one Halley step on Phi(x) - p, which leaves an
    error near the rounding of Phi (tests: against scipy to 1e-14)."""
    if not 0.0 < p < 1.0:
        raise ValueError(f"a probability strictly between 0 and 1, not {p}")
    a = (-3.969683028665376e+01, 2.209460984245205e+02, -2.759285104469687e+02,
         1.383577518672690e+02, -3.066479806614716e+01, 2.506628277459239e+00)
    b = (-5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
         6.680131188771972e+01, -1.328068155288572e+01)
    c = (-7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
         -2.549732539343734e+00, 4.374664141464968e+00, 2.938163982698783e+00)
    d = (7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
         3.754408661907416e+00)
    q = min(p, 1.0 - p)
    if q < 0.02425:
        r = math.sqrt(-2.0 * math.log(q))
        x = (((((c[0] * r + c[1]) * r + c[2]) * r + c[3]) * r + c[4]) * r + c[5]) / \
            ((((d[0] * r + d[1]) * r + d[2]) * r + d[3]) * r + 1.0)
    else:
        r = q - 0.5
        s = r * r
        x = (((((a[0] * s + a[1]) * s + a[2]) * s + a[3]) * s + a[4]) * s + a[5]) * r / \
            (((((b[0] * s + b[1]) * s + b[2]) * s + b[3]) * s + b[4]) * s + 1.0)
    # One Halley step on Phi(x) - q.
    e = 0.5 * math.erfc(-x / math.sqrt(2.0)) - q
    u = e * math.sqrt(2.0 * math.pi) * math.exp(x * x / 2.0)
    x = x - u / (1.0 + x * u / 2.0)
    return x if p < 0.5 else -x


def chi2_sf(x, df):
    """P(X > x) for X chi-squared with df degrees of freedom (df > 0)."""
    # Q(df/2, x/2), the regularised upper incomplete gamma function, by its
    # series (x < a + 1) or its continued fraction (Numerical Recipes 6.2).
    a, z = df / 2.0, x / 2.0
    if z <= 0:
        return 1.0
    lg = math.lgamma(a)
    if z < a + 1.0:
        term = total = 1.0 / a
        ap = a
        for _ in range(10000):
            ap += 1.0
            term *= z / ap
            total += term
            if abs(term) < abs(total) * 1e-16:
                break
        return 1.0 - total * math.exp(-z + a * math.log(z) - lg)
    b = z + 1.0 - a
    c = 1.0 / 1e-300
    dd = 1.0 / b
    h = dd
    for i in range(1, 10000):
        an = -i * (i - a)
        b += 2.0
        dd = an * dd + b
        dd = 1e-300 if abs(dd) < 1e-300 else dd
        c = b + an / c
        c = 1e-300 if abs(c) < 1e-300 else c
        dd = 1.0 / dd
        step = dd * c
        h *= step
        if abs(step - 1.0) < 1e-16:
            break
    return math.exp(-z + a * math.log(z) - lg) * h


def normal_sf(z):
    """P(Z > z) for a standard normal Z."""
    return 0.5 * math.erfc(z / math.sqrt(2.0))


def _series(x, name, k=None):
    """x as a float array (n,) or (n, k), checked: finite values, enough of
    them.  Errors name the argument."""
    try:
        a = np.asarray(x, dtype=float)
    except (TypeError, ValueError) as e:
        raise TypeError(f"{name}: a series of numbers, not {type(x).__name__} ({e})") from None
    if a.ndim == 2 and a.shape[1] == 1 and k == 1:
        a = a[:, 0]
    if k == 1 and a.ndim != 1:
        raise ValueError(f"{name}: one series (a 1-d array), not an array of shape {a.shape}")
    if a.ndim not in (1, 2):
        raise ValueError(f"{name}: a series is 1-d or 2-d (T x k), not {a.ndim}-d")
    if a.shape[0] < 2:
        raise ValueError(f"{name}: at least 2 observations are needed, {a.shape[0]} given")
    if not np.all(np.isfinite(a)):
        raise ValueError(f"{name}: the series holds missing or infinite values")
    return a


def _nlags(nlags, n, name="nlags"):
    if nlags is None:
        return int(min(n - 1, 10 * math.log10(n))) if n > 1 else 0
    if isinstance(nlags, bool) or not isinstance(nlags, numbers.Integral) or nlags < 0:
        raise ValueError(f"{name}: a whole number >= 0, not {nlags!r}")
    if nlags >= n:
        raise ValueError(f"{name}: at most n - 1 = {n - 1} for a series of {n} values, "
                         f"not {nlags}")
    return int(nlags)


def _alpha(alpha):
    if not (isinstance(alpha, numbers.Real) and 0.0 < float(alpha) < 1.0):
        raise ValueError(f"alpha: a level strictly between 0 and 1, not {alpha!r}")
    return float(alpha)


def _vtsacf(values, nlags, session=None):
    """C(0..nlags) of a T x k series from VTSACF, as an array (nlags + 1, k, k)
    with C(h)[i, j] = (1/T) sum_t (y_t,i - m_i)(y_{t+h},j - m_j)."""
    import mvts
    s = session if session is not None else mvts.default_session()
    a = values if values.ndim == 2 else values[:, None]
    T, k = a.shape
    lag = max(nlags, 1)  # VTSACF's lag is at least 1
    cov = np.asarray(s.vtsacf(a, lag=lag).cov, dtype=float).reshape(lag + 1, k, k)
    return cov[:nlags + 1]


def autocovariances(x, nlags, session=None):
    """c(0..nlags) of a 1-d series, the biased estimator (divisor n), by VTSACF."""
    return _vtsacf(np.asarray(x, dtype=float), nlags, session)[:, 0, 0]


def _frame(lags, column, values, se, z, alpha):
    import pandas as pd
    frame = pd.DataFrame({column: values, "se": se, "lower": -z * se, "upper": z * se},
                         index=pd.Index(lags, name="lag"))
    frame.attrs["alpha"] = alpha
    return frame


def acf(x, nlags=None, alpha=0.05):
    """Sample autocorrelations r(h) = c(h)/c(0), h = 0..nlags, with their band.

    x      a series (1-d array, list, or pandas Series)
    nlags  highest lag (default min(n - 1, 10 log10 n), as statsmodels)
    alpha  the band is the 1 - alpha interval of r(h) around 0

    Returns a DataFrame indexed by lag with the columns
      acf           r(h)
      se            Bartlett's standard error of r(h) under the hypothesis that
                    the autocorrelations beyond lag h - 1 are 0:
                    se(h)^2 = (1 + 2 sum_{j<h} r(j)^2) / n; 0 at lag 0
      lower, upper  -+ z_{1-alpha/2} se: the band of the sample statistic
    The values equal statsmodels' ``acf(x, adjusted=False)``, and ``upper``
    the half-width of its interval."""
    a = _series(x, "x", k=1)
    n = a.shape[0]
    nlags = _nlags(nlags, n)
    z = normal_quantile(1.0 - _alpha(alpha) / 2.0)
    c = autocovariances(a, nlags)
    if c[0] <= 0:
        raise ValueError("x: the series is constant: its autocorrelations are not defined")
    r = c / c[0]
    se = np.zeros(nlags + 1)
    if nlags >= 1:
        se[1:] = np.sqrt((1.0 + 2.0 * np.concatenate([[0.0], np.cumsum(r[1:nlags] ** 2)])) / n)
    return _frame(np.arange(nlags + 1), "acf", r, se, z, alpha)


def durbin_levinson_pacf(r):
    """phi_{hh}, h = 1..len(r) - 1, from autocorrelations r(0..L) by the
    Durbin-Levinson recursion:
      phi_hh = (r(h) - sum_j phi_{h-1,j} r(h-j)) / (1 - sum_j phi_{h-1,j} r(j))
      phi_hj = phi_{h-1,j} - phi_hh phi_{h-1,h-j}."""
    L = len(r) - 1
    out = np.empty(L)
    phi = np.zeros(0)
    v = 1.0
    for h in range(1, L + 1):
        k = (r[h] - phi @ r[h - 1:0:-1]) / v if h > 1 else r[1]
        phi = np.concatenate([phi - k * phi[::-1], [k]])
        v *= 1.0 - k * k
        out[h - 1] = k
    return out


def pacf(x, nlags=None, alpha=0.05):
    """Sample partial autocorrelations phi_hh, h = 0..nlags (1 at lag 0), by
    the Durbin-Levinson recursion over the sample autocorrelations (the
    Yule-Walker estimates with the biased autocovariances; |phi_hh| < 1).

    Returns a DataFrame indexed by lag with the columns pacf, se (1/sqrt(n),
    the standard error under white noise; 0 at lag 0), lower and upper (-+
    z_{1-alpha/2} se).  The values equal statsmodels'
    ``pacf(x, method="ldb")`` (= "ywm")."""
    a = _series(x, "x", k=1)
    n = a.shape[0]
    nlags = _nlags(nlags, n)
    z = normal_quantile(1.0 - _alpha(alpha) / 2.0)
    c = autocovariances(a, nlags)
    if c[0] <= 0:
        raise ValueError("x: the series is constant: its autocorrelations are not defined")
    values = np.concatenate([[1.0], durbin_levinson_pacf(c / c[0])])
    se = np.full(nlags + 1, 1.0 / math.sqrt(n))
    se[0] = 0.0
    return _frame(np.arange(nlags + 1), "pacf", values, se, z, alpha)


def ccf(x, y, nlags=None, alpha=0.05):
    """Sample cross-correlations r_xy(h) = c_xy(h) / sqrt(c_xx(0) c_yy(0)) at
    lags h = -nlags..nlags, where
      c_xy(h) = (1/n) sum_t (x_{t+h} - xbar)(y_t - ybar),
    so r_xy(h) estimates corr(x_{t+h}, y_t): a positive lag has x following y.

    Returns a DataFrame indexed by lag with the columns ccf, se (1/sqrt(n),
    the standard error when x and y are independent and one of them white
    noise), lower and upper (-+ z_{1-alpha/2} se).  For h >= 0 the values
    equal statsmodels' ``ccf(x, y, adjusted=False)``."""
    a = _series(x, "x", k=1)
    b = _series(y, "y", k=1)
    if a.shape[0] != b.shape[0]:
        raise ValueError(f"y: {b.shape[0]} values where x has {a.shape[0]}")
    n = a.shape[0]
    nlags = _nlags(nlags, n)
    z = normal_quantile(1.0 - _alpha(alpha) / 2.0)
    C = _vtsacf(np.column_stack([a, b]), nlags)
    scale = math.sqrt(C[0, 0, 0] * C[0, 1, 1])
    if scale <= 0:
        raise ValueError("x, y: a constant series has no cross-correlations")
    # corr(x_{t+h}, y_t) is C(h)[y, x] for h >= 0 and C(-h)[x, y] for h < 0.
    values = np.concatenate([C[:0:-1, 0, 1], C[:, 1, 0]]) / scale
    se = np.full(2 * nlags + 1, 1.0 / math.sqrt(n))
    return _frame(np.arange(-nlags, nlags + 1), "ccf", values, se, z, alpha)


def ljung_box(x, lags=None, model_df=0):
    """The Ljung-Box test of no autocorrelation at lags 1..h, for each h in
    1..lags:
      Q(h) = n (n + 2) sum_{j=1}^{h} r(j)^2 / (n - j),
    referred to chi-squared with h - model_df degrees of freedom (the
    p-value is NaN where that is not positive).

    x         a series (residuals)
    lags      the largest h (default min(10, n // 5), as statsmodels' results
              use), or a list of the h wanted
    model_df  the number of estimated parameters the degrees of freedom lose

    Returns a DataFrame indexed by lag with the columns lb_stat, lb_pvalue
    and df, the names and values of statsmodels' ``acorr_ljungbox(x, lags,
    model_df=model_df)``."""
    import pandas as pd

    a = _series(x, "x", k=1)
    n = a.shape[0]
    if lags is None:
        wanted = np.arange(1, max(1, min(10, n // 5)) + 1)
    elif isinstance(lags, numbers.Integral) and not isinstance(lags, bool):
        _nlags(int(lags), n, "lags")
        if lags < 1:
            raise ValueError(f"lags: a whole number >= 1, not {lags}")
        wanted = np.arange(1, int(lags) + 1)
    else:
        wanted = np.asarray(lags)
        if wanted.ndim != 1 or wanted.size == 0 or not np.all(wanted == np.floor(wanted)) \
                or np.any(wanted < 1) or np.any(wanted >= n):
            raise ValueError(f"lags: whole numbers between 1 and n - 1 = {n - 1}, not {lags!r}")
        wanted = wanted.astype(int)
    if isinstance(model_df, bool) or not isinstance(model_df, numbers.Integral) or model_df < 0:
        raise ValueError(f"model_df: a whole number >= 0, not {model_df!r}")
    L = int(wanted.max())
    c = autocovariances(a, L)
    if c[0] <= 0:
        raise ValueError("x: the series is constant: its autocorrelations are not defined")
    r = c[1:] / c[0]
    q = n * (n + 2.0) * np.cumsum(r ** 2 / (n - np.arange(1, L + 1)))
    stat = q[wanted - 1]
    df = wanted - int(model_df)
    p = np.array([chi2_sf(s, f) if f > 0 else math.nan for s, f in zip(stat, df)])
    return pd.DataFrame({"lb_stat": stat, "lb_pvalue": p, "df": df},
                        index=pd.Index(wanted, name="lag"))


def information_criteria(llf, nobs, k):
    """(aic, bic, hqic) of a log-likelihood llf with k estimated parameters
    from nobs observations:
      AIC = -2 llf + 2 k,  BIC = -2 llf + k ln nobs,  HQIC = -2 llf + 2 k ln ln nobs."""
    return (-2.0 * llf + 2.0 * k, -2.0 * llf + k * math.log(nobs),
            -2.0 * llf + 2.0 * k * math.log(math.log(nobs)))
