"""The window at 150 % display scaling (144 DPI): the program declares itself DPI-aware, so nothing is
stretched; it keeps its pixel sizes (a capture source is scaled in OBS, not by Windows). Under Wine
the frame grows with the DPI and the client area follows the usual rules; the panels and the rate's
digits are the same pixels as at 96 DPI."""

import os
import re
import shutil
import tempfile
import unittest

from vintra_drive import panel_look as look
import vintra_drive as vd

LOG_PIXELS = re.compile(rb'^("LogPixels"=dword:)00000060$', re.M)


def high_dpi_copy(prefix):
    """A copy of the prefix at 144 DPI beside it: hard links for its files (a moment, not 700 MB), real
    copies of the registry files the server rewrites, their LogPixels set to 144."""
    copy = prefix + "-dpi144-%d" % os.getpid()
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(prefix, copy, symlinks=True, copy_function=os.link)
    found = 0
    for name in ("system.reg", "user.reg"):
        path = os.path.join(copy, name)
        with open(path, "rb") as f:
            text, count = LOG_PIXELS.subn(rb"\g<1>00000090", f.read())
        os.unlink(path)  # the link, not the prefix's own file
        with open(path, "wb") as f:
            f.write(text)
        found += count
    assert found > 0, "no LogPixels of 96 in the prefix's registry"
    return copy


def empty_window():
    """The window of a run with no port and no data: its probe's sizes and its settled picture."""
    run = vd.launch(tempfile.mkdtemp(prefix="vintra-e2e-"))
    try:
        picture = run.wait_picture(lambda p: not look.layout_problems(p), "the panel layout")
        return run.probe("rect"), picture
    finally:
        run.close()


class HighDpi(unittest.TestCase):
    def test_the_panels_and_the_digits_keep_their_pixels(self):
        vd.start_session(())
        try:
            rect96, picture96 = empty_window()
        finally:
            vd.stop_session()
        normal = vd.wine.prefix["path"]
        copy = high_dpi_copy(normal)
        self.addCleanup(shutil.rmtree, copy, True)
        self.addCleanup(vd.use_prefix, normal)
        vd.use_prefix(copy)
        vd.start_session(())
        try:
            rect144, picture144 = empty_window()
        finally:
            vd.stop_session()
        picture144.save_png("high-dpi.png")
        sizes = "96 DPI: %s, 144 DPI: %s" % (rect96, rect144)
        self.assertNotEqual(rect96["outer"], rect144["outer"], "the 144 DPI did not take: " + sizes)
        self.assertEqual(rect96["client"][0], rect144["client"][0], sizes)
        self.assertEqual(set(look.rate_digits(picture96)), set(look.rate_digits(picture144)),
                         "the rate's digits changed with the DPI: " + sizes)


if __name__ == "__main__":
    unittest.main()
