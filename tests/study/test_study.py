"""mvts.study: seeds, the table, failures, and the same numbers wherever and
in whatever order the replications run."""

import os
import random

import numpy as np
import pytest

import mvts
from mvts import study
from conftest import TIMEOUT, assert_same_table
from study_helpers import DieOnce, FailOnOddSeeds, resident_session, series_sum

SIM = study.Call("FARMASIM", d=0.3, phi=[0.5], n=300)
FITS = {"css": study.Call("FARMAFIT", p=1), "d only": study.Call("FARMAFIT")}
TRUTH = {"d": 0.3, "ar": [0.5], "sigma": 1.0}


def small_study(replications=12, **kwargs):
    return study.run(SIM, FITS, replications, 2024, truth=TRUTH, progress=False, **kwargs)


class TestSeeds:
    def test_mixer_is_splitmix64(self):
        # Reference outputs of splitmix64 from state 0 (Vigna's splitmix64.c):
        # the mixer applied to 0, 0x9E3779B97F4A7C15, 2 * 0x9E3779B97F4A7C15.
        golden = 0x9E3779B97F4A7C15
        got = [study._splitmix64((k * golden) & (2**64 - 1)) for k in range(3)]
        assert got == [0xE220A8397B1DCDAF, 0x6E789E6AA1B965F4, 0x06C45D188009454F]

    def test_seeds_are_valid_distinct_and_stable(self):
        modulus = study.SEED_MODULUS
        for base in (0, 1, -1, 2**63, 2**64 - 1, 12345678901234567890):
            seeds = [study.replication_seed(base, i) for i in range(5000)]
            assert all(1 <= s <= modulus - 1 and s % modulus for s in seeds)
            assert len(set(seeds)) == len(seeds)
        # A change of the formula changes the table of every study ever run:
        # these values are part of the interface.
        assert [study.replication_seed(1, i) for i in range(3)] == [
            1832914245, 2119201619, 165311818]
        assert study.replication_seed(-1, 0) == study.replication_seed(2**64 - 1, 0)

    @pytest.mark.parametrize("base, i", [(1.0, 0), (True, 0), (1, -1), (1, 2.0), ("1", 0)])
    def test_bad_seed_arguments(self, base, i):
        with pytest.raises((TypeError, ValueError)):
            study.replication_seed(base, i)


class TestTable:
    def test_rows_come_from_the_replication_seed_alone(self):
        table = small_study(4)
        assert list(table.columns[:8]) == list(study.COLUMNS)
        assert list(table["replication"]) == [0, 0, 1, 1, 2, 2, 3, 3]
        assert list(table["method"]) == ["css", "d only"] * 4
        assert (table["status"] == 0).all() and (table["stage"] == "fit").all()
        assert (table["time"] > 0).all()
        for _, row in table.iterrows():
            assert row["seed"] == study.replication_seed(2024, row["replication"])
            s = mvts.Session()  # a fresh one, as the study uses
            series = s.farmasim(0.3, [0.5], n=300, seed=row["seed"])
            fit = s.farmafit(series, p=1) if row["method"] == "css" else s.farmafit(series)
            assert row["d"] == fit.d and row["sigma"] == fit.sigma
            assert np.isnan(row["ar[1]"]) if row["method"] == "d only" else row["ar[1]"] == fit.ar[0]

    def test_any_subset_in_any_order_gives_the_same_rows(self):
        whole = small_study(12)
        picked = [9, 2, 11, 5]
        part = small_study(picked)
        expect = whole[whole["replication"].isin(picked)].reset_index(drop=True)
        assert_same_table(part, expect)

    def test_summary_against_the_table(self):
        table = small_study(12)
        summary = study.summary(table)
        assert list(summary.index.get_level_values("method").unique()) == ["css", "d only"]
        assert ("d only", "ar[1]") not in summary.index  # never estimated
        assert ("css", "ma[1]") not in summary.index
        row = summary.loc[("css", "d")]
        d = table.loc[table["method"] == "css", "d"].to_numpy()
        assert row["n"] == 12 and row["failed"] == 0 and row["truth"] == 0.3
        assert row["mean"] == pytest.approx(d.mean(), rel=1e-15)
        assert row["bias"] == pytest.approx(d.mean() - 0.3, rel=1e-12)
        assert row["sd"] == pytest.approx(np.std(d, ddof=1), rel=1e-12)
        assert row["rmse"] == pytest.approx(np.sqrt(np.mean((d - 0.3) ** 2)), rel=1e-12)
        no_truth = study.summary(table, truth={})
        assert np.isnan(no_truth["bias"]).all() and np.isnan(no_truth["rmse"]).all()
        with pytest.raises(ValueError, match="no fit estimates"):
            study.summary(table, truth={"ar": [0.5, 0.1]})


