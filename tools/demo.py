"""Shows Vintra at work: the simulated heart-rate device on COM5 and Vintra.exe
under Wine, set to COM5 at 115200 baud. Started by scripts/run-demo.sh, which
builds both first. With --firmware the device is the heart sensor firmware
instead, running in its simulator at real time on a recorded heart (looped).

With DISPLAY set the window opens there and the demo runs until the window is
closed or Ctrl-C. Without DISPLAY it runs --seconds on a private X server,
saves a screenshot of the window and the overlay's picture from headless
Chromium beside it, and stops. Either way it prints the overlay's and the
status page's addresses and stops everything it started.
"""

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vintra_drive as vd  # noqa: E402

PORT = 5
WEB = "http://127.0.0.1:8725"  # the program's endpoint at its default port
OVERLAY_SIZE = (640, 100)       # the guide's suggested browser source size


def parse_args(argv):
    run_dir = os.path.join(vd.paths.BUILD, "demo-run")
    parser = argparse.ArgumentParser(prog="scripts/run-demo.sh", description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=int, default=15, help="how long a run without DISPLAY lasts (15)")
    parser.add_argument("--screenshot", default=os.path.join(run_dir, "screenshot.png"),
                        help="where a run without DISPLAY saves the window (%(default)s)")
    parser.add_argument("--firmware", action="store_true",
                        help="the heart sensor firmware in its simulator, fed a recorded ECG, instead of vintra-sim")
    args = parser.parse_args(argv)
    args.run_dir = run_dir
    return args


def save_overlay(path):
    """The overlay as headless Chromium shows it (transparent where nothing is drawn); its path, or why not."""
    from vintra_drive import browser  # needs Debian's python3-websocket, only here
    chromium = browser.Browser()
    try:
        page = chromium.open(WEB + "/overlay", *OVERLAY_SIZE)
        page.wait_for("document.body.dataset.state === 'live'", 10, "the overlay to be live")
        return page.screenshot().save_png(path)
    except AssertionError as error:
        return "none (%s)" % error
    finally:
        chromium.stop()


def main(argv):
    args = parse_args(argv)
    headless = not os.environ.get("DISPLAY")
    os.makedirs(args.run_dir, exist_ok=True)
    for name in ("bpm.txt", "vintra-echo.log"):
        if os.path.exists(os.path.join(args.run_dir, name)):
            os.remove(os.path.join(args.run_dir, name))
    print("== Wine prefix (%s)" % vd.wine.prefix["path"], flush=True)
    vd.map_ports(range(1, 13))
    if args.firmware:
        print("== Heart sensor firmware in the simulator on COM%d (%s)" % (PORT, vd.port_link(PORT)), flush=True)
        sim = vd.Simulator(PORT, [vd.paths.HEART_FIRMWARE, os.path.join(vd.paths.HEART_SIGNALS, "mitdb208.sig"),
                                  "--realtime", "--loop"], sim=vd.paths.HEART_RIG)
    else:
        print("== Simulated device on COM%d (%s)" % (PORT, vd.port_link(PORT)), flush=True)
        sim = vd.Simulator(PORT)
    run = None
    try:
        if headless:
            vd.start_display()
        print("== Vintra.exe in %s (display %s)" % (args.run_dir, os.environ["DISPLAY"]), flush=True)
        run = vd.launch(args.run_dir, b"%d 115200" % PORT)
        print("Overlay:     %s/overlay (a browser source, %dx%d)" % ((WEB,) + OVERLAY_SIZE))
        print("Status page: %s/" % WEB, flush=True)
        if headless:
            print("Running for %d s on a private display..." % args.seconds, flush=True)
            time.sleep(args.seconds)
            picture = run.screenshot()
            path = picture.save_png(os.path.realpath(args.screenshot)) if picture else "none (no window showed)"
            overlay = save_overlay(os.path.join(os.path.dirname(os.path.realpath(args.screenshot)), "overlay.png"))
            print("Vintra ended with exit code %s." % run.close())
            print("Screenshot:  %s" % path)
            print("Overlay:     %s" % overlay)
        else:
            print("Close the Vintra window or press Ctrl-C to stop.", flush=True)
            print("Vintra ended with exit code %s." % run.process.wait())
    except KeyboardInterrupt:
        print("\nStopping.")
    finally:
        if run is not None:
            run.kill()
            with open(run.path("vintra-echo.log"), "wb") as f:
                f.write(b"".join(line + b"\n" for line in run.echoed_lines()))
        sim.stop()
        vd.stop_server()
        vd.stop_display()
    bpm = run.read_file("bpm.txt") if run else None
    print("Beat rate:   %s (%s)" % (os.path.join(args.run_dir, "bpm.txt"), bpm.decode() if bpm else "not written"))
    print("Echo:        %s" % os.path.join(args.run_dir, "vintra-echo.log"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
