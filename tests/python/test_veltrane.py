"""The Python module against the command line it binds, and its Python manners.

Run with PYTHONPATH=build/python; the renderer is found beside the module in
the build tree, or named by VELTRANE_RENDER.
"""
import json
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest
from PIL import Image

import veltrane as vt

RENDERER = pathlib.Path(os.environ.get(
    "VELTRANE_RENDER",
    pathlib.Path(vt.__file__).resolve().parents[2] / "render" / "veltrane-render"))

CHAOTIC = (4, -4.1, 2.65, -2.85, 1.75, 2.9)


def command_line(mode, options):
    """The arguments of veltrane-render that say what the keywords say."""
    args = [mode]
    for key, value in options.items():
        option = "--" + key.rstrip("_").replace("_", "-")
        if value is True:
            args.append(option)
        elif isinstance(value, (list, tuple, np.ndarray)):
            args += [option] + [str(v) for v in value]
        else:
            args += [option, str(value)]
    return args


def run_renderer(args, tmp_path):
    picture, classes = tmp_path / "cli.png", tmp_path / "cli.npy"
    done = subprocess.run([str(RENDERER)] + args + ["-q", "-o", str(picture),
                                                   "--classes", str(classes)],
                          capture_output=True, text=True)
    return done, picture, classes


needs_renderer = pytest.mark.skipif(not RENDERER.exists(), reason="no veltrane-render built")

# The strings and numpy scalars read as the command line reads the same texts.
CASES = [
    ("veltrane", dict(w=np.array([0.4, 1.9, -2.7, -4.311, -0.9, 1.8]), pixels=96,
                      iterations="500", accuracy=np.int64(6))),
    ("fpbas", dict(pixels=80, size=np.float32(3))),
    ("parametric", dict(pixels=64, idx=(0, 3), range=(-5, 5, -5, 5), max_period=40)),
    ("coexisting", dict(pixels=64, size=4, start_values=3, reshuffle=True, iterations=200)),
    ("lyapunov", dict(w=CHAOTIC, idx=[4, 5], range=(-0.5, 2, 1, 3), x0=(0.1, 0.2),
                      plane="parameter", pixels=64)),
    ("stability", dict(w=CHAOTIC, pixels=48, range=(-0.5, 2, 1, 3))),
    ("stability", dict(w=CHAOTIC, pixels=20, range=(-0.5, 2, 1, 3), cycles=4, seeds=3)),
    ("orbit", dict(w=CHAOTIC, pixels=48)),
    ("parametric", dict(w=CHAOTIC, pixels=48, range=(-0.5, 2, 1, 3), curves=True, stats=True)),
    ("fixpt", dict(pixels=64, pen=(200, 0, 50))),
    ("lyapunov", dict(w=CHAOTIC, spectrum=True, pixels=40, iterations=200, lyapunov_steps=200)),
    ("cycles", dict(pixels=48, seeds=6, max_period=6, iterations=300)),
    ("orbit", dict(w=CHAOTIC, pixels=40, points=100, continue_=True)),
]


def record_without_run(path):
    """A job record without what differs from run to run: the time and the file names."""
    record = json.loads(path.read_text())
    for key in ("elapsed_seconds", "picture", "classes"):
        record.pop(key)
    return record


@needs_renderer
@pytest.mark.parametrize("mode,options", CASES, ids=[c[0] for c in CASES])
def test_same_pixels_classes_and_files_as_the_command_line(mode, options, tmp_path):
    done, picture, classes = run_renderer(command_line(mode, options), tmp_path)
    assert done.returncode == 0, done.stderr
    r = vt.render(mode, **options)
    expected = np.load(classes)
    assert r.classes.dtype == expected.dtype and r.classes.shape == expected.shape
    assert r.classes.tobytes() == expected.tobytes()
    assert np.array_equal(r.image, np.asarray(Image.open(picture).convert("RGB")))

    again = vt.render(**r.job)
    assert again.classes.tobytes() == r.classes.tobytes()
    assert again.image.tobytes() == r.image.tobytes()

    # The arrays are views of the renderer's buffers.
    for a in (r.image, r.classes):
        assert isinstance(a.base, type(r.classes.base)) and type(a.base).__name__ == "PyCapsule"
        assert not a.flags.owndata

    vt.save(r, tmp_path / "py.png", classes=str(tmp_path / "py.npy"))
    assert (tmp_path / "py.png").read_bytes() == picture.read_bytes()
    assert (tmp_path / "py.npy").read_bytes() == classes.read_bytes()
    assert (record_without_run(tmp_path / "py.png.json")
            == record_without_run(pathlib.Path(str(picture) + ".json")))


