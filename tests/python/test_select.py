"""mvts.select_order: the grid, the criteria of each fit, the choice, and
errors that name the argument.  (On Dask workers: tests/study.)"""

import numpy as np
import pytest

pd = pytest.importorskip("pandas")

import mvts  # noqa: E402


@pytest.fixture(scope="module")
def ar2():
    # An AR(2) with short memory: phi = (0.6, -0.3), d = 0.01.
    return mvts.Session().farmasim(0.01, [0.6, -0.3], n=600, seed=31) + 10.0


def test_grid_and_choice(ar2):
    sel = mvts.select_order(ar2, "arfima", 2, 1, method="conditional")
    assert sel.criterion == "bic"
    assert list(sel.table.index) == [(p, q) for p in range(3) for q in range(2)]
    assert (sel.table["status"] == 0).all()
    # Each row is the fit of that order.
    fit = mvts.ARFIMA(ar2, 2, 0).fit("conditional")
    row = sel.table.loc[(2, 0)]
    assert (row["llf"], row["aic"], row["bic"], row["hqic"]) == \
        (fit.llf, fit.aic, fit.bic, fit.hqic)
    assert row["df_model"] == 5 and row["nobs"] == 598
    assert sel.order == tuple(sel.table["bic"].idxmin())
    assert sel.order[0] == 2  # an AR(2) needs both lags
    by_aic = mvts.select_order(ar2, "arfima", 2, 1, criterion="aic", method="conditional")
    assert by_aic.order == tuple(by_aic.table["aic"].idxmin())


def test_varma_grid_leaves_out_the_empty_model():
    y = mvts.Session().varmasim([[0.5, 0.1], [0.0, 0.3]], None, n=200, seed=32)
    sel = mvts.select_order(y, "varma", 1, 1)
    assert list(sel.table.index) == [(0, 1), (1, 0), (1, 1)]
    fit = mvts.VARMA(y, 1, 0).fit()
    assert sel.table.loc[(1, 0), "llf"] == fit.llf


@pytest.mark.skipif(not hasattr(mvts, "farmares"), reason="FARMARES is not in the catalogue")
def test_a_failed_order_keeps_its_row():
    # Short: order 4 fails; a d beyond 1 (the conditional fit has no bound)
    # leaves the likelihood undefined, which fails its order too.
    y = mvts.Session().farmasim(0.2, None, n=11, seed=33)
    sel = mvts.select_order(y, "arfima", 4, 0, method="conditional")
    failed = sel.table[sel.table["status"] != 0]
    assert failed["bic"].isna().all()
    assert "too few" in failed.loc[(4, 0), "text"]
    assert sel.order in [tuple(i) for i in sel.table[sel.table["status"] == 0].index]


@pytest.mark.parametrize("kwargs, argument", [
    ({"family": "arma"}, "family"),
    ({"criterion": "fpe"}, "criterion"),
    ({"max_p": -1}, "max_p"),
    ({"max_q": 1.5}, "max_q"),
    ({"method": "css"}, "method"),
    ({"trend": "ct"}, "trend"),
])
def test_errors_name_the_argument(ar2, kwargs, argument):
    arguments = dict(family="arfima", max_p=1, max_q=1)
    arguments.update(kwargs)
    with pytest.raises(ValueError, match=f"^{argument}:"):
        mvts.select_order(ar2, **arguments)
