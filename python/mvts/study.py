"""Monte-Carlo studies: simulate a series, fit it by one or more methods,
many times; serially, on local worker processes or on a Dask cluster, with
the same table bit for bit.

    from mvts import study
    table = study.run(
        simulate=study.Call("FARMASIM", d=0.3, phi=[0.5], n=1000),
        fits={"exact": study.Call("FARMAFIT", p=1, opt=[1, 0]),
              "conditional": study.Call("FARMAFIT", p=1, opt=[0, 0])},
        replications=200, seed=1, truth={"d": 0.3, "ar": [0.5], "sigma": 1.0},
        client="local")
    print(study.summary(table))

Replication i draws its series with the seed ``replication_seed(seed, i)``
in a session of its own (``mvts.Session()``, about 25 microseconds), so
nothing but that seed decides its rows: not the worker, the order, the
chunking, or a retry after a worker died.
"""

import math
import numbers
import sys
import time
from collections.abc import Iterable, Mapping

import numpy as np

import mvts
from mvts import _calls, _parallel
from mvts._calls import Call

__all__ = ["Call", "replication_seed", "run", "summary", "SEED_MODULUS", "MAX_REPLICATIONS"]

SEED_MODULUS = 2**31 - 1  # the simulating functions' generator: seed * 397204094 mod 2^31 - 1
_M64 = 2**64 - 1
# The most replications a count may ask for: the largest length of a Python
# range (sys.maxsize on a 64-bit interpreter), far beyond any study's end.
MAX_REPLICATIONS = sys.maxsize

# The fixed columns of a study's table, before the estimates.
COLUMNS = ("replication", "seed", "method", "stage", "status", "messages", "text", "time")
_DTYPES = {"replication": "int64", "seed": "int64", "status": "int64", "time": "float64"}


def _splitmix64(z):
    """The splitmix64 finaliser (Steele, Lea and Flood 2014): a bijection of
    64-bit integers that mixes every input bit into every output bit."""
    z = (z + 0x9E3779B97F4A7C15) & _M64
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & _M64
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & _M64
    return z ^ (z >> 31)


def replication_seed(base, i):
    """The seed of replication i of a study with base seed ``base``:

        1 + splitmix64(splitmix64(base mod 2^64) xor i) mod (2^31 - 2)

    always in 1 .. 2^31 - 2.  A positive seed restarts the simulating
    function's stream at that value, and no value in this range is 0 modulo
    2^31 - 1 (which would make every draw infinite).  Distinct i give
    distinct 64-bit values before the reduction; the reduction itself may
    map two replications to one seed, with chance about R^2 / 2^32 for R
    replications."""
    for name, value in (("base seed", base), ("replication", i)):
        if isinstance(value, bool) or not isinstance(value, numbers.Integral):
            raise TypeError(f"the {name} must be a whole number, not {value!r}")
    if not 0 <= i <= _M64:
        raise ValueError(f"replication numbers run from 0 to 2^64 - 1, not {i}")
    return 1 + _splitmix64(_splitmix64(int(base) & _M64) ^ int(i)) % (SEED_MODULUS - 1)


# A session that lives as long as the worker process, so that the module it
# loaded stays loaded between tasks; each replication still gets its own.
_resident = None


def _replicate(plan, indices):
    """Runs the replications ``indices`` of a study (on a worker or here):
    a list per replication of its rows, and the CPU seconds they took."""
    global _resident
    if _resident is None:
        _resident = mvts.Session()
    simulate, fits, base = plan
    start = time.process_time()
    out = []
    for i in indices:
        seed = replication_seed(base, i)
        session = _parallel.session()
        status, messages, result, seconds = _calls.invoke(session, simulate, "seed", float(seed))
        rows = []
        if status:
            numbers_, text = _calls.message_columns(status, messages)
            for label, _ in fits:
                rows.append((i, seed, label, "simulate", status, numbers_, text, seconds, ()))
        else:
            series = next(iter(result.values())) if isinstance(simulate, Call) else result
            for label, fit in fits:
                status, found, result, seconds = _calls.invoke(session, fit, "series", series)
                numbers_, text = _calls.message_columns(status, messages + found)
                cells = _calls.flatten(_calls.outputs_of(result))
                rows.append((i, seed, label, "fit", status, numbers_, text, seconds, cells))
        out.append(rows)
    return out, time.process_time() - start


def _replications(replications):
    """The replication numbers: a range for a count (nothing is held per
    replication before it runs), a list for numbers given one by one."""
    if isinstance(replications, numbers.Integral) and not isinstance(replications, bool):
        if replications < 0:
            raise ValueError(f"replications must be >= 0, not {replications}")
        if replications > MAX_REPLICATIONS:
            raise ValueError(f"replications must be at most {MAX_REPLICATIONS}, "
                             f"not {replications}")
        return range(int(replications))
    if isinstance(replications, Iterable) and not isinstance(replications, (str, bytes)):
        found = list(replications)
        for i in found:
            if isinstance(i, bool) or not isinstance(i, numbers.Integral) or i < 0:
                raise ValueError(f"replication numbers are whole numbers >= 0, not {i!r}")
        if len(set(found)) != len(found):
            raise ValueError("a replication number is given twice")
        return [int(i) for i in found]
    raise TypeError("replications is a count or a list of replication numbers, "
                    f"not {type(replications).__name__}")


def _fits(fits):
    if isinstance(fits, Mapping):
        pairs = list(fits.items())
    else:
        one = _calls.as_call(fits, "fits")
        pairs = [(one.function.lower() if isinstance(one, Call)
                  else getattr(one, "__name__", "fit"), one)]
    if not pairs:
        raise ValueError("a study needs at least one fit")
    checked = []
    for label, fit in pairs:
        if not isinstance(label, str):
            raise TypeError(f"fit labels are strings, not {label!r}")
        fit = _calls.as_call(fit, f"fit {label!r}")
        _calls.check_supplied(fit, "series", f"fit {label!r}: ", "is the simulated one")
        checked.append((label, fit))
    return checked


