"""Ctrl-C and cancellation: a long call ends within a fraction of a second
of the request, from the command line (exit status 130), from Python's main
thread (KeyboardInterrupt) and from another thread (Session.cancel), and the
session stays usable.  The calls run for tens of seconds uncancelled; the
bound on how soon they end after the request is a generous 10 s."""

import os
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import mvts
from conftest import CLI, ROOT

PHI52 = np.array([[0.5, 0.1], [0.0, 0.3]])


@pytest.fixture(scope="module")
def lag52_csv(tmp_path_factory):
    """2000 rows of a bivariate autoregression with one block at lag 52: a
    VARMAFIT of a moving average at lag 200 (q=200) on it takes tens of
    seconds."""
    y = mvts.Session().varmasim(phi=PHI52, p=52, n=2000, seed=1)
    path = tmp_path_factory.mktemp("cancel") / "lag52.csv"
    np.savetxt(path, y, delimiter=",", fmt="%.17g")
    return path


def interrupt_after(proc, delay):
    """SIGINT to proc after delay seconds; the seconds from the signal to
    its end."""
    time.sleep(delay)
    proc.send_signal(signal.SIGINT)
    asked = time.monotonic()
    proc.wait(timeout=60)
    return time.monotonic() - asked


def test_ctrl_c_ends_a_command_line_call_with_status_130(lag52_csv):
    proc = subprocess.Popen([CLI, "varmafit", f"series=@{lag52_csv}", "q=200"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    seconds = interrupt_after(proc, 0.5)
    err = proc.stderr.read()
    assert proc.returncode == 130, err
    assert seconds < 10
    assert "The call was cancelled" in err and "mvts: interrupted" in err


def test_ctrl_c_stops_a_script_after_the_interrupted_line(lag52_csv, tmp_path):
    script = tmp_path / "long.mvts"
    script.write_text(f"ma, s = VARMAFIT @{lag52_csv} q=200\nFARMACOV d=0.3\n")
    proc = subprocess.Popen([CLI, "run", str(script), "--keep-going"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    interrupt_after(proc, 0.5)
    out = proc.stdout.read()
    assert proc.returncode == 130
    assert "cov" not in out  # the line after the interrupted one did not run


def test_ctrl_c_in_python_raises_keyboard_interrupt_and_the_session_goes_on(lag52_csv):
    program = textwrap.dedent(f"""
        import os, signal, sys, threading, time
        import numpy as np, mvts
        y = np.loadtxt({str(lag52_csv)!r}, delimiter=",")
        threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT)).start()
        try:
            mvts.varmafit(y, q=200)
            print("finished")
        except KeyboardInterrupt:
            print("interrupted")
        print(mvts.farmacov(d=0.3, lag=1)[0] > 0)
    """)
    # the package this process imported (the build tree's, or the
    # sanitizer build's), not a fixed one
    built = os.path.dirname(os.path.dirname(mvts._core.__file__))
    env = dict(os.environ, PYTHONPATH=f"{built}:{ROOT / 'python'}")
    start = time.monotonic()
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                          env=env, timeout=60)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["interrupted", "True"]
    assert time.monotonic() - start < 15


def test_a_handler_of_the_program_s_own_is_left_in_place(session):
    caught = []
    previous = signal.signal(signal.SIGINT, lambda *a: caught.append(a))
    try:
        threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT)).start()
        # a call of about two seconds (300 AR roots near the unit circle, one
        # hypergeometric table each): it runs to its end, and the program's
        # handler runs once it returns
        gamma = session.farmacov(d=0.3, phi=[0.01, 0.9], p=[1, 300], lag=5)
        time.sleep(0.3)
    finally:
        signal.signal(signal.SIGINT, previous)
    assert len(caught) == 1
    assert gamma.shape == (6,) and gamma[0] > 0


def test_session_cancel_ends_a_call_in_another_thread(lag52_csv):
    s = mvts.Session()
    y = np.loadtxt(lag52_csv, delimiter=",")
    failure = {}

    def fit():
        try:
            s.varmafit(y, q=200)
        except mvts.MvtsError as e:
            failure["error"] = e

    worker = threading.Thread(target=fit)
    worker.start()
    time.sleep(0.5)
    asked = time.monotonic()
    s.cancel()
    worker.join(timeout=60)
    assert time.monotonic() - asked < 10
    e = failure["error"]
    assert e.status == 100 and [m.number for m in e.messages] == [398]
    np.testing.assert_array_equal(s.farmacov(d=0.3, lag=2), mvts.Session().farmacov(d=0.3, lag=2))
