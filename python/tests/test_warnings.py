"""Warnings where the numbers go wrong, each a CorvelWarning the warnings
module filters, pointed at the caller's line; none on a well-tuned run."""
import warnings

import numpy as np
import pytest

import corvel

DT = 0.001
T = np.arange(5000) * DT
U = np.sin(2 * np.pi * 1.0 * T)


def caught(call):
    with warnings.catch_warnings(record=True) as seen:
        warnings.simplefilter("always")
        call()
    return [w for w in seen if issubclass(w.category, corvel.CorvelWarning)]


@pytest.mark.parametrize("call, category, words", [
    (lambda: corvel.estimate(U, DT, gain=-5.0), corvel.GainWarning, "gain=-5 is negative"),
    (lambda: corvel.estimate(U, DT, gain=0.0), corvel.GainWarning, "gain=0: the block never corrects"),
    (lambda: corvel.estimate(U, DT, gain=float("inf")), corvel.GainWarning, "gain=inf is infinite"),
    (lambda: corvel.estimate(np.column_stack([U, U]), DT, gain=[30.0, float("nan")]), corvel.GainWarning,
     "gain[1]=nan is not a number"),
    (lambda: corvel.Differentiator(DT, gain=-1.0), corvel.GainWarning, "gain=-1 is negative"),
    # The default gain on a 5 Hz sine at 1 kHz lags it: worse than holding the last sample.
    (lambda: corvel.estimate(np.sin(2 * np.pi * 5 * T), DT), corvel.GainWarning,
     "the block predicts it worse than repeating the last sample would, so gain 20 does not suit"),
    (lambda: corvel.estimate(np.r_[U[:1234], np.nan, U[1235:]], DT, gain=60, order=2), corvel.NonFiniteWarning,
     "the samples, sample 1235 (t = 1.234 s): the input is nan; every estimate from there on is NaN"),
    (lambda: corvel.estimate(np.column_stack([U, np.r_[U[:9], np.inf, U[10:]]]), DT, gain=60, order=2),
     corvel.NonFiniteWarning, "the samples, sample 10 ('channel 2') (t = 0.009000000000000001 s): the input is inf"),
    (lambda: corvel.estimate(np.zeros((3, 1000)), DT, gain=60), corvel.LayoutWarning, "axis=1 is likely meant"),
])
def test_each_warning_is_given_where_the_numbers_go_wrong(call, category, words):
    seen = caught(call)
    assert any(w.category is category and words in str(w.message) for w in seen), [str(w.message) for w in seen]
    assert all(w.filename == __file__ for w in seen), "a warning points at the package, not the caller"


def test_a_well_tuned_run_warns_of_nothing():
    noisy = U + 1e-4 * np.random.default_rng(1).standard_normal(len(U))
    choice = corvel.tune(noisy, DT, orders=range(1, 4))
    assert caught(lambda: corvel.estimate(noisy, DT, gain=choice.gain, order=choice.order)) == []
    assert caught(lambda: corvel.estimate(np.column_stack([noisy, noisy]), DT, gain=choice.gain, order=choice.order,
                                          axis=0)) == []
    assert caught(lambda: corvel.Differentiator(DT, gain=choice.gain).update(noisy)) == []


def test_the_warnings_filter_as_one_family():
    with warnings.catch_warnings():
        warnings.simplefilter("error", corvel.CorvelWarning)
        with pytest.raises(corvel.GainWarning):
            corvel.estimate(U, DT, gain=-1.0)
        warnings.filterwarnings("ignore", category=corvel.GainWarning)
        corvel.estimate(U, DT, gain=-1.0)  # silenced: no error
