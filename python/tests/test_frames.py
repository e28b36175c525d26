"""pandas in and out: the index kept, a time column or time index taken as
the time, nullable numbers' NA as missing samples, and the same bits as the
arrays give."""
import numpy as np
import pytest

import corvel
from conftest import same_bits

pd = pytest.importorskip("pandas")

DT = 0.01
N = 400
T = np.arange(N) * DT
A = np.sin(2 * np.pi * 0.5 * T)
B = np.cos(2 * np.pi * 0.3 * T) + 0.5


def test_a_series_gives_a_frame_on_its_index_with_the_arrays_bits():
    index = pd.Index(np.arange(N) * 10 + 7, name="sample")
    frame = corvel.estimate(pd.Series(A, index=index, name="x"), DT, gain=30, order=2)
    est = corvel.estimate(A, DT, gain=30, order=2)
    assert list(frame.columns) == ["signal", "error", "d1", "d2"]
    assert frame.index.equals(index)
    assert same_bits(frame["signal"].to_numpy(), est.signal)
    assert same_bits(frame["error"].to_numpy(), est.error)
    assert same_bits(frame[["d1", "d2"]].to_numpy(), est.derivatives)


def test_a_frames_columns_are_its_channels_in_groups_and_its_time_column_no_signal():
    data = pd.DataFrame({"time": T, "a": A, "b": B})
    frame = corvel.estimate(data, gain=[30, 40], order=2)  # the step from the time column
    est = corvel.estimate(np.column_stack([A, B]), DT, gain=[30, 40], order=2, t=T)
    assert list(frame.columns.get_level_values(0).unique()) == ["a", "b"]
    assert frame.index.equals(data.index)
    assert same_bits(frame[("a", "d1")].to_numpy(), est.derivatives[:, 0, 0])
    assert same_bits(frame[("b", "signal")].to_numpy(), est.signal[:, 1])


@pytest.mark.parametrize("make, words", [
    (lambda: pd.DataFrame({"t": T, "a": A}), "named t"),
    (lambda: pd.DataFrame({"when": pd.to_datetime(T, unit="s"), "a": A}), "datetime64 column"),
    (lambda: pd.DataFrame({"a": A}, index=pd.to_datetime(T, unit="s")), "DatetimeIndex"),
    (lambda: pd.DataFrame({"a": A}, index=pd.to_timedelta(T, unit="s")), "TimedeltaIndex"),
    (lambda: pd.DataFrame({"clock": T * 1000, "a": A}), "t= naming the column"),
])
def test_each_rule_that_picks_the_time(make, words):
    data = make()
    t = "clock" if "clock" in data.columns else None
    frame = corvel.estimate(data, gain=30, order=2, t=t)
    assert frame.shape == (N, 4), words  # one column group: the time is no signal
    expected = corvel.estimate(A, DT * (1000 if t else 1), gain=30, order=2)
    # The step is the stamps': the estimates scale with it.
    assert np.allclose(frame[("a", "d1")].to_numpy(), expected.derivatives[:, 0], rtol=1e-9, atol=1e-12), words


def test_a_datetime_index_gives_the_step_and_dt_given_wins_over_it():
    series = pd.Series(A, index=pd.date_range("2026-01-01", periods=N, freq="10ms"))
    from_index = corvel.estimate(series, gain=30, order=2)
    assert same_bits(from_index["d1"].to_numpy(), corvel.estimate(A, DT, gain=30, order=2, t=T).derivatives[:, 0])
    given = corvel.estimate(series, 0.02, gain=30, order=2)
    assert same_bits(given["d1"].to_numpy(), corvel.estimate(A, 0.02, gain=30, order=2).derivatives[:, 0])
    assert given.index.equals(series.index)


def test_nullable_numbers_na_is_a_missing_sample():
    values = pd.array(list(A), dtype="Float64")
    values[100:103] = pd.NA
    frame = corvel.estimate(pd.Series(values), DT, gain=30, order=2, missing="interpolate")
    with_nan = A.copy()
    with_nan[100:103] = np.nan
    expected = corvel.estimate(with_nan, DT, gain=30, order=2, missing="interpolate")
    assert same_bits(frame["d1"].to_numpy(), expected.derivatives[:, 0])
    with pytest.raises(ValueError, match="missing"):
        corvel.estimate(pd.Series(values), DT, missing="refuse")


@pytest.mark.parametrize("data, error, words", [
    (lambda: pd.DataFrame({"a": ["x"] * 5}), TypeError, "column 'a' must be real numbers"),
    (lambda: pd.DataFrame({"t": T}), ValueError, "no column but its time"),
    (lambda: pd.DataFrame({"a": A}), ValueError, "dt must be given"),
    (lambda: pd.Series([True, False] * 5), TypeError, "u must be real numbers"),
    (lambda: pd.Series(["a"] * 5, name="speed"), TypeError, "the Series 'speed' must be real numbers"),
])
def test_what_a_frame_cannot_give_is_refused(data, error, words):
    with pytest.raises(error, match=words):
        corvel.estimate(data())


def test_to_frame_gives_every_output_indexed_by_time_either_axis():
    est = corvel.estimate(np.column_stack([A, B]), DT, gain=30, order=1)
    frame = est.to_frame(names=["a", "b"])
    assert frame.index.name == "t" and same_bits(frame.index.to_numpy(), est.t)
    assert same_bits(frame[("b", "u")].to_numpy(), est.u[:, 1])
    across = corvel.estimate(np.vstack([A, B]), DT, gain=30, order=1, axis=1).to_frame(names=["a", "b"])
    assert same_bits(across.to_numpy(), frame.to_numpy())


def test_tune_takes_a_frame_as_estimate_does():
    data = pd.DataFrame({"t": T, "a": A})
    assert corvel.tune(data, orders=range(1, 3)).table == corvel.tune(A, DT, orders=range(1, 3)).table


def test_a_stream_fed_frames_gives_frames_on_their_index_with_the_records_bits():
    data = pd.DataFrame({"t": T, "a": A, "b": B}, index=pd.RangeIndex(1000, 1000 + N))
    whole = corvel.estimate(data, gain=30, order=2)
    d = corvel.Differentiator(DT, gain=30, order=2, channels=2)
    parts = pd.concat([d.update(data.iloc[:150]), d.update(data.iloc[150:])])
    assert parts.index.equals(data.index)
    assert same_bits(parts.to_numpy(), whole.to_numpy())
    one = corvel.Differentiator(DT, gain=30, order=2)
    assert same_bits(one.update(pd.Series(A))["d1"].to_numpy(), corvel.estimate(A, DT, 30, 2).derivatives[:, 0])


@pytest.mark.parametrize("make", [
    lambda: pd.Series(A, index=pd.date_range("2026-03-29 00:59:59", periods=N, freq="10ms", tz="Europe/Berlin")),
    lambda: pd.DataFrame({"when": pd.date_range("2026-01-01", periods=N, freq="10ms", tz="UTC"), "a": A}),
    lambda: pd.DataFrame(np.column_stack([T, A, A]), columns=["t", "a", "a"]),
])
def test_time_zones_and_repeated_names_are_taken_as_they_are(make):
    frame = corvel.estimate(make(), gain=30, order=2)
    d1 = frame["d1"] if "d1" in frame.columns else frame.iloc[:, 2]
    assert same_bits(d1.to_numpy(), corvel.estimate(A, DT, gain=30, order=2, t=T).derivatives[:, 0])