class TestFailures:
    def test_an_explosive_simulation_keeps_its_rows(self):
        table = study.run(study.Call("FARMASIM", d=0.2, phi=[2.0], n=600), FITS, 3, 5,
                          progress=False)
        assert len(table) == 6
        assert (table["stage"] == "simulate").all() and (table["status"] == 100).all()
        assert (table["messages"] == "316").all()
        assert table["text"].str.contains("overflowed").all()
        assert study.summary(table).empty

    def test_failing_replications_among_good_ones(self):
        table = study.run(FailOnOddSeeds(), {"css": study.Call("FARMAFIT", p=1)}, 16, 3,
                          truth={"d": 0.2}, progress=False)
        odd = table["seed"] % 2 == 1
        assert 0 < odd.sum() < 16 and len(table) == 16
        assert (table.loc[odd, "status"] == 100).all()
        assert (table.loc[odd, "messages"] == "316").all()
        assert table.loc[odd, ["d", "ar[1]", "sigma"]].isna().all().all()
        assert (table.loc[~odd, "status"] == 0).all() and table.loc[~odd, "d"].notna().all()
        row = study.summary(table).loc[("css", "d")]
        assert row["failed"] == odd.sum() and row["n"] == (~odd).sum()

    def test_a_failing_fit_keeps_its_row(self):
        # p = 400 lags leaves fewer observations than the fit needs.
        table = study.run(SIM, {"ok": study.Call("FARMAFIT"), "bad": study.Call("FARMAFIT", p=400)},
                          2, 1, progress=False)
        bad = table[table["method"] == "bad"]
        assert (bad["status"] != 0).all() and (bad["stage"] == "fit").all()
        assert (bad["text"] != "").all() and bad["d"].isna().all()
        assert (table.loc[table["method"] == "ok", "status"] == 0).all()

    def test_python_fits_and_their_outputs(self):
        table = study.run(SIM, series_sum, 2, 1, progress=False)
        assert list(table.columns[8:]) == ["total", "first[1]", "first[2]"]
        assert (table["method"] == "series_sum").all()

    @pytest.mark.parametrize("change, error", [
        (dict(simulate=study.Call("FARMASIM", d=0.3, seed=4)), "leave it out"),
        (dict(simulate=study.Call("FARMAFIT")), "takes no seed"),
        (dict(fits={"x": study.Call("FARMACOV", d=0.3)}), "takes no series"),
        (dict(fits={"x": study.Call("FARMAFIT", series=[1.0, 2.0])}), "leave it out"),
        (dict(fits={}), "at least one fit"),
        (dict(truth={"phi": 0.5}), "which no fit returns"),
        (dict(replications=[1, 1]), "twice"),
        (dict(replications=-1), ">= 0"),
        (dict(seed=1.5), "whole number"),
        (dict(client=3), "client must be"),
        (dict(workers=2), "client='local' only"),
        (dict(chunk=0), "chunk must be"),
    ])
    def test_bad_studies_are_refused_before_running(self, change, error):
        arguments = dict(simulate=SIM, fits=FITS, replications=2, seed=1, truth=TRUTH)
        arguments.update(change)
        with pytest.raises((TypeError, ValueError), match=error):
            study.run(**arguments)

    def test_bad_calls(self):
        with pytest.raises(ValueError, match="unknown function"):
            study.Call("NOSUCH")
        with pytest.raises(ValueError, match="has no input 'dd'"):
            study.Call("farmasim", dd=0.3)


