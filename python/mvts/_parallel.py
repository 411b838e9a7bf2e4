"""Where the work of mvts.study and mvts.batch runs: in this process, on a
local cluster of worker processes, or on an existing Dask cluster.

The work is a list of items and a function ``work(payload, items) ->
(results, seconds)`` that handles a chunk of items, one result per item,
and says how much CPU time the items took (CPU rather than wall time: on a
machine shared with other work, wall time would make the chunks small and
the scheduler's share large).  The function and its payload travel to
the workers by pickle; the workers import mvts themselves (they need the
same PYTHONPATH), once per process.

Chunks: the first item of each worker runs as a task of its own; from then
on the mean time per item of the tasks back so far sizes each new chunk, so
that a task runs for about ``TARGET_SECONDS``, but no chunk takes more than
a third of a worker's share of what is left: chunks shrink towards the end
(guided self-scheduling, down to half the target), so that no worker waits
long for another's last chunk.  About three tasks per worker are in flight at a
time; more are submitted as results come back.  Results come back in item order,
whatever the order in which the tasks finished, the chunking, or the
retries after a worker died.
"""

import contextlib
import logging
import math
import os
import sys
import threading
import time

TARGET_SECONDS = 0.1  # least compute time of one task, against the scheduler's cost per task

# Dask starts worker processes with MALLOC_TRIM_THRESHOLD_=65536, which hands
# freed memory back to the system at once; a call that allocates a work block
# of megabytes (FARMASIM's packed n x n Toeplitz factor: 4 MB at n = 1000)
# then faults it in afresh on every call: 30% more CPU time for FARMASIM and
# FARMAFIT at n = 1000.  The workers of a cluster started here keep freed
# blocks below 32 MiB for reuse, as glibc's own adaptive thresholds do.
WORKER_MALLOC = {"MALLOC_MMAP_THRESHOLD_": "33554432", "MALLOC_TRIM_THRESHOLD_": "67108864"}

# Dask's own background work in a cluster started here: a worker samples its
# task thread's stack every 10 ms for the dashboard's profile, and every
# process wakes every 20 ms to time its event loop and every 100 ms to read
# its memory use.  Idle, that costs 0.10 CPU-second per second in two workers
# and 0.065 in this process (where the scheduler and the nannies run);
# without the profiler and with the wake-ups below, 0.014 and 0.02.  The
# calls run one per worker, so nothing here needs the finer sampling.
QUIET_CLUSTER = {
    "distributed.worker.profile.enabled": False,
    "distributed.admin.tick.interval": "500ms",
    "distributed.worker.memory.monitor-interval": "1s",
    "distributed.admin.system-monitor.interval": "2s",
}


def _not_unaware(record):
    """False for the worker's log line of a heartbeat that reached the
    scheduler after it had retired the worker."""
    return not record.getMessage().startswith("Scheduler was unaware of this worker")


class QuietRetirement:
    """A worker plugin for the clusters started here.  Closing a local
    cluster retires its workers at the scheduler before their processes
    stop; a worker whose heartbeat falls between the two is answered that
    the scheduler does not know it, and logs that as an error (then stops,
    as it was about to).  The line is dropped: on a cluster that is being
    closed it reports nothing wrong."""

    name = "mvts-quiet-retirement"

    def setup(self, worker):
        logging.getLogger("distributed.worker").addFilter(_not_unaware)


class TaskCancelled(Exception):
    """Raised in a task on a worker, at its next call, once the task has
    been cancelled (its result is not wanted any more)."""


class _Scope:
    """The calls of one task running on a worker.  Cancelling it asks the
    call in progress to stop (mvts.Session.cancel: the call ends within a
    fraction of a second with message 398) and makes the task's next call
    raise TaskCancelled instead of starting."""

    def __init__(self):
        self._lock = threading.Lock()
        self._session = None
        self.cancelled = False
        self.closed = False

    def session(self):
        import mvts
        s = mvts.Session()
        with self._lock:
            if self.cancelled:
                raise TaskCancelled()
            self._session = s
        return s

    def cancel(self):
        with self._lock:
            self.cancelled = True
            if self._session is not None:
                self._session.cancel()


_scopes = {}  # task key -> the _Scope of that task, running on this worker
_scopes_lock = threading.Lock()
_current = threading.local()  # .scope: the _Scope of the task of this thread
CANCEL_REPEAT = 0.05  # seconds between the requests to a cancelled task's calls


def session():
    """A fresh mvts.Session for one call of a study's or a batch's work: in a
    task on a Dask worker, one that the task's cancellation reaches."""
    scope = getattr(_current, "scope", None)
    if scope is None:
        import mvts
        return mvts.Session()
    return scope.session()


