"""Runs the firmware in the heart-rig on signals with known beats and checks
the goals.

    rig_check.py FIRMWARE_DIR RIG OUT_DIR synthetic|record|overrun

FIRMWARE_DIR holds VintraHeart-ecg.elf, -ppg.elf and -overrun.elf (the ECG
build at 9600 baud, which cannot send 500 lines a second: "overrun" checks
that it drops lines whole). Writes the
signals, the firmware's output, the scores (OUT_DIR/scores.txt) and the
detected beat times into OUT_DIR; prints one line per signal and the
firmware's cost per sample. Exit code 1 when a goal is missed."""
import os
import re
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import heart_signals  # noqa: E402
import score_heart  # noqa: E402

BUDGET = 16000000 // 500  # cycles between two samples


def run_one(fw_dir, rig, out_dir, name, mode):
    sig = os.path.join(out_dir, name)
    with open(sig + ".out", "wb") as out:
        p = subprocess.run([rig, os.path.join(fw_dir, "VintraHeart-%s.elf" % mode), sig + ".sig"],
                           stdout=out, stderr=subprocess.PIPE, timeout=600)
    report = p.stderr.decode(errors="replace")
    score = subprocess.run([sys.executable, os.path.join(HERE, "score_heart.py"), sig + ".json", sig + ".out",
                            "--check", "--beats", sig + ".beats"], capture_output=True, text=True)
    m = re.search(r"cycles max (\d+) mean (\d+)", report)
    cycles = (int(m.group(1)), int(m.group(2))) if m else (0, 0)
    ok = p.returncode == 0 and score.returncode == 0 and m is not None
    return name, ok, score.stdout.strip() or score.stderr.strip(), cycles, report.strip()


def overrun(fw_dir, rig, out_dir):
    """The firmware whose line is too slow: many lines dropped, none torn, and
    sampling not held up by the line (the rate still comes out right)."""
    name, rate, pin, off, meta = next(s for s in heart_signals.synthetic_set() if s[0] == "ecg-100bpm")
    heart_signals.write(out_dir, name, rate, pin, off, meta)
    sig = os.path.join(out_dir, name)
    out = subprocess.run([rig, os.path.join(fw_dir, "VintraHeart-overrun.elf"), sig + ".sig", "--seconds", "10"],
                         capture_output=True, timeout=600).stdout
    s_count, b_lines, bad = score_heart.parse(out)
    print("9600 baud, 10 s: %d S lines of 5000, %d B lines, %d malformed %r" % (s_count, len(b_lines), len(bad), bad[:5]))
    rates = {bpm for _, bpm in b_lines}
    return 0 if not bad and 0 < s_count < 2500 and rates == {100} else 1


def main():
    fw_dir, rig, out_dir, which = sys.argv[1:5]
    os.makedirs(out_dir, exist_ok=True)
    if which == "overrun":
        return overrun(fw_dir, rig, out_dir)
    signals = list(heart_signals.synthetic_set()) if which == "synthetic" else [heart_signals.record()]
    for s in signals:
        heart_signals.write(out_dir, *s)
    # Two at a time: the CI machines have two cores.
    with ThreadPoolExecutor(max_workers=2) as pool:
        results = list(pool.map(lambda s: run_one(fw_dir, rig, out_dir, s[0], s[4]["mode"]), signals))
    failed = 0
    with open(os.path.join(out_dir, "scores.txt"), "w") as f:
        for name, ok, line, cycles, report in results:
            text = "%s  cycles/sample max %d mean %d (%.0f%% of the %d between samples)" % (
                line, cycles[0], cycles[1], 100.0 * cycles[0] / BUDGET, BUDGET)
            if not ok:
                failed += 1
                text += "\n  " + report.replace("\n", "\n  ")
            print(text)
            f.write(text + "\n")
    worst = max(c[0] for _, _, _, c, _ in results)
    print("worst case: %d cycles per sample of %d (%.0f%%)" % (worst, BUDGET, 100.0 * worst / BUDGET))
    return 1 if failed or worst >= BUDGET else 0


if __name__ == "__main__":
    sys.exit(main())
