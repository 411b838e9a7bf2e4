"""Files as pandas and R write them, read by the command line's @file: a
first line of column names, with and without an index column, read back to
the same numbers, the names labelling the columns; files the command line
writes, read by pandas to the same names and numbers; every double through
the text formats bit for bit."""

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
    shown = json.loads(done.stdout.splitlines()[-1])["outputs"][0]
    got = np.array(shown["data"], dtype=float)
    np.testing.assert_array_equal(got, frame.to_numpy())
    assert shown["columns"] == list(frame.columns)


def run_script(tmp_path, text, fmt):
    script = tmp_path / "s.mvts"
    script.write_text(text)
    return subprocess.run([CLI, "run", str(script), "--format", fmt], capture_output=True,
                          text=True)


def test_r_write_csv_form_reads_with_its_names(tmp_path):
    # write.csv(data.frame(`GDP, real` = ..., rate = ...)) : row names in
    # quotes under an empty name, every name quoted, NA for missing.
    path = tmp_path / "r.csv"
    path.write_text('"","GDP, real","rate ""r"""\n"1",0.5,1\n"2",1.5,NA\n"3",-2,3e-05\n')
    done = run_script(tmp_path, f"let y = @{path}\nprint y\nwrite y {tmp_path / 'back.csv'}\n",
                      "json")
    assert done.returncode == 0, done.stderr
    shown = json.loads(done.stdout)["outputs"][0]
    assert shown["columns"] == ["GDP, real", 'rate "r"']
    assert shown["data"] == [[0.5, 1], [1.5, None], [-2, 3e-05]]
    # pandas reads what `write` wrote: the same names, the same numbers
    back = pd.read_csv(tmp_path / "back.csv")
    assert list(back.columns) == ["GDP, real", 'rate "r"']
    np.testing.assert_array_equal(back.to_numpy(), [[0.5, 1], [1.5, np.nan], [-2, 3e-05]])


def test_names_label_the_table_and_csv_and_a_header_in_the_middle_is_an_error(tmp_path):
    path = tmp_path / "y.csv"
    path.write_text("x,y\n1,2\n3,4\n")
    table = run_script(tmp_path, f"let y = @{path}\nprint y\n", "table")
    assert table.stdout == "y: 2 x 2\n  x  y\n  1  2\n  3  4\n"
    csv = run_script(tmp_path, f"let y = @{path}\nprint y\n", "csv")
    assert csv.stdout == "# y\nx,y\n1,2\n3,4\n"
    path.write_text("x,y\n1,2\nx,y\n3,4\n")
    bad = run_script(tmp_path, f"let y = @{path}\n", "table")
    assert bad.returncode == 2
    assert f"{path}:3: \"x\" is not a number" in bad.stderr


def test_every_double_reads_back_bit_for_bit_through_csv_json_and_write(tmp_path):
    """Random bit patterns, subnormals, signed zeros, the extremes and
    integers beyond 2^53 written by Python (repr, the shortest round trip),
    read by @file and written again as csv, json and by write."""
    rng = np.random.default_rng(2026)
    bits = rng.integers(0, 2**64, size=6000, dtype=np.uint64)
    x = bits.view(np.float64)
    x = x[np.isfinite(x)]
    special = np.array([0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308,
                        1.7976931348623157e308, -1.7976931348623157e308, 2.0**53 + 2, 2.0**64,
                        1e22, 1e23, 123456789012345680000.0, 0.1, 1 / 3])
    x = np.concatenate([special, x])[: (len(x) // 3) * 3].reshape(-1, 3)
    path = tmp_path / "bits.csv"
    path.write_text("".join(",".join(repr(float(v)) for v in row) + "\n" for row in x))
    back = tmp_path / "back.csv"
    text = f"let y = @{path}\nprint y\nwrite y {back}\n"
    as_json = run_script(tmp_path, text, "json")
    assert as_json.returncode == 0, as_json.stderr
    # integers read as floats, so that -0 keeps its sign
    got = np.array(json.loads(as_json.stdout, parse_int=float)["outputs"][0]["data"])
    assert got.tobytes() == x.tobytes()
    as_csv = run_script(tmp_path, text, "csv")
    rows = [line.split(",") for line in as_csv.stdout.splitlines()[1:]]
    assert np.array(rows, dtype=float).tobytes() == x.tobytes()
    written = np.loadtxt(back, delimiter=",", dtype=float, ndmin=2)
    assert written.tobytes() == x.tobytes()
