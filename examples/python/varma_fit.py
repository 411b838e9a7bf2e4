"""Simulate a bivariate VARMA(1,1), fit it, and compare the estimates with
the truth; draws the series and its cross-covariances against the fitted
model's (varma_series.png, varma_autocov.png)."""

import pathlib

import matplotlib
matplotlib.use("Agg")
import numpy as np  # noqa: E402

import mvts  # noqa: E402
import mvts.plot  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
np.set_printoptions(precision=3, suppress=True)

phi = np.array([[0.5, 0.1], [-0.2, 0.4]])    # y_t = Phi y_{t-1} + e_t - Theta e_{t-1}
theta = np.array([[-0.4, 0.2], [0.0, -0.3]])
sigma = np.array([[1.0, 0.3], [0.3, 2.0]])

y = mvts.varmasim(phi, theta, sigma=sigma, n=1000, seed=7)
fit = mvts.varmafit(y, p=1, q=1)
loglik = mvts.varmalik(y, fit.ar, fit.ma, fit.sigma)

print("AR block, true and estimated:\n", phi, "\n", fit.ar)
print("MA block, true and estimated:\n", theta, "\n", fit.ma)
print("innovation covariance, true and estimated:\n", sigma, "\n", fit.sigma)
print("log-likelihood at the estimates: %.3f" % loglik[0])

mvts.plot.series(y, names=["y1", "y2"]).savefig(HERE / "varma_series.png", dpi=72)
mvts.plot.autocov(y, fit, lag=12).savefig(HERE / "varma_autocov.png", dpi=72)
