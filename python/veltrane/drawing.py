"""Figures of renders: the picture as its own pixels on axes in the plane's
units, a title from the job and a key to its colours.

A figure is drawn from three things: the picture (uint8 N x N x 3), the
classes (what --classes writes) and the job record (the .json beside the
picture). A Result of render() carries all three; load() reads them back from
the files of any render, from the command line, an MPI job or save().

What differs between modes is one entry of MODES: the plane the picture lies
in and the key that explains its colours. A mode without an entry still gets
its picture and title, on axes counted in pixels.
"""
from __future__ import annotations

import io
import json
import math
import os
import pathlib
from dataclasses import dataclass
from typing import Callable, Optional

import numpy as np

from . import _core

PARAMETERS = ("w11", "w12", "w21", "w22", "b1", "b2")
NEURONS = ("x", "y")
# The class of a located fixed point in fpbas' classes.
FIXED_POINT_CLASS = 17


class MissingFile(FileNotFoundError):
    """A file a figure needs that is not there; the message says what to do."""


@dataclass
class Rendered:
    """A render read back from its files: the picture, the classes (None when
    the render wrote none) and the job record."""
    image: np.ndarray
    classes: Optional[np.ndarray]
    record: dict
    record_path: Optional[pathlib.Path] = None


def load(record: os.PathLike | str, classes: os.PathLike | str | None = None,
         picture: os.PathLike | str | None = None) -> Rendered:
    """Reads a render back from its job record (OUT.png.json): the picture is
    the record's name without ".json", the classes the file the record names,
    looked for as named and beside the record, unless given. Raises
    MissingFile naming a file that is not there, and ValueError for a record
    that is not veltrane-render's."""
    from PIL import Image

    path = pathlib.Path(record)
    try:
        text = path.read_text(encoding="utf-8")
    except FileNotFoundError:
        raise MissingFile(f"{path}: no such job record.") from None
    try:
        data = json.loads(text)
    except json.JSONDecodeError as e:
        raise ValueError(f"{path}: not a job record ({e.msg}, line {e.lineno}).") from None
    if not isinstance(data, dict) or not isinstance(data.get("mode"), str) \
            or not isinstance(data.get("options"), dict):
        raise ValueError(f"{path}: not a job record of veltrane-render "
                         "(it has no \"mode\" and \"options\").")

    if picture is None:
        if not path.name.endswith(".json"):
            raise ValueError(f"{path}: the record's name does not end in .json, so the picture "
                             "beside it is unknown.")
        picture = path.with_name(path.name[:-len(".json")])
        if data.get("picture") is None:
            raise MissingFile(f"{path}: this record has no picture (rendered with --json "
                              "alone); render it again with -o OUT.png.")
    picture = pathlib.Path(picture)
    if not picture.is_file():
        raise MissingFile(f"{picture}: the picture of {path} is missing.")
    with Image.open(picture) as opened:
        image = np.asarray(opened.convert("RGB"))

    named = data.get("classes")
    if classes is None and named is not None:
        for candidate in (pathlib.Path(named), path.parent / named,
                          path.parent / pathlib.Path(named).name):
            if candidate.is_file():
                classes = candidate
                break
        else:
            raise MissingFile(
                f"{path}: its classes file {named} is missing (looked for it as named and "
                f"beside the record); add it with --classes {pathlib.Path(named).name}.")
    array = None
    if classes is not None:
        if not pathlib.Path(classes).is_file():
            raise MissingFile(f"{classes}: no such classes file.")
        array = np.load(classes, allow_pickle=False)
        # The continuation's classes are per value and start, not per pixel:
        # its shape is steps x grid x grid.
        sweep = data.get("continuation")
        expected = ((len(sweep["values"]), int(sweep["grid"]), int(sweep["grid"]))
                    if isinstance(sweep, dict) and "values" in sweep and "grid" in sweep
                    else image.shape[:2])
        if array.shape[:len(expected)] != tuple(expected):
            raise ValueError(f"{classes}: its shape {array.shape} does not fit the picture's "
                             f"{image.shape[0]} x {image.shape[1]} pixels.")
    return Rendered(image, array, data, path)


# --- The plane a picture lies in ---------------------------------------------------------

@dataclass
class Plane:
    """The axes of a picture: the extent of its pixels (left, right, bottom,
    top, to the pixels' outer edges), the axis labels and the parameters
    shown on the axes (their indices in w)."""
    extent: tuple
    xlabel: str
    ylabel: str
    on_axes: tuple = ()


