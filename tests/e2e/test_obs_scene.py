"""Vintra in a real OBS Studio scene: the chroma key takes all of the green and nothing of the panels, and the
text source reading bpm.txt follows a new beat rate within OBS's own refresh."""

import unittest

from vintra_drive import panel_look as look
import vintra_drive as vd
from vintra_obs import scene, stage as stages


def setUpModule():
    vd.start_session((stages.PORT,))


def tearDownModule():
    vd.stop_session()


class ObsScene(unittest.TestCase):
    def test_recommended_key_and_rate_text(self):
        stage = stages.start(self, scene.RECOMMENDED_KEY)
        # The comparison means something only with a trace, digits and grid in the picture.
        self.assertTrue(look.rate_digits(stage.client), "no rate digits drawn")
        self.assertTrue(look.history_trace_pixels(stage.client), "no rate history drawn")
        keyed = stages.scene_picture(stage)
        report = scene.key_report(keyed, stage.client)
        if any(report.values()):
            keyed.save_png("obs-scene-failed.png")
            stage.client.save_png("obs-client-failed.png")
        self.assertEqual(dict.fromkeys(report, 0), report, "pictures in %s" % vd.paths.SHOTS_DIR)

        delays = stages.text_delays(stage, (131, 58, 97))
        print("text source delays: %s s" % ", ".join("%.2f" % d for d in delays))
