"""Simulations for the tests that must be importable by worker processes
(the workers get this directory on sys.path from the test process)."""

import os
import signal




class FailOnOddSeeds:
    """FARMASIM that explodes (phi = 2, message 316) when the seed is odd."""

    def __call__(self, session, seed):
        phi = 2.0 if int(seed) % 2 else 0.5
        return session.farmasim(0.2, [phi], n=600, seed=seed)


class DieOnce:
    """FARMASIM that kills the worker process running it the first time it
    meets ``seed``: SIGKILL, as an out-of-memory kill would.  The marker file
    records that it happened; the test process itself is never killed."""

    def __init__(self, seed, marker, spare_pid):
        self.seed, self.marker, self.spare_pid = seed, marker, spare_pid

    def __call__(self, session, seed):
        if (seed == self.seed and os.getpid() != self.spare_pid
                and not os.path.exists(self.marker)):
            with open(self.marker, "w") as f:
                f.write(str(os.getpid()))
            os.kill(os.getpid(), signal.SIGKILL)
        return session.farmasim(0.3, [0.5], n=300, seed=seed)


def series_sum(session, series):
    """A fit written in Python: the sum, and the FDIF of the series."""
    return {"total": float(sum(series)), "first": session.fdif(series, 0.4)[:2]}


def resident_session():
    """The id of the session a worker keeps between tasks, or None."""
    import mvts.study
    return None if mvts.study._resident is None else id(mvts.study._resident)


def long_fits(series, items):
    """A study's work whose each item is a VARMAFIT of tens of seconds (a
    moving average at lag 200), each call in a session of the task's:
    (results, seconds) as the work of mvts._parallel.run."""
    from mvts import _parallel
    out = []
    for _ in items:
        s = _parallel.session()
        out.append(s.varmafit(series, q=200)[1][0, 0])
    return out, 0.0


def executing_where(dask_worker, key):
    """Whether the task ``key`` is executing on this worker (client.run)."""
    ts = dask_worker.state.tasks.get(key)
    return ts is not None and ts.state == "executing"
