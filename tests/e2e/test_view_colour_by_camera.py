"""Cameras told apart in the real program: three virtual cameras, "Colour by camera" in the list of
cameras gives each cloud its camera's colour (enough viewport pixels of every hue), and hiding
camera 1 takes its colour out of the view while the others stay."""
import colorsys
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
# A viewport pixel belongs to a camera when its hue lies this close to the camera's colour's and it
# is saturated and bright enough not to be the grey background, a white label or a dark body.
HUE_TOLERANCE = 20.0  # degrees
MIN_SATURATION = 0.35
MIN_VALUE = 0.25
ENOUGH_PIXELS = 400  # of each camera's colour while its cloud is shown


def hue_of(rgb):
    h, s, v = colorsys.rgb_to_hsv(*(c / 255.0 for c in rgb))
    return h * 360.0 if s >= MIN_SATURATION and v >= MIN_VALUE else None


CAMERA_HUES = [hue_of(c) for c in e2e.CAMERA_SWATCHES]


def camera_pixel_counts(display, path):
    """Viewport pixels of each camera's hue, camera 0 first."""
    counts = [0] * len(CAMERA_HUES)
    for rgb in display.pixels(path, 0, 0, e2e.VIEWPORT_WIDTH, 720):
        h = hue_of(rgb)
        if h is None:
            continue
        for i, camera_hue in enumerate(CAMERA_HUES):
            if min(abs(h - camera_hue), 360.0 - abs(h - camera_hue)) <= HUE_TOLERANCE:
                counts[i] += 1
    return counts


class ColourByCamera(unittest.TestCase):
    def setUp(self):
        e2e.open_window(self, REPO, BUILD, {"TAVORIN_VIRTUAL_CAMERAS": "3"})
        self.shots = tempfile.mkdtemp(prefix="tavorin-cameras-")

    def shot(self, name):
        path = os.path.join(self.shots, name + ".png")
        self.display.screenshot(path)
        return path

    def set_in_list(self, row, checked):
        """Sets the check box of a row of the list of cameras (-1: "Colour by camera"): the list is
        found afresh each time (the bar's sections above it grow when the cameras appear, and a
        wheel scroll takes a while to settle), and clicked only while it shows the other state."""
        def attempt():
            e2e.scroll_bar_to_end(self.display)
            rows = e2e.swatch_centres(self.display, self.shot("bar"))
            if not all(rows) or rows != e2e.swatch_centres(self.display, self.shot("bar")):
                return False
            pitch = rows[1][1] - rows[0][1]
            box = (rows[0][0] - e2e.CAMERA_ROW_CHECKBOX_OFFSET, rows[0][1] - pitch if row < 0 else rows[row][1])
            if (self.display.pixels(self.shot("bar"), *box, 1, 1)[0] == e2e.CHECKED_GREY) == checked:
                return True
            e2e.click(self.display, *box)
            time.sleep(1)
            return False
        return e2e.wait_for(attempt, 120, interval=1)

    def test_each_camera_has_its_colour_and_a_hidden_camera_leaves_the_view(self):
        streaming = lambda: e2e.cloud_pixels(self.display, self.shot("start")) > 20000
        self.assertTrue(e2e.wait_for(streaming, 60), "no clouds in the view")
        before = camera_pixel_counts(self.display, self.shot("true-colours"))

        self.assertTrue(self.set_in_list(-1, True), "\"Colour by camera\" cannot be ticked")
        coloured = lambda: all(n >= ENOUGH_PIXELS for n in camera_pixel_counts(self.display, self.shot("by-camera")))
        e2e.wait_for(coloured, 15)
        by_camera = camera_pixel_counts(self.display, self.shot("by-camera"))
        for i, n in enumerate(by_camera):
            self.assertGreaterEqual(n, ENOUGH_PIXELS, f"camera {i}: {by_camera} (true colours: {before})")

        self.assertTrue(self.set_in_list(1, False), "camera 1 cannot be hidden")
        gone = lambda: camera_pixel_counts(self.display, self.shot("camera-1-hidden"))[1] < ENOUGH_PIXELS // 20
        e2e.wait_for(gone, 15)
        hidden = camera_pixel_counts(self.display, self.shot("camera-1-hidden"))
        self.assertLess(hidden[1], ENOUGH_PIXELS // 20, f"camera 1 hidden: {hidden}, shown: {by_camera}")
        self.assertGreaterEqual(hidden[0], ENOUGH_PIXELS, hidden)
        self.assertGreaterEqual(hidden[2], ENOUGH_PIXELS, hidden)

        e2e.assert_clean_exit(self, timeout=15)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
