"""The package at its edges: copies and pickles of a stream, a lower order
mid-stream, a fork while another thread is inside the block, a daemon thread
inside it at exit, and Ctrl-C in the middle of a long call."""
import copy
import os
import pickle
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np

import corvel
from conftest import same_bits


def record(n, seed=3):
    t = np.arange(n) * 1e-3
    return np.sin(2 * np.pi * 1.3 * t) + 0.01 * np.random.default_rng(seed).standard_normal(n)


def test_a_copy_or_a_pickle_is_a_stream_of_its_own_with_the_same_bits():
    u = record(3000)
    whole = corvel.estimate(u, 1e-3, gain=40, order=3)
    for make in (copy.copy, copy.deepcopy, lambda d: pickle.loads(pickle.dumps(d))):
        d = corvel.Differentiator(gain=40, order=3, dt=1e-3)
        first = d.update(u[:1000])
        twin = make(d)
        assert twin.samples_done == d.samples_done == 1000
        # The twin goes on alone: the original does not move, and then gives the same bits.
        rest_twin = twin.update(u[1000:])
        assert d.samples_done == 1000 and twin.samples_done == 3000
        rest = d.update(u[1000:])
        for est in (rest_twin, rest):
            assert same_bits(np.concatenate([first.derivatives, est.derivatives]), whole.derivatives)
            assert same_bits(np.concatenate([first.error, est.error]), whole.error)
            assert same_bits(np.concatenate([first.t, est.t]), whole.t)
        # A gain set on a twin is the twin's alone.
        other = make(d)
        other.gain = 5.0
        assert d.gain == 40
        later = make(d)
        assert same_bits(d.update(u[:10]).derivatives, later.update(u[:10]).derivatives)


def old_pickle(d):
    """A stream's state as the first release pickled it: one gain, no gaps' handling."""
    saved = d.__getstate__()
    saved["gain"] = saved.pop("gains")[0]
    del saved["missing"], saved["held"]
    twin = corvel.Differentiator.__new__(corvel.Differentiator)
    twin.__setstate__(saved)
    return twin


def test_a_stream_pickled_by_the_first_release_goes_on_with_its_bits():
    u = record(3000)
    whole = corvel.estimate(u, 1e-3, gain=40, order=3)
    d = corvel.Differentiator(gain=40, order=3, dt=1e-3)
    first = d.update(u[:1000])
    twin = old_pickle(d)
    assert twin.gain == 40 and twin.missing == "keep"
    assert same_bits(np.concatenate([first.derivatives, twin.update(u[1000:]).derivatives]), whole.derivatives)


def test_a_pickle_keeps_changed_parameters_and_a_fresh_stream_starts_fresh():
    u = record(2000, seed=5)
    d = corvel.Differentiator(gain=30, order=4, dt=1e-3, channels=2)
    two = np.column_stack([u, -u])
    d.update(two[:700])
    d.gain = 55.0
    d.order = 2
    back = pickle.loads(pickle.dumps(d))
    assert (back.gain, back.order, back.width, back.channels, back.dt) == (55.0, 2, 4, 2, 1e-3)
    assert same_bits(back.update(two[700:]).derivatives, d.update(two[700:]).derivatives)
    fresh = pickle.loads(pickle.dumps(corvel.Differentiator(gain=30, order=4, dt=1e-3)))
    assert fresh.samples_done == 0
    assert same_bits(fresh.update(u).derivatives, corvel.estimate(u, 1e-3, gain=30, order=4).derivatives)


def test_a_lower_order_leaves_the_columns_past_it_nan():
    u = record(400)
    d = corvel.Differentiator(gain=30, order=4, dt=1e-3)
    before = d.update(u[:200])
    assert not np.isnan(before.derivatives).any()
    d.order = 2
    after = d.update(u[200:])
    assert after.derivatives.shape == (200, 4)
    assert np.isnan(after.derivatives[:, 2:]).all()
    assert not np.isnan(after.derivatives[:, :2]).any()
    d.order = 4
    assert not np.isnan(d.update(u[:50]).derivatives).any()


def test_a_fork_while_another_thread_is_inside_the_block_gives_a_usable_child():
    big = record(2_000_000)
    inside = threading.Event()
    done = threading.Event()

    def busy():
        while not done.is_set():
            inside.set()
            corvel.estimate(big, 1e-3, gain=30, order=3)

    worker = threading.Thread(target=busy, daemon=True)
    worker.start()
    inside.wait()
    time.sleep(0.05)
    pid = os.fork()
    if pid == 0:
        try:
            est = corvel.estimate(record(500), 1e-3, gain=30, order=2)
            os._exit(0 if est.derivatives.shape == (500, 2) else 3)
        except BaseException:
            os._exit(4)
    status = None
    for _ in range(1200):  # up to a minute
        finished, status = os.waitpid(pid, os.WNOHANG)
        if finished:
            break
        time.sleep(0.05)
    else:
        os.kill(pid, 9)
        os.waitpid(pid, 0)
    done.set()
    worker.join()
    assert status == 0, "the child of a fork hung or failed: %r" % (status,)


def run_python(script, timeout=300):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                          timeout=timeout, env=dict(os.environ))


