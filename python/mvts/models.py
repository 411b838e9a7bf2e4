"""Models with results objects: ``mvts.ARFIMA`` and ``mvts.VARMA``.

    fit = mvts.ARFIMA(y, p=1, q=0).fit()            # trend="c", method="exact"
    print(fit.summary())
    fit.get_forecast(10).summary_frame()
    fit.plot_diagnostics()

The orders follow statsmodels: a whole number p means the lags 1 .. p, a
list gives the lags themselves (``p=[2]`` is lag 2 alone).  The registered
functions (``mvts.farmafit``, ``mvts.varmafit``) keep their lag-list
meaning, in which ``p=2`` is lag 2 alone.

Model equations (the MA sign is the OPPOSITE of statsmodels'):

    ARFIMA  phi(B) (1 - B)^d (y_t - mu) = theta(B) e_t,   e_t ~ N(0, sigma2)
            phi(B)   = 1 - phi_1 B - ... - phi_p B^p
            theta(B) = 1 - theta_1 B - ... - theta_q B^q
    VARMA   y_t - mu = sum_i Phi_i (y_{t-i} - mu) + e_t - sum_j Theta_j e_{t-j},
            e_t ~ N(0, Sigma)

so statsmodels' ``ma.L1`` is ``-ma.L1`` here (its MA polynomial is
1 + theta_1 B + ...).  The AR parts have the same sign in both.

Everything numerical comes from the module's functions: the fits (FARMAFIT,
FARMAFITMEAN, VARMAFIT), the log-likelihoods (FARMALIK, VARMALIK), the
residuals (FARMARES, VARMARES), the forecasts (FARMAFCST, VARMAFCST) and the
observed information (FARMAINFO, VARMAINFO).
"""

import functools
import math
import warnings

import numpy as np

import mvts
from mvts import _data, sample

__all__ = ["ARFIMA", "VARMA", "ARFIMAResults", "VARMAResults", "PredictionResults",
           "EstimationWarning"]

LOG_2PI = math.log(2.0 * math.pi)
# FARMALIK's range of d: it refuses |d| <= 2^-26.5, and its exact method
# needs |d| < 1/2 - 2^-26.5 (the bound of FARMAFIT's exact d as well).
D_TINY = 2.0 ** -26.5
D_EXACT_BOUND = 0.5 - D_TINY
# A d within this distance of the exact method's bound counts as on the
# bound.  The covariance matrix G becomes singular as |d| -> 1/2, and the
# likelihood's maximum, when it is not on the bound itself, sits against
# that singularity with a curvature that says nothing of the estimator's
# spread: the raw Nile flows (no mean) have a maximum at d = 0.4961 with
# a "standard error" of 0.005 whose interval reaches past 1/2.
NEAR_BOUND = 0.005

MA_SIGN_NOTE = ("MA sign: theta(B) = 1 - theta_1 B - ..., the opposite of statsmodels' "
                "(its ma.L1 is -ma.L1 here).")


class EstimationWarning(UserWarning):
    """Standard errors that cannot be given: a Hessian that is not negative
    definite, or an estimate on or near a bound of the parameter space."""


def _function(session, name):
    """A registered function of the session, or a clear error when this
    build lacks it."""
    fn = getattr(session, name.lower(), None)
    if fn is None:
        raise RuntimeError(
            f"mvts: {name.upper()} is not in this build's catalogue: the statistics module "
            "(orvmvtst.so) was not found beside orvmvtsa.so")
    return fn


def _method(method):
    if method not in ("exact", "conditional"):
        raise ValueError(f"method: 'exact' or 'conditional', not {method!r}")
    return method


def _trend(trend):
    if trend not in ("c", "n"):
        raise ValueError(f"trend: 'c' (a mean estimated with the model) or 'n' (zero mean), "
                         f"not {trend!r}")
    return trend


def _horizon(h):
    return _data.whole(h, "h", 1)


def _order_text(lags):
    return str(len(lags)) if lags == list(range(1, len(lags) + 1)) else str(lags)


def _by_lag(values, lags):
    """A coefficient vector by lag (zeros at the lags not estimated), as
    FARMAFIT reports it; None without lags."""
    if not lags:
        return None
    full = np.zeros(max(lags))
    full[np.asarray(lags) - 1] = values
    return full


def _compact(out, lags):
    """The coefficients at the estimated lags from a fit's by-lag vector."""
    if not lags:
        return np.zeros(0)
    a = np.atleast_1d(np.asarray(out, dtype=float))
    if a.size == len(lags):
        return a
    return a[np.asarray(lags) - 1]


def _ar_stationary(ar, lags):
    """The smallest modulus of the zeros of phi(z) = 1 - sum phi_j z^j (inf
    without an AR part)."""
    if not lags:
        return math.inf
    poly = np.zeros(max(lags) + 1)
    poly[0] = 1.0
    poly[np.asarray(lags)] = -np.asarray(ar)
    zeros = np.roots(poly[::-1])
    return float(np.min(np.abs(zeros))) if zeros.size else math.inf


def _call_info(fn, args, kwargs):
    """Calls FARMAINFO or VARMAINFO and returns (hessian, cov, reason):
    cov None with the reason when the module gives none.  Its own notes are
    folded into the reason rather than repeated as warnings."""
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", mvts.MvtsWarning)
        try:
            out = fn(*args, **kwargs)
        except mvts.MvtsError as e:
            return None, None, str(e)
    notes = [str(w.message) for w in caught if isinstance(w.message, mvts.MvtsWarning)]
    for w in caught:
        if not isinstance(w.message, mvts.MvtsWarning):
            warnings.warn(w.message, stacklevel=4)
    hessian = None if out.hessian is None else np.atleast_2d(np.asarray(out.hessian, float))
    if out.cov is None:
        reason = "; ".join(notes) or "the Hessian of the log-likelihood is not negative definite"
        return hessian, None, reason
    return hessian, np.atleast_2d(np.asarray(out.cov, dtype=float)), None


