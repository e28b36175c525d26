"""A gain for each channel: each channel's block runs with its own gain, to
the bits of that channel run alone; tune's choice for each goes back in."""
import numpy as np
import pytest

import corvel
from conftest import same_bits

DT = 0.001
T = np.arange(6000) * DT
SLOW = np.sin(2 * np.pi * 0.3 * T)
FAST = np.sin(2 * np.pi * 7.0 * T)
U = np.column_stack([SLOW, FAST, SLOW + FAST])
GAINS = [12.0, 90.0, 40.0]


@pytest.mark.parametrize("order", [1, 4])
@pytest.mark.parametrize("extra", [{}, {"noise": 0.01}, {"t": T}])
def test_each_channel_with_its_own_gain_is_that_channel_run_alone(order, extra):
    together = corvel.estimate(U, DT, gain=GAINS, order=order, **extra)
    for c, gain in enumerate(GAINS):
        alone = corvel.estimate(together.u[:, c], DT, gain=gain, order=order, **dict(extra, noise=0.0))
        assert same_bits(together.derivatives[:, c, :], alone.derivatives)
        assert same_bits(together.error[:, c], alone.error)


def test_a_stream_with_a_gain_each_is_the_record_and_changes_them_all_or_none():
    d = corvel.Differentiator(DT, gain=GAINS, order=3, channels=3)
    first = d.update(U[:2000])
    d.gain = [20.0, 60.0, 30.0]
    second = d.update(U[2000:])
    for c in range(3):
        alone = corvel.Differentiator(DT, gain=GAINS[c], order=3)
        a = alone.update(U[:2000, c])
        alone.gain = [20.0, 60.0, 30.0][c]
        b = alone.update(U[2000:, c])
        assert same_bits(first.derivatives[:, c], a.derivatives) and same_bits(second.derivatives[:, c], b.derivatives)
    assert d.gain == (20.0, 60.0, 30.0)
    d.gain = 25.0
    assert d.gain == 25.0


@pytest.mark.parametrize("gain, error, words", [
    ([10.0, 20.0], ValueError, "2 gains for 3 channels"),
    ([10.0, None, 3.0], TypeError, "gain must be a real number"),
])
def test_a_list_of_gains_not_one_each_is_refused(gain, error, words):
    with pytest.raises(error, match=words):
        corvel.estimate(U, DT, gain=gain)
    with pytest.raises(error, match=words):
        corvel.Differentiator(DT, gain=gain, channels=3)


def test_tune_gives_each_channel_its_gain_at_the_order_for_all_and_it_goes_straight_back_in():
    noisy = U[:, :2] + 1e-4 * np.random.default_rng(3).standard_normal((len(T), 2))
    choice = corvel.tune(noisy, DT, orders=range(2, 4))
    each = choice.per_channel
    assert each["order"] == choice.order and len(each["gain"]) == 2
    for c in range(2):
        assert each["gain"][c] == choice.channels[c].gain_at(choice.order)
    own = corvel.estimate(noisy, DT, **each)
    joint = corvel.estimate(noisy, DT, **choice.for_all)
    # Each channel's own gain predicts it no worse than the one for all.
    late = slice(len(T) // 3, None)
    for c in range(2):
        assert np.sqrt(np.mean(own.error[late, c] ** 2)) <= np.sqrt(np.mean(joint.error[late, c] ** 2))
    with pytest.raises(ValueError, match="order 9 was not searched"):
        choice.gain_at(9)
