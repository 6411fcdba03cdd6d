"""Scores what the heart sensor firmware sent against the known beats.

    score_heart.py SIGNAL.json RIG_OUTPUT [--check] [--beats OUT.txt]

Checks every line is well formed (S0..S1000 or B1..B254, CR LF), that S lines
come exactly 500 a second (the B line's time is the count of S lines before
it), matches B lines to reference beats within 150 ms, and checks the rate of
each B line. Prints one line of figures; with --check exits 1 when a goal is
missed. --beats writes the detected beat times for plotting."""
import json
import re
import sys

import numpy as np

SAMPLE_HZ = 500
MATCH_S = 0.150
# The firmware sends a beat once it is sure of it: this long after the R wave
# (ECG: filters, integration window, 100 ms confirmation) or the pulse's
# upstroke (PPG). Measured on the synthetic signals; the B line's time less
# this is the time of the beat it reports.
DELAY_S = {"ecg": 0.270, "ppg": 0.076}
# After a start (power-up, leads back on) the detector learns the signal for
# 2 s, and a rate needs three beat intervals: the beats up to the fourth after
# the learning time cannot have a B line of their own and are not scored (nor
# are the beats too close to the end of a run or to the leads coming off).
LEARN_S = 2.0
WARMUP_BEATS = 4
GOALS = {"synthetic": (99.5, 99.5), "recorded": (98.0, 98.0)}
LINE = re.compile(rb"^(S|B)(0|[1-9][0-9]{0,3})$")


def parse(data):
    """Returns (S count, [(time of B, bpm)], malformed lines)."""
    lines = data.split(b"\r\n")
    if lines and lines[-1] != b"":
        lines = lines[:-1]  # the run stopped inside a line
    s_count, b_lines, bad = 0, [], []
    for line in lines[:-1] if lines and lines[-1] == b"" else lines:
        m = LINE.match(line)
        value = int(m.group(2)) if m else -1
        if m and m.group(1) == b"S" and value <= 1000:
            s_count += 1
        elif m and m.group(1) == b"B" and 1 <= value <= 254:
            b_lines.append((s_count / SAMPLE_HZ, value))
        else:
            bad.append(line)
    return s_count, b_lines, bad


def inside(t, intervals):
    return any(a <= t < b for a, b in intervals)


def unscorable(meta):
    """Intervals after each start in which no B line can come yet, and before
    each stop (end of the run, leads off) whose beats would be reported too late."""
    beats = np.array(meta["beats"])
    delay = DELAY_S[meta["mode"]]
    out = [(a - delay - MATCH_S, a) for a, _ in meta["leads_off"]]
    out.append((meta["duration"] - delay - MATCH_S, meta["duration"]))
    for start in [0.0] + [b for _, b in meta["leads_off"]]:
        after = beats[beats >= start + LEARN_S]
        end = after[WARMUP_BEATS - 1] + MATCH_S if len(after) >= WARMUP_BEATS else meta["duration"]
        out.append((start, end))
    return out


def match(ref, det):
    """One-to-one nearest matching within MATCH_S; returns {det index: ref index}."""
    pairs = sorted((abs(d - r), i, j) for i, d in enumerate(det)
                   for j in range(np.searchsorted(ref, d - MATCH_S), np.searchsorted(ref, d + MATCH_S))
                   for r in [ref[j]] if abs(d - r) <= MATCH_S)
    used_d, used_r, out = set(), set(), {}
    for _, i, j in pairs:
        if i not in used_d and j not in used_r:
            used_d.add(i)
            used_r.add(j)
            out[i] = j
    return out


def expected_rate(meta, ref, j):
    """The true rate at reference beat j, or None where none is checked: in the
    first three beats of a stretch at one rate (after a step or the leads
    coming back), the median still holds intervals from before."""
    t = ref[j]
    for a, b, bpm in meta["stretches"]:
        if a <= t < b:
            starts = [a] + [e for _, e in meta["leads_off"] if a <= e <= t]
            start = max(starts)
            # Beats in the stretch whose interval before them is already the new one.
            new = [x for x in ref[:j + 1] if x >= start]
            return bpm if len(new) - 1 >= 3 else None
    return None


