"""A whole record through the block: estimate() and its Estimates."""
import math
import numbers
from typing import Any, List, NamedTuple, Optional, Sequence, Union, overload

import numpy as np

from ._arrays import Floats
from . import _arrays, _corvel, _frames
from ._warnings import GainWarning, NonFiniteWarning, warn

Gain = Union[float, Sequence[float], Floats]


class Estimates(NamedTuple):
    """The block's outputs, one for each sample given.

    Attributes
    ----------
    t : numpy.ndarray
        The time of each sample (s).
    u : numpy.ndarray
        The samples the block was fed (with the noise, when added; with the
        gaps filled, when ``missing`` fills them).
    error : numpy.ndarray
        Output 1: u minus the previous sample's estimate z0 (0 at the first).
    signal : numpy.ndarray
        Output 2: z0, the estimate of u.
    derivatives : numpy.ndarray
        Output 3: ``derivatives[..., j - 1]`` estimates the j-th derivative.

    Notes
    -----
    error, signal and u have the shape of the samples given; derivatives has
    that shape and a last axis of the block's order (its width at the start).
    An output left out by estimate()'s `outputs` is None.
    """

    t: Floats
    u: Floats
    error: Floats
    signal: Floats
    derivatives: Floats

    def __repr__(self) -> str:
        shown = ["%s %s" % (name, getattr(self, name).shape) for name in ("signal", "derivatives")
                 if getattr(self, name) is not None]
        given = next(a for a in self if a is not None)
        return "Estimates(%d samples%s)" % (len(given), "".join(", " + x for x in shown))

    def to_frame(self, names: Optional[Sequence[str]] = None) -> Any:
        """The estimates as a pandas DataFrame indexed by t.

        Parameters
        ----------
        names : sequence of str, optional
            The channels' names, for several channels (default "channel 1",
            "channel 2", ...).

        Returns
        -------
        pandas.DataFrame
            Columns u, signal, error, d1..dn for one channel; for several, a
            column group of the same for each (a MultiIndex: channel,
            quantity).
        """
        return _frames.to_frame(self, names=list(names) if names is not None else None)


def _gains_warned(gains: Sequence[float]) -> None:
    for c, g in enumerate(gains):
        text = _corvel.gain_warning(g, "gain=" if len(gains) == 1 else "gain[%d]=" % c)
        if text:
            warn(text, GainWarning)


def _said(notes: Sequence[Any]) -> None:
    for kind, _, text in notes:
        warn(text, NonFiniteWarning if kind == "non-finite" else GainWarning)


OUTPUTS = ("t", "u", "error", "signal", "derivatives")


def _outputs(outputs: Optional[Sequence[str]]) -> List[str]:
    if outputs is None:
        return list(OUTPUTS)
    names = [outputs] if isinstance(outputs, str) else list(outputs)
    for name in names:
        if name not in OUTPUTS:
            raise ValueError("outputs: %r is none of %s" % (name, ", ".join(OUTPUTS)))
    if not names:
        raise ValueError("outputs: give one output at least (of %s)" % ", ".join(OUTPUTS))
    return names


def _t(a: Optional[Floats]) -> Optional[Floats]:
    return None if a is None else a.T


Samples = Union["np.ndarray[Any, Any]", Sequence[float], Sequence[Sequence[float]]]


@overload
def estimate(u: Samples, dt: Optional[float] = None, gain: Gain = 20.0, order: int = 3, axis: int = 0, *,
             t: Any = None, noise: float = 0.0, snr: Optional[float] = None, seed: int = 1,
             time_tolerance: float = 1e-6, missing: str = "keep", outputs: Optional[Sequence[str]] = None
             ) -> Estimates: ...


@overload
def estimate(u: Any, dt: Optional[float] = None, gain: Gain = 20.0, order: int = 3, axis: int = 0, *,
             t: Any = None, noise: float = 0.0, snr: Optional[float] = None, seed: int = 1,
             time_tolerance: float = 1e-6, missing: str = "keep", outputs: Optional[Sequence[str]] = None) -> Any: ...


