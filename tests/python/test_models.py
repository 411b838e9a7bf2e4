"""mvts.ARFIMA and mvts.VARMA: orders as statsmodels reads them, the
likelihood with its constant against dense Gaussian densities, the mean
estimated with the model, results consistent with the registered functions,
forecasts against a direct solve, Ljung-Box against statsmodels, summaries,
and errors that name the argument."""

import math
import pathlib
import warnings

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import mvts  # noqa: E402
from mvts import models  # noqa: E402

ROOT = pathlib.Path(__file__).resolve().parents[2]
NILE = ROOT / "examples" / "python" / "nile.csv"
LOG_2PI = math.log(2 * math.pi)
PHI2 = np.array([[0.5, 0.1], [0.0, 0.3], [0.1, 0.0], [0.0, 0.2]])  # lags 1 and 2


def needs(*names):
    """Skips a test whose functions this build's catalogue lacks."""
    known = {entry[0] for entry in mvts.catalog()}
    missing = [n for n in names if n not in known]
    return pytest.mark.skipif(bool(missing), reason=f"not in the catalogue: {missing}")


def toeplitz(g):
    n = g.size
    i = np.arange(n)
    return g[np.abs(i[:, None] - i[None, :])]


def dense_loglik(y, cov):
    """The Gaussian log-likelihood of y under N(0, cov), with its constant."""
    sign, logdet = np.linalg.slogdet(cov)
    assert sign > 0
    return -0.5 * (y.size * LOG_2PI + logdet + y @ np.linalg.solve(cov, y))


@pytest.fixture(scope="module")
def nile():
    return pd.read_csv(NILE, index_col="year")["flow"]


@pytest.fixture(scope="module")
def arfima_series():
    return mvts.Session().farmasim(0.25, [0.5], n=300, seed=21) + 3.0


@pytest.fixture(scope="module")
def varma_series():
    y = mvts.Session().varmasim(PHI2, None, n=250, seed=22) + np.array([1.0, -2.0])
    return pd.DataFrame(y, columns=["u", "v"])


class TestOrders:
    def test_varma_order_two_fits_lags_one_and_two(self, varma_series):
        fit = mvts.VARMA(varma_series, 2, 0).fit()
        assert [n for n in fit.params.index if n.startswith("ar.")] == \
            [f"ar.L{lag}.{r}.{c}" for lag in (1, 2) for r in "uv" for c in "uv"]
        raw = mvts.varmafit(varma_series.to_numpy() - fit.mean, p=[1, 2])
        assert np.array_equal(fit.ar, raw.ar) and fit.ar.shape == (4, 2)
        assert np.array_equal(fit.sigma, raw.sigma)

    def test_varma_lag_list_fits_that_lag_alone(self, varma_series):
        fit = mvts.VARMA(varma_series, [2], 0).fit()
        assert [n for n in fit.params.index if n.startswith("ar.")] == \
            ["ar.L2.u.u", "ar.L2.u.v", "ar.L2.v.u", "ar.L2.v.v"]
        raw = mvts.varmafit(varma_series.to_numpy() - fit.mean, p=[2])
        assert np.array_equal(fit.ar, raw.ar) and fit.ar.shape == (2, 2)
        # Leaving lag 1 out of a model that has it costs likelihood.
        assert fit.llf < mvts.VARMA(varma_series, 2, 0).fit().llf - 10

    def test_arfima_orders(self, arfima_series):
        two = mvts.ARFIMA(arfima_series, 2, 0, trend="n")
        assert two.ar_lags == [1, 2] and two.order_name == "ARFIMA(2, d, 0)"
        alone = mvts.ARFIMA(arfima_series, [2], [1, 3], trend="n")
        assert alone.param_names == ["d", "ar.L2", "ma.L1", "ma.L3", "sigma2"]
        assert alone.order_name == "ARFIMA([2], d, [1, 3])"
        fit = alone.fit("conditional")
        raw = mvts.farmafit(arfima_series, p=[2], q=[1, 3], opt=0)
        assert np.array_equal(fit.ar, raw.ar) and fit.ar.shape == (2,) and fit.ar[0] == 0
        assert fit.params["ar.L2"] == raw.ar[1]
        assert np.array_equal(fit.params[["ma.L1", "ma.L3"]], raw.ma[[0, 2]])

    @pytest.mark.parametrize("order", [[2, 1], [0], [1, 1], -1, 1.5, "2"])
    def test_lag_lists_are_checked(self, arfima_series, order):
        with pytest.raises(ValueError, match="^p:"):
            mvts.ARFIMA(arfima_series, order, 0)