def _jarque_bera(x):
    """(JB, p-value, skewness, kurtosis) of a sample: JB = n/6 (S^2 +
    (K - 3)^2 / 4), referred to chi-squared with 2 degrees of freedom."""
    x = x[np.isfinite(x)]
    n = x.size
    d = x - x.mean()
    m2 = np.mean(d ** 2)
    if n < 3 or m2 <= 0:
        return math.nan, math.nan, math.nan, math.nan
    skew = float(np.mean(d ** 3) / m2 ** 1.5)
    kurt = float(np.mean(d ** 4) / m2 ** 2)
    jb = n / 6.0 * (skew ** 2 + (kurt - 3.0) ** 2 / 4.0)
    return jb, math.exp(-jb / 2.0), skew, kurt


class _Results:
    """What the ARFIMA and VARMA results share: inference from params and
    cov_params, the criteria, the tests, the summary, the plots."""

    def _cov(self):  # pragma: no cover - defined by each family
        raise NotImplementedError

    @property
    def nobs_effective(self):
        return self.nobs

    @property
    def df_model(self):
        """The number of estimated parameters (the mean and the innovation
        variance included), the k of the information criteria."""
        return len(self.params)

    @property
    def aic(self):
        """-2 llf + 2 k."""
        return sample.information_criteria(self.llf, self.nobs_effective, self.df_model)[0]

    @property
    def bic(self):
        """-2 llf + k ln(nobs)."""
        return sample.information_criteria(self.llf, self.nobs_effective, self.df_model)[1]

    @property
    def hqic(self):
        """-2 llf + 2 k ln ln(nobs)."""
        return sample.information_criteria(self.llf, self.nobs_effective, self.df_model)[2]

    @property
    def notes(self):
        """Why standard errors are missing, if they are (the texts of the
        EstimationWarnings)."""
        return list(self._info[2])

    def cov_params(self):
        """The covariance matrix of the estimates (a DataFrame over the
        parameter names): the inverse of the observed information, minus
        the Hessian of the log-likelihood at the estimate (FARMAINFO /
        VARMAINFO, by Richardson-extrapolated central differences), and the
        variance of the mean (see the class).  All NaN, with an
        EstimationWarning, where the Hessian is not negative definite or an
        estimate lies on or near a bound."""
        import pandas as pd
        names = self.params.index
        return pd.DataFrame(self._cov(), index=names, columns=names)

    @property
    def bse(self):
        """Standard errors: the square roots of cov_params' diagonal."""
        import pandas as pd
        with np.errstate(invalid="ignore"):
            return pd.Series(np.sqrt(np.diag(self._cov())), index=self.params.index, name="bse")

    @property
    def tvalues(self):
        """z statistics: params / bse."""
        return (self.params / self.bse).rename("tvalues")

    @property
    def zvalues(self):
        return self.tvalues

    @property
    def pvalues(self):
        """Two-sided p-values of the z statistics under N(0, 1)."""
        import pandas as pd
        z = self.tvalues.to_numpy()
        p = [2.0 * sample.normal_sf(abs(v)) if np.isfinite(v) else math.nan for v in z]
        return pd.Series(p, index=self.params.index, name="pvalues")

    def conf_int(self, alpha=0.05):
        """Wald intervals params -+ z_{1-alpha/2} bse, a DataFrame with the
        columns lower and upper."""
        import pandas as pd
        if not 0.0 < float(alpha) < 1.0:
            raise ValueError(f"alpha: a level strictly between 0 and 1, not {alpha!r}")
        z = sample.normal_quantile(1.0 - float(alpha) / 2.0)
        half = z * self.bse
        return pd.DataFrame({"lower": self.params - half, "upper": self.params + half})

    def forecast(self, h=1):
        """The h-step forecasts of y(n+1) .. y(n+h): get_forecast(h).predicted_mean."""
        return self.get_forecast(h).predicted_mean

    def _ljung_box_df(self):  # pragma: no cover - defined by each family
        raise NotImplementedError

    def test_serial_correlation(self, lags=None, df_adjust=True):
        """Ljung-Box tests of the standardised residuals (lags 1 .. lags,
        default min(10, n // 5), statsmodels' default for results).

        df_adjust  the chi-squared degrees of freedom lose the number of
                   estimated parameters other than the innovation variance
                   (statsmodels' rule, ``df_model - 1``), for the ARFIMA
                   model d, the AR and MA coefficients and the mean; for a
                   VARMA model, per equation, the k (P + Q) coefficients of
                   that equation and its mean.  Lags with no degrees of
                   freedom left have a NaN p-value.

        Returns the DataFrame of ``mvts.sample.ljung_box`` (lb_stat,
        lb_pvalue, df by lag); for a VARMA model one such frame per
        variable, side by side under the variable's name."""
        import pandas as pd
        model_df = self._ljung_box_df() if df_adjust else 0
        std = self._standardized()
        frames = []
        for j in range(std.shape[1]):
            x = std[:, j]
            frames.append(sample.ljung_box(x[np.isfinite(x)], lags, model_df))
        if std.shape[1] == 1:
            return frames[0]
        return pd.concat(frames, axis=1, keys=self.model.endog_names)

    def summary(self, alpha=0.05):
        """The fit as a text table (print it): the model and sample, the
        log-likelihood and criteria, the estimates with standard errors, z,
        p-values and intervals, residual diagnostics and the model's
        equation."""
        return Summary(self, alpha)

    def plot_diagnostics(self, variable=0, lags=10, fig=None, figsize=None):
        """Standardised residuals over time, a histogram with the N(0, 1)
        density, a normal Q-Q plot and their correlogram with its band, in
        a 2 x 2 figure (``mvts.plot.diagnostics``)."""
        from mvts import plot
        return plot.diagnostics(self, variable=variable, lags=lags, fig=fig, figsize=figsize)

    def plot_forecast(self, h=10, levels=(0.5, 0.8, 0.95), history=None, ax=None):
        """The series and its h-step forecasts with the prediction intervals
        of the given levels as a fan (``mvts.plot.forecast``)."""
        from mvts import plot
        return plot.forecast(self, h, levels=levels, history=history, ax=ax)


