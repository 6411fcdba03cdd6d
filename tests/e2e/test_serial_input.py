"""Bytes from the device on COM5 through the real program to bpm.txt and the echo."""

import os
import termios
import time
import unittest

import vintra_drive as vd

PORT = 5


def setUpModule():
    vd.start_session((3, PORT, 7))


def tearDownModule():
    vd.stop_session()


def start_with_device(test):
    """Launches the program set to COM5 at 115200 and waits until it has configured the device.

    From then on nothing written to the device is lost (Wine flushes it only when opening).
    """
    device = vd.plug_device(test, PORT)
    run = vd.launch_for(test, b"5 115200")
    device.wait_set_up(115200)
    return run, device


class DeviceOnCom5(unittest.TestCase):
    def test_line_is_8n1_at_115200(self):
        run, device = start_with_device(self)
        speed, cflag = device.line_settings()
        self.assertEqual(115200, speed)
        self.assertEqual(termios.CS8, cflag & termios.CSIZE)
        self.assertFalse(cflag & termios.PARENB, "parity is on")
        self.assertFalse(cflag & termios.CSTOPB, "two stop bits")
        self.assertEqual(0, run.close())

    def test_lines_reach_bpm_file_and_echo_even_when_split_or_after_a_pause(self):
        run, device = start_with_device(self)
        device.write(b"B7")
        time.sleep(0.5)  # several ticks: the half line must wait for its end
        self.assertNotIn(b"B7", run.echoed_lines())
        self.assertIsNone(run.read_file("bpm.txt"))
        device.write(b"2\r\n")
        run.wait_bpm(b"72")
        run.wait_echo(b"B72")

        time.sleep(2.0)  # a quiet device: no input events, only the timer
        sent = time.monotonic()
        device.write(b"B81\r\n")
        run.wait_bpm(b"81", timeout=2.0)
        run.wait_echo(b"B81", timeout=2.0)
        self.assertLess(time.monotonic() - sent, 2.0)
        self.assertEqual([b"B72", b"B81"], run.echoed_lines())
        self.assertEqual(0, run.close())
        self.assertEqual(b"81", run.read_file("bpm.txt"))


class OverlayReader(unittest.TestCase):
    def test_reader_in_a_tight_loop_only_ever_finds_a_sent_value(self):
        """bpm.txt is replaced whole: a reader never sees it empty, missing or half written,
        also when the number of digits changes."""
        run, device = start_with_device(self)
        device.write(b"B60\r\n")
        run.wait_bpm(b"60")
        watcher = vd.BpmWatcher(run.path("bpm.txt"), interval=0)
        try:
            sent = [60 + (i * 7) % 120 for i in range(300)]  # 60..179: two and three digits
            for value in sent:
                device.write(b"B%d\r\n" % value)
                time.sleep(0.01)
            run.wait_bpm(b"%d" % sent[-1])
        finally:
            texts = watcher.stop()
        self.assertGreater(watcher.reads, 1000, "the reader hardly ran")
        self.assertEqual((0, 0), (watcher.empty, watcher.missing), "reads found bpm.txt empty or missing")
        allowed = {b"%d" % v for v in [60] + sent}
        self.assertEqual([], [t for t in texts if t not in allowed], "bpm.txt held a value never sent")
        self.assertEqual(["bpm.txt", "vintra.config"], sorted(n for n in os.listdir(run.path(".")) if not n.endswith(".log")))
        self.assertEqual(0, run.close())


if __name__ == "__main__":
    unittest.main()
