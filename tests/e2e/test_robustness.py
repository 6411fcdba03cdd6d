"""The real program with a device that goes away and comes back, a port that appears late, and a device
that sends every kind of fault the simulator knows."""

import os
import re
import shutil
import tempfile
import termios
import threading
import time
import unittest

from vintra_drive import panel_look as look
import vintra_drive as vd

PORT = 5
LATE_PORT = 7
# The program checks the device and retries the port about once a second;
# a replugged device delivers again within about two.
BACK_WITHIN = 2.5


def setUpModule():
    vd.start_session((PORT, LATE_PORT))


def tearDownModule():
    vd.stop_session()


class Streamer:
    """Writes numbered S lines (and every 20th a B line) into a PtyDevice, about 250 a second.

    A freshly plugged device gets nothing until the program has set its line up:
    what a pseudo-terminal receives before that is kept in its cooked form (CR
    turned into LF), which a real serial port would never deliver.
    """

    def __init__(self, device):
        self.device = device
        self.sent = []  # lines in the order written
        self.count = 0
        self.set_up = True
        self._lock = threading.Lock()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _next_line(self):
        self.count += 1
        return b"B%d" % (40 + self.count % 150) if self.count % 20 == 0 else b"S%d" % self.count

    def _run(self):
        while not self._stop.is_set():
            with self._lock:
                if self.device.master is not None and not self.set_up:
                    self.set_up = self.device.line_speed() == 115200
                if self.device.master is not None and self.set_up:
                    lines = [self._next_line() for _ in range(5)]
                    self.device.write(b"".join(line + b"\r\n" for line in lines))
                    self.sent += lines
            time.sleep(0.02)

    def unplug(self):
        """Pulls the device out between two writes."""
        with self._lock:
            self.device.unplug()

    def plug(self):
        """Plugs a fresh device in under the same name; returns the number of the last line sent before."""
        with self._lock:
            self.device.plug()
            self.set_up = False
            return self.count

    def stop(self):
        self._stop.set()
        self._thread.join(5)

    def sent_after(self, line):
        """The lines written after `line`."""
        with self._lock:
            return self.sent[self.sent.index(line) + 1:]


def numbered(line):
    """The number of a streamed S line, or 0 for anything else."""
    match = re.fullmatch(rb"S(\d+)", line)
    return int(match.group(1)) if match else 0


def stray_windows():
    """Names of shown windows other than the program's own two (a message box, say)."""
    return [name for name in map(vd.window_name, vd.visible_windows(".")) if name not in ("Vintra", vd.SETTINGS_TITLE)]


