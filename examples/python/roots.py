"""The characteristic roots of a VARMA(2,1) model and of a fitted
ARFIMA(1,d,1) on the unit circle (roots_varma.png, roots_arfima.png)."""

import pathlib

import matplotlib
matplotlib.use("Agg")
import numpy as np  # noqa: E402

import mvts  # noqa: E402
import mvts.plot  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent

phi = np.array([[0.5, 0.1], [-0.2, 0.4],     # Phi_1
                [0.3, 0.0], [0.1, -0.4]])    # Phi_2
theta = np.array([[0.9, 0.2], [0.0, 1.1]])   # Theta_1: one MA root outside the circle
print(mvts.vtsroot(phi, theta))              # real, imaginary, modulus, radians, degrees
mvts.plot.roots(phi=phi, theta=theta).savefig(HERE / "roots_varma.png", dpi=72)

fit = mvts.farmafit(mvts.farmasim(0.3, [0.5], [0.2], n=400, seed=5), p=1, q=1)
mvts.plot.roots(fit).savefig(HERE / "roots_arfima.png", dpi=72)
