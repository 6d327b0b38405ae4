"""A sweep over w11 and a Lyapunov plane in one figure, docs/sweep.png.

Twelve iso-periodic planes of the two biases (b1 across, b2 up), coloured by
period as the window colours them, for w11 from -1.9 to 0.3, and the largest
Lyapunov exponent over the bias plane of a chaotic module. vt.plot draws
each with its axes and key; this script only lays them out.

    PYTHONPATH=build/python /usr/bin/python3 examples/sweep.py
"""
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt
import numpy as np

import veltrane as vt

OUT = pathlib.Path(__file__).resolve().parent.parent / "docs" / "sweep.png"
CHAOTIC = (4, -4.1, 2.65, -2.85, 1.75, 2.9)


def main():
    fig = plt.figure(figsize=(17, 8), layout="constrained")
    planes, chaos = fig.subfigures(1, 2, width_ratios=[4, 2])
    for ax, w11 in zip(planes.subplots(3, 4).flat, np.round(np.linspace(-1.9, 0.3, 12), 2)):
        vt.plot(vt.render("parametric", w11=w11, pixels=300), ax=ax, title=f"w11 = {w11:g}")
    planes.suptitle("Periods over the bias plane")

    r = vt.render("lyapunov", plane="parameter", w=CHAOTIC, idx=(4, 5),
                  range=(-0.5, 2, 1, 3), x0=(0.1, 0.2), pixels=500)
    vt.plot(r, ax=chaos.subplots())
    chaos.suptitle("Chaos in the module: red is chaotic")

    fig.savefig(OUT, dpi=80)
    print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
