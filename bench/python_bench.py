"""The Python package's speed and memory, each as a ratio measured in this one
run: a whole-record call against the block alone (corvel_block_only: the same
samples through the engine and the MEX file in C++), the memory a call takes
beyond the arrays it returns, a stream fed one sample per call against the
block's own step, six channels in one call against six calls, two threads
with objects of their own against the same calls in turn, and the speeds a
Python user compares with: numpy.gradient and scipy's Savitzky-Golay
derivative on the same record.
    PYTHONPATH=build/default/python /usr/bin/python3 bench/python_bench.py [SAMPLES]
(after cmake --build --preset default; scipy from Debian's python3-scipy)"""
import os
import re
import resource
import subprocess
import sys
import time

import numpy as np

import warnings

import corvel

warnings.simplefilter("ignore", corvel.CorvelWarning)  # the speed, not the gain, is measured

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SAMPLES = int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000
DT, ORDER, GAIN = 0.001, 3, 30.0
REPEATS = 5
OUTPUTS = None  # what the memory run asks for


def best_of(f, repeats=REPEATS):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        f()
        times.append(time.perf_counter() - start)
    return min(times)


def block_alone(order=ORDER):
    """corvel_block_only's own seconds over the same samples (the best of the repeats)."""
    program = os.path.join(ROOT, "build", "default", "bench", "corvel_block_only")
    mex = os.path.join(ROOT, "build", "default", "corvel.mexa64")
    seconds = []
    for _ in range(REPEATS):
        out = subprocess.run([program, mex, str(SAMPLES), str(order), str(GAIN)], check=True, capture_output=True,
                             text=True).stdout
        seconds.append(float(re.search(r"in ([0-9.]+) s", out).group(1)))
    return min(seconds)


def peak_rss():
    """This process's peak resident size (VmHWM: its own, where ru_maxrss keeps
    the peak of the process it was forked from)."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def memory_of_a_call():
    """In a process of its own, u made in place (no temporaries to raise the
    peak first): how far one call raises the process's peak, and the bytes of
    the arrays it returns."""
    u = np.arange(SAMPLES, dtype=np.float64)
    np.multiply(u, 6.0 * DT, out=u)
    np.sin(u, out=u)
    before = peak_rss()
    est = corvel.estimate(u, DT, GAIN, ORDER, outputs=OUTPUTS)
    grown = peak_rss() - before
    returned = sum(a.nbytes for a in est if a is not None)
    print(grown, returned)


def main():
    k = np.arange(SAMPLES)
    t = k * DT
    u = np.sin(6.0 * t) + 0.01 * np.sin(1.7 * k)  # corvel_block_only's signal

    rows = []
    for order in (2, 5):
        alone_n = block_alone(order)
        for outputs in (None, ["derivatives"]):
            seconds = best_of(lambda: corvel.estimate(u, DT, GAIN, order, outputs=outputs))
            rows.append(("whole record, order %d%s" % (order, ", derivatives only" if outputs else ""), seconds,
                         seconds / alone_n, "x the block alone"))
    alone = block_alone()
    memory = {}
    for kind in ("all", "derivatives"):
        memory[kind] = [int(x) for x in subprocess.run([sys.executable, __file__, str(SAMPLES), "memory", kind],
                                                        check=True, capture_output=True, text=True).stdout.split()]
    whole = best_of(lambda: corvel.estimate(u, DT, GAIN, ORDER))
    rows.append(("whole record, %d samples, order %d" % (SAMPLES, ORDER), whole, whole / alone, "x the block alone"))
    rows.append(("the block alone (corvel_block_only)", alone, 1.0, ""))

    # Two threads, each its own record: side by side against the same two calls in turn.
    import threading
    halves = [u[: SAMPLES // 2].copy(), u[SAMPLES // 2:].copy()]

    def in_turn():
        for h in halves:
            corvel.estimate(h, DT, GAIN, ORDER)

    def side_by_side():
        threads = [threading.Thread(target=corvel.estimate, args=(h, DT, GAIN, ORDER)) for h in halves]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
    # Taken in alternation, the median of each: a busy moment weighs on both.
    turns, sides = [], []
    for _ in range(7):
        turns.append(best_of(in_turn, 1))
        sides.append(best_of(side_by_side, 1))
    one, both = sorted(turns)[3], sorted(sides)[3]
    rows.append(("two threads side by side (median)", both, one / both, "x the throughput of one thread"))

    per_step = alone / SAMPLES
    n = 100_000
    d = corvel.Differentiator(DT, GAIN, ORDER)
    d.update(u[:1])
    start = time.perf_counter()
    for x in u[1:n + 1]:
        d.update(x)
    per_call = (time.perf_counter() - start) / n
    rows.append(("stream, one sample per call", per_call * n, per_call / per_step, "x the block's step"))

    six = np.column_stack([u * (c + 1) for c in range(6)])
    together = best_of(lambda: corvel.estimate(six, DT, GAIN, ORDER), 3)
    apart = best_of(lambda: [corvel.estimate(six[:, c], DT, GAIN, ORDER) for c in range(6)], 3)
    rows.append(("six channels in one call", together, together / apart, "x six one-channel calls"))
    rows.append(("six one-channel calls", apart, 1.0, ""))

    gradient = best_of(lambda: np.gradient(u, DT))
    rows.append(("numpy.gradient (central difference)", gradient, gradient / whole, "x the whole-record call"))
    try:
        from scipy.signal import savgol_filter
        savgol = best_of(lambda: savgol_filter(u, 51, 3, deriv=1, delta=DT))
        rows.append(("scipy savgol_filter(51, 3, deriv=1)", savgol, savgol / whole, "x the whole-record call"))
    except ImportError:
        rows.append(("scipy savgol_filter", float("nan"), float("nan"), "scipy is not installed"))

    print("%-42s %12s  %s" % ("", "seconds", "ratio"))
    for name, seconds, ratio, unit in rows:
        print("%-42s %12.4f  %.3f %s" % (name, seconds, ratio, unit))
    print("stream: %.2f us per call, the block's step %.3f us: %.2f us above it" % (
        per_call * 1e6, per_step * 1e6, (per_call - per_step) * 1e6))
    for kind, (grown, returned) in memory.items():
        print("memory (%s): the call's peak grew %.1f MB; the arrays it returns are %.1f MB (%.1f MB beyond them)" % (
            "every output" if kind == "all" else "outputs=['derivatives']", grown / 1e6, returned / 1e6,
            (grown - returned) / 1e6))


if __name__ == "__main__":
    if sys.argv[2:3] == ["memory"]:
        OUTPUTS = None if sys.argv[3] == "all" else ["derivatives"]
        memory_of_a_call()
    else:
        main()
