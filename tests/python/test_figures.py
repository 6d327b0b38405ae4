"""Figures of renders: vt.plot and veltrane-figure against the render's own
files. The picture a PDF embeds must be the render's pixels, and the key must
name exactly what the picture holds.

Run with PYTHONPATH=build/python; the programs are found in the build tree.
"""
import base64
import io
import json
import math
import os
import pathlib
import re
import shutil
import subprocess

import numpy as np
import pytest
from PIL import Image

import veltrane as vt

BUILD = pathlib.Path(vt.__file__).resolve().parents[2]
RENDERER = pathlib.Path(os.environ.get("VELTRANE_RENDER", BUILD / "render" / "veltrane-render"))
FIGURE = pathlib.Path(os.environ.get("VELTRANE_FIGURE", BUILD / "python" / "veltrane-figure"))
CHAOTIC = ["4", "-4.1", "2.65", "-2.85", "1.75", "2.9"]

needs_tools = pytest.mark.skipif(
    not RENDERER.exists() or not FIGURE.exists() or not shutil.which("pdfimages")
    or not shutil.which("pdftotext"), reason="needs veltrane-render, veltrane-figure, poppler")

# mode, options, axis labels, what the key must say (beyond the classes)
MODES = [
    ("veltrane", [], ("x", "y"), ["period"]),
    ("fpbas", ["--w", "2", "0", "0", "0.5", "0", "0"], ("x", "y"), ["fixed point"]),
    ("fixpt", ["--pen", "255", "0", "0", "--accuracy", "2"], ("x", "y"), ["moved less than"]),
    ("parametric", ["--curves", "--idx", "0", "3", "--range", "-3", "3", "-3", "3"],
     ("w11", "w22"), ["period"]),
    ("coexisting", ["--start-values", "3", "--iterations", "200"], ("b1", "b2"),
     ["coexisting attractors"]),
    ("lyapunov", ["--plane", "parameter", "--w"] + CHAOTIC
     + ["--range", "-0.5", "2", "1", "3", "--x0", "0.1", "0.2", "--iterations", "200",
        "--lyapunov-steps", "200"], ("b1", "b2"), ["largest Lyapunov exponent"]),
    ("stability", ["--w", "0", "-1.2", "1.2", "0", "0.1", "-0.1", "--idx", "0", "3",
                   "--range", "-3", "3", "-3", "3"], ("w11", "w22"), ["attracting"]),
    ("cycles", ["--seeds", "6", "--max-period", "8", "--iterations", "300"], ("x", "y"),
     ["period", "cycle point"]),
    ("orbit", ["--w"] + CHAOTIC + ["--x0", "0.1", "0.2", "--sweep", "4", "2", "-0.5",
                                   "--points", "60", "--show", "y"], ("b1", "y"),
     ["states per pixel"]),
    ("continuation", ["--w", "0.5", "0", "0", "1.5", "0", "0", "--sweep", "0", "0.5", "2",
                      "--steps", "11", "--grid", "20"], ("w11", "fraction of the starts"),
     ["attractor", "#0: period 1", "from #0", "from #1"]),
]
PERIOD_MODES = {"veltrane", "parametric", "cycles"}


