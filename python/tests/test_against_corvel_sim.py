"""The package's numbers are corvel-sim's, to the bit: the same samples through
both, one channel and six, with and without noise, on a record longer than any
of corvel-sim's internal blocks of rows."""
import subprocess

import numpy as np
import pytest

import corvel
from conftest import read_log, same_bits, write_columns

ROWS = 9000  # past two of the reader's and the writer's blocks of 4 096 rows
DT = 0.001


def record(channels):
    t = np.arange(ROWS) * DT
    columns = [np.sin((3 + c) * t) * (1 + c) + 0.01 * np.cos(1.7 * np.arange(ROWS)) for c in range(channels)]
    return np.column_stack(columns)


@pytest.mark.parametrize("order", [1, 4, 10])
@pytest.mark.parametrize("channels", [1, 6])
@pytest.mark.parametrize("noise", [0.0, 0.02])
def test_every_output_equals_corvel_sims_log(tmp_path, corvel_sim, order, channels, noise):
    u = record(channels)
    names = write_columns(tmp_path / "rec.csv", u)
    log = tmp_path / "log.csv"
    command = [corvel_sim, str(tmp_path / "rec.csv"), "--column", "all" if channels > 1 else "c1", "--time-column",
               "none", "--solver-step", repr(DT), "--gain", "40", "--order", str(order), "--no-plot", "--out", str(log)]
    if noise:
        command += ["--noise", repr(noise), "--seed", "7"]
    subprocess.run(command, check=True, capture_output=True)
    header, logged = read_log(log)

    mine = corvel.estimate(u if channels > 1 else u[:, 0], DT, 40, order, noise=noise, seed=7)
    assert same_bits(mine.t, logged[:, 0])
    per = 3 + order
    for c in range(channels):
        first = 1 + c * per
        assert header[first] == ("u" if channels == 1 else names[c] + ".u")
        pick = (lambda a: a) if channels == 1 else (lambda a: a[:, c])
        assert same_bits(pick(mine.u), logged[:, first]), "u of channel %d" % c
        assert same_bits(pick(mine.error), logged[:, first + 1]), "error of channel %d" % c
        assert same_bits(pick(mine.signal), logged[:, first + 2]), "z0 of channel %d" % c
        d = mine.derivatives if channels == 1 else mine.derivatives[:, c, :]
        assert same_bits(d, logged[:, first + 3:first + per]), "derivatives of channel %d" % c


def test_time_stamps_are_taken_as_corvel_sim_takes_a_time_column(tmp_path, corvel_sim):
    t = 2.0 + np.arange(3000) * 0.002
    u = np.sin(5 * t)
    with open(tmp_path / "timed.csv", "w") as f:
        f.write("time,u\n")
        for a, b in zip(t, u):
            f.write("%r,%r\n" % (float(a), float(b)))
    subprocess.run([corvel_sim, str(tmp_path / "timed.csv"), "--order", "2", "--gain", "25", "--no-plot", "--out",
                    str(tmp_path / "log.csv")], check=True, capture_output=True)
    _, logged = read_log(tmp_path / "log.csv")
    mine = corvel.estimate(u, None, 25, 2, t=t)
    assert same_bits(mine.t, logged[:, 0])
    assert same_bits(mine.derivatives, logged[:, 4:6])


def test_noise_by_a_signal_to_noise_ratio_is_corvel_sims(tmp_path, corvel_sim):
    u = record(2)
    write_columns(tmp_path / "rec.csv", u)
    subprocess.run([corvel_sim, str(tmp_path / "rec.csv"), "--column", "all", "--time-column", "none", "--solver-step",
                    repr(DT), "--gain", "40", "--order", "2", "--snr", "20", "--seed", "5", "--no-plot", "--out",
                    str(tmp_path / "log.csv")], check=True, capture_output=True)
    _, logged = read_log(tmp_path / "log.csv")
    mine = corvel.estimate(u, DT, 40, 2, snr=20, seed=5)
    for c in range(2):
        assert same_bits(mine.u[:, c], logged[:, 1 + 5 * c]), "u of channel %d" % c
        assert same_bits(mine.derivatives[:, c, :], logged[:, 4 + 5 * c:6 + 5 * c]), "derivatives of channel %d" % c


def test_the_time_tolerance_given_is_the_one_held_to():
    t = np.arange(2000) * 0.001
    t[1000] += 0.0002  # a fifth of a step late
    u = np.sin(t)
    with pytest.raises(ValueError, match="time"):
        corvel.estimate(u, None, 30, 2, t=t)
    assert corvel.estimate(u, None, 30, 2, t=t, time_tolerance=0.3).derivatives.shape == (2000, 2)


@pytest.mark.parametrize("axes", [(0, 1), (-2, -1)])
def test_channels_along_either_axis_give_the_same_numbers(axes):
    u = record(3)
    rows = corvel.estimate(u, DT, 30, 3, axis=axes[0])
    columns = corvel.estimate(u.T, DT, 30, 3, axis=axes[1])
    assert columns.signal.shape == (3, ROWS) and columns.derivatives.shape == (3, ROWS, 3)
    assert same_bits(rows.t, columns.t) and rows.t.shape == (ROWS,)
    for name in ("u", "error", "signal"):
        assert getattr(columns, name).shape == (3, ROWS), name
        assert same_bits(getattr(rows, name).T, getattr(columns, name)), name
    assert same_bits(rows.derivatives.transpose(1, 0, 2), columns.derivatives)
    # Each channel is the block of that channel alone.
    alone = corvel.estimate(u[:, 1], DT, 30, 3)
    assert same_bits(alone.derivatives, rows.derivatives[:, 1, :])


def test_a_built_in_signal_comes_with_its_true_derivatives():
    s = corvel.signal("poly", duration=1.0, dt=0.01, coefficients=(1.0, 2.0, 3.0))
    assert same_bits(s.t, np.arange(101) * 0.01)
    assert np.allclose(s.truth[:, 0], 1 + 2 * s.t + 3 * s.t ** 2)
    assert np.allclose(s.truth[:, 1], 2 + 6 * s.t)
    assert np.all(s.truth[:, 2] == 6.0) and np.all(s.truth[:, 3:] == 0.0)