class PredictionResults:
    """h-step forecasts with their mean squared errors, in statsmodels' names.

    predicted_mean  the forecasts: a Series (univariate) or an h x k DataFrame
    se_mean         the square roots of the mean squared errors, same shape
    var_pred_mean   the mean squared errors, same shape
    mse             the h x k x k MSE matrices (a VARMA model; h x 1 x 1 else)
    conf_int(alpha) normal prediction intervals mean -+ z_{1-alpha/2} se
    summary_frame(alpha, endog=0)
                    mean, mean_se, mean_ci_lower, mean_ci_upper of one variable
    The index continues the series' index (``mvts._data.future_index``)."""

    def __init__(self, mean, mse, index, names):
        import pandas as pd
        self.mse = np.asarray(mse, dtype=float)
        self._names = list(names)
        mean = np.asarray(mean, dtype=float).reshape(len(index), len(names))
        var = np.stack([np.diag(m) for m in self.mse]) if self.mse.size else mean * 0.0
        self.row_labels = index
        if len(names) == 1:
            self.predicted_mean = pd.Series(mean[:, 0], index=index, name="predicted_mean")
            self.var_pred_mean = pd.Series(var[:, 0], index=index, name="var_pred_mean")
        else:
            self.predicted_mean = pd.DataFrame(mean, index=index, columns=names)
            self.var_pred_mean = pd.DataFrame(var, index=index, columns=names)
        self.se_mean = np.sqrt(self.var_pred_mean)
        if len(names) == 1:
            self.se_mean = self.se_mean.rename("se_mean")

    def conf_int(self, alpha=0.05):
        """A DataFrame with the columns "lower NAME" and "upper NAME" of each
        variable (statsmodels' names)."""
        import pandas as pd
        if not 0.0 < float(alpha) < 1.0:
            raise ValueError(f"alpha: a level strictly between 0 and 1, not {alpha!r}")
        z = sample.normal_quantile(1.0 - float(alpha) / 2.0)
        mean = np.asarray(self.predicted_mean, dtype=float).reshape(len(self.row_labels), -1)
        se = np.asarray(self.se_mean, dtype=float).reshape(mean.shape)
        data = {}
        for j, name in enumerate(self._names):
            data[f"lower {name}"] = mean[:, j] - z * se[:, j]
        for j, name in enumerate(self._names):
            data[f"upper {name}"] = mean[:, j] + z * se[:, j]
        return pd.DataFrame(data, index=self.row_labels)

    def summary_frame(self, alpha=0.05, endog=0):
        """mean, mean_se, mean_ci_lower, mean_ci_upper of variable ``endog``
        (a position or a name) by forecast step."""
        import pandas as pd
        if isinstance(endog, str):
            if endog not in self._names:
                raise ValueError(f"endog: one of {self._names}, not {endog!r}")
            endog = self._names.index(endog)
        endog = _data.whole(endog, "endog", 0)
        if endog >= len(self._names):
            raise ValueError(f"endog: a position below {len(self._names)}, not {endog}")
        ci = self.conf_int(alpha)
        mean = np.asarray(self.predicted_mean, dtype=float).reshape(len(self.row_labels), -1)
        se = np.asarray(self.se_mean, dtype=float).reshape(mean.shape)
        frame = pd.DataFrame({"mean": mean[:, endog], "mean_se": se[:, endog],
                              "mean_ci_lower": ci.iloc[:, endog].to_numpy(),
                              "mean_ci_upper": ci.iloc[:, len(self._names) + endog].to_numpy()},
                             index=self.row_labels)
        frame.columns.name = self._names[endog]
        return frame


# ---------------------------------------------------------------- ARFIMA

