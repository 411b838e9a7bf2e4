"""Shared helpers of the Python package's tests: the command line as the
reference for every number, and a fresh session per comparison (the command
line starts a fresh host on every call)."""

import json
import math
import os
import pathlib
import subprocess

import numpy as np
import pytest

import mvts

ROOT = pathlib.Path(__file__).resolve().parents[2]
CLI = os.environ.get("MVTS_CLI", str(ROOT / "build" / "bin" / "mvts"))


def cli_text(value):
    """A value as the command line writes it: round-trip numbers, '.' for a
    missing value, rows separated by ';', a 1-d array as a column."""
    if value is mvts.EMPTY:
        return ""
    if isinstance(value, str):
        return value
    a = np.asarray(value, dtype=float)
    if a.ndim == 1:
        a = a[:, None]
    a = np.atleast_2d(a)

    def number(x):
        return "." if math.isnan(x) else repr(float(x))
    return "; ".join(" ".join(number(x) for x in row) for row in a)


def run_cli(function, **kwargs):
    """One call through `mvts FUNCTION name=value ... --format json`: the
    parsed object (numbers exactly as printed, integers as floats so that -0
    keeps its sign)."""
    args = [CLI, function] + [f"{k}={cli_text(v)}" for k, v in kwargs.items() if v is not None]
    done = subprocess.run(args + ["--format", "json"], capture_output=True, text=True, check=False)
    assert done.returncode in (0, 1), done.stderr
    return json.loads(done.stdout, parse_int=float)


def as_matrix(value, rows, cols):
    """A Python output back in the host's rows x cols layout."""
    if isinstance(value, float):
        return np.array([[value]])
    return np.asarray(value, dtype=float).reshape(rows, cols)


def assert_same_bits(a, b):
    """Equal element for element, bit for bit (every NaN counts as the one
    missing value)."""
    a = np.asarray(a, dtype=float)
    b = np.asarray(b, dtype=float)
    assert a.shape == b.shape
    nan_a, nan_b = np.isnan(a), np.isnan(b)
    assert np.array_equal(nan_a, nan_b)
    assert np.array_equal(a[~nan_a].view(np.int64), b[~nan_b].view(np.int64))


@pytest.fixture
def session():
    return mvts.Session()
