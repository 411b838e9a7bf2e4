"""mvts study FILE.json: the same table as mvts.study.run, clear errors with
exit status 2 for bad files, no worker left after Ctrl-C."""

import json
import signal
import subprocess
import time

import pandas as pd
import pytest

from mvts import study, study_cli
from conftest import CLI, ROOT, TIMEOUT, assert_same_table

GOOD = {
    "simulate": {"function": "FARMASIM", "arguments": {"d": 0.3, "phi": [0.5], "n": 300}},
    "fits": {"css": {"function": "farmafit", "arguments": {"p": 1, "opt": [0, 0]}},
             "d only": {"function": "FARMAFIT"}},
    "replications": 6,
    "seed": 42,
    "truth": {"d": 0.3, "ar": [0.5], "sigma": 1},
}


def mvts_study(tmp_path, study_file, *options, timeout=TIMEOUT):
    path = tmp_path / "study.json"
    path.write_text(study_file if isinstance(study_file, str) else json.dumps(study_file))
    return subprocess.run([CLI, "study", str(path), *options], capture_output=True, text=True,
                          timeout=timeout, check=False)


def read_table(path):
    return pd.read_csv(path, keep_default_na=False, na_values=["NA"], float_precision="round_trip",
                       dtype={"messages": str, "text": str})


def python_table():
    return study.run(study.Call("FARMASIM", d=0.3, phi=[0.5], n=300),
                     {"css": study.Call("FARMAFIT", p=1, opt=[0, 0]),
                      "d only": study.Call("FARMAFIT")}, 6, 42, progress=False)


