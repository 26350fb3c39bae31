"""The sample recordings, read back by the system's own reader (through tavorin-export), show the
geometry their ground truth describes: with each camera placed by its ground-truth room matrix,
every point lies on the floor, on a marker or on the plate of that frame, within the noise. A row
of cameras along a room sees the plate in turn, neighbours together, and each sensor's range error
is the one its ground truth states."""
import argparse
import itertools
import json
import math
import os
import struct
import subprocess
import sys
import tempfile

NOISE_TOLERANCE_M = 0.008  # depth noise sigma 1.5 mm, quantised, seen at grazing angles
# The rectangle that the image of every sample depth camera holds, as x / z (either side) and y / z
# (up, down) of the SDK's depth camera frame: the whole plate inside it is in the image.
VIEW_X = 0.69
VIEW_UP, VIEW_DOWN = -0.75, 0.51
ROW_OFFSETS_MM = [0, 25, -40, 10, 0]
ROW_SCALE_PERCENTS = [0, -0.5, 0.8, 0, 0.3]


def read_ply(path):
    with open(path, "rb") as f:
        data = f.read()
    header_end = data.index(b"end_header\n") + len(b"end_header\n")
    header = data[:header_end].decode("ascii")
    count = int(header.split("element vertex ")[1].split("\n")[0])
    assert "format binary_little_endian 1.0" in header
    body = data[header_end:]
    assert len(body) == count * 15, (len(body), count)
    return [struct.unpack_from("<fffBBB", body, 15 * i) for i in range(count)]


def write_config(root, serial, matrix):
    folder = os.path.join(root, "config", "cameras", "hdf5", "a")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "kinect_%s.json" % serial), "w") as f:
        json.dump({"modelMatrix": matrix}, f)


def dot(a, b):
    return sum(x * y for x, y in zip(a, b))


def sub(a, b):
    return [x - y for x, y in zip(a, b)]


def column_major_product(a, b):
    return [sum(a[k * 4 + r] * b[c * 4 + k] for k in range(4)) for c in range(4) for r in range(4)]


def sdk_axes(matrix):
    """x, y, z axes and origin of the SDK depth frame in the room, from a model matrix."""
    column = [[matrix[4 * c + r] for r in range(3)] for c in range(4)]
    return [-v for v in column[0]], [-v for v in column[1]], column[2], column[3]


def sees_plate(axes, plate, half_size):
    x, y, z, origin = axes
    for a in (-half_size, half_size):
        for b in (-half_size, half_size):
            p = sub([c + a * u + b * v for c, u, v in zip(plate["centre"], plate["u"], plate["v"])], origin)
            depth = dot(p, z)
            if not (0.5 <= depth <= 3.5 and abs(dot(p, x)) <= VIEW_X * depth
                    and VIEW_UP * depth <= dot(p, y) <= VIEW_DOWN * depth):
                return False
    return True


def range_error_fit(points, position):
    """Offset (mm) and scale of the range error of floor points, against the true range along each
    point's ray to the floor; the far edge of the range left out, where the sensor drops points."""
    true_m, error_mm = [], []
    for x, y, z, r, g, b in points:
        if y > 0.1 or (r > 120 and g < 100):  # off the floor, or on a marker
            continue
        ray = sub((x, y, z), position)
        measured = math.sqrt(dot(ray, ray))
        true = -position[1] * measured / ray[1]
        if true < 3.6:
            true_m.append(true)
            error_mm.append((measured - true) * 1000.0)
    mean_t, mean_e = sum(true_m) / len(true_m), sum(error_mm) / len(error_mm)
    slope = (sum((t - mean_t) * (e - mean_e) for t, e in zip(true_m, error_mm))
             / sum((t - mean_t) ** 2 for t in true_m))
    return mean_e - slope * mean_t, slope / 1000.0


