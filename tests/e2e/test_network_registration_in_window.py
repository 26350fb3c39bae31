"""The window registers cameras on other computers: two tavorin-node processes play the three
sample recordings of a scene to ROS 2 over the loopback interface, started a moment apart as nodes
on two computers are; the window's "Network (ROS 2)" input shows them at one instant, registers
them while the plate moves, and stores each camera within the bounds of the local recordings."""
import json
import math
import os
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402
from tavorin_e2e import fail  # noqa: E402

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SECONDS = 50
# Registration runs at least this long, and must trust every camera while this much of the play is
# left for saving while the cameras still stream.
MIN_REGISTRATION_S = 27
SAVING_S = 12
MAX_ROTATION_DEG = 0.1
MAX_TRANSLATION_MM = 1.0
MIN_CYCLES = 10  # registration cycles that saw the plate in the last camera, as the joint estimate needs


class Test:
    """The bits of unittest.TestCase that open_window uses."""

    def __init__(self):
        self.cleanups = []

    def addCleanup(self, function, *args):
        self.cleanups.append((function, args))

    def assertIsNotNone(self, value, message):
        if value is None:
            fail(message)

    def close(self):
        for function, args in reversed(self.cleanups):
            function(*args)


def rotation_and_translation_error(actual, expected):
    a = [[actual[c * 4 + r] for c in range(3)] for r in range(3)]
    b = [[expected[c * 4 + r] for c in range(3)] for r in range(3)]
    trace = sum(a[k][i] * b[k][i] for i in range(3) for k in range(3))
    angle = math.degrees(math.acos(max(-1.0, min(1.0, (trace - 1.0) / 2.0))))
    return angle, math.dist(actual[12:15], expected[12:15]) * 1000.0


def main():
    build = e2e.build_dir()
    test = Test()
    with tempfile.TemporaryDirectory(prefix="tavorin-network-window-") as work:
        everything, folders = e2e.two_computer_scene(build, work, SECONDS)
        try:
            e2e.open_window(test, REPO, build)
            time.sleep(1.5)
            e2e.click(test.display, *e2e.SOURCE_COMBO)
            time.sleep(0.6)
            e2e.click(test.display, *e2e.SOURCE_COMBO_NETWORK_ENTRY)
            if not e2e.wait_for(lambda: "Listening for network cameras" in test.program.console(), 10):
                fail("the network input did not start: " + test.program.console()[-1000:])
            e2e.click(test.display, *e2e.ACTIVATE_REGISTRATION)
            nodes = []
            for folder, prefix in zip(folders, ("pc_a", "pc_b")):
                nodes.append(subprocess.Popen(
                    [os.path.join(build, "tavorin-node"), "--play", folder, "--prefix", prefix],
                    stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True))
                time.sleep(0.4)  # the second computer's node starts a moment later
            test.addCleanup(lambda: [node.kill() for node in nodes])
            # Registration runs while the nodes play, at least MIN_REGISTRATION_S and until the joint
            # estimate trusts both other cameras, and stops before the nodes end (the cameras go
            # then): the rest of the play is left for saving while the cameras stream. On a loaded
            # machine the window takes fewer frame sets a second, and needs longer for the trust.
            started = time.monotonic()
            if not e2e.wait_for(lambda: e2e.all_trusted(test.program.console(), 3), SECONDS - SAVING_S, interval=1.0):
                fail("the joint estimate did not trust every camera while the nodes played: "
                     + "\n".join(l for l in test.program.console().splitlines() if "Joint estimate" in l))
            time.sleep(max(0.0, MIN_REGISTRATION_S - (time.monotonic() - started)))
            cycles = test.program.console().count("Kinect 2: LATTICE FOUND!")
            print(f"{cycles} cycles with the plate in camera 2")
            if cycles < MIN_CYCLES:
                fail("too few registration cycles while the nodes played: %d" % cycles)
            e2e.click(test.display, *e2e.ACTIVATE_REGISTRATION)
            time.sleep(1)
            if not e2e.save_registration(test.display, test.program, 3, 3, test.workdir):
                fail("nothing stored: " + test.program.console()[-2000:])
            # Stored: the rest of the play is not needed, and the nodes stop as on Ctrl+C.
            for node in nodes:
                node.send_signal(signal.SIGINT)
            for node in nodes:
                output = node.communicate(timeout=30)[0]
                if node.returncode != 0:
                    fail("a node ended with %d after Ctrl+C: %s" % (node.returncode, output[-1000:]))

            with open(os.path.join(everything, "ground_truth.json")) as f:
                truth = {os.path.basename(c["file"])[len("kinect_"):-len(".h5")]: c
                         for c in json.load(f)["cameras"]}
            folder = os.path.join(test.workdir, "config", "cameras", "ros")
            for prefix, serials in (("pc_a", sorted(truth)[:2]), ("pc_b", sorted(truth)[2:])):
                for serial in serials:
                    with open(os.path.join(folder, f"{prefix}_{serial}.json")) as f:
                        stored_matrix = json.load(f)["modelMatrix"]
                    angle, distance = rotation_and_translation_error(
                        stored_matrix, truth[serial]["modelMatrixRelativeToCamera0"])
                    print(f"{prefix}/{serial}: {angle:.4f} deg, {distance:.2f} mm")
                    if angle > MAX_ROTATION_DEG or distance > MAX_TRANSLATION_MM:
                        fail(f"{prefix}/{serial} registered {angle:.4f} deg, {distance:.2f} mm off")
            if not os.path.exists(os.path.join(folder, "tf_static.yaml")):
                fail("no tf_static.yaml beside the configurations")
        finally:
            test.close()
    print("PASS")


if __name__ == "__main__":
    main()