def _centred(low, high, pixels):
    """The outer edges of pixels whose centres run from low to high."""
    half = (high - low) / (pixels - 1) / 2 if pixels > 1 else 0.5
    return low - half, high + half


def state_plane(options, pixels):
    x0, x1, y0, y1 = options["region"]
    return Plane(_centred(x0, x1, pixels) + _centred(y0, y1, pixels), "x", "y")


def parameter_plane(options, pixels):
    left, right, bottom, top = options["range"]
    h, v = (int(i) for i in options["idx"])
    return Plane(_centred(left, right, pixels) + _centred(bottom, top, pixels),
                 PARAMETERS[h], PARAMETERS[v], (h, v))


def sweep_plane(options, pixels):
    """The orbit diagram: the swept parameter across, at the columns' values;
    the neuron's state up, counted into rows that divide the bounds."""
    k, left, right = options["sweep"]
    low, high = options["bounds"]
    return Plane(_centred(left, right, pixels) + (low, high), PARAMETERS[int(k)],
                 NEURONS[options.get("show") == "y"], (int(k),))


def fraction_plane(options, pixels):
    """The continuation: the swept parameter across, L at the left whatever
    the direction; the share of the starts up, stacked from 0 at the bottom."""
    k, left, right = options["sweep"]
    return Plane(_centred(left, right, pixels) + (0.0, 1.0), PARAMETERS[int(k)],
                 "fraction of the starts", (int(k),))


def pixel_plane(options, pixels):
    return Plane((-0.5, pixels - 0.5, pixels - 0.5, -0.5), "column", "row")


def lyapunov_plane(options, pixels):
    if options.get("plane") == "parameter":
        return parameter_plane(options, pixels)
    return state_plane(options, pixels)


# --- The keys ----------------------------------------------------------------------------

def _rgb(values):
    return tuple(v / 255 for v in values)


def _patch(colour, label):
    from matplotlib.patches import Patch
    return Patch(facecolor=_rgb(colour), edgecolor="0.5", linewidth=0.5, label=label)


def _most_common_colour(image, mask):
    colours, counts = np.unique(image[mask].reshape(-1, 3), axis=0, return_counts=True)
    return tuple(int(c) for c in colours[np.argmax(counts)])


def _needs(data):
    if data.classes is None:
        raise MissingFile(f"the key of {data.record['mode']} needs the classes: add them with "
                          "--classes FILE.npy (render with --classes to write them).")
    return data.classes


def _present(classes):
    return [int(c) for c in np.unique(classes)]


def period_entries(data):
    """periods: the classes present, in the palette's colours; 0 is none."""
    return "period", [_patch(_core.period_colour(k), str(k) if k else "none")
                      for k in _present(_needs(data))]


def fixed_point_entries(data):
    """fpbas: the periods present, and every located fixed point by its colour,
    which encodes where it lies; the place is read back from the colour."""
    classes = _needs(data)
    entries = [_patch(_core.period_colour(k), str(k) if k else "none")
               for k in _present(classes) if k != FIXED_POINT_CLASS]
    located = classes == FIXED_POINT_CLASS
    if located.any():
        colours, counts = np.unique(data.image[located].reshape(-1, 3), axis=0,
                                    return_counts=True)
        for colour in colours[np.argsort(-counts, kind="stable")]:
            x, y = fixed_point_of_colour(colour)
            entries.append(_patch(colour, f"fixed point ({x:.2f}, {y:.2f})"))
    return "period or fixed point", entries


def fixed_point_of_colour(colour):
    """Where a fixed point lies, from the colour fpbas gives its basin: red is
    250 u and blue 100 v + 100, with 6 u = 2 y + x + 3 and 6 v = 2 x - y + 3
    (to about 0.03, as the colour is rounded)."""
    u, v = colour[0] / 250, (colour[2] - 100) / 100
    a, b = 6 * u - 3, 6 * v - 3
    return (a + 2 * b) / 5, (2 * a - b) / 5


def count_entries(data):
    """coexisting: the counts of kinds of attractor present."""
    classes = _needs(data)
    entries = []
    for k in _present(classes):
        colour = _core.period_colour(k) if k <= 16 else \
            _most_common_colour(data.image, classes == k)
        entries.append(_patch(colour, str(k) if k else "none"))
    return "coexisting attractors", entries