class TestLikelihood:
    def test_exact_arfima_llf_is_the_dense_gaussian_density(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0, trend="n").fit("exact")
        g = mvts.farmacov(fit.d, fit.ar, None, fit.sigma, lag=arfima_series.size - 1)
        assert fit.llf == pytest.approx(dense_loglik(arfima_series, toeplitz(g)), rel=1e-11)
        assert fit.nobs == fit.nobs_effective == 300
        k = 3  # d, ar.L1, sigma2
        assert fit.aic == pytest.approx(-2 * fit.llf + 2 * k, rel=1e-15)
        assert fit.bic == pytest.approx(-2 * fit.llf + k * math.log(300), rel=1e-15)
        assert fit.hqic == pytest.approx(-2 * fit.llf + 2 * k * math.log(math.log(300)),
                                         rel=1e-15)

    def test_conditional_llf_is_the_gaussian_density_of_the_filtered_terms(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, [1], [2]).fit("conditional")
        # u = (1 - B)^d (y - mean) with the weights pi_j of (1 - B)^d, truncated
        # at the start, and u_0 = 0 (FDIF's first value is missing); then
        # e_t = u_t - phi_1 u_{t-1} + theta_2 e_{t-2}; the sum from t = m = 2.
        y = arfima_series - fit.mean
        n = y.size
        w = np.ones(n)
        for j in range(1, n):
            w[j] = w[j - 1] * (j - 1 - fit.d) / j
        u = np.array([w[:t + 1] @ y[t::-1] for t in range(n)])
        u[0] = 0.0
        e = np.zeros(n)
        for t in range(n):
            e[t] = u[t] - (fit.ar[0] * u[t - 1] if t >= 1 else 0.0) + \
                (fit.ma[1] * e[t - 2] if t >= 2 else 0.0)
        S = e[2:] @ e[2:]
        s2 = fit.sigma
        assert s2 == pytest.approx(S / (n - 2), rel=1e-9)
        assert fit.nobs_effective == n - 2
        assert fit.llf == pytest.approx(-0.5 * ((n - 2) * (LOG_2PI + math.log(s2)) + S / s2),
                                        rel=1e-10)

    def test_varma_llf_is_the_dense_gaussian_density(self, varma_series):
        y = varma_series.iloc[:60]
        fit = mvts.VARMA(y, 1, 1).fit()
        T, k = y.shape
        G = np.asarray(mvts.varmacov(fit.ar, fit.ma, fit.sigma, lag=T - 1)).reshape(T, k, k)
        big = np.zeros((T * k, T * k))
        for s in range(T):
            for t in range(T):
                # Gamma(h) = E[y_s y_{s+h}']
                big[s * k:(s + 1) * k, t * k:(t + 1) * k] = G[t - s] if t >= s else G[s - t].T
        want = dense_loglik((y.to_numpy() - fit.mean).ravel(), big)
        assert fit.llf == pytest.approx(want, rel=1e-9)
        assert fit.df_model == 2 + 4 + 4 + 3

    def test_loglike_at_given_parameters_equals_the_fit(self, arfima_series):
        model = mvts.ARFIMA(arfima_series, 1, 0, trend="n")
        fit = model.fit("exact")
        assert model.loglike(fit.params.to_numpy()) == pytest.approx(fit.llf, rel=1e-14)
        moved = fit.params.to_numpy() + [0.02, -0.02, 0.0]
        assert model.loglike(moved) < fit.llf


