"""The Python module against hostile arguments and Ctrl-C in every phase.

Run with PYTHONPATH=build/python.
"""
import os
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import veltrane as vt


@pytest.fixture
def small():
    return vt.render("veltrane", pixels=8)


BAD_CALLS = [
    ("lone surrogate in a number", lambda r: vt.render("veltrane", accuracy="\ud800")),
    ("lone surrogate in a list", lambda r: vt.render("veltrane", w=["\ud800"] * 6)),
    ("0-d array for a list", lambda r: vt.render("veltrane", w=np.array(5))),
    ("surrogate in a keyword", lambda r: vt.render("veltrane", **{"w\ud800": 1})),
    ("fraction for the accuracy", lambda r: vt.render("veltrane", accuracy=7.5)),
    ("fraction for the dot size", lambda r: vt.render("veltrane", size="1.5")),
    ("fraction for the iterations", lambda r: vt.render("veltrane", iterations=10.5)),
    ("NUL in the picture", lambda r: vt.save(r, "evil\x00.png")),
    ("NUL in the classes", lambda r: vt.save(r, "ok.png", classes=b"cls\x00.npy")),
    ("picture not a path", lambda r: vt.save(r, 3.5)),
    ("surrogate that is no file name", lambda r: vt.save(r, "\ud800.png")),
]


@pytest.mark.parametrize("what,call", BAD_CALLS, ids=[c[0] for c in BAD_CALLS])
def test_every_bad_argument_is_a_usage_error(what, call, small, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    with pytest.raises(vt.UsageError) as caught:
        call(small)
    message = str(caught.value)
    assert "\n" not in message and len(message) < 200, message
    assert os.listdir(tmp_path) == [], "nothing is written"


def test_nul_names_the_argument(small, tmp_path):
    with pytest.raises(vt.UsageError, match="^picture: "):
        vt.save(small, tmp_path / "evil\x00.png")
    with pytest.raises(vt.UsageError, match="^classes: "):
        vt.save(small, tmp_path / "ok.png", classes=str(tmp_path / "c\x00.npy"))


def test_names_of_any_bytes_are_saved_and_recorded(small, tmp_path):
    folder = os.fsencode(tmp_path) + b"/d\xff"
    os.mkdir(folder)
    for name in [b"\xff.png", folder + b"/x.bmp", "\udcfe.png"]:
        target = name if isinstance(name, bytes) and name.startswith(b"/") else (
            os.fsencode(tmp_path) + b"/" + os.fsencode(name))
        vt.save(small, target, classes=target + b".npy")
        assert os.path.exists(target) and os.path.exists(target + b".npy")
        assert os.path.exists(target + b".json")
    assert not [n for n in os.listdir(os.fsencode(tmp_path)) if n.startswith(b".veltrane")]


def interrupt_when_done(delay):
    """A progress callback that sends Ctrl-C once the dots are done, so that it
    lands in the phase after them; its list gets the CPU time at the signal."""
    sent = []

    def progress(fraction):
        if fraction >= 1 and not sent:
            sent.append(time.process_time())
            threading.Timer(delay, os.kill, (os.getpid(), signal.SIGINT)).start()
    return progress, sent


# Jobs whose work after the dots is long: minutes of Newton searches, curve
# passes over a large plane, statistics over a large picture.
PHASES = [
    ("cycles", dict(mode="cycles", pixels=64, seeds=512, max_period=24)),
    ("curves", dict(mode="parametric", curves=True, pixels=1500)),
    ("stats", dict(mode="veltrane", stats=True, stats_box=2, pixels=3000, iterations=20)),
]


@pytest.mark.parametrize("what,job", PHASES, ids=[p[0] for p in PHASES])
def test_ctrl_c_in_the_phases_after_the_dots(what, job):
    job = dict(job)
    mode = job.pop("mode")
    progress, sent = interrupt_when_done(0.05)
    with pytest.raises(KeyboardInterrupt):
        vt.render(mode, progress=progress, **job)
        # A phase that ends before the signal comes: the next one catches it.
        time.sleep(60)
    # Served within the phase: far less CPU than the phase needs (cycles and
    # curves need tens of seconds or more of it).
    assert sent and time.process_time() - sent[0] < 5, what
    assert vt.render("veltrane", pixels=8).classes.shape == (8, 8)


SAVE_INTERRUPTED = r"""
import os, signal, sys, threading, time
import veltrane as vt
r = vt.render("veltrane", pixels=600)
os.mkfifo("p.bmp")
def reader():
    with open("p.bmp", "rb") as pipe:
        pipe.read(1)
        os.kill(os.getpid(), signal.SIGINT)  # in the middle of the commit
        time.sleep(0.2)
        pipe.read()
t = threading.Thread(target=reader)
t.start()
try:
    vt.save(r, "p.bmp", classes="c.npy")
    print("returned")
except KeyboardInterrupt:
    print("interrupted")
t.join()
"""


def test_ctrl_c_during_save_waits_for_the_whole_commit(tmp_path):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", SAVE_INTERRUPTED], cwd=tmp_path, env=env,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "interrupted"
    names = sorted(os.listdir(tmp_path))
    assert names == ["c.npy", "p.bmp", "p.bmp.json"], names
