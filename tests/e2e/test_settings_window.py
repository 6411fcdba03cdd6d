"""The settings window of the real program (F6): the ports and baud rates it offers, what a choice does."""

import os
import re
import unittest

import vintra_drive as vd

# Wine adds the host's own serial devices at the lowest free numbers, so the
# list may hold more than these. COM1 and COM2 are ours: moving through the
# list with the keys selects (and opens) every port on the way, and the host's
# ports must not be opened.
PORTS = (1, 2, 3, 12)
BAUD_RATES = ["110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600",
              "115200", "128000", "256000"]


def setUpModule():
    if not os.path.exists(vd.paths.COMBO_PROBE):
        raise RuntimeError("combo_probe.exe not found at %s (VINTRA_COMBO_PROBE)" % vd.paths.COMBO_PROBE)
    vd.start_session(PORTS)


def tearDownModule():
    vd.stop_session()


def port_number(item):
    """The number in a port list item, or None when the item is not named as ports are."""
    match = re.fullmatch(r"COM([1-9])|\\\\\.\\COM([1-9]\d+)", item)
    return int(match.group(1) or match.group(2)) if match else None


def send_beat(test, run, device, value):
    """Writes a B line until it is echoed, then checks bpm.txt holds it."""
    vd.send_until_echoed(run, device, b"B%d\r\n" % value, b"B%d" % value)
    run.wait_bpm(b"%d" % value)


class Opening(unittest.TestCase):
    def test_f6_opens_one_window_listing_ports_and_rates_and_closing_the_main_window_ends_both(self):
        for port in PORTS:
            vd.plug_device(self, port)
        run = vd.launch_for(self)
        x_id, handle = vd.open_settings(run)
        windows = vd.top_level_windows()
        self.assertEqual([("settings", handle, True, vd.SETTINGS_TITLE)], [w for w in windows if w[0] == "settings"])

        lists = vd.read_settings_lists()
        items = lists.ports.items
        numbers = [port_number(item) for item in items]
        self.assertNotIn(None, numbers, "an item not named as a port: %r" % items)
        self.assertEqual(sorted(numbers), numbers, "ports not in probe order: %r" % items)
        self.assertEqual(len(set(numbers)), len(numbers), "a port listed twice: %r" % items)
        self.assertEqual(["COM1", "COM2", "COM3", "\\\\.\\COM12"],
                         [item for item in items if port_number(item) in PORTS])
        host_ports = len([name for name in os.listdir("/sys/class/tty") if name.startswith("ttyS")])
        self.assertLessEqual(len(items) - len(PORTS), host_ports, "ports listed that are not mapped: %r" % items)
        self.assertEqual(-1, lists.ports.selected, "a port is selected in a fresh list")
        self.assertEqual(BAUD_RATES, lists.bauds.items)
        self.assertEqual("115200", lists.bauds.selected_text(), "the baud list shows no rate, or not 115200")

        vd.grab_screen().crop(0, 0, 420, 260).save_png("settings-window.png")
        self.assertIsNone(run.read_file("vintra.config"), "opening the window wrote the settings")
        self.assertEqual([x_id], vd.settings_x_windows())
        # Closing the main window while the settings window is open ends the program.
        self.assertEqual(0, run.close(vd.MAIN_FREE_POINT))
        self.assertEqual([], vd.settings_x_windows())


class ChoosingAPort(unittest.TestCase):
    # Each row: how the port is chosen, the port, the settings file it writes
    # (no baud rate saved yet: the 115200 the baud list shows).
    CASES = [
        ("keyboard", 3, b"3 115200"),
        ("mouse", 12, b"12 115200"),
    ]

    def test_a_chosen_port_is_saved_and_its_data_reaches_bpm_file(self):
        for how, port, saved in self.CASES:
            with self.subTest(how=how, port=port):
                devices = {n: vd.plug_device(self, n) for n in PORTS}
                run = vd.launch_for(self)
                try:
                    self.check_choice(run, devices, how, port, saved)
                finally:
                    run.kill()
                    for device in devices.values():
                        device.close()

    def check_choice(self, run, devices, how, port, saved):
        """Chooses `port` in a fresh settings window and follows its data to bpm.txt."""
        vd.open_settings(run)
        item = "COM%d" % port if port < 10 else "\\\\.\\COM%d" % port
        if how == "keyboard":
            vd.choose_with_keyboard(0, item)
        else:
            vd.choose_with_mouse(0, item)
        vd.wait_until(lambda: run.read_file("vintra.config") == saved,
                      what="vintra.config to hold %r (it holds %r)" % (saved, run.read_file("vintra.config")))
        device = devices[port]
        device.wait_set_up(115200)
        send_beat(self, run, device, 60 + port)
        for other, other_device in devices.items():
            if other != port:
                self.assertFalse(other_device.opened_by_others(), "COM%d is open too" % other)
        self.assertEqual(item, vd.read_settings_lists().ports.selected_text())
        self.assertEqual(0, run.close(vd.MAIN_FREE_POINT))
        self.assertEqual(saved, run.read_file("vintra.config"))


