"""The 3D view of the real program: the axis bars at the viewport centre, turned by a drag and
zoomed by the wheel; no GL or shader error lines; SIGTERM ends it with exit code 0."""
import os
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
SETTINGS_BAR = 320
# The region around the viewport centre that the bars can reach at the distances used here.
REGION = 240


def hue(rgb):
    r, g, b = rgb
    margin = 30
    if r > g + margin and r > b + margin:
        return "red"
    if g > r + margin and g > b + margin:
        return "green"
    if b > r + margin and b > g + margin:
        return "blue"
    return None


class AxisBars(unittest.TestCase):
    def setUp(self):
        self.display = e2e.Display()
        self.program = e2e.Program(self.display, os.path.join(BUILD, "tavorin"), cwd=REPO)
        self.shots = tempfile.mkdtemp(prefix="tavorin-view-")

    def tearDown(self):
        self.program.kill()
        self.display.close()

    def coloured(self, name):
        """{hue: [(x, y), ...]} of the bar pixels around the viewport centre, centre-relative."""
        x, y, width, height = self.display.window_geometry()
        centre = (x + (width - SETTINGS_BAR) // 2, y + height // 2)
        path = os.path.join(self.shots, name + ".png")
        self.display.screenshot(path)
        left, top = centre[0] - REGION // 2, centre[1] - REGION // 2
        pixels = self.display.pixels(path, left, top, REGION, REGION)
        found = {"red": [], "green": [], "blue": []}
        for i, rgb in enumerate(pixels):
            h = hue(rgb)
            if h:
                found[h].append((i % REGION - REGION // 2, i // REGION - REGION // 2))
        self.centre = centre
        return found

    @staticmethod
    def extent(points):
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        return max(xs) - min(xs) + 1, max(ys) - min(ys) + 1

    def bars_shown(self):
        try:
            found = self.coloured("start")
        except Exception:  # the window is not up yet
            return None
        return found if found["green"] and found["blue"] else None

    def test_bars_at_centre_turn_with_a_drag_and_grow_with_the_wheel(self):
        start = e2e.wait_for(self.bars_shown, timeout=30)
        self.assertIsNotNone(start, "no green and blue bars near the viewport centre")
        time.sleep(0.5)
        start = self.coloured("start")
        # Seen from (-5, 0, 0): the Y bar rises from the centre, the Z bar runs to the right, the X
        # bar points away from the eye and hides behind their crossing.
        green_x = [p[0] for p in start["green"]]
        green_y = [p[1] for p in start["green"]]
        blue_x = [p[0] for p in start["blue"]]
        self.assertLessEqual(max(abs(v) for v in green_x), 3)
        self.assertLess(min(green_y), -10)
        self.assertLessEqual(max(green_y), 3)
        self.assertGreater(max(blue_x), 10)
        self.assertGreaterEqual(min(blue_x), -3)
        self.assertLess(len(start["red"]), 4, "the X bar is seen end-on")

        # Drag 100 pixels to the right: half a radian of yaw, so the X bar shows its length.
        cx, cy = self.centre
        self.display.xdotool("mousemove", str(cx - 150), str(cy + 150), "mousedown", "1")
        for step in range(1, 11):
            self.display.xdotool("mousemove", str(cx - 150 + 10 * step), str(cy + 150))
            time.sleep(0.05)
        self.display.xdotool("mouseup", "1")
        time.sleep(0.8)
        turned = self.coloured("turned")
        self.assertGreater(len(turned["red"]), 5, "the X bar is visible after the turn")
        self.assertLess(self.extent(turned["blue"])[0], self.extent(start["blue"])[0],
                        "the Z bar is foreshortened after the turn")

        # Five wheel steps away from the user: the eye comes to 0.8^5 of its distance.
        self.display.xdotool("mousemove", str(cx - 150), str(cy + 150))
        for _ in range(5):
            self.display.xdotool("click", "4")
            time.sleep(0.1)
        time.sleep(0.8)
        zoomed = self.coloured("zoomed")
        before = self.extent(turned["green"])[1]
        after = self.extent(zoomed["green"])[1]
        self.assertGreater(after, 2 * before, f"Y bar {before} -> {after} pixels tall")

        e2e.assert_clean_exit(self, timeout=10)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
