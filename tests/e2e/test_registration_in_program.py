"""Registration as an operator does it in the program: tick "Activate Registration", open the three
sample recordings, let registration take every recorded frame, untick, save; the stored matrices
must put every camera where the ground truth says, relative to camera 0, as closely as the headless
calibrator does. Ticked again at the end of the recordings, registration takes frames again on Step
and on Play."""
import json
import math
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
BUILD = e2e.build_dir()
# Registration holds the recordings and takes every frame in order whatever the render rate (the
# window renders in software here, at three or four frames per second), so it gets the headless
# calibrator's frames and its bounds.
MAX_ROTATION_DEG = 0.2
MAX_TRANSLATION_MM = 3.0
CYCLES_TIMEOUT_S = 240


def rotation_and_translation_error(actual, expected):
    """Angle (degrees) of actual^-1 * expected's rotation and distance (mm) of the translations."""
    a = [[actual[c * 4 + r] for c in range(3)] for r in range(3)]
    b = [[expected[c * 4 + r] for c in range(3)] for r in range(3)]
    trace = sum(a[k][i] * b[k][i] for i in range(3) for k in range(3))  # trace(a^T b)
    angle = math.degrees(math.acos(max(-1.0, min(1.0, (trace - 1.0) / 2.0))))
    distance = math.dist(actual[12:15], expected[12:15]) * 1000.0
    return angle, distance


class RegistrationInProgram(unittest.TestCase):
    def setUp(self):
        self.recordings = e2e.ensure_samples(REPO, BUILD)
        with open(os.path.join(REPO, "samples", "OP1", "ground_truth.json")) as f:
            truth = json.load(f)
        self.truth = {os.path.basename(c["file"]): c for c in truth["cameras"]}
        self.frames = len(truth["trajectory"])
        e2e.open_window(self, REPO, BUILD)
        time.sleep(1.5)

    def test_cameras_land_where_the_ground_truth_says(self):
        e2e.click(self.display, *e2e.ACTIVATE_REGISTRATION)
        e2e.choose_recordings(self.display, self.recordings[:3])
        opened = e2e.wait_for(lambda: self.program.console().count("Initialized!!") == 3, 30)
        self.assertTrue(opened, self.program.console()[-2000:])
        # One cycle per recorded frame, each printing one line per camera; then nothing is left.
        cycles = lambda: self.program.console().count("Kinect 2: ")
        done = e2e.wait_for(lambda: cycles() >= self.frames, CYCLES_TIMEOUT_S, interval=1.0)
        self.assertTrue(done, f"{cycles()} of {self.frames} frames registered")
        time.sleep(2)
        e2e.click(self.display, *e2e.ACTIVATE_REGISTRATION)
        found = self.program.console().count("Kinect 2: LATTICE FOUND!")
        print(f"{cycles()} cycles, lattice found in {found} frames of camera 2")
        self.assertEqual(cycles(), self.frames)
        self.assertGreaterEqual(found, self.frames - 2)
        time.sleep(1)
        self.assertTrue(e2e.save_registration(self.display, self.program, 3, 3, self.workdir))

        folder = os.path.join(self.workdir, "config", "cameras", "hdf5", "a")
        for recording in self.recordings[:3]:
            name = os.path.basename(recording)
            with open(os.path.join(folder, name[:-3] + ".json")) as f:
                stored = json.load(f)["modelMatrix"]
            angle, distance = rotation_and_translation_error(
                stored, self.truth[name]["modelMatrixRelativeToCamera0"])
            print(f"{name}: {angle:.3f} deg, {distance:.2f} mm")
            self.assertLess(angle, MAX_ROTATION_DEG, name)
            self.assertLess(distance, MAX_TRANSLATION_MM, name)

        # At the end, held by registration again: Step takes the first frame, Play goes on from it.
        cycles = lambda: self.program.console().count("Kinect 2: ")
        e2e.click(self.display, *e2e.ACTIVATE_REGISTRATION)
        time.sleep(3)
        at_end = cycles()
        e2e.click(self.display, *e2e.TRANSPORT_STEP)
        self.assertTrue(e2e.wait_for(lambda: cycles() > at_end, 15), "Step at the end took no frame")
        time.sleep(2)
        self.assertEqual(cycles(), at_end + 1, "Step took more than one frame")
        e2e.click(self.display, *e2e.TRANSPORT_PLAY)
        self.assertTrue(e2e.wait_for(lambda: cycles() > at_end + 4, 30), "Play at the end took no frames")
        self.assertEqual(self.program.terminate(timeout=10), 0)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]])
