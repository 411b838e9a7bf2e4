"""Every function called from Python gives the command line's numbers, bit
for bit, with the same status and messages."""

import warnings

import numpy as np
import pytest

import mvts
from conftest import as_matrix, assert_same_bits, run_cli

PHI = np.array([[0.5, 0.1], [-0.2, 0.4]])
PHI2 = np.array([[0.5, 0.1], [-0.2, 0.4], [0.1, 0.0], [0.05, -0.1]])
THETA = np.array([[0.3, 0.0], [0.1, 0.2]])
SIGMA = np.array([[1.0, 0.3], [0.3, 2.0]])


def _series():
    s = mvts.Session()
    y = s.varmasim(PHI, THETA, sigma=SIGMA, n=120, seed=11)
    y_missing = y.copy()
    y_missing[[3, 40], [0, 1]] = np.nan
    x = s.farmasim(0.3, [0.5], [0.2], n=100, seed=5)
    return y, y_missing, x


Y, Y_MISSING, X = _series()

CASES = [
    ("VNORMAL", dict(mu=[1.0, 2.0], sigma=SIGMA, n=50, seed=1)),
    ("VNORMAL", dict(mu=[1.0, 2.0], n=20, seed=-3)),
    ("VARMACOV", dict(phi=PHI, theta=THETA, sigma=SIGMA, lag=10)),
    ("VARMACOV", dict(phi=PHI2, p=[1, 3], lag=6)),
    ("VARMACOV", dict(theta=THETA, lag=4)),                        # note 361
    ("VARMASIM", dict(phi=PHI, theta=THETA, mu=[1.0, -1.0], sigma=SIGMA, n=200, seed=7)),
    ("VARMASIM", dict(phi=PHI, n=30, initial=5.0, seed=2)),
    ("VARMALIK", dict(series=Y, phi=PHI, theta=THETA, sigma=SIGMA, method=0)),
    ("VARMALIK", dict(series=Y, phi=PHI, theta=THETA, sigma=SIGMA, method=1)),
    ("VARMALIK", dict(series=Y_MISSING, phi=PHI, theta=THETA, sigma=SIGMA)),
    ("VARMAFIT", dict(series=Y, p=1, q=1)),
    ("VTSROOT", dict(phi=PHI2, theta=THETA)),
    ("VTSROOT", dict(phi=PHI2, p=[2, 4])),
    ("FDIF", dict(series=X, d=0.3)),
    ("FARMACOV", dict(d=0.3, phi=[0.5], theta=[0.2], sigma=1.5, lag=20)),
    ("FARMALIK", dict(series=X, d=0.3, phi=[0.5], theta=[0.2], opt=1)),
    ("FARMALIK", dict(series=X, d=0.3, phi=[0.5], theta=[0.2])),
    ("FARMASIM", dict(d=0.3, phi=[0.5], theta=[0.2], mu=1.0, sigma=2.0, n=300, seed=5)),
    ("FARMAFIT", dict(series=X, p=1, q=1, opt=[1, 0])),
    ("FARMAFIT", dict(series=X, p=1, q=1)),
    ("FARMAFIT", dict(series=X)),
    ("UCMSIM", dict(level=[0.0, 0.1], slope=[0.0, 0.01], cycle1=[1.0, 0.0, 12.0, 0.9, 0.1],
                    season1=[1, 0.1], init1=[1.0, 2.0, 3.0], n=100, seed=3)),  # note 376
    # failures: no coefficients, a value missing, no value, a character value
    ("VARMACOV", dict(sigma=SIGMA)),
    ("VARMASIM", dict(phi=[[0.5, np.nan], [0.1, 0.2]], n=10, seed=1)),
    ("VARMACOV", dict(phi=mvts.EMPTY, theta=THETA)),
    ("FDIF", dict(series=X, d="half")),
    ("VARMACOV", dict(phi=[[1.2, 0.0], [0.0, 0.5]])),
]


@pytest.mark.parametrize("function,kwargs", CASES,
                         ids=[f"{f}-{i}" for i, (f, _) in enumerate(CASES)])
def test_python_call_matches_command_line_json(function, kwargs):
    expected = run_cli(function, **kwargs)
    call = getattr(mvts.Session(), function.lower())
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        try:
            result = call(**kwargs)
            status, messages = 0, [(w.message.number, w.message.inserts) for w in caught]
        except mvts.MvtsError as e:
            assert e.function == function
            result = None
            status, messages = e.status, [(m.number, m.inserts) for m in e.messages]
    assert status == expected["status"]
    json_messages = [(m["number"], tuple(m["inserts"])) for m in expected["messages"]]
    assert [n for n, _ in messages] == [n for n, _ in json_messages]
    for (_, got), (_, want) in zip(messages, json_messages):
        assert len(got) == len(want)
        for g, w in zip(got, want):
            assert g == w if isinstance(w, str) else float(g) == w
    if status:
        assert not expected["outputs"]
        return
    assert expected["outputs"]
    outputs = result if isinstance(result, tuple) else (result,)
    created = {o["index"] - 1: o for o in expected["outputs"]}
    for i, value in enumerate(outputs):
        if i not in created:
            assert value is None
            continue
        o = created[i]
        if value is None:
            # A part the model lacks: one missing value on the command line.
            assert (int(o["rows"]), int(o["cols"])) == (1, 1) and o["data"][0][0] is None
            continue
        want = np.array([[np.nan if x is None else x for x in row] for row in o["data"]],
                        dtype=float).reshape(int(o["rows"]), int(o["cols"]))
        assert_same_bits(as_matrix(value, int(o["rows"]), int(o["cols"])), want)