def check_row(build, failures):
    with tempfile.TemporaryDirectory() as root:
        out = os.path.join(root, "samples", "OP1")
        run = subprocess.run([os.path.join(build, "tavorin-samples"), "--out", out, "--layout", "row", "--cameras", "5",
                              "--depth-offsets", ",".join(map(str, ROW_OFFSETS_MM)),
                              "--depth-scales", ",".join(map(str, ROW_SCALE_PERCENTS))],
                             capture_output=True, text=True, timeout=240)
        if run.returncode != 0:
            failures.append("row scene: %s %s" % (run.stdout, run.stderr))
            return
        truth = json.load(open(os.path.join(out, "ground_truth.json")))
        cameras = truth["cameras"]
        stated = [(c["depthError"]["offsetMm"], c["depthError"]["scale"]) for c in cameras]
        if stated != [(o, p / 100.0) for o, p in zip(ROW_OFFSETS_MM, ROW_SCALE_PERCENTS)] or truth["depthArtefacts"]:
            failures.append("row scene: depth errors %s, artefacts %s" % (stated, truth["depthArtefacts"]))

        # Frames in which each camera sees the whole plate, and how far away.
        half_size = truth["plate"]["size"] / 2
        axes = [sdk_axes(camera["modelMatrixRoom"]) for camera in cameras]
        seen = [{} for _ in cameras]
        for entry in truth["trajectory"]:
            for i, camera in enumerate(cameras):
                if sees_plate(axes[i], entry, half_size):
                    seen[i][entry["frame"]] = math.dist(entry["centre"], camera["position"])
        # Neighbours share a stretch of the plate's path, cameras further apart none of it.
        for a, b in itertools.combinations(range(len(cameras)), 2):
            low, high = (40, 170) if b == a + 1 else (0, 0)
            shared = len(seen[a].keys() & seen[b].keys())
            if not low <= shared <= high:
                failures.append("row scene: cameras %d and %d share %d frames, not %d to %d" % (a, b, shared, low, high))
        for i, distances in enumerate(seen):
            if not distances or min(distances.values()) > 1.5 or max(distances.values()) < 2.4:
                failures.append("row scene: camera %d sees the plate at %s m" % (i, sorted(distances.values())[::20]))

        for i in (1, 2, 4):
            write_config(root, cameras[i]["serial"], cameras[i]["modelMatrixRoom"])
            ply = os.path.join(root, "row%d.ply" % i)
            export = subprocess.run([os.path.join(build, "tavorin-export"), "--out", ply,
                                     os.path.join("samples", "OP1", "kinect_%s.h5" % cameras[i]["serial"])],
                                    cwd=root, capture_output=True, text=True, timeout=120)
            if export.returncode != 0:
                failures.append("row scene: export of camera %d: %s" % (i, export.stderr))
                continue
            offset_mm, scale = range_error_fit(read_ply(ply), cameras[i]["position"])
            if abs(offset_mm - ROW_OFFSETS_MM[i]) > 1.0 or abs(scale - ROW_SCALE_PERCENTS[i] / 100.0) > 0.0003:
                failures.append("row scene: camera %d measures ranges with %.2f mm and %.5f" % (i, offset_mm, scale))