def stability_entries(data):
    """stability: each combination of the four counts present, in the colour
    its dots have; nothing when only the curves are drawn."""
    if data.record["options"].get("curves-only"):
        return "bifurcation curves", []
    classes = _needs(data)
    counts = np.unique(classes.reshape(-1, classes.shape[-1]), axis=0)
    entries = [_patch(_core.stability_colour(int(a), int(a + s + r + n)),
                      f"{a}, {s}, {r}, {n}") for a, s, r, n in counts]
    return "fixed points:\nattracting, saddle,\nrepelling, non-hyperbolic", entries


def identity_entries(data):
    """continuation: every identity in its colour, named by its number and
    period, with the values where it was first and last seen."""
    sweep = data.record.get("continuation", {})
    entries = []
    for ident in sweep.get("identities", []):
        period = ident.get("period")
        what = f"period {period}" if isinstance(period, int) else "no period"
        parents = ident.get("parents") or []
        origin = (" from " + ", ".join(f"#{p}" for p in parents)) if parents else ""
        entries.append(_patch(ident["rgb"], f"#{ident['id']}: {what}, "
                              f"{_number(ident['first'])}..{_number(ident['last'])}{origin}"))
    return "attractor", entries


def marked_entries(data):
    """fixpt: the marked points in the pen's colour."""
    accuracy = data.record["options"].get("accuracy", 8)
    return "", [_patch(data.record["options"]["pen"],
                       f"moved less than 1e-{accuracy} by a step")]


def exponent_bar(data):
    """lyapunov: the record's colour bar, linear between its stops, white at 0."""
    from matplotlib.colors import LinearSegmentedColormap, Normalize
    bar = data.record["colour_bar"]
    low, high = bar["low"], bar["high"]
    stops = [((s["value"] - low) / (high - low), _rgb(s["rgb"])) for s in bar["stops"]]
    cmap = LinearSegmentedColormap.from_list("exponent", stops, N=1024)
    ticks = sorted({low, high} | ({0.0} if low < 0 < high else set()))
    return "largest Lyapunov exponent", cmap, Normalize(low, high), ticks


def density_bar(data):
    """orbit: states per pixel, logarithmic as the picture's scale is."""
    from matplotlib.colors import FuncNorm, ListedColormap
    most = int(data.record["colour_scale"]["most"])
    span = math.log1p(most)
    # The bar runs from one state to the most, at even steps of log(1 + count)
    # as the picture's scale does; each step takes the colour of the nearest
    # whole count.
    counts = np.rint(np.expm1(np.linspace(math.log1p(1), span, 256))).astype(np.int64)
    cmap = ListedColormap([_rgb(_core.orbit_density_colour(int(c), most)) for c in counts])

    def forward(c):
        return np.log1p(np.asarray(c, dtype=float)) / span

    def inverse(t):
        return np.expm1(np.asarray(t, dtype=float) * span)

    ticks = [1] + [10 ** e for e in range(1, int(math.log10(most)) + 1) if 10 ** e * 3 <= most]
    ticks = sorted(set(ticks) | {most})
    return "states per pixel", cmap, FuncNorm((forward, inverse), vmin=1, vmax=most), ticks


# Bifurcation curves by the record's name of their kind; a kind not named
# here is shown under its own name.
CURVE_NAMES = {
    "saddle-node": "fold (saddle-node)",
    "fold": "fold",
    "period-doubling": "flip (period doubling)",
    "flip": "flip",
    "neimark-sacker": "Neimark-Sacker",
}

CYCLE_MARKERS = {  # type: (marker, filled)
    "attracting": ("o", True),
    "saddle": ("o", False),
    "repelling": ("x", True),
    "non-hyperbolic": ("s", False),
}


def curve_handles(record):
    """A line for every kind of curve the record counts points of."""
    from matplotlib.lines import Line2D
    curves = record.get("curves")
    if not isinstance(curves, dict):
        return []
    handles = []
    for name, curve in curves.items():
        if isinstance(curve, dict) and curve.get("points") and "rgb" in curve:
            label = CURVE_NAMES.get(name, name)
            # Curves of cycles: the periods present; each period's curve is a
            # darker shade of the kind's colour the longer its period.
            periods = sorted(int(k) for k, v in (curve.get("periods") or {}).items()
                             if isinstance(v, dict) and v.get("points"))
            if periods and periods != [1]:
                label += (", period" if len(periods) == 1 else ", periods ") \
                    + ("" if len(periods) > 1 else " ") + ", ".join(map(str, periods)) \
                    + ("\n(darker: longer period)" if len(periods) > 1 else "")
            handles.append(Line2D([], [], color=_rgb(curve["rgb"]), linewidth=2, label=label))
    return handles


