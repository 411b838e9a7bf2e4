"""mvts.batch: many series, one call; order, labels and failures kept."""

import numpy as np
import pandas as pd
import pytest

import mvts
from mvts import batch
from conftest import assert_same_table
from study_helpers import series_sum


@pytest.fixture(scope="module")
def panel():
    """Seven series in columns named out of order, one with a missing value."""
    s = mvts.Session()
    names = ["z", "b", "y", "a", "x", "c", "w"]
    data = {name: s.farmasim(0.05 + 0.05 * k, [0.4], n=200, seed=100 + k)
            for k, name in enumerate(names)}
    data["a"][17] = np.nan
    return pd.DataFrame(data)


def check_against_single_calls(result, columns):
    for label, series in columns:
        row = result.loc[label]
        if np.isnan(series).any():
            assert row["status"] == 17 and np.isnan(row["d"])
            assert "missing" in row["text"]
            continue
        fit = mvts.Session().farmafit(series, p=1)
        assert row["status"] == 0 and row["d"] == fit.d and row["ar[1]"] == fit.ar[0]


class TestBatch:
    def test_dataframe_keeps_its_column_order_and_labels(self, panel):
        result = batch.apply("farmafit", panel, p=1, progress=False)
        assert list(result.index) == list(panel.columns)
        assert list(result.columns[:4]) == list(batch.COLUMNS)
        check_against_single_calls(result, panel.items())

    def test_on_a_cluster_in_any_chunking(self, panel, client):
        serial = batch.apply("farmafit", panel, p=1, progress=False)
        for chunk in (1, 3, None):
            got = batch.apply("FARMAFIT", panel, p=1, client=client, chunk=chunk, progress=False)
            assert list(got.index) == list(panel.columns)
            assert_same_table(got, serial)

    def test_arrays_lists_and_dicts(self, panel):
        expect = batch.apply("farmafit", panel, p=1, progress=False).reset_index(drop=True)
        as_array = batch.apply("farmafit", panel.to_numpy(), p=1, progress=False)
        as_list = batch.apply(mvts.study.Call("farmafit", p=1),
                              [panel[c].to_numpy() for c in panel], progress=False)
        for got in (as_array, as_list):
            assert list(got.index) == list(range(7))
            assert_same_table(got.reset_index(drop=True), expect)
        as_dict = batch.apply("farmafit", {c: panel[c] for c in reversed(panel.columns)}, p=1,
                              progress=False)
        assert list(as_dict.index) == list(reversed(panel.columns))

    def test_unflattened_outputs_and_python_functions(self, panel):
        raw = batch.apply("farmafit", panel, p=1, flatten=False, progress=False)
        assert list(raw.columns[4:]) == ["d", "ar", "ma", "sigma"]
        assert raw.loc["a", "ar"] is None and isinstance(raw.loc["z", "ar"], np.ndarray)
        own = batch.apply(series_sum, panel[["z", "b"]], progress=False)
        assert own.loc["z", "total"] == float(sum(panel["z"]))

    @pytest.mark.parametrize("data, error", [
        (np.zeros(5), "2-d"),
        (3.0, "not float"),
        ([np.zeros(3), 1.0], "single number"),
    ])
    def test_bad_panels(self, data, error):
        with pytest.raises((TypeError, ValueError), match=error):
            batch.apply("farmafit", data)

    def test_bad_calls(self, panel):
        with pytest.raises(ValueError, match="takes no series"):
            batch.apply("farmasim", panel, d=0.3)
        with pytest.raises(TypeError, match="carries its own"):
            batch.apply(series_sum, panel, p=1)