class DeviceComesAndGoes(unittest.TestCase):
    def test_unplugged_device_delivers_again_after_replug_and_the_program_stays_responsive(self):
        device = vd.plug_device(self, PORT)
        run = vd.launch_for(self, b"%d 115200" % PORT)
        device.wait_set_up(115200)
        streamer = Streamer(device)
        self.addCleanup(streamer.stop)
        run.wait_echo(b"B60")  # the 20th line: data flows
        # The digits show as soon as a rate is stored (the grid labels soon cover other parts of the panels).
        before = run.wait_picture(look.rate_digits, "the beat rate shown")

        # Each row: how long the device stays out. The short one is back
        # before the program's next health check can notice it went.
        for away in (1.5, 0.3):
            with self.subTest(away=away):
                streamer.unplug()
                unplugged = time.monotonic()
                bpm_while_away = run.read_file("bpm.txt")
                if away > 1:
                    # Responsive while the device is away: F6 works, nothing pops up.
                    settings, _ = vd.open_settings(run, probe=False)
                    self.assertEqual([], stray_windows())
                    vd.close_settings_with_keys(run, settings)
                time.sleep(max(0.0, unplugged + away - time.monotonic()))
                self.assertEqual(bpm_while_away, run.read_file("bpm.txt"), "bpm.txt changed without a device")
                last_before = streamer.plug()
                plugged = time.monotonic()

                def first_new_line():
                    return next((line for line in run.echoed_lines() if numbered(line) > last_before), None)
                first = vd.wait_until(first_new_line, BACK_WITHIN + 5, "data from the replugged device")
                took = time.monotonic() - plugged
                self.assertLess(took, BACK_WITHIN, "data flowed again only %.1f s after the replug" % took)
                speed, cflag = device.line_settings()
                self.assertEqual((115200, termios.CS8), (speed, cflag & termios.CSIZE),
                                 "the replugged device's line was not set up")
                # From the first line through, nothing is lost or reordered. (A line
                # cut by the unplug may have joined the first one after the replug.)
                time.sleep(0.5)
                expected = streamer.sent_after(first)
                echoed = run.echoed_lines()
                echoed_after = echoed[echoed.index(first) + 1:]
                self.assertEqual(expected[:len(echoed_after)], echoed_after,
                                 vd.first_difference(echoed_after, expected))
                self.assertGreater(len(echoed_after), 50)

                # bpm.txt and the picture follow the new data.
                vd.wait_until(lambda: run.read_file("bpm.txt") != bpm_while_away, what="bpm.txt to change")
                shown = run.wait_picture(lambda p: look.rate_digits(p) != look.rate_digits(before), "the rate panel "
                                         "to change")
                before = shown
        streamer.stop()
        self.assertEqual(0, run.close())


class ReplugMidLine(unittest.TestCase):
    def test_the_first_line_after_a_replug_is_read_whole_and_alone(self):
        device = vd.plug_device(self, PORT)
        run = vd.launch_for(self, b"%d 115200" % PORT)
        device.wait_set_up(115200)
        vd.send_until_echoed(run, device, b"S1\r\n", b"S1")
        # Each row: what the old device left unfinished when it was pulled.
        for what, partial in (("a short line", b"B7"), ("an overlong line", b"B" + b"9" * 20)):
            with self.subTest(what):
                device.write(b"B60\r\n")
                run.wait_bpm(b"60")
                # The echo trails bpm.txt, and send_until_echoed may have sent S1 more than once:
                # count from where B60's own echo ends it.
                vd.wait_until(lambda: run.echoed_lines()[-1:] == [b"B60"], what="the echo of B60 last")
                watcher = vd.BpmWatcher(run.path("bpm.txt"))
                self.addCleanup(watcher.stop)
                start = len(run.echoed_lines())
                device.write(partial)
                device.wait_drained()
                time.sleep(0.1)  # a few ticks: the bytes are in the program's line buffer
                # Holding the terminal keeps its number from another process until the program let go.
                held, path = os.dup(device.slave), device.slave_path
                device.unplug()
                vd.wait_until(lambda: not vd.line_view.openers(path, (os.getpid(),)), BACK_WITHIN + 5,
                              "the program to close the pulled device")
                os.close(held)
                device.plug()
                device.wait_set_up(115200, BACK_WITHIN + 5)
                device.write(b"B81\r\n")
                run.wait_bpm(b"81")
                time.sleep(0.2)
                self.assertEqual([b"B81"], run.echoed_lines()[start:])
                self.assertEqual([b"60", b"81"], watcher.stop())
        self.assertEqual(0, run.close())


