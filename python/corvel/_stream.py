"""A running block: Differentiator, fed samples as they arrive."""
import numbers
from typing import Any, Dict, Tuple, Union, overload

import numpy as np

from ._arrays import Floats
from . import _arrays, _corvel, _frames
from ._estimate import Estimates, Gain, Samples, _gains_warned

_ONE_NUMBER = (float, int, np.float64, np.float32, np.int64, np.int32)
_STREAM_MISSING = ("keep", "refuse", "hold")
_estimates = tuple.__new__  # an Estimates from the five arrays, without a call of __init__


class Differentiator:
    """A running block, one for each channel, fed samples as they arrive.

    Parameters
    ----------
    dt : float
        The sample time (s).
    gain : float or sequence of float
        The gain L, one for all channels or one for each.
    order : int
        The order n, 1..10: the width of the derivatives.
    channels : int
        How many signals, each with its own block.
    missing : {'keep', 'refuse', 'hold'}
        What becomes of a NaN sample: 'keep' feeds it (every estimate of its
        channel after it is NaN), 'refuse' raises ValueError naming it (the
        stream left as it was), 'hold' feeds the channel's last sample
        instead. A stream cannot see past a gap, so 'interpolate' is
        estimate()'s alone; nor can 'hold' fill a stream's very first sample.

    Notes
    -----
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
    it was before that update.

    Examples
    --------
    >>> d = corvel.Differentiator(dt=0.001, gain=30, order=2)
    >>> for chunk in chunks:                  # any number of samples at a time
    ...     est = d.update(chunk)             # the estimates for those samples
    """

    def __init__(self, dt: float, gain: Gain = 20.0, order: int = 3, channels: int = 1, *,
                 missing: str = "keep") -> None:
        self._channels = _arrays.whole("channels", channels, 1, 10000)
        self._gains = _arrays.gains(gain, self._channels)
        self._order = _arrays.number("order", order)
        self._dt = _arrays.step(dt)
        self._missing = self._missing_word(missing)
        self._held = np.full(self._channels, np.nan)
        _gains_warned(self._gains)
        self._stream = _corvel.Stream(list(self._gains), self._order, self._dt, self._channels)
        self._start_order = self._order  # the width of the derivatives
        self._fast = self._channels == 1 and self._missing == "keep"

    @staticmethod
    def _missing_word(missing: Any) -> str:
        word = _arrays.missing_word(missing)
        if word == "interpolate":
            raise ValueError("missing='interpolate' needs the sample after a gap, which a stream has not seen yet: "
                             "give missing='hold' (or interpolate the whole record with estimate())")
        if word not in _STREAM_MISSING:
            raise ValueError("missing must be 'keep', 'refuse' or 'hold', not %r" % (word,))
        return word

    def __repr__(self) -> str:
        return "Differentiator(dt=%r, gain=%r, order=%r, channels=%d, missing=%r; %d samples done)" % (
            self._dt, self.gain, int(self._order) if self._order == int(self._order) else self._order,
            self._channels, self._missing, self.samples_done)

    def __getstate__(self) -> Dict[str, Any]:
        return {"channels": self._channels, "dt": self._dt, "gains": self._gains, "order": self._order,
                "start_order": self._start_order, "missing": self._missing, "held": self._held.copy(),
                "blocks": self._stream.state()}

    def __setstate__(self, saved: Dict[str, Any]) -> None:
        self._channels = saved["channels"]
        self._dt = saved["dt"]
        self._gains = tuple(saved["gains"]) if "gains" in saved else (saved["gain"],)  # or as 0.1.0 pickled it
        self._order = saved["order"]
        self._start_order = saved["start_order"]
        self._missing = saved.get("missing", "keep")
        self._held = np.array(saved.get("held", np.full(self._channels, np.nan)))
        self._stream = _corvel.Stream(list(self._gains), self._start_order, self._dt, self._channels)
        if self._order != self._start_order:
            self._stream.change_order(self._order)
        self._stream.set_state(saved["blocks"])
        self._fast = self._channels == 1 and self._missing == "keep"

    def __copy__(self) -> "Differentiator":
        twin = type(self).__new__(type(self))
        twin.__setstate__(self.__getstate__())
        return twin

    def __deepcopy__(self, memo: Dict[int, Any]) -> "Differentiator":
        return self.__copy__()

    @property
    def gain(self) -> Union[float, Tuple[float, ...]]:
        """The gain L: one number, or each channel's when they differ.
        Tunable between calls (a number for all channels, or one each); a
        gain the block refuses raises ValueError and leaves the old one."""
        return self._gains[0] if len(self._gains) == 1 else self._gains

    @gain.setter
    def gain(self, value: Gain) -> None:
        gains = _arrays.gains(value, self._channels)
        _gains_warned(gains)
        if len(gains) == 1:
            self._stream.change_gain(gains[0])
        else:
            self._stream.change_gains(list(gains))
        self._gains = gains

    @property
    def order(self) -> float:
        """The order n, tunable between calls; the derivatives keep their
        width (the columns past a lower order are NaN)."""
        return self._order

    @order.setter
    def order(self, value: float) -> None:
        value = _arrays.number("order", value)
        self._stream.change_order(value)
        self._order = value

    @property
    def dt(self) -> float:
        """The sample time (s)."""
        return self._dt

    @property
    def channels(self) -> int:
        """How many signals the stream takes, each its own block."""
        return self._channels

    @property
    def missing(self) -> str:
        """What becomes of a NaN sample: 'keep', 'refuse' or 'hold'."""
        return self._missing

    @property
    def width(self) -> int:
        """The width of the derivatives: the order the block started with."""
        return int(self._stream.width)

    @property
    def samples_done(self) -> int:
        """The samples fed so far (since the last reset)."""
        return int(self._stream.samples_done)

    def reset(self) -> None:
        """The block's initial conditions again: the next sample starts it
        afresh, as the first sample of a record does. The gain, order and
        width are kept; samples_done starts again from 0."""
        self._stream.set_state(())
        self._held = np.full(self._channels, np.nan)

    def _filled(self, a: Floats) -> Floats:
        """a (rows x channels) with its gaps dealt with as `missing` says."""
        gaps = np.isnan(a)
        if not gaps.any():
            if len(a):
                self._held_next = a[-1].copy()
            return a
        row, channel = np.argwhere(gaps)[0]
        where = "sample %d" % (self.samples_done + row + 1) + (
            " of channel %d" % (channel + 1) if self._channels > 1 else "")
        if self._missing == "refuse":
            raise ValueError("%s is missing (NaN): give missing='hold' to feed the last sample instead" % where)
        rows = np.arange(len(a))[:, None]
        last = np.maximum.accumulate(np.where(gaps, -1, rows), axis=0)
        filled = np.where(last >= 0, a[np.maximum(last, 0), np.arange(a.shape[1])], self._held)
        if np.isnan(filled).any():
            row, channel = np.argwhere(np.isnan(filled))[0]
            raise ValueError("%s is missing (NaN) with no sample before it to hold" % (
                "sample %d" % (self.samples_done + row + 1) + (
                    " of channel %d" % (channel + 1) if self._channels > 1 else "")))
        self._held_next = filled[-1].copy()
        return filled

    @overload
    def update(self, samples: Union[float, Samples]) -> Estimates: ...

    @overload
    def update(self, samples: Any) -> Any: ...

    def update(self, samples: Any) -> Any:
        """Feed samples to the running blocks.

        Parameters
        ----------
        samples : float, array_like, pandas.Series or pandas.DataFrame
            For one channel a 1-D array (or one number); for several a 2-D
            array of rows x channels (a DataFrame's columns, its time column
            excepted).

        Returns
        -------
        Estimates
            The estimates for these samples: t (from the stream's first
            sample), u (as fed), error, signal and derivatives; for a Series
            or DataFrame, a DataFrame of them on its index.

        Raises
        ------
        ValueError
            For samples of another shape, or a gap ``missing='refuse'`` (or
            'hold', at the very start) cannot take; the stream is left as it
            was.
        """
        if self._fast and type(samples) in _ONE_NUMBER:  # one sample of one channel, kept as it is
            return _estimates(Estimates, self._stream.update_one(samples))
        if _frames.is_pandas(samples):  # a Series or DataFrame: a DataFrame of estimates on its index
            frame = _frames.FrameIn(samples, None, self._dt)
            return frame.frame(self.update(frame.samples))
        a = _arrays.samples("samples", samples)
        if self._channels == 1:
            if a.ndim > 1:
                if a.ndim == 2 and a.shape[1] == 1:
                    a = a[:, 0]
                else:
                    raise ValueError("samples of one channel must be a 1-D array, not shape %s" % (a.shape,))
            rows = a.reshape(-1, 1)
        elif a.ndim != 2 or a.shape[1] != self._channels:
            raise ValueError("samples of %d channels must be rows x %d, not shape %s" % (
                self._channels, self._channels, a.shape))
        else:
            rows = a
        if self._missing != "keep":
            rows = np.ascontiguousarray(self._filled(rows))
        out = self._stream.update(rows, self._channels == 1)
        if self._missing != "keep" and len(rows):
            self._held = self._held_next
        return _estimates(Estimates, out)