class ARFIMA:
    """The ARFIMA(p, d, q) model of a univariate series,

        phi(B) (1 - B)^d (y_t - mu) = theta(B) e_t,   e_t ~ N(0, sigma2),
        phi(B) = 1 - phi_1 B - ... - phi_p B^p,
        theta(B) = 1 - theta_1 B - ... - theta_q B^q,

    |d| < 1/2 for the exact likelihood.  The MA sign is the OPPOSITE of
    statsmodels' (statsmodels' ma.L1 = -theta_1).

    y      the series: a 1-d array, a list, or a pandas Series (its index
           labels the residuals and continues into the forecasts); no
           missing values
    p, q   orders as statsmodels reads them: a whole number p means the AR
           lags 1 .. p, a list the lags themselves (``p=[2]`` lag 2 alone);
           likewise q for the MA part
    trend  "c": the mean mu estimated with the model (the default, as in
           statsmodels and fracdiff); "n": mu = 0
    session  the mvts.Session that computes (default: the default one)

    Parameters, in this order: mean (trend "c"), d, ar.L<lag> for each AR
    lag, ma.L<lag> for each MA lag, sigma2."""

    def __init__(self, y, p=0, q=0, trend="c", *, session=None):
        values, index, names = _data.values_of(y, "y", k=1)
        if not np.all(np.isfinite(values)):
            raise ValueError("y: the series holds missing or infinite values; the ARFIMA "
                             "likelihood needs every value")
        self.ar_lags = _data.lag_list(p, "p")
        self.ma_lags = _data.lag_list(q, "q")
        self.trend = _trend(trend)
        self.endog = values
        self.index = index
        self.endog_names = names
        self.session = session
        needed = max(self.ar_lags + self.ma_lags + [0]) + len(self.param_names) + 1
        if values.size < needed:
            raise ValueError(f"y: {values.size} observations are too few for "
                             f"{self.order_name} with trend {trend!r}: it needs at least "
                             f"{needed} (the largest lag plus the parameters plus one)")

    @property
    def nobs(self):
        return self.endog.size

    @property
    def order_name(self):
        return f"ARFIMA({_order_text(self.ar_lags)}, d, {_order_text(self.ma_lags)})"

    @property
    def param_names(self):
        names = ["mean"] if self.trend == "c" else []
        return names + ["d"] + [f"ar.L{lag}" for lag in self.ar_lags] + \
            [f"ma.L{lag}" for lag in self.ma_lags] + ["sigma2"]

    def _session(self):
        return self.session if self.session is not None else mvts.default_session()

    def fit(self, method="exact"):
        """Maximum-likelihood estimates, returned as ARFIMAResults.

        method  "exact": the exact Gaussian likelihood (Durbin-Levinson over
                the model's autocovariances); with trend "c" the mean is the
                generalised least-squares mean (1'G^-1 y)/(1'G^-1 1), profiled
                exactly inside the likelihood (FARMAFITMEAN).
                "conditional": the conditional sum of squares; with trend "c"
                the sample mean is removed first, as fracdiff does, and the
                model fitted to y - ybar (FARMAFIT)."""
        method = _method(method)
        s = self._session()
        y = self.endog
        p = self.ar_lags or None
        q = self.ma_lags or None
        opt = 1 if method == "exact" else 0
        if self.trend == "n":
            fit, mean = s.farmafit(y, p, q, opt=opt), 0.0
        elif method == "exact":
            fit = _function(s, "farmafitmean")(y, p, q, opt=opt)
            mean = float(fit.mean)
        else:
            mean = float(np.mean(y))
            fit = s.farmafit(y - mean, p, q, opt=opt)
        return ARFIMAResults(self, method, mean, float(fit.d), _compact(fit.ar, self.ar_lags),
                             _compact(fit.ma, self.ma_lags), float(fit.sigma))

    def _unpack(self, params, method):
        a = np.asarray(params, dtype=float).ravel()
        names = self.param_names
        if a.size != len(names):
            raise ValueError(f"params: {self.order_name} with trend {self.trend!r} has "
                             f"{len(names)} parameters ({', '.join(names)}), {a.size} given")
        if not np.all(np.isfinite(a)):
            raise ValueError("params: holds missing or infinite values")
        at = 1 if self.trend == "c" else 0
        mean = a[0] if at else 0.0
        d = a[at]
        na, nm = len(self.ar_lags), len(self.ma_lags)
        ar, ma, sigma2 = a[at + 1:at + 1 + na], a[at + 1 + na:at + 1 + na + nm], a[-1]
        if not sigma2 > 0:
            raise ValueError(f"params: sigma2 = {sigma2} is not > 0")
        if method == "exact" and abs(d) >= D_EXACT_BOUND:
            raise ValueError(f"params: d = {d}: the exact likelihood needs |d| < 1/2")
        modulus = _ar_stationary(ar, self.ar_lags)
        if modulus <= 1.0:
            raise ValueError(f"params: the AR part is not stationary (a zero of phi(z) has "
                             f"modulus {modulus:.6g} <= 1)")
        return float(mean), float(d), ar, ma, float(sigma2)

    def filter(self, params, method="exact"):
        """ARFIMAResults at the given parameter values (in the order of
        param_names), without fitting: the likelihood, residuals, forecasts
        and information at that point."""
        method = _method(method)
        return ARFIMAResults(self, method, *self._unpack(params, method))

    def loglike(self, params, method="exact"):
        """The log-likelihood at the given parameter values (with the
        constant, as ARFIMAResults.llf)."""
        return self.filter(params, method).llf


