#!/usr/bin/env python3
"""Turns the benchmark results into one table: printed, and written into
docs/performance.md between its generated-table markers (the rest of the
document is left as it is).

    tools/perf/bench_report.py --decoder DECODER.json --wine WINE.json [--doc docs/performance.md]
"""

import argparse
import datetime
import json
import os
import re
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from vintra_drive.paths import WINE  # noqa: E402

FASTEST_LINE = 25600.0          # bytes/s a 256000-baud line carries (10 bits a byte)
DECODER_GOAL = 4000             # times the fastest line
TICK_US = 1e6 / 60
PAINT_GOAL_PCT = 2.0
CPU_GOAL_PCT = 2.0
LATENCY_GOAL_MS = 33.0
MEMORY_TOLERANCE = 0.01         # RSS may wobble by a page or two; 1% counts as no growth

START = "<!-- bench:table:start -->"
END = "<!-- bench:table:end -->"


def verdict(ok):
    return "pass" if ok else "**miss**"


def decoder_rows(path):
    with open(path) as f:
        data = json.load(f)
    medians = {}
    for entry in data["benchmarks"]:
        if entry.get("aggregate_name", "median") == "median":
            medians[entry["name"].split("/")[0]] = entry
    rows = []
    stub = medians.get("BM_DrainStubbedSinks")
    if stub:
        mb = stub["bytes_per_second"] / 1e6
        ratio = stub["bytes_per_second"] / FASTEST_LINE
        rows.append(("Decoder throughput, host build: DrainSerial on a realistic stream in reads of "
                     "at most 15 bytes; echo and bpm.txt writes stubbed",
                     "≥ %s × 25,600 B/s (≈ %.0f MB/s)" % (format(DECODER_GOAL, ","), DECODER_GOAL * FASTEST_LINE / 1e6),
                     "%.0f MB/s, %.1f M lines/s, %s ×" % (mb, stub["lines_per_s"] / 1e6, format(round(ratio), ",")),
                     verdict(ratio >= DECODER_GOAL)))
    posix = medians.get("BM_DrainPosixSinks")
    if posix:
        rows.append(("Same, with the echo and bpm.txt as Linux system calls",
                     "—",
                     "%.1f MB/s, %s lines/s, %s ×" % (posix["bytes_per_second"] / 1e6,
                                                      format(round(posix["lines_per_s"]), ","),
                                                      format(round(posix["bytes_per_second"] / FASTEST_LINE), ",")),
                     "info"))
    return rows


def pct(value):
    return "%.2f%%" % value


def wine_rows(data):
    rows = []
    drain = data.get("drain")
    if drain:
        lines = drain["drain_real_sinks_lines_per_s"]
        rows.append(("Decoder with the real echo (OutputDebugStringA twice a line) and bpm.txt writes, "
                     "under Wine, echo channel off (best of %d runs)" % drain.get("runs", 1),
                     "—",
                     "%s lines/s (%.1f × 4,000 lines/s), %.1f µs of CPU a line" % (
                         format(round(lines), ","), lines / 4000, drain["drain_real_sinks_cpu_us_per_line"]),
                     "info"))
    frame = data.get("frame")
    if frame:
        runs = frame.get("runs", 1)
        rows.append(("Frame: RenderPanels, full rings, default layout (300×200), under Wine, "
                     "median of 3,000 frames (best of %d runs)" % runs,
                     "—",
                     "%.0f µs (%s of 16.7 ms)" % (frame["render_us"], pct(frame["render_tick_pct"])),
                     "info"))
        rows.append(("Frame: whole paint of the main window as a tick drives it (invalidate; WM_PAINT: "
                     "BeginPaint, off-screen surface, render, copy, EndPaint), median (best of %d runs)" % runs,
                     "< %g%% of 16.7 ms (%.0f µs)" % (PAINT_GOAL_PCT, TICK_US * PAINT_GOAL_PCT / 100),
                     "%.0f µs (%s of 16.7 ms)" % (frame["paint_us"], pct(frame["paint_tick_pct"])),
                     verdict(frame["paint_tick_pct"] < PAINT_GOAL_PCT)))
    cpu = data.get("cpu")
    if cpu:
        window = data.get("cpu_window_s", 0)
        names = [("idle", "idle, no device"), ("50", "50 samples/s"), ("500", "500 samples/s"),
                 ("4000", "4,000 lines/s, echo channel off")]
        for key, label in names:
            if key not in cpu:
                continue
            figures = cpu[key]
            goal = "< %g%% of a core" % CPU_GOAL_PCT if key == "500" else "—"
            result = verdict(figures["vintra"] < CPU_GOAL_PCT) if key == "500" else "info"
            rows.append(("CPU of the Vintra process, %s (%g s window)" % (label, window), goal,
                         pct(figures["vintra"]) + " of a core", result))
            rows.append(("  the Wine server (and the X server) meanwhile", "—",
                         "%s (X server %s)" % (pct(figures["wineserver"]), pct(figures["xvfb"])), "info"))
        floors = [("500_no_paint", "built without the tick's repaint"),
                  ("500_no_paint_no_echo", "built without the repaint and without the echo")]
        for key, label in floors:
            if key not in cpu or "500" not in cpu:
                continue
            floor = cpu[key]["vintra"]
            rows.append(("Floor: the program %s, 500 samples/s (%g s window, same run)" % (label, window), "—",
                         "%s of a core; Vintra at 500/s is %.1f × this" % (
                             pct(floor), cpu["500"]["vintra"] / floor if floor else float("inf")), "info"))
    latency = data.get("latency")
    if latency:
        rows.append(("Latency, B line written to the pseudo-terminal → bpm.txt holds it, p50 (%d lines)"
                     % latency["lines"], "—", "%.1f ms" % latency["p50_ms"], "info"))
        rows.append(("Latency, same, p95", "≤ %.0f ms (two ticks)" % LATENCY_GOAL_MS,
                     "%.1f ms (max %.1f ms)" % (latency["p95_ms"], latency["max_ms"]),
                     verdict(latency["p95_ms"] <= LATENCY_GOAL_MS)))
    sustained = data.get("sustained")
    if sustained:
        rows.append(("Sustained %s lines/s for %d s, lines lost (counted from the echo, echo channel on)"
                     % (format(sustained["rate"], ","), sustained["seconds"]),
                     "0", "%d lost of %s sent (%s echoed in order)" % (
                         sustained["lost"], format(sustained["sent"], ","), format(sustained["in_order"], ",")),
                     verdict(sustained["lost"] == 0)))
    memory = data.get("memory")
    if memory:
        early, late = memory["after_10s_kib"], memory["after_kib"]
        rows.append(("Resident memory (VmRSS) of the Vintra process at 500 samples/s, after 10 s → after %g min"
                     % memory["minutes"], "no growth",
                     "%.1f MiB → %.1f MiB (%+d KiB, peak %.1f MiB)" % (early / 1024, late / 1024, late - early,
                                                                      memory["peak_kib"] / 1024),
                     verdict(late <= early * (1 + MEMORY_TOLERANCE))))
    return rows


