"""mvts.plot: each picture renders with Agg to a PNG whose axes carry the
expected labels, and what it draws agrees with independent computations."""

import io
import subprocess
import sys

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

import mvts  # noqa: E402
import mvts.plot  # noqa: E402

PHI = np.array([[0.5, 0.1], [-0.2, 0.4]])
THETA = np.array([[0.3, 0.0], [0.1, 0.2]])


def png_bytes(fig):
    buf = io.BytesIO()
    fig.savefig(buf, format="png")
    plt.close(fig)
    data = buf.getvalue()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) > 5000
    return data


def test_matplotlib_is_imported_only_when_a_picture_is_drawn():
    code = ("import sys, mvts, mvts.plot\n"
            "assert 'matplotlib' not in sys.modules\n"
            "mvts.plot.roots(phi=[[0.5, 0.1], [0.0, 0.3]])\n"
            "assert 'matplotlib' in sys.modules\n")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr


class TestRoots:
    def test_varma_roots_on_the_unit_circle(self):
        fig = mvts.plot.roots(phi=PHI, theta=THETA)
        ax = fig.axes[0]
        assert (ax.get_xlabel(), ax.get_ylabel()) == ("real part", "imaginary part")
        labels = [t.get_text() for t in ax.get_legend().get_texts()]
        assert labels == ["unit circle", "AR (stationary)", "MA (invertible)"]
        ar = ax.lines[3].get_xydata()
        want = np.linalg.eigvals(PHI)  # a VAR(1)'s companion matrix is Phi_1
        assert np.allclose(np.sort_complex(ar[:, 0] + 1j * ar[:, 1]), np.sort_complex(want))
        png_bytes(fig)

    def test_univariate_roots_match_the_polynomial_and_flag_nonstationarity(self):
        # phi(B) = 1 - 1.2 B + 0.1 B^2 has inverse roots 1.1099 and 0.0901.
        fit = mvts.FarmafitResult(0.3, np.array([1.2, -0.1]), np.array([0.4]), 1.0)
        fig = mvts.plot.roots(fit)
        ax = fig.axes[0]
        ar = ax.lines[3].get_xydata()
        ma = ax.lines[4].get_xydata()
        assert np.allclose(np.sort(ar[:, 0]), np.sort(np.roots([1.0, -1.2, 0.1]).real))
        assert np.allclose(ar[:, 1], 0.0) and np.allclose(ma, [[0.4, 0.0]])
        labels = [t.get_text() for t in ax.get_legend().get_texts()]
        assert labels == ["unit circle", "AR (not stationary)", "MA (invertible)"]
        png_bytes(fig)

    def test_complex_pair_of_a_univariate_model(self):
        ar, ma = mvts.plot._model_roots([0.5, -0.3], None, None, None, None)
        assert np.allclose(np.sort_complex(ar), np.sort_complex(np.roots([1.0, -0.5, 0.3])))
        assert ma.size == 0

    def test_draws_into_a_given_axes(self):
        fig, (left, right) = plt.subplots(1, 2)
        assert mvts.plot.roots(phi=PHI, ax=right) is fig
        assert right.get_xlabel() == "real part" and left.get_xlabel() == ""
        png_bytes(fig)


class TestAutocov:
    def test_varma_panels_with_labels_and_the_model_convention(self):
        session = mvts.Session()
        y = session.varmasim(PHI, THETA, n=20000, seed=5)
        fig = mvts.plot.autocov(y, {"phi": PHI, "theta": THETA}, lag=5, session=session)
        assert len(fig.axes) == 4
        titles = [a.get_title() for a in fig.axes]
        assert titles == ["cov(y1(t), y1(t+h))", "cov(y1(t), y2(t+h))",
                          "cov(y2(t), y1(t+h))", "cov(y2(t), y2(t+h))"]
        assert all(a.get_xlabel() == "lag h" and a.get_ylabel() == "covariance" for a in fig.axes)
        # The sample values of a long series fall near the model's, panel by
        # panel (a transposed convention would miss the asymmetric lag 1).
        for a in fig.axes:
            model = a.lines[0].get_ydata()
            sample = a.lines[1].get_ydata()
            assert np.max(np.abs(model - sample)) < 0.05
        png_bytes(fig)

    def test_bartlett_standard_deviation_of_white_noise(self):
        # White noise of variance s: T Var c(h) = s^2 for h >= 1, 2 s^2 at 0.
        gamma = np.zeros((31, 1, 1))
        gamma[0] = 2.0
        sd = mvts.plot._bartlett_sd(gamma, 5, 100)
        assert np.allclose(sd[:, 0, 0], [np.sqrt(8 / 100)] + [np.sqrt(4 / 100)] * 5)

    def test_farma_fit_result_as_the_model(self):
        x = mvts.farmasim(0.3, [0.4], n=400, seed=2)
        fit = mvts.farmafit(x, p=1)
        fig = mvts.plot.autocov(x, fit)
        assert [a.get_title() for a in fig.axes] == ["autocovariance"]
        model = fig.axes[0].lines[0].get_ydata()
        # the plot takes Gamma to lag 20 + 50 (Bartlett's span); FARMACOV's
        # hypergeometric tables start from the highest lag, so the last bits
        # of a value depend on it
        full = np.ravel(mvts.farmacov(fit.d, fit.ar, None, fit.sigma, lag=70))
        assert np.array_equal(model, full[:21])
        png_bytes(fig)


