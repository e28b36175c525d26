"""corvel: the corvel differentiator block on numpy arrays.

The block estimates a sampled signal u and its first n time derivatives
(n = 1..10) with a discrete-time differentiator of order n. This package runs
the block itself: the same MEX file, through the same simulation engine as
corvel-sim, so its numbers are, bit for bit, those the block gives in a model
and in corvel-sim's logs.

The estimator is causal: each estimate uses the samples before it only (a
one-step prediction), so it lags a little; it is what an online estimate in a
model sees.

    estimate(u, dt, gain, order)       a whole record, one block per channel
    Differentiator(gain, order, dt)    a running block, fed samples as they come
    tune(u, dt)                        the order and gain chosen from the data alone
    signal(kind, duration, dt)         built-in signals with their true derivatives

Arrays are converted to C-ordered native float64 (a copy when they are not
already so: big-endian, strided, read-only or integer arrays are taken);
complex, boolean, object and text arrays are refused with TypeError.
NaN and infinite samples behave as in the block: a NaN makes every estimate
NaN from the next sample on.

Every call into the block holds one lock (the block's kernel keeps module-wide
state), with the interpreter's lock released, so threads may run their own
objects side by side and each gets its own bits.
"""

import atexit as _atexit
import math
import numbers
import os
from collections import namedtuple as _namedtuple

import numpy as _np

from . import _corvel

__all__ = ["Estimates", "estimate", "Differentiator", "tune", "Tuning", "signal", "Signal"]
__version__ = "0.1.0"

_here = os.path.dirname(os.path.abspath(__file__))
_corvel.load(os.path.join(_here, "corvel.mexa64"))
# As the interpreter ends, the block takes no more calls: a daemon thread
# inside it stops at its next look, and none is inside the MEX file at exit.
_atexit.register(_corvel.close)


class Estimates(_namedtuple("Estimates", "t u error signal derivatives")):
    """The block's outputs, one for each sample given.

    t            the time of each sample (s)
    u            the samples the block was fed (with the noise, when added)
    error        output 1: u - z0 of the previous sample (0 at the first)
    signal       output 2: z0, the estimate of u
    derivatives  output 3: derivatives[..., j - 1] estimates the j-th derivative

    error, signal and u have the shape of the samples given; derivatives has
    that shape and a last axis of the block's order (its width at the start).
    """

    __slots__ = ()

    def __repr__(self):
        return "Estimates(%d samples, signal %s, derivatives %s)" % (
            len(self.t), self.signal.shape, self.derivatives.shape)


_estimates = tuple.__new__  # an Estimates from the five arrays, without a call of __init__


