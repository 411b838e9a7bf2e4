"""One call of a registered function, described so that it can travel to a
worker process, and its outcome as a row: status, message numbers and texts,
estimates flattened to named numbers."""

import math
import time
import warnings
from collections.abc import Mapping

import numpy as np

import mvts

# NAME -> (input names, output names), from the catalogue.
_CATALOG = {name: ([i[0] for i in inputs], [o[0] for o in outputs])
            for name, _, inputs, outputs in mvts.catalog()}


def inputs_of(name):
    return _CATALOG[name][0]


def outputs_of_function(name):
    return _CATALOG[name][1]


class Call:
    """A call of a registered function with fixed arguments, by name:
    ``Call("FARMAFIT", p=1, opt=[1, 0])``.  The function's name is
    case-insensitive; the argument names are those of ``help(mvts.farmafit)``
    and are checked here.  The input the study or batch supplies (the seed of
    a simulation, the series of a fit) is left out."""

    __slots__ = ("function", "arguments")

    def __init__(self, function, /, **arguments):
        if not isinstance(function, str):
            raise TypeError(f"the function of a Call is a name, not {type(function).__name__}")
        name = function.upper()
        if name not in _CATALOG:
            raise ValueError(f"unknown function {function!r} (mvts.catalog() lists them)")
        known = inputs_of(name)
        for arg in arguments:
            if arg not in known:
                raise ValueError(f"{name} has no input {arg!r} (inputs: {', '.join(known)})")
        self.function = name
        self.arguments = arguments

    def __repr__(self):
        args = "".join(f", {k}={v!r}" for k, v in self.arguments.items())
        return f"Call({self.function!r}{args})"

    def takes(self, name):
        return name in inputs_of(self.function)


def as_call(value, role):
    """A Call, a callable, or a function name (a Call without arguments)."""
    if isinstance(value, Call) or callable(value):
        return value
    if isinstance(value, str):
        return Call(value)
    raise TypeError(f"{role} must be an mvts.study.Call, a function name or a callable, "
                    f"not {type(value).__name__}")


def check_supplied(call, name, where, source):
    """Checks a call that a study or batch runs with its input ``name``
    supplied (the seed of a simulation, the series of a fit): a ``Call`` of
    a function that takes that input and leaves it out.  ``where`` starts
    the message (a fit's label), ``source`` says where the input comes
    from.  A callable is not checked: it takes what it is given."""
    if not isinstance(call, Call):
        return
    if not call.takes(name):
        raise ValueError(f"{where}{call.function} takes no {name}")
    if name in call.arguments:
        raise ValueError(f"{where}the {name} {source}; leave it out")


def invoke(session, call, name, value):
    """Runs ``call`` in ``session`` with input ``name`` set to ``value`` (a
    Call) or as ``call(session, value)`` (a callable).  Returns (status,
    messages as (number, text) pairs, result, seconds): for a Call the
    result is a dict of its outputs by name (None where the call failed);
    for a callable what it returned.  A callable reports a failure of the
    module by letting MvtsError out; its warnings become messages."""
    start = time.perf_counter()
    if isinstance(call, Call):
        arguments = dict(call.arguments)
        arguments[name] = value
        names = inputs_of(call.function)
        status, outputs, raw, _ = session._call(call.function,
                                                tuple(arguments.get(n) for n in names))
        seconds = time.perf_counter() - start
        messages = [(m[0], m[2]) for m in raw or ()]
        result = None if status else dict(zip(_CATALOG[call.function][1], outputs))
        return status, messages, result, seconds
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", mvts.MvtsWarning)
        try:
            result = call(session, value)
            status, messages = 0, []
        except mvts.MvtsError as e:
            result, status, messages = None, e.status, [(m.number, m.text) for m in e.messages]
    seconds = time.perf_counter() - start
    messages += [(w.message.number, w.message.text) for w in caught
                 if isinstance(w.message, mvts.MvtsWarning)]
    return status, messages, result, seconds


def outputs_of(result):
    """What a fit returned as a dict name -> value: a dict of outputs, a
    named tuple, a mapping, or a single value (named "value")."""
    if result is None:
        return {}
    if isinstance(result, Mapping):
        return dict(result)
    if isinstance(result, tuple) and hasattr(result, "_asdict"):
        return result._asdict()
    return {"value": result}


def flatten(outputs):
    """Named numbers from outputs: a scalar keeps its name, element j of a
    vector is "name[j]", element (i, j) of a matrix "name[i,j]", counting
    from 1.  An output that was not produced gives nothing."""
    cells = []
    for key, value in outputs.items():
        if value is None:
            continue
        a = np.asarray(value, dtype=float)
        if a.ndim == 0:
            cells.append((key, float(a)))
        elif a.ndim == 1:
            cells.extend((f"{key}[{j + 1}]", float(x)) for j, x in enumerate(a))
        elif a.ndim == 2:
            cells.extend((f"{key}[{i + 1},{j + 1}]", float(a[i, j]))
                         for i in range(a.shape[0]) for j in range(a.shape[1]))
        else:
            raise ValueError(f"output {key!r} has {a.ndim} dimensions; a table cell takes "
                             "at most 2")
    return cells


def message_columns(status, messages):
    """The message numbers ("359 360") and texts (joined by " | "); a failure
    that issued no message gets the meaning of its status as its text."""
    text = " | ".join(t for _, t in messages)
    if status and not messages:
        text = mvts._core.status_text(status) or f"status {status}"
    return " ".join(str(n) for n, _ in messages), text


def assemble(rows, fixed, dtypes):
    """A DataFrame from rows of (fixed values..., cells): the fixed columns
    first, then one float column per named number, in the order first met
    (rows come in a fixed order, so the columns do too); a number a row did
    not produce is NaN."""
    import pandas as pd

    names = {}
    for row in rows:
        for key, _ in row[-1]:
            names.setdefault(key, len(names))
    data = {c: [r[k] for r in rows] for k, c in enumerate(fixed)}
    table = pd.DataFrame(data)
    for c, dtype in dtypes.items():
        table[c] = table[c].astype(dtype)
    values = np.full((len(rows), len(names)), math.nan)
    for r, row in enumerate(rows):
        for key, x in row[-1]:
            values[r, names[key]] = x
    estimates = pd.DataFrame(values, columns=list(names), index=table.index)
    return pd.concat([table, estimates], axis=1)