def cycle_handles(record):
    """The marks of the cycles' points, for the types present."""
    from matplotlib.lines import Line2D
    types = [c.get("type") for c in record.get("cycles") or [] if isinstance(c, dict)]
    handles = []
    for kind, (marker, filled) in CYCLE_MARKERS.items():
        if kind in types:
            handles.append(Line2D([], [], linestyle="none", marker=marker, markersize=6,
                                  color="black", markerfacecolor="black" if filled else "white",
                                  label=f"{kind} cycle point"))
    return handles


@dataclass(frozen=True)
class ModeFigure:
    """How a mode's picture is drawn: the plane it lies in (a function of the
    record's options and the pixel count) and its key: legend entries (a
    function giving a title and patches) or a colour bar (a function giving
    its label, colour map, norm and ticks)."""
    plane: Callable[[dict, int], Plane]
    entries: Optional[Callable] = None
    bar: Optional[Callable] = None


MODES: dict[str, ModeFigure] = {
    "veltrane": ModeFigure(state_plane, entries=period_entries),
    "fpbas": ModeFigure(state_plane, entries=fixed_point_entries),
    "fixpt": ModeFigure(state_plane, entries=marked_entries),
    "parametric": ModeFigure(parameter_plane, entries=period_entries),
    "coexisting": ModeFigure(parameter_plane, entries=count_entries),
    "lyapunov": ModeFigure(lyapunov_plane, bar=exponent_bar),
    "stability": ModeFigure(parameter_plane, entries=stability_entries),
    "cycles": ModeFigure(state_plane, entries=period_entries),
    "orbit": ModeFigure(sweep_plane, bar=density_bar),
    "continuation": ModeFigure(fraction_plane, entries=identity_entries),
}
GENERIC = ModeFigure(pixel_plane)


def _number(v):
    return f"{v:g}"


def title_of(record, plane):
    """The mode and the parameters that are not on the axes."""
    w = record["options"].get("w")
    shown = [f"{name} = {_number(v)}" for i, (name, v) in enumerate(zip(PARAMETERS, w or ()))
             if i not in plane.on_axes]
    return record["mode"] + ("\n" + ", ".join(shown) if shown else "")


def _data_of(result):
    if isinstance(result, Rendered):
        return result
    if isinstance(result, _core.Result):
        return Rendered(np.asarray(result.image), np.asarray(result.classes),
                        _core.record(result))
    raise TypeError("plot: expects a veltrane.Result or what veltrane.load returns, not "
                    + type(result).__name__)


def sweep_exponents(record):
    """The largest exponent of the orbit diagram's orbit from x0, column for
    column: the Lyapunov picture over the swept parameter, with the other
    axis held at its value, so that its columns are the diagram's."""
    options = record["options"]
    k, left, right = options["sweep"]
    k = int(k)
    other = 5 if k != 5 else 4
    w = list(options["w"])
    r = _core.render("lyapunov", plane="parameter", w=w, idx=(k, other),
                     range=(left, right, w[other], w[other]), x0=options["x0"],
                     iterations=options["iterations"], pixels=options["pixels"])
    return np.asarray(r.classes)[0]


