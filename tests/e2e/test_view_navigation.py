"""Moving around the 3D view at 1280 x 720 with three virtual cameras: a right drag pans, a
double-click frames every cloud, R returns to the start view, and F frames again after clicks in
the bar; a saved room point is marked where it was saved; the Record footer leaves the "Save Point"
buttons in sight, and "Register World" without its three points is refused; without cameras the
view names the ways to try the program, and the line goes once cameras stream."""
import math
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
# The cursor's Y slider (-4 to 4 m) from its left end to its right end at one height, window pixels.
CURSOR_Y_SLIDER = (1002, 1227, 579)
RETICLE = (255, 255, 0)
POINT_COLOURS = ((0xAA, 0x22, 0x22), (0x22, 0xAA, 0x22), (0x22, 0x22, 0xAA))
WHEEL_NOTCH = 60  # pixels the bar moves per notch


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


def colour_centre(display, path, colour):
    """Centre (x, y) of the viewport pixels of exactly this colour, and their count."""
    pixels = display.pixels(path, 0, 0, *VIEW)
    spots = [(i % VIEW[0], i // VIEW[0]) for i, rgb in enumerate(pixels) if rgb == colour]
    if not spots:
        return None, 0
    return (sum(p[0] for p in spots) / len(spots), sum(p[1] for p in spots) / len(spots)), len(spots)


def set_cursor_y(display, metres):
    left, right, y = CURSOR_Y_SLIDER
    e2e.click(display, round(left + (right - left) * (metres + 4.0) / 8.0), y)


def wheel_down(display, notches):
    display.xdotool("mousemove", "1100", "636", "click", "--repeat", str(notches), "--delay", "40", "5")
    time.sleep(1.0)


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

        self.check_bar_with_live_cameras(cx, cy, framed)

        self.assertEqual(self.program.terminate(timeout=10), 0, self.program.console())
        errors = [line for line in self.program.console().splitlines() if line.startswith("GL ")]
        self.assertEqual(errors, [])

    def check_bar_with_live_cameras(self, cx, cy, framed):
        # The Record footer below the bar's content: the "Save Point" buttons show whole above it.
        self.assertTrue(e2e.wait_for(lambda: e2e.record_toggle_shown(self.display, self.workdir), 60, interval=1.0))
        bar = self.shot("footer")
        for (x, y), colour in zip(e2e.SAVE_POINT_BUTTONS, POINT_COLOURS):
            for dy in (-8, 8):
                got = self.display.pixels(bar, x - 40, y + dy, 1, 1)[0]
                self.assertTrue(all(abs(a - b) <= 3 for a, b in zip(got, colour)), f"{got} at {x}, {y + dy}")

        # Point 0 saved half a metre up is marked there, also once the cursor has moved on.
        reticle = lambda name: colour_centre(self.display, self.shot(name), RETICLE)[0]
        moved_from = lambda before, name: e2e.wait_for(
            lambda: (lambda now: now if now and abs(now[1] - before[1]) > 20 else None)(reticle(name)), 10)
        start = reticle("origin")
        self.assertIsNotNone(start, "no cursor")
        set_cursor_y(self.display, 0.5)
        saved_at = moved_from(start, "up")
        self.assertIsNotNone(saved_at, "the cursor did not go up")
        e2e.click(self.display, *e2e.SAVE_POINT_BUTTONS[0])
        set_cursor_y(self.display, -0.5)
        self.assertIsNotNone(moved_from(saved_at, "down"), "the cursor did not go down")
        (mx, my), count = colour_centre(self.display, self.shot("mark"), POINT_COLOURS[0])
        self.assertGreater(count, 50, "no mark of Point 0")
        self.assertLess(math.hypot(mx - saved_at[0], my - saved_at[1]), 4, f"mark at {mx}, {my}; saved at {saved_at}")

        # F frames every cloud after clicks in the bar (a slider holds the focus now).
        self.display.xdotool("key", "f")
        self.assertIsNotNone(self.wait_view("framed-again", framed, timeout=15), "F did nothing after the bar's clicks")

        # "Register World" with only Point 0 saved refuses and changes nothing.
        wheel_down(self.display, 1)
        e2e.click(self.display, e2e.REGISTER_WORLD[0] - 80, e2e.REGISTER_WORLD[1] - WHEEL_NOTCH)
        refused = "Register World refused: Save Points 0, 1 and 2 first. Nothing changed."
        self.assertTrue(e2e.wait_for(lambda: refused in self.program.console(), 10), self.program.console()[-1500:])
        self.assertNotIn("Difference", self.program.console())


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
