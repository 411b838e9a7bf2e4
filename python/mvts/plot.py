"""Pictures of models and series (matplotlib, imported on first use).

Each function returns the matplotlib Figure it drew on and takes an optional
``ax``: an Axes, or for several panels an array of them; without one it
makes a new figure with ``matplotlib.pyplot``.  ``session`` picks the mvts
session that computes what the picture needs (default: the default one).
Series may be arrays or pandas objects with any index statsmodels accepts
(a DatetimeIndex, a PeriodIndex of any frequency, a RangeIndex or whole
numbers); a PeriodIndex is drawn at the start of each period.

roots(model)           AR and MA roots on the unit circle (VTSROOT)
autocov(series, model) sample cross-covariances beside the model's, with
                       the 95% band of the sample statistic (VARMACOV or
                       FARMACOV; FARMASIM for an ARFIMA model's band)
series(y)              the components of a series in stacked panels
acf(x), pacf(x)        sample (partial) autocorrelations with their bands
ccf(x, y)              sample cross-correlations with their band
diagnostics(results)   standardised residuals, histogram, Q-Q, correlogram
forecast(results, h)   a fan chart of the h-step forecasts
"""

import math

import numpy as np

import mvts
from mvts import _data, sample as _sample_stats

__all__ = ["roots", "autocov", "series", "acf", "pacf", "ccf", "diagnostics", "forecast"]


def _pyplot():
    import matplotlib.pyplot as plt
    return plt


def _axes_grid(ax, rows, cols, size):
    """The figure and a rows x cols array of axes: the caller's, or new."""
    if ax is None:
        fig, grid = _pyplot().subplots(rows, cols, squeeze=False, sharex=True,
                                       figsize=(size[0] * cols, size[1] * rows))
        return fig, grid
    grid = np.asarray(ax, dtype=object).reshape(-1)
    if grid.size != rows * cols:
        raise ValueError(f"ax: this picture needs {rows * cols} axes, {grid.size} given")
    return grid[0].figure, grid.reshape(rows, cols)


def _session(session):
    return session if session is not None else mvts.default_session()


def _given(x):
    """Whether a coefficient output holds coefficients (FARMAFIT reports an
    absent part as one missing value)."""
    if x is None:
        return False
    a = np.asarray(x, dtype=float)
    return a.size > 0 and not np.isnan(a).all()


def _pair_duplicates(z):
    """Each value once, from a list in which every value appears twice (to
    rounding): greedy nearest-partner matching."""
    z = list(z)
    kept = []
    while z:
        a = z.pop(0)
        j = min(range(len(z)), key=lambda i: abs(z[i] - a)) if z else None
        if j is not None:
            z.pop(j)
        kept.append(a)
    return np.array(kept)


def _model_roots(phi, theta, p, q, session):
    """AR and MA inverse roots (the companion eigenvalues) from VTSROOT.

    VTSROOT takes k x k blocks with k >= 2; a univariate polynomial goes in
    as the blocks phi_j I (2 x 2), whose companion matrix has each root of
    the univariate one twice, and each pair is reduced to one root."""
    s = _session(session)
    univariate = any(c is not None and np.ndim(c) < 2 for c in (phi, theta) if _given(c))
    blocks, orders = [], []
    for coef, lags in ((phi, p), (theta, q)):
        if not _given(coef):
            blocks.append(None)
            orders.append(0)
            continue
        c = np.asarray(coef, dtype=float)
        if univariate:
            c = np.kron(c.reshape(-1, 1), np.eye(2))
            k = 2
        else:
            k = c.shape[1]
        blocks.append(c)
        n = c.shape[0] // k
        orders.append(k * (int(np.max(lags)) if lags is not None else n))
    table = s.vtsroot(blocks[0], blocks[1], p, q)
    z = table[:, 0] + 1j * table[:, 1]
    ar, ma = z[:orders[0]], z[orders[0]:orders[0] + orders[1]]
    if univariate:
        ar, ma = _pair_duplicates(ar), _pair_duplicates(ma)
    return ar, ma


def _coefficients(model, phi, theta, p, q):
    if model is not None:
        phi = getattr(model, "ar", None) if phi is None else phi
        theta = getattr(model, "ma", None) if theta is None else theta
    return phi, theta, p, q


