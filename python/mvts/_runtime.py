"""What the package's functions share at run time: the value that passes an
argument without a value, the errors and warnings of calls, the checks
around a call, and the default session.  The functions themselves are
generated from the catalogue (mvts/_functions.py)."""

import collections as _collections
import math as _math
import os as _os
import threading as _threading
import warnings as _warnings

import numpy as _np

from . import _core

# Input names by function, from the catalogue, for the argument a failed
# check names.
_INPUTS = {name: [arg for arg, *_ in inputs] for name, _, inputs, _ in _core.catalog()}


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


# The public classes are the package's: their pickles and reprs name mvts.
for _cls in (_Empty, MvtsError, MvtsWarning):
    _cls.__module__ = "mvts"
Message.__module__ = "mvts"
del _cls


_default = None
_default_lock = _threading.Lock()


def _start_default():
    global _default
    with _default_lock:
        if _default is None:
            from mvts import Session  # the package is loaded by the first call
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
