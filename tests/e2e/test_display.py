"""What the real program draws: the panels, the rate number, both traces, clearing, the minimum size."""

import re
import subprocess
import unittest

from vintra_drive import panel_look as look
import vintra_drive as vd

PORT = 5


def setUpModule():
    vd.start_session((3, PORT, 7))


def tearDownModule():
    vd.stop_session()


def signal_y(picture, value):
    """Row of a sample in the signal panel: 0 on its bottom edge, 1000 on its top edge."""
    _, top, _, bottom = look.panel_rects(picture.width, picture.height)["signal"]
    return int(value * ((bottom - top) / -1000.0) + bottom)


def history_y(picture, values, value):
    """Row of a beat rate in the history panel, whose scale follows the values shown."""
    _, top, _, bottom = look.panel_rects(picture.width, picture.height)["history"]
    lo = (min(values) + 5) // 10 * 10 - 5
    hi = (max(values) + 5) // 10 * 10 + 5
    return int((value - lo) * ((bottom - top) / (lo - hi)) + bottom)


def dark_near(picture, x, y, reach=2):
    """Whether a dark pixel lies within `reach` rows of (x, y): lines are drawn 2 pixels wide."""
    return any(look.is_dark(picture.pixel(x, row)) for row in range(y - reach, y + reach + 1))


def settled_layout(run):
    """Waits for the window to show the full panel layout and returns that picture."""
    return run.wait_picture(lambda p: not look.layout_problems(p), "the panel layout")


class EmptyStore(unittest.TestCase):
    def test_three_grey_panels_on_green_with_a_centred_zero(self):
        run = vd.launch_for(self)
        picture = settled_layout(run)
        picture.save_png("empty-store.png")
        self.assertEqual(run.probe("rect")["client"], (picture.width, picture.height),
                         "the green area is not the whole client area")
        digits = look.rate_digits(picture)
        self.assertGreater(len(digits), 50, "no number in the rate panel")
        left, _, right, _ = look.panel_rects(picture.width, picture.height)["rate"]
        xs = [x for x, _ in digits]
        self.assertLessEqual(abs((min(xs) + max(xs)) / 2 - (left + right) / 2), 3, "the number is not centred")
        self.assertGreaterEqual(min(y for _, y in digits), 8, "the number starts above its inset")
        self.assertEqual(set(), look.history_label_pixels(picture), "grid labels without data")
        self.assertEqual(0, run.close())


class DataOnScreen(unittest.TestCase):
    def test_picture_follows_the_data_clears_on_delete_and_carries_on(self):
        device = vd.plug_device(self, PORT)
        run = vd.launch_for(self, b"5 115200")
        device.wait_set_up(115200)
        empty = settled_layout(run)

        rates = list(range(60, 90, 2)) + [72]
        device.write(b"S250\r\n" * 200 + b"S750\r\n" * 20 + b"".join(b"B%d\r\n" % r for r in rates))
        run.wait_bpm(b"72")
        left, _, right, _ = look.panel_rects(empty.width, empty.height)["signal"]
        full = run.wait_picture(
            lambda p: dark_near(p, right - 10, signal_y(p, 750)) and look.rate_digits(p) != look.rate_digits(empty),
            "the samples and B72 on the screen")
        full.save_png("after-b72.png")
        # Oldest left, newest right; 0 at the bottom edge, 1000 at the top.
        self.assertTrue(dark_near(full, left + 60, signal_y(full, 250)), "older samples not at 250")
        self.assertFalse(dark_near(full, left + 60, signal_y(full, 750)), "older samples drawn at 750")
        # One pixel per beat rate, newest at the right edge, on a scale that fits them
        # (the newest few lie on the panel's outline).
        history_right = look.panel_rects(full.width, full.height)["history"][2]
        for k, rate in enumerate(rates):
            x = history_right - len(rates) + k
            if x < history_right - 3:
                self.assertTrue(dark_near(full, x, history_y(full, rates, rate)), "B%d not at x=%d" % (rate, x))
        self.assertTrue(look.history_label_pixels(full), "no grid labels")

        run.key("Delete")
        run.wait_picture(lambda p: p.data == empty.data, "Delete to bring back the empty picture")

        device.write(b"B80\r\n")
        run.wait_bpm(b"80")
        again = run.wait_picture(
            lambda p: look.rate_digits(p) not in (look.rate_digits(empty), look.rate_digits(full)), "B80 on the screen")
        again.save_png("after-delete-b80.png")
        self.assertTrue(look.history_label_pixels(again), "no grid label for 80")
        self.assertEqual(0, run.close())


class WindowSize(unittest.TestCase):
    def test_minimum_tracking_size_holds_and_the_layout_follows_the_size(self):
        run = vd.launch_for(self)
        settled_layout(run)
        smallest = run.probe("size", 100, 100)
        self.assertGreaterEqual(smallest["outer"][0], look.MIN_TRACK_SIZE[0])
        self.assertGreaterEqual(smallest["outer"][1], look.MIN_TRACK_SIZE[1])
        picture = run.wait_picture(
            lambda p: (p.width, p.height) == smallest["client"] and not look.layout_problems(p),
            "the layout at %s" % (smallest["client"],))
        picture.save_png("minimum-size.png")

        # Without a window manager xdotool resizes the X window behind Wine's
        # back; Wine still applies the minimum to the window's own size.
        vd.wait_until(lambda: subprocess.run(["xdotool", "windowsize", "--sync", run.wait_window(), "100", "100"],
                                             stderr=subprocess.DEVNULL, timeout=10).returncode == 0,
                      what="xdotool to resize the window")
        after = run.probe("rect")
        self.assertGreaterEqual(after["outer"][0], look.MIN_TRACK_SIZE[0])
        self.assertGreaterEqual(after["outer"][1], look.MIN_TRACK_SIZE[1])

        larger = run.probe("size", 500, 400)
        self.assertEqual((500, 400), larger["outer"])
        run.wait_picture(lambda p: (p.width, p.height) == larger["client"] and not look.layout_problems(p),
                         "the layout at %s" % (larger["client"],)).save_png("larger.png")
        self.assertEqual(0, run.close())


class SimulatedDevice(unittest.TestCase):
    def test_live_signal_and_rate_from_vintra_sim(self):
        sim = vd.Simulator(PORT, ["--rate", 100, "--bpm", 72, "--seed", 1])
        self.addCleanup(sim.stop)
        run = vd.launch_for(self, b"5 115200")
        vd.wait_until(lambda: (run.read_file("bpm.txt") or b"").isdigit(), what="a beat rate in bpm.txt")
        self.assertTrue(40 <= int(run.read_file("bpm.txt")) <= 120, run.read_file("bpm.txt"))

        def live(p):
            rows = {y for _, y in p.dark_pixels(look.inside(look.panel_rects(p.width, p.height)["signal"], 3))}
            return len(rows) > 30
        picture = run.wait_picture(live, "a live signal trace")
        picture.save_png("simulated-device.png")
        self.assertTrue(look.rate_digits(picture))
        vd.wait_until(lambda: len(run.echoed_lines()) > 200, what="200 echoed lines")
        malformed = [line for line in run.echoed_lines() if not re.fullmatch(rb"[SB]\d+", line)]
        self.assertEqual([], malformed)
        self.assertEqual(0, run.close())


if __name__ == "__main__":
    unittest.main()