class ARFIMAResults(_Results):
    """An ARFIMA fit (or the model at given parameters).

    params      a pandas Series: mean (trend "c"), d, ar.L<lag>, ma.L<lag>,
                sigma2 (the MA sign is the opposite of statsmodels')
    d, ar, ma, sigma, mean
                the estimates as FARMAFIT reports them: ar and ma by lag
                (zeros at the lags not estimated) or None, sigma the
                innovation variance
    llf         the Gaussian log-likelihood WITH its constant: exact,
                -(n ln 2 pi + ln det G + (y - mu)' G^-1 (y - mu)) / 2 with G
                the n x n autocovariance matrix; conditional,
                -((n - m) (ln 2 pi + ln sigma2) + S / sigma2) / 2 over the
                n - m terms of the sum of squares S, m the largest lag.
                (FARMALIK returns the likelihood without the constant.)
    nobs        n; nobs_effective the terms of the likelihood (n, or n - m
                for the conditional method), which the criteria use
    aic, bic, hqic  with k = len(params) (the mean and sigma2 included)
    resid       one-step prediction errors y_t - E(y_t | y_1 .. y_{t-1})
                (FARMARES: the standardised innovations times sqrt(v_t))
    standardized_resid  the standardised innovations e_t / sqrt(v_t)
    fittedvalues  y - resid, the one-step predictions
    cov_params(), bse, tvalues, pvalues, conf_int(alpha)
                from FARMAINFO's observed information in (d, phi, theta,
                sigma2); the mean's variance separately (its information is
                asymptotically orthogonal to the others', so its covariances
                with them are 0): for the exact GLS mean 1/(1'G^-1 1), for
                the sample mean of the conditional method 1'G 1 / n^2 (NaN
                for |d| >= 1/2, where the variance is infinite).
    get_forecast(h), forecast(h)  FARMAFCST: the exact finite-sample best
                linear predictor from the whole series, with its MSE
    """

    def __init__(self, model, method, mean, d, ar, ma, sigma2):
        import pandas as pd
        self.model = model
        self.method = method
        self.mean = mean
        self.d = d
        self.ar = _by_lag(ar, model.ar_lags)
        self.ma = _by_lag(ma, model.ma_lags)
        self.sigma = sigma2
        self._ar = np.asarray(ar, dtype=float)
        self._ma = np.asarray(ma, dtype=float)
        values = ([mean] if model.trend == "c" else []) + [d] + list(self._ar) + \
            list(self._ma) + [sigma2]
        self.params = pd.Series(values, index=model.param_names, name="params", dtype=float)
        self.nobs = model.nobs

    # The arguments every statistics function of the family takes.
    def _model_args(self):
        m = self.model
        return (self._ar if m.ar_lags else None, self._ma if m.ma_lags else None,
                self.sigma, m.ar_lags or None, m.ma_lags or None)

    @property
    def _max_lag(self):
        return max(self.model.ar_lags + self.model.ma_lags + [0])

    @property
    def nobs_effective(self):
        return self.nobs - (self._max_lag if self.method == "conditional" else 0)

    @functools.cached_property
    def llf(self):
        """The log-likelihood with the constant -n/2 ln 2 pi (see the class)."""
        s = self.model._session()
        phi, theta, sigma, p, q = self._model_args()
        y = self.model.endog - self.mean
        n = self.nobs
        if self.method == "exact":
            if D_TINY < abs(self.d) < D_EXACT_BOUND:
                return float(s.farmalik(y, self.d, phi, theta, sigma, p, q, opt=1)[0]) \
                    - n / 2.0 * LOG_2PI
            # d = 0 or on the bound, outside FARMALIK's range: the prediction-
            # error decomposition -(sum e_t^2 / v_t + sum ln v_t + n ln 2 pi) / 2.
            std, var = self._residuals
            return -0.5 * (float(std @ std) + float(np.sum(np.log(var))) + n * LOG_2PI)
        kept = self.nobs_effective
        if D_TINY < abs(self.d) < 1.0 - D_TINY:
            # FARMALIK's conditional value is -(kept/2) ln(S / kept).
            L = float(s.farmalik(y, self.d, phi, theta, sigma, p, q, opt=0)[0])
            S = kept * math.exp(-2.0 * L / kept)
        else:
            std, var = self._residuals
            e = (std * np.sqrt(var))[self._max_lag:]
            S = float(e @ e)
        return -0.5 * (kept * (LOG_2PI + math.log(self.sigma)) + S / self.sigma)

    @functools.cached_property
    def _residuals(self):
        """(standardised innovations, one-step variances) from FARMARES."""
        s = self.model._session()
        out = _function(s, "farmares")(self.model.endog, self.d, *self._model_args(),
                                       opt=1 if self.method == "exact" else 0, mean=self.mean)
        return np.asarray(out.resid, dtype=float).ravel(), np.asarray(out.var, float).ravel()

    def _series(self, values, name):
        import pandas as pd
        return pd.Series(values, index=self.model.index, name=name)

    @property
    def standardized_resid(self):
        """e_t / sqrt(v_t), the standardised one-step innovations."""
        return self._series(self._residuals[0], "standardized_resid")

    @property
    def resid(self):
        """y_t minus its one-step prediction."""
        std, var = self._residuals
        return self._series(std * np.sqrt(var), "resid")

    @property
    def fittedvalues(self):
        """The one-step predictions E(y_t | y_1 .. y_{t-1})."""
        std, var = self._residuals
        return self._series(self.model.endog - std * np.sqrt(var), "fittedvalues")

    def _standardized(self):
        std = self._residuals[0][:, None]
        return std[self._max_lag:] if self.method == "conditional" else std

    def _ljung_box_df(self):
        return len(self.params) - 1

    def _bound_reason(self):
        if self.method == "exact" and abs(self.d) > D_EXACT_BOUND - NEAR_BOUND:
            return (f"d = {self.d:.6g} lies on or near the bound |d| < 1/2 of the exact "
                    "likelihood")
        return None

    @functools.cached_property
    def _info(self):
        """(hessian over (d, phi, theta, sigma2), full covariance in the
        order of params, the notes on what is missing), the notes issued
        once as EstimationWarnings."""
        k = len(self.params)
        reason = self._bound_reason()
        hessian = None
        cov = np.full((k, k), math.nan)
        notes = []
        if reason is None:
            s = self.model._session()
            hessian, inner, reason = _call_info(
                _function(s, "farmainfo"),
                (self.model.endog, self.d) + self._model_args(),
                {"opt": 1 if self.method == "exact" else 0, "mean": self.mean})
            if inner is not None:
                at = 1 if self.model.trend == "c" else 0
                cov[at:, at:] = inner
                if at:
                    cov[0, 1:] = cov[1:, 0] = 0.0
                    cov[0, 0] = self._mean_variance()
                    if not np.isfinite(cov[0, 0]):
                        notes.append(f"{self.model.order_name}: no standard error for the "
                                     f"mean: with d = {self.d:.6g} the model is not stationary "
                                     "and the sample mean has no finite variance")
        if reason is not None:
            notes.append(f"{self.model.order_name}: standard errors are not given: {reason}")
        for note in notes:
            warnings.warn(EstimationWarning(note), stacklevel=4)
        return hessian, cov, notes

    def _mean_variance(self):
        s = self.model._session()
        n = self.nobs
        if self.method == "exact":
            # 1' G^-1 1 is the sum of the squared standardised innovations of
            # the series of ones (mean 0).
            out = _function(s, "farmares")(np.ones(n), self.d, *self._model_args(), opt=1,
                                           mean=0.0)
            r = np.asarray(out.resid, dtype=float)
            return 1.0 / float(r @ r)
        if abs(self.d) >= 0.5:
            return math.nan  # a nonstationary model: ybar has no finite variance
        # FARMACOV refuses |d| <= 2^-26.5: an ARMA model's autocovariances
        # are taken at d = 2^-25.5, which moves them by about d ln n relative.
        d = self.d if abs(self.d) > D_TINY else 2.0 * D_TINY
        gamma = s.farmacov(d, *self._model_args(), lag=n - 1)
        gamma = np.asarray(gamma, dtype=float)
        # Var(ybar) = (1/n^2) sum_{|h| < n} (n - |h|) gamma(h)
        weights = n - np.arange(n)
        return float(gamma[0] * n + 2.0 * (weights[1:] @ gamma[1:])) / n ** 2

    def _cov(self):
        return self._info[1]

    @property
    def hessian(self):
        """FARMAINFO's Hessian of the log-likelihood in (d, phi, theta,
        sigma2) at these parameters (None when it was not computed)."""
        return self._info[0]

    def get_forecast(self, h=1):
        """PredictionResults of y(n+1) .. y(n+h) (FARMAFCST): the exact
        finite-sample best linear predictor from the whole series and its
        mean squared error."""
        h = _horizon(h)
        s = self.model._session()
        out = _function(s, "farmafcst")(self.model.endog, self.d, *self._model_args(), h=h,
                                        mean=self.mean)
        mean = np.asarray(out.forecast, dtype=float).reshape(h)
        mse = np.asarray(out.mse, dtype=float).reshape(h, 1, 1)
        index = _data.future_index(self.model.index, self.nobs, h)
        return PredictionResults(mean, mse, index, self.model.endog_names)

    def _description(self):
        how = {("exact", "c"): "exact ML, GLS mean",
               ("exact", "n"): "exact ML, zero mean",
               ("conditional", "c"): "CSS, sample mean",
               ("conditional", "n"): "CSS, zero mean"}[(self.method, self.model.trend)]
        return self.model.order_name, how

    def _equation(self):
        return ["phi(B) (1 - B)^d (y_t - mu) = theta(B) e_t,  e_t ~ N(0, sigma2),",
                "phi(B) = 1 - phi_1 B - ...,  theta(B) = 1 - theta_1 B - ...:",
                "the MA sign is the opposite of statsmodels' (its ma.L1 is -ma.L1 here)."]


