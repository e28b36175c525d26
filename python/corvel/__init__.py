"""corvel: the corvel differentiator block on numpy arrays and pandas frames.

The block estimates a sampled signal u and its first n time derivatives
(n = 1..10) with a discrete-time differentiator of order n. This package runs
the block itself: the same MEX file, through the same simulation engine as
corvel-sim, so its numbers are, bit for bit, those the block gives in a model
and in corvel-sim's logs.

The estimator is causal: each estimate uses the samples before it only (a
one-step prediction), so it lags a little; it is what an online estimate in a
model sees.

    estimate(u, dt, gain, order)       a whole record, one block per channel
    Differentiator(dt, gain, order)    a running block, fed samples as they come
    tune(u, dt)                        the order and gain chosen from the data alone
    signal(kind, duration, dt)         built-in signals with their true derivatives

Arrays are converted to C-ordered native float64 (a copy when they are not
already so: big-endian, strided, read-only or integer arrays are taken);
complex, boolean, object and text arrays are refused with TypeError. A pandas
Series or DataFrame gives a DataFrame of estimates on its index. NaN and
infinite samples behave as in the block: a NaN makes every estimate NaN from
the next sample on (a NonFiniteWarning says where). Where numbers go wrong,
the package warns with a CorvelWarning (GainWarning, NonFiniteWarning,
LayoutWarning), which the warnings module filters.

Every call into the block runs with the interpreter's lock released, on a
copy of the block's kernel that no other call is in at the time (the kernel
keeps module-wide state): threads with objects of their own run side by side,
each getting its own bits.
"""

import atexit as _atexit
import os as _os

from . import _corvel
from ._estimate import Estimates, estimate
from ._signal import Signal, signal
from ._stream import Differentiator
from ._tune import Tuning, tune
from ._warnings import CorvelWarning, GainWarning, LayoutWarning, NonFiniteWarning

__all__ = ["Estimates", "estimate", "Differentiator", "tune", "Tuning", "signal", "Signal", "CorvelWarning",
           "GainWarning", "NonFiniteWarning", "LayoutWarning"]
__version__ = "0.1.0"

_corvel.load(_os.path.join(_os.path.dirname(_os.path.abspath(__file__)), "corvel.mexa64"))
# As the interpreter ends, the block takes no more calls: a daemon thread
# inside it stops at its next look, and none is inside the MEX file at exit.
_atexit.register(_corvel.close)