def roots(model=None, *, phi=None, theta=None, p=None, q=None, ax=None, session=None):
    """The AR and MA roots of a VARMA or ARFIMA model on the unit circle.

    model     a VarmafitResult or FarmafitResult (its ar and ma), or None
              with phi and theta given
    phi, theta, p, q
              as for VTSROOT: (k*p) x k blocks, or vectors for a univariate
              model, and their lag lists
    The roots shown are those VTSROOT reports, the eigenvalues of the
    companion matrices (the reciprocals of the polynomials' zeros): the AR
    part is stationary when every AR root lies inside the circle, the MA
    part invertible when every MA root does."""
    phi, theta, p, q = _coefficients(model, phi, theta, p, q)
    if not (_given(phi) or _given(theta)):
        raise ValueError("roots: the model has neither AR nor MA coefficients")
    ar, ma = _model_roots(phi, theta, p, q, session)
    fig, grid = _axes_grid(ax, 1, 1, (5.0, 5.0))
    a = grid[0, 0]
    t = np.linspace(0.0, 2.0 * math.pi, 361)
    a.plot(np.cos(t), np.sin(t), color="0.5", lw=1.0, ls="--", label="unit circle")
    a.axhline(0.0, color="0.85", lw=0.8)
    a.axvline(0.0, color="0.85", lw=0.8)
    if ar.size:
        inside = bool(np.all(np.abs(ar) < 1.0))
        a.plot(ar.real, ar.imag, "x", ms=9, mew=2, color="tab:blue",
               label=f"AR ({'stationary' if inside else 'not stationary'})")
    if ma.size:
        inside = bool(np.all(np.abs(ma) < 1.0))
        a.plot(ma.real, ma.imag, "o", ms=9, mfc="none", mew=2, color="tab:red",
               label=f"MA ({'invertible' if inside else 'not invertible'})")
    reach = max([1.1] + [1.1 * abs(v) for v in np.concatenate([ar, ma])])
    a.set_xlim(-reach, reach)
    a.set_ylim(-reach, reach)
    a.set_aspect("equal")
    a.set_xlabel("real part")
    a.set_ylabel("imaginary part")
    a.set_title("Inverse roots of the AR and MA polynomials")
    a.legend(loc="upper right", fontsize="small")
    fig.tight_layout()
    return fig


def _model_dict(model):
    """FARMACOV or VARMACOV arguments of a model: a fit's named tuple, a
    results object of mvts.ARFIMA or mvts.VARMA, or a dict of them."""
    from mvts import models
    if isinstance(model, models.ARFIMAResults):
        phi, theta, sigma, p, q = model._model_args()
        return {"d": model.d, "phi": phi, "theta": theta, "sigma": sigma, "p": p, "q": q}
    if isinstance(model, models.VARMAResults):
        phi, theta, sigma, p, q = model._model_args()
        return {"phi": phi, "theta": theta, "sigma": sigma, "p": p, "q": q}
    if isinstance(model, mvts.FarmafitResult):
        return {"d": model.d, "phi": model.ar if _given(model.ar) else None,
                "theta": model.ma if _given(model.ma) else None, "sigma": model.sigma}
    if isinstance(model, mvts.VarmafitResult):
        return {"phi": model.ar, "theta": model.ma, "sigma": model.sigma}
    return dict(model)


def _theoretical(model, lag, k, session):
    """Gamma(0) .. Gamma(lag) of the model, as an array (lag + 1, k, k)."""
    s = _session(session)
    model = _model_dict(model)
    if "d" in model:
        cov = s.farmacov(**model, lag=lag)
        return np.asarray(cov, dtype=float).reshape(lag + 1, 1, 1)
    cov = s.varmacov(**model, lag=lag)
    return np.asarray(cov, dtype=float).reshape(lag + 1, k, k)


def _sample(y, lag):
    """c_ij(h) = (1/T) sum_t (y_t,i - mean_i)(y_t+h,j - mean_j), h = 0..lag,
    as an array (lag + 1, k, k); missing values drop out of the sums."""
    T = y.shape[0]
    d = y - np.nanmean(y, axis=0)
    d = np.where(np.isnan(d), 0.0, d)
    return np.stack([d[:T - h].T @ d[h:] / T for h in range(lag + 1)])


