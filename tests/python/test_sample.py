"""mvts.acf, mvts.pacf, mvts.ccf and the Ljung-Box test: against
statsmodels where it is installed, and against computations written here
(a Yule-Walker solve, the sums of the definitions)."""

import math

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import mvts  # noqa: E402
from mvts import sample  # noqa: E402


@pytest.fixture(scope="module")
def series():
    x = mvts.Session().farmasim(0.3, [0.4], n=400, seed=11)
    e = mvts.Session().farmasim(0.1, None, n=400, seed=12)
    y = 0.6 * np.roll(x, 3) + e  # y follows x by three steps (the roll wraps 3 values)
    return x, y


def statsmodels_stattools():
    return pytest.importorskip("statsmodels.tsa.stattools")


class TestAgainstStatsmodels:
    def test_acf_values_and_bartlett_band(self, series):
        st = statsmodels_stattools()
        x, _ = series
        ours = mvts.acf(x, nlags=25, alpha=0.1)
        values, interval = st.acf(x, nlags=25, alpha=0.1, fft=False)
        assert np.allclose(ours["acf"], values, rtol=0, atol=1e-14)
        # statsmodels centres its interval on r(h); the half-width is ours.
        assert np.allclose(ours["upper"], interval[:, 1] - values, rtol=0, atol=1e-14)
        assert np.allclose(ours["lower"], interval[:, 0] - values, rtol=0, atol=1e-14)

    @pytest.mark.parametrize("method", ["ldb", "ywm"])
    def test_pacf_is_yule_walker_with_the_biased_autocovariances(self, series, method):
        st = statsmodels_stattools()
        x, _ = series
        assert np.allclose(mvts.pacf(x, nlags=20)["pacf"], st.pacf(x, 20, method=method),
                           rtol=0, atol=1e-13)

    def test_ccf_at_both_signs_of_the_lag(self, series):
        st = statsmodels_stattools()
        x, y = series
        ours = mvts.ccf(x, y, nlags=12)["ccf"]
        assert np.allclose(ours.loc[0:], st.ccf(x, y, adjusted=False)[:13], rtol=0, atol=1e-14)
        assert np.allclose(ours.loc[:0][::-1], st.ccf(y, x, adjusted=False)[:13], rtol=0,
                           atol=1e-14)

    def test_ljung_box(self, series):
        diagnostic = pytest.importorskip("statsmodels.stats.diagnostic")
        x, _ = series
        ours = sample.ljung_box(x, 12, model_df=3)
        ref = diagnostic.acorr_ljungbox(x, 12, model_df=3, return_df=True)
        assert np.allclose(ours["lb_stat"], ref["lb_stat"], rtol=1e-12, atol=0)
        assert np.array_equal(np.isnan(ours["lb_pvalue"]), np.isnan(ref["lb_pvalue"]))
        ok = ~np.isnan(ref["lb_pvalue"].to_numpy())
        assert ok.sum() == 9
        assert np.allclose(ours["lb_pvalue"][ok], ref["lb_pvalue"][ok], rtol=1e-10, atol=1e-300)


class TestDefinitions:
    def test_pacf_equals_the_last_yule_walker_coefficient(self, series):
        x, _ = series
        d = x - x.mean()
        c = np.array([d[:x.size - h] @ d[h:] / x.size for h in range(11)])
        values = mvts.pacf(x, nlags=10)["pacf"].to_numpy()
        for h in range(1, 11):
            R = np.array([[c[abs(i - j)] for j in range(h)] for i in range(h)])
            assert values[h] == pytest.approx(np.linalg.solve(R, c[1:h + 1])[-1], abs=1e-12)

    def test_ccf_peaks_where_x_leads_y(self, series):
        x, y = series
        table = mvts.ccf(x, y, nlags=6)
        # y_t = 0.6 x_{t-3} + e_t: corr(x_{t+h}, y_t) is largest at h = -3.
        assert table["ccf"].idxmax() == -3
        d, e = x - x.mean(), y - y.mean()
        want = (d[:-3] @ e[3:]) / math.sqrt((d @ d) * (e @ e))
        assert table.loc[-3, "ccf"] == pytest.approx(want, rel=1e-13)
        assert np.allclose(table["upper"], 1.959963984540054 / math.sqrt(x.size), rtol=1e-14)

    def test_ljung_box_is_the_sum_of_its_definition(self, series):
        x, _ = series
        n = x.size
        d = x - x.mean()
        r = np.array([d[:n - h] @ d[h:] for h in range(1, 6)]) / (d @ d)
        want = n * (n + 2) * np.cumsum(r ** 2 / (n - np.arange(1, 6)))
        table = sample.ljung_box(x, [2, 5])
        assert list(table.index) == [2, 5]
        assert np.allclose(table["lb_stat"], want[[1, 4]], rtol=1e-12)
        assert list(table["df"]) == [2, 5]

    def test_acf_band_widens_with_the_lags_before(self, series):
        x, _ = series
        table = mvts.acf(x, nlags=5)
        r = table["acf"].to_numpy()
        assert table["se"].iloc[0] == 0.0
        assert table["se"].iloc[1] == pytest.approx(1 / math.sqrt(x.size), rel=1e-14)
        assert table["se"].iloc[4] == pytest.approx(
            math.sqrt((1 + 2 * np.sum(r[1:4] ** 2)) / x.size), rel=1e-14)

    def test_default_lags(self):
        x = np.random.default_rng(1).standard_normal(1000)
        assert mvts.acf(x).index[-1] == 30  # 10 log10(n), as statsmodels
        assert sample.ljung_box(x).index[-1] == 10


class TestQuantiles:
    def test_normal_quantile_and_chi_squared_tail_against_scipy(self):
        stats = pytest.importorskip("scipy.stats")
        for p in (1e-12, 1e-4, 0.0243, 0.025, 0.2, 0.5, 0.8, 0.975, 1 - 1e-9):
            assert sample.normal_quantile(p) == pytest.approx(stats.norm.ppf(p), rel=1e-14,
                                                              abs=1e-15)
        for x, df in ((0.01, 1), (3.0, 2), (10.0, 5), (60.0, 30), (250.0, 150), (40.0, 3)):
            assert sample.chi2_sf(x, df) == pytest.approx(stats.chi2.sf(x, df), rel=1e-12)

    def test_chi_squared_with_two_degrees_of_freedom_is_exponential(self):
        for x in (0.1, 1.0, 7.5, 40.0):
            assert sample.chi2_sf(x, 2) == pytest.approx(math.exp(-x / 2), rel=1e-13)


class TestBadInput:
    @pytest.mark.parametrize("call, argument", [
        (lambda: mvts.acf([1.0, np.nan, 2.0, 3.0]), "x"),
        (lambda: mvts.acf(np.arange(10.0), nlags=10), "nlags"),
        (lambda: mvts.acf(np.arange(10.0), nlags=-1), "nlags"),
        (lambda: mvts.acf(np.arange(10.0), alpha=1.5), "alpha"),
        (lambda: mvts.pacf(np.ones(20)), "x"),
        (lambda: mvts.ccf(np.arange(10.0), np.arange(9.0)), "y"),
        (lambda: mvts.acf(np.zeros((10, 2))), "x"),
        (lambda: sample.ljung_box(np.arange(10.0) % 3, lags=0), "lags"),
        (lambda: sample.ljung_box(np.arange(10.0) % 3, model_df=-1), "model_df"),
    ])
    def test_errors_name_the_argument(self, call, argument):
        with pytest.raises(ValueError, match=f"^{argument}:"):
            call()