# ---------------------------------------------------------------- VARMA

class VARMA:
    """The VARMA model of a k-variate series (k >= 2),

        y_t - mu = sum_i Phi_i (y_{t-i} - mu) + e_t - sum_j Theta_j e_{t-j},
        e_t ~ N(0, Sigma),

    with Phi_i[r, c] the coefficient of y_c(t-i) in the equation of y_r.
    The MA sign is the OPPOSITE of statsmodels' VARMAX (its MA matrices are
    -Theta_j).

    y      T x k: a 2-d array or a pandas DataFrame (its columns name the
           variables, its index labels the time points); a row holding a
           missing value counts as missing, as VARMALIK treats it
    p, q   orders as statsmodels reads them: a whole number p means the lags
           1 .. p, a list the lags themselves (``p=[2]`` lag 2 alone)
    trend  "c": mu is the sample mean of the complete rows, removed before
           the fit (VARMAFIT fits a zero-mean model); "n": mu = 0
    session  the mvts.Session that computes (default: the default one)

    Parameters, in this order: mean.<y> (trend "c"), ar.L<lag>.<row>.<col>
    for each AR lag block by block, rows within a block; then
    ma.L<lag>.<row>.<col>; then sigma.<row>.<col> over Sigma's lower
    triangle by rows (sigma.y1.y1, sigma.y2.y1, sigma.y2.y2, ...): the order
    of VARMAINFO."""

    def __init__(self, y, p=0, q=0, trend="c", *, session=None):
        values, index, names = _data.values_of(y, "y")
        self.ar_lags = _data.lag_list(p, "p")
        self.ma_lags = _data.lag_list(q, "q")
        if not self.ar_lags and not self.ma_lags:
            raise ValueError("p, q: a VARMA model needs an AR or an MA part (p or q > 0)")
        self.trend = _trend(trend)
        self.endog = values
        self.index = index
        self.endog_names = names
        self.session = session
        self.complete = np.all(np.isfinite(values), axis=1)
        k = values.shape[1]
        needed = max(self.ar_lags + self.ma_lags) + k * (len(self.ar_lags) +
                                                         len(self.ma_lags)) + 2
        if int(self.complete.sum()) < needed:
            raise ValueError(f"y: {int(self.complete.sum())} complete rows are too few for "
                             f"{self.order_name}: it needs at least {needed} (the largest lag "
                             "plus k (P + Q) coefficients per equation plus two)")

    @property
    def k_endog(self):
        return self.endog.shape[1]

    @property
    def nobs(self):
        """The number of complete rows (those the likelihood counts)."""
        return int(self.complete.sum())

    @property
    def order_name(self):
        return f"VARMA({_order_text(self.ar_lags)}, {_order_text(self.ma_lags)})"

    @property
    def param_names(self):
        v = self.endog_names
        k = len(v)
        names = [f"mean.{v[i]}" for i in range(k)] if self.trend == "c" else []
        for part, lags in (("ar", self.ar_lags), ("ma", self.ma_lags)):
            names += [f"{part}.L{lag}.{v[r]}.{v[c]}" for lag in lags
                      for r in range(k) for c in range(k)]
        names += [f"sigma.{v[r]}.{v[c]}" for r in range(k) for c in range(r + 1)]
        return names

    def _session(self):
        return self.session if self.session is not None else mvts.default_session()

    def fit(self, method="exact"):
        """Maximum-likelihood estimates by the Kalman filter's exact
        likelihood (VARMAFIT; the only method), returned as VARMAResults.
        With trend "c" the sample mean of the complete rows is removed
        first."""
        if method != "exact":
            raise ValueError(f"method: a VARMA model is fitted by the exact likelihood "
                             f"('exact'), not {method!r}")
        mean = np.mean(self.endog[self.complete], axis=0) if self.trend == "c" \
            else np.zeros(self.k_endog)
        fit = self._session().varmafit(self.endog - mean, self.ar_lags or None,
                                       self.ma_lags or None)
        k = self.k_endog
        ar = np.asarray(fit.ar, float).reshape(-1, k) if self.ar_lags else np.zeros((0, k))
        ma = np.asarray(fit.ma, float).reshape(-1, k) if self.ma_lags else np.zeros((0, k))
        return VARMAResults(self, mean, ar, ma, np.asarray(fit.sigma, dtype=float))

    def _unpack(self, params):
        a = np.asarray(params, dtype=float).ravel()
        names = self.param_names
        if a.size != len(names):
            raise ValueError(f"params: {self.order_name} with trend {self.trend!r} has "
                             f"{len(names)} parameters, {a.size} given")
        if not np.all(np.isfinite(a)):
            raise ValueError("params: holds missing or infinite values")
        k = self.k_endog
        at = k if self.trend == "c" else 0
        mean = a[:at] if at else np.zeros(k)
        na, nm = len(self.ar_lags) * k * k, len(self.ma_lags) * k * k
        ar = a[at:at + na].reshape(-1, k)
        ma = a[at + na:at + na + nm].reshape(-1, k)
        sigma = np.zeros((k, k))
        sigma[np.tril_indices(k)] = a[at + na + nm:]
        sigma = sigma + np.tril(sigma, -1).T
        try:
            np.linalg.cholesky(sigma)
        except np.linalg.LinAlgError:
            raise ValueError("params: the sigma entries do not form a positive definite "
                             "matrix") from None
        if self.ar_lags:
            P = max(self.ar_lags)
            companion = np.zeros((k * P, k * P))
            for i, lag in enumerate(self.ar_lags):
                companion[:k, (lag - 1) * k:lag * k] = ar[i * k:(i + 1) * k]
            companion[k:, :-k] = np.eye(k * (P - 1))
            rho = float(np.max(np.abs(np.linalg.eigvals(companion))))
            if rho >= 1.0:
                raise ValueError(f"params: the AR part is not stationary (an eigenvalue of "
                                 f"its companion matrix has modulus {rho:.6g} >= 1)")
        return mean, ar, ma, sigma

    def filter(self, params):
        """VARMAResults at the given parameter values (in the order of
        param_names), without fitting."""
        return VARMAResults(self, *self._unpack(params))

    def loglike(self, params):
        """The log-likelihood at the given parameter values (with the
        constant, as VARMAResults.llf)."""
        return self.filter(params).llf


