"""Shared pieces of the study and batch tests: one two-worker local cluster
for the whole session (starting one costs seconds), and the comparison of
tables bit for bit."""

import logging
import os
import pathlib

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
CLI = os.environ.get("MVTS_CLI", str(ROOT / "build" / "bin" / "mvts"))
# Generous: worker processes start slowly on a loaded two-core machine.
TIMEOUT = 120


@pytest.fixture(scope="session")
def client():
    distributed = pytest.importorskip("distributed")
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
        dashboard_address=":0", silence_logs=logging.ERROR, death_timeout=TIMEOUT)
    c = distributed.Client(cluster, set_as_default=False, timeout=TIMEOUT)
    try:
        c.wait_for_workers(2, timeout=TIMEOUT)
        yield c
    finally:
        c.close()
        cluster.close()


def assert_same_table(a, b):
    """Same columns, same rows, every number the same bits (NaN where NaN);
    the measured "time" column is left out."""
    a = a.drop(columns="time")
    b = b.drop(columns="time")
    assert list(a.columns) == list(b.columns)
    assert list(a.index) == list(b.index)
    for column in a.columns:
        x, y = a[column].to_numpy(), b[column].to_numpy()
        if x.dtype.kind == "f":
            assert y.dtype.kind == "f", column
            assert np.array_equal(np.isnan(x), np.isnan(y)), column
            assert np.array_equal(x[~np.isnan(x)].view(np.int64),
                                  y[~np.isnan(y)].view(np.int64)), column
        else:
            assert x.dtype == y.dtype and list(x) == list(y), column