def _bartlett_sd(gamma, lag, T):
    """Approximate standard deviations of the sample cross-covariances under
    the model, by Bartlett's formula for a Gaussian process:
      T Var c_ij(h) ~ sum_m [ c_ii(m) c_jj(m) + c_ij(m + h) c_ji(m - h) ]
    with c_ij(-h) = c_ji(h), the sum over |m| <= M = len(gamma) - 1 - lag
    (a truncation; for long memory the sum converges slowly and the bands
    are too narrow)."""
    M = gamma.shape[0] - 1 - lag
    k = gamma.shape[1]

    def c(i, j, h):
        return gamma[h, i, j] if h >= 0 else gamma[-h, j, i]
    sd = np.empty((lag + 1, k, k))
    for i in range(k):
        for j in range(k):
            for h in range(lag + 1):
                v = sum(c(i, i, m) * c(j, j, m) + c(i, j, m + h) * c(j, i, m - h)
                        for m in range(-M, M + 1))
                sd[h, i, j] = math.sqrt(max(v, 0.0) / T)
    return sd


def expected_sample_autocov(gamma, T, lag):
    """E c(h), h = 0..lag, of the sample autocovariances (mean removed,
    divisor T) of T values of a stationary process with autocovariances
    gamma(0..T-1):
      E c(h) = (1/T) [ (T - h) (gamma(h) + V) - sum_{t=1}^{T-h} (a_t + a_{t+h}) ],
    a_t = cov(y_t, ybar) = (1/T) sum_u gamma(t - u), V = var(ybar) = mean(a_t).
    The sum of a_t and a_{t+h} is what makes the sample values of a long-
    memory series fall below gamma(h)."""
    g = np.asarray(gamma, dtype=float)[:T]
    C = np.cumsum(g)
    t = np.arange(1, T + 1)
    # a_t = (sum_{j=0}^{t-1} gamma(j) + sum_{j=1}^{T-t} gamma(j)) / T
    a = (C[t - 1] + C[T - t] - g[0]) / T
    V = a.mean()
    A = np.concatenate([[0.0], np.cumsum(a)])
    h = np.arange(lag + 1)
    sums = A[T - h] + (A[T] - A[h])
    return ((T - h) * (g[h] + V) - sums) / T


def _sample_autocov_fft(x, lag):
    """c(0..lag) of each row of x (R x T) by the FFT, mean removed, divisor T."""
    T = x.shape[1]
    d = x - x.mean(axis=1, keepdims=True)
    size = 1 << int(2 * T - 1).bit_length()
    f = np.fft.rfft(d, size, axis=1)
    return np.fft.irfft(f * np.conj(f), size, axis=1)[:, :lag + 1] / T


def simulated_band(model, T, lag, level=0.95, replications=200, seed=1):
    """The pointwise ``level`` band of the sample autocovariances c(0..lag)
    of T values of an ARFIMA model: quantiles over ``replications`` series
    drawn by FARMASIM (seeded, so the band is the same on every call).
    Returns (lower, upper)."""
    m = _model_dict(model)
    s = mvts.Session()  # its own stream: the caller's sessions are not advanced
    draws = np.empty((replications, T))
    for r in range(replications):
        draws[r] = s.farmasim(m["d"], m.get("phi"), m.get("theta"), None, m.get("sigma"), T,
                              m.get("p"), m.get("q"), seed=-seed if r == 0 else None)
    c = _sample_autocov_fft(draws, lag)
    tail = (1.0 - level) / 2.0
    return np.quantile(c, tail, axis=0), np.quantile(c, 1.0 - tail, axis=0)


