"""The program starts, clears its viewport to grey, and ends cleanly on SIGTERM; with --help it
prints its usage and ends with 0 without a window."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
CLEAR_GREY = 127  # 0.5 of 255, as the renderer clears
SETTINGS_BAR = 320


class Startup(unittest.TestCase):
    def setUp(self):
        self.display = e2e.Display()
        self.program = e2e.Program(self.display, os.path.join(BUILD, "tavorin"), cwd=REPO)
        self.shot = tempfile.NamedTemporaryFile(suffix=".png", delete=False).name

    def tearDown(self):
        self.program.kill()
        self.display.close()

    def viewport_is_grey(self):
        try:
            x, y, width, height = self.display.window_geometry()
        except Exception:
            return False
        self.geometry = (x, y, width, height)
        self.display.screenshot(self.shot)
        # A ring of samples over the viewport (the window minus the settings bar), around the room
        # origin's axis bars at its centre.
        samples = []
        for fy in (0.1, 0.5, 0.9):
            for fx in (0.05, 0.5, 0.95):
                if (fx, fy) == (0.5, 0.5):
                    continue
                px = x + int(fx * (width - SETTINGS_BAR))
                py = y + int(fy * height)
                samples.append(self.display.pixels(self.shot, px, py, 1, 1)[0])
        self.samples = samples
        return all(all(abs(c - CLEAR_GREY) <= 2 for c in rgb) for rgb in samples)

    def test_window_viewport_is_grey_and_sigterm_exits_zero(self):
        drawn = e2e.wait_for(self.viewport_is_grey, timeout=30)
        self.assertTrue(drawn, f"viewport never turned grey; samples {getattr(self, 'samples', None)}")
        self.assertEqual(self.geometry[2:], (1280, 720), "the window is 1280 x 720")

        exit_code = self.program.terminate(timeout=5)
        console = self.program.console()
        self.assertEqual(exit_code, 0, console)
        gl_lines = [line for line in console.splitlines() if line.startswith("GL ")]
        self.assertEqual(gl_lines, [], console)

        # No display at all: a window would fail to open.
        env = {k: v for k, v in self.display.env.items() if k != "DISPLAY"}
        with tempfile.TemporaryDirectory() as folder:
            helped = subprocess.run([os.path.join(BUILD, "tavorin"), "--help"], cwd=folder, env=env,
                                    capture_output=True, text=True, timeout=30)
        self.assertEqual(helped.returncode, 0, helped.stdout + helped.stderr)
        self.assertIn("Usage: tavorin [--help]", helped.stdout)
        self.assertIn("TAVORIN_VIRTUAL_CAMERAS", helped.stdout)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
