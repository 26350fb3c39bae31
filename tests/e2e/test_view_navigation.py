"""Moving around the 3D view at 1280 x 720 with three virtual cameras: a right drag pans, a
double-click frames every cloud, R returns to the start view; without cameras the view names the
ways to try the program, and the line goes once cameras stream."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
VIEW = (e2e.VIEWPORT_WIDTH, 720)
STEP = 4  # every 4th pixel of every 4th row
NO_CAMERA_LINE = (12, 8, 900, 34)  # x, y, width, height of the line's place, window coordinates


def scene_pixels(display, path):
    """(x, y) of the sampled viewport pixels that are not the cleared grey background."""
    width, height = VIEW[0] // STEP, VIEW[1] // STEP
    raw = subprocess.run(["convert", path, "-crop", f"{VIEW[0]}x{VIEW[1]}+0+0", "+repage", "-sample",
                          f"{width}x{height}!", "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
    found = []
    for i in range(width * height):
        r, g, b = raw[3 * i:3 * i + 3]
        if not (abs(r - g) <= 2 and abs(g - b) <= 2 and 125 <= r <= 130):
            found.append(((i % width) * STEP, (i // width) * STEP))
    return found


def centre_and_size(points):
    xs = sorted(p[0] for p in points)
    ys = sorted(p[1] for p in points)
    # The middle 90 % of the points along each axis: a stray pixel does not stretch the extent.
    lo, hi = len(xs) // 20, len(xs) - 1 - len(xs) // 20
    return (sum(xs) / len(xs), sum(ys) / len(ys)), (xs[hi] - xs[lo], ys[hi] - ys[lo])


def white_pixels(display, path):
    return sum(1 for rgb in display.pixels(path, *NO_CAMERA_LINE) if min(rgb) > 225)


class ViewNavigation(unittest.TestCase):
    def shot(self, name):
        path = os.path.join(self.workdir, name + ".png")
        self.display.screenshot(path)
        return path

    def view(self, name):
        """Centre and size of what the viewport shows, once it shows more than the axis bars on its
        grey (before the first frame the window is black)."""
        points = scene_pixels(self.display, self.shot(name))
        samples = (VIEW[0] // STEP) * (VIEW[1] // STEP)
        return centre_and_size(points) if 800 < len(points) < samples * 0.7 else None

    def wait_view(self, name, condition, timeout=30):
        """The view once condition(centre, size) holds; a loaded machine draws late."""
        def check():
            seen = self.view(name)
            return seen if seen and condition(*seen) else None
        return e2e.wait_for(check, timeout, interval=0.5)

    def test_no_camera_line_names_the_ways_to_try_the_program(self):
        e2e.open_window(self, REPO, BUILD)
        shown = e2e.wait_for(lambda: white_pixels(self.display, self.shot("empty")) > 300, 20)
        self.assertTrue(shown, "no line over the view without cameras")
        self.assertEqual(self.program.terminate(timeout=10), 0, self.program.console())

    def test_pan_frame_all_and_reset_each_move_the_view(self):
        e2e.open_window(self, REPO, BUILD, {"TAVORIN_VIRTUAL_CAMERAS": "3"})
        start = self.wait_view("start", lambda centre, size: True)
        self.assertIsNotNone(start, "the clouds never appeared")
        time.sleep(2)
        (x0, y0), _ = start = self.view("start")
        self.assertLess(white_pixels(self.display, self.shot("start")), 50, "the no-camera line stays")

        # A right drag of 200 pixels left and 100 up takes the clouds along.
        cx, cy = VIEW[0] // 2, VIEW[1] // 2
        self.display.xdotool("mousemove", str(cx), str(cy), "mousedown", "3")
        for step in range(1, 11):
            self.display.xdotool("mousemove", str(cx - 20 * step), str(cy - 10 * step))
            time.sleep(0.05)
        self.display.xdotool("mouseup", "3")
        panned = self.wait_view("panned", lambda c, s: c[0] < x0 - 60 and c[1] < y0 - 30)
        self.assertIsNotNone(panned, f"the view did not pan from {start}: {self.view('panned')}")

        # A double-click frames every cloud: in the middle of the view, filling much of it.
        def framed(centre, size):
            return abs(centre[0] - cx) < 120 and abs(centre[1] - cy) < 120 and max(size[0] / VIEW[0], size[1] / VIEW[1]) > 0.4
        for _ in range(3):  # the window's first click may only activate it
            self.display.xdotool("mousemove", str(cx), str(cy), "click", "--repeat", "2", "--delay", "60", "1")
            whole = self.wait_view("framed", framed, timeout=15)
            if whole:
                break
        self.assertIsNotNone(whole, f"no frame-all: {self.view('framed')}")

        # R, with the view focused by the clicks, brings back the start view.
        self.display.xdotool("key", "r")
        back = self.wait_view("reset", lambda c, s: abs(c[0] - x0) < 30 and abs(c[1] - y0) < 30)
        self.assertIsNotNone(back, f"no reset to {start}: {self.view('reset')}")

        self.assertEqual(self.program.terminate(timeout=10), 0, self.program.console())
        errors = [line for line in self.program.console().splitlines() if line.startswith("GL ")]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
