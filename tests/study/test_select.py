"""mvts.select_order on two Dask workers: the same table, bit for bit, as
the fits in this process."""

import pytest

import mvts
from conftest import assert_same_table


def test_dask_gives_the_serial_table(client):
    y = mvts.Session().farmasim(0.2, [0.4], n=300, seed=41)
    serial = mvts.select_order(y, "arfima", 2, 1, method="conditional", progress=False)
    spread = mvts.select_order(y, "arfima", 2, 1, method="conditional", client=client,
                               chunk=1, progress=False)
    assert_same_table(serial.table, spread.table)
    assert spread.order == serial.order and len(spread.table) == 6


def test_varma_on_workers(client):
    y = mvts.Session().varmasim([[0.5, 0.1], [0.0, 0.3]], None, n=150, seed=42)
    serial = mvts.select_order(y, "varma", 1, 1, progress=False)
    spread = mvts.select_order(y, "varma", 1, 1, client=client, progress=False)
    assert_same_table(serial.table, spread.table)
    assert spread.order == serial.order