class TestStudyFile:
    def test_serial_run_writes_the_table_and_prints_the_summary(self, tmp_path):
        out = tmp_path / "results.csv"
        done = mvts_study(tmp_path, GOOD, "--out", str(out))
        assert done.returncode == 0, done.stderr
        assert_same_table(read_table(out), python_table())
        assert "bias" in done.stdout and "rmse" in done.stdout and "css" in done.stdout

    def test_an_unwritable_standard_output_is_a_failure(self, tmp_path):
        path = tmp_path / "study.json"
        path.write_text(json.dumps(dict(GOOD, replications=1)))
        with open("/dev/full", "w") as full:
            done = subprocess.run([CLI, "study", str(path)], stdout=full, stderr=subprocess.PIPE,
                                  text=True, timeout=TIMEOUT, check=False)
        assert done.returncode == 1
        assert done.stderr == "mvts study: cannot write standard output: No space left on device\n"

    def test_a_scheduler_address_gives_the_same_table(self, tmp_path, client):
        out = tmp_path / "results.csv"
        done = mvts_study(tmp_path, GOOD, "--scheduler", client.scheduler.address,
                          "--out", str(out))
        assert done.returncode == 0, done.stderr
        assert_same_table(read_table(out), python_table())

    def test_failed_replications_are_rows_not_errors(self, tmp_path, capsys):
        study_file = dict(GOOD, simulate={"function": "FARMASIM",
                                    "arguments": {"d": 0.2, "phi": [2.0], "n": 600}})
        path, out = tmp_path / "study.json", tmp_path / "results.csv"
        path.write_text(json.dumps(study_file))
        assert study_cli.main([str(path), "--out", str(out)]) == 0
        assert "12 of 12 rows failed" in capsys.readouterr().err
        table = read_table(out)
        assert (table["status"] == 100).all() and (table["messages"] == "316").all()

    def test_the_example_file_reads(self):
        study_file = study_cli.read_study(ROOT / "examples" / "study.json")
        assert study_file["replications"] == 200 and list(study_file["fits"]) == ["ARFIMA(1,d,0)",
                                                                      "ARFIMA(0,d,0)"]
        assert study_file["simulate"].function == "FARMASIM" and study_file["truth"]["d"] == 0.3

    def test_help_describes_the_file(self):
        done = subprocess.run([CLI, "help", "study"], capture_output=True, text=True, check=False)
        assert done.returncode == 0
        for word in ("simulate", "fits", "replications", "seed", "truth", "--workers",
                     "--scheduler", "--out", "Exit status"):
            assert word in done.stdout, word
        usage = subprocess.run([CLI, "help"], capture_output=True, text=True, check=False)
        assert "mvts study FILE.json" in usage.stdout

    @pytest.mark.parametrize("study_file, error", [
        ("{\"simulate\": ", "not JSON: Expecting value at line 1, column 14"),
        ("[1, 2]", "one JSON object"),
        ({k: v for k, v in GOOD.items() if k != "fits"}, "'fits' is missing"),
        (dict(GOOD, workers=2), "unknown key 'workers'"),
        ('{"seed": 1, "seed": 2}', "key 'seed' appears twice"),
        (dict(GOOD, simulate={"function": "NOSUCH"}), "simulate: unknown function 'NOSUCH'"),
        (dict(GOOD, simulate={"function": "FARMASIM", "arguments": {"dd": 1}}),
         "FARMASIM has no input 'dd'"),
        (dict(GOOD, simulate={"function": "FARMAFIT"}), "FARMAFIT is not a simulating function"),
        (dict(GOOD, simulate={"function": "FARMASIM", "arguments": {"d": 0.3, "seed": 1}}),
         "leave seed out"),
        (dict(GOOD, fits={"x": {"function": "FARMASIM"}}), "fits.x: FARMASIM is not a function of"),
        (dict(GOOD, fits={"x": {"function": "FARMAFIT", "arguments": {"series": [1]}}}),
         "leave series out"),
        (dict(GOOD, fits={}), "at least one fit"),
        (dict(GOOD, fits={"x": {"function": "FARMAFIT", "how": 1}}), "fits.x: unknown key 'how'"),
        (dict(GOOD, fits={"x": {"function": "FARMAFIT", "arguments": {"p": True}}}),
         "fits.x.arguments.p: true is not a number"),
        (dict(GOOD, fits={"x": {"function": "FARMAFIT", "arguments": {"p": [[1, 2], [3]]}}}),
         "one length"),
        (dict(GOOD, fits={"x": {"function": "FARMAFIT", "arguments": {"p": {"a": 1}}}}),
         "is not a number, a list"),
        (dict(GOOD, replications=0), "replications must be at least 1"),
        (dict(GOOD, replications=2.5), "replications must be a whole number"),
        (dict(GOOD, seed="1"), "seed must be a whole number"),
        (dict(GOOD, truth={"phi": 0.5}), "truth.phi: no fit has an output 'phi'"),
        (dict(GOOD, chunk=0), "chunk must be at least 1"),
        (dict(GOOD, replications=2**63), "replications must be at most 9223372036854775807"),
        (dict(GOOD, replications=1e300), "replications must be at most"),
        ("[" * 1200 + "]" * 1200, "nested too deeply"),
        ('{"truth": ' * 1200 + "1" + "}" * 1200, "nested too deeply"),
        ('{"seed": ' + "9" * 5000 + "}", "a number of more than 4300 digits"),
    ])
    def test_bad_files_say_what_is_wrong(self, tmp_path, capsys, study_file, error):
        # In this process (a new interpreter per file would take seconds);
        # the command line below shows the same path end to end.
        path = tmp_path / "study.json"
        path.write_text(study_file if isinstance(study_file, str) else json.dumps(study_file))
        assert study_cli.main([str(path)]) == 2
        captured = capsys.readouterr()
        assert captured.err.startswith(f"mvts study: {path}: ") and captured.out == ""
        assert error in captured.err and captured.err.count("\n") == 1

    def test_bad_files_and_command_lines_end_with_status_2(self, tmp_path, capsys):
        done = mvts_study(tmp_path, dict(GOOD, replications=0))
        assert done.returncode == 2 and done.stdout == ""
        assert done.stderr.endswith("replications must be at least 1, not 0\n")
        done = mvts_study(tmp_path, GOOD, "--workers", "2", "--scheduler", "tcp://127.0.0.1:1")
        assert done.returncode == 2 and "not allowed with argument" in done.stderr
        path = tmp_path / "study.json"
        for options in (["--workers", "0"], ["--bogus"], ["--out"]):
            with pytest.raises(SystemExit) as exit_:
                study_cli.main([str(path), *options])
            assert exit_.value.code == 2
            assert "usage: mvts study" in capsys.readouterr().err, options
        assert study_cli.main([str(tmp_path / "missing.json")]) == 2
        assert "cannot read the study file" in capsys.readouterr().err

    def test_an_unreachable_scheduler_is_a_failure_not_a_usage_error(self, tmp_path, capsys):
        dask = pytest.importorskip("dask")
        path = tmp_path / "study.json"
        path.write_text(json.dumps(GOOD))
        with dask.config.set({"distributed.comm.timeouts.connect": "2s"}):
            assert study_cli.main([str(path), "--scheduler", "tcp://127.0.0.1:9"]) == 1
        assert "cannot reach the Dask scheduler" in capsys.readouterr().err