@needs_renderer
def test_runs_that_end_inside_columns_give_the_same_picture(tmp_path):
    # Runs of 16 dots on one thread cut the 20-dot columns anywhere.
    options = dict(pixels=20, size=1, iterations=300)
    done, picture, classes = run_renderer(command_line("fpbas", options), tmp_path)
    vt._set_run_seconds(0)
    try:
        r = vt.render("fpbas", threads=1, **options)
    finally:
        vt._set_run_seconds(0.1)
    assert r.classes.tobytes() == np.load(classes).tobytes()
    assert np.array_equal(r.image, np.asarray(Image.open(picture).convert("RGB")))


@needs_renderer
@pytest.mark.parametrize("options,args", [
    (dict(iterations=0), ["--iterations", "0"]),
    (dict(pixels="1e9"), ["--pixels", "1e9"]),
    (dict(pixels=64.5), ["--pixels", "64.5"]),
    (dict(idx=(4, 6)), ["--idx", "4", "6"]),
    (dict(w11="1e400"), ["--w11", "1e400"]),
    (dict(scale=(1, 0)), ["--scale", "1", "0"]),
    (dict(plane="parameter"), ["--plane", "parameter"]),
    (dict(pen=(1, 2, 3)), ["--pen", "1", "2", "3"]),
    (dict(w11="O.5"), ["--w11", "O.5"]),
    (dict(w11=float("nan")), ["--w11", "nan"]),
    (dict(threads=0), ["--threads", "0"]),
])
def test_a_bad_value_is_the_renderers_usage_error_before_computing(options, args, tmp_path):
    done, _, _ = run_renderer(["veltrane"] + args, tmp_path)
    called = []
    with pytest.raises(vt.UsageError) as e:
        vt.render("veltrane", **{"pixels": 64, "progress": called.append, **options})
    assert done.stderr.splitlines()[0] == "veltrane-render: " + str(e.value)
    assert called == []


@pytest.mark.parametrize("options", [
    dict(colour=1), dict(iterations=True), dict(size=[2]), dict(w=(1, 2, 3)), dict(w="1 2"),
    dict(reshuffle=1), dict(plane=0), dict(iterations=1j), dict(progress="yes"),
    dict(output="a.png"), dict(quiet=True), dict(w=np.zeros((6, 2))),
])
def test_a_wrong_keyword_or_type_is_a_usage_error(options):
    with pytest.raises(vt.UsageError):
        vt.render("veltrane", pixels=64, **options)


