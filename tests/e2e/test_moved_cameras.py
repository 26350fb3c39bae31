"""tavorin-check on a knocked sample scene: four ceiling cameras in a furnished room are calibrated
with the plate and stored (with the references of their still views); later, without the plate,
the table pushed aside and a person walking, camera 1 is turned by 0.5 deg about a skewed axis
through its centre, camera 2 shifted by 8 mm, and camera 3's range grows by 3 mm. The check names
cameras 1 and 2 moved within 0.02 deg and 0.5 mm of the truth and the others in place (exit 5);
--fix stores matrices within 0.05 deg and 1 mm of the calibration moved as the cameras truly moved;
a second check finds every camera in place (exit 0). A damaged reference is refused by name
(exit 3)."""

import glob
import json
import math
import os
import re
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
from tavorin_e2e import build_dir, fail, run_tool as run, store_sample_calibration  # noqa: E402

TURN_DEG, SHIFT_MM, RANGE_MM = 0.5, 8.0, 3.0
TOLERANCE_DEG, TOLERANCE_MM = 0.02, 0.5
FIX_TOLERANCE_DEG, FIX_TOLERANCE_MM = 0.05, 1.0
LINE = re.compile(r"Camera (\d+) \((\w+)\): (moved|in place|cannot tell)(.*)")
MOTION = re.compile(r"([\d.]+) deg, ([\d.]+) mm")


def verdicts(output):
    """{camera: (verdict, turn deg, shift mm)} and {camera: range mm} from the check's lines."""
    found, ranges = {}, {}
    for line in output.splitlines():
        m = LINE.fullmatch(line)
        if m:
            print(line)
            motion = MOTION.search(m.group(4))
            found[int(m.group(1))] = (m.group(3), float(motion.group(1)) if motion else None,
                                      float(motion.group(2)) if motion else None)
        r = re.match(r"Camera (\d+): range (\S+) mm", line)
        if r:
            ranges[int(r.group(1))] = float(r.group(2))
    return found, ranges


def matrix(values):
    """Column-major 16 numbers to rows."""
    return [[values[c * 4 + r] for c in range(4)] for r in range(4)]


def multiply(a, b):
    return [[sum(a[r][k] * b[k][c] for k in range(4)) for c in range(4)] for r in range(4)]


def rigid_inverse(m):
    rt = [[m[c][r] for c in range(3)] for r in range(3)]
    t = [-sum(rt[r][k] * m[k][3] for k in range(3)) for r in range(3)]
    return [rt[0] + [t[0]], rt[1] + [t[1]], rt[2] + [t[2]], [0.0, 0.0, 0.0, 1.0]]


def difference(a, b):
    """Angle (deg) and translation (mm) of a^-1 b."""
    d = multiply(rigid_inverse(a), b)
    sine = math.sqrt((d[2][1] - d[1][2]) ** 2 + (d[0][2] - d[2][0]) ** 2 + (d[1][0] - d[0][1]) ** 2)
    angle = math.degrees(math.atan2(sine, d[0][0] + d[1][1] + d[2][2] - 1.0))
    return angle, 1000.0 * math.sqrt(sum(d[r][3] ** 2 for r in range(3)))


def stored_matrix(folder, serial):
    with open(os.path.join(folder, "config/cameras/hdf5/a/kinect_%s.json" % serial)) as f:
        return matrix(json.load(f)["modelMatrix"])


def main():
    build = build_dir()
    samples, check = os.path.join(build, "tavorin-samples"), os.path.join(build, "tavorin-check")
    scene = ["--cameras", "4", "--layout", "ceiling", "--room", "furnished", "--depth-artefacts"]
    with tempfile.TemporaryDirectory() as folder:
        store_sample_calibration(build, folder, scene)
        run([samples, "--out", "later/OP1", "--seconds", "2", "--no-plate", "--changed-room", "0",
             "--knock", "1,0.5,turn,%g" % TURN_DEG, "--knock", "2,0.5,shift,%g" % SHIFT_MM,
             "--knock", "3,0.5,range,%g" % RANGE_MM, "--depth-only"] + scene, folder, 0)
        with open(os.path.join(folder, "later/OP1/ground_truth.json")) as f:
            truth = json.load(f)["cameras"]
        later = [os.path.join(folder, "later/OP1/kinect_%s.h5" % c["serial"]) for c in truth]
        before = {c["serial"]: stored_matrix(folder, c["serial"]) for c in truth}

        found, ranges = verdicts(run([check] + later, folder, 5))
        expected = {0: ("in place", 0.0, 0.0), 1: ("moved", TURN_DEG, 0.0), 2: ("moved", 0.0, SHIFT_MM),
                    3: ("in place", 0.0, 0.0)}
        for i, (verdict, turn, shift) in expected.items():
            got = found.get(i)
            if not got or got[0] != verdict or abs(got[1] - turn) > TOLERANCE_DEG or abs(got[2] - shift) > TOLERANCE_MM:
                fail("camera %d: %s, expected %s %.3f deg, %.2f mm" % (i, got, verdict, turn, shift))
        if abs(ranges.get(3, 0.0) - RANGE_MM) > 1.0:
            fail("camera 3's range offset %s, not about +%g mm" % (ranges.get(3), RANGE_MM))

        fixed = run([check, "--fix"] + later, folder, 0)
        if fixed.count("stored its matrix moved by") != 2:
            fail("--fix did not say that it stored two cameras")
        for c in truth:
            moved_truth = matrix(c.get("modelMatrixRoomAfterKnocks", c["modelMatrixRoom"]))
            expected_matrix = multiply(before[c["serial"]],
                                       multiply(rigid_inverse(matrix(c["modelMatrixRoom"])), moved_truth))
            angle, mm = difference(expected_matrix, stored_matrix(folder, c["serial"]))
            print("camera %s after --fix: %.4f deg, %.3f mm from the truth" % (c["serial"], angle, mm))
            if angle > FIX_TOLERANCE_DEG or mm > FIX_TOLERANCE_MM:
                fail("camera %s stored %.4f deg, %.3f mm from where it stands" % (c["serial"], angle, mm))
        if not glob.glob(os.path.join(folder, "config/cameras/hdf5/a/*.json.*.bak")):
            fail("--fix kept no backup of the matrices it replaced")

        found, _ = verdicts(run([check] + later, folder, 0))
        if sorted(found) != [0, 1, 2, 3] or any(v[0] != "in place" for v in found.values()):
            fail("after --fix not every camera is in place: %s" % found)

        damaged = os.path.join(folder, "config/cameras/hdf5/a/kinect_%s.still.bin" % truth[0]["serial"])
        with open(damaged, "r+b") as f:
            f.seek(200)
            f.write(b"\0" * 64)
        output = run([check] + later, folder, 3)
        if not re.search(r"Camera 0 \(\w+\): cannot tell: its reference .* is refused", output):
            fail("a damaged reference was not refused by name")
    print("PASS")


if __name__ == "__main__":
    main()
