"""Built-in signals with their true derivatives."""
from typing import Sequence

import numpy as np

from ._arrays import Floats
from . import _arrays, _corvel


class Signal:
    """A built-in signal sampled from 0.

    Attributes
    ----------
    t : numpy.ndarray
        The time of each sample (s).
    u : numpy.ndarray
        The signal.
    truth : numpy.ndarray
        ``truth[:, 0]`` is u, ``truth[:, j]`` its j-th derivative, j = 1..10,
        exact to rounding.
    """

    __slots__ = ("t", "u", "truth")

    def __init__(self, t: Floats, u: Floats, truth: Floats) -> None:
        self.t = t
        self.u = u
        self.truth = truth

    def __repr__(self) -> str:
        step = self.t[1] - self.t[0] if len(self.t) > 1 else float("nan")
        return "Signal(%d samples every %.6g s, with its value and 10 derivatives in truth)" % (len(self.t), step)


def signal(kind: str = "sine", duration: float = 10.0, dt: float = 0.01, amplitude: float = 1.0,
           frequency: float = 1.0, phase: float = 0.0, end_frequency: float = 5.0,
           coefficients: Sequence[float] = (1.0, 1.0, -0.5, 0.25)) -> Signal:
    """A built-in signal with its true derivatives, as corvel-sim makes it.

    Parameters
    ----------
    kind : {'sine', 'poly', 'chirp', 'expsin'}
        "sine" (A sin(2 pi f t + phase)), "poly" (c0 + c1 t + c2 t^2 + ...),
        "chirp" (f to end_frequency over the duration) or "expsin"
        (A e^t sin 5t).
    duration, dt : float
        Sampled every dt seconds from 0 for `duration` seconds.
    amplitude, frequency, phase, end_frequency : float
        The sine's and chirp's A, f (Hz), phase (rad) and the chirp's last f.
    coefficients : sequence of float
        The polynomial's c0, c1, ...

    Returns
    -------
    Signal
        t, u and truth.
    """
    out = _corvel.signal(str(kind), _arrays.number("duration", duration), _arrays.step(dt),
                         _arrays.number("amplitude", amplitude), _arrays.number("frequency", frequency),
                         _arrays.number("phase", phase), _arrays.number("end_frequency", end_frequency),
                         [_arrays.number("coefficients", c) for c in coefficients])
    return Signal(out["t"], out["u"], out["truth"])
