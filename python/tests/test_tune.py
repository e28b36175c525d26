"""tune() chooses what corvel-sim tune chooses on the same samples: the same
table and recommendation, for one channel and for several together."""
import re
import subprocess

import numpy as np
import pytest

import corvel
from conftest import write_columns

DT = 0.001


def noisy(channels, rows=4000):
    rng = np.random.default_rng(3)
    t = np.arange(rows) * DT
    return np.column_stack([np.sin((2 + c) * 2 * np.pi * t) * (c + 1) + 0.003 * rng.standard_normal(rows)
                            for c in range(channels)])


def corvel_sim_tables(corvel_sim, path, channels, jobs, more=()):
    out = subprocess.run([corvel_sim, "tune", str(path), "--column", "all" if channels > 1 else "c1",
                          "--time-column", "none", "--solver-step", repr(DT), "--orders", "1-3", "--jobs", str(jobs),
                          "--no-plot", *more], check=True, capture_output=True, text=True).stdout
    tables, recommended = [], []
    for block in re.split(r"\n(?=corvel-sim tune: )", out):
        rows = re.findall(r"^\s+(\d+)\s+(\S+)\s+(\S+)\s*$", block, re.M)
        if rows:
            tables.append([(int(o), g, e) for o, g, e in rows])
    recommended = re.findall(r"order (\d+), gain (\S+?)[.]? To run it", out)
    return tables, [(int(o), g) for o, g in recommended]


def table_of(tuning):
    return [(r["order"], "%.6g" % r["gain"], "%.6g" % r["error_rms"]) for r in tuning.table]


@pytest.mark.parametrize("channels, jobs", [(1, 1), (1, 2), (3, 1)])
def test_the_table_and_recommendation_are_corvel_sim_tunes(tmp_path, corvel_sim, channels, jobs):
    u = noisy(channels)
    write_columns(tmp_path / "rec.csv", u)
    tables, recommended = corvel_sim_tables(corvel_sim, tmp_path / "rec.csv", channels, jobs)
    mine = corvel.tune(u if channels > 1 else u[:, 0], DT, orders=range(1, 4), jobs=jobs)
    if channels == 1:
        assert tables == [table_of(mine)]
        assert recommended == [(mine.order, "%.6g" % mine.gain)]
    else:
        assert tables == [table_of(c) for c in mine.channels] + [table_of(mine)]
        assert recommended == [(c.order, "%.6g" % c.gain) for c in mine.channels] + [(mine.order, "%.6g" % mine.gain)]


def test_a_warm_up_given_is_corvel_sims_warmup(tmp_path, corvel_sim):
    u = noisy(1)
    write_columns(tmp_path / "rec.csv", u)
    tables, recommended = corvel_sim_tables(corvel_sim, tmp_path / "rec.csv", 1, 1, ("--warmup", "0.25"))
    mine = corvel.tune(u[:, 0], DT, orders=range(1, 4), warmup=0.25)
    assert mine.warmup_end == 0.25
    assert tables == [table_of(mine)]
    assert recommended == [(mine.order, "%.6g" % mine.gain)]
    assert table_of(corvel.tune(u[:, 0], DT, orders=range(1, 4))) != tables[0]  # the default warm-up is another


def test_the_recommended_gain_estimates_the_derivative_well():
    s = corvel.signal("sine", duration=6.0, dt=DT, frequency=1.5)
    u = s.u + 1e-4 * np.random.default_rng(5).standard_normal(len(s.u))
    choice = corvel.tune(u, DT, orders=range(1, 4))
    est = corvel.estimate(u, DT, choice.gain, choice.order)
    steady = slice(len(u) // 3, None)
    error = np.sqrt(np.mean((est.derivatives[steady, 0] - s.truth[steady, 1]) ** 2))
    assert error < 0.05 * np.sqrt(np.mean(s.truth[steady, 1] ** 2))