def test_a_count_of_replications_is_not_held_before_they_run(tmp_path, monkeypatch):
    # Replications run one by one from the first; here each is a stand-in
    # that returns no rows, and the third is a Ctrl-C.  A count of 10^18
    # starts at once in a few kilobytes: nothing is allocated per
    # replication before it runs.
    import tracemalloc
    chunks = []

    def interrupted_at_the_third(plan, indices):
        chunks.append(list(indices))
        if len(chunks) == 3:
            raise KeyboardInterrupt
        return [[] for _ in indices], 0.0

    monkeypatch.setattr(study, "_replicate", interrupted_at_the_third)
    path = tmp_path / "study.json"
    path.write_text(json.dumps(dict(GOOD, replications=10**18)))
    tracemalloc.start()
    try:
        assert study_cli.main([str(path)]) == study_cli.EXIT_INTERRUPTED
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert chunks == [[0], [1], [2]]
    assert peak < 16 * 2**20


def runs_module(process):
    try:
        return any(m.path.endswith("orvmvtsa.so") for m in process.memory_maps())
    except Exception:  # the process ended, or its maps cannot be read
        return False


def test_a_study_of_10_to_the_12_replications_runs_in_little_memory(tmp_path):
    # Serially: once the interpreter has loaded the module it is running
    # replications; its memory is then that of one replication, and Ctrl-C
    # ends it with status 130.
    psutil = pytest.importorskip("psutil")
    path = tmp_path / "huge.json"
    path.write_text(json.dumps(dict(GOOD, replications=10**12)))
    process = subprocess.Popen([CLI, "study", str(path)], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    parent = psutil.Process(process.pid)
    deadline = time.monotonic() + TIMEOUT
    try:
        while time.monotonic() < deadline and process.poll() is None and not runs_module(parent):
            time.sleep(0.2)
        assert process.poll() is None, process.communicate()[1]
        assert runs_module(parent), "the study did not start"
        assert parent.memory_info().rss < 2**30
        process.send_signal(signal.SIGINT)
        _, err = process.communicate(timeout=TIMEOUT)
        assert process.returncode == 130 and err == "mvts study: interrupted\n"
    finally:
        try:
            parent.kill()
        except psutil.Error:
            pass


def test_ctrl_c_leaves_no_worker_behind(tmp_path):
    psutil = pytest.importorskip("psutil")
    path = tmp_path / "long.json"
    path.write_text(json.dumps(dict(GOOD, replications=10**6)))
    process = subprocess.Popen([CLI, "study", str(path), "--workers", "2"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    parent = psutil.Process(process.pid)  # the interpreter: mvts execs it
    workers = []
    deadline = time.monotonic() + TIMEOUT
    try:
        # Interrupt once both workers run replications: they have loaded the
        # module.
        while time.monotonic() < deadline and process.poll() is None:
            workers = [p for p in parent.children(recursive=True)
                       if "spawn_main" in " ".join(p.cmdline())]
            if len(workers) == 2 and all(runs_module(w) for w in workers):
                break
            time.sleep(0.2)
        assert len(workers) == 2 and all(runs_module(w) for w in workers), \
            "the local workers did not start the study"
        process.send_signal(signal.SIGINT)
        _, err = process.communicate(timeout=TIMEOUT)
        assert process.returncode == 130 and "interrupted" in err
        gone, alive = psutil.wait_procs(workers, timeout=TIMEOUT)
        assert not alive
    finally:
        for p in [parent] + workers:
            try:
                p.kill()
            except psutil.Error:
                pass