def autocov(series, model, lag=None, *, ax=None, session=None, replications=200, seed=1):
    """Sample cross-covariances of a series beside the theoretical ones of a
    model, one panel per pair of components, with a 95% band of the sample
    statistic.

    series  T x k observations (a 1-d array for a univariate series; pandas
            objects with any index)
    model   a VarmafitResult or FarmafitResult, a results object of
            mvts.ARFIMA or mvts.VARMA, or a dict of VARMACOV arguments
            (phi, theta, sigma, p, q) or of FARMACOV arguments (with d)
    lag     highest lag shown (default min(20, T - 1))
    replications, seed
            the simulation of an ARFIMA model's band (below)

    Panel (i, j) shows cov(y_i(t), y_j(t+h)) for h = 0..lag.

    A VARMA model's band is the model's value plus or minus 1.96 times
    Bartlett's approximate standard deviation of the sample value.

    An ARFIMA model's band is that of the sample statistic itself: the
    sample autocovariances of a long-memory series are biased below the
    model's gamma(h) (removing the sample mean removes part of the slowly
    decaying covariance), so a band around gamma(h) would miss them at most
    lags.  The figure shows gamma(h) (the model), the expected sample value
    E c(h) exactly (``expected_sample_autocov``, dashed), and the pointwise
    2.5% and 97.5% quantiles of c(h) over ``replications`` series of the
    same length simulated from the model (FARMASIM, seeded)."""
    y = np.asarray(series, dtype=float)
    if y.ndim == 1:
        y = y[:, None]
    T, k = y.shape
    lag = min(20, T - 1) if lag is None else int(lag)
    arfima = "d" in _model_dict(model)
    span = max(lag, 50)  # lags beyond `lag` that enter Bartlett's sum
    gamma = _theoretical(model, max(lag + span, T - 1) if arfima else lag + span, k, session)
    if gamma.shape[1] != k:
        raise ValueError(f"autocov: the model has {gamma.shape[1]} components, the series {k}")
    sample = _sample(y, lag)
    h = np.arange(lag + 1)
    if arfima:
        expected = expected_sample_autocov(gamma[:, 0, 0], T, lag)
        low, high = simulated_band(model, T, lag, replications=replications, seed=seed)
        bands = {(0, 0): (low, high)}
    else:
        sd = _bartlett_sd(gamma, lag, T)
        bands = {(i, j): (gamma[:lag + 1, i, j] - 1.96 * sd[:, i, j],
                          gamma[:lag + 1, i, j] + 1.96 * sd[:, i, j])
                 for i in range(k) for j in range(k)}
    fig, grid = _axes_grid(ax, k, k, (3.6, 2.6) if k > 1 else (6.4, 3.6))
    for i in range(k):
        for j in range(k):
            a = grid[i, j]
            model_value = gamma[:lag + 1, i, j]
            low, high = bands[i, j]
            a.fill_between(h, low, high, color="tab:orange", alpha=0.25, lw=0,
                           label="95% band of the sample value")
            a.plot(h, model_value, color="tab:orange", lw=1.5, label="model")
            a.vlines(h, 0.0, sample[:, i, j], color="tab:blue", lw=1.2)
            a.plot(h, sample[:, i, j], "o", color="tab:blue", ms=3, label="sample")
            if arfima:
                a.plot(h, expected, color="tab:orange", lw=1.2, ls="--",
                       label="expected sample value")
            a.axhline(0.0, color="0.6", lw=0.8)
            a.set_title(f"cov(y{i + 1}(t), y{j + 1}(t+h))" if k > 1 else "autocovariance",
                        fontsize="small")
            a.set_xlabel("lag h")
            a.set_ylabel("covariance")
    grid[0, 0].legend(fontsize="x-small")
    fig.tight_layout()
    return fig


def series(y, names=None, *, ax=None):
    """The components of a series in stacked panels that share the time axis.

    y      T x k values (a 1-d array for one component); a pandas object
           gives its column names and index
    names  one label per component (default: the columns, or y1, y2, ...)"""
    values = np.asarray(y, dtype=float)
    if values.ndim == 1:
        values = values[:, None]
    T, k = values.shape
    columns = getattr(y, "columns", None)
    if names is None:
        names = [str(c) for c in columns] if columns is not None else \
            [getattr(y, "name", None) or "y"] if k == 1 else [f"y{i + 1}" for i in range(k)]
    index = getattr(y, "index", None)
    t = _data.axis_values(index, T) if index is not None else np.arange(1, T + 1)
    fig, grid = _axes_grid(ax, k, 1, (8.0, 1.8))
    for i in range(k):
        a = grid[i, 0]
        a.plot(t, values[:, i], lw=1.0, color=f"C{i}")
        a.set_ylabel(str(names[i]))
    grid[-1, 0].set_xlabel("t" if index is None else str(getattr(index, "name", None) or "t"))
    fig.align_ylabels(grid[:, 0])
    return fig