@needs_renderer
def test_cycles_are_those_of_the_command_line(tmp_path):
    # Each neuron alone has the fixed points 0 and +-s, s = tanh(a s): nine in all.
    options = dict(w=(2, 0, 0, 1.5, 0, 0), pixels=40, seeds=8)
    record = tmp_path / "cycles.json"
    done = subprocess.run([str(RENDERER)] + command_line("cycles", options)
                          + ["-q", "--json", str(record)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    cycles = vt.cycles(**options)
    assert cycles == json.loads(record.read_text())["cycles"]
    assert sum(c["period"] == 1 for c in cycles) == 9


@needs_renderer
def test_a_failed_orbit_names_its_dot(tmp_path):
    options = dict(w=(1000, 0, 0, 0, 0, 0), pixels=64)
    done, _, _ = run_renderer(command_line("veltrane", options), tmp_path)
    with pytest.raises(vt.OrbitError) as e:
        vt.render("veltrane", **options)
    assert done.stderr.splitlines()[0] == "veltrane-render: " + str(e.value)
    assert isinstance(e.value, ArithmeticError)
    # x' = tanh(1000 x) goes to +1 or -1; at +1 the next step overflows (at -1
    # its exponential only underflows). So the first dot drawn that fails is
    # the bottom one of the first column right of x = 0.
    assert (e.value.column, e.value.row, e.value.values) == (32, 63, ((2 * 32) / 63 - 1, -1.0))


def test_period_classifies_as_the_pictures_do():
    w = (0.4, 1.9, -2.7, -4.311, -0.9, 1.8)
    for cap in (16, 40):
        r = vt.render("veltrane", w=w, pixels=24, max_period=cap)
        n = r.classes.shape[0]
        periods = [[vt.period(w, (2 * c) / (n - 1) - 1, (2 * (n - 1 - row)) / (n - 1) - 1,
                              max_period=cap) for c in range(n)] for row in range(n)]
        assert np.array_equal(np.array(periods), r.classes)


def test_orbits_known_on_paper():
    # Biases alone: every orbit jumps to (tanh b1, tanh b2) and stays there.
    points = vt.trajectory((0, 0, 0, 0, 0.5, -0.25), (0.3, 0.7), 3)
    assert points.dtype == np.float64 and points.shape == (4, 2)
    assert points[0].tolist() == [0.3, 0.7]
    assert np.allclose(points[1:], [np.tanh(0.5), np.tanh(-0.25)], rtol=1e-15)
    assert vt.period((0, 0, 0, 0, 0.5, -0.25), 0.3, 0.7) == 1
    # x' = tanh(-3 x) flips sign each step: its attractor is the 2-cycle +-x*, x* = tanh(3 x*).
    for cap in (16, 100):
        assert vt.period((-3, 0, 0, 0, 0, 0), 0.5, 0, max_period=cap) == 2
    with pytest.raises(vt.OrbitError):
        vt.trajectory((1000, 0, 0, 0, 0, 0), (1, 0), 2)


def test_save_writes_nothing_where_a_file_cannot_be_written(tmp_path):
    r = vt.render("veltrane", pixels=16)
    blocker = tmp_path / "file"
    blocker.write_text("")
    for picture, classes in [(tmp_path / "missing" / "a.png", None),
                             (blocker / "a.png", None),
                             (tmp_path / "a.png", tmp_path / "missing" / "a.npy")]:
        with pytest.raises(OSError):
            vt.save(r, str(picture), classes=classes and str(classes))
    assert sorted(p.name for p in tmp_path.iterdir()) == ["file"]


def test_the_gil_is_free_while_computing():
    count, stop, seen = 0, False, []

    def counter():
        nonlocal count
        while not stop:
            count += 1
            time.sleep(0)  # lets the render take the GIL back between tiles

    # With so long a switch interval, the counter runs during the render only
    # if the render lets go of the GIL.
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1000)
    thread = threading.Thread(target=counter)
    thread.start()
    try:
        vt.render("veltrane", pixels=300, progress=lambda f: seen.append(count))
    finally:
        stop = True
        thread.join()
        sys.setswitchinterval(interval)
    assert seen[-1] > seen[0]


def test_ctrl_c_stops_a_long_render():
    fractions = []
    timer = threading.Timer(0.5, signal.raise_signal, (signal.SIGINT,))
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        vt.render("veltrane", pixels=4000, progress=fractions.append)
    timer.join()
    assert all(f < 1 for f in fractions)
    assert vt.render("veltrane", pixels=8).classes.shape == (8, 8)


@pytest.mark.skipif(os.cpu_count() >= 4096, reason="a machine of 4096 cores")
def test_more_threads_than_cores_is_a_warning():
    with pytest.warns(RuntimeWarning, match="cores of this machine"):
        vt.render("veltrane", pixels=8, threads=4096)


def test_progress_true_draws_the_renderers_line(capfd):
    vt.render("veltrane", pixels=32, progress=True)
    line = capfd.readouterr().err
    assert "100.0%" in line and "done in" in line and line.endswith("\n")


@needs_renderer
def test_curve_points_and_flip_points_are_the_command_lines(tmp_path):
    options = dict(w=CHAOTIC, pixels=40, range=(-0.5, 2, 1, 3), x0=(0.1, 0.2), curves=True,
                   curves_period=8)
    points = tmp_path / "points.npy"
    done, _, _ = run_renderer(command_line("parametric", options)
                              + ["--curves-data", str(points)], tmp_path)
    assert done.returncode == 0, done.stderr
    r = vt.render("parametric", **options)
    assert r.curves_data.shape[1] == 5 and len(r.curves_data) > 0
    assert r.curves_data.tobytes() == np.load(points).tobytes()
    assert set(np.unique(r.curves_data[:, 2])) <= set(range(1, 9))
    assert vt.render("parametric", pixels=8).curves_data is None

    flips = vt.render("orbit", w=CHAOTIC, x0=(0.1, 0.2), sweep=(4, 1.29, 1.345), start_values=1,
                      pixels=8, flip_points=True).analyses["flip_points"]
    assert [f["period"] for f in flips[:4]] == [4, 8, 16, 32]


@pytest.mark.parametrize("mode", [None] + list(vt.modes))
def test_options_are_the_table_of_mode_help(mode):
    args = [mode, "--help"] if mode else ["--help"]
    done = subprocess.run([str(RENDERER)] + args, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    table = vt.options(mode)
    lines = [line for line in done.stdout.splitlines() if line.startswith("  -")]
    listed = [next(w for w in line.split() if w.startswith("--")).rstrip(",") for line in lines]
    assert [row["option"] for row in table] == [n for n in listed if n != "--help"]
    for row in table:
        assert row["names"] in done.stdout and row["help"] in done.stdout
        if row["range"]:
            assert f'{row["help"]}, {row["range"]}' in done.stdout
        if row["keyword"]:
            assert row["keyword"].rstrip("_").replace("_", "-") == row["option"][2:]
    if mode == "cycles":
        assert {r["option"]: r["range"] for r in table}["--max-period"] == "1..64"


@needs_renderer
def test_continuation_is_the_command_lines_and_its_counts_those_of_a_plain_loop(tmp_path):
    # A coupled sweep with two attractors at some values: at those, the
    # starts of each identity are those that a plain loop, start by start,
    # finds on one cycle (vt.period, and the cycle's points from vt.trajectory).
    w = (2, 0.5, -0.4, 1.6, 0, 0.1)
    options = dict(w=w, sweep=(4, -1, 1), steps=21, grid=12, pixels=40)
    record, classes = vt.continuation(**options)
    assert classes.dtype == np.int32 and classes.shape == (21, 12, 12)
    done, picture, cli_classes = run_renderer(command_line("continuation", options), tmp_path)
    assert done.returncode == 0, done.stderr
    assert np.array_equal(np.load(cli_classes), classes)
    cli = json.loads((tmp_path / "cli.png.json").read_text())
    assert cli["continuation"] == record
    n = 12
    several = 0
    for k, b1 in enumerate(record["values"]):
        wk = (2, 0.5, -0.4, 1.6, b1, 0.1)
        cycles, owner = [], {}
        for row in range(n):
            for column in range(n):
                x, y = (2 * column) / (n - 1) - 1, (2 * (n - 1 - row)) / (n - 1) - 1
                p = vt.period(wk, x, y)
                assert p > 0
                points = vt.trajectory(wk, (x, y), 1100)[-p:]
                found = [i for i, c in enumerate(cycles)
                         if len(c) == p and all(np.abs(c - q).max(axis=1).min() < 1e-3
                                                for q in points)]
                if not found:
                    cycles.append(points)
                    found = [len(cycles) - 1]
                owner[row, column] = found[0]
        plain = sorted(list(owner.values()).count(i) for i in range(len(cycles)))
        counts = sorted(np.unique(classes[k], return_counts=True)[1].tolist())
        assert counts == plain, f"b1 = {b1}"
        # One identity per plain cycle, start by start.
        pairs = {(owner[r, c], int(classes[k, r, c])) for r in range(n) for c in range(n)}
        assert len(pairs) == len(cycles)
        several += len(cycles) > 1
    assert several >= 2


def test_stability_cycles_classes_are_counts_by_type_and_period():
    # The lone neuron x' = tanh(a x), a = w11 over -3..3.1, beside a resting
    # one (w22 = 0.3): for a < -1 an attracting 2-cycle and the origin a
    # saddle, for |a| < 1 the origin attracting, for a > 1 two attracting
    # fixed points beside the saddle origin; no cycle of period 3.
    r = vt.render("stability", w=(0, 0, 0, 0.3, 0, 0), idx=(0, 1), range=(-3, 3.1, -1, 1),
                  pixels=16, cycles=3, seeds=3)
    assert r.classes.dtype == np.uint8 and r.classes.shape == (16, 16, 4, 3)
    a = np.arange(16) * 6.1 / 15 - 3
    attracting, saddle = r.classes[:, :, 0, :], r.classes[:, :, 1, :]
    expected1 = np.where(np.abs(a) < 1, 1, np.where(a > 1, 2, 0))
    assert (attracting[:, :, 0] == expected1).all()
    assert (saddle[:, :, 0] == (np.abs(a) > 1)).all()
    assert (attracting[:, :, 1] == (a < -1)).all()
    assert not r.classes[:, :, :, 2].any()
    assert r.classes[:, :, 2:, :].sum() == 0
    assert r.analyses["cycle_search"]["not_converged"] >= 0
    assert r.job["cycles"] == 3
