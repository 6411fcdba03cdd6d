"""Signals for the heart-rig: synthetic ECG- and PPG-like signals whose beat
times are known exactly, and the recorded ECG excerpt with its reviewed
reference beats.

    heart_signals.py OUT_DIR [NAME...]

writes OUT_DIR/<name>.sig (the rig's input: sample rate, then millivolts at
the pin and a leads-off flag per sample) and OUT_DIR/<name>.json (what the
scorer checks against: mode, beat times, the true rate of each stretch,
leads-off and excluded intervals)."""
import json
import os
import sys

import numpy as np

DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data")
RATE = 1000  # synthetic sample rate, Hz

# Front-end scaling: ECG 500 mV at the pin per mV at the skin around half the
# 5 V supply; a pulse sensor's swing of about 0.8 V over a 2 V floor.
ECG_MID, ECG_GAIN = 2500.0, 500.0
PPG_FLOOR, PPG_GAIN = 2000.0, 800.0


def beat_times(segments, start=0.5):
    """Beats at fixed rates: segments is [(seconds, bpm), ...]. Returns the beat
    times and, per segment, (start, end, bpm)."""
    beats, stretches, t = [], [], start
    seg_start = 0.0
    for seconds, bpm in segments:
        seg_end = seg_start + seconds
        rr = 60.0 / bpm
        while t < seg_end:
            beats.append(t)
            t += rr
        stretches.append((seg_start, seg_end, bpm))
        seg_start = seg_end
    return np.array(beats), stretches


def gauss(t, mu, sigma):
    return np.exp(-0.5 * ((t - mu) / sigma) ** 2)


def ecg_wave(t, beats):
    """Millivolts of an ECG-like lead: P, Q, R, S and T waves per beat, the R
    peak at the beat time; P and T move closer at high rates."""
    x = np.zeros_like(t)
    for k, b in enumerate(beats):
        rr = beats[k + 1] - b if k + 1 < len(beats) else beats[k] - beats[k - 1]
        lo, hi = np.searchsorted(t, [b - 0.4, b + 0.6])
        s = t[lo:hi] - b
        x[lo:hi] += (0.15 * gauss(s, -min(0.16, 0.3 * rr), 0.025) - 0.12 * gauss(s, -0.03, 0.008)
                     + 1.2 * gauss(s, 0.0, 0.011) - 0.3 * gauss(s, 0.03, 0.01)
                     + 0.3 * gauss(s, min(0.28, 0.45 * rr), 0.045))
    return x


def ppg_wave(t, beats):
    """Relative volume of a pulse: a systolic wave whose steepest rise falls on
    the beat time and a smaller dicrotic wave after it."""
    x = np.zeros_like(t)
    for k, b in enumerate(beats):
        rr = beats[k + 1] - b if k + 1 < len(beats) else beats[k] - beats[k - 1]
        sig = min(0.07, 0.18 * rr)
        lo, hi = np.searchsorted(t, [b - 0.3, b + 1.2])
        s = t[lo:hi] - b
        x[lo:hi] += gauss(s, sig, sig) + 0.35 * gauss(s, sig + 0.3 * rr + 0.05, 1.5 * sig)
    return x


