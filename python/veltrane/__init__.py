"""The dynamics of a network of two tanh neurons with bias: the pictures of
veltrane-render as numpy arrays, computed in this process, and figures of
them with axes and keys.

    import veltrane as vt
    r = vt.render("veltrane", w=(0.4, 1.9, -2.7, -4.311, -0.9, 1.8), pixels=800)
    r.image, r.classes, r.job
    vt.save(r, "out.png", classes="out.npy")
    vt.plot(r)                      # a matplotlib figure with axes and a key
"""
# Everything the compiled core offers, including functions bound after this
# file was written; the names below are those the package documents.
from ._core import *  # noqa: F401,F403
from ._core import (  # noqa: F401
    OrbitError,
    Result,
    UsageError,
    _set_run_seconds,
    continuation,
    cycles,
    modes,
    orbit,
    period,
    render,
    save,
    stability,
    trajectory,
)
from .drawing import figure_bytes, load, plot  # noqa: F401


def _repr_png_(self):
    """The figure of this result as PNG bytes, for notebooks."""
    return figure_bytes(self, "png")


Result._repr_png_ = _repr_png_
del _repr_png_
