"""What the Python package's tests share: corvel-sim and the reference runner
of this build (given by ctest), and comparing doubles as bits."""
import os
import subprocess

import numpy as np
import pytest


def same_bits(a, b):
    a = np.ascontiguousarray(a, dtype=np.float64)
    b = np.ascontiguousarray(b, dtype=np.float64)
    return a.shape == b.shape and np.array_equal(a.view(np.uint64), b.view(np.uint64))


@pytest.fixture(scope="session")
def corvel_sim():
    path = os.environ.get("CORVEL_SIM")
    if not path:
        pytest.skip("CORVEL_SIM names no corvel-sim to compare with")
    return path


@pytest.fixture(scope="session")
def reference_run():
    path = os.environ.get("CORVEL_REFERENCE_RUN")
    if not path:
        pytest.skip("CORVEL_REFERENCE_RUN names no reference runner")

    def run(u, gain, order, dt, width, change_at=-1, new_gain=None, new_order=None):
        args = [path, repr(gain), repr(order), repr(dt), str(width), str(change_at),
                repr(gain if new_gain is None else new_gain), repr(order if new_order is None else new_order)]
        out = subprocess.run(args, input=np.ascontiguousarray(u, dtype=np.float64).tobytes(), capture_output=True,
                             check=True).stdout
        rows = np.frombuffer(out, dtype=np.float64).reshape(len(u), 2 + width)
        return rows[:, 0], rows[:, 1], rows[:, 2:]

    return run


def write_columns(path, columns):
    """A CSV file of the columns (no time column), every number as the
    shortest text that reads back to the same double."""
    names = ["c%d" % (i + 1) for i in range(columns.shape[1])]
    with open(path, "w") as f:
        f.write(",".join(names) + "\n")
        for row in columns:
            f.write(",".join(repr(float(x)) for x in row) + "\n")
    return names


def read_log(path):
    """corvel-sim's CSV log: its header and its numbers."""
    with open(path) as f:
        header = f.readline().rstrip("\n").split(",")
        rows = [[float(x) for x in line.rstrip("\n").split(",")] for line in f]
    return header, np.array(rows, dtype=np.float64)
