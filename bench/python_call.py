"""What a call from Python adds to the same call in C++.

Runs build/bin/bench_call (Google Benchmark over the host's C++ call API)
and the same calls through the Python package in this one run, and reports
the time per call of each, the difference and the ratio; then the time of a
user's loop of 10^4 small calls.  Wall time and CPU time per call, each the
best of 7 repeats on both sides (other processes on the machine add noise).

    PYTHONPATH=build/python:python /usr/bin/python3 bench/python_call.py
"""

import json
import math
import os
import pathlib
import subprocess
import time

import numpy as np

import mvts

ROOT = pathlib.Path(__file__).resolve().parents[1]
PHI = np.array([[0.5, 0.1], [-0.2, 0.4]])
THETA = np.array([[-0.4, 0.2], [0.0, -0.3]])


def series(T):
    # The same fixed series as bench/call.cpp.
    t = np.arange(T)
    return np.column_stack([np.sin(0.37 * t) + 0.3 * np.cos(1.91 * t),
                            np.cos(0.53 * t) - 0.2 * np.sin(2.71 * t)])


def per_call(fn, number, repeats=7):
    """Best wall and CPU seconds per call over `repeats` loops of `number`."""
    wall, cpu = math.inf, math.inf
    for _ in range(repeats):
        w0, c0 = time.perf_counter(), time.process_time()
        for _ in range(number):
            fn()
        w1, c1 = time.perf_counter(), time.process_time()
        wall, cpu = min(wall, (w1 - w0) / number), min(cpu, (c1 - c0) / number)
    return wall, cpu


def cpp_times():
    exe = ROOT / "build" / "bin" / "bench_call"
    env = dict(os.environ, OPENBLAS_NUM_THREADS="1")
    out = subprocess.run([str(exe), "--benchmark_format=json", "--benchmark_repetitions=7"],
                         capture_output=True, text=True, check=True, env=env).stdout
    result = {}
    for b in json.loads(out)["benchmarks"]:
        if b.get("run_type") != "iteration":
            continue
        scale = {"us": 1e-6, "ns": 1e-9, "ms": 1e-3}[b["time_unit"]]
        wall, cpu = result.get(b["run_name"], (math.inf, math.inf))
        result[b["run_name"]] = (min(wall, b["real_time"] * scale), min(cpu, b["cpu_time"] * scale))
    return result


def main():
    y = series(1000)
    assert np.isfinite(mvts.varmalik(y, PHI, THETA)).all()
    cpp = cpp_times()
    python = {
        "BM_Varmalik": per_call(lambda: mvts.varmalik(y, PHI, THETA), 200),
        "BM_Vtsroot": per_call(lambda: mvts.vtsroot(PHI), 10_000),
    }
    print(f"{'call':<34}{'C++ us':>10}{'Python us':>11}{'added us':>10}{'ratio':>8}")
    for name, label in (("BM_Varmalik", "VARMALIK k=2 T=1000 (wall)"),
                        ("BM_Vtsroot", "VTSROOT 2 x 2 (wall)")):
        (cw, cc), (pw, pc) = cpp[name], python[name]
        print(f"{label:<34}{cw * 1e6:10.2f}{pw * 1e6:11.2f}{(pw - cw) * 1e6:10.2f}{pw / cw:8.2f}")
        label = label.replace("wall", "cpu")
        print(f"{label:<34}{cc * 1e6:10.2f}{pc * 1e6:11.2f}{(pc - cc) * 1e6:10.2f}{pc / cc:8.2f}")

    # A user's loop: 10^4 small calls, each with a fresh small input.
    inputs = [PHI + 0.001 * i for i in range(100)]

    def loop():
        for i in range(10_000):
            mvts.vtsroot(inputs[i % 100])
    w0, c0 = time.perf_counter(), time.process_time()
    loop()
    w1, c1 = time.perf_counter(), time.process_time()
    print(f"loop of 10^4 VTSROOT calls: {w1 - w0:.4f} s wall, {c1 - c0:.4f} s cpu "
          f"({(w1 - w0) * 1e2:.2f} us per call)")


if __name__ == "__main__":
    main()