def score(meta, data):
    s_count, b_lines, bad = parse(data)
    delay = DELAY_S[meta["mode"]]
    excl = meta["excluded"] + unscorable(meta)
    ref = np.array([r for r in meta["beats"] if not inside(r, excl)])
    det_all = [(t - delay, bpm, t) for t, bpm in b_lines]
    det = [d for d in det_all if not inside(d[0], excl)]
    pairs = match(ref, [d[0] for d in det])
    tp = len(pairs)
    fn, fp = len(ref) - tp, len(det) - tp
    r = {"s_lines": s_count, "s_expected": int(meta["duration"] * SAMPLE_HZ), "bad_lines": len(bad),
         "reference": len(ref), "detected": len(det), "tp": tp, "fn": fn, "fp": fp,
         "se": 100.0 * tp / max(1, tp + fn), "ppv": 100.0 * tp / max(1, tp + fp),
         "b_in_leads_off": sum(1 for _, _, t in det_all if inside(t, meta["leads_off"])),
         "detected_times": [d[0] for d in det_all]}
    errors = []
    if meta["rate_goal_bpm"] is not None:
        for i, j in pairs.items():
            want = expected_rate(meta, ref, j)
            if want is not None:
                errors.append(det[i][1] - want)
    else:
        # The record: the rate a median of five reviewed intervals gives.
        full = np.array(meta["beats"])
        for i, j in pairs.items():
            k = np.searchsorted(full, ref[j])
            if k >= 5:
                errors.append(det[i][1] - 60.0 / np.median(np.diff(full[k - 5:k + 1])))
    errors = np.abs(np.array(errors)) if errors else np.zeros(1)
    r["rate_checked"] = len(errors)
    r["rate_err_max"] = float(errors.max())
    r["rate_err_mean"] = float(errors.mean())
    r["rate_within_5"] = 100.0 * float((errors <= 5).mean())
    return r


def failures(meta, r):
    kind = "synthetic" if meta["rate_goal_bpm"] is not None else "recorded"
    se_goal, ppv_goal = GOALS[kind]
    out = []
    if r["bad_lines"]:
        out.append("%d malformed lines" % r["bad_lines"])
    if abs(r["s_lines"] - r["s_expected"]) > 2:
        out.append("%d S lines for %d expected" % (r["s_lines"], r["s_expected"]))
    if r["se"] < se_goal or r["ppv"] < ppv_goal:
        out.append("Se %.2f%% / +P %.2f%% below %.1f%% / %.1f%%" % (r["se"], r["ppv"], se_goal, ppv_goal))
    if r["b_in_leads_off"]:
        out.append("%d B lines while the leads were off" % r["b_in_leads_off"])
    if meta["rate_goal_bpm"] is not None and r["rate_err_max"] > meta["rate_goal_bpm"]:
        out.append("a rate %.0f bpm off" % r["rate_err_max"])
    return out


def main():
    args = sys.argv[1:]
    check = "--check" in args
    beats_out = args[args.index("--beats") + 1] if "--beats" in args else None
    meta_path, out_path = [a for a in args if not a.startswith("--") and a != beats_out][:2]
    meta = json.load(open(meta_path))
    with open(out_path, "rb") as f:
        r = score(meta, f.read())
    if beats_out:
        np.savetxt(beats_out, r["detected_times"], fmt="%.3f")
    bad = failures(meta, r)
    print("%-14s Se %6.2f%%  +P %6.2f%%  (%d ref, %d TP, %d FN, %d FP)  rate: %d checked, max err %.1f, mean %.2f bpm, "
          "%.1f%% within 5  S lines %d/%d  bad lines %d%s" % (
              meta_path.rsplit("/", 1)[-1][:-5], r["se"], r["ppv"], r["reference"], r["tp"], r["fn"], r["fp"],
              r["rate_checked"], r["rate_err_max"], r["rate_err_mean"], r["rate_within_5"], r["s_lines"],
              r["s_expected"], r["bad_lines"], ("  FAIL: " + "; ".join(bad)) if bad else ""))
    return 1 if check and bad else 0


if __name__ == "__main__":
    sys.exit(main())
