"""The order and gain chosen from the data alone: tune() and its Tuning."""
import math
from typing import Any, Dict, List, Optional, Sequence, Tuple

from . import _arrays, _corvel, _frames


class Tuning:
    """What tune() chose.

    Attributes
    ----------
    order, gain : int, float
        The recommendation. For several channels: one order and gain for
        all, each run scored by the sum of the channels' error RMS each over
        its RMS about its mean.
    table : list of dict
        A row for each order: order, gain (its best), error_rms (or the
        joint score), flat_from, runs (every (gain, score) tried).
    channels : list of Tuning
        For several channels, each channel's own Tuning; else empty.
    runs : int
        Block runs made.
    warmup_end : float
        The time (s) from which the error RMS counts.
    """

    __slots__ = ("order", "gain", "table", "channels", "runs", "warmup_end")

    def __init__(self, result: Dict[str, Any]) -> None:
        self.order: int = result["order"]
        self.gain: float = result["gain"]
        self.table: List[Dict[str, Any]] = result["orders"]
        self.runs: int = result["runs"]
        self.warmup_end: float = result["warmup_end"]
        self.channels: List["Tuning"] = [Tuning(dict(c, channels=[])) for c in result.get("channels", [])]

    def gain_at(self, order: int) -> float:
        """The best gain this tuning found for one order.

        Parameters
        ----------
        order : int
            One of the orders searched (a row of `table`).

        Returns
        -------
        float
            That order's best gain.
        """
        for row in self.table:
            if row["order"] == order:
                return float(row["gain"])
        raise ValueError("order %r was not searched (orders %s)" % (order, [r["order"] for r in self.table]))

    @property
    def per_channel(self) -> Dict[str, Any]:
        """The recommended order with each channel's own best gain at it, as
        keywords for ``estimate(u, dt, **choice.per_channel)`` or
        ``Differentiator(dt, **choice.per_channel, channels=...)``; for one
        channel, its order and gain."""
        if not self.channels:
            return {"order": self.order, "gain": self.gain}
        return {"order": self.order, "gain": [c.gain_at(self.order) for c in self.channels]}

    @property
    def for_all(self) -> Dict[str, Any]:
        """The one order and gain for every channel, as keywords for
        ``estimate(u, dt, **choice.for_all)``."""
        return {"order": self.order, "gain": self.gain}

    def __repr__(self) -> str:
        return "Tuning(order=%d, gain=%.6g, %d orders, %d block runs%s)" % (
            self.order, self.gain, len(self.table), self.runs,
            ", %d channels" % len(self.channels) if self.channels else "")


def tune(u: Any, dt: Optional[float] = None, orders: Sequence[int] = range(1, 6),
         gains: Optional[Tuple[float, float]] = None, jobs: int = 1, axis: int = 0, *, t: Any = None,
         warmup: Optional[float] = None, time_tolerance: float = 1e-6, missing: str = "keep") -> Tuning:
    """The order and gain chosen from the data alone, as corvel-sim tune does.

    For each order, the gain whose block run gives the smallest RMS of the
    error output (the one-step prediction error) after the warm-up; the
    recommended order is the one with the smallest. The same search and
    score as corvel-sim tune, with the same numbers on the same samples.

    Parameters
    ----------
    u : array_like, pandas.Series or pandas.DataFrame
        The samples, as estimate() takes them.
    dt : float, optional
        The sample time (s), unless time stamps give it.
    orders : sequence of int
        Consecutive whole numbers within 1..10 (a range).
    gains : (float, float), optional
        (low, high): search only there; None: the search's own range.
    jobs : int
        Worker processes for the block runs (the result is the same).
    axis : int
        The time axis of a 2-D array.
    t : array_like or str, optional
        Time stamps, or a DataFrame's time column, as estimate() takes them.
    warmup : float, optional
        Seconds left out of the score (default: the first third).
    time_tolerance : float
        The relative deviation allowed in the step of time stamps.
    missing : {'keep', 'refuse', 'hold', 'interpolate'}
        NaN samples: as estimate takes them ('hold' or 'interpolate' fill
        them; tuning refuses NaN).

    Returns
    -------
    Tuning
        The recommendation, each order's table and, for several channels,
        each channel's own (``per_channel`` gives each channel its gain).

    Raises
    ------
    ValueError
        For data it cannot tune on (NaN samples, a constant channel, a record
        no longer than the warm-up) and parameters out of range.
    """
    _, rows, _, times, step = _frames.record(u, axis, t, dt)
    try:
        wanted = sorted(int(o) for o in orders)
    except (TypeError, ValueError):
        raise TypeError("orders must be whole numbers, not %r" % (orders,))
    if not wanted or wanted[0] < 1 or wanted[-1] > 10 or wanted != list(range(wanted[0], wanted[-1] + 1)) or any(
            o != int(o) for o in orders):
        raise ValueError("orders must be consecutive whole numbers within 1..10, not %r" % (orders,))
    low = high = 0.0
    if gains is not None:
        low, high = (_arrays.number("gains", g) for g in gains)
        if not (low * high > 0 and math.isfinite(low) and math.isfinite(high) and low < high):
            raise ValueError("gains must be (low, high) of one sign, low < high, not %r" % (gains,))
    jobs = _arrays.whole("jobs", jobs, 1, 256)
    warmup_s = -1.0 if warmup is None else _arrays.number("warmup", warmup)
    if warmup_s != -1.0 and not (warmup_s >= 0.0 and math.isfinite(warmup_s)):
        raise ValueError("warmup must be 0 or more seconds, not %r" % warmup_s)
    return Tuning(_corvel.tune(rows, step, wanted[0], wanted[-1], low, high, jobs, warmup_s, times,
                               _arrays.number("time_tolerance", time_tolerance), _arrays.missing_word(missing)))
