"""Errors, warnings, signatures and help, the default session's streams, and
sessions in threads."""

import json
import pickle
import subprocess
import sys
import threading
import warnings

import numpy as np
import pytest

import mvts
from conftest import CLI, as_matrix, assert_same_bits, cli_text

PHI = np.array([[0.5, 0.1], [-0.2, 0.4]])
THETA = np.array([[0.3, 0.0], [0.1, 0.2]])


class TestErrors:
    def test_failure_carries_status_function_and_messages(self, session):
        with pytest.raises(mvts.MvtsError) as info:
            session.varmacov(phi=[[1.2, 0.0], [0.0, 0.5]])
        e = info.value
        assert (e.function, e.status) == ("VARMACOV", 100)
        assert [m.number for m in e.messages] == [360]
        number, inserts, text = e.messages[0]
        assert inserts == () and "not stationary" in text and text in str(e)

    def test_failure_of_an_argument_check_names_the_argument(self, session):
        with pytest.raises(mvts.MvtsError) as info:
            session.varmacov(PHI, THETA, [[1.0, 0.5], [0.2, 1.0]])  # sigma not symmetric
        assert info.value.argument == "sigma" and "(argument sigma)" in str(info.value)
        with pytest.raises(mvts.MvtsError) as info:
            session.varmacov(phi=[[1.2, 0.0], [0.0, 0.5]])  # a numerical failure
        assert info.value.argument is None

    def test_message_inserts_keep_their_types(self, session):
        with pytest.raises(mvts.MvtsError) as info:
            session.varmacov(phi=[[0.5, 0.1, 0.0], [0.1, 0.5, 0.0]])  # 2 rows, 3 columns
        assert info.value.messages[0].inserts == ("AR",)

    def test_failure_without_message_says_what_the_status_means(self, session):
        with pytest.raises(mvts.MvtsError,
                           match=r"status 2 \(argument series\): an argument holds no value") as info:
            session.fdif(mvts.EMPTY, 0.3)
        assert info.value.messages == []
        assert info.value.argument == "series"

    def test_usage_errors_are_type_errors(self, session):
        with pytest.raises(TypeError, match="unexpected keyword argument 'sigmaa'"):
            mvts.vnormal([0.0], sigmaa=1.0)
        with pytest.raises(TypeError, match="takes from 0 to 2 positional arguments but 3"):
            mvts.fdif([1.0, 2.0], 0.3, 1.0)
        with pytest.raises(TypeError, match="multiple values for argument 'd'"):
            session.fdif([1.0, 2.0], 0.3, d=0.3)

    def test_errors_and_warnings_pickle(self):
        e = mvts.MvtsError("FDIF", 17, [mvts.Message(350, (1, "x", 2.5), "t")], "series")
        back = pickle.loads(pickle.dumps(e))
        assert (back.function, back.status, back.messages, back.argument) == \
            (e.function, e.status, e.messages, "series")
        assert str(back) == str(e)
        w = pickle.loads(pickle.dumps(mvts.MvtsWarning("UCMSIM", 376, (), "text")))
        assert (w.function, w.number, w.text) == ("UCMSIM", 376, "text")


class TestWarnings:
    def test_notes_of_a_successful_call_are_warnings_with_their_numbers(self, session):
        with pytest.warns(mvts.MvtsWarning) as caught:
            y = session.ucmsim(level=[0.0, 0.1], n=10, seed=1)
        assert y.shape == (10,)
        assert [(w.message.function, w.message.number) for w in caught] == [("UCMSIM", 376)]
        assert caught[0].filename == __file__  # points at the caller's line

    def test_warnings_can_be_filtered(self, session):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            warnings.filterwarnings("ignore", category=mvts.MvtsWarning)
            session.ucmsim(n=5, seed=1)
        with warnings.catch_warnings():
            warnings.simplefilter("error", category=mvts.MvtsWarning)
            with pytest.raises(mvts.MvtsWarning):
                session.varmacov(theta=THETA, lag=4)

    def test_a_lag_list_out_of_order_or_with_a_fraction_warns_naming_it(self, session):
        blocks = np.vstack([0.4 * np.eye(2), 0.3 * np.eye(2)])
        # read sorted: the first block goes to lag 1, whatever the order written
        with pytest.warns(UserWarning, match=r"VARMACOV: lag list p=\[2\.0, 1\.0\] is not strictly "
                                             r"ascending.*lags \[1, 2\]") as caught:
            swapped = session.varmacov(phi=blocks, p=[2, 1], lag=2)
        assert caught[0].filename == __file__
        np.testing.assert_array_equal(swapped, session.varmacov(phi=blocks, p=[1, 2], lag=2))
        with pytest.warns(UserWarning, match=r"FARMACOV: lag list q=\[1\.5\] holds a fraction"):
            session.farmacov(d=0.2, theta=[0.3], q=1.5)
        with pytest.warns(UserWarning, match=r"VARMAFIT: lag list p=\[1\.0, 1\.0\]"):
            session.varmafit(session.varmasim(phi=PHI, n=60, seed=2), p=[1, 1])
        # lists in ascending whole numbers, or none, are quiet
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            session.varmacov(phi=blocks, p=[1, 3], lag=2)
            session.farmafit(session.farmasim(d=0.2, n=200, seed=3), p=2)
            session.varmalik(session.varmasim(phi=PHI, n=30, seed=4), phi=PHI)


    def test_farmalik_says_when_the_exact_method_gives_way(self, session):
        # opt = 1 with |d| >= 0.5 - 2^-26.5: the module computes the
        # conditional sum of squares (rows 2 and 3 missing) with status 0
        # and no message; the package warns.
        x = session.farmasim(0.3, [0.5], n=60, seed=4)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            fallen = session.farmalik(x, 0.6, [0.5], opt=1)
            exact = session.farmalik(x, 0.3, [0.5], opt=[1.0])
            conditional = session.farmalik(x, 0.6, [0.5])
        assert np.isnan(fallen[1:]).all() and np.isfinite(exact).all()
        assert fallen[0] == conditional[0]
        assert [(w.message.function, w.message.number) for w in caught] == [("FARMALIK", 0)]
        assert "conditional sum of squares" in caught[0].message.text
        assert caught[0].filename == __file__
        help_text = subprocess.run([CLI, "help", "farmalik"], capture_output=True,
                                   text=True).stdout
        for meaning in (mvts.farmalik.__doc__, help_text):
            assert "whatever opt says" in meaning


