"""The warnings the package gives where its numbers go wrong."""

__all__ = ["CorvelWarning", "GainWarning", "NonFiniteWarning", "LayoutWarning"]


class CorvelWarning(UserWarning):
    """Base of every warning corvel gives: ``warnings.filterwarnings("ignore",
    category=corvel.CorvelWarning)`` silences them all."""


class GainWarning(CorvelWarning):
    """A gain the block takes but cannot track with (zero, negative, not
    finite), or one that does not suit the record: the block predicts it
    worse than repeating the last sample would."""


class NonFiniteWarning(CorvelWarning):
    """A NaN or infinite sample fed to the block (``missing='keep'``): every
    estimate of its channel from there on is NaN. The message names the
    sample."""


class LayoutWarning(CorvelWarning):
    """A 2-D array whose time axis is shorter than its channel axis: most
    likely its axes are the other way round (give ``axis=1``)."""


def warn(text: str, category: type) -> None:
    """The warning, pointed at the caller's line outside this package."""
    import os
    import sys
    import warnings
    from types import FrameType
    from typing import Optional

    here = os.path.dirname(os.path.abspath(__file__))
    level = 2  # 1 is this function, 2 its caller
    frame: Optional[FrameType] = sys._getframe(1)
    while frame is not None and os.path.dirname(os.path.abspath(frame.f_code.co_filename)) == here:
        level += 1
        frame = frame.f_back
    warnings.warn(text, category, stacklevel=level)
