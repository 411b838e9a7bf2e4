"""A series as the models and plots receive it: its values, the labels of
its time points, its name(s); the time points after its end; an index as
matplotlib can place it on an axis."""

import numbers

import numpy as np


def values_of(y, name, k=None):
    """(values, index, names) of a series: a float array (n,) for k == 1 or
    (n, k); the pandas index (None for a plain array); the column names.
    Errors name the argument."""
    index = getattr(y, "index", None)
    columns = getattr(y, "columns", None)
    try:
        a = np.asarray(y, dtype=float)
    except (TypeError, ValueError) as e:
        raise TypeError(f"{name}: a series of numbers, not {type(y).__name__} ({e})") from None
    if k == 1:
        if a.ndim == 2 and a.shape[1] == 1:
            a = a[:, 0]
        if a.ndim != 1:
            raise ValueError(f"{name}: one series (a 1-d array or one column), not an array "
                             f"of shape {a.shape}")
        label = getattr(y, "name", None)
        if columns is not None and len(columns) == 1:
            label = columns[0]
        names = [str(label) if label is not None else "y"]
    else:
        if a.ndim != 2 or a.shape[1] < 2:
            raise ValueError(f"{name}: a multivariate series is T x k with k >= 2, not an "
                             f"array of shape {a.shape}")
        names = [str(c) for c in columns] if columns is not None else \
            [f"y{i + 1}" for i in range(a.shape[1])]
    if index is not None and len(index) != a.shape[0]:
        index = None
    return a, index, names


def future_index(index, n, h):
    """The labels of the h time points after a series of n values: the
    index continued where it has a step (a RangeIndex, a DatetimeIndex or
    PeriodIndex with a frequency, whole numbers evenly spaced), else the
    positions n .. n + h - 1."""
    import pandas as pd

    if index is None or n == 0:
        return pd.RangeIndex(n, n + h)
    if isinstance(index, pd.RangeIndex):
        return pd.RangeIndex(index.stop, index.stop + h * index.step, index.step,
                             name=index.name)
    if isinstance(index, pd.PeriodIndex):
        return pd.period_range(index[-1] + 1, periods=h, freq=index.freq, name=index.name)
    if isinstance(index, pd.DatetimeIndex):
        freq = index.freq or (pd.infer_freq(index) if n >= 3 else None)
        if freq is not None:
            start = index[-1] + pd.tseries.frequencies.to_offset(freq)
            return pd.date_range(start, periods=h, freq=freq, name=index.name)
        return pd.RangeIndex(n, n + h)
    values = np.asarray(index)
    if np.issubdtype(values.dtype, np.integer) and n >= 2:
        steps = np.diff(values)
        if np.all(steps == steps[0]) and steps[0] != 0:
            return pd.Index(values[-1] + steps[0] * np.arange(1, h + 1), name=index.name)
    return pd.RangeIndex(n, n + h)


def axis_values(index, n):
    """Positions of n time points as matplotlib places them: datetimes for a
    DatetimeIndex or a PeriodIndex (each period at its start), numbers for a
    numeric index, 0 .. n - 1 for any other (strings, objects) or none."""
    import pandas as pd

    if index is None or len(index) != n:
        return np.arange(n)
    if isinstance(index, pd.PeriodIndex):
        return index.to_timestamp(how="start").to_numpy()
    if isinstance(index, pd.DatetimeIndex):
        return index.tz_localize(None).to_numpy() if index.tz is not None else index.to_numpy()
    values = np.asarray(index)
    if values.dtype.kind in "iuf":
        return values.astype(float)
    return np.arange(n)


def whole(value, name, low=None):
    """value as an int, checked: a whole number (not a bool) >= low."""
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        if isinstance(value, float) and value.is_integer():
            value = int(value)
        else:
            raise ValueError(f"{name}: a whole number, not {value!r}")
    if low is not None and value < low:
        raise ValueError(f"{name}: a whole number >= {low}, not {value}")
    return int(value)


def lag_list(order, name):
    """The lags of an order: a whole number p means lags 1 .. p (0 none), a
    list the lags themselves (whole numbers >= 1, strictly ascending)."""
    if isinstance(order, (numbers.Integral, float)) and not isinstance(order, bool):
        p = whole(order, name, 0)
        return list(range(1, p + 1))
    try:
        lags = list(order)
    except TypeError:
        raise ValueError(f"{name}: an order (a whole number) or a list of lags, "
                         f"not {order!r}") from None
    out = [whole(v, name, 1) for v in lags]
    if any(b <= a for a, b in zip(out, out[1:])):
        raise ValueError(f"{name}: the lags of a list are strictly ascending, not {lags}")
    return out