class TestMean:
    @needs("FARMAFITMEAN")
    @pytest.mark.parametrize("method", ["exact", "conditional"])
    def test_translation_invariance(self, arfima_series, method):
        a = mvts.ARFIMA(arfima_series, 1, 1).fit(method)
        b = mvts.ARFIMA(arfima_series + 1000.0, 1, 1).fit(method)
        for name in ("d", "ar.L1", "ma.L1", "sigma2"):
            assert b.params[name] == pytest.approx(a.params[name], abs=1e-6), name
        assert b.params["mean"] - a.params["mean"] == pytest.approx(1000.0, abs=1e-6)

    def test_conditional_mean_is_the_sample_mean(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("conditional")
        assert fit.mean == np.mean(arfima_series)
        raw = mvts.farmafit(arfima_series - fit.mean, p=1, opt=0)
        assert (fit.d, fit.sigma) == (raw.d, raw.sigma)

    @needs("FARMAFITMEAN")
    def test_nile_d_agrees_with_fracdiff(self, nile):
        fit = mvts.ARFIMA(nile, 0, 0).fit("exact")
        assert abs(fit.d - 0.364) < 0.01
        assert 800 < fit.mean < 1000

    @needs("FARMAFITMEAN", "FARMARES")
    def test_exact_mean_is_the_gls_mean(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("exact")
        g = mvts.farmacov(fit.d, fit.ar, None, fit.sigma, lag=arfima_series.size - 1)
        G = toeplitz(g)
        one = np.ones(arfima_series.size)
        gls = (one @ np.linalg.solve(G, arfima_series)) / (one @ np.linalg.solve(G, one))
        assert fit.mean == pytest.approx(gls, rel=1e-9)
        # its variance (1' G^-1 1)^-1
        var = fit.cov_params().loc["mean", "mean"]
        assert var == pytest.approx(1.0 / (one @ np.linalg.solve(G, one)), rel=1e-9)


@needs("FARMARES")
class TestResiduals:
    def test_innovations_reproduce_the_exact_likelihood(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0, trend="n").fit("exact")
        std = fit.standardized_resid.to_numpy()
        var = (fit.resid.to_numpy() / std) ** 2
        assert -0.5 * (std @ std + np.sum(np.log(var)) + std.size * LOG_2PI) == \
            pytest.approx(fit.llf, rel=1e-10)
        assert np.allclose(fit.fittedvalues + fit.resid, arfima_series, rtol=0, atol=1e-12)

    @needs("FARMAFITMEAN")
    def test_first_prediction_is_the_mean(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("exact")
        assert fit.fittedvalues.iloc[0] == pytest.approx(fit.mean, rel=1e-12)
        assert fit.resid.iloc[0] ** 2 == pytest.approx(
            fit.standardized_resid.iloc[0] ** 2 * mvts.farmacov(fit.d, fit.ar, None, fit.sigma,
                                                                lag=1)[0], rel=1e-12)

    def test_conditional_filter_starts_from_zero(self, arfima_series):
        # The conditional sum of squares sets u_0 = (1 - B)^d y_0 to 0: its
        # first innovation is 0 and the one-step prediction the value itself.
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("conditional")
        assert fit.resid.iloc[0] == 0.0
        assert fit.fittedvalues.iloc[0] == arfima_series[0]

    def test_ljung_box_against_statsmodels(self, arfima_series):
        diagnostic = pytest.importorskip("statsmodels.stats.diagnostic")
        fit = mvts.ARFIMA(arfima_series, 1, 1).fit("conditional")
        ours = fit.test_serial_correlation(lags=8)
        std = fit.standardized_resid.to_numpy()[1:]  # the sum of squares starts at lag 1
        # statsmodels' rule: the degrees of freedom lose df_model - 1 (all
        # but sigma2: mean, d, ar.L1, ma.L1).
        ref = diagnostic.acorr_ljungbox(std, 8, model_df=4, return_df=True)
        assert np.allclose(ours["lb_stat"], ref["lb_stat"], rtol=1e-12)
        assert np.allclose(ours["lb_pvalue"].iloc[4:], ref["lb_pvalue"].iloc[4:], rtol=1e-10)
        assert ours["lb_pvalue"].iloc[:4].isna().all()
        plain = fit.test_serial_correlation(lags=8, df_adjust=False)
        assert list(plain["df"]) == list(range(1, 9))

    @needs("VARMARES")
    def test_varma_residual_frames(self, varma_series):
        fit = mvts.VARMA(varma_series, 1, 0).fit()
        assert list(fit.resid.columns) == ["u", "v"] and fit.resid.shape == (250, 2)
        assert np.allclose(fit.fittedvalues + fit.resid, varma_series, rtol=0, atol=1e-12)
        table = fit.test_serial_correlation(lags=5)
        assert list(table.columns.get_level_values(0).unique()) == ["u", "v"]
        assert list(table["u"]["df"]) == [-2, -1, 0, 1, 2]  # k (P + Q) + 1 = 3 lost


@needs("FARMAFCST", "FARMAFITMEAN")
class TestForecasts:
    def test_forecasts_are_the_raw_function_with_the_mean(self, nile):
        fit = mvts.ARFIMA(nile, 1, 0).fit("exact")
        pred = fit.get_forecast(8)
        raw = mvts.farmafcst(nile.to_numpy(), fit.d, fit.ar, None, fit.sigma, h=8,
                             mean=fit.mean, level=0.9)
        assert np.array_equal(pred.predicted_mean, np.ravel(raw.forecast))
        assert np.allclose(pred.se_mean ** 2, np.ravel(raw.mse), rtol=1e-15)
        frame = pred.summary_frame(alpha=0.1)
        assert list(frame.columns) == ["mean", "mean_se", "mean_ci_lower", "mean_ci_upper"]
        assert np.allclose(frame[["mean_ci_lower", "mean_ci_upper"]], raw.interval, rtol=1e-12)
        assert list(frame.index) == list(range(1971, 1979))  # the years continue
        assert np.array_equal(fit.forecast(8), pred.predicted_mean)

    def test_forecast_is_the_best_linear_predictor(self, arfima_series):
        # mu + gamma_h' G^-1 (y - mu), and its MSE gamma(0) - gamma_h' G^-1 gamma_h.
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("exact")
        n, h = arfima_series.size, 3
        g = np.asarray(mvts.farmacov(fit.d, fit.ar, None, fit.sigma, lag=n + h))
        G = toeplitz(g[:n])
        pred = fit.get_forecast(h)
        for step in range(1, h + 1):
            c = g[n - 1 + step:step - 1:-1]  # cov(y_{n+step}, y_1 .. y_n)
            assert pred.predicted_mean.iloc[step - 1] == pytest.approx(
                fit.mean + c @ np.linalg.solve(G, arfima_series - fit.mean), rel=1e-9)
            assert pred.var_pred_mean.iloc[step - 1] == pytest.approx(
                g[0] - c @ np.linalg.solve(G, c), rel=1e-8)

    def test_period_index_continues(self, arfima_series):
        y = pd.Series(arfima_series, index=pd.period_range("1950Q1", periods=300, freq="Q"))
        pred = mvts.ARFIMA(y, 1, 0).fit("conditional").get_forecast(3)
        assert list(pred.predicted_mean.index.astype(str)) == ["2025Q1", "2025Q2", "2025Q3"]

    @needs("VARMAFCST")
    def test_varma_forecast_shapes(self, varma_series):
        fit = mvts.VARMA(varma_series, 2, 0).fit()
        pred = fit.get_forecast(6)
        raw = mvts.varmafcst(varma_series.to_numpy(), fit.ar, None, fit.sigma, h=6,
                             mean=fit.mean)
        assert pred.predicted_mean.shape == (6, 2) and pred.mse.shape == (6, 2, 2)
        assert np.array_equal(pred.predicted_mean.to_numpy(), raw.forecast)
        assert np.allclose(pred.mse.reshape(12, 2), raw.mse, rtol=1e-15)
        ci = pred.conf_int()
        assert list(ci.columns) == ["lower u", "lower v", "upper u", "upper v"]
        assert np.allclose(ci.to_numpy(), raw.interval, rtol=1e-12)
        assert list(pred.summary_frame(endog="v")["mean"]) == list(raw.forecast[:, 1])


@needs("FARMAINFO", "FARMARES", "FARMAFITMEAN")
class TestStandardErrors:
    def test_wald_quantities_from_the_covariance(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("exact")
        cov = fit.cov_params()
        assert list(cov.index) == ["mean", "d", "ar.L1", "sigma2"]
        info = mvts.farmainfo(arfima_series, fit.d, fit.ar, None, fit.sigma, opt=1,
                              mean=fit.mean)
        assert np.array_equal(cov.iloc[1:, 1:].to_numpy(), info.cov)
        assert np.all(cov.iloc[0, 1:] == 0)
        assert np.allclose(fit.bse ** 2, np.diag(cov), rtol=1e-15)
        ci = fit.conf_int(0.05)
        assert np.allclose(ci["upper"] - fit.params, 1.959963984540054 * fit.bse, rtol=1e-14)
        z = (fit.params / fit.bse).to_numpy()
        assert np.allclose(fit.pvalues, [math.erfc(abs(v) / math.sqrt(2)) for v in z],
                           rtol=1e-13)

    def test_a_saddle_gets_missing_standard_errors_and_a_warning(self, arfima_series):
        # ARFIMA(1, d, 1) at phi = theta: the AR and MA factors cancel, the
        # likelihood is flat along phi = theta, its Hessian singular.
        model = mvts.ARFIMA(arfima_series, 1, 1, trend="n")
        fit = model.fit("exact")
        at = model.filter([fit.d, 0.4, 0.4, fit.sigma])
        with pytest.warns(models.EstimationWarning, match="standard errors are not given"):
            bse = at.bse
        assert bse.isna().all()

    def test_d_on_the_bound_gets_missing_standard_errors(self, arfima_series, nile):
        model = mvts.ARFIMA(arfima_series, 0, 0, trend="n")
        at = model.filter([0.4999999, 1.0])
        with pytest.warns(models.EstimationWarning, match="bound"):
            assert at.cov_params().isna().all().all()
        # The raw Nile flows without a mean: the maximum at d = 0.496 sits
        # against the singularity at 1/2.
        fit = mvts.ARFIMA(nile, 0, 0, trend="n").fit("exact")
        assert 0.495 < fit.d < 0.5
        with pytest.warns(models.EstimationWarning, match="d = 0.496"):
            assert fit.bse.isna().all()
        assert fit.notes[0].startswith("ARFIMA(0, d, 0): standard errors are not given")
        assert f"[1] {fit.notes[0]}" in str(fit.summary())  # warned once, noted every time

    def test_summary_table(self, nile):
        fit = mvts.ARFIMA(nile, 0, 0).fit("exact")
        text = str(fit.summary())
        for piece in ("ARFIMA(0, d, 0)", "exact ML, GLS mean", "Log Likelihood",
                      f"{fit.llf:.3f}", f"{fit.aic:.3f}", "Ljung-Box", "Jarque-Bera",
                      "theta(B) = 1 - theta_1 B", "opposite of statsmodels'", "1871 - 1970",
                      "ln(2 pi)"):
            assert piece in text, piece
        row = next(line for line in text.splitlines() if line.startswith("d "))
        assert f"{fit.params['d']:.4f}" in row and f"{fit.bse['d']:.4f}" in row


class TestBadInput:
    def test_horizon(self, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("conditional")
        for h in (0, -3, 1.5):
            with pytest.raises(ValueError, match="^h:"):
                fit.get_forecast(h)

    def test_parameter_vector(self, arfima_series, varma_series):
        with pytest.raises(ValueError, match="^params: .* has 4 parameters .* 3 given"):
            mvts.ARFIMA(arfima_series, 1, 0).filter([0.0, 0.2, 1.0])
        with pytest.raises(ValueError, match="^params: the AR part is not stationary"):
            mvts.ARFIMA(arfima_series, 1, 0).filter([0.0, 0.2, 1.2, 1.0])
        with pytest.raises(ValueError, match="^params: sigma2"):
            mvts.ARFIMA(arfima_series, 0, 0, trend="n").filter([0.2, -1.0])
        with pytest.raises(ValueError, match="^params: d = 0.7"):
            mvts.ARFIMA(arfima_series, 0, 0, trend="n").filter([0.7, 1.0])
        with pytest.raises(ValueError, match="^params: .* 3 given"):
            mvts.VARMA(varma_series, 1, 0).filter([0.0, 0.0, 1.0])
        with pytest.raises(ValueError, match="^params: the AR part is not stationary"):
            mvts.VARMA(varma_series, 1, 0, trend="n").filter([1.1, 0, 0, 0.5, 1, 0, 1])
        with pytest.raises(ValueError, match="^params: the sigma entries"):
            mvts.VARMA(varma_series, 1, 0, trend="n").filter([0.1, 0, 0, 0.5, 1, 2, 1])

    def test_series_shorter_than_the_model(self, arfima_series, varma_series):
        with pytest.raises(ValueError, match="^y: 6 observations are too few"):
            mvts.ARFIMA(arfima_series[:6], 3, 1)
        with pytest.raises(ValueError, match="^y: 7 complete rows are too few"):
            mvts.VARMA(varma_series.iloc[:7], 2, 0)
        mvts.VARMA(varma_series.iloc[:8], 2, 0)  # the least it takes

    def test_other_arguments(self, arfima_series, varma_series):
        y = arfima_series.copy()
        y[4] = np.nan
        with pytest.raises(ValueError, match="^y: .*missing"):
            mvts.ARFIMA(y, 1, 0)
        with pytest.raises(ValueError, match="^trend:"):
            mvts.ARFIMA(arfima_series, 1, 0, trend="ct")
        with pytest.raises(ValueError, match="^method:"):
            mvts.ARFIMA(arfima_series, 1, 0).fit("css")
        with pytest.raises(ValueError, match="^p, q:"):
            mvts.VARMA(varma_series, 0, 0)
        with pytest.raises(ValueError, match="^y: a multivariate series"):
            mvts.VARMA(arfima_series, 1, 0)
        with pytest.raises(ValueError, match="^y: one series"):
            mvts.ARFIMA(varma_series, 1, 0)

    def test_missing_statistics_module_is_named(self, arfima_series):
        class Bare:
            pass
        with pytest.raises(RuntimeError, match="FARMARES is not in this build"):
            models._function(Bare(), "farmares")


class TestSameAsTheCommandLine:
    """The command line's `summary` prints the same fits: the estimates,
    standard errors and criteria agree with the results objects."""

    @staticmethod
    def cli_summary(tmp_path, function, series, **arguments):
        import json
        import subprocess
        from conftest import CLI
        path = tmp_path / "y.csv"
        np.savetxt(path, series, delimiter=",")
        args = [CLI, "summary", function, f"@{path}"] + [f"{k}={v}" for k, v in arguments.items()]
        done = subprocess.run(args + ["--format", "json"], capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        table = json.loads(done.stdout.splitlines()[-1])
        out = {o["name"]: np.array(o["data"]) for o in table["outputs"]}
        return table["names"], out["estimates"], out["criteria"][0]

    @needs("FARMAFITMEAN", "FARMAINFO", "FARMARES")
    def test_arfima_with_its_mean(self, tmp_path, arfima_series):
        fit = mvts.ARFIMA(arfima_series, 1, 0).fit("exact")
        names, estimates, criteria = self.cli_summary(tmp_path, "FARMAFITMEAN", arfima_series,
                                                      p=1, opt=1)
        assert sorted(names) == sorted(fit.params.index)
        for i, name in enumerate(names):
            assert estimates[i, 0] == pytest.approx(fit.params[name], rel=1e-12), name
            assert estimates[i, 1] == pytest.approx(fit.bse[name], rel=1e-9), name
        assert criteria[:4] == pytest.approx([fit.llf, fit.aic, fit.bic, fit.hqic], rel=1e-12)

    @needs("VARMAINFO")
    def test_varma_with_zero_mean(self, tmp_path, varma_series):
        fit = mvts.VARMA(varma_series.to_numpy(), 1, 0, trend="n").fit()
        names, estimates, criteria = self.cli_summary(tmp_path, "VARMAFIT",
                                                      varma_series.to_numpy(), p=1)
        assert names == list(fit.params.index)
        assert np.allclose(estimates[:, 0], fit.params, rtol=1e-12)
        assert np.allclose(estimates[:, 1], fit.bse, rtol=1e-9)
        assert criteria[:4] == pytest.approx([fit.llf, fit.aic, fit.bic, fit.hqic], rel=1e-12)
