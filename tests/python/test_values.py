"""Values in and out: dtypes, memory orders, strides, pandas objects, the
missing value, the forms of the outputs."""

import sys

import numpy as np
import pytest

import mvts
from conftest import assert_same_bits

PHI = np.array([[0.5, 0.1], [-0.2, 0.4]])


def roots(session, phi):
    return session.vtsroot(phi)


class TestInputs:
    @pytest.mark.parametrize("values", [
        np.array([1.0, -2.5, 1e300, 5e-324], dtype=np.float64),
        np.array([1.5, -2.25, 3.4e38, 1e-45], dtype=np.float32),
        np.array([1.5, -2.0, 65504.0, 6e-8, -6e-8], dtype=np.float16),  # max, subnormals
        np.array([1.5, -2.0, 1e300], dtype=np.longdouble),
        np.array([-128, 127, 0], dtype=np.int8),
        np.array([-32768, 32767, 1], dtype=np.int16),
        np.array([-2**31, 2**31 - 1, 1], dtype=np.int32),
        np.array([-2**63, 2**63 - 1, 1], dtype=np.int64),
        np.array([255, 0, 7], dtype=np.uint8),
        np.array([65535, 0, 7], dtype=np.uint16),
        np.array([2**32 - 1, 0, 7], dtype=np.uint32),
        np.array([2**64 - 1, 0, 7], dtype=np.uint64),
        np.array([True, False, True]),
    ], ids=lambda v: str(v.dtype))
    def test_every_numeric_dtype_reads_as_numpy_converts_it(self, session, values):
        x = np.concatenate([values, values[::-1]])
        assert_same_bits(session.fdif(x, 0.3), session.fdif(x.astype(np.float64), 0.3))

    def test_orders_strides_and_views_give_the_same_result(self, session):
        base = session.vnormal([0.0, 1.0], n=50, seed=4)
        reference = session.varmalik(base, PHI)
        variants = {
            "fortran": np.asfortranarray(base),
            "transposed view": np.ascontiguousarray(base.T).T,
            "row stride": np.repeat(base, 3, axis=0)[::3],
            "column stride": np.repeat(base, 2, axis=1)[:, ::2],
            "reversed twice": base[::-1][::-1],
            "non-native byte order": base.astype(">f8"),
            "list": base.tolist(),
            "read-only": np.frombuffer(base.tobytes()).reshape(base.shape),
        }
        for name, v in variants.items():
            assert_same_bits(session.varmalik(v, PHI), reference), name

    def test_negative_strides_are_read_in_their_order(self, session):
        x = np.arange(1.0, 11.0) ** 2
        assert_same_bits(session.fdif(x[::-1], 0.3), session.fdif(x[::-1].copy(), 0.3))
        m = np.arange(12.0).reshape(6, 2) ** 1.5
        assert_same_bits(session.varmalik(m[::-1, ::-1], PHI),
                         session.varmalik(np.ascontiguousarray(m[::-1, ::-1]), PHI))

    def test_one_dimensional_input_is_a_column_and_a_scalar_is_one_by_one(self, session):
        column = session.fdif(np.array([1.0, 2.0, 4.0]), 0.5)
        as_column = session.fdif(np.array([[1.0], [2.0], [4.0]]), 0.5)
        assert_same_bits(column, as_column)
        assert session.farmacov(np.float32(0.25), lag=1).shape == (2,)
        assert_same_bits(session.farmacov(0.25, lag=1), session.farmacov(np.array(0.25), lag=1))

    def test_pandas_objects_through_numpy(self, session):
        pd = pytest.importorskip("pandas")
        y = session.vnormal([0.0, 1.0], n=40, seed=9)
        frame = pd.DataFrame(y, columns=["a", "b"], index=pd.date_range("2020", periods=40))
        assert_same_bits(session.varmalik(frame, pd.DataFrame(PHI)), session.varmalik(y, PHI))
        x = pd.Series(y[:, 0])
        assert_same_bits(session.fdif(x, 0.3), session.fdif(y[:, 0], 0.3))
        assert "pandas" in sys.modules  # the test's own import; the package needs none

    def test_object_arrays_convert_each_element_and_none_is_missing(self, session):
        from fractions import Fraction
        y = session.vnormal([0.0, 1.0], n=12, seed=3)
        objects = y.astype(object)
        objects[4, 0] = None
        objects[2, 1] = Fraction(1, 3)
        expected = y.copy()
        expected[4, 0] = np.nan
        expected[2, 1] = 1 / 3
        assert_same_bits(session.varmalik(objects, PHI), session.varmalik(expected, PHI))

    @pytest.mark.parametrize("value,error,words", [
        (np.ones((2, 2, 2)), ValueError, "3 dimensions"),
        (np.array([1 + 2j, 3]), TypeError, "complex"),
        (np.array(["a", "b"]), TypeError, "strings"),
        (np.array(["2020-01-01"], dtype="datetime64[D]"), TypeError, "not numbers"),
        ([1, "x"], TypeError, "strings"),
        ([1.0, object()], TypeError, "type object is not a number"),
        ([[1, 2], [3]], TypeError, "series"),
    ])
    def test_unusable_values_name_the_argument(self, session, value, error, words):
        with pytest.raises(error, match=words) as info:
            session.fdif(value, 0.3)
        assert "fdif(): series" in str(info.value)

    def test_str_is_a_character_value(self, session):
        with pytest.raises(mvts.MvtsError) as info:
            session.fdif([1.0, 2.0], "half")
        assert info.value.status == 13

    def test_empty_differs_from_omitted(self, session):
        with pytest.raises(mvts.MvtsError) as info:
            session.varmacov(phi=mvts.EMPTY, theta=PHI)
        assert info.value.status == 2
        with pytest.warns(mvts.MvtsWarning, match="pure MA"):
            assert session.varmacov(phi=None, theta=PHI).shape == (26, 2)

    def test_inputs_are_not_changed_and_not_referenced_after_the_call(self, session):
        y = session.vnormal([0.0, 1.0], n=30, seed=1)
        kept = y.copy()
        before = sys.getrefcount(y)
        session.varmalik(y, PHI)
        assert sys.getrefcount(y) == before
        assert_same_bits(y, kept)


