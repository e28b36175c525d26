"""Gaps in a numpy record (NaN): kept as the block in a model takes them, or
filled by holding or interpolating, each equal to the bit to the block run on
the array filled by numpy; refused with the gap named."""
import numpy as np
import pytest

import corvel

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