def run(simulate, fits, replications, seed, *, truth=None, client=None, workers=None,
        chunk=None, progress=None):
    """Runs a study and returns its table (a pandas DataFrame).

    simulate      ``Call`` of a simulating function (VNORMAL, VARMASIM,
                  FARMASIM, UCMSIM) without its seed, or a callable
                  ``f(session, seed) -> series`` that draws everything from
                  ``seed`` in ``session`` (a fresh mvts.Session)
    fits          ``{label: Call or callable}``, or one of them: each Call
                  gets the series as its input ``series``; a callable is
                  ``f(session, series)`` returning outputs (a named tuple, a
                  dict, or a number)
    replications  how many (replications 0 .. R-1), or which: a list of
                  replication numbers, in any order
    seed          the base seed (a whole number): replication i uses
                  ``replication_seed(seed, i)``
    truth         ``{output: true value}`` for the summary's bias and RMSE
                  (``{"d": 0.3, "ar": [0.5]}``); kept in ``table.attrs``
    client        None: in this process; "local": a LocalCluster of
                  ``workers`` single-threaded processes (default one per
                  core), closed at the end or on Ctrl-C (the workers
                  import the main script: guard its work with
                  ``if __name__ == "__main__":``); an address
                  ("tcp://host:8786") or a ``distributed.Client``: that
                  cluster, whose workers must import mvts (the same
                  PYTHONPATH)
    chunk         replications per task (default: enough for ~0.1 s)
    progress      a progress bar on standard error; default: when it is a
                  terminal

    The table has one row per replication and fit, ordered by replication
    and then by fit, with the columns

    replication, seed   the replication and the seed its series came from
    method              the fit's label
    stage               "fit", or "simulate" when the simulation failed (the
                        status and messages are then the simulation's)
    status              0, or the status of the failed call
    messages, text      message numbers ("359 360") and texts of the
                        simulation and the fit, failed or not
    time                wall-clock seconds of the fit (or the failed simulation)
    then one column per estimate: "d", "ar[1]", "sigma[1,2]", ...; NaN where
    a call failed.

    A call that fails (MvtsError) keeps its rows and the study goes on; any
    other exception stops it.
    """
    simulate = _calls.as_call(simulate, "simulate")
    _calls.check_supplied(simulate, "seed", "simulate: ", "comes from the study's seed")
    if isinstance(seed, bool) or not isinstance(seed, numbers.Integral):
        raise TypeError(f"the base seed must be a whole number, not {seed!r}")
    fits = _fits(fits)
    indices = _replications(replications)
    if truth is not None:
        if not isinstance(truth, Mapping):
            raise TypeError("truth maps output names to their true values")
        if all(isinstance(fit, Call) for _, fit in fits):
            known = {o for _, fit in fits for o in _calls.outputs_of_function(fit.function)}
            for key in truth:
                if key not in known:
                    raise ValueError(f"truth names {key!r}, which no fit returns "
                                     f"(outputs: {', '.join(sorted(known))})")
    results = _parallel.run(_replicate, (simulate, fits, int(seed)), indices, client=client,
                            workers=workers, chunk=chunk, progress=progress,
                            label="replications")
    rows = [row for _, rows in sorted(zip(indices, results), key=lambda p: p[0]) for row in rows]
    table = _calls.assemble(rows, COLUMNS, _DTYPES)
    table.attrs["truth"] = dict(truth or {})
    return table


def _truth_cells(truth, columns):
    """True values by column name: a one-element value of a scalar column
    keeps the bare name; others are flattened like the estimates."""
    cells = {}
    for key, value in truth.items():
        a = np.asarray(value, dtype=float)
        if a.size == 1 and key in columns:
            cells[key] = float(a.reshape(()))
            continue
        for name, x in _calls.flatten({key: a}):
            # A table without estimates (every call failed) has nothing to
            # compare; otherwise a name that matches none is a mistake.
            if name not in columns and columns:
                raise ValueError(f"truth names {name!r}, which no fit estimates")
            cells[name] = x
    return cells


def summary(table, truth=None):
    """Per method and estimate, over the rows with status 0: n (the
    estimates that are not missing), failed (the method's rows with a
    non-zero status), truth, mean, bias (mean - truth), sd (n - 1 divisor)
    and RMSE (root mean squared error against the truth).  ``truth``
    defaults to the study's; without a true value bias and RMSE are NaN.
    Estimates that are missing in every row (an AR part the fit does not
    have) are left out."""
    import pandas as pd

    estimates = [c for c in table.columns if c not in COLUMNS]
    cells = _truth_cells(table.attrs.get("truth", {}) if truth is None else truth, estimates)
    records = []
    for method in pd.unique(table["method"]):
        rows = table[table["method"] == method]
        ok = rows[rows["status"] == 0]
        failed = int((rows["status"] != 0).sum())
        for column in estimates:
            x = ok[column].to_numpy(dtype=float)
            x = x[~np.isnan(x)]
            if not x.size:
                continue
            true = cells.get(column, math.nan)
            mean = float(x.mean())
            records.append((method, column, x.size, failed, true, mean, mean - true,
                            float(x.std(ddof=1)) if x.size > 1 else math.nan,
                            float(np.sqrt(np.mean((x - true) ** 2)))))
    frame = pd.DataFrame.from_records(
        records, columns=["method", "parameter", "n", "failed", "truth", "mean", "bias", "sd",
                          "rmse"])
    return frame.set_index(["method", "parameter"])
