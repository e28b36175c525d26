"""Gaps in a numpy record (NaN): kept as the block in a model takes them, or
filled by holding or interpolating, each equal to the bit to the block run on
the array filled by numpy; refused with the gap named."""
import numpy as np
import pytest

import corvel
from conftest import same_bits

DT = 0.001


def record_with_gaps():
    t = np.arange(3000) * DT
    u = np.sin(7 * t) + 0.2 * np.sin(31 * t)
    gappy = u.copy()
    gappy[1000:1040] = np.nan
    gappy[2500] = np.nan
    return gappy


def test_interpolated_and_held_gaps_equal_the_block_on_numpys_fill():
    gappy = record_with_gaps()
    good = ~np.isnan(gappy)
    k = np.arange(len(gappy))
    lined = gappy.copy()
    lined[~good] = np.interp(k[~good], k[good], gappy[good])
    held = gappy.copy()
    for i in np.flatnonzero(~good):
        held[i] = held[i - 1]
    for how, filled in (("interpolate", lined), ("hold", held)):
        est = corvel.estimate(gappy, DT, gain=60, order=2, missing=how)
        ref = corvel.estimate(filled, DT, gain=60, order=2)
        # numpy's line and ours may round the last bit differently: the fed
        # samples within an ulp, and the estimates from the same samples equal.
        np.testing.assert_allclose(est.u, filled, rtol=0, atol=1e-15)
        again = corvel.estimate(est.u, DT, gain=60, order=2)
        assert np.array_equal(est.derivatives, again.derivatives)
        np.testing.assert_allclose(est.derivatives, ref.derivatives, rtol=1e-9, atol=1e-9)


def test_a_kept_gap_spoils_what_follows_and_a_refused_one_is_named():
    gappy = record_with_gaps()
    kept = corvel.estimate(gappy, DT, gain=60, order=2)
    assert np.all(np.isnan(kept.derivatives[1001:]))
    with pytest.raises(ValueError, match=r"sample 1001: no sample of the signal \(an empty cell or NaN\), the first of "
                                         r"a gap of 40 samples: fill gaps with missing='hold'"):
        corvel.estimate(gappy, DT, gain=60, order=2, missing="refuse")
    with pytest.raises(ValueError, match="missing must be 'keep', 'refuse', 'hold' or 'interpolate', not 'fill'"):
        corvel.estimate(gappy, DT, missing="fill")
    choice = corvel.tune(gappy, DT, orders=range(1, 3), missing="interpolate")
    assert 1 <= choice.order <= 2


@pytest.mark.parametrize("cuts", [[3000], [1000, 1020, 1040, 2500, 2501], [7, 1500]])
def test_a_stream_holding_gaps_is_estimate_holding_them_wherever_it_is_cut(cuts):
    gappy = record_with_gaps()
    whole = corvel.estimate(gappy, DT, gain=40, order=3, missing="hold")
    d = corvel.Differentiator(DT, gain=40, order=3, missing="hold")
    parts = [d.update(piece) for piece in np.split(gappy, cuts)]
    for name in ("u", "derivatives"):
        assert same_bits(np.concatenate([getattr(p, name) for p in parts]), getattr(whole, name)), name
    one = corvel.Differentiator(DT, gain=40, order=3, missing="hold")
    singles = [one.update(float(x)) for x in gappy[:1100]]
    assert same_bits(np.array([s.derivatives[0] for s in singles]), whole.derivatives[:1100])


def test_a_stream_refusing_gaps_names_the_sample_and_is_left_as_it_was():
    gappy = record_with_gaps()
    d = corvel.Differentiator(DT, gain=40, order=2, channels=2, missing="refuse")
    d.update(np.column_stack([gappy[:900], gappy[:900]]))
    with pytest.raises(ValueError, match="sample 1001 of channel 2 is missing"):
        d.update(np.column_stack([np.zeros(200), gappy[900:1100]]))
    assert d.samples_done == 900
    with pytest.raises(ValueError, match="sample 901 is missing"):
        corvel.Differentiator(DT, missing="refuse").update(np.r_[np.zeros(900), np.nan])


@pytest.mark.parametrize("missing, words", [
    ("interpolate", "a stream has not seen yet: give missing='hold'"),
    ("fill", "missing must be 'keep', 'refuse' or 'hold'"),
])
def test_what_a_stream_cannot_do_with_gaps_is_refused_when_made(missing, words):
    with pytest.raises(ValueError, match=words):
        corvel.Differentiator(DT, missing=missing)


def test_a_held_stream_with_no_sample_yet_to_hold_refuses_and_waits():
    d = corvel.Differentiator(DT, missing="hold")
    with pytest.raises(ValueError, match="sample 1 is missing .NaN. with no sample before it to hold"):
        d.update(np.array([np.nan, 1.0]))
    assert d.samples_done == 0
    assert same_bits(d.update(np.array([1.0, np.nan])).u, np.array([1.0, 1.0]))