def timestamps(path):
    dump = subprocess.run(["h5dump", "-d", "/timestampsBK_0", "-m", "%.17g", path], capture_output=True,
                          text=True).stdout
    data = dump.split("DATA {")[1].split("}")[0]
    return [float(v.split(":")[-1]) for v in data.replace("\n", ",").split(",") if v.strip()]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    build = os.path.abspath(parser.parse_args().build_dir)
    failures = []

    with tempfile.TemporaryDirectory() as root:
        out = os.path.join(root, "samples", "OP1")
        run = subprocess.run([os.path.join(build, "tavorin-samples"), "--out", out, "--seconds", "1"],
                             capture_output=True, text=True, timeout=240)
        if run.returncode != 0:
            print(run.stdout, run.stderr)
            return 1
        truth = json.load(open(os.path.join(out, "ground_truth.json")))
        serials = [c["serial"] for c in truth["cameras"]]
        assert len(set(serials)) == 3 and all(len(s) == 12 and s.isdigit() for s in serials), serials
        assert len(truth["trajectory"]) == 30

        for camera in truth["cameras"]:
            path = os.path.join(out, "kinect_%s.h5" % camera["serial"])
            layout = subprocess.run(["h5dump", "-p", "-H", path], capture_output=True, text=True).stdout
            for name, dims in (("depth_measure_z_0", "( 576, 640, 30 )"),
                               ("color_measure_0", "( 576, 640, 4, 30 )"),
                               ("camera_parameters_0", "( 30, 14 )"),
                               ("timestampsBK_0", "( 30 )")):
                block = layout.split('DATASET "%s"' % name)[1].split("DATASET")[0]
                if dims not in block:
                    failures.append("%s of %s: dims %s" % (name, path, block[:200]))
            depth_block = layout.split('DATASET "depth_measure_z_0"')[1].split("DATASET")[0]
            if "( 576, 640, 1 )" not in depth_block or "DEFLATE" not in depth_block:
                failures.append("depth of %s is not chunked per frame and compressed" % path)
            height = camera["position"][1]
            if not 1.6 <= height <= 2.2:
                failures.append("camera %s mounted at %.2f m" % (camera["serial"], height))
            write_config(root, camera["serial"], camera["modelMatrixRoom"])

        # Relative matrices agree with the room poses: M_room_i = M_room_0 * M_rel_i.
        room0 = truth["cameras"][0]["modelMatrixRoom"]
        for camera in truth["cameras"]:
            composed = column_major_product(room0, camera["modelMatrixRelativeToCamera0"])
            if max(abs(a - b) for a, b in zip(composed, camera["modelMatrixRoom"])) > 1e-9:
                failures.append("relative matrix of %s disagrees with its room pose" % camera["serial"])

        # One shared clock at 30 fps.
        clocks = [timestamps(os.path.join(out, "kinect_%s.h5" % s)) for s in serials]
        if not (clocks[0] == clocks[1] == clocks[2]) or len(clocks[0]) != 30:
            failures.append("the recordings do not share their timestamps")
        steps = [b - a for a, b in zip(clocks[0], clocks[0][1:])]
        if any(abs(step - 1.0 / 30.0) > 1e-9 for step in steps):
            failures.append("timestamps are not 1/30 s apart: %s" % steps[:3])

        frame = 17
        plate = truth["trajectory"][frame]
        markers = truth["markers"]
        ply = os.path.join(root, "frame.ply")
        recordings = [os.path.join("samples", "OP1", "kinect_%s.h5" % s) for s in serials]
        run = subprocess.run([os.path.join(build, "tavorin-export"), "--frame", str(frame), "--out", ply] + recordings,
                             cwd=root, capture_output=True, text=True, timeout=120)
        if run.returncode != 0 or run.stdout.count("MODEL MATRIX LOADED") != 3:
            print(run.stdout, run.stderr)
            return 1
        points = read_ply(ply)

        floor = plate_points = marker_points = 0
        stray = []
        for x, y, z, r, g, b in points:
            p = (x, y, z)
            if r > 120 and g < 100 and abs(y - truth["markerHeight"]) < NOISE_TOLERANCE_M:
                marker_points += 1
            elif abs(y) < NOISE_TOLERANCE_M:
                floor += 1
            elif abs(dot(sub(p, plate["centre"]), plate["normal"])) < NOISE_TOLERANCE_M:
                plate_points += 1
            else:
                stray.append(p)
        total = len(points)
        print("points %d: floor %d, plate %d, marker %d, stray %d" % (total, floor, plate_points, marker_points,
                                                                     len(stray)))
        if total < 300000 or floor < total // 2 or plate_points < 5000 or marker_points < 100:
            failures.append("unexpected composition of the cloud")
        if len(stray) > total // 1000:
            failures.append("%d points off every ground-truth surface, e.g. %s" % (len(stray), stray[:3]))

        # Every red point lies on a ground-truth marker disc (within the noise), each marker is seen.
        reach = truth["markerRadius"] + NOISE_TOLERANCE_M
        red = [(x, z) for x, y, z, r, g, b in points if r > 120 and g < 100]
        for centre in markers:
            near = [p for p in red if (p[0] - centre[0]) ** 2 + (p[1] - centre[2]) ** 2 <= reach ** 2]
            if len(near) < 30:
                failures.append("marker at %s barely seen (%d points)" % (centre, len(near)))
        off_marker = [p for p in red
                      if all((p[0] - c[0]) ** 2 + (p[1] - c[2]) ** 2 > reach ** 2 for c in markers)]
        if off_marker:
            failures.append("%d red points off the markers, e.g. %s" % (len(off_marker), off_marker[:3]))

    check_row(build, failures)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
