#!/usr/bin/env python3
"""Records a perf profile of the running program under Wine.

    tools/perf/profile_program.py [--rate N | --idle] [--seconds S] [--out perf.data] [--server]

Starts the same private session as wine_bench.py, runs Vintra.exe with
vintra-sim at N samples/s (or with no device), and runs
`perf record -g -p PID` on the Vintra process (with --server also on the Wine
server). Read it with `perf report -i OUT --no-children --sort dso,sym`.
"""

import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vintra_session as vs  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rate", type=float, default=500, help="samples per second from vintra-sim")
    parser.add_argument("--idle", action="store_true", help="no device at all")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--out", default="perf.data")
    parser.add_argument("--server", action="store_true", help="profile the Wine server too")
    args = parser.parse_args()
    session = vs.Session().start()
    device = None
    program = None
    try:
        if args.idle:
            vs.remove_port_link()
        else:
            device = vs.SimDevice(["--rate", str(args.rate)])
        program = vs.Program(session)
        if device:
            vs.wait_until(device.configured, 30, "the program to configure the line")
        time.sleep(3)
        pids = [program.pid] + ([session.server.pid] if args.server else [])
        before = vs.cpu_seconds(program.pid)
        subprocess.run(["perf", "record", "-g", "-o", args.out, "-p", ",".join(map(str, pids)),
                        "--", "sleep", str(args.seconds)], check=True)
        print("Vintra used %.2f%% of a core while recorded" %
              (100 * (vs.cpu_seconds(program.pid) - before) / args.seconds), file=sys.stderr)
    finally:
        if program:
            program.stop()
        if device:
            device.stop()
        session.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
