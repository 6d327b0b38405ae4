"""A sweep over w11 and a Lyapunov plane in one figure, docs/sweep.png.

Twelve iso-periodic planes of the two biases (b1 across, b2 up), coloured by
period as the window colours them, for w11 from -1.9 to 0.3, and the largest
Lyapunov exponent over the bias plane of a chaotic module.

    PYTHONPATH=build/python /usr/bin/python3 examples/sweep.py
"""
import pathlib

import matplotlib

matplotlib.use("Agg")
import matplotlib.colors
import matplotlib.patches
import matplotlib.pyplot as plt
import numpy as np

import veltrane as vt

OUT = pathlib.Path(__file__).resolve().parent.parent / "docs" / "sweep.png"
CHAOTIC = (4, -4.1, 2.65, -2.85, 1.75, 2.9)


def main():
    fig = plt.figure(figsize=(15, 7.5), layout="constrained")
    planes, chaos = fig.subfigures(1, 2, width_ratios=[4, 2.3])

    axes = planes.subplots(3, 4, sharex=True, sharey=True)
    colours = {}  # period: its colour in the pictures
    for ax, w11 in zip(axes.flat, np.round(np.linspace(-1.9, 0.3, 12), 2)):
        r = vt.render("parametric", w11=w11, pixels=300)
        ax.imshow(r.image, extent=r.job["range"])
        ax.set_title(f"w11 = {w11:g}", fontsize=10)
        for period in np.unique(r.classes):
            colours[period] = r.image[r.classes == period][0] / 255
    for ax in axes[-1]:
        ax.set_xlabel("b1")
    for ax in axes[:, 0]:
        ax.set_ylabel("b2")
    planes.suptitle("Periods over the bias plane")
    key = [matplotlib.patches.Patch(facecolor=c, edgecolor="grey", label=str(p) if p else "none")
           for p, c in sorted(colours.items())]

    r = vt.render("lyapunov", plane="parameter", w=CHAOTIC, idx=(4, 5),
                  range=(-0.5, 2, 1, 3), x0=(0.1, 0.2), pixels=500)
    low, high = r.job["scale"]
    ax = chaos.subplots()
    shown = ax.imshow(r.classes, extent=r.job["range"], cmap="bwr",
                      norm=matplotlib.colors.TwoSlopeNorm(0, low, high))
    chaos.colorbar(shown, ax=ax, shrink=0.6, label="largest Lyapunov exponent")
    ax.set_xlabel("b1")
    ax.set_ylabel("b2")
    ax.set_title("w = " + " ".join(f"{v:g}" for v in CHAOTIC), fontsize=10)
    chaos.suptitle("Chaos in the module: red is chaotic")
    chaos.legend(handles=key, loc="lower center", ncols=(len(key) + 1) // 2,
                 title="period (left)", fontsize=9)

    fig.savefig(OUT, dpi=80)
    print(f"wrote {OUT}")


if __name__ == "__main__":
    main()
