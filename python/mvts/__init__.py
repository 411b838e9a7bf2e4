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

import collections as _collections
import keyword as _keyword
import math as _math
import os as _os
import pkgutil as _pkgutil
import threading as _threading
import warnings as _warnings

import numpy as _np

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

# The host library's version: the project version that the command line
# (mvts --version) and the installed CMake, pkg-config and Debian files report.
__version__ = _core.__version__

__all__ = ["EMPTY", "Message", "MvtsError", "MvtsWarning", "Session", "catalog"]


class _Empty:
    """The value of an argument given without a value (``phi=`` on the
    command line); distinct from an omitted argument (``None``)."""

    __slots__ = ()
    _instance = None

    def __new__(cls):
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def __repr__(self):
        return "mvts.EMPTY"

    def __reduce__(self):
        return "EMPTY"


EMPTY = _Empty()
_core._set_empty(EMPTY)

Message = _collections.namedtuple("Message", "number inserts text")
Message.__doc__ = """A message of the module: its number, the values filled into its text
(str, int or float each), and the host's text with them filled in.  Number 0
is a host error, a note printed by the module, or a note of this package."""


class MvtsError(Exception):
    """A call that returned a non-zero status.

    status    the function's status code
    function  the registered name (``"FARMAFIT"``)
    messages  list of Message(number, inserts, text), in the order issued
    argument  the name of the argument whose check failed, or None (a
              failure of the computation, or a host that does not say)
    """

    def __init__(self, function, status, messages=(), argument=None):
        super().__init__(function, status, list(messages), argument)
        self.function = function
        self.status = status
        self.messages = list(messages)
        self.argument = argument

    def __str__(self):
        text = f"{self.function} failed with status {self.status}"
        if self.argument:
            text += f" (argument {self.argument})"
        explained = " ".join(m.text for m in self.messages)
        return f"{text}: {explained or _core.status_text(self.status) or 'no message'}"


class MvtsWarning(UserWarning):
    """A message or note of a call that succeeded (the call went on).

    function, number, inserts, text as in ``Message``.  Filter with
    ``warnings.filterwarnings("ignore", category=mvts.MvtsWarning)``.
    """

    def __init__(self, function, number, inserts, text):
        super().__init__(function, number, inserts, text)
        self.function = function
        self.number = number
        self.inserts = inserts
        self.text = text

    def __str__(self):
        return f"{self.function}: {self.text}"


def _report(function, status, messages, argument=0):
    """Raises MvtsError for a failed call, warns for the messages of one that
    succeeded."""
    found = [Message(n, inserts, text) for n, inserts, text, _ in messages or ()]
    if status:
        name = _INPUTS[function][argument - 1] if 0 < argument <= len(_INPUTS[function]) else None
        raise MvtsError(function, status, found, name)
    for m in found:
        _warnings.warn(MvtsWarning(function, m.number, m.inserts, m.text), stacklevel=3)


def catalog():
    """The catalogue behind the signatures and ``help``: a list of
    (NAME, summary, inputs, outputs) with inputs as (name, meaning, omitted)
    and outputs as (name, meaning, shape) - the same one the command line's
    ``mvts help`` reads."""
    return _core.catalog()


class Session(_core.Session):
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


_default = None
_default_lock = _threading.Lock()


def _start_default():
    global _default
    with _default_lock:
        if _default is None:
            _default = Session()
    return _default


def _forget_default():
    global _default
    _default = None


# A forked child starts its own default session: one copied from the parent
# would repeat the parent's random streams (and may hold a lock taken by a
# thread that does not exist in the child).
_os.register_at_fork(after_in_child=_forget_default)


def default_session():
    """The session the module-level functions use (started on first use)."""
    return _default or _start_default()


def _docstring(name, summary, inputs, outputs, result):
    width = max(len(n) for n, *_ in outputs)
    lines = [f"{summary[0].upper()}{summary[1:]} ({name}).", "", "Parameters", "----------"]
    for arg, meaning, fallback in inputs:
        lines.append(f"{arg} : array_like" + ("" if fallback == "required" else ", optional"))
        lines.append(f"    {meaning}.")
        lines.append("    Required." if fallback == "required" else f"    Omitted: {fallback}.")
    lines += ["", "Returns", "-------"]
    kinds = {"scalar": "float", "vector": "ndarray (1-d)", "matrix": "ndarray (2-d)"}
    if result is None:
        out, meaning, shape = outputs[0]
        lines.append(f"{out} : {kinds[shape]}")
        lines.append(f"    {meaning}.")
    else:
        lines.append(f"{result.__name__}({', '.join(result._fields)})")
        lines.append("    A named tuple; an output the call does not produce is None.")
        for out, meaning, shape in outputs:
            lines.append(f"    {out.ljust(width)}  {kinds[shape]}: {meaning}")
    lines += ["", "Raises", "------",
              "MvtsError", "    The call returned a non-zero status.",
              "", "Warns", "-----",
              "MvtsWarning", "    A message or note of a call that succeeded."]
    return "\n".join(lines)