def _number(name, value):
    if isinstance(value, (bool, _np.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a real number, not %r" % (name, value))
    return float(value)


def _dt(dt):
    dt = _number("dt", dt)
    if not (dt > 0.0 and math.isfinite(dt)):
        raise ValueError("dt must be a positive number of seconds, not %r" % dt)
    return dt


def _samples(name, u, max_dims=2):
    """u as a C-ordered native float64 array, its kind checked."""
    if isinstance(u, (str, bytes)):
        raise TypeError("%s must be an array of real numbers, not text" % name)
    a = _np.asarray(u)
    kind = a.dtype.kind
    if kind == "c":
        raise TypeError("%s must be real: the block takes real samples, not %s" % (name, a.dtype))
    if kind not in "fiu":
        raise TypeError("%s must be an array of real numbers, not of %s" % (name, a.dtype))
    if a.ndim > max_dims:
        raise ValueError("%s must have at most %d axes, not %d (shape %s)" % (name, max_dims, a.ndim, a.shape))
    return _np.asarray(a, dtype=_np.float64, order="C")


def _time_axis(name, a, axis):
    """a (1-D or 2-D) as rows of time x channels, and how to give results back."""
    if a.ndim == 0:
        raise ValueError("%s must be an array of samples, not one number" % name)
    if a.ndim == 1:
        if axis not in (0, -1):
            raise ValueError("axis %r: %s has one axis" % (axis, name))
        return a.reshape(-1, 1), "1d"
    if axis in (0, -2):
        return a, "rows"
    if axis in (1, -1):
        return _np.ascontiguousarray(a.T), "columns"
    raise ValueError("axis %r: %s has two axes (0 or 1)" % (axis, name))


def _shape_back(out, layout):
    """The outputs (t, u, error, signal, derivatives) in the layout of the samples given."""
    if layout != "columns":
        return _estimates(Estimates, out)
    t, u, error, signal, derivatives = out
    return _estimates(Estimates, (t, u.T, error.T, signal.T, derivatives.transpose(1, 0, 2)))


def _times(t, rows):
    if t is None:
        return None
    t = _samples("t", t, max_dims=1)
    if t.ndim != 1 or len(t) != rows:
        raise ValueError("t must hold one time stamp for each of the %d samples, not shape %s" % (rows, t.shape))
    return t


def _record(name, u, axis, t, dt):
    """A record's samples as rows of time x channels, its layout, its time
    stamps (or None) and its step."""
    rows, layout = _time_axis(name, _samples(name, u), axis)
    if rows.shape[0] == 0:
        raise ValueError("%s has no samples" % name)
    if rows.shape[1] == 0:
        raise ValueError("%s has no channels" % name)
    times = _times(t, rows.shape[0])
    return rows, layout, times, (_dt(dt) if times is None else 0.01)


def estimate(u, dt, gain=20.0, order=3, axis=0, *, t=None, noise=0.0, snr=None, seed=1, time_tolerance=1e-6,
             missing="keep"):
    """The block over a whole record: the estimates for every sample.

    u      a 1-D array of samples, or a 2-D array of channels (time along
           `axis`); each channel is the input of its own block, all in one
           model run, as corvel-sim runs a list of columns
    dt     the sample time (s): the block's step
    gain   the gain L (P1): larger follows faster and passes more noise
    order  the order n (P3): how many derivatives, a whole number 1..10
    t      time stamps instead of dt, held to a constant step within
           `time_tolerance` (relative), as corvel-sim holds a file's time column
    noise  the standard deviation of Gaussian noise added to every channel,
           or snr: the signal-to-noise ratio in dB (each channel's RMS);
           seeded by `seed`, drawn as corvel-sim draws it
    missing  what becomes of a NaN sample: 'keep' (the block is fed NaN, and
           every estimate after it is NaN, as in a model), 'refuse' (a
           ValueError naming the gap), 'hold' (the last sample repeated) or
           'interpolate' (a line across the gap); est.u holds what was fed

    Returns Estimates (t, u, error, signal, derivatives): the same numbers
    as corvel-sim's log columns t, u, e, z0, d1..dn.
    Raises ValueError with the block's own message for a parameter it
    refuses ("Order of the differantiator must be a positive integer.").
    """
    rows, layout, times, dt = _record("u", u, axis, t, dt)
    noise = _number("noise", noise)
    if not (noise >= 0.0 and math.isfinite(noise)):
        raise ValueError("noise must be 0 or more, not %r" % noise)
    if snr is not None:
        snr = _number("snr", snr)
        if not math.isfinite(snr):
            raise ValueError("snr must be a finite number of dB, not %r" % snr)
        if noise != 0.0:
            raise ValueError("give noise or snr, not both")
    if isinstance(seed, bool) or not isinstance(seed, numbers.Integral) or not 0 <= seed < 2 ** 64:
        raise ValueError("seed must be a whole number from 0 to 2**64 - 1, not %r" % (seed,))
    out = _corvel.estimate(rows, dt, _number("gain", gain), _number("order", order), times, noise, snr, int(seed),
                           _number("time_tolerance", time_tolerance), layout == "1d", _missing(missing))
    return _shape_back(out, layout)


def _tunable(name, doc):
    """A parameter the block checks when it changes during a run (P1, P3)."""
    attribute = "_" + name

    def get(self):
        return getattr(self, attribute)

    def change(self, value):
        value = _number(name, value)
        getattr(self._stream, "change_" + name)(value)
        setattr(self, attribute, value)

    return property(get, change, doc=doc)


class Differentiator:
    """A running block, one for each channel, fed samples as they arrive.

        d = corvel.Differentiator(gain=30, order=2, dt=0.001)
        for chunk in chunks:             # any number of samples at a time
            est = d.update(chunk)        # the estimates for those samples

    Its state carries over between calls: cutting a record anywhere gives the
    bits of estimate() on the whole record. Setting `gain` or `order` between
    calls does what changing a tunable parameter does in a model: the block
    checks the new value (ValueError with its message, the old value kept),
    and the derivatives keep the width they had at the start; an order lower
    than that leaves the columns past it NaN.

    copy.copy, copy.deepcopy and pickle give a stream of its own with the
    same state and parameters: fed the same samples, it gives the same bits
    as the original would, in this process or another (a Dask worker's).
    Ctrl-C during a long update raises KeyboardInterrupt with the stream as
    it was before that update: samples_done and the state match what it
    returned.

    update(samples): for one channel a 1-D array (or one number); for several
    a 2-D array of rows x channels. Returns Estimates.
    """

    def __init__(self, gain, order, dt, channels=1):
        if isinstance(channels, bool) or not isinstance(channels, numbers.Integral) or not 1 <= channels <= 10000:
            raise ValueError("channels must be a whole number from 1 to 10000, not %r" % (channels,))
        self._channels = int(channels)
        self._gain = _number("gain", gain)
        self._order = _number("order", order)
        self._dt = _dt(dt)
        self._stream = _corvel.Stream(self._gain, self._order, self._dt, self._channels)
        self._start_order = self._order  # the width of the derivatives

    def __getstate__(self):
        return {"channels": self._channels, "dt": self._dt, "gain": self._gain, "order": self._order,
                "start_order": self._start_order, "blocks": self._stream.state()}

    def __setstate__(self, saved):
        self._channels = saved["channels"]
        self._dt = saved["dt"]
        self._gain = saved["gain"]
        self._order = saved["order"]
        self._start_order = saved["start_order"]
        self._stream = _corvel.Stream(self._gain, self._start_order, self._dt, self._channels)
        if self._order != self._start_order:
            self._stream.change_order(self._order)
        self._stream.set_state(saved["blocks"])

    def __copy__(self):
        twin = type(self).__new__(type(self))
        twin.__setstate__(self.__getstate__())
        return twin

    def __deepcopy__(self, memo):
        return self.__copy__()

    gain = _tunable("gain", "The gain L (P1), tunable between calls.")
    order = _tunable("order", "The order n (P3), tunable between calls; the derivatives keep their width "
                              "(the columns past a lower order are NaN).")

    @property
    def dt(self):
        return self._dt

    @property
    def channels(self):
        return self._channels

    @property
    def width(self):
        """The width of the derivatives: the order the block started with."""
        return self._stream.width

    @property
    def samples_done(self):
        return self._stream.samples_done

    def update(self, samples):
        if type(samples) in _ONE_NUMBER and self._channels == 1:
            return _estimates(Estimates, self._stream.update_one(samples))
        a = _samples("samples", samples)
        if self._channels == 1:
            if a.ndim > 1:
                if a.ndim == 2 and a.shape[1] == 1:
                    a = a[:, 0]
                else:
                    raise ValueError("samples of one channel must be a 1-D array, not shape %s" % (a.shape,))
            return _estimates(Estimates, self._stream.update(a.reshape(-1, 1), True))
        if a.ndim != 2 or a.shape[1] != self._channels:
            raise ValueError("samples of %d channels must be rows x %d, not shape %s" % (
                self._channels, self._channels, a.shape))
        return _estimates(Estimates, self._stream.update(a, False))


_ONE_NUMBER = (float, int, _np.float64, _np.float32, _np.int64, _np.int32)


class Tuning:
    """What tune() chose.

    order, gain  the recommendation (for several channels: one order and gain
                 for all, each run scored by the sum of the channels' error RMS
                 each over its RMS about its mean)
    table        a row for each order: order, gain (its best), error_rms (or
                 the joint score), flat_from, runs (every (gain, score) tried)
    channels     for several channels, each channel's own Tuning; else []
    runs         block runs made
    """

    __slots__ = ("order", "gain", "table", "channels", "runs", "warmup_end")

    def __init__(self, result):
        self.order = result["order"]
        self.gain = result["gain"]
        self.table = result["orders"]
        self.runs = result["runs"]
        self.warmup_end = result["warmup_end"]
        self.channels = [Tuning(dict(c, channels=[])) for c in result.get("channels", [])]

    def __repr__(self):
        return "Tuning(order=%d, gain=%.6g, %d orders, %d block runs)" % (self.order, self.gain, len(self.table),
                                                                        self.runs)


def _missing(missing):
    if not isinstance(missing, str):
        raise TypeError("missing must be 'keep', 'refuse', 'hold' or 'interpolate', not %r" % (missing,))
    return missing


def tune(u, dt, orders=range(1, 6), gains=None, jobs=1, axis=0, *, t=None, warmup=None, time_tolerance=1e-6,
         missing="keep"):
    """The order and gain chosen from the data alone, as corvel-sim tune does.

    For each order, the gain whose block run gives the smallest RMS of the
    error output (the one-step prediction error) after the warm-up (`warmup`
    seconds, default the first third); the recommended order is the one with
    the smallest. The same search and score as corvel-sim tune, with the same
    numbers on the same samples.

    orders  consecutive whole numbers within 1..10 (a range)
    gains   (low, high): search only there; None: the search's own range
    jobs    worker processes for the block runs (the result is the same)
    missing NaN samples: as estimate takes them ('hold' or 'interpolate'
            fill them; tuning refuses NaN)

    Returns a Tuning. Raises ValueError for data it cannot tune on (NaN
    samples, a constant channel, a record no longer than the warm-up).
    """
    rows, _, times, dt = _record("u", u, axis, t, dt)
    try:
        wanted = sorted(int(o) for o in orders)
    except (TypeError, ValueError):
        raise TypeError("orders must be whole numbers, not %r" % (orders,))
    if not wanted or wanted[0] < 1 or wanted[-1] > 10 or wanted != list(range(wanted[0], wanted[-1] + 1)) or any(
            o != int(o) for o in orders):
        raise ValueError("orders must be consecutive whole numbers within 1..10, not %r" % (orders,))
    low = high = 0.0
    if gains is not None:
        low, high = (_number("gains", g) for g in gains)
        if not (low * high > 0 and math.isfinite(low) and math.isfinite(high) and low < high):
            raise ValueError("gains must be (low, high) of one sign, low < high, not %r" % (gains,))
    if isinstance(jobs, bool) or not isinstance(jobs, numbers.Integral) or not 1 <= jobs <= 256:
        raise ValueError("jobs must be a whole number from 1 to 256, not %r" % (jobs,))
    warmup = -1.0 if warmup is None else _number("warmup", warmup)
    if warmup != -1.0 and not (warmup >= 0.0 and math.isfinite(warmup)):
        raise ValueError("warmup must be 0 or more seconds, not %r" % warmup)
    return Tuning(_corvel.tune(rows, dt, wanted[0], wanted[-1], low, high, int(jobs), warmup, times,
                               _number("time_tolerance", time_tolerance), _missing(missing)))


class Signal:
    """A built-in signal: t, u and truth (truth[:, 0] is u, truth[:, j] its
    j-th derivative, j = 1..10, exact to rounding)."""

    __slots__ = ("t", "u", "truth")

    def __init__(self, t, u, truth):
        self.t = t
        self.u = u
        self.truth = truth


def signal(kind="sine", duration=10.0, dt=0.01, amplitude=1.0, frequency=1.0, phase=0.0, end_frequency=5.0,
           coefficients=(1.0, 1.0, -0.5, 0.25)):
    """A built-in signal with its true derivatives, as corvel-sim makes it.

    kind: "sine" (A sin(2 pi f t + phase)), "poly" (c0 + c1 t + c2 t^2 + ...),
    "chirp" (f to end_frequency over the duration) or "expsin" (A e^t sin 5t),
    sampled every dt from 0 for `duration` seconds.
    """
    out = _corvel.signal(str(kind), _number("duration", duration), _dt(dt), _number("amplitude", amplitude),
                         _number("frequency", frequency), _number("phase", phase),
                         _number("end_frequency", end_frequency), [_number("coefficients", c) for c in coefficients])
    return Signal(out["t"], out["u"], out["truth"])
