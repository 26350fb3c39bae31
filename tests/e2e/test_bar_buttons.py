"""Every button of the settings bar and of the recordings' transport, clicked at the centre of what
is visible of it at 1280 x 720, acts: with the three sample recordings paused, the transport steps
and loops, the six cursor arrows move the cursor, the three "Save Point" buttons mark their points
in the view, "Register World" takes the rectangle they span once, its undo puts the matrices back,
and the save stores every camera."""
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()

# The transport over the bottom left of the view (qml/PlaybackBar): its buttons, and its status text.
PLAY_PAUSE = (44, 694)
STEP = (106, 694)
LOOP = (168, 694)
TRANSPORT_TEXT = (200, 682, 400, 26)
# The cursor rows' arrows ("<" left, ">" right) for x, y and z, and the row labels with the values.
CURSOR_ARROWS = {axis: ((975, y), (1253, y)) for axis, y in (("x", 522), ("y", 579), ("z", 636))}
CURSOR_LABELS = {"x": (966, 482, 200, 20), "y": (966, 539, 200, 20), "z": (966, 596, 200, 20)}
STEPS = 8  # arrow clicks of 1 cm between the saved points: edges of 8 cm


def differ(a, b):
    """Whether two pixel lists differ as a changed text or button does: in more than a few pixels,
    each by more than the view behind the transport's translucent panel moves them."""
    return sum(1 for p, q in zip(a, b) if max(abs(x - y) for x, y in zip(p, q)) > 40) > 4


def button(centre):
    """The area of a transport button (56 x 26 pixels) around its centre."""
    return (centre[0] - 28, centre[1] - 13, 56, 26)


def saved(point):
    """The middle of a "Save Point" button, where its label stands."""
    x, y = e2e.SAVE_POINT_BUTTONS[point]
    return (x - 40, y - 6, 80, 12)


class BarButtons(unittest.TestCase):
    def setUp(self):
        self.recordings = e2e.ensure_samples(REPO, BUILD)
        self.shots = tempfile.mkdtemp(prefix="tavorin-shots-")
        self.addCleanup(shutil.rmtree, self.shots, True)
        e2e.open_window(self, REPO, BUILD)
        time.sleep(1.5)

    def shot(self, name):
        path = os.path.join(self.shots, name + ".png")
        self.display.screenshot(path)
        return path

    def region(self, geometry, name="region"):
        return self.display.pixels(self.shot(name), *geometry)

    def click_changes(self, position, geometry, what):
        """Clicks `position` and asserts that the pixels of `geometry` change within a few seconds."""
        before = self.region(geometry, "before")
        e2e.click(self.display, *position)
        self.assertTrue(e2e.wait_for(lambda: differ(self.region(geometry, "after"), before), 8), what)

    def test_every_button_acts(self):
        e2e.choose_recordings(self.display, self.recordings)
        self.assertTrue(e2e.wait_for(lambda: e2e.cloud_pixels(self.display, self.shot("clouds")) > 20000, 20),
                        "the clouds never appeared")

        # The transport: loop lights its button (and plays on from the start if the clips had
        # ended while the clouds came), pause holds the frame, step moves it on by one.
        self.click_changes(LOOP, button(LOOP), "Loop did not light up")
        time.sleep(1)
        self.click_changes(PLAY_PAUSE, button(PLAY_PAUSE), "Pause did not turn into Play")
        time.sleep(1)
        still = self.region(TRANSPORT_TEXT)
        time.sleep(1.5)
        self.assertFalse(differ(still, self.region(TRANSPORT_TEXT)), "paused playback moved on")
        self.click_changes(STEP, TRANSPORT_TEXT, "Step changed nothing")

        # The six arrows each move their coordinate (and each pair puts it back); the three points
        # span an 8 cm right angle on the floor y = 0: the corner (point 1) at the origin, point 0
        # along x, point 2 along z.
        for axis in "xyz":
            for arrow in CURSOR_ARROWS[axis]:
                self.click_changes(arrow, CURSOR_LABELS[axis], f"the {axis} arrow at {arrow} changed nothing")
        # A saved point's button shows its coordinates instead of its name.
        self.click_changes(e2e.SAVE_POINT_BUTTONS[1], saved(1), "Save Point 1 kept its name")
        for _ in range(STEPS):
            e2e.click(self.display, *CURSOR_ARROWS["x"][1])
            time.sleep(0.15)
        self.click_changes(e2e.SAVE_POINT_BUTTONS[0], saved(0), "Save Point 0 kept its name")
        for _ in range(STEPS):
            e2e.click(self.display, *CURSOR_ARROWS["x"][0])
            time.sleep(0.15)
        for _ in range(STEPS):
            e2e.click(self.display, *CURSOR_ARROWS["z"][1])
            time.sleep(0.15)
        self.click_changes(e2e.SAVE_POINT_BUTTONS[2], saved(2), "Save Point 2 kept its name")

        # Quick clicks count one step each: edges of 8 cm.
        e2e.click(self.display, *e2e.REGISTER_WORLD)
        rectangle = "Room rectangle: corner angle 90.0 degrees at Point 1, edges 0.080 m to Point 0 and 0.080 m to Point 2"
        self.assertTrue(e2e.wait_for(lambda: rectangle in self.program.console(), 10), self.program.console()[-1500:])
        # Its points are used up: a second press is refused; the undo puts the three matrices back.
        time.sleep(0.5)
        e2e.click(self.display, *e2e.REGISTER_WORLD)
        refused = "Register World refused: Save Points 0, 1 and 2 first. Nothing changed."
        self.assertTrue(e2e.wait_for(lambda: refused in self.program.console(), 10), self.program.console()[-1500:])
        e2e.click(self.display, *e2e.UNDO_ROOM_REGISTRATION)
        undone = "Undo Room Registration: the matrices of 3 cameras are back"
        self.assertTrue(e2e.wait_for(lambda: undone in self.program.console(), 10), self.program.console()[-1500:])
        # Only camera 0 is placed (nothing registered the others): it alone is stored.
        self.assertTrue(e2e.save_registration(self.display, self.program, 3, 1, self.shots))
        self.assertEqual(self.program.console().count(") not stored: not calibrated"), 2)
        self.assertEqual(self.program.terminate(timeout=10), 0, self.program.console()[-1500:])


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