def render(tmp_path, mode, options, pixels=41):
    picture = tmp_path / f"{mode}.png"
    done = subprocess.run([str(RENDERER), mode, *options, "--pixels", str(pixels), "-q",
                           "-o", str(picture), "--classes", str(tmp_path / f"{mode}.npy")],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return picture


def figure(*args):
    return subprocess.run([str(FIGURE), *map(str, args)], capture_output=True, text=True)


def pixels_of(path):
    return np.asarray(Image.open(path).convert("RGB"))


def key_labels(ax):
    legend = ax.get_legend()
    return [t.get_text() for t in legend.get_texts()] if legend else []


@needs_tools
@pytest.mark.parametrize("mode,options,labels,key", MODES, ids=[m[0] for m in MODES])
def test_the_figure_of_every_mode_embeds_the_picture_and_names_its_key(
        mode, options, labels, key, tmp_path):
    picture = render(tmp_path, mode, options)
    pdf = tmp_path / "figure.pdf"
    done = figure(f"{picture}.json", "-o", pdf, "--size", 7, 5)
    assert done.returncode == 0, done.stderr

    # One image of the picture's size (a colour bar may be another), and it
    # is the render's pixels.
    subprocess.run(["pdfimages", "-png", str(pdf), str(tmp_path / "embedded")], check=True)
    expected = pixels_of(picture)
    embedded = [pixels_of(p) for p in sorted(tmp_path.glob("embedded-*.png"))]
    same_size = [e for e in embedded if e.shape == expected.shape]
    assert len(same_size) == 1
    assert np.array_equal(same_size[0], expected)

    # An SVG holds the same pixels, as a PNG of its own.
    svg = tmp_path / "figure.svg"
    assert figure(f"{picture}.json", "-o", svg).returncode == 0
    inlined = [pixels_of(io.BytesIO(base64.b64decode(m))) for m in
               re.findall(r"data:image/png;base64,([A-Za-z0-9+/=\s]+)", svg.read_text())]
    assert [i for i in inlined if np.array_equal(i, expected)]

    text = subprocess.run(["pdftotext", str(pdf), "-"], capture_output=True, text=True,
                          check=True).stdout
    words = text.split()
    for label in labels:
        assert label in (words if " " not in label else " ".join(words)), \
            f"axis label {label!r} not in {words}"
    for phrase in key:
        assert phrase in " ".join(words)

    # The same figure drawn in Python: the key's entries are what the
    # classes hold, and the axes are the plane's.
    data = vt.load(f"{picture}.json")
    ax = vt.plot(data)
    assert (ax.get_xlabel(), ax.get_ylabel()) == labels
    classes = np.load(tmp_path / f"{mode}.npy")
    entries = key_labels(ax)
    if mode in PERIOD_MODES:
        periods = [p for p in entries if p == "none" or p.isdigit()]
        assert periods == [str(c) if c else "none" for c in np.unique(classes)]
        for entry in periods:
            assert entry in words
    if mode == "stability":
        counts = {", ".join(map(str, c)) for c in np.unique(classes.reshape(-1, 4), axis=0)}
        assert set(entries) - counts <= {"fold (saddle-node)", "flip (period doubling)",
                                         "Neimark-Sacker"}
        assert counts <= set(entries)


@needs_tools
def test_a_figure_follows_the_orientation_of_its_plane(tmp_path):
    # The sweep runs from 2 at the left to -0.5 at the right: so does the axis.
    picture = render(tmp_path, "orbit", next(m[1] for m in MODES if m[0] == "orbit"))
    ax = vt.plot(vt.load(f"{picture}.json"))
    left, right = ax.get_xlim()
    assert left > right and math.isclose(left, 2 + 2.5 / 40 / 2)
    assert ax.get_ylim() == (-1, 1)
    # A state plane's pixel centres run from the region's one edge to the other.
    r = vt.render("veltrane", pixels=5, region=(0, 1, -2, 2))
    ax = vt.plot(r)
    assert ax.get_xlim() == pytest.approx((-0.125, 1.125))
    assert ax.get_ylim() == pytest.approx((-2.5, 2.5))
    assert "b1 = -0.9" in ax.get_title() and "veltrane" in ax.get_title()


def test_the_located_fixed_points_are_named_where_they_lie():
    # x' = tanh(2x), y' = tanh(0.5y): attracting fixed points at (+-r, 0) with
    # r = tanh(2r) = 0.9575...
    r = vt.render("fpbas", w=(2, 0, 0, 0.5, 0, 0), pixels=40)
    located = [e for e in key_labels(vt.plot(r)) if e.startswith("fixed point")]
    assert len(located) == 2
    root = 0.9575040240772688
    places = sorted(tuple(map(float, e[len("fixed point ("):-1].split(", "))) for e in located)
    assert places[0] == pytest.approx((-root, 0), abs=0.03)
    assert places[1] == pytest.approx((root, 0), abs=0.03)


def test_the_exponent_beneath_the_orbit_diagram_is_its_columns():
    # x' = tanh(0.5x + b1), y' = 0: at b1 = 0 the fixed point is 0 and the
    # largest exponent log 0.5; the middle column of a sweep -0.5..0.5 is b1 = 0.
    r = vt.orbit(w=(0.5, 0, 0, 0, 0, 0), sweep=(4, -0.5, 0.5), pixels=21, points=20,
                 start_values=1, x0=(0.1, 0.2))
    ax = vt.plot(r, with_exponent=True)
    below = [a for a in ax.figure.axes if a is not ax and a.get_lines()][0]
    x, y = below.get_lines()[-1].get_data()
    assert len(x) == 21 and x[10] == pytest.approx(0)
    assert y[10] == pytest.approx(math.log(0.5), abs=1e-6)  # classes are float32
    assert np.all(np.diff(y[:11]) > 0) and np.all(np.diff(y[10:]) < 0)
    with pytest.raises(ValueError, match="orbit"):
        vt.plot(vt.render("veltrane", pixels=8), with_exponent=True)


def test_a_result_shows_itself_as_png():
    png = vt.render("lyapunov", pixels=16, iterations=50, lyapunov_steps=50)._repr_png_()
    assert png.startswith(b"\x89PNG\r\n\x1a\n")


def test_a_mode_without_an_entry_gets_its_picture_without_a_key(tmp_path):
    r = vt.render("veltrane", pixels=12)
    vt.save(r, tmp_path / "x.png", classes=tmp_path / "x.npy")
    record = json.loads((tmp_path / "x.png.json").read_text())
    record["mode"] = "a-mode-added-later"
    (tmp_path / "x.png.json").write_text(json.dumps(record))
    ax = vt.plot(vt.load(tmp_path / "x.png.json"))
    assert ax.get_legend() is None and (ax.get_xlabel(), ax.get_ylabel()) == ("column", "row")
    assert np.array_equal(ax.get_images()[0].get_array(), r.image)


@needs_tools
def test_a_missing_classes_file_is_named_with_the_option_to_add_it(tmp_path):
    picture = render(tmp_path, "veltrane", [], pixels=16)
    (tmp_path / "veltrane.npy").rename(tmp_path / "moved.npy")
    out = tmp_path / "f.svg"
    done = figure(f"{picture}.json", "-o", out)
    assert done.returncode == 2 and not out.exists()
    assert "veltrane.npy" in done.stderr and "--classes" in done.stderr
    assert "Traceback" not in done.stderr

    done = figure(f"{picture}.json", "-o", out, "--classes", tmp_path / "moved.npy",
                  "--title", "Basins", "--dpi", 50)
    assert done.returncode == 0, done.stderr
    assert "Basins" in out.read_text()

    for args, message in [(["-o", tmp_path / "f.jpg"], ".pdf, .svg or .png"),
                          (["-o", out, "--dpi", "0"], "--dpi")]:
        done = figure(f"{picture}.json", *args)
        assert done.returncode == 2 and message in done.stderr
    done = figure(tmp_path / "none.json", "-o", out)
    assert done.returncode == 2 and "none.json" in done.stderr


# mode, options, the classes of a key entry (a function of its label)
KEYED = [
    ("veltrane", dict(pixels=60), lambda c, label: c == (0 if label == "none" else int(label))),
    ("parametric", dict(pixels=40, max_period=40, idx=(0, 3), range=(-5, 5, -5, 5)),
     lambda c, label: c == (0 if label == "none" else int(label))),
    ("coexisting", dict(pixels=30, start_values=4, iterations=200),
     lambda c, label: c == (0 if label == "none" else int(label))),
    ("stability", dict(pixels=40, w=(0, -1.2, 1.2, 0, 0.1, -0.1), idx=(0, 3),
                       range=(-3, 3, -3, 3)),
     lambda c, label: np.all(c == [int(n) for n in label.split(", ")], axis=-1)),
]


@pytest.mark.parametrize("mode,options,members", KEYED, ids=[k[0] for k in KEYED])
def test_each_key_entry_has_the_colour_its_classes_have_in_the_picture(mode, options, members):
    r = vt.render(mode, **options)
    legend = vt.plot(r).get_legend()
    curves = {tuple(c["rgb"]) for c in vt.record(r).get("curves", {}).values()}
    checked = 0
    handles = getattr(legend, "legend_handles", None) or legend.legendHandles
    for handle, text in zip(handles, legend.get_texts()):
        if type(handle).__name__ != "Rectangle":
            continue  # a curve's line
        pixels = r.image[members(r.classes, text.get_text())].reshape(-1, 3)
        assert len(pixels), f"{text.get_text()} names no class of the picture"
        # The curves are drawn over the dots; what they leave shows the class.
        colours = {tuple(int(v) for v in p) for p in pixels} - curves
        if not colours:
            continue
        key = tuple(int(v) for v in np.round(np.array(handle.get_facecolor()[:3]) * 255))
        assert colours == {key}, text.get_text()
        checked += 1
    assert checked >= 2


@pytest.mark.parametrize("mode,options,values", [
    ("lyapunov", dict(pixels=40, iterations=100, lyapunov_steps=100, scale=(-2, 0.5)),
     lambda r: r.classes),
    ("orbit", dict(pixels=40, points=50, start_values=2), lambda r: r.classes),
])
def test_a_colour_bar_gives_the_colours_of_the_picture(mode, options, values):
    r = vt.render(mode, **options)
    ax = vt.plot(r)
    scale = [a for a in ax.figure.axes if a is not ax][0]._colorbar.mappable
    v = np.asarray(values(r), dtype=float)
    shown = np.isfinite(v) & (v != 0 if mode == "orbit" else True)  # white: no state
    rgb = np.round(scale.to_rgba(v[shown])[:, :3] * 255)
    # The bar is the picture's scale, to a step of the colour map's table.
    assert np.abs(rgb - r.image[shown]).max() <= 3


CHEAP = ("veltrane", "fpbas", "fixpt", "parametric", "stability")


@needs_tools
def test_the_option_dump_tells_the_table_that_render_reads():
    table = json.loads(subprocess.run([str(RENDERER), "--options-json"], capture_output=True,
                                      text=True, check=True).stdout)
    assert table["modes"] == list(vt.modes)
    checked = 0
    for option in table["options"]:
        keyword = option["name"].replace("-", "_")
        if keyword == "continue":
            keyword = "continue_"
        mode = option["modes"][0]
        if option["range"]:
            low, high = map(int, option["range"].split(".."))
            for outside in (low - 1, high + 1):
                with pytest.raises(vt.UsageError, match=option["name"]):
                    vt.render(mode, **{keyword: outside})
            checked += 1
        if option["kind"] in ("number", "whole number") and mode in CHEAP:
            job = vt.render(mode, pixels=2).job
            if keyword in job and keyword != "pixels":
                value = job[keyword]
                shown = " ".join(f"{v:g}" for v in (value if isinstance(value, list)
                                                     else [value]))
                assert shown == option["default"], option["name"]
                checked += 1
    assert checked >= 20


@needs_tools
def test_the_stubs_name_every_function_and_keyword():
    import ast
    stub = ast.parse((pathlib.Path(vt._core.__file__).parent / "_core.pyi").read_text())
    declared = {n.name for n in stub.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    declared |= {n.target.id for n in stub.body if isinstance(n, ast.AnnAssign)}
    public = {n for n in dir(vt._core) if not n.startswith("__")}
    assert public - declared == set()

    table = json.loads(subprocess.run([str(RENDERER), "--options-json"], capture_output=True,
                                      text=True, check=True).stdout)
    # Files are save()'s; the progress line is progress=.
    keywords = {o["name"].replace("-", "_") for o in table["options"]
                if o["kind"] != "file" and o["name"] != "quiet"}
    keywords = {k + "_" if k == "continue" else k for k in keywords} | {"progress"}
    render = next(n for n in stub.body if isinstance(n, ast.FunctionDef) and n.name == "render")
    assert {a.arg for a in render.args.kwonlyargs} == keywords


def _spoil_picture(folder):
    (folder / "x.png").unlink()


def _spoil_classes_shape(folder):
    np.save(folder / "x.npy", np.zeros((3, 3), np.uint8))


def _spoil_record_kind(folder):
    (folder / "x.png.json").write_text("[1, 2]")


def _spoil_record_text(folder):
    (folder / "x.png.json").write_text("{\"mode\": ")


def _cycles_without_picture(folder):
    record = json.loads((folder / "x.png.json").read_text())
    record["picture"] = None
    (folder / "x.png.json").write_text(json.dumps(record))


@needs_tools
@pytest.mark.parametrize("spoil,output,status,message", [
    (_spoil_picture, "f.pdf", 2, "x.png: the picture of"),
    (_spoil_classes_shape, "f.pdf", 2, "does not fit the picture"),
    (_spoil_record_kind, "f.pdf", 2, "not a job record"),
    (_spoil_record_text, "f.pdf", 2, "not a job record"),
    (_cycles_without_picture, "f.pdf", 2, "has no picture"),
    (lambda folder: None, "x.npy/f.pdf", 3, "x.npy/f.pdf: Not a directory"),
], ids=["picture", "classes", "record", "json", "no picture", "unwritable"])
def test_a_figure_that_cannot_be_drawn_says_why_and_leaves_nothing(spoil, output, status,
                                                                    message, tmp_path):
    r = vt.render("veltrane", pixels=12)
    vt.save(r, tmp_path / "x.png", classes=tmp_path / "x.npy")
    spoil(tmp_path)
    done = figure(tmp_path / "x.png.json", "-o", tmp_path / output)
    assert (done.returncode, "Traceback" in done.stderr) == (status, False), done.stderr
    assert message in done.stderr
    assert not list(tmp_path.glob("*f.pdf*"))