class TestAbsentParts:
    def test_a_fit_without_an_ar_or_ma_part_gives_none_and_feeds_farmalik(self, session):
        x = session.farmasim(0.3, n=300, seed=2)
        fit = session.farmafit(x)
        assert fit.ar is None and fit.ma is None
        assert isinstance(fit.d, float) and isinstance(fit.sigma, float)
        loglik = session.farmalik(x, fit.d, fit.ar, fit.ma, fit.sigma)
        assert np.isfinite(loglik[0])
        only_ar = session.farmafit(x, p=1)
        assert only_ar.ar.shape == (1,) and only_ar.ma is None
        assert "None when there is no AR part" in mvts.farmafit.__doc__


class TestSignaturesAndHelp:
    def test_signatures_take_the_command_line_names_in_order(self):
        import inspect
        for name, _, inputs, outputs in mvts.catalog():
            for fn in (getattr(mvts, name.lower()), getattr(mvts.Session, name.lower())):
                params = [p for p in inspect.signature(fn).parameters.values() if p.name != "self"]
                assert [p.name for p in params] == [i[0] for i in inputs]
                assert all(p.default is None for p in params)
            if len(outputs) > 1:
                assert getattr(mvts, name.capitalize() + "Result")._fields == tuple(o[0] for o in outputs)

    def test_catalogue_covers_the_registration_table(self, session):
        registered = {name: (inputs, outputs) for name, inputs, outputs in session.registered()}
        described = {name: (len(i), len(o)) for name, _, i, o in mvts.catalog()}
        assert registered == described

    def test_help_shows_arguments_defaults_and_outputs_from_the_catalogue(self):
        import pydoc
        text = pydoc.render_doc(mvts.farmafit, renderer=pydoc.plaintext)
        assert "farmafit(series=None, p=None, q=None, opt=None)" in text
        for name, _, inputs, outputs in mvts.catalog():
            if name != "FARMAFIT":
                continue
            for arg, meaning, fallback in inputs:
                assert meaning in text
                assert ("Required." if fallback == "required" else f"Omitted: {fallback}.") in text
            for out, meaning, _ in outputs:
                assert meaning in text
        assert "FarmafitResult(d, ar, ma, sigma)" in text

    def test_command_line_help_reads_the_same_catalogue(self):
        text = subprocess.run([CLI, "help", "farmafit"], capture_output=True, text=True).stdout
        flat = " ".join(text.split())  # the command line wraps long lines
        for _, meaning, fallback in [e for e in mvts.catalog() if e[0] == "FARMAFIT"][0][2]:
            assert meaning in flat and fallback in flat

    def test_functions_and_results_pickle_by_reference(self):
        assert pickle.loads(pickle.dumps(mvts.farmafit)) is mvts.farmafit
        assert pickle.loads(pickle.dumps(mvts.EMPTY)) is mvts.EMPTY
        fit = mvts.FarmafitResult(0.3, np.array([0.5]), None, 1.0)
        assert pickle.loads(pickle.dumps(fit)).d == 0.3

    def test_a_session_does_not_pickle(self, session):
        with pytest.raises(TypeError, match="belongs to its process"):
            pickle.dumps(session)