def test_a_daemon_thread_inside_the_block_at_exit_ends_cleanly():
    script = """
        import threading, time, numpy as np, corvel
        u = np.sin(np.arange(1_000_000) * 1e-3)
        def busy():
            while True:
                corvel.estimate(u, 1e-3, gain=30, order=3)
        for _ in range(2):
            threading.Thread(target=busy, daemon=True).start()
        time.sleep(0.3)
    """
    for _ in range(6):
        done = run_python(script)
        assert done.returncode == 0, done.stderr


def test_once_the_block_is_closed_no_thread_enters_it_again():
    # What the interpreter's end does (the package's atexit), then a call
    # from another thread: it waits for good rather than run in a block
    # that the ending process is taking apart.
    # (A call that entered would spend its second of work there: the
    # process's CPU time tells.)
    script = """
        import threading, time, numpy as np, corvel
        u = np.sin(np.arange(5_000_000) * 1e-3)
        corvel._corvel.close()
        entered = []
        before = time.process_time()
        worker = threading.Thread(target=lambda: entered.append(corvel.estimate(u, 1e-3)), daemon=True)
        worker.start()
        worker.join(1.5)
        busy = time.process_time() - before
        print("held" if worker.is_alive() and not entered and busy < 0.3 else "entered (%.2f s of work)" % busy)
    """
    done = run_python(script)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "held", done.stdout + done.stderr


def test_ctrl_c_ends_a_long_call_soon_and_a_stream_where_it_was():
    # Each call once whole, then interrupted a fifth of the way in: the
    # interrupt must come long before the whole call's time.
    script = """
        import os, signal, threading, time, numpy as np, corvel
        u = np.sin(np.arange(3_000_000) * 1e-3) + 0.001 * np.cos(np.arange(3_000_000) * 0.37)
        calls = {
            "estimate": lambda: corvel.estimate(u, 1e-3, gain=30, order=3),
            "tune": lambda: corvel.tune(u[:1_000_000], 1e-3, orders=range(1, 3)),
            "update": lambda: stream.update(u),
        }
        stream = corvel.Differentiator(gain=30, order=3, dt=1e-3)
        for name, call in calls.items():
            start = time.perf_counter()
            call()
            whole = time.perf_counter() - start
            if name == "update":
                stream = corvel.Differentiator(gain=30, order=3, dt=1e-3)
                stream.update(u[:1000])
            timer = threading.Timer(whole / 5, os.kill, (os.getpid(), signal.SIGINT))
            start = time.perf_counter()
            timer.start()
            try:
                call()
                print(name, "not interrupted")
            except KeyboardInterrupt:
                late = time.perf_counter() - start - whole / 5
                print(name, "%.3f" % (late / whole))
            timer.join()
            if name == "update":
                assert stream.samples_done == 1000, stream.samples_done
                rest = stream.update(u[1000:4000]).derivatives
                whole_run = corvel.estimate(u[:4000], 1e-3, gain=30, order=3).derivatives[1000:]
                assert np.array_equal(rest.view(np.uint64), whole_run.view(np.uint64))
                print("resumed", "bit for bit")
    """
    done = run_python(script)
    assert done.returncode == 0, done.stderr
    lines = dict(line.split(" ", 1) for line in done.stdout.split("\n") if line)
    for name in ("estimate", "tune", "update"):
        assert lines[name] != "not interrupted", done.stdout
        # Raised within half the call's own time after Ctrl-C (measured in one run).
        assert float(lines[name]) < 0.5, done.stdout
    assert lines.get("resumed") == "bit for bit", done.stdout


def test_where_the_programs_handler_takes_ctrl_c_the_call_runs_whole():
    # A program that handles SIGINT itself (and raises nothing) gets each
    # call's whole result, and a stream that took each sample once.
    script = """
        import os, signal, threading, time, numpy as np, corvel
        u = np.sin(np.arange(2_000_000) * 1e-3) + 0.001 * np.cos(np.arange(2_000_000) * 0.37)
        seen = []
        signal.signal(signal.SIGINT, lambda number, frame: seen.append(number))
        def interrupted(call):
            start = time.perf_counter()
            whole = call()
            timer = threading.Timer((time.perf_counter() - start) / 5, os.kill, (os.getpid(), signal.SIGINT))
            timer.start()
            again = call()
            timer.join()
            return whole, again
        a, b = interrupted(lambda: corvel.estimate(u, 1e-3, gain=30, order=3).derivatives)
        print("estimate", np.array_equal(a.view(np.uint64), b.view(np.uint64)))
        a, b = interrupted(lambda: corvel.tune(u[:500_000], 1e-3, orders=range(1, 3)))
        a, b = (a.order, a.gain, a.runs), (b.order, b.gain, b.runs)
        print("tune", a == b)
        streams = []
        def update():
            streams.append(corvel.Differentiator(gain=30, order=3, dt=1e-3))
            return streams[-1].update(u).derivatives
        a, b = interrupted(update)
        print("update", np.array_equal(a.view(np.uint64), b.view(np.uint64)) and streams[-1].samples_done == len(u))
        print("signals", len(seen))
    """
    done = run_python(script, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout.split("\n")[:4] == ["estimate True", "tune True", "update True", "signals 3"], done.stdout