class VARMAResults(_Results):
    """A VARMA fit (or the model at given parameters).

    params      a pandas Series named as VARMA.param_names
    ar, ma      the stacked k x k blocks as VARMAFIT reports them: rows
                k(i-1) .. ki - 1 hold the block of the i-th lag of the list
                (the MA sign the opposite of statsmodels'); None without
    sigma       the k x k innovation covariance; mean the k means
    llf         the Gaussian log-likelihood WITH its constant:
                -(n k ln 2 pi + sum ln det F_t + sum v_t' F_t^-1 v_t) / 2 over
                the n complete rows (VARMALIK returns it without the constant)
    resid       the one-step prediction errors v_t (T x k, a DataFrame);
                standardized_resid L_t^-1 v_t with F_t = L_t L_t' (VARMARES);
                fittedvalues y - resid
    cov_params(), bse, ...  VARMAINFO's observed information in (Phi, Theta,
                Sigma's lower triangle); the sample mean's variance
                (1/T^2) sum_{|h|<T} (T - |h|) Gamma(h) from VARMACOV, with 0
                covariance with the other estimates
    get_forecast(h)  VARMAFCST: h x k forecasts, MSE matrices
    """

    def __init__(self, model, mean, ar, ma, sigma):
        import pandas as pd
        self.model = model
        self.method = "exact"
        self.mean = np.asarray(mean, dtype=float)
        self._ar, self._ma = ar, ma
        self.ar = ar if model.ar_lags else None
        self.ma = ma if model.ma_lags else None
        self.sigma = sigma
        k = model.k_endog
        values = (list(self.mean) if model.trend == "c" else []) + list(ar.ravel()) + \
            list(ma.ravel()) + list(sigma[np.tril_indices(k)])
        self.params = pd.Series(values, index=model.param_names, name="params", dtype=float)
        self.nobs = model.nobs

    def _model_args(self):
        m = self.model
        return (self.ar, self.ma, self.sigma, m.ar_lags or None, m.ma_lags or None)

    @functools.cached_property
    def llf(self):
        """The log-likelihood with the constant -(n k / 2) ln 2 pi."""
        s = self.model._session()
        L = s.varmalik(self.model.endog - self.mean, *self._model_args(), method=2)
        return float(L[0]) - self.nobs * self.model.k_endog / 2.0 * LOG_2PI

    @functools.cached_property
    def _residuals(self):
        s = self.model._session()
        out = _function(s, "varmares")(self.model.endog, *self._model_args(), mean=self.mean)
        k = self.model.k_endog
        return (np.asarray(out.resid, dtype=float).reshape(-1, k),
                np.asarray(out.innov, dtype=float).reshape(-1, k))

    def _frame(self, values):
        import pandas as pd
        return pd.DataFrame(values, index=self.model.index, columns=self.model.endog_names)

    @property
    def standardized_resid(self):
        return self._frame(self._residuals[0])

    @property
    def resid(self):
        return self._frame(self._residuals[1])

    @property
    def fittedvalues(self):
        return self._frame(self.model.endog - self._residuals[1])

    def _standardized(self):
        return self._residuals[0]

    def _ljung_box_df(self):
        k = self.model.k_endog
        return k * (len(self.model.ar_lags) + len(self.model.ma_lags)) + \
            (1 if self.model.trend == "c" else 0)

    @functools.cached_property
    def _info(self):
        n = len(self.params)
        cov = np.full((n, n), math.nan)
        s = self.model._session()
        hessian, inner, reason = _call_info(_function(s, "varmainfo"),
                                            (self.model.endog,) + self._model_args(),
                                            {"mean": self.mean})
        if inner is not None:
            k = self.model.k_endog
            at = k if self.model.trend == "c" else 0
            cov[at:, at:] = inner
            if at:
                cov[:at, at:] = cov[at:, :at] = 0.0
                cov[:at, :at] = self._mean_covariance()
        notes = []
        if reason is not None:
            notes.append(f"{self.model.order_name}: standard errors are not given: {reason}")
            warnings.warn(EstimationWarning(notes[0]), stacklevel=4)
        return hessian, cov, notes

    def _mean_covariance(self):
        s = self.model._session()
        T, k = self.model.endog.shape
        gamma = np.asarray(s.varmacov(*self._model_args(), lag=T - 1), float).reshape(T, k, k)
        # Var(ybar) = (1/T^2) (T Gamma(0) + sum_{h>=1} (T - h) (Gamma(h) + Gamma(h)'))
        w = (T - np.arange(1, T))[:, None, None]
        tail = np.sum(w * gamma[1:], axis=0)
        return (T * gamma[0] + tail + tail.T) / T ** 2

    def _cov(self):
        return self._info[1]

    @property
    def hessian(self):
        return self._info[0]

    def get_forecast(self, h=1):
        """PredictionResults of y(T+1) .. y(T+h) (VARMAFCST): h x k
        forecasts and the k x k MSE matrices."""
        h = _horizon(h)
        s = self.model._session()
        k = self.model.k_endog
        out = _function(s, "varmafcst")(self.model.endog, *self._model_args(), h=h,
                                        mean=self.mean)
        mean = np.asarray(out.forecast, dtype=float).reshape(h, k)
        mse = np.asarray(out.mse, dtype=float).reshape(h, k, k)
        index = _data.future_index(self.model.index, self.model.endog.shape[0], h)
        return PredictionResults(mean, mse, index, self.model.endog_names)

    def _description(self):
        how = "exact ML, " + ("sample mean" if self.model.trend == "c" else "zero mean")
        return self.model.order_name, how

    def _equation(self):
        return ["y_t - mu = sum_i Phi_i (y_{t-i} - mu) + e_t - sum_j Theta_j e_{t-j},",
                "e_t ~ N(0, Sigma); ar.L<i>.<r>.<c> = Phi_i[r, c], the coefficient of",
                "y_c(t-i) in the equation of y_r; the MA sign is the opposite of",
                "statsmodels' VARMAX (its MA matrices are -Theta_j)."]


