#!/usr/bin/env python3
"""Records a perf profile of the running program under Wine.

    tools/perf/profile_program.py [--rate N | --idle] [--seconds S] [--out perf.data] [--server]

Starts the same private session as wine_bench.py, with its functions, runs
Vintra.exe with vintra-sim at N samples/s (or with no device), and runs
`perf record -g -p PID` on the Vintra process (with --server also on the Wine
server). Read it with `perf report -i OUT --no-children --sort dso,sym`.
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_bench as wb  # noqa: E402  (it puts tools/ on the path)
import vintra_drive as vd  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rate", type=float, default=500, help="samples per second from vintra-sim")
    parser.add_argument("--idle", action="store_true", help="no device at all")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--out", default="perf.data")
    parser.add_argument("--server", action="store_true", help="profile the Wine server too")
    args = parser.parse_args()
    server = wb.start_session()
    device = None
    run = None
    try:
        if args.idle:
            vd.remove_link(vd.port_link(wb.PORT))
        else:
            device = vd.Simulator(wb.PORT, ["--rate", str(args.rate)], sim=wb.VINTRA_SIM)
        run, pid = wb.start_program()
        if device:
            wb.wait_configured(device)
        time.sleep(3)
        pids = [pid] + ([server.pid] if args.server else [])
        before = vd.cpu_seconds(pid)
        subprocess.run(["perf", "record", "-g", "-o", args.out, "-p", ",".join(map(str, pids)),
                        "--", "sleep", str(args.seconds)], check=True)
        print("Vintra used %.2f%% of a core while recorded" %
              (100 * (vd.cpu_seconds(pid) - before) / args.seconds), file=sys.stderr)
    finally:
        if run:
            wb.stop_program(run)
        if device:
            device.stop()
        wb.stop_session(server)
    return 0


if __name__ == "__main__":
    sys.exit(main())