def _correlogram(a, frame, column, title):
    """Stems of a sample correlation with its band shaded around 0."""
    lags = frame.index.to_numpy()
    values = frame[column].to_numpy()
    alpha = frame.attrs.get("alpha", 0.05)
    shown = frame["se"].to_numpy() > 0
    a.fill_between(lags[shown], frame["lower"].to_numpy()[shown],
                   frame["upper"].to_numpy()[shown], color="tab:blue", alpha=0.2, lw=0,
                   label=f"{100 * (1 - alpha):g}% band", step=None)
    a.vlines(lags, 0.0, values, color="tab:blue", lw=1.2)
    a.plot(lags, values, "o", color="tab:blue", ms=3, label=column)
    a.axhline(0.0, color="0.6", lw=0.8)
    a.set_xlabel("lag h")
    a.set_ylabel(column)
    a.set_title(title, fontsize="small")


def acf(x, nlags=None, alpha=0.05, *, ax=None):
    """Sample autocorrelations r(0..nlags) with the 1 - alpha band of the
    sample statistic under the hypothesis r(h) = 0 (Bartlett's standard
    error, ``mvts.acf``).  x: a series (pandas with any index)."""
    frame = _sample_stats.acf(x, nlags, alpha)
    fig, grid = _axes_grid(ax, 1, 1, (6.4, 3.2))
    _correlogram(grid[0, 0], frame, "acf", "Autocorrelation")
    grid[0, 0].legend(fontsize="x-small")
    fig.tight_layout()
    return fig


def pacf(x, nlags=None, alpha=0.05, *, ax=None):
    """Sample partial autocorrelations with the band -+z/sqrt(n) (``mvts.pacf``)."""
    frame = _sample_stats.pacf(x, nlags, alpha)
    fig, grid = _axes_grid(ax, 1, 1, (6.4, 3.2))
    _correlogram(grid[0, 0], frame, "pacf", "Partial autocorrelation")
    grid[0, 0].legend(fontsize="x-small")
    fig.tight_layout()
    return fig


def ccf(x, y, nlags=None, alpha=0.05, *, ax=None):
    """Sample cross-correlations corr(x_{t+h}, y_t), h = -nlags..nlags, with
    the band -+z/sqrt(n) (``mvts.ccf``)."""
    frame = _sample_stats.ccf(x, y, nlags, alpha)
    fig, grid = _axes_grid(ax, 1, 1, (6.4, 3.2))
    _correlogram(grid[0, 0], frame, "ccf", "Cross-correlation corr(x(t+h), y(t))")
    grid[0, 0].legend(fontsize="x-small")
    fig.tight_layout()
    return fig


def _normal_density(z):
    return np.exp(-z * z / 2.0) / math.sqrt(2.0 * math.pi)