class ChoosingABaudRate(unittest.TestCase):
    def test_a_rate_chosen_while_the_port_is_open_is_saved_and_applied_at_once(self):
        device = vd.plug_device(self, 3)
        run = vd.launch_for(self, b"3 115200")
        device.wait_set_up(115200)
        vd.open_settings(run)
        self.assertEqual("115200", vd.read_settings_lists().bauds.selected_text())

        # Each row: how the rate is chosen, the rate.
        for how, rate in (("keyboard", 9600), ("mouse", 57600)):
            with self.subTest(how=how, rate=rate):
                if how == "keyboard":
                    vd.choose_with_keyboard(1, str(rate))
                else:
                    vd.choose_with_mouse(1, str(rate))
                saved = b"3 %d" % rate
                vd.wait_until(lambda: run.read_file("vintra.config") == saved, what="vintra.config to hold %r "
                              "(it holds %r)" % (saved, run.read_file("vintra.config")))
                device.wait_set_up(rate)
                # The same device stays open and keeps delivering.
                self.assertTrue(device.opened_by_others())
                send_beat(self, run, device, rate % 200)
        self.assertEqual(0, run.close(vd.MAIN_FREE_POINT))

    def test_a_port_chosen_after_an_unlisted_saved_rate_uses_the_rate_the_list_shows(self):
        # A saved rate the list does not offer (230400): the list shows 115200,
        # and that is the rate a port chosen now is saved and opened with.
        devices = {n: vd.plug_device(self, n) for n in PORTS}
        run = vd.launch_for(self, b"3 230400")
        devices[3].wait_set_up(230400)
        vd.open_settings(run)
        self.assertEqual("115200", vd.read_settings_lists().bauds.selected_text())
        vd.choose_with_keyboard(0, "\\\\.\\COM12")
        vd.wait_until(lambda: run.read_file("vintra.config") != b"3 230400", what="vintra.config to change")
        self.assertEqual(b"12 115200", run.read_file("vintra.config"))
        self.assertEqual(115200, devices[12].line_settings()[0])


class SecondF6(unittest.TestCase):
    def test_second_f6_refreshes_the_list_and_brings_up_the_same_window(self):
        device = vd.plug_device(self, 3)
        vd.plug_device(self, 12)
        run = vd.launch_for(self)
        x_id, handle = vd.open_settings(run)
        vd.choose_with_keyboard(0, "COM3")
        vd.wait_until(lambda: run.read_file("vintra.config") == b"3 115200", what="COM3 to be saved")
        items = vd.read_settings_lists().ports.items
        # Another window in front, as when the user clicks the main window.
        self.assertEqual(0, vd.combo_probe("lower")[0])
        order = [kind for kind, _, _, _ in vd.top_level_windows()]
        self.assertEqual(["main", "settings"], order, "the settings window did not go behind")

        self.assertEqual((x_id, handle), vd.open_settings(run))
        self.assertEqual(["settings", "main"], [kind for kind, _, _, _ in vd.top_level_windows()],
                         "F6 left the settings window behind the main window")
        lists = vd.read_settings_lists()
        self.assertEqual(-1, lists.ports.selected, "the port list was not refilled")
        self.assertEqual(items, lists.ports.items)
        self.assertEqual(b"3 115200", run.read_file("vintra.config"), "refilling the list changed the settings")
        send_beat(self, run, device, 93)  # the chosen port stays open
        self.assertEqual(0, run.close(vd.MAIN_FREE_POINT))


class ClosingTheWindow(unittest.TestCase):
    def test_a_closed_window_is_built_afresh_showing_the_saved_rate(self):
        device = vd.plug_device(self, 3)
        run = vd.launch_for(self, b"3 115200")
        device.wait_set_up(115200)
        # Each row: how the window is closed, the rate chosen before.
        for how, rate in (("alt+F4", "9600"), ("close message", "19200")):
            with self.subTest(how=how):
                x_id, handle = vd.open_settings(run)
                vd.choose_with_keyboard(1, rate)
                vd.wait_until(lambda: run.read_file("vintra.config") == b"3 " + rate.encode(),
                              what="the rate to be saved")
                if how == "alt+F4":
                    vd.close_settings_with_keys(run, x_id)
                else:
                    self.assertEqual(0, vd.combo_probe("close")[0])
                vd.wait_settings_gone()
                self.assertIsNone(run.process.poll(), "closing the settings window ended the program")

                new_x_id, new_handle = vd.open_settings(run)
                self.assertNotEqual(handle, new_handle, "F6 showed the closed window again")
                lists = vd.read_settings_lists()
                self.assertEqual(rate, lists.bauds.selected_text(), "the new window does not show the saved rate")
                self.assertEqual(-1, lists.ports.selected)
                self.assertEqual(0, vd.combo_probe("close")[0])
                vd.wait_settings_gone()
        send_beat(self, run, device, 77)
        self.assertEqual(0, run.close(vd.MAIN_FREE_POINT))


if __name__ == "__main__":
    unittest.main()
