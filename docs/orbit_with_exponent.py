# Stacks the orbit diagram over the largest exponent of the same sweep,
# column for column: column c of both is the same parameter value.
import sys
import numpy as np
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
import matplotlib.image as mpimg

orbit_png, lyap_npy, out_png = sys.argv[1:4]
top = mpimg.imread(orbit_png)[:, :, :3]
lam = np.load(lyap_npy)[0]  # every row holds the same parameters: take the top one
n = top.shape[1]
height = 160
fig = plt.figure(figsize=(n / 100, height / 100), dpi=100)
ax = fig.add_axes([0, 0, 1, 1])
ax.set_xlim(-0.5, n - 0.5)
lo, hi = max(-1.0, float(np.nanmin(lam[np.isfinite(lam)]))), float(np.nanmax(lam)) + 0.05
ax.set_ylim(lo, hi)
ax.axhline(0, color="0.6", lw=0.8)
ax.plot(np.arange(n), lam, color="k", lw=0.7)
ax.text(4, hi - 0.02 * (hi - lo), "largest Lyapunov exponent", va="top", fontsize=8)
ax.set_axis_off()
fig.canvas.draw()
bottom = np.asarray(fig.canvas.buffer_rgba())[:, :, :3] / 255.0
plt.imsave(out_png, np.vstack([top, np.ones((4, n, 3)), bottom]))
