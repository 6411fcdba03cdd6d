"""Start-up of the real program: the window, and what the settings file makes it open."""

import time
import unittest

import vintra_drive as vd

PORTS = (3, 5, 7)
# Longer than the program's once-a-second retry of the chosen port.
RETRY_WINDOW = 2.5


def setUpModule():
    vd.start_session(PORTS)


def tearDownModule():
    vd.stop_session()


def stays_false(condition, seconds):
    """True if condition() stays false for `seconds`."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return False
        time.sleep(0.1)
    return True


class WithoutSettingsFile(unittest.TestCase):
    def test_green_window_opens_nothing_creates_nothing_and_closes_with_0(self):
        devices = [vd.plug_device(self, port) for port in PORTS]
        run = vd.launch_for(self)
        picture = run.wait_picture(lambda p: p.width >= 200 and p.height >= 150, "the green client area")
        self.assertEqual(vd.GREEN, picture.pixel(1, 1))
        self.assertEqual(vd.GREEN, picture.pixel(picture.width - 2, picture.height - 2))
        self.assertTrue(stays_false(lambda: any(d.opened_by_others() for d in devices), RETRY_WINDOW),
                        "a COM port was opened without a settings file")
        self.assertEqual(0, run.close())
        self.assertIsNone(run.read_file("bpm.txt"))
        self.assertIsNone(run.read_file("vintra.config"))


class SettingsFile(unittest.TestCase):
    def test_port_and_baud_separated_by_two_spaces(self):
        device = vd.plug_device(self, 3)
        run = vd.launch_for(self, b"3  9600\n")
        device.wait_set_up(9600)
        self.assertTrue(device.opened_by_others())
        device.write(b"B66\r\n")
        run.wait_bpm(b"66")
        self.assertEqual(0, run.close())
        self.assertEqual(b"3  9600\n", run.read_file("vintra.config"), "the settings file was rewritten")

    def test_port_only_opens_that_port_and_keeps_its_line_speed(self):
        device = vd.plug_device(self, 7)
        speed_before = device.line_settings()[0]
        run = vd.launch_for(self, b"7")
        vd.wait_until(device.opened_by_others, what="COM7 to be opened")
        vd.send_until_echoed(run, device, b"S123\r\n", b"S123")
        self.assertEqual(speed_before, device.line_settings()[0])
        self.assertEqual(0, run.close())

    def test_unreadable_settings_open_nothing(self):
        for text in (b"garbage", b"COM5 115200", b"\xff\xfe\x00 junk 5", b""):
            with self.subTest(settings=text):
                devices = [vd.plug_device(self, port) for port in PORTS]
                run = vd.launch_for(self, text)
                self.assertTrue(stays_false(lambda: any(d.opened_by_others() for d in devices), RETRY_WINDOW),
                                "a COM port was opened")
                for device in devices:
                    device.write(b"B55\r\n")
                self.assertTrue(stays_false(run.echoed_lines, 1.0), "something was echoed")
                self.assertEqual(0, run.close())
                self.assertIsNone(run.read_file("bpm.txt"))
                self.assertEqual(text, run.read_file("vintra.config"))
                for device in devices:
                    device.close()


if __name__ == "__main__":
    unittest.main()
