"""Simulate an ARFIMA(1, 0.3, 1) series and fit it by both methods (exact
likelihood and conditional sum of squares); compares the estimates with the
truth and draws the autocovariances (arfima_autocov.png).  The exact method
takes about half a minute."""

import pathlib

import matplotlib
matplotlib.use("Agg")

import mvts  # noqa: E402
import mvts.plot  # noqa: E402

HERE = pathlib.Path(__file__).resolve().parent
truth = dict(d=0.3, ar=0.5, ma=-0.4, sigma=1.0)

# phi(B) (1 - B)^d y_t = theta(B) e_t, phi(B) = 1 - 0.5 B, theta(B) = 1 + 0.4 B
x = mvts.farmasim(truth["d"], [truth["ar"]], [truth["ma"]], sigma=truth["sigma"],
                  n=200, seed=3)
exact = mvts.farmafit(x, p=1, q=1, opt=[1, 0])
css = mvts.farmafit(x, p=1, q=1, opt=[0, 0])

print(f"{'':>24}{'d':>8}{'ar':>8}{'ma':>8}{'sigma':>8}")
print(f"{'truth':>24}" + "".join(f"{v:8.3f}" for v in truth.values()))
for name, f in (("exact likelihood", exact), ("conditional sum of sq.", css)):
    print(f"{name:>24}{f.d:8.3f}{f.ar[0]:8.3f}{f.ma[0]:8.3f}{f.sigma:8.3f}")

fig = mvts.plot.autocov(x, exact, lag=25)
fig.savefig(HERE / "arfima_autocov.png", dpi=72)
