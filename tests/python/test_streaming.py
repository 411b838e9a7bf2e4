"""A large output is written as it is formatted: the peak memory of a call
that prints 10^7 values, in each format, stays within 64 MB of the same call
whose result is only kept (measured by the peak resident set size of the
process, not by time)."""

import os
import subprocess

import pytest

from conftest import CLI

CALL = 'VNORMAL mu="0 0 0 0 0" n=2000000 seed=1'  # 10^7 values, 80 MB
LIMIT = 64 << 20


def peak_rss(args, stdin_text):
    """The peak resident set size of `mvts args` (bytes), its output discarded."""
    with open(os.devnull, "wb") as sink:
        child = subprocess.Popen([CLI] + args, stdin=subprocess.PIPE, stdout=sink,
                                 stderr=subprocess.PIPE)
        child.stdin.write(stdin_text.encode())
        child.stdin.close()
        err = child.stderr.read()
        _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    assert child.returncode == 0, err.decode()
    return usage.ru_maxrss * 1024


@pytest.fixture(scope="module")
def kept():
    """The call with its result only kept in a variable."""
    return peak_rss(["run", "-"], f"y = {CALL}\n")


@pytest.mark.parametrize("fmt", ["table", "csv", "json"])
def test_printing_ten_million_values_holds_no_copy_of_the_text(kept, fmt):
    printed = peak_rss(["run", "-", "--format", fmt], f"{CALL}\n")
    assert printed - kept < LIMIT, f"{fmt}: {(printed - kept) / 2**20:.0f} MiB above the kept result"