def plot(result, ax=None, *, title=None, key=True, with_exponent=False, **style):
    """Draws a render as a figure and returns the axes of its picture.

    result: a Result of render(), or what load() reads from a render's files.
    ax: the matplotlib axes to draw into; a new pyplot figure when None.
    title: the title; by default the mode and the parameters that are not on
        the axes. "" for none.
    key: False leaves the key out (the legend or colour bar).
    with_exponent: for the orbit diagram, the largest Lyapunov exponent of
        the orbit from x0 beneath it, column for column (computed here: one
        Lyapunov picture of the same size).
    style: passed on to imshow (for example alpha, zorder); the picture is
        always drawn as its own pixels (interpolation "none", no resampling),
        so that a PDF or SVG holds exactly the rendered raster.

    Axes are in the plane's own units (the state x, y or the parameters w11
    ... b2), oriented as the picture is.
    """
    data = _data_of(result)
    record = data.record
    mode = record["mode"]
    drawn = MODES.get(mode, GENERIC)
    pixels = data.image.shape[1]
    plane = drawn.plane(record["options"], pixels)

    if ax is None:
        import matplotlib.pyplot as plt
        figure = plt.figure(figsize=(6.4, 6.4 if with_exponent else 4.8), layout="constrained")
        ax = figure.add_subplot()
    figure = ax.figure
    below = None
    if with_exponent:
        if mode != "orbit":
            raise ValueError("with_exponent: only the orbit diagram has an exponent beneath.")
        below = _split_for_exponent(ax)
        ax = below._veltrane_above

    style = dict(style)
    style.update(interpolation="none", resample=False, origin="upper")
    style.setdefault("aspect", "auto")
    picture = ax.imshow(data.image, extent=plane.extent, **style)
    picture._veltrane_picture = data.image
    ax.set_xlabel(plane.xlabel)
    ax.set_ylabel(plane.ylabel)
    ax.set_title(title_of(record, plane) if title is None else title, fontsize="medium")

    if key:
        if drawn.bar is not None:
            from matplotlib.cm import ScalarMappable
            label, cmap, norm, ticks = drawn.bar(data)
            bar = figure.colorbar(ScalarMappable(norm=norm, cmap=cmap), ax=ax, label=label,
                                  shrink=0.9)
            bar.set_ticks(ticks)
            bar.set_ticklabels([_number(t) for t in ticks])
        heading, entries = drawn.entries(data) if drawn.entries else ("", [])
        entries = entries + curve_handles(record) + cycle_handles(record)
        if entries:
            ax.legend(handles=entries, title=heading or None, loc="upper left",
                      bbox_to_anchor=(1.02, 1), borderaxespad=0, fontsize="small",
                      title_fontsize="small", ncols=max(1, math.ceil(len(entries) / 24)))

    if below is not None:
        exponents = sweep_exponents(record)
        k, left, right = record["options"]["sweep"]
        columns = left + (right - left) * np.arange(pixels) / (pixels - 1)
        shown = np.where(np.isfinite(exponents), exponents, np.nan)
        below.axhline(0, color="0.6", linewidth=0.8)
        below.plot(columns, shown, color="black", linewidth=0.7)
        below.set_ylabel("largest exponent")
        below.set_xlabel(plane.xlabel)
        ax.tick_params(labelbottom=False)
        ax.set_xlabel("")
    return ax


def _split_for_exponent(ax):
    """Replaces ax by two axes in its place, the picture's above the
    exponent's, sharing the horizontal axis; returns the lower one, which
    knows the upper one."""
    figure = ax.figure
    if hasattr(ax, "get_subplotspec") and ax.get_subplotspec() is not None:
        cell = ax.get_subplotspec()
        ax.remove()
        rows = cell.subgridspec(2, 1, height_ratios=[3, 1], hspace=0.05)
        above = figure.add_subplot(rows[0])
        below = figure.add_subplot(rows[1], sharex=above)
    else:
        from mpl_toolkits.axes_grid1 import make_axes_locatable
        above = ax
        below = make_axes_locatable(ax).append_axes("bottom", size="35%", pad=0.5, sharex=ax)
    below._veltrane_above = above
    return below


def figure_bytes(result, format="png", dpi=100, **options):
    """The figure of a render in a file format ("png", "pdf", "svg") as bytes."""
    from matplotlib.figure import Figure
    figure = Figure(layout="constrained")
    plot(result, figure.add_subplot(), **options)
    out = io.BytesIO()
    save(figure, out, format, dpi)
    return out.getvalue()


def save(figure, target, format, dpi):
    """Saves a figure of plot() so that a vector format holds each picture's
    rows in the picture's order: PDF stores an image bottom row first, so
    there the picture is given to it upside down and drawn from the bottom."""
    pictures = [image for ax in figure.axes for image in ax.get_images()
                if getattr(image, "_veltrane_picture", None) is not None]
    for image in pictures:
        upside_down = format == "pdf"
        image.set_data(image._veltrane_picture[::-1] if upside_down else image._veltrane_picture)
        image.origin = "lower" if upside_down else "upper"
    with matplotlib_settings():
        figure.savefig(target, format=format, dpi=dpi)


def matplotlib_settings():
    import matplotlib
    return matplotlib.rc_context(SAVE_SETTINGS)


# Text stays text: fonts embedded whole in PDF, glyphs as text in SVG.
SAVE_SETTINGS = {"pdf.fonttype": 42, "svg.fonttype": "none", "image.composite_image": False}