class PortAppearsLater(unittest.TestCase):
    def test_a_port_missing_at_start_is_opened_when_it_appears(self):
        def dangling_link():
            # The name is there, the device behind it is not. (Not a closed
            # pseudo-terminal's path: on a busy machine another one soon takes it.)
            link = vd.port_link(LATE_PORT)
            vd.point_link(link, os.path.join(os.path.dirname(link), "no-such-device"))
            self.addCleanup(lambda: os.path.islink(link) and os.remove(link))

        # Each row: what stands behind COM7 when the program starts.
        for what, prepare in (("nothing", lambda: None), ("a link to a device that is not there", dangling_link)):
            with self.subTest(what):
                prepare()
                run = vd.launch_for(self, b"%d 115200" % LATE_PORT)
                devices = []
                try:
                    self.check_picked_up(run, devices)
                finally:
                    run.kill()
                    for device in devices:
                        device.close()

    def check_picked_up(self, run, devices):
        """Plugs COM7 in while the program runs and checks it is opened and delivers."""
        run.wait_picture(lambda p: not look.layout_problems(p), "the panels")
        time.sleep(1.5)  # a retry or two fail
        self.assertIsNone(run.process.poll())
        self.assertEqual([], stray_windows())
        device = vd.plug_device(self, LATE_PORT)
        devices.append(device)
        plugged = time.monotonic()
        device.wait_set_up(115200, BACK_WITHIN + 5)
        took = time.monotonic() - plugged
        self.assertLess(took, BACK_WITHIN, "COM7 was opened only %.1f s after it appeared" % took)
        vd.send_until_echoed(run, device, b"B88\r\n", b"B88")
        run.wait_bpm(b"88")
        self.assertEqual(0, run.close())


# The decoding rules are tested on the host (tests/host/drain_test.cpp); this
# shows the real program wired to them: one run at speed with every fault the
# simulator can inject, each counted so the run proves it was sent.
FAULT_COUNTERS = ("bare_lf_sent", "overlong_sent", "nul_sent", "noise_sent", "out_of_range_sent", "split_sent")


class FaultyDevice(unittest.TestCase):
    def test_every_line_is_echoed_as_sent_and_only_well_formed_beat_rates_reach_bpm_txt(self):
        work = tempfile.mkdtemp(prefix="vintra-faults-")
        self.addCleanup(shutil.rmtree, work, True)
        device = vd.plug_device(self, PORT, raw=True)
        run = vd.launch_for(self, b"%d 115200" % PORT)
        self.check_fault_mode(run, device, ["--faults-all", 0.1, "--seed", 1], os.path.join(work, "1-"))
        self.assertEqual(0, run.close())

    def check_fault_mode(self, run, device, switches, prefix):
        """Feeds one simulator run through the freshly plugged device."""
        log_path, count_path = prefix + "echoed.log", prefix + "counts.txt"
        device.wait_set_up(115200, BACK_WITHIN + 2)
        bpm_before = run.read_file("bpm.txt")
        start = len(run.echoed_lines())
        watcher = vd.BpmWatcher(run.path("bpm.txt"))
        try:
            vd.run_into(device, ["--rate", 1000, "--bpm", 200, "--status-every", 0.25, "--duration", 1.5,
                                 "--log-echoed", log_path, "--count-file", count_path] + switches)
            device.wait_drained()
            logged = vd.read_echo_log(log_path)
            counts = vd.read_counts(count_path)
            for counter in FAULT_COUNTERS:
                self.assertGreater(counts[counter], 10, "the simulator sent too few faults (%s)" % counter)
            # Every line but the overlong ones is echoed, as sent; wait for them all.
            self.assertEqual(counts["lines_sent"] - counts["overlong_sent"], len(logged))
            vd.wait_until(lambda: len(run.echoed_lines()) - start >= len(logged),
                          what="the echo of %d lines" % len(logged))
            echoed = run.echoed_lines()[start:]
            sent = [text for _, text in logged]
            self.assertEqual(sent, echoed, vd.first_difference(echoed, sent))
            time.sleep(0.2)
        finally:
            texts = watcher.stop()
        # The simulator writes values as plain digits: bpm.txt holds them as they are.
        beats = [text[1:] for kind, text in logged if kind == b"W" and text.startswith(b"B")]
        self.assertTrue(beats, "no B line was sent")
        allowed = set(beats) | ({bpm_before} if bpm_before else set())
        self.assertEqual([], [t for t in texts if t not in allowed], "bpm.txt held other values")
        self.assertEqual(beats[-1], run.read_file("bpm.txt"))


if __name__ == "__main__":
    unittest.main()