class TestMissingValues:
    @pytest.mark.parametrize("bad", [np.nan, -np.nan, np.inf, -np.inf,
                                     np.frombuffer(b"\x01\x00\x00\x00\x00\x00\xf8\x7f")[0]],
                             ids=["nan", "-nan", "inf", "-inf", "nan with payload"])
    def test_nan_in_is_the_missing_value(self, session, bad):
        x = np.arange(1.0, 9.0)
        x[3] = bad
        with pytest.raises(mvts.MvtsError) as info:
            session.fdif(x, 0.3)  # FDIF refuses missing values
        assert info.value.status == 17
        y = session.vnormal([0.0, 0.0], n=30, seed=2)
        full = session.varmalik(y, PHI)
        y[5, 1] = bad
        gap = session.varmalik(y, PHI)  # the likelihood skips them
        assert np.isfinite(gap).all() and not np.array_equal(gap, full)

    def test_missing_out_is_nan_and_goes_back_in_as_missing(self, session):
        x = session.fdif(np.arange(1.0, 9.0), 0.3)
        assert np.isnan(x[0]) and np.isfinite(x[1:]).all()  # FDIF's first value is missing
        with pytest.raises(mvts.MvtsError) as info:
            session.fdif(x, 0.3)
        assert info.value.status == 17


class TestOutputs:
    def test_forms_follow_the_catalogue(self, session):
        x = session.farmasim(0.3, [0.5], n=80, seed=3)
        assert x.shape == (80,) and x.dtype == np.float64
        fit = session.farmafit(x, p=1)
        assert isinstance(fit, mvts.FarmafitResult)
        assert type(fit.d) is float and type(fit.sigma) is float
        assert fit.ar.shape == (1,) and fit.ma is None  # no MA part
        assert session.varmacov(PHI, lag=3).shape == (8, 2)
        assert session.varmalik(session.vnormal([0, 0], n=20, seed=1), PHI).shape == (3,)
        assert session.vnormal([0.0, 1.0, 2.0], n=1, seed=1).shape == (1, 3)

    def test_an_output_not_produced_is_none(self, session):
        y = session.varmasim(PHI, n=150, seed=8)
        fit = session.varmafit(y, p=1)
        assert fit.ma is None and fit.ar.shape == (2, 2) and fit.sigma.shape == (2, 2)
        assert fit._fields == ("ar", "ma", "sigma")

    def test_outputs_own_their_memory_and_are_writable(self, session):
        y = session.vnormal([0.0, 1.0], n=10, seed=1)
        assert y.flags.c_contiguous and y.flags.writeable and y.base is not None
        y[0, 0] = 42.0
        del session
        assert y[0, 0] == 42.0 and np.isfinite(y).all()