def table(rows):
    lines = ["| Figure | Goal | Measured | Result |", "|---|---|---|---|"]
    for row in rows:
        lines.append("| " + " | ".join(cell.replace("|", "\\|") for cell in row) + " |")
    return "\n".join(lines)


def machine():
    model = cores = "?"
    try:
        out = subprocess.run(["lscpu"], stdout=subprocess.PIPE, text=True).stdout
        for line in out.splitlines():
            key, _, value = line.partition(":")
            if key.strip() == "Model name":
                model = value.strip()
            if key.strip() == "CPU(s)":
                cores = value.strip()
    except OSError:
        pass
    ram = "?"
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                ram = "%.1f GiB" % (int(line.split()[1]) / 1024 / 1024)
    return model, cores, ram


def commit():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    out = subprocess.run(["git", "-C", root, "log", "-1", "--format=%h"], stdout=subprocess.PIPE, text=True)
    dirty = subprocess.run(["git", "-C", root, "status", "--porcelain", "--untracked-files=no"],
                           stdout=subprocess.PIPE, text=True).stdout.strip()
    return out.stdout.strip() + (" (with uncommitted changes)" if dirty else "")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--decoder", required=True)
    parser.add_argument("--wine", required=True)
    parser.add_argument("--doc")
    parser.add_argument("--load", default="", help="load averages seen before and after the runs")
    args = parser.parse_args()
    rows = decoder_rows(args.decoder)
    with open(args.wine) as f:
        wine = json.load(f)
    rows += wine_rows(wine)
    text = table(rows)
    print(text)
    if not args.doc:
        return 0
    model, cores, ram = machine()
    # When the measurements ended, also when the table is written again later.
    stamp = datetime.datetime.fromtimestamp(os.path.getmtime(args.wine)).strftime("%Y-%m-%d %H:%M")
    block = "\n".join([
        START,
        "Measured %s on %s, %s cores, %s RAM (Debian, Wine %s); commit %s.%s%s" % (
            stamp, model, cores, ram, wine_version(), commit(),
            " A quick run (shorter CPU windows, memory over 1 minute)." if wine.get("quick") else "",
            (" Load average before and after: %s." % args.load) if args.load else ""),
        "",
        text,
        END,
    ])
    if os.path.exists(args.doc):
        with open(args.doc) as f:
            doc = f.read()
        if START in doc and END in doc:
            doc = re.sub(re.escape(START) + ".*?" + re.escape(END), lambda _: block, doc, flags=re.S)
        else:
            doc = doc.rstrip("\n") + "\n\n" + block + "\n"
    else:
        doc = "# Performance\n\n" + block + "\n"
    with open(args.doc, "w") as f:
        f.write(doc)
    return 0


def wine_version():
    try:
        return subprocess.run([WINE, "--version"], stdout=subprocess.PIPE,
                              text=True).stdout.strip().replace("wine-", "")
    except OSError:
        return "?"


if __name__ == "__main__":
    sys.exit(main())