def diagnostics(results, variable=0, lags=10, *, fig=None, figsize=None):
    """Four panels of a fit's standardised residuals e_t / sqrt(v_t): over
    time; a histogram with the N(0, 1) density; a normal Q-Q plot against
    the line y = x; their correlogram at lags 1..lags with its 95% band.

    results   a results object of mvts.ARFIMA or mvts.VARMA
    variable  the variable of a VARMA fit (a position or a name)
    fig       a Figure to draw on (four axes are added), or None"""
    frame = results.standardized_resid
    if getattr(frame, "ndim", 1) == 2:
        names = list(frame.columns)
        if isinstance(variable, str):
            if variable not in names:
                raise ValueError(f"variable: one of {names}, not {variable!r}")
            variable = names.index(variable)
        variable = _data.whole(variable, "variable", 0)
        if variable >= len(names):
            raise ValueError(f"variable: a position below {len(names)}, not {variable}")
        name = names[variable]
        series_ = frame.iloc[:, variable]
    else:
        name = results.model.endog_names[0]
        series_ = frame
    values = series_.to_numpy(dtype=float)
    t = _data.axis_values(series_.index, values.size)
    if results.method == "conditional":
        skip = results._max_lag  # the conditional sum of squares starts after the largest lag
        values, t = values[skip:], t[skip:]
    keep = np.isfinite(values)
    values, t = values[keep], t[keep]
    if fig is None:
        fig = _pyplot().figure(figsize=figsize or (10.0, 7.0))
    grid = np.asarray([[fig.add_subplot(2, 2, i + 2 * j + 1) for i in range(2)]
                       for j in range(2)])
    a = grid[0, 0]
    a.plot(t, values, lw=1.0, color="tab:blue")
    a.axhline(0.0, color="0.6", lw=0.8)
    a.set_title(f"Standardized residual for {name}", fontsize="small")
    a = grid[0, 1]
    a.hist(values, bins="auto", density=True, color="tab:blue", alpha=0.5, label="Hist")
    z = np.linspace(min(-4.0, values.min()), max(4.0, values.max()), 200)
    a.plot(z, _normal_density(z), color="tab:orange", lw=1.5, label="N(0,1)")
    a.set_title("Histogram plus estimated density", fontsize="small")
    a.legend(fontsize="x-small")
    a = grid[1, 0]
    n = values.size
    theory = np.array([_sample_stats.normal_quantile((i + 0.5) / n) for i in range(n)])
    a.plot(theory, np.sort(values), "o", ms=3, color="tab:blue")
    edge = max(abs(theory).max(), abs(values).max())
    a.plot([-edge, edge], [-edge, edge], color="tab:red", lw=1.0)
    a.set_xlabel("theoretical quantiles")
    a.set_ylabel("sample quantiles")
    a.set_title("Normal Q-Q", fontsize="small")
    a = grid[1, 1]
    frame = _sample_stats.acf(values, min(int(lags), n - 1))
    _correlogram(a, frame.iloc[1:], "acf", "Correlogram")
    fig.tight_layout()
    return fig


def forecast(results, h=10, levels=(0.5, 0.8, 0.95), history=None, *, ax=None):
    """A fan chart: the last ``history`` values of the series (default
    max(4 h, 50), at most all), the h-step forecasts and their prediction
    intervals at each of ``levels`` (nested bands, the widest the palest),
    one panel per variable.

    results  a results object of mvts.ARFIMA or mvts.VARMA"""
    levels = sorted(float(v) for v in np.atleast_1d(levels))
    if not levels or levels[0] <= 0.0 or levels[-1] >= 1.0:
        raise ValueError(f"levels: levels strictly between 0 and 1, not {levels}")
    pred = results.get_forecast(h)
    model = results.model
    y = model.endog if model.endog.ndim == 2 else model.endog[:, None]
    T, k = y.shape
    keep = min(T, max(4 * _data.whole(h, "h", 1), 50) if history is None
               else _data.whole(history, "history", 1))
    past = _data.axis_values(model.index, T)
    future = _data.axis_values(pred.row_labels, len(pred.row_labels))
    if past.dtype.kind != future.dtype.kind:
        past, future = np.arange(T), np.arange(T, T + len(pred.row_labels))
    mean = np.asarray(pred.predicted_mean, dtype=float).reshape(-1, k)
    se = np.asarray(pred.se_mean, dtype=float).reshape(-1, k)
    fig, grid = _axes_grid(ax, k, 1, (8.0, 3.2 if k == 1 else 2.4))
    for j in range(k):
        a = grid[j, 0]
        a.plot(past[T - keep:], y[T - keep:, j], color="black", lw=1.0, label="observed")
        joined_x = np.concatenate([past[-1:], future])
        for i, level in enumerate(reversed(levels)):
            z = _sample_stats.normal_quantile(0.5 + level / 2.0)
            low = np.concatenate([y[-1:, j], mean[:, j] - z * se[:, j]])
            high = np.concatenate([y[-1:, j], mean[:, j] + z * se[:, j]])
            shade = 0.15 + 0.5 * (i + 1) / (len(levels) + 1)
            a.fill_between(joined_x, low, high, color="tab:blue", alpha=shade * 0.6, lw=0,
                           label=f"{100 * level:g}% interval")
        a.plot(joined_x, np.concatenate([y[-1:, j], mean[:, j]]), color="tab:blue", lw=1.5,
               label="forecast")
        a.set_ylabel(model.endog_names[j])
    grid[0, 0].set_title(f"{model.order_name}: {h}-step forecasts", fontsize="small")
    grid[0, 0].legend(fontsize="x-small", loc="best")
    fig.tight_layout()
    return fig
