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
