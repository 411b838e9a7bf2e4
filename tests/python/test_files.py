"""Files as pandas writes them, read by the command line's @file: a first
line of column names, with and without pandas' index column, read back to
the same numbers."""

import json
import subprocess

import numpy as np
import pandas as pd
import pytest

from conftest import CLI


@pytest.mark.parametrize("index", [False, True])
def test_pandas_to_csv_reads_back_to_the_same_numbers(tmp_path, index):
    rng = np.random.default_rng(5)
    frame = pd.DataFrame(rng.standard_normal((30, 2)), columns=["gdp growth", "rate, %"],
                         index=pd.period_range("2000Q1", periods=30, freq="Q") if index else None)
    frame.iloc[3, 1] = np.nan
    path = tmp_path / "frame.csv"
    frame.to_csv(path, index=index, float_format="%.17g")
    script = tmp_path / "read.mvts"
    script.write_text(f"let y = @{path}\nprint y\n")
    done = subprocess.run([CLI, "run", str(script), "--format", "json"], capture_output=True,
                          text=True)
    assert done.returncode == 0, done.stderr
    got = np.array(json.loads(done.stdout.splitlines()[-1])["outputs"][0]["data"], dtype=float)
    np.testing.assert_array_equal(got, frame.to_numpy())
