"""Order selection: fit a grid of ARFIMA or VARMA orders and pick the one
with the smallest information criterion.

    sel = mvts.select_order(y, "arfima", max_p=2, max_q=2, client="local")
    sel.order          # (p, q) with the smallest BIC
    sel.table          # llf, aic, bic, hqic, ... by (p, q)

The fits run through the machinery of mvts.study and mvts.batch
(mvts._parallel): in this process, or as tasks on Dask workers, with the
same table either way.
"""

import collections
import time
import warnings

import numpy as np

import mvts
from mvts import _data, _parallel

__all__ = ["select_order", "OrderSelection"]

CRITERIA = ("aic", "bic", "hqic")
COLUMNS = ("llf", "aic", "bic", "hqic", "nobs", "df_model", "status", "text", "time")

OrderSelection = collections.namedtuple("OrderSelection", "order criterion table")
OrderSelection.__doc__ = """The outcome of select_order.

order      (p, q) with the smallest criterion among the fits that succeeded
           (orders as the models read them: p means the lags 1 .. p)
criterion  the criterion that chose it
table      a DataFrame indexed by (p, q): llf, aic, bic, hqic, nobs (the
           terms of the likelihood), df_model (the parameters counted),
           status (0, or 1 for a fit that failed), text (its error or
           warnings), time (seconds of the fit)"""

_resident = None  # keeps the module loaded in a worker process between tasks


def _fit_orders(payload, orders):
    """Fits each (p, q) of ``orders`` (on a worker or here): one row per
    order, and the CPU seconds they took."""
    global _resident
    if _resident is None:
        _resident = mvts.Session()
    values, family, method, trend = payload
    start = time.process_time()
    rows = []
    for p, q in orders:
        began = time.perf_counter()
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            try:
                if family == "arfima":
                    fit = mvts.ARFIMA(values, p, q, trend, session=_resident).fit(method)
                else:
                    fit = mvts.VARMA(values, p, q, trend, session=_resident).fit(method)
                cells = (fit.llf, fit.aic, fit.bic, fit.hqic, fit.nobs_effective,
                         fit.df_model, 0)
                text = " | ".join(str(w.message) for w in caught)
            except (mvts.MvtsError, ValueError) as e:
                cells = (np.nan,) * 4 + (0, 0, 1)
                text = str(e)
        rows.append(cells + (text, time.perf_counter() - began))
    return rows, time.process_time() - start


def select_order(y, family, max_p, max_q, criterion="bic", method=None, trend="c", *,
                 client=None, workers=None, chunk=None, progress=None):
    """Fits every order p = 0 .. max_p, q = 0 .. max_q (a VARMA model leaves
    out p = q = 0) and returns OrderSelection(order, criterion, table).

    y          the series (as for mvts.ARFIMA or mvts.VARMA)
    family     "arfima" or "varma"
    max_p, max_q  the largest orders (whole numbers >= 0); order p means the
               lags 1 .. p, as in the models
    criterion  "aic", "bic" (the default) or "hqic"
    method     "exact" (the default) or, for ARFIMA, "conditional"; the
               conditional likelihood of an order with largest lag m covers
               the n - m last terms, so its criteria compare fits on slightly
               different samples (as with statsmodels' conditional fits)
    trend      "c" or "n", as in the models
    client, workers, chunk, progress
               where the fits run, as for mvts.study.run: None in this
               process, "local" a local cluster of ``workers`` processes, an
               address or a distributed.Client

    A fit that fails keeps its row (status 1, its error in text, NaN
    criteria); the choice is among the others."""
    import pandas as pd

    if family not in ("arfima", "varma"):
        raise ValueError(f"family: 'arfima' or 'varma', not {family!r}")
    if criterion not in CRITERIA:
        raise ValueError(f"criterion: one of {', '.join(CRITERIA)}, not {criterion!r}")
    max_p = _data.whole(max_p, "max_p", 0)
    max_q = _data.whole(max_q, "max_q", 0)
    method = "exact" if method is None else method
    if method not in ("exact", "conditional") or (family == "varma" and method != "exact"):
        allowed = "'exact' or 'conditional'" if family == "arfima" else "'exact'"
        raise ValueError(f"method: {allowed} for {family}, not {method!r}")
    if trend not in ("c", "n"):
        raise ValueError(f"trend: 'c' or 'n', not {trend!r}")
    values, _, _ = _data.values_of(y, "y", k=1 if family == "arfima" else None)
    orders = [(p, q) for p in range(max_p + 1) for q in range(max_q + 1)
              if family == "arfima" or p + q > 0]
    if not orders:
        raise ValueError("max_p, max_q: a VARMA grid needs max_p or max_q > 0")
    # The largest models first: they take the longest, and a worker that
    # starts one last would keep the others waiting (longest processing
    # time first); the table keeps the grid's order.
    by_cost = sorted(range(len(orders)), key=lambda i: (-sum(orders[i]), i))
    done = _parallel.run(_fit_orders, (values, family, method, trend),
                         [orders[i] for i in by_cost], client=client, workers=workers,
                         chunk=chunk, progress=progress, label="orders")
    rows = [None] * len(orders)
    for i, row in zip(by_cost, done):
        rows[i] = row
    table = pd.DataFrame(rows, columns=list(COLUMNS),
                         index=pd.MultiIndex.from_tuples(orders, names=["p", "q"]))
    table = table.astype({"nobs": "int64", "df_model": "int64", "status": "int64"})
    ok = table[table["status"] == 0]
    if ok.empty:
        raise RuntimeError("select_order: no order could be fitted; the first error: "
                           + table["text"].iloc[0])
    order = tuple(int(v) for v in ok[criterion].idxmin())
    return OrderSelection(order, criterion, table)
