"""What the package refuses, with which exception and words; and nothing a
caller passes crashes the interpreter."""
import math

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st
from hypothesis.extra import numpy as hnp

import corvel

U = np.sin(np.arange(200) * 0.05)


@pytest.mark.parametrize("call, error, words", [
    (lambda: corvel.estimate(U, 0.01, 20, 2.5), ValueError, "Order of the differantiator must be a positive integer."),
    (lambda: corvel.estimate(U, 0.01, 20, 0), ValueError, "Order of the differantiator must be a positive integer."),
    (lambda: corvel.estimate(U, 0.01, 20, float("nan")), ValueError,
     "Order of the differantiator must be a positive integer."),
    (lambda: corvel.estimate(U, 0.01, 20, 11), ValueError,
     "Order of the differantiator must be an integer greater than zero and less or equal than 10."),
    (lambda: corvel.Differentiator(gain=20, order=-1, dt=0.01), ValueError, "Order of the differantiator must be a positive integer."),
    (lambda: corvel.estimate(U + 1j, 0.01, 20, 2), TypeError, "u must be real"),
    (lambda: corvel.estimate(np.array(["a", "b"]), 0.01, 20, 2), TypeError, "u must be an array of real numbers"),
    (lambda: corvel.estimate(np.array([object(), 1]), 0.01, 20, 2), TypeError, "u must be an array of real numbers"),
    (lambda: corvel.estimate(np.array([True, False]), 0.01, 20, 2), TypeError, "u must be an array of real numbers"),
    (lambda: corvel.estimate("1,2,3", 0.01, 20, 2), TypeError, "not text"),
    (lambda: corvel.estimate(np.zeros((4, 3, 2)), 0.01, 20, 2), ValueError, "u must have at most 2 axes"),
    (lambda: corvel.estimate(np.zeros(0), 0.01, 20, 2), ValueError, "u has no samples"),
    (lambda: corvel.estimate(np.zeros((5, 0)), 0.01, 20, 2), ValueError, "u has no channels"),
    (lambda: corvel.estimate(3.0, 0.01, 20, 2), ValueError, "not one number"),
    (lambda: corvel.estimate(U, 0.0, 20, 2), ValueError, "dt must be a positive number"),
    (lambda: corvel.estimate(U, float("inf"), 20, 2), ValueError, "dt must be a positive number"),
    (lambda: corvel.estimate(U, "0.01", 20, 2), TypeError, "dt must be a real number"),
    (lambda: corvel.estimate(U, 0.01, None, 2), TypeError, "gain must be a real number"),
    (lambda: corvel.estimate(U, 0.01, 20, 2, axis=2), ValueError, "axis 2"),
    (lambda: corvel.estimate(U, 0.01, 20, 2, t=np.arange(5)), ValueError, "t must hold one time stamp for each"),
    (lambda: corvel.estimate(U, 0.01, 20, 2, t=np.r_[0:100, 150:250] * 0.01), ValueError, "time stamp 101"),
    (lambda: corvel.estimate(U, 0.01, 20, 2, noise=-1), ValueError, "noise must be 0 or more"),
    (lambda: corvel.estimate(U, 0.01, 20, 2, noise=0.1, snr=30), ValueError, "noise or snr, not both"),
    (lambda: corvel.estimate(U, 0.01, 20, 2, seed=-1), ValueError, "seed must be a whole number"),
    (lambda: corvel.Differentiator(gain=20, order=2, dt=0.01).update(np.zeros((3, 2))), ValueError, "1-D array"),
    (lambda: corvel.Differentiator(gain=20, order=2, dt=0.01, channels=2).update(np.zeros(3)), ValueError, "rows x 2"),
    (lambda: corvel.Differentiator(gain=20, order=2, dt=0.01, channels=0), ValueError, "channels must be"),
    (lambda: corvel.tune(U, 0.01, orders=[1, 3]), ValueError, "consecutive whole numbers"),
    (lambda: corvel.tune(U, 0.01, orders=range(0, 3)), ValueError, "consecutive whole numbers"),
    (lambda: corvel.tune(U, 0.01, gains=(-1, 5)), ValueError, "gains must be"),
    (lambda: corvel.tune(U, 0.01, jobs=0), ValueError, "jobs must be"),
    (lambda: corvel.tune(np.full(300, 4.0), 0.01), ValueError, "the signal is constant (4)"),
    (lambda: corvel.tune(np.r_[U, np.nan], 0.01), ValueError, "tuning needs a finite signal"),
    (lambda: corvel.signal("square"), ValueError, "square"),
])
def test_each_refusal_says_what_is_wrong(call, error, words):
    with pytest.raises(error) as refused:
        call()
    assert words in str(refused.value)


def test_arrays_of_another_layout_are_taken_as_their_values():
    expected = corvel.estimate(U, 0.01, 20, 3)
    for converted in (U.astype(">f8"), np.repeat(U, 2)[::2], np.round(U * 1000).astype(np.int32) / 1000.0):
        got = corvel.estimate(converted, 0.01, 20, 3)
        assert np.array_equal(got.signal, corvel.estimate(np.asarray(converted, dtype=float), 0.01, 20, 3).signal)
    frozen = U.copy()
    frozen.flags.writeable = False
    assert np.array_equal(corvel.estimate(frozen, 0.01, 20, 3).derivatives, expected.derivatives)
    ints = corvel.estimate(np.arange(50, dtype=np.int16), 0.01, 20, 2)
    assert np.array_equal(ints.signal, corvel.estimate(np.arange(50.0), 0.01, 20, 2).signal)


def test_non_finite_samples_behave_as_in_the_block():
    u = U.copy()
    u[50] = np.nan
    e = corvel.estimate(u, 0.01, 20, 2)
    assert np.all(np.isfinite(e.signal[:51])) and np.all(np.isnan(e.signal[51:]))
    assert np.all(np.isnan(e.derivatives[51:]))


dtypes = st.sampled_from([np.float64, np.float32, np.int64, np.int8, np.uint16, np.complex128, np.bool_, ">f8", "<f4"])
shapes = hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=6)
numbers = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.integers(-20, 20), st.none(),
                    st.sampled_from(["3", b"3", [1.0], 1j, True]))


@settings(max_examples=300, derandomize=True, deadline=None, suppress_health_check=list(HealthCheck))
@given(st.data(), dtypes, shapes, numbers, numbers, numbers, st.integers(-3, 3), st.booleans())
def test_nothing_crashes_the_interpreter(data, dtype, shape, dt, gain, order, axis, strided):
    u = data.draw(hnp.arrays(dtype, shape, elements=None))
    if strided and u.ndim >= 1 and u.shape[0] > 1:
        u = u[::2]
    for call in (lambda: corvel.estimate(u, dt, gain, order, axis=axis),
                 lambda: corvel.Differentiator(gain=gain, order=order, dt=dt).update(u)):
        try:
            out = call()
        except (TypeError, ValueError):
            continue
        assert out.signal.dtype == np.float64
        assert out.derivatives.shape[:-1] == out.signal.shape
