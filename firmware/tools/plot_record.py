"""Plots the recorded excerpt with the reference beats and the beats the
firmware reported in the rig (rig_check.py's OUT_DIR/mitdb208.beats).

    plot_record.py RIG_RECORD_DIR OUT.png"""
import json
import os
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import score_heart  # noqa: E402

ROW_S = 30


def main():
    rig_dir, out = sys.argv[1:3]
    meta = json.load(open(os.path.join(rig_dir, "mitdb208.json")))
    r = score_heart.score(meta, open(os.path.join(rig_dir, "mitdb208.out"), "rb").read())
    raw = np.loadtxt(os.path.join(HERE, "..", "data", "mitdb208-excerpt.txt"))
    x = (raw - 1024.0) / 200.0
    t = np.arange(len(x)) / 360.0
    ref = np.array(meta["beats"])
    det = np.array(r["detected_times"])
    rows = int(np.ceil(meta["duration"] / ROW_S))
    fig, axes = plt.subplots(rows, 1, figsize=(16, 1.6 * rows), sharey=True)
    for k, ax in enumerate(axes):
        lo, hi = k * ROW_S, (k + 1) * ROW_S
        m = (t >= lo) & (t < hi)
        ax.plot(t[m], x[m], color="black", lw=0.5)
        for a, b in meta["excluded"]:
            if b > lo and a < hi:
                ax.axvspan(max(a, lo), min(b, hi), color="0.85")
        rs = ref[(ref >= lo) & (ref < hi)]
        ds = det[(det >= lo) & (det < hi)]
        ax.plot(rs, np.full(len(rs), 3.4), "v", color="tab:blue", ms=4)
        ax.plot(ds, np.full(len(ds), -3.3), "^", color="tab:red", ms=4)
        ax.set_xlim(lo, hi)
        ax.set_ylim(-4, 4)
        ax.tick_params(labelsize=7)
        ax.set_ylabel("mV", fontsize=7)
    axes[0].set_title("MIT-BIH record 208 (MLII, 19:35-24:35), 300 s: reference beats (blue, top), beats the firmware "
                      "reported in the simulator (red, bottom, less its %.0f ms delay); grey: excluded. "
                      "Se %.2f%%, +P %.2f%%" % (1000 * score_heart.DELAY_S["ecg"], r["se"], r["ppv"]), fontsize=9)
    axes[-1].set_xlabel("seconds")
    fig.tight_layout()
    fig.savefig(out, dpi=72)


if __name__ == "__main__":
    main()
