"""Times a study serially and on a two-worker local cluster, and the
scheduler's cost per task.

    PYTHONPATH=build/python:python OPENBLAS_NUM_THREADS=1 \\
        /usr/bin/python3 bench/study.py [--replications 200] [--n 1000] [--repeat 3]

The study: FARMASIM (d = 0.3, phi = 0.5) and FARMAFIT (conditional sum of
squares, p = 1) at n observations.  Reported for each way of running it:
wall time and CPU time (this process, plus the workers' for the cluster), so
that a machine shared with other work shows as CPU short of wall.  The
cluster's start-up is timed apart: a long study pays it once.
"""

import argparse
import os
import resource
import statistics
import time


import mvts
from mvts import _parallel, study


def cpu_seconds():
    r = resource.getrusage(resource.RUSAGE_SELF)
    return r.ru_utime + r.ru_stime


def the_study(replications, n, client=None, chunk=None):
    return study.run(study.Call("FARMASIM", d=0.3, phi=[0.5], n=n),
                     {"css": study.Call("FARMAFIT", p=1, opt=[0, 0])},
                     replications, 1, client=client, chunk=chunk, progress=False)


def timed(fn, repeat, client=None):
    """Medians over `repeat` runs of fn(): wall seconds, this process's CPU
    seconds, and with a client the CPU seconds of the busiest worker and of
    all workers; and the last result."""
    def workers():
        return client.run(cpu_seconds) if client else {}

    walls, mine, busiest, total = [], [], [], []
    for _ in range(repeat):
        before = workers()
        c, t = cpu_seconds(), time.perf_counter()
        result = fn()
        walls.append(time.perf_counter() - t)
        mine.append(cpu_seconds() - c)
        used = [v - before.get(k, 0.0) for k, v in workers().items()]
        busiest.append(max(used, default=0.0))
        total.append(sum(used))
    return (statistics.median(walls), statistics.median(mine), statistics.median(busiest),
            statistics.median(total), result)


def nothing(payload, items):
    return [None] * len(items), 0.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--replications", type=int, default=200)
    parser.add_argument("--n", type=int, default=1000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    R, n = args.replications, args.n
    print(f"load average {os.getloadavg()[0]:.1f} on {os.cpu_count()} cores; "
          f"{R} replications of FARMASIM + FARMAFIT (conditional), n = {n}")

    # One replication, and what a fresh session per replication costs.
    s = mvts.Session()
    seed = study.replication_seed(1, 0)
    one = lambda session: session.farmafit(session.farmasim(0.3, [0.5], n=n, seed=seed), p=1)
    reps = 50
    c = cpu_seconds()
    for _ in range(reps):
        one(s)
    reused = (cpu_seconds() - c) / reps
    c = cpu_seconds()
    for _ in range(reps):
        one(mvts.Session())
    fresh = (cpu_seconds() - c) / reps
    print(f"one replication: {reused * 1e3:.2f} ms CPU in one session, {fresh * 1e3:.2f} ms with a "
          f"fresh session each (+{(fresh - reused) * 1e6:.0f} us); chunk for 2 workers: "
          f"{_parallel.chunk_size(reused, R, 2)} replications")

    wall_s, cpu_s, _, _, serial = timed(lambda: the_study(R, n), args.repeat)
    print(f"serial           wall {wall_s:7.3f} s   CPU {cpu_s:7.3f} s")

    t = time.perf_counter()
    with _parallel.connect("local", workers=2) as client:  # the cluster client="local" starts
        client.wait_for_workers(2)
        startup = time.perf_counter() - t
        on_cluster(client, R, n, args.repeat, serial, wall_s, cpu_s, startup)


def on_cluster(client, R, n, repeat, serial, wall_s, cpu_s, startup):
    """The study on the cluster, its CPU use, and the cost per task."""
    the_study(4, n, client=client)  # the workers import mvts once
    # The cluster's own CPU use while idle (heartbeats, monitors; the
    # scheduler and the nannies run in this process): per wall second.
    quiet = 5.0
    _, idle_client, _, idle_workers, _ = timed(lambda: time.sleep(quiet), 1, client)
    idle_client /= quiet
    idle_workers /= quiet
    print(f"idle cluster: {idle_client:.3f} CPU s/s in this process, {idle_workers:.3f} in "
          "the workers")
    wall_c, cpu_client, cpu_busiest, cpu_workers, parallel = timed(
        lambda: the_study(R, n, client=client), repeat, client)
    same = parallel.drop(columns="time").equals(serial.drop(columns="time"))
    print(f"2-worker cluster wall {wall_c:7.3f} s   CPU: client {cpu_client:.3f} s, workers "
          f"{cpu_workers:.3f} s (busiest {cpu_busiest:.3f} s)   start-up {startup:.1f} s")
    # On two idle cores the run would take at least the busiest worker's
    # CPU time and at least half of all the CPU time it used; the idle
    # cost grows with the wall time, which a loaded machine stretches,
    # so it is taken out at its measured rate and put back for the
    # estimated wall time.
    work_client = cpu_client - idle_client * wall_c
    work_workers = cpu_workers - idle_workers * wall_c
    work_busiest = cpu_busiest - idle_workers / 2 * wall_c
    ideal = max(work_busiest, (work_client + work_workers) / 2)
    ideal += (idle_client + idle_workers) / 2 * ideal
    print(f"speed-up measured {wall_s / wall_c:.2f}x (target 1.7x); CPU per wall second: "
          f"serial {cpu_s / wall_s:.2f}, cluster {(cpu_client + cpu_workers) / wall_c:.2f} "
          f"(2.00 = both cores ours); estimated from CPU times for two idle cores: "
          f"{cpu_s / ideal:.2f}x; tables identical: {same}")

    # The scheduler's cost per task: tasks that do nothing, through the
    # same path as a study (submission window, result gathering).
    tasks = 200
    wall_e, cpu_e, _, cpu_ew, _ = timed(
        lambda: _parallel.run(nothing, None, range(tasks), client=client, chunk=1,
                              progress=False), repeat, client)
    t = time.perf_counter()
    for _ in range(20):
        client.submit(nothing, None, [], pure=False).result()
    latency = (time.perf_counter() - t) / 20
    per_rep = cpu_s / R  # CPU seconds of one replication
    chunk = _parallel.chunk_size(per_rep, R, 2)
    per_task = (cpu_e + cpu_ew) / tasks
    print(f"empty tasks: {wall_e / tasks * 1e3:.2f} ms wall, {per_task * 1e3:.2f} ms CPU each "
          f"(client {cpu_e / tasks * 1e3:.2f}, workers {cpu_ew / tasks * 1e3:.2f}); one "
          f"task's round trip {latency * 1e3:.1f} ms; against a task of {chunk} replications "
          f"({chunk * per_rep * 1e3:.0f} ms CPU of work): {100 * per_task / (chunk * per_rep):.1f}% "
          "CPU overhead")


if __name__ == "__main__":
    main()
