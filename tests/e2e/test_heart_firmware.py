"""The heart sensor firmware, running in the simulator on a pseudo-terminal as COM5,
read by the real program: bpm.txt follows the beats it detects."""

import os
import re
import unittest

import vintra_drive as vd

PORT = 5


def setUpModule():
    vd.start_session((PORT,))


def tearDownModule():
    vd.stop_session()


class HeartFirmware(unittest.TestCase):
    def test_bpm_follows_a_rate_step(self):
        # The program first, waiting for its port; then the firmware, at real time,
        # on an ECG at 75 bpm for 12 s and 120 bpm after.
        run = vd.launch_for(self, b"%d 115200" % PORT)
        watch = vd.BpmWatcher(run.path("bpm.txt"))
        self.addCleanup(watch.stop)
        rig = vd.Simulator(PORT, [vd.paths.HEART_FIRMWARE, os.path.join(vd.paths.HEART_SIGNALS, "ecg-75-120.sig"),
                                  "--realtime"], sim=vd.paths.HEART_RIG)
        self.addCleanup(rig.stop)
        vd.wait_until(lambda: b"120" in watch.texts(), 40, lambda: "bpm.txt to reach 120 (seen %r)" % watch.texts())
        self.assertEqual([b"75", b"120"], watch.texts())
        lines = run.echoed_lines()
        self.assertGreater(len(lines), 2000)
        self.assertEqual([], [line for line in lines if not re.fullmatch(rb"S\d+|B(75|120)", line)])
        self.assertEqual(0, run.close())


if __name__ == "__main__":
    unittest.main()
