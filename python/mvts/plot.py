"""Pictures of models and series (matplotlib, imported on first use).

Each function returns the matplotlib Figure it drew on and takes an optional
``ax``: an Axes, or for several panels an array of them; without one it
makes a new figure with ``matplotlib.pyplot``.  ``session`` picks the mvts
session that computes what the picture needs (default: the default one).

roots(model)           AR and MA roots on the unit circle (VTSROOT)
autocov(series, model) sample cross-covariances beside the model's, with
                       approximate 95% bands (VARMACOV or FARMACOV)
series(y)              the components of a series in stacked panels

There is no picture of one-step predictions and residuals: no function of
the module returns them (VARMALIK and FARMALIK return only the three terms
of the likelihood, VARMAFIT and FARMAFIT only the estimates), so they cannot
be computed from the module's results; a filter written here instead would
give numbers that no call of the module confirms.
"""

import math

import numpy as np

import mvts

__all__ = ["roots", "autocov", "series"]


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


def _theoretical(model, lag, k, session):
    """Gamma(0) .. Gamma(lag) of the model, as an array (lag + 1, k, k)."""
    s = _session(session)
    if isinstance(model, mvts.FarmafitResult):
        model = {"d": model.d, "phi": model.ar if _given(model.ar) else None,
                 "theta": model.ma if _given(model.ma) else None, "sigma": model.sigma}
    elif isinstance(model, mvts.VarmafitResult):
        model = {"phi": model.ar, "theta": model.ma, "sigma": model.sigma}
    model = dict(model)
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


def autocov(series, model, lag=None, *, ax=None, session=None):
    """Sample cross-covariances of a series beside the theoretical ones of a
    model, one panel per pair of components, with approximate 95% bands.

    series  T x k observations (a 1-d array for a univariate series)
    model   a VarmafitResult or FarmafitResult, or a dict of VARMACOV
            arguments (phi, theta, sigma, p, q) or of FARMACOV arguments
            (with d)
    lag     highest lag shown (default min(20, T - 1))
    Panel (i, j) shows cov(y_i(t), y_j(t+h)) for h = 0..lag; the band is the
    model's value plus or minus 1.96 times Bartlett's approximate standard
    deviation of the sample value."""
    y = np.asarray(series, dtype=float)
    if y.ndim == 1:
        y = y[:, None]
    T, k = y.shape
    lag = min(20, T - 1) if lag is None else int(lag)
    span = max(lag, 50)  # lags beyond `lag` that enter Bartlett's sum
    gamma = _theoretical(model, lag + span, k, session)
    if gamma.shape[1] != k:
        raise ValueError(f"autocov: the model has {gamma.shape[1]} components, the series {k}")
    sample = _sample(y, lag)
    sd = _bartlett_sd(gamma, lag, T)
    h = np.arange(lag + 1)
    fig, grid = _axes_grid(ax, k, k, (3.6, 2.6) if k > 1 else (6.4, 3.6))
    for i in range(k):
        for j in range(k):
            a = grid[i, j]
            model_value = gamma[:lag + 1, i, j]
            a.fill_between(h, model_value - 1.96 * sd[:, i, j], model_value + 1.96 * sd[:, i, j],
                           color="tab:orange", alpha=0.25, lw=0, label="95% band")
            a.plot(h, model_value, color="tab:orange", lw=1.5, label="model")
            a.vlines(h, 0.0, sample[:, i, j], color="tab:blue", lw=1.2)
            a.plot(h, sample[:, i, j], "o", color="tab:blue", ms=3, label="sample")
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
    t = np.asarray(index) if index is not None and len(index) == T else np.arange(1, T + 1)
    fig, grid = _axes_grid(ax, k, 1, (8.0, 1.8))
    for i in range(k):
        a = grid[i, 0]
        a.plot(t, values[:, i], lw=1.0, color=f"C{i}")
        a.set_ylabel(str(names[i]))
    grid[-1, 0].set_xlabel("t" if index is None else str(getattr(index, "name", None) or "t"))
    fig.align_ylabels(grid[:, 0])
    return fig
