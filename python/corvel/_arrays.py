"""Samples as the block takes them: checked, converted to C-ordered float64,
time along the first axis, and given back in the caller's layout."""
import math
import numbers
from typing import Any, Optional, Tuple

import numpy as np
import numpy.typing as npt

Floats = npt.NDArray[np.float64]

from ._warnings import LayoutWarning, warn


def number(name: str, value: Any) -> float:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a real number, not %r" % (name, value))
    return float(value)


def step(dt: Any) -> float:
    seconds = number("dt", dt)
    if not (seconds > 0.0 and math.isfinite(seconds)):
        raise ValueError("dt must be a positive number of seconds, not %r" % seconds)
    return seconds


def samples(name: str, u: Any, max_dims: int = 2) -> Floats:
    """u as a C-ordered native float64 array, its kind checked."""
    if isinstance(u, (str, bytes)):
        raise TypeError("%s must be an array of real numbers, not text" % name)
    a = np.asarray(u)
    kind = a.dtype.kind
    if kind == "c":
        raise TypeError("%s must be real: the block takes real samples, not %s" % (name, a.dtype))
    if kind not in "fiu":
        raise TypeError("%s must be an array of real numbers, not of %s" % (name, a.dtype))
    if a.ndim > max_dims:
        raise ValueError("%s must have at most %d axes, not %d (shape %s)" % (name, max_dims, a.ndim, a.shape))
    return np.asarray(a, dtype=np.float64, order="C")


def time_axis(name: str, a: Floats, axis: int) -> Tuple[Floats, str]:
    """a (1-D or 2-D) as rows of time x channels, and how to give results back."""
    if a.ndim == 0:
        raise ValueError("%s must be an array of samples, not one number" % name)
    if a.ndim == 1:
        if axis not in (0, -1):
            raise ValueError("axis %r: %s has one axis" % (axis, name))
        return a.reshape(-1, 1), "1d"
    if axis in (0, -2):
        rows, layout = a, "rows"
    elif axis in (1, -1):
        rows, layout = np.ascontiguousarray(a.T), "columns"
    else:
        raise ValueError("axis %r: %s has two axes (0 or 1)" % (axis, name))
    if rows.shape[0] < rows.shape[1]:
        warn("%s of shape %s is %d samples of %d channels along axis %d: time is the longer axis of a record, so "
             "axis=%d is likely meant" % (name, a.shape, rows.shape[0], rows.shape[1], axis % 2, 1 - axis % 2),
             LayoutWarning)
    return rows, layout


def times(t: Any, rows: int) -> Optional[Floats]:
    """Time stamps in seconds (datetime64 and timedelta64 from the first)."""
    if t is None:
        return None
    kind = np.asarray(t).dtype.kind
    if kind in "mM":
        stamps = np.asarray(t)
        if stamps.ndim == 1 and len(stamps) > 0:
            if np.isnat(stamps).any():
                raise ValueError("t must hold a time for every sample, not NaT")
            ns = (stamps - stamps[0]).astype("timedelta64[ns]").astype(np.int64)
            t = ns.astype(np.float64) * 1e-9
    stamped = samples("t", t, max_dims=1)
    if stamped.ndim != 1 or len(stamped) != rows:
        raise ValueError("t must hold one time stamp for each of the %d samples, not shape %s" % (rows, stamped.shape))
    return stamped


def record(name: str, u: Any, axis: int, t: Any, dt: Any) -> Tuple[Floats, str, Optional[Floats], float]:
    """A record's samples as rows of time x channels, its layout, its time
    stamps (or None) and its step."""
    rows, layout = time_axis(name, samples(name, u), axis)
    if rows.shape[0] == 0:
        raise ValueError("%s has no samples" % name)
    if rows.shape[1] == 0:
        raise ValueError("%s has no channels" % name)
    stamps = times(t, rows.shape[0])
    return rows, layout, stamps, (step(dt) if stamps is None else 0.01)


def gains(gain: Any, channels: int) -> Tuple[float, ...]:
    """One gain for all channels, or one for each."""
    if isinstance(gain, (list, tuple, np.ndarray)):
        each = tuple(number("gain", g) for g in np.asarray(gain, dtype=object).ravel())
        if len(each) != channels:
            raise ValueError("gain: %d gains for %d channels (one gain for all, or one for each)" % (
                len(each), channels))
        return each
    return (number("gain", gain),)


def whole(name: str, value: Any, low: int, high: int) -> int:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral) or not low <= int(value) <= high:
        raise ValueError("%s must be a whole number from %s to %s, not %r" % (name, low, high, value))
    return int(value)


def missing_word(missing: Any) -> str:
    if not isinstance(missing, str):
        raise TypeError("missing must be 'keep', 'refuse', 'hold' or 'interpolate', not %r" % (missing,))
    return missing