# ---------------------------------------------------------------- summary

def _number(x, width=11):
    """A number in a table cell of ``width`` characters, one of them a space:
    4 decimals where they fit, fewer for large numbers, the exponent form
    for very large or small ones."""
    if x is None or not np.isfinite(x):
        return "nan".rjust(width)
    room = width - 1
    a = abs(x)
    if a == 0 or 1e-4 <= a < 1e8:
        for decimals in (4, 3, 2, 1):
            text = f"{x:.{decimals}f}"
            if len(text) <= room:
                return text.rjust(width)
    return f"{x:.3e}".rjust(width)


def _pvalue(p, width=11):
    """A p-value with 3 decimals, as the peers print it (0.000 below 5e-4)."""
    return ("nan" if not np.isfinite(p) else f"{p:.3f}").rjust(width)


class Summary:
    """A results object's summary: ``print(fit.summary())``; ``as_text()``
    gives the text, ``tables`` the coefficient table as a DataFrame."""

    WIDTH = 78

    def __init__(self, results, alpha=0.05):
        import pandas as pd
        self.results = results
        self.alpha = alpha
        bse = results.bse
        self.notes = results.notes
        ci = results.conf_int(alpha)
        self.tables = pd.DataFrame({"coef": results.params, "std err": bse,
                                    "z": results.tvalues, "P>|z|": results.pvalues,
                                    f"[{alpha / 2:g}": ci["lower"],
                                    f"{1 - alpha / 2:g}]": ci["upper"]})

    def _header(self):
        r = self.results
        m = r.model
        order, how = r._description()
        index = m.index
        if index is not None and len(index):
            span = f"{index[0]} - {index[-1]}"
        else:
            span = f"0 - {m.endog.shape[0]}"
        left = [("Dep. Variable:", ", ".join(m.endog_names)), ("Model:", order),
                ("Method:", how), ("Sample:", span),
                ("Covariance Type:", "observed information")]
        right = [("No. Observations:", str(r.nobs)), ("Log Likelihood", f"{r.llf:.3f}"),
                 ("AIC", f"{r.aic:.3f}"), ("BIC", f"{r.bic:.3f}"), ("HQIC", f"{r.hqic:.3f}")]
        lines = []
        for (a, b), (c, d) in zip(left, right):
            # 44 characters on the left, 34 on the right
            lines.append(f"{a:<17}{b:>26} " + f" {c:<18}{d:>15}")
        return lines

    def _diagnostics(self):
        r = self.results
        lines = []
        std = r._standardized()
        for j in range(std.shape[1]):
            x = std[:, j]
            x = x[np.isfinite(x)]
            lb = sample.ljung_box(x, min(10, max(1, x.size // 5)), r._ljung_box_df())
            last = lb.iloc[-1]
            jb, jbp, skew, kurt = _jarque_bera(x)
            name = f"{r.model.endog_names[j]}: " if std.shape[1] > 1 else ""
            lines.append(f"{name}Ljung-Box (L{int(lb.index[-1])}, df {int(last['df'])}) Q: "
                         f"{last['lb_stat']:.2f}  Prob(Q): {last['lb_pvalue']:.3f}   "
                         f"Jarque-Bera: {jb:.2f}  Prob(JB): {jbp:.3f}")
            lines.append(f"{' ' * len(name)}Skew: {skew:.3f}  Kurtosis: {kurt:.3f}")
        return lines

    def as_text(self):
        r = self.results
        rule, thin = "=" * self.WIDTH, "-" * self.WIDTH
        title = f"{type(r).__name__.replace('Results', '')} Results".center(self.WIDTH)
        cols = self.tables.columns
        label = max(12, max(len(str(n)) for n in self.tables.index) + 1)
        head = " " * label + "".join(f"{c:>11}" for c in cols)
        body = []
        for name, row in self.tables.iterrows():
            cells = [_number(row["coef"]), _number(row["std err"]), _number(row["z"]),
                     _pvalue(row["P>|z|"]), _number(row[cols[4]]), _number(row[cols[5]])]
            body.append(f"{name:<{label}}" + "".join(cells))
        lines = [title, rule] + self._header() + [rule, head, thin] + body + [rule]
        try:
            lines += self._diagnostics() + [rule]
        except (ValueError, RuntimeError, mvts.MvtsError) as e:
            lines += [f"Residual diagnostics unavailable: {e}", rule]
        lines += ["Model: " + r._equation()[0]] + ["       " + t for t in r._equation()[1:]]
        lines += ["The log-likelihood includes its constant -(n k / 2) ln(2 pi); standard "
                  "errors are from", "the Hessian of the log-likelihood (Richardson-"
                  "extrapolated differences)."]
        for i, note in enumerate(self.notes, 1):
            lines.append(f"[{i}] {note}")
        return "\n".join(lines)

    def __str__(self):
        return self.as_text()

    def __repr__(self):
        return self.as_text()