def synthetic(name, mode, segments, noise_mv=0.0, mains_mv=0.0, wander_mv=0.0, leads_off=(), seed=1):
    beats, stretches = beat_times(segments)
    duration = sum(s for s, _ in segments)
    t = np.arange(int(duration * RATE)) / RATE
    rng = np.random.default_rng(seed)
    if mode == "ecg":
        x = ecg_wave(t, beats)
        x += wander_mv * np.sin(2 * np.pi * 0.3 * t) + mains_mv * np.sin(2 * np.pi * 50 * t)
        x += noise_mv * rng.standard_normal(len(t))
        pin = ECG_MID + ECG_GAIN * x
    else:
        x = ppg_wave(t, beats) + wander_mv * np.sin(2 * np.pi * 0.2 * t) + noise_mv * rng.standard_normal(len(t))
        pin = PPG_FLOOR + PPG_GAIN * x
    off = np.zeros(len(t), dtype=int)
    for a, b in leads_off:
        off[(t >= a) & (t < b)] = 1
        pin[(t >= a) & (t < b)] = 5000.0 if mode == "ecg" else pin[(t >= a) & (t < b)]
    # Beats during leads-off are not there to be found.
    keep = np.ones(len(beats), dtype=bool)
    for a, b in leads_off:
        keep &= ~((beats >= a) & (beats < b))
    meta = {"mode": mode, "duration": duration, "beats": beats[keep].round(4).tolist(),
            "stretches": stretches, "leads_off": list(leads_off), "excluded": list(leads_off),
            "rate_goal_bpm": 2}
    return name, RATE, pin, off, meta


def synthetic_set():
    yield synthetic("ecg-40bpm", "ecg", [(40, 40)])
    for bpm in (60, 100, 150, 200):
        yield synthetic("ecg-%dbpm" % bpm, "ecg", [(25, bpm)])
    yield synthetic("ecg-steps", "ecg", [(15, 60), (15, 120), (15, 80), (15, 180), (15, 50)])
    yield synthetic("ecg-noise", "ecg", [(30, 75)], noise_mv=0.05, mains_mv=0.2, seed=2)
    yield synthetic("ecg-wander", "ecg", [(30, 90)], wander_mv=0.8)
    yield synthetic("ecg-leads-off", "ecg", [(40, 70)], leads_off=[(10, 15), (25, 28)])
    yield synthetic("ppg-40bpm", "ppg", [(40, 40)])
    for bpm in (70, 120, 200):
        yield synthetic("ppg-%dbpm" % bpm, "ppg", [(25, bpm)])
    yield synthetic("ppg-steps", "ppg", [(15, 65), (15, 130), (15, 90)])
    yield synthetic("ppg-noise", "ppg", [(30, 80)], noise_mv=0.01, wander_mv=0.3, seed=3)


def live_set():
    """Signals for the live runs (end-to-end test): a rate step Vintra's
    bpm.txt must follow, 75 then 120 bpm."""
    yield synthetic("ecg-75-120", "ecg", [(12, 75), (12, 120)])


def record():
    """The recorded excerpt (360 Hz; millivolts = (value - 1024) / 200) with the
    reviewed reference beats and the intervals excluded from scoring."""
    raw = np.loadtxt(os.path.join(DATA, "mitdb208-excerpt.txt"))
    ecg = (raw - 1024.0) / 200.0
    beats = np.loadtxt(os.path.join(DATA, "mitdb208-reference-beats.txt"), comments="#")
    excluded = np.loadtxt(os.path.join(DATA, "mitdb208-excluded.txt"), comments="#", ndmin=2)
    meta = {"mode": "ecg", "duration": len(ecg) / 360.0, "beats": beats.tolist(), "stretches": [],
            "leads_off": [], "excluded": excluded.tolist(), "rate_goal_bpm": None}
    return "mitdb208", 360, ECG_MID + ECG_GAIN * ecg, np.zeros(len(ecg), dtype=int), meta


def write(out_dir, name, rate, pin, off, meta):
    with open(os.path.join(out_dir, name + ".sig"), "w") as f:
        f.write("%d\n" % rate)
        f.write("".join("%.1f %d\n" % (v, o) if o else "%.1f\n" % v for v, o in zip(pin, off)))
    with open(os.path.join(out_dir, name + ".json"), "w") as f:
        json.dump(meta, f)


def main():
    out_dir, wanted = sys.argv[1], set(sys.argv[2:])
    os.makedirs(out_dir, exist_ok=True)
    for sig in list(synthetic_set()) + list(live_set()) + [record()]:
        if not wanted or sig[0] in wanted:
            write(out_dir, *sig)


if __name__ == "__main__":
    main()
