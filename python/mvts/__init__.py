"""Multivariate and long-memory time series: the mvts module, in-process.

One function per registered subroutine, in lower case: ``vnormal``,
``varmacov``, ``varmasim``, ``varmalik``, ``varmafit``, ``vtsroot``,
``fdif``, ``farmacov``, ``farmalik``, ``farmasim``, ``farmafit``,
``ucmsim``.  ``help(mvts.farmafit)`` shows the arguments, what an omitted
one means, and the outputs.

Arguments
    Names and order as on the command line, by position or keyword.  An
    argument not passed, or passed as ``None``, is omitted; ``mvts.EMPTY``
    passes it without a value.  Values are anything ``numpy.asarray``
    accepts (lists, arrays of any numeric dtype and memory order, strided
    views, pandas objects): a 1-d array is a column, a scalar is 1 x 1, a
    ``str`` is a character value.  NaN is the missing value, in and out.

Results
    Each output has one form, whatever its size in a call (the catalogue
    says which): a series or a coefficient vector (n x 1) is a 1-d array, a
    matrix a 2-d array, a 1 x 1 result a float.  A function with several
    outputs returns a named tuple (``fit.d``, ``fit.ar``, ...) in which an
    output the call did not produce is ``None``.

Errors and messages
    A call that fails raises ``MvtsError`` (``.status``, ``.function``,
    ``.messages``: (number, inserts, text) each).  A misuse of the Python
    signature raises ``TypeError``.  Messages of a call that succeeded are
    issued as warnings of category ``MvtsWarning``; so is ``farmalik``'s
    fall-back from the exact method to the conditional sum of squares for
    |d| >= 0.5 - 2^-26.5 (number 0: the module returns status 0 and two
    missing rows without a message).

Sessions
    The module-level functions share one default session, so random streams
    continue from call to call as in a script (``seed=-s`` starts a stream
    at s that later calls without a seed continue; ``seed=s`` restarts it); ``Session()`` is an
    independent one with the same functions as methods.  Calls release the
    interpreter lock.  A session may be used from several threads: its lock
    runs their calls one at a time.  Calls on different sessions run in
    parallel.  A session belongs to its process: it is not pickled, and a
    child process made by fork starts its own default session.

Models
    ``mvts.ARFIMA(y, p, q, trend="c")`` and ``mvts.VARMA(y, p, q)`` with
    statsmodels' orders (p means the lags 1 .. p; a list gives the lags) and
    ``.fit()`` returning results objects: params, bse, llf, aic, resid,
    forecasts, summary(), plots (``help(mvts.models)``).
    ``mvts.select_order`` fits a grid of orders; ``mvts.acf``,
    ``mvts.pacf`` and ``mvts.ccf`` are the sample correlations with their
    bands (``mvts.sample``).

Plots
    ``mvts.plot`` (matplotlib, imported on first use): ``roots``,
    ``autocov``, ``series``, ``acf``, ``pacf``, ``ccf``, ``diagnostics``,
    ``forecast``.
"""

import pkgutil as _pkgutil

# The compiled extension is built outside the source tree (build/python/mvts):
# every mvts directory on sys.path is part of this package.
__path__ = _pkgutil.extend_path(__path__, __name__)

try:
    from . import _core  # noqa: E402
except ImportError as e:  # pragma: no cover - a build or path problem
    raise ImportError(
        "mvts: the compiled part mvts._core was not found. Build it (bash scripts/setup.sh), "
        "use /usr/bin/python3, and put build/python and python on PYTHONPATH "
        "(PYTHONPATH=build/python:python)") from e

from ._runtime import EMPTY, Message, MvtsError, MvtsWarning, default_session  # noqa: E402
from . import _functions  # noqa: E402
from ._functions import *  # noqa: E402,F401,F403  (the functions and their result tuples)

# The host library's version: the project version that the command line
# (mvts --version) and the installed CMake, pkg-config and Debian files report.
__version__ = _core.__version__

__all__ = ["EMPTY", "Message", "MvtsError", "MvtsWarning", "Session", "catalog"] + \
    _functions.__all__


def catalog():
    """The catalogue behind the signatures and ``help``: a list of
    (NAME, summary, inputs, outputs) with inputs as (name, meaning, omitted)
    and outputs as (name, meaning, shape) - the same one the command line's
    ``mvts help`` reads."""
    return _core.catalog()


class Session(_functions.SessionFunctions, _core.Session):
    """An independent host run with the module loaded: its own random
    streams, its own state.  The functions of the package are its methods
    (``Session().varmasim(...)``).

    A Session may be used from several threads: a lock runs its calls one at
    a time (each call sees the streams where the previous one left them), and
    calls release the interpreter lock, so calls on different sessions run in
    parallel.  A Session cannot be pickled: it belongs to its process."""

    def __reduce__(self):
        raise TypeError("an mvts.Session belongs to its process and cannot be pickled; "
                        "create one in the process that uses it")

    def registered(self):
        """(NAME, max_inputs, outputs) of each function the module registers."""
        return self._registered()

    def cancel(self):
        """Asks the call this session runs (in another thread) to stop.

        The call ends within a fraction of a second and raises MvtsError
        with message 398; its memory is given back and the session stays
        usable.  A request made while no call runs is forgotten when the
        next call starts.  Ctrl-C needs no such call: a call made from the
        main thread ends with KeyboardInterrupt."""
        self._cancel()


# The models, order selection and sample statistics, imported on first use
# (they need pandas): the name -> the submodule that defines it.
_LAZY = {"ARFIMA": "models", "VARMA": "models", "EstimationWarning": "models",
         "select_order": "select", "acf": "sample", "pacf": "sample", "ccf": "sample"}
__all__ += list(_LAZY)


def __getattr__(name):
    # mvts.plot, mvts.study, mvts.batch and the models without importing
    # matplotlib, pandas or Dask before they are used.
    import importlib
    if name in ("plot", "study", "batch", "models", "sample", "select"):
        return importlib.import_module("." + name, __name__)
    if name in _LAZY:
        return getattr(importlib.import_module("." + _LAZY[name], __name__), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
