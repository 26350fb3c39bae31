"""The Record toggle of the settings bar with three virtual cameras: it appears once the live
cameras stream, records them into recordings/<date>_<time>/ while it is on, and every file it
wrote plays (tavorin-export reads a frame of it)."""
import glob
import os
import re
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
RECORDING_SECONDS = 3


class RecordInWindow(unittest.TestCase):
    def setUp(self):
        e2e.open_window(self, REPO, BUILD, {"TAVORIN_VIRTUAL_CAMERAS": "3"})

    def test_toggle_records_the_live_cameras(self):
        self.assertTrue(e2e.wait_for(lambda: e2e.record_toggle_shown(self.display, self.workdir), 90, interval=1.0),
                        "no Record toggle")
        started = e2e.click_until(self.display, e2e.RECORD_BUTTON,
                                  lambda: "Recording 3 cameras to " in self.program.console())
        self.assertTrue(started, self.program.console()[-2000:])
        time.sleep(RECORDING_SECONDS)
        e2e.click(self.display, *e2e.RECORD_BUTTON)
        self.assertTrue(e2e.wait_for(lambda: "Dropped frames: " in self.program.console(), 30),
                        self.program.console()[-2000:])
        console = self.program.console()
        folder = re.search(r"Recording 3 cameras to (recordings/\S+)", console).group(1)
        files = sorted(glob.glob(os.path.join(self.workdir, folder, "kinect_*.h5")))
        self.assertEqual(len(files), 3, console[-2000:])
        self.assertEqual(console.count("Recorded "), 3, console[-2000:])
        export = subprocess.run([os.path.join(BUILD, "tavorin-export"), "--out", os.path.join(self.workdir, "r.ply"),
                                 *files], cwd=self.workdir, capture_output=True, text=True)
        self.assertEqual(export.returncode, 0, export.stderr[-1000:])
        self.assertEqual(self.program.terminate(timeout=20), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
