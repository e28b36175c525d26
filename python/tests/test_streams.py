"""A running block fed in pieces gives the bits of the whole record; a tunable
parameter changed between pieces does what it does in a model."""
import threading

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import corvel
from conftest import same_bits

DT = 0.001
U = np.sin(np.arange(5000) * DT * 4.0) + 0.05 * np.sin(np.arange(5000) * 0.9)
U6 = np.column_stack([U * (c + 1) + c for c in range(6)])


def fed_in_pieces(d, u, cuts):
    parts = [d.update(u[a:b]) for a, b in zip([0] + cuts, cuts + [len(u)])]
    return {name: np.concatenate([getattr(p, name) for p in parts]) for name in ("t", "error", "signal",
                                                                                 "derivatives")}


@settings(max_examples=40, derandomize=True, deadline=None)
@given(st.lists(st.integers(0, len(U)), max_size=12), st.sampled_from([(1, 1), (3, 1), (10, 6)]))
def test_any_cutting_gives_the_whole_records_bits(cuts, shape):
    order, channels = shape
    u = U if channels == 1 else U6
    whole = corvel.estimate(u, DT, 35, order)
    cuts = sorted(cuts)  # repeated cuts are empty pieces; a cut at k + 1 a piece of one
    pieces = fed_in_pieces(corvel.Differentiator(gain=35, order=order, dt=DT, channels=channels), u, cuts)
    for name in pieces:
        assert same_bits(pieces[name], getattr(whole, name)), name


def test_one_sample_at_a_time_and_empty_calls():
    d = corvel.Differentiator(gain=35, order=2, dt=DT)
    assert d.update([]).derivatives.shape == (0, 2)
    got = [d.update(x).derivatives for x in U[:300]]
    assert same_bits(np.concatenate(got), corvel.estimate(U[:300], DT, 35, 2).derivatives)
    assert d.samples_done == 300


@pytest.mark.parametrize("change", [
    {"gain": 80.0},
    {"order": 2},
    {"order": 5},  # larger than the width it started with: the width stays 3
    {"gain": 5.0, "order": 1},
])
def test_a_parameter_changed_between_pieces_matches_the_reference(reference_run, change):
    d = corvel.Differentiator(gain=30, order=3, dt=DT)
    first = d.update(U[:1234])
    for name, value in change.items():
        setattr(d, name, value)
    second = d.update(U[1234:])
    assert d.width == 3 and second.derivatives.shape == (len(U) - 1234, 3)
    e, z0, dz = reference_run(U, 30.0, 3.0, DT, 3, 1234, change.get("gain"), change.get("order"))
    assert same_bits(np.concatenate([first.error, second.error]), e)
    assert same_bits(np.concatenate([first.signal, second.signal]), z0)
    # A lower order's columns past it are NaN, where the block's port keeps its last values.
    live = min(3, change.get("order", 3))
    dz = dz.copy()
    dz[1234:, live:] = np.nan
    assert same_bits(np.concatenate([first.derivatives, second.derivatives]), dz)


@pytest.mark.parametrize("order, message", [
    (2.5, "Order of the differantiator must be a positive integer."),
    (0, "Order of the differantiator must be a positive integer."),
    (11, "Order of the differantiator must be an integer greater than zero and less or equal than 10."),
])
def test_a_refused_order_keeps_the_old_one(order, message):
    d = corvel.Differentiator(gain=30, order=3, dt=DT)
    a = d.update(U[:100])
    with pytest.raises(ValueError) as refused:
        d.order = order
    assert str(refused.value) == message
    assert d.order == 3
    b = d.update(U[100:])
    assert same_bits(np.concatenate([a.derivatives, b.derivatives]), corvel.estimate(U, DT, 30, 3).derivatives)


