"""One call applied to many series (a panel), serially or on Dask.

    from mvts import batch
    fits = batch.apply("FARMAFIT", panel, p=1, opt=[0, 0], client="local")
    fits.loc[fits["status"] == 0, "d"]

The series are a pandas DataFrame (one series per column), a 2-d array (one
per column), a list of arrays or a dict of them (each may be 2-d, a
multivariate series for VARMAFIT).  Each series is passed as the call's
input ``series``, as given: a missing value in it goes to the function,
which reports it.
"""

import numbers
import time
from collections.abc import Mapping

import numpy as np

import mvts
from mvts import _calls, _parallel
from mvts._calls import Call

__all__ = ["apply", "COLUMNS"]

COLUMNS = ("status", "messages", "text", "time")
_DTYPES = {"status": "int64", "time": "float64"}


def _series(data):
    """(index, series) of the accepted forms of a panel: the index holds the
    series' labels."""
    import pandas as pd

    if isinstance(data, pd.DataFrame):
        return data.columns, [data.iloc[:, j].to_numpy() for j in range(data.shape[1])]
    if isinstance(data, np.ndarray):
        if data.ndim != 2:
            raise ValueError("a panel given as an array is 2-d, one series per column; "
                             "give one series as [series]")
        series = [data[:, j] for j in range(data.shape[1])]
        return pd.RangeIndex(len(series), name="series"), series
    if isinstance(data, Mapping):
        return pd.Index(list(data.keys()), name="series", tupleize_cols=False), list(data.values())
    if isinstance(data, (list, tuple)):
        return pd.RangeIndex(len(data), name="series"), list(data)
    raise TypeError("the series are a DataFrame, a 2-d array, a list or a dict of arrays, "
                    f"not {type(data).__name__}")


_resident = None  # keeps the module loaded in a worker process between tasks


def _fit_each(call, items):
    """Applies ``call`` to each (position, series): one row per series, and
    the CPU seconds they took."""
    global _resident
    if _resident is None:
        _resident = mvts.Session()
    start = time.process_time()
    rows = []
    for _, series in items:
        status, messages, result, seconds = _calls.invoke(_parallel.session(), call, "series",
                                                          series)
        numbers_, text = _calls.message_columns(status, messages)
        rows.append((status, numbers_, text, seconds, _calls.outputs_of(result)))
    return rows, time.process_time() - start


def apply(function, data, *, client=None, workers=None, chunk=None, progress=None,
          flatten=True, **arguments):
    """Applies ``function`` to every series of ``data`` and returns a
    DataFrame with one row per series, in the order of the series, indexed
    by their labels (DataFrame column names, dict keys, or positions).

    function   a registered name ("FARMAFIT") whose other arguments are
               given as keywords (``p=1, opt=[0, 0]``), a ``Call``, or a
               callable ``f(session, series)`` returning outputs
    client, workers, chunk, progress
               where and how it runs, as in ``mvts.study.run``

    Columns: status (0, or the status of the failed call), messages (their
    numbers, "359 360"), text (their texts), time (seconds of the call);
    then the outputs: flattened to one float column per number ("d",
    "ar[1]", "sigma[1,2]"; NaN where the call failed), or with
    ``flatten=False`` one column per output holding it as the call
    returned it (None where the call failed).  A failed call keeps its row;
    the batch goes on.
    """
    if isinstance(function, str):
        function = Call(function, **arguments)
    elif arguments:
        raise TypeError("keyword arguments go with a function name; a Call or a callable "
                        "carries its own")
    function = _calls.as_call(function, "function")
    _calls.check_supplied(function, "series", "", "comes from the data")
    index, series = _series(data)
    for label, one in zip(index, series):
        if isinstance(one, numbers.Number) or np.ndim(one) == 0:
            raise ValueError(f"series {label!r} is a single number, not a series")
    rows = _parallel.run(_fit_each, function, list(enumerate(series)), client=client,
                         workers=workers, chunk=chunk, progress=progress, label="series")
    if flatten:
        table = _calls.assemble([r[:4] + (_calls.flatten(r[4]),) for r in rows], COLUMNS, _DTYPES)
    else:
        table = _calls.assemble([r[:4] + ((),) for r in rows], COLUMNS, _DTYPES)
        names = {}
        for r in rows:
            names.update(dict.fromkeys(r[4]))
        for key in names:
            column = np.empty(len(rows), dtype=object)
            column[:] = [r[4].get(key) for r in rows]
            table[key] = column
    table.index = index
    return table
