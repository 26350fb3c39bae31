"""The sample recordings, read back by the system's own reader (through tavorin-export), show the
geometry their ground truth describes: with each camera placed by its ground-truth room matrix,
every point lies on the floor, on a marker or on the plate of that frame, within the noise."""
import argparse
import json
import os
import struct
import subprocess
import sys
import tempfile

NOISE_TOLERANCE_M = 0.008  # depth noise sigma 1.5 mm, quantised, seen at grazing angles


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

    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