def _check_lag_lists(function, lists):
    """Warns (a UserWarning naming the argument) for a lag list that is not
    strictly ascending or holds a fraction.  The module reads every lag list
    sorted, with fractions cut off and repeats dropped, the i-th smallest lag
    taking the i-th block: such a list means another model than the order
    it is written in suggests (``p=[2, 1]`` is ``p=[1, 2]`` with the blocks
    read the other way round)."""
    import numpy
    for arg, value in lists:
        if value is None or value is EMPTY or isinstance(value, (str, bytes)):
            continue
        try:
            lags = numpy.asarray(value, dtype=float).ravel()
        except (TypeError, ValueError):
            continue  # the call's own checks say what is wrong with it
        if lags.size == 0 or not numpy.all(numpy.isfinite(lags)):
            continue
        faults = []
        if numpy.any(lags != numpy.floor(lags)):
            faults.append("holds a fraction")
        if numpy.any(numpy.diff(lags) <= 0):
            faults.append("is not strictly ascending")
        if faults:
            read = sorted({int(x) for x in lags})
            _warnings.warn(
                f"{function}: lag list {arg}={lags.tolist()} {' and '.join(faults)}; it is read "
                f"sorted, fractions cut off and repeats dropped, as the lags {read}, the i-th "
                f"smallest lag taking the i-th coefficient block", UserWarning, stacklevel=3)


def _farmalik_method(outputs, opt):
    """FARMALIK asked for the exact method (opt 1) computes the conditional
    sum of squares instead when |d| >= 0.5 - 2^-26.5, and says so only by
    the two missing rows of its result: a warning here says it."""
    loglik = outputs[0]
    try:
        exact = opt is not None and opt is not EMPTY and \
            _math.trunc(float(_np.asarray(opt, dtype=float).reshape(-1)[0])) == 1
    except (TypeError, ValueError, IndexError):
        return
    if exact and loglik is not None and len(loglik) == 3 and _math.isnan(loglik[1]) \
            and _math.isnan(loglik[2]):
        _warnings.warn(MvtsWarning(
            "FARMALIK", 0, (),
            "the exact method needs |d| < 0.5 - 2^-26.5: for this d the conditional sum of "
            "squares was computed instead (rows 2 and 3 are missing)"), stacklevel=3)


# Checks after a call that succeeded, by function: f(outputs, *inputs named).
_AFTER = {"FARMALIK": (_farmalik_method, ("opt",))}

_TEMPLATE = """\
def {lower}({params}):
{lag_check}    status, outputs, messages, argument = {session}._call({name!r}, ({args},))
    if status or messages:
        _report({name!r}, status, messages, argument)
{after}    return {ret}
"""
_INPUTS = {}  # NAME -> input names


def _define(name, summary, inputs, outputs):
    """Builds the module-level function and the Session method of one
    registered function, with the catalogue's argument names as real
    parameters (so Python itself checks counts and keywords)."""
    lower = name.lower()
    names = [arg for arg, *_ in inputs]
    _INPUTS[name] = names
    for arg in names:
        if not arg.isidentifier() or _keyword.iskeyword(arg):
            raise ImportError(f"catalogue input name {arg!r} of {name} is not a Python name")
    result = None
    if len(outputs) > 1:
        result = _collections.namedtuple(name.capitalize() + "Result", [o for o, *_ in outputs])
        result.__module__ = __name__
        globals()[result.__name__] = result
        __all__.append(result.__name__)
    ret = "outputs[0]" if result is None else f"{result.__name__}._make(outputs)"
    args = ", ".join(names)
    lag_lists = [arg for arg, meaning, _ in inputs if "lag list" in meaning]
    lag_check = ""
    if lag_lists:
        pairs = ", ".join(f"({a!r}, {a})" for a in lag_lists)
        lag_check = f"    _check_lag_lists({name!r}, ({pairs},))\n"
    doc = _docstring(name, summary, inputs, outputs, result)
    for session, params, target in (
            ("(_default or _start_default())", ", ".join(f"{a}=None" for a in names), None),
            ("self", ", ".join(["self"] + [f"{a}=None" for a in names]), Session)):
        scope = {}
        after = ""
        if name in _AFTER:
            after = f"    _AFTER[{name!r}][0](outputs, {', '.join(_AFTER[name][1])})\n"
        source = _TEMPLATE.format(lower=lower, params=params, session=session, name=name,
                                  args=args, ret=ret, lag_check=lag_check, after=after)
        exec(compile(source, f"<mvts.{lower}>", "exec"), globals(), scope)
        fn = scope[lower]
        fn.__doc__ = doc
        fn.__module__ = __name__
        if target is None:
            globals()[lower] = fn
            __all__.append(lower)
        else:
            fn.__qualname__ = f"Session.{lower}"
            setattr(target, lower, fn)


for _entry in _core.catalog():
    _define(*_entry)
del _entry


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