class TestOnACluster:
    def test_serial_cluster_and_shuffled_runs_give_one_table(self, client):
        serial = small_study(24)
        order = list(range(24))
        random.Random(7).shuffle(order)
        shuffled = small_study(order)
        on_cluster = small_study(24, client=client)
        shuffled_on_cluster = small_study(order, client=client, chunk=1)
        for other in (shuffled, on_cluster, shuffled_on_cluster):
            assert_same_table(other, serial)

    def test_a_killed_worker_is_replaced_and_the_table_is_complete(self, client, tmp_path):
        marker = tmp_path / "killed"
        victim = study.replication_seed(11, 5)
        fits = {"css": study.Call("FARMAFIT", p=1)}
        before = set(client.run(os.getpid).values())
        table = study.run(DieOnce(victim, str(marker), os.getpid()), fits, 16, 11, chunk=2,
                          client=client, progress=False)
        assert marker.exists()  # a worker really died, mid-study
        assert int(marker.read_text()) in before
        serial = study.run(DieOnce(victim, str(marker), os.getpid()), fits, 16, 11,
                           progress=False)
        assert_same_table(table, serial)
        assert (table["status"] == 0).all()
        client.wait_for_workers(2, timeout=TIMEOUT)  # the nanny restarted it

    def test_workers_keep_their_session_between_tasks(self, client):
        study.run(SIM, FITS, 8, 1, client=client, chunk=1, progress=False)
        first = {w: i for w, i in client.run(resident_session).items() if i is not None}
        study.run(SIM, FITS, 8, 2, client=client, chunk=1, progress=False)
        again = client.run(resident_session)
        assert first and all(again[w] == i for w, i in first.items())


def test_a_local_cluster_closes_without_the_retirement_error(tmp_path):
    # Closing a local cluster retires its workers before their processes
    # stop; a heartbeat in between draws "Scheduler was unaware of this
    # worker" at level ERROR from the worker.  That line, logged here on
    # each worker, is dropped; another error still shows.
    import subprocess
    import sys

    script = tmp_path / "close.py"
    script.write_text(
        "import logging\n"
        "from mvts import _parallel\n"
        "def log(text):\n"
        "    logging.getLogger('distributed.worker').error(text)\n"
        "if __name__ == '__main__':\n"
        "    with _parallel.connect('local', 2) as client:\n"
        "        client.run(log, \"Scheduler was unaware of this worker 'tcp://x'. Shutting down.\")\n"
        "        client.run(log, 'another worker error')\n")
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                          timeout=TIMEOUT, check=False)
    assert done.returncode == 0, done.stderr
    assert "unaware" not in done.stderr
    assert done.stderr.count("another worker error") == 2, done.stderr


def test_a_cancelled_task_ends_its_call_and_frees_its_worker(client):
    # A task of three fits of tens of seconds each, cancelled after a
    # second: the worker cancels the call running (message 398) and the task
    # stops before the next, so a task sent to that worker afterwards runs
    # within seconds instead of after the fits.
    import time
    from mvts import _parallel
    from study_helpers import executing_where, long_fits

    y = mvts.Session().varmasim(phi=np.array([[0.5, 0.1], [0.0, 0.3]]), p=52, n=2000, seed=1)
    client.register_worker_plugin(_parallel.CancelRunning(), name=_parallel.CancelRunning.name)
    f = client.submit(_parallel._task, long_fits, _parallel._Sealed(y),
                      _parallel._Sealed([0, 1, 2]), pure=False)
    where = []
    deadline = time.monotonic() + TIMEOUT
    while not where and time.monotonic() < deadline:
        time.sleep(0.2)
        where = [w for w, yes in client.run(executing_where, key=f.key).items() if yes]
    assert where, "the task never started"
    time.sleep(1.0)
    asked = time.monotonic()
    client.cancel(f)
    quick = client.submit(lambda: 1, workers=where, allow_other_workers=False, pure=False)
    assert quick.result(timeout=TIMEOUT) == 1
    assert time.monotonic() - asked < 10
