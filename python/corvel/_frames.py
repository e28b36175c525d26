"""pandas in and out. pandas is imported only when a caller gives a pandas
object or asks for one: the package runs without it.

Which column of a DataFrame is its time: the one `t` names; else a column of
datetime64 or timedelta64, or one named t or time (any case). Such a column
is never a signal. Without a time column, a DatetimeIndex or TimedeltaIndex
gives the time stamps when dt is not given."""
from typing import Any, List, Optional, Tuple

import numpy as np

from . import _arrays
from ._arrays import Floats

TIME_NAMES = ("t", "time")


def is_pandas(x: Any) -> bool:
    return type(x).__module__.split(".")[0] == "pandas"


def _pandas() -> Any:
    try:
        import pandas
    except ImportError as missing:
        raise ImportError("corvel: a DataFrame needs pandas (Debian: python3-pandas)") from missing
    return pandas


def _is_time_dtype(dtype: Any) -> bool:
    return getattr(dtype, "kind", "") in "mM"


def _floats(pd: Any, values: Any, name: str) -> Floats:
    """A column's numbers, pd.NA and NaT-free nullable numbers as NaN."""
    dtype = values.dtype
    if pd.api.types.is_bool_dtype(dtype) or not pd.api.types.is_numeric_dtype(dtype):
        raise TypeError("%s must be real numbers, not of %s" % (name, dtype))
    if pd.api.types.is_complex_dtype(dtype):
        raise TypeError("%s must be real: the block takes real samples, not %s" % (name, dtype))
    return np.asarray(values.to_numpy(dtype=np.float64, na_value=np.nan), dtype=np.float64)


def _seconds(pd: Any, stamps: Any) -> Any:
    """Time stamps as a time column or index holds them: datetime-like ones
    (time-zone aware included) as their time from the first, else as they are."""
    if _is_time_dtype(stamps.dtype) and len(stamps) > 0:
        first = stamps.iloc[0] if isinstance(stamps, pd.Series) else stamps[0]
        return (stamps - first).to_numpy(dtype="timedelta64[ns]")
    return stamps.to_numpy()


class FrameIn:
    """A Series or DataFrame taken apart: its samples (rows x channels, or
    1-D), its time stamps when it has some, its channels' names and index."""

    def __init__(self, u: Any, t: Any, dt: Any) -> None:
        pd = _pandas()
        self.index = u.index
        self.t: Any = t
        if isinstance(u, pd.Series):
            self.names: List[str] = []
            self.series_name = u.name
            self.samples: Floats = _floats(pd, u, "the Series %r" % (u.name,) if u.name is not None else "u")
        elif isinstance(u, pd.DataFrame):
            time = self._time_column(u, t)  # its place among the columns
            if time is not None:
                self.t = _seconds(pd, u.iloc[:, time]) if dt is None else None
            signals = [i for i in range(u.shape[1]) if i != time]
            if not signals:
                raise ValueError("u: the DataFrame has no column but its time %r" % (u.columns[time],))
            self.names = [str(u.columns[i]) for i in signals]
            self.series_name = None
            self.samples = np.column_stack([_floats(pd, u.iloc[:, i], "column %r" % (u.columns[i],)) for i in signals])
        else:
            raise TypeError("u must be an array, a Series or a DataFrame, not %s" % type(u).__name__)
        if self.t is None and dt is None and isinstance(u.index, (pd.DatetimeIndex, pd.TimedeltaIndex)):
            self.t = _seconds(pd, u.index)

    @staticmethod
    def _time_column(u: Any, t: Any) -> Optional[int]:
        names = list(u.columns)
        if isinstance(t, str):
            if names.count(t) != 1:
                raise ValueError("t=%r names %s of the DataFrame (%s)" % (
                    t, "no column" if t not in names else "more than one column", ", ".join(map(str, names))))
            return names.index(t)
        if t is not None:
            return None
        for i, c in enumerate(names):
            if _is_time_dtype(u.iloc[:, i].dtype) or (isinstance(c, str) and c.lower() in TIME_NAMES):
                return i
        return None

    def frame(self, est: Any) -> Any:
        """The estimates as a DataFrame on the caller's index."""
        return to_frame(est, index=self.index, names=self.names or None, with_input=False)


def record(u: Any, axis: int, t: Any, dt: Any) -> Tuple[Optional[FrameIn], Floats, str, Optional[Floats], float]:
    """The samples a call is given, as an array or a pandas object: the frame
    taken apart (None for an array), rows of time x channels, their layout,
    their time stamps (or None) and their step."""
    frame = FrameIn(u, t, dt) if is_pandas(u) else None
    if frame is not None:
        u, t = frame.samples, frame.t
    if t is None and dt is None:
        raise ValueError("dt must be given: the sample time in seconds (or t, the time stamps)")
    rows, layout, times, step = _arrays.record("u", u, axis, t, dt)
    return frame, rows, layout, times, step


def to_frame(est: Any, index: Any = None, names: Optional[List[str]] = None, with_input: bool = True) -> Any:
    """A DataFrame of estimates: u (when `with_input`), signal, error and
    d1..dn for one channel; a column group of the same for each of several
    (a MultiIndex: channel, quantity). Outputs left out (None) have no
    columns. Its index is `index`, else t (else the sample's number)."""
    pd = _pandas()
    if index is None:
        index = pd.Index(est.t, name="t") if est.t is not None else pd.RangeIndex(len(next(a for a in est
                                                                                          if a is not None)))
    rows = len(index)
    kept = [(name, np.asarray(getattr(est, name))) for name in (["u"] if with_input else []) + ["signal", "error"]
            if getattr(est, name) is not None]
    derivatives = None if est.derivatives is None else np.asarray(est.derivatives)
    first = kept[0][1] if kept else derivatives
    one = first is not None and first.ndim == (2 if first is derivatives else 1)
    across = first is not None and not one and first.shape[0] != rows  # time along axis 1 (axis=1 given)
    kept = [(name, a[:, None] if one else a.T if across else a) for name, a in kept]
    if derivatives is not None:
        derivatives = derivatives[:, None, :] if one else derivatives.transpose(1, 0, 2) if across else derivatives
    width = 0 if derivatives is None else derivatives.shape[-1]
    channels = kept[0][1].shape[1] if kept else (0 if derivatives is None else derivatives.shape[1])
    quantities = [name for name, _ in kept] + ["d%d" % (j + 1) for j in range(width)]
    columns = []
    for c in range(channels):
        columns += [a[:, c] for _, a in kept] + ([derivatives[:, c, j] for j in range(width)] if derivatives is not None else [])
    data = np.column_stack(columns) if columns else np.empty((rows, 0))
    if one:
        return pd.DataFrame(data, index=index, columns=quantities)
    names = names or ["channel %d" % (c + 1) for c in range(channels)]
    header = pd.MultiIndex.from_product([names, quantities], names=["channel", "quantity"])
    return pd.DataFrame(data, index=index, columns=header)