class TestStreams:
    def test_default_session_continues_the_stream_as_a_script_does(self):
        # A negative seed starts a function's stream, which later calls
        # continue; a positive one restarts it.
        calls = [("VNORMAL", dict(mu=[0.0, 1.0], n=4, seed=-17)),
                 ("VNORMAL", dict(mu=[0.0, 1.0], n=3)),
                 ("FARMASIM", dict(d=0.2, n=5, seed=-5)),
                 ("VNORMAL", dict(mu=[0.0, 1.0], n=2)),
                 ("FARMASIM", dict(d=0.2, n=5)),
                 ("VNORMAL", dict(mu=[0.0, 1.0], n=4, seed=17))]
        script = "\n".join(f"{f} " + " ".join(f'{k}="{cli_text(v)}"' for k, v in kw.items())
                           for f, kw in calls)
        done = subprocess.run([CLI, "run", "-", "--format", "json"], input=script,
                              capture_output=True, text=True, check=True)
        expected = [json.loads(line) for line in done.stdout.splitlines()]
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", mvts.MvtsWarning)
            got = [getattr(mvts, f.lower())(**kw) for f, kw in calls]
        for value, obj in zip(got, expected):
            o = obj["outputs"][0]
            assert_same_bits(as_matrix(value, o["rows"], o["cols"]), np.array(o["data"], dtype=float))
        assert not np.array_equal(got[0][:3], got[1])
        assert not np.array_equal(got[2], got[4])
        assert_same_bits(got[5], got[0])  # a seed restarts the stream
        assert mvts.default_session() is mvts.default_session()

    def test_sessions_have_independent_streams(self):
        a, b = mvts.Session(), mvts.Session()
        x1 = a.farmasim(0.3, n=50, seed=-4)
        b.farmasim(0.3, n=50, seed=-99)
        mvts.farmasim(0.3, n=50, seed=-7)
        x2 = a.farmasim(0.3, n=50)  # continues a's stream, whatever b and the default did
        fresh = mvts.Session()
        assert_same_bits(x1, fresh.farmasim(0.3, n=50, seed=-4))
        assert_same_bits(x2, fresh.farmasim(0.3, n=50))

    def test_a_forked_child_starts_its_own_default_session(self):
        code = ("import os, mvts, numpy as np\n"
                "mvts.vnormal([0.0, 0.0], n=1, seed=5)\n"
                "pid = os.fork()\n"
                "if pid == 0:\n"
                "    os._exit(0 if mvts.default_session() is not None else 1)\n"
                "os.waitpid(pid, 0)\n")
        before = mvts.default_session()
        assert subprocess.run([sys.executable, "-c", code]).returncode == 0
        assert mvts.default_session() is before


def _work(session, seed):
    """A sequence of dependent calls: simulate, fit, likelihood, roots."""
    y = session.varmasim(PHI, THETA, n=150, seed=seed)
    fit = session.varmafit(y, p=1, q=1)
    lik = session.varmalik(y, fit.ar, fit.ma, fit.sigma)
    x = session.farmasim(0.2, [0.4], n=200, seed=-seed)
    more = session.farmasim(0.2, [0.4], n=20)  # continues the stream
    return [y, fit.ar, fit.ma, fit.sigma, lik, session.vtsroot(fit.ar, fit.ma),
            session.farmafit(x, p=1).ar, more]


class TestThreads:
    def test_two_sessions_in_two_threads_equal_the_same_calls_in_turn(self):
        def three_rounds(seed):
            s = mvts.Session()
            return [_work(s, seed) for _ in range(3)]  # the later rounds continue streams
        serial = [three_rounds(seed) for seed in (3, 8)]
        results = [None, None]

        def run(i, seed):
            results[i] = three_rounds(seed)
        threads = [threading.Thread(target=run, args=(i, seed)) for i, seed in enumerate((3, 8))]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert not np.array_equal(serial[0][0][-1], serial[0][1][-1])
        for i in range(2):
            for got_round, want_round in zip(results[i], serial[i]):
                for got, want in zip(got_round, want_round):
                    assert_same_bits(got, want)

    def test_a_call_releases_the_interpreter_lock(self):
        import time
        s = mvts.Session()
        span = []

        def call():
            start = time.perf_counter()
            s.vnormal([0.0, 0.0], n=2_000_000, seed=1)
            span.extend([start, time.perf_counter()])
        worker = threading.Thread(target=call)
        seen = []
        worker.start()
        i = 0
        while worker.is_alive():
            i += 1
            if i % 64 == 0:
                seen.append(time.perf_counter())
        worker.join()
        start, end = span
        middle = [t for t in seen if start + 0.2 * (end - start) < t < end - 0.2 * (end - start)]
        assert len(middle) > 10  # this thread ran while the call was in the module

    def test_one_session_shared_by_threads_runs_calls_one_at_a_time(self):
        # Each thread restarts the stream with its seed and draws in one
        # call, so whatever the interleaving every thread gets its own
        # seed's numbers.
        shared = mvts.Session()
        want = {seed: mvts.Session().vnormal([0.0, 0.0], n=200, seed=seed) for seed in range(1, 9)}
        got = {}

        def run(seed):
            for _ in range(20):
                got[seed] = shared.vnormal([0.0, 0.0], n=200, seed=seed)
                assert np.array_equal(got[seed], want[seed])
        threads = [threading.Thread(target=run, args=(seed,)) for seed in want]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        for seed in want:
            assert_same_bits(got[seed], want[seed])