class TestSeries:
    def test_stacked_panels_named_by_component(self):
        y = mvts.vnormal([0.0, 1.0, 2.0], n=100, seed=1)
        fig = mvts.plot.series(y)
        assert [a.get_ylabel() for a in fig.axes] == ["y1", "y2", "y3"]
        assert fig.axes[-1].get_xlabel() == "t"
        assert np.array_equal(fig.axes[1].lines[0].get_ydata(), y[:, 1])
        png_bytes(fig)

    def test_pandas_names_and_index(self):
        pd = pytest.importorskip("pandas")
        frame = pd.DataFrame(mvts.vnormal([0.0, 1.0], n=50, seed=2), columns=["gdp", "cpi"],
                             index=pd.RangeIndex(1950, 2000, name="year"))
        fig = mvts.plot.series(frame)
        assert [a.get_ylabel() for a in fig.axes] == ["gdp", "cpi"]
        assert fig.axes[-1].get_xlabel() == "year"
        assert fig.axes[0].lines[0].get_xdata()[0] == 1950
        png_bytes(fig)


def quarterly(values):
    pd = pytest.importorskip("pandas")
    index = pd.period_range("1990Q1", periods=len(values), freq="Q", name="quarter")
    if np.ndim(values) == 1:
        return pd.Series(values, index=index, name="gdp")
    return pd.DataFrame(values, index=index, columns=["gdp", "cpi"])


class TestIndexes:
    """Every plot takes the indexes statsmodels takes: a quarterly
    PeriodIndex (drawn at the start of each quarter), a DatetimeIndex, a
    RangeIndex, whole numbers."""

    def test_series_with_a_quarterly_period_index(self):
        y = quarterly(mvts.vnormal([0.0, 1.0], n=40, seed=3))
        fig = mvts.plot.series(y)
        x = fig.axes[0].lines[0].get_xdata()
        assert x[0] == np.datetime64("1990-01-01") and x[1] == np.datetime64("1990-04-01")
        assert fig.axes[-1].get_xlabel() == "quarter"
        png_bytes(fig)

    @pytest.mark.parametrize("make", ["period", "datetime", "range", "integers", "strings"])
    def test_axis_values(self, make):
        pd = pytest.importorskip("pandas")
        from mvts import _data
        index = {"period": pd.period_range("2000-01", periods=4, freq="M"),
                 "datetime": pd.date_range("2000-01-01", periods=4, freq="D"),
                 "range": pd.RangeIndex(10, 14),
                 "integers": pd.Index([3, 5, 7, 9]),
                 "strings": pd.Index(list("abcd"))}[make]
        x = _data.axis_values(index, 4)
        want = {"period": np.array(["2000-01-01", "2000-02-01", "2000-03-01", "2000-04-01"],
                                   dtype="datetime64[ns]"),
                "datetime": index.to_numpy(), "range": np.arange(10.0, 14.0),
                "integers": np.array([3.0, 5.0, 7.0, 9.0]), "strings": np.arange(4)}[make]
        assert np.array_equal(x, want)

    def test_correlograms_of_a_period_indexed_series(self):
        y = quarterly(mvts.farmasim(0.2, [0.5], n=120, seed=4))
        for fig, column in ((mvts.plot.acf(y, nlags=12), "acf"),
                            (mvts.plot.pacf(y, nlags=12), "pacf")):
            a = fig.axes[0]
            assert a.get_ylabel() == column and a.get_xlabel() == "lag h"
            assert np.allclose(a.lines[0].get_ydata(), getattr(mvts, column)(y, 12)[column])
            png_bytes(fig)
        fig = mvts.plot.ccf(y, y.shift(2).bfill(), nlags=5)
        assert list(fig.axes[0].lines[0].get_xdata()) == list(range(-5, 6))
        png_bytes(fig)