def test_objects_of_different_sample_times_taken_in_turns_keep_their_own_bits():
    slow, fast = corvel.Differentiator(gain=20, order=2, dt=0.01), corvel.Differentiator(gain=20, order=2, dt=0.001)
    got_slow, got_fast = [], []
    for k in range(0, 5000, 250):
        got_fast.append(fast.update(U[k:k + 250]).derivatives)
        got_slow.append(slow.update(U[k // 10:k // 10 + 25]).derivatives)
    assert same_bits(np.concatenate(got_fast), corvel.estimate(U, 0.001, 20, 2).derivatives)
    assert same_bits(np.concatenate(got_slow), corvel.estimate(U[:500], 0.01, 20, 2).derivatives)


def test_four_threads_each_with_its_own_object_get_their_own_bits():
    steps = [0.001, 0.002, 0.0005, 0.003]
    results = [None] * 4

    long = np.tile(U, 4)

    def work(i):  # many short pieces, so that the threads' calls interleave
        d = corvel.Differentiator(gain=25 + i, order=1 + i, dt=steps[i])
        results[i] = np.concatenate([d.update(long[k:k + 31]).derivatives for k in range(0, len(long), 31)])

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for i in range(4):
        assert same_bits(results[i], corvel.estimate(long, steps[i], 25 + i, 1 + i).derivatives), i


def test_objects_made_and_dropped_in_threads_at_once():
    # An object's end is a call into the block too: it waits its turn, as
    # every other call does, while other threads' objects run.
    def work(i):
        for k in range(60):
            d = corvel.Differentiator(gain=20 + i, order=1 + (k % 3), dt=0.001)
            for piece in np.array_split(U[:600], 6):
                d.update(piece)
            del d

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert same_bits(corvel.Differentiator(gain=25, order=2, dt=0.01).update(U[:500]).derivatives,
                     corvel.estimate(U[:500], 0.01, 25, 2).derivatives)


def test_reset_starts_the_blocks_afresh_with_the_parameters_they_have():
    d = corvel.Differentiator(DT, gain=30, order=3, channels=2)
    d.update(np.column_stack([U[:300], U[:300] * 2]))
    d.gain = 45
    d.order = 2
    d.reset()
    assert d.samples_done == 0 and d.gain == 45 and d.order == 2 and d.width == 3
    again = d.update(np.column_stack([U, U * 2]))
    fresh = corvel.Differentiator(DT, gain=45, order=3, channels=2)
    fresh.order = 2
    expected = fresh.update(np.column_stack([U, U * 2]))
    assert same_bits(again.derivatives, expected.derivatives) and same_bits(again.t, expected.t)


def test_two_threads_with_objects_of_their_own_run_at_once_on_kernels_of_their_own():
    # Each object's bits are its own whatever runs beside it; that they run
    # side by side (not in turn) is bench/python_bench.py's to measure.
    import threading
    records = [U * (i + 1) for i in range(4)]
    alone = [corvel.estimate(r, DT, 30, 3).derivatives for r in records]
    streamed = [corvel.Differentiator(DT, 30, 3) for _ in records]
    got = [None] * 4
    fed = [None] * 4

    def work(i):
        for _ in range(3):
            got[i] = corvel.estimate(records[i], DT, 30, 3).derivatives
        fed[i] = np.concatenate([streamed[i].update(p).derivatives for p in np.array_split(records[i], 50)])
    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    for i in range(4):
        assert same_bits(got[i], alone[i]) and same_bits(fed[i], alone[i])


def test_streams_alive_at_once_each_have_a_kernel_of_their_own():
    from corvel import _corvel
    first = corvel.Differentiator(DT, 30, 3)
    second = corvel.Differentiator(DT, 30, 3)
    # Every kernel has a stream on it when the second is made: it gets a new copy.
    assert _corvel.kernel_count() >= 2
    assert same_bits(first.update(U).derivatives, second.update(U).derivatives)


def test_a_column_of_one_channel_is_its_samples():
    one = corvel.Differentiator(DT, 30, 3).update(U[:, None]).derivatives
    assert same_bits(one, corvel.Differentiator(DT, 30, 3).update(U).derivatives)