def estimate(u: Any, dt: Optional[float] = None, gain: Gain = 20.0, order: int = 3, axis: int = 0, *,
             t: Any = None, noise: float = 0.0, snr: Optional[float] = None, seed: int = 1,
             time_tolerance: float = 1e-6, missing: str = "keep", outputs: Optional[Sequence[str]] = None) -> Any:
    """The block over a whole record: the estimates for every sample.

    Parameters
    ----------
    u : array_like, pandas.Series or pandas.DataFrame
        A 1-D array of samples, or a 2-D array of channels (time along
        `axis`); each channel is the input of its own block, all in one model
        run, as corvel-sim runs a list of columns. A DataFrame's columns are
        its channels, its time column (datetime64, timedelta64, or named t or
        time) excepted; nullable numbers' ``pd.NA`` are missing samples.
    dt : float, optional
        The sample time (s): the block's step. Without it, the time stamps
        `t`, a DataFrame's time column or a DatetimeIndex give it.
    gain : float or sequence of float
        The gain L: larger follows faster and passes more noise. One for
        every channel, or one for each (each channel's block its own gain;
        the bits of that channel run alone).
    order : int
        The order n: how many derivatives, a whole number 1..10.
    axis : int
        The time axis of a 2-D array.
    t : array_like or str, optional
        Time stamps (s, or datetime64/timedelta64) instead of dt, held to a
        constant step within `time_tolerance` (relative); for a DataFrame,
        the name of its time column.
    noise : float
        The standard deviation of Gaussian noise added to every channel.
    snr : float, optional
        Instead of noise: the signal-to-noise ratio in dB (each channel's
        RMS). Both are seeded by `seed`, drawn as corvel-sim draws them.
    seed : int
        The noise's seed, 0 to 2**64 - 1.
    time_tolerance : float
        The relative deviation allowed in the step of time stamps.
    missing : {'keep', 'refuse', 'hold', 'interpolate'}
        What becomes of a NaN sample: 'keep' (the block is fed NaN, and
        every estimate after it is NaN, as in a model), 'refuse' (a
        ValueError naming the gap), 'hold' (the last sample repeated) or
        'interpolate' (a line across the gap); ``est.u`` holds what was fed.
    outputs : sequence of {'t', 'u', 'error', 'signal', 'derivatives'}, optional
        The outputs to give back (default all); those left out are never
        made (None in the Estimates), so ``outputs=["derivatives"]`` takes
        the memory of the derivatives alone.

    Returns
    -------
    Estimates or pandas.DataFrame
        Estimates (t, u, error, signal, derivatives): the numbers of
        corvel-sim's log columns t, u, e, z0, d1..dn. For a Series or
        DataFrame, a DataFrame on its index (see ``Estimates.to_frame``).

    Raises
    ------
    ValueError
        With the block's own message for a parameter it refuses ("Order of
        the differantiator must be a positive integer."), or for samples it
        cannot run on.
    TypeError
        For samples that are not real numbers.

    Warns
    -----
    GainWarning
        For a zero, negative or non-finite gain, and for a gain under which
        the block predicts a channel worse than repeating its last sample
        would (its error output after the first third against its change
        from one sample to the next).
    NonFiniteWarning
        For a channel's first NaN or infinite sample fed to the block.
    LayoutWarning
        For a 2-D array with fewer samples than channels along `axis`.
    """
    frame, rows, layout, times, step = _frames.record(u, axis, t, dt)
    gains = _arrays.gains(gain, rows.shape[1])
    noise = _arrays.number("noise", noise)
    if not (noise >= 0.0 and math.isfinite(noise)):
        raise ValueError("noise must be 0 or more, not %r" % noise)
    if snr is not None:
        snr = _arrays.number("snr", snr)
        if not math.isfinite(snr):
            raise ValueError("snr must be a finite number of dB, not %r" % snr)
        if noise != 0.0:
            raise ValueError("give noise or snr, not both")
    if isinstance(seed, bool) or not isinstance(seed, numbers.Integral) or not 0 <= seed < 2 ** 64:
        raise ValueError("seed must be a whole number from 0 to 2**64 - 1, not %r" % (seed,))
    order_value = _arrays.number("order", order)
    chosen = _outputs(outputs)
    _gains_warned(gains)
    out, notes = _corvel.estimate(rows, step, list(gains), order_value, times, noise, snr, int(seed),
                                  _arrays.number("time_tolerance", time_tolerance), layout == "1d",
                                  _arrays.missing_word(missing), frame.names if frame is not None else [],
                                  "corvel.tune(u, dt)", chosen)
    _said(notes)
    if layout == "columns":
        t_, u_, error, signal, derivatives = out
        out = (t_, _t(u_), _t(error), _t(signal), None if derivatives is None else derivatives.transpose(1, 0, 2))
    est = Estimates(*out)
    return frame.frame(est) if frame is not None else est
