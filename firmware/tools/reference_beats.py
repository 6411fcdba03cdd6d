"""Builds the reference beat list of the recorded excerpt from two independent
offline detectors and a by-eye review of every beat they disagree on.

    reference_beats.py review OUT_DIR   # plots each disagreement (PNG pages)
    reference_beats.py write            # agreed beats + review decisions ->
                                        # data/mitdb208-reference-beats.txt

Detector A is of the energy kind (5-15 Hz band, squared slope, 150 ms window,
peaks against a local level); detector B is a matched filter (a Ricker
wavelet about a QRS wide) with a noise-scaled threshold. Both run forwards and
backwards (no delay), unlike the firmware's causal detector. The review file
data/mitdb208-review.txt holds one line per disagreement: its time, "beat" or
"none", and what the plot showed."""
import os
import sys

import numpy as np
from scipy import signal

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data")
FS = 360.0
AGREE_S = 0.1


def load():
    return (np.loadtxt(os.path.join(DATA, "mitdb208-excerpt.txt")) - 1024.0) / 200.0


def fiducial(x, peaks, half=0.08):
    """The R wave near each peak: the largest excursion from the local median."""
    h = int(half * FS)
    out = []
    for p in peaks:
        a, b = max(0, p - h), min(len(x), p + h)
        seg = x[a:b] - np.median(x[max(0, p - 3 * h):p + 3 * h])
        out.append(a + int(np.argmax(np.abs(seg))))
    return np.array(out)


def local_level(t, values, at, half_s=5.0):
    """The 80th percentile of values within half_s of each time in at."""
    return np.array([np.percentile(values[(t > a - half_s) & (t < a + half_s)], 80) for a in at])


def detector_a(x):
    b, a = signal.butter(2, [5 / (FS / 2), 15 / (FS / 2)], "band")
    bp = signal.filtfilt(b, a, x)
    e = np.gradient(bp) ** 2
    w = int(0.15 * FS)
    mwi = np.convolve(e, np.ones(w) / w, mode="same")
    peaks, _ = signal.find_peaks(mwi, distance=int(0.25 * FS))
    level = local_level(peaks / FS, mwi[peaks], peaks / FS)
    return fiducial(x, peaks[mwi[peaks] > 0.2 * level])


def ricker(points, a):
    t = np.arange(points) - (points - 1) / 2.0
    return (1 - (t / a) ** 2) * np.exp(-0.5 * (t / a) ** 2)


def detector_b(x):
    b, a = signal.butter(2, 1 / (FS / 2), "high")
    hp = signal.filtfilt(b, a, x)
    w = np.abs(np.convolve(hp, ricker(int(0.12 * FS), 0.012 * FS), mode="same"))
    # Noise from the median absolute deviation over 10 s stretches.
    n = int(10 * FS)
    mad = np.repeat([np.median(np.abs(w[i:i + n] - np.median(w[i:i + n]))) for i in range(0, len(w), n)], n)[:len(w)]
    peaks, _ = signal.find_peaks(w, distance=int(0.25 * FS))
    peaks = peaks[w[peaks] > 6 * mad[peaks]]
    level = local_level(peaks / FS, w[peaks], peaks / FS)
    return fiducial(x, peaks[w[peaks] > 0.3 * level])


def compare(a, b):
    """Beats both found (A's time), and the times only one found."""
    ta, tb = a / FS, b / FS
    both, only = [], []
    used = np.zeros(len(tb), dtype=bool)
    for t in ta:
        j = np.searchsorted(tb, t)
        near = [k for k in (j - 1, j) if 0 <= k < len(tb) and not used[k] and abs(tb[k] - t) <= AGREE_S]
        if near:
            used[near[0]] = True
            both.append(t)
        else:
            only.append((t, "A"))
    only += [(t, "B") for t, u in zip(tb, used) if not u]
    return np.array(both), sorted(only)


def review(out_dir):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    x = load()
    a, b = detector_a(x), detector_b(x)
    both, only = compare(a, b)
    print("A %d beats, B %d, both %d, disagreements %d" % (len(a), len(b), len(both), len(only)))
    os.makedirs(out_dir, exist_ok=True)
    t = np.arange(len(x)) / FS
    per_page = 12
    for page in range(0, len(only), per_page):
        fig, axes = plt.subplots(4, 3, figsize=(15, 11))
        for ax, (tt, who) in zip(axes.flat, only[page:page + per_page]):
            m = (t > tt - 2) & (t < tt + 2)
            ax.plot(t[m], x[m], lw=0.7, color="k")
            for s, c, mk in ((a / FS, "tab:blue", "v"), (b / FS, "tab:red", "^")):
                sel = s[(s > tt - 2) & (s < tt + 2)]
                ax.plot(sel, x[(sel * FS).astype(int)], mk, color=c, ms=7, alpha=0.8)
            ax.axvline(tt, color="orange", lw=1)
            ax.set_title("%.3f s: only %s" % (tt, who), fontsize=9)
        for ax in axes.flat[len(only[page:page + per_page]):]:
            ax.axis("off")
        fig.tight_layout()
        fig.savefig(os.path.join(out_dir, "disagreements-%02d.png" % (page // per_page)), dpi=60)
        plt.close(fig)
    with open(os.path.join(out_dir, "disagreements.txt"), "w") as f:
        f.writelines("%.3f %s\n" % o for o in only)


def write():
    x = load()
    both, only = compare(detector_a(x), detector_b(x))
    decisions = {}
    with open(os.path.join(DATA, "mitdb208-review.txt")) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                parts = line.split(None, 2)
                decisions[round(float(parts[0]), 3)] = parts[1]
    beats = list(both)
    for tt, _ in only:
        d = decisions.get(round(tt, 3))
        if d is None:
            sys.exit("disagreement at %.3f s not reviewed" % tt)
        if d == "beat":
            beats.append(tt)
    beats = np.sort(np.array(beats))
    with open(os.path.join(DATA, "mitdb208-reference-beats.txt"), "w") as f:
        f.write("# R-wave times (s) in mitdb208-excerpt.txt: detectors A and B agreeing within 100 ms,\n"
                "# plus the disagreements reviewed as beats (mitdb208-review.txt). Made by tools/reference_beats.py.\n")
        f.writelines("%.3f\n" % v for v in beats)
    print("%d reference beats" % len(beats))


if __name__ == "__main__":
    if sys.argv[1] == "review":
        review(sys.argv[2])
    else:
        write()