class TestArfimaAutocovBand:
    def test_expected_sample_autocovariance_is_the_trace_formula(self):
        # E c(h) = tr(A_h G) with c(h) = y' A_h y, A_h = M' S_h M / T, M the
        # centring matrix and S_h the (symmetrised) lag-h shift.
        T, lag = 60, 5
        g = np.asarray(mvts.farmacov(0.4, [0.3], lag=T - 1))
        G = g[np.abs(np.arange(T)[:, None] - np.arange(T)[None, :])]
        M = np.eye(T) - 1.0 / T
        want = []
        for h in range(lag + 1):
            S = np.eye(T, k=h)
            A = M @ ((S + S.T) / 2) @ M / T
            want.append(np.trace(A @ G))
        got = mvts.plot.expected_sample_autocov(g, T, lag)
        assert np.allclose(got, want, rtol=1e-12)
        assert np.all(got < g[:lag + 1])  # the negative bias of long memory

    def test_band_is_that_of_the_sample_statistic(self):
        y = mvts.farmasim(0.4, None, n=400, seed=6)
        model = {"d": 0.4, "sigma": 1.0}
        fig = mvts.plot.autocov(y, model, lag=30, replications=100)
        a = fig.axes[0]
        model_line, sample_line, expected_line = a.lines[0], a.lines[1], a.lines[2]
        assert np.array_equal(model_line.get_ydata(), mvts.farmacov(0.4, lag=30))
        band = a.collections[0].get_paths()[0].vertices[:, 1]
        low, high = mvts.plot.simulated_band(model, 400, 30, replications=100)
        assert np.isclose(band.min(), low.min()) and np.isclose(band.max(), high.max())
        expected = expected_line.get_ydata()
        assert np.all((low <= expected) & (expected <= high))
        # The model's values lie above the band's middle at every lag >= 1:
        # centred on them, a band would leave the sample values below it.
        assert np.all(model_line.get_ydata()[1:] > (low + high)[1:] / 2)
        assert np.allclose(sample_line.get_ydata(), mvts.vtsacf(y, lag=30).cov.ravel(), rtol=1e-12)
        png_bytes(fig)


class TestResultsPlots:
    def test_diagnostics_of_an_arfima_fit(self):
        y = quarterly(mvts.farmasim(0.3, [0.4], n=160, seed=7))
        fit = mvts.ARFIMA(y, 1, 0).fit("conditional")
        if not hasattr(mvts, "farmares"):
            pytest.skip("FARMARES is not in the catalogue")
        fig = fit.plot_diagnostics(lags=8)
        assert len(fig.axes) == 4
        titles = [a.get_title() for a in fig.axes]
        assert titles == ["Standardized residual for gdp", "Histogram plus estimated density",
                          "Normal Q-Q", "Correlogram"]
        x = fig.axes[0].lines[0].get_xdata()
        assert x[0] == np.datetime64("1990-04-01")  # the sum of squares starts at lag 1
        assert np.array_equal(fig.axes[0].lines[0].get_ydata(),
                              fit.standardized_resid.to_numpy()[1:])
        assert list(fig.axes[3].lines[0].get_xdata()) == list(range(1, 9))
        png_bytes(fig)

    def test_fan_chart_continues_the_period_index(self):
        if not hasattr(mvts, "farmafcst") or not hasattr(mvts, "farmafitmean"):
            pytest.skip("FARMAFCST or FARMAFITMEAN is not in the catalogue")
        y = quarterly(mvts.farmasim(0.3, [0.4], n=160, seed=8))
        fit = mvts.ARFIMA(y, 1, 0).fit("exact")
        fig = fit.plot_forecast(6, levels=(0.8, 0.95), history=20)
        a = fig.axes[0]
        observed, forecast = a.lines[0], a.lines[1]
        assert observed.get_xdata()[-1] == np.datetime64("2029-10-01")
        assert list(forecast.get_xdata()[1:]) == list(np.array(
            ["2030-01-01", "2030-04-01", "2030-07-01", "2030-10-01", "2031-01-01",
             "2031-04-01"], dtype="datetime64[ns]"))
        assert np.allclose(forecast.get_ydata()[1:], fit.forecast(6))
        assert len(a.collections) == 2 and len(observed.get_xdata()) == 20
        png_bytes(fig)
