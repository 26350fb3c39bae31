"""A user's journey through the settings bar with the sample recordings: answer a file dialog with
a folder, open two recordings through the file dialogs, pick a cloud point, store the
calibrations, press "Register World" without saved points (refused) and store again, switch back
to live."""
import json
import os
import re
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
CONFIG_TEXT = re.compile(r'\A\{\n    "modelMatrix": \[\n(        -?[0-9.e+-]+,\n){15}        -?[0-9.e+-]+\n    \]\n\}\Z')


class SettingsBarWithRecordings(unittest.TestCase):
    def setUp(self):
        self.recordings = e2e.ensure_samples(REPO, BUILD)
        self.workdir = e2e.working_directory(REPO)
        self.addCleanup(shutil.rmtree, self.workdir, True)
        # The first camera already has a calibration: half a metre along x and a quarter turn.
        self.placed = [0.0, 0.0, -1.0, 0.0, 0.0, 1.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.5, 0.0, 0.0, 1.0]
        first = "kinect_" + os.path.basename(self.recordings[0])[7:-3] + ".json"
        with open(os.path.join(self.workdir, "config", "cameras", "hdf5", "a", first), "w") as f:
            json.dump({"modelMatrix": self.placed}, f)
        self.shots = tempfile.mkdtemp(prefix="tavorin-shots-")
        self.addCleanup(shutil.rmtree, self.shots, True)
        e2e.start_program(self, BUILD, self.workdir)
        time.sleep(1.5)

    def shot(self, name):
        path = os.path.join(self.shots, name + ".png")
        self.display.screenshot(path)
        return path

    def test_two_recordings_pick_store_and_back_to_live(self):
        empty = e2e.cloud_pixels(self.display, self.shot("empty"))

        # A folder is refused with its name and the dialog asks again.
        folder = os.path.dirname(self.recordings[0])
        e2e.choose_recordings(self.display, self.recordings[:2], first_folder=folder)
        self.assertIn(f"Cannot play {folder} is a folder, not a recording", self.program.console())
        self.assertTrue(e2e.wait_for(lambda: e2e.cloud_pixels(self.display, self.shot("clouds")) > empty + 20000, 40),
                        "the two clouds never appeared")
        console = self.program.console()
        for recording in self.recordings[:2]:
            self.assertIn("Open " + recording, console)
        self.assertNotIn("Open " + self.recordings[2], console)

        # The settings bar draws over the view: the three point buttons in their colours.
        bar = self.shot("bar")
        colours = [self.display.pixels(bar, x - 40, y - 8, 1, 1)[0] for x, y in e2e.SAVE_POINT_BUTTONS]
        for got, want in zip(colours, ((0xAA, 0x22, 0x22), (0x22, 0xAA, 0x22), (0x22, 0x22, 0xAA))):
            self.assertTrue(all(abs(a - b) <= 3 for a, b in zip(got, want)), f"{got} != {want}")

        # A click on a cloud point moves the cursor: the cursor rows change.
        before = self.display.pixels(bar, *e2e.CURSOR_ROWS)
        target = self.find_cloud_pixel(bar)
        e2e.click(self.display, *target)
        # A loaded machine may take several frames to pick and redraw the bar.
        moved = e2e.wait_for(lambda: self.display.pixels(self.shot("picked"), *e2e.CURSOR_ROWS) != before, 15)
        self.assertTrue(moved, "the cursor rows did not follow the pick")

        # Storing writes the file of the camera a stored matrix placed, in the exact format; the
        # second camera, which nothing placed, keeps its identity out of the files and is named.
        self.assertIn("MODEL MATRIX LOADED", self.program.console())
        self.assertTrue(e2e.save_registration(self.display, self.program, 2, 1, self.shots))
        self.assertIn("Camera 1 (", self.program.console())
        self.assertIn(") not stored: not calibrated", self.program.console())
        folder = os.path.join(self.workdir, "config", "cameras", "hdf5", "a")
        names = ["kinect_" + os.path.basename(r)[7:-3] + ".json" for r in self.recordings[:2]]
        # The first file held the same matrix in other words: it is kept as a copy.
        listed = os.listdir(folder)
        self.assertEqual(sorted(n for n in listed if not n.endswith(".bak")), names[:1])
        self.assertEqual([n.split(".json.")[0] + ".json" for n in listed if n.endswith(".bak")], names[:1])
        with open(os.path.join(folder, names[0])) as f:
            text = f.read()
        self.assertRegex(text, CONFIG_TEXT)
        self.assertEqual(json.loads(text)["modelMatrix"], self.placed)

        # "Register World" before any "Save Point" is refused and changes nothing: no room frame from
        # points nobody saved. Storing again finds every matrix as it was: no file replaced, no new copy.
        e2e.click(self.display, *e2e.REGISTER_WORLD)
        refused = "Register World refused: Save Points 0, 1 and 2 first. Nothing changed."
        self.assertTrue(e2e.wait_for(lambda: refused in self.program.console(), 10), self.program.console()[-1500:])
        self.assertNotIn("Difference", self.program.console())
        self.assertTrue(e2e.save_registration(self.display, self.program, 2, 2, self.shots))
        copies = sorted(n for n in os.listdir(folder) if n.endswith(".bak"))
        self.assertEqual([c.split(".json.")[0] + ".json" for c in copies], names[:1])

        # Back to the live cameras: none attached, so the clouds go.
        # A loaded machine may open the list after the entry's click: the choice is made again.
        gone = None
        for _ in range(3):
            e2e.click(self.display, *e2e.SOURCE_COMBO)
            time.sleep(0.6)
            e2e.click(self.display, *e2e.SOURCE_COMBO_LIVE_ENTRY)
            gone = e2e.wait_for(lambda: e2e.cloud_pixels(self.display, self.shot("live")) < empty + 2000, 10)
            if gone:
                break
        self.assertTrue(gone, "the clouds stayed after switching to live")

        self.assertEqual(self.program.terminate(timeout=10), 0, self.program.console())
        self.assertEqual([l for l in self.program.console().splitlines() if l.startswith("GL ")], [])

    def find_cloud_pixel(self, path):
        """A viewport pixel well inside a cloud: coloured, with coloured neighbours."""
        width, height = e2e.VIEWPORT_WIDTH, 720
        pixels = self.display.pixels(path, 0, 0, width, height)
        def coloured(x, y):
            r, g, b = pixels[y * width + x]
            return not (abs(r - g) < 6 and abs(g - b) < 6 and 110 <= r <= 145)
        for y in range(height // 2, height - 10, 5):
            for x in range(width // 2, width - 10, 5):
                if all(coloured(x + dx, y + dy) for dx in (-4, 0, 4) for dy in (-4, 0, 4)):
                    return x, y
        self.fail("no cloud pixel to click on")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