def _repeat_cancel(scope):
    # A request that reaches no call is forgotten when the next call starts
    # (a call may be about to start when the task is cancelled): it is made
    # again until the task has ended.
    while not scope.closed:
        scope.cancel()
        time.sleep(CANCEL_REPEAT)


class CancelRunning:
    """A worker plugin: when a task of mvts's that is executing on the
    worker is cancelled (the client released its future: an error, Ctrl-C,
    Client.cancel), the call it runs is cancelled rather than left to run
    to its end, and the task stops at its next call.  Dask itself cannot
    stop a running task; the worker would stay busy until the call ended."""

    name = "mvts-cancel-running"

    def transition(self, key, start, finish, *args, **kwargs):
        if start not in ("executing", "long-running") or finish not in (
                "cancelled", "released", "forgotten"):
            return
        with _scopes_lock:
            scope = _scopes.get(key)
        if scope is not None:
            threading.Thread(target=_repeat_cancel, args=(scope,), daemon=True,
                             name="mvts-cancel").start()


def local_workers():
    """The number of cores this process may run on: one worker per core."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:  # pragma: no cover - not Linux
        return os.cpu_count() or 1


def _show_progress(progress):
    if progress is None:
        return sys.stderr.isatty()
    return bool(progress)


class _Bar:
    """tqdm on standard error when shown, nothing otherwise."""

    def __init__(self, total, show, label):
        self._bar = None
        if show:
            from tqdm import tqdm
            self._bar = tqdm(total=total, desc=label, unit="item", file=sys.stderr,
                             dynamic_ncols=True, leave=False)

    def update(self, n):
        if self._bar is not None:
            self._bar.update(n)

    def close(self):
        if self._bar is not None:
            self._bar.close()


@contextlib.contextmanager
def connect(client, workers=None):
    """The Dask client for ``client``: None for serial work; ``"local"`` a
    LocalCluster of ``workers`` single-threaded worker processes (default one
    per core), closed on the way out whatever happened (Ctrl-C included); an
    address a client of that cluster, closed on the way out; a
    ``distributed.Client`` itself, left open."""
    if client is None:
        if workers is not None:
            raise ValueError("workers applies to client='local' only")
        yield None
        return
    if isinstance(client, str):
        import distributed
        if client == "local":
            n = local_workers() if workers is None else workers
            if isinstance(n, bool) or not isinstance(n, int) or n < 1:
                raise ValueError(f"workers must be a positive whole number, not {workers!r}")
            cluster = own = None
            import dask
            environ = dict(dask.config.get("distributed.nanny.pre-spawn-environ", {}))
            environ.update(WORKER_MALLOC)
            # The nanny takes these from this process's environment where it
            # has them, and copies them into it before each worker starts.
            os.environ.update(WORKER_MALLOC)
            try:
                with dask.config.set({"distributed.nanny.pre-spawn-environ": environ,
                                      **QUIET_CLUSTER}):
                    cluster = distributed.LocalCluster(
                        n_workers=n, threads_per_worker=1, processes=True, host="127.0.0.1",
                        dashboard_address=":0", silence_logs=logging.ERROR)
                own = distributed.Client(cluster, set_as_default=False)
                own.register_worker_plugin(QuietRetirement(), name=QuietRetirement.name)
                yield own
            finally:
                # Each step separately, so that a failure of one (or a second
                # Ctrl-C) still stops the worker processes.
                if own is not None:
                    with contextlib.suppress(Exception):
                        own.close()
                if cluster is not None:
                    cluster.close()
            return
        if workers is not None:
            raise ValueError("workers applies to client='local' only, not to an address")
        try:
            # Waits as long as distributed.comm.timeouts.connect (30 s).
            own = distributed.Client(client, set_as_default=False)
        except OSError as e:
            raise ConnectionError(f"cannot reach the Dask scheduler at {client}: {e}") from e
        try:
            yield own
        finally:
            with contextlib.suppress(Exception):
                own.close()
        return
    try:
        import distributed
    except ImportError:  # pragma: no cover - then no Client exists either
        distributed = None
    if distributed is None or not isinstance(client, distributed.Client):
        raise TypeError("client must be None, 'local', a scheduler address or a "
                        f"distributed.Client, not {type(client).__name__}")
    if workers is not None:
        raise ValueError("workers applies to client='local' only, not to a Client")
    yield client


def chunk_size(seconds_per_item, remaining, workers):
    """Items per task: enough for TARGET_SECONDS of work, but no more than a
    third of each worker's share of the remaining items, and no less than
    half of TARGET_SECONDS of work (the last tasks of a study).  Measured on
    two idle cores, 200 replications of 2.3 ms: 1.4x with quarters for
    both bounds, 1.5 to 1.6x with these."""
    want = math.ceil(TARGET_SECONDS / seconds_per_item) if seconds_per_item > 0 else remaining
    share = math.ceil(remaining / (3 * max(workers, 1)))
    return max(1, min(want, max(share, math.ceil(want / 2))))


class _Workers:
    """The cluster's worker count, asked of the scheduler (a round trip) at
    most once a second: a cluster may grow or shrink during a study."""

    def __init__(self, client):
        self._client = client
        self._asked = -math.inf
        self._count = 1

    def __call__(self):
        now = time.monotonic()
        if now - self._asked >= 1.0:
            self._asked = now
            self._count = max(1, len(self._client.scheduler_info().get("workers", ())))
        return self._count


def _result(future):
    try:
        return future.result()
    except ImportError as e:
        raise ImportError(
            f"a Dask worker cannot import what mvts needs ({e}): start the workers with "
            "/usr/bin/python3 and PYTHONPATH naming build/python and python, as here") from e


def run(work, payload, items, client=None, workers=None, chunk=None, progress=None,
        label=None):
    """Runs ``work(payload, chunk)`` over ``items`` where ``client`` says and
    returns the list of results in item order.  ``chunk`` fixes the items
    per task (default: measured, see the module's description).  A range
    of items stays a range: the results grow as chunks come back, and
    nothing is held per item before its chunk runs."""
    if not isinstance(items, range):
        items = list(items)
    if chunk is not None and (isinstance(chunk, bool) or not isinstance(chunk, int) or chunk < 1):
        raise ValueError(f"chunk must be a positive whole number, not {chunk!r}")
    bar = _Bar(len(items), _show_progress(progress), label)
    try:
        with connect(client, workers) as dask:
            if dask is None:
                out = []
                step = chunk or 1
                for start in range(0, len(items), step):
                    results, _ = work(payload, items[start:start + step])
                    out.extend(results)
                    bar.update(len(results))
                return out
            return _distributed(dask, work, payload, items, chunk, bar)
    finally:
        bar.close()


class _Sealed:
    """A task argument Dask passes as it is: Dask reads a tuple whose first
    element is callable as a task of its own (a study's (simulate, fits,
    seed) with a Python simulation would be called), and walks lists."""

    __slots__ = ("value",)

    def __init__(self, value):
        self.value = value

    def __getstate__(self):
        return (self.value,)  # a tuple: pickle skips __setstate__ for a false state

    def __setstate__(self, state):
        (self.value,) = state


def _task(work, payload, items):
    key = None
    try:
        from distributed.worker import thread_state
        key = getattr(thread_state, "key", None)
    except ImportError:  # pragma: no cover - a task runs on a Dask worker
        pass
    scope = _Scope()
    if key is not None:
        with _scopes_lock:
            _scopes[key] = scope
    _current.scope = scope
    try:
        return work(payload.value, items.value)
    finally:
        _current.scope = None
        scope.closed = True
        if key is not None:
            with _scopes_lock:
                _scopes.pop(key, None)


def _distributed(dask, work, payload, items, chunk, bar):
    import distributed

    done = {}  # first item's position -> results of its chunk
    futures = {}  # future in flight -> (first item, item after the last) of its chunk
    pending = distributed.as_completed(loop=dask.loop)

    # The payload (the calls' arguments) is small: it travels with each task,
    # so no data lives only on a worker that may die.
    def submit(start, stop):
        f = dask.submit(_task, work, _Sealed(payload), _Sealed(items[start:stop]), pure=False)
        futures[f] = (start, stop)
        pending.add(f)

    try:
        # The workers cancel the call of a task whose future is released.
        dask.register_worker_plugin(CancelRunning(), name=CancelRunning.name)
        count = _Workers(dask)
        workers = count()
        position = 0  # the first item not yet submitted
        spent = [0.0, 0]  # seconds and items of the tasks back so far

        def fill():
            # A few tasks per worker in flight, not the whole study: the
            # scheduler's memory stays small, and Ctrl-C finds little queued.
            nonlocal position
            while position < len(items) and len(futures) < 3 * workers:
                size = chunk or chunk_size(spent[0] / spent[1], len(items) - position, workers)
                stop = min(position + size, len(items))
                submit(position, stop)
                position = stop

        if chunk is None:
            # One single-item task per worker; the first back sets the size.
            position = min(workers, len(items))
            for start in range(position):
                submit(start, start + 1)
        else:
            fill()
        for f in pending:
            start, stop = futures.pop(f)
            results, seconds = _result(f)
            done[start] = results
            bar.update(len(results))
            spent[0] += seconds
            spent[1] += stop - start
            workers = count()
            fill()
        out = []
        for start in sorted(done):
            out.extend(done[start])
        return out
    finally:
        # Stopped early (an error, Ctrl-C): nothing of this run stays queued
        # on a cluster that outlives it.
        if futures:
            with contextlib.suppress(Exception):
                dask.cancel(list(futures))
