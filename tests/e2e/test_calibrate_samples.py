"""The headless calibrator on the sample recordings: every camera within 0.2 deg and 3 mm of the
ground truth (five cameras in a row with depth errors: 0.1 deg and 1 mm), the lattice found in at least 90 % of the steps in which the whole plate faces the
camera, and unreadable input refused with a non-zero exit. The same bounds hold for recordings of
cameras that capture apart, up to a whole frame period of 33 ms, while the plate moves briskly."""

import argparse
import bisect
import glob
import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402
from tavorin_e2e import fail  # noqa: E402

MAX_ROTATION_DEG = 0.2
MAX_TRANSLATION_MM = 3.0
MIN_FOUND_PERCENT = 90.0


def recordings_in_truth_order(truth_path):
    folder = os.path.dirname(truth_path)
    with open(truth_path) as f:
        truth = json.load(f)
    files = [os.path.join(folder, os.path.basename(c["file"])) for c in truth["cameras"]]
    if sorted(files) != sorted(glob.glob(os.path.join(folder, "kinect_*.h5"))):
        fail("ground truth cameras %s do not match the recordings" % files)
    return files


# Seconds between consecutive frames of a camera beyond which a frame set cannot be interpolated.
MAX_FRAME_GAP_S = 0.05


def resolvable_frame_sets(truth):
    """The reference captures around which every other camera has two consecutive captures (at
    most MAX_FRAME_GAP_S apart), from the ground truth's capture instants of every camera."""
    times = {}
    for entry in truth["trajectory"]:
        times.setdefault(entry.get("camera", 0), []).append(entry["timestamp"])
    reference, others = times[0], [sorted(t) for c, t in sorted(times.items()) if c != 0]
    count = 0
    for t in reference:
        ok = True
        for captures in others:
            i = bisect.bisect_right(captures, t)
            ok = ok and 0 < i < len(captures) and captures[i] - captures[i - 1] <= MAX_FRAME_GAP_S
        count += ok
    return count


def check_accuracy(calibrate, truth_path, recordings, min_resolved_share=None):
    """With min_resolved_share, the frame sets brought to the reference's instants must be at least
    that share of those that the cameras' capture times allow."""
    run = subprocess.run([calibrate, "--truth", truth_path] + recordings, capture_output=True, text=True)
    if run.returncode != 0:
        fail("tavorin-calibrate exited %d: %s" % (run.returncode, run.stderr[-2000:]))
    lines = run.stdout.strip().splitlines()
    for line in lines:
        if re.match(r"Camera \d+: (lattice|fine|rotation)|Frame sets", line):
            print(line)
    last = re.fullmatch(r"max rotation error (\S+) deg, max translation error (\S+) mm", lines[-1])
    if not last:
        fail("last line is not the error summary: " + lines[-1])
    rotation, translation = float(last.group(1)), float(last.group(2))
    if not rotation <= MAX_ROTATION_DEG or not translation <= MAX_TRANSLATION_MM:
        fail("max rotation error %g deg, max translation error %g mm" % (rotation, translation))
    found = [re.search(r"in (\d+) of (\d+) \((\S+) %\) steps with the whole plate facing it", l)
             for l in lines if re.match(r"Camera \d+: lattice found", l)]
    if len(found) != len(recordings):
        fail("no detection rate for every camera")
    for i, match in enumerate(found):
        if not match or int(match.group(2)) == 0:
            fail("camera %d never had the whole plate facing it" % i)
        if float(match.group(3)) < MIN_FOUND_PERCENT:
            fail("camera %d found the lattice in only %s %% of the facing steps" % (i, match.group(3)))
    if min_resolved_share is not None:
        with open(truth_path) as f:
            possible = resolvable_frame_sets(json.load(f))
        sets = [re.search(r"(\d+) brought to its capture times", l) for l in lines if l.startswith("Frame sets")]
        resolved = int(sets[0].group(1)) if sets and sets[0] else 0
        print("frame sets: %d of the %d that the capture times allow" % (resolved, possible))
        if resolved < min_resolved_share * possible:
            fail("only %d of %d possible frame sets were brought to the reference's instants" % (resolved, possible))


def check_refusals(build_dir, calibrate, recordings):
    """Input that cannot be calibrated is refused at once, with a message and a non-zero exit."""
    first, second = recordings[:2]
    zero_room = ["--room"] + ["0"] * 9
    collinear_room = ["--room", "1", "0", "0", "0", "0", "0", "2", "0", "0"]
    with tempfile.TemporaryDirectory() as folder:
        broken = os.path.join(folder, "kinect_000000000000.h5")
        with open(broken, "wb") as f:
            f.write(b"not a recording")
        fifo = os.path.join(folder, "truth.json")
        os.mkfifo(fifo)
        cases = [
            ("an unreadable recording", [first, broken], 2, "cannot be read"),
            ("one recording", [first], 1, "usage"),
            ("the same recording twice", [first, second, first], 1, "are the same file"),
            ("the same file by another path", [first, os.path.join(os.path.dirname(first), ".", os.path.basename(first))],
             1, "are the same file"),
            ("equal room points", zero_room + [first, second], 1, "Point 0 lies 0.000 m from the corner"),
            ("collinear room points", collinear_room + [first, second], 1, "measures 0.0 degrees"),
            ("a frame count beyond 64 bits", ["--frames", "18446744073709551616", first, second], 1, "--frames wants"),
            ("ground truth from a FIFO", ["--truth", fifo, first, second], 2, "it is not a regular file"),
        ]
        for name, args, code, message in cases:
            run = subprocess.run([calibrate] + args, capture_output=True, text=True, timeout=60)
            if run.returncode != code or message not in run.stderr:
                fail("%s: exit %d, %s" % (name, run.returncode, run.stderr[-500:]))
        # Stepping ends with the shortest recording, not with the first one's last frame.
        short = os.path.join(folder, "short")
        subprocess.run([os.path.join(build_dir, "tavorin-samples"), "--out", short, "--seconds", "1", "--depth-only"],
                       check=True,
                       stdout=subprocess.DEVNULL)
        others = sorted(glob.glob(os.path.join(short, "kinect_*.h5")))
        run = subprocess.run([calibrate, first] + [o for o in others if os.path.basename(o) != os.path.basename(first)],
                             capture_output=True, text=True, timeout=120)
        ends = re.search(r"Stepping ends after (\d+) of (\d+) steps", run.stdout)
        if not ends or not 30 <= int(ends.group(1)) <= 34:
            fail("stepping did not end with the 1 s recordings: %s" % run.stdout[-800:])


def check_one_frame_not_trusted(build_dir, calibrate):
    """One frame set settles neither the plate's face nor the depth errors: no camera is trusted,
    none is printed as calibrated, --store stores nothing and the exit code says so."""
    with tempfile.TemporaryDirectory() as folder:
        scene = os.path.join(folder, "OP1")
        subprocess.run([os.path.join(build_dir, "tavorin-samples"), "--out", scene, "--seconds", "0.03", "--depth-only"],
                       check=True,
                       stdout=subprocess.DEVNULL)
        for sub in ("a", "b", "c", "velto", "default"):
            os.makedirs(os.path.join(folder, "config", "cameras", "hdf5", sub))
        run = subprocess.run([calibrate, "--store"] + sorted(glob.glob(os.path.join(scene, "kinect_*.h5"))),
                             capture_output=True, text=True, timeout=120, cwd=folder)
        stored = glob.glob(os.path.join(folder, "config", "**", "*.json"), recursive=True)
        if run.returncode != 3 or stored or "do not settle which face" not in run.stdout \
                or re.search(r"^Camera \d+ \S+\.h5$", run.stdout, re.M):
            fail("one frame set: exit %d, stored %s: %s" % (run.returncode, stored, run.stdout[-1500:]))


def check_generated_scene(build_dir, calibrate, title, sample_options, min_resolved_share=None):
    """Samples written with the options calibrate within the bounds. The scenes this test makes
    leave the colour out (--depth-only): the calibrator never reads it."""
    with tempfile.TemporaryDirectory() as folder:
        print(title)
        subprocess.run([os.path.join(build_dir, "tavorin-samples"), "--out", folder, *sample_options, "--depth-only"],
                       check=True,
                       stdout=subprocess.DEVNULL)
        truth = os.path.join(folder, "ground_truth.json")
        check_accuracy(calibrate, truth, recordings_in_truth_order(truth), min_resolved_share)


def stored_depth_errors(work, output):
    """Each camera's stored correction at its mean plate distance (from the run's output), in mm, in
    camera order, read back from the .depth.json files of the working directory."""
    distances = [float(d) for d in re.findall(r"Camera \d+: depth error at its mean plate distance (\S+) m", output)]
    files = sorted(glob.glob(os.path.join(work, "config", "cameras", "hdf5", "*", "kinect_*.depth.json")))
    names = re.findall(r"Camera \d+: lattice found", output)
    if not files or len(distances) != len(names):
        fail("no stored depth correction for every camera: %s" % files)
    order = re.findall(r"Camera \d+ \S*kinect_(\w+)\.h5", output)
    errors = []
    for serial, distance in zip(order, distances):
        path = next(f for f in files if os.path.basename(f) == "kinect_%s.depth.json" % serial)
        with open(path) as f:
            correction = json.load(f)
        errors.append(correction["offsetMm"] + correction["scale"] * distance * 1000.0)
    return errors


def check_five_camera_row(build_dir, calibrate):
    """Five cameras along a room, each seeing the plate only with its neighbours (cameras 2 to 4
    never with camera 0), with the sensors' depth artefacts and a systematic depth error each: every
    camera within 0.1 degrees and 1 mm, each error within 3 sigma, and each depth error at the
    camera's mean plate distance within 1 mm of the one applied, after storing twice in a row, with
    the stored corrections unchanged by the second store within 0.3 mm."""
    print("Five cameras in a row with depth errors and artefacts:")
    with tempfile.TemporaryDirectory() as folder:
        scene = os.path.join(folder, "OP1")
        subprocess.run([os.path.join(build_dir, "tavorin-samples"), "--out", scene, "--cameras", "5", "--layout", "row",
                        "--seconds", "16", "--depth-offsets", "4,-6,2.5,-3,5.5", "--depth-scales",
                        "0.08,-0.1,0.05,0.1,-0.06", "--depth-artefacts", "--depth-only"], check=True,
                       stdout=subprocess.DEVNULL)
        truth = os.path.join(scene, "ground_truth.json")
        # Stored twice in a row, in a working directory of its own: the second run works on what
        # the sensors measured (the stored corrections put back), so it finds and stores the whole
        # error again instead of the rest the first correction left.
        work = os.path.join(folder, "work")
        for sub in ("a", "b", "c", "velto", "default"):
            os.makedirs(os.path.join(work, "config", "cameras", "hdf5", sub))
        stored = []
        for _ in range(2):
            run = subprocess.run([calibrate, "--store", "--truth", truth] + recordings_in_truth_order(truth),
                                 capture_output=True, text=True, timeout=600, cwd=work)
            if run.returncode != 0:
                fail("tavorin-calibrate --store exited %d: %s" % (run.returncode, run.stderr[-2000:]))
            stored.append(stored_depth_errors(work, run.stdout))
        for camera, (first, second) in enumerate(zip(*stored)):
            print("camera %d: stored depth error %.2f mm, stored again %.2f mm" % (camera, first, second))
            if not abs(first - second) <= 0.3:
                fail("camera %d: the second --store changed its correction from %.2f to %.2f mm" % (camera, first, second))
        poses = re.findall(r"Camera (\d+): rotation error (\S+) deg, translation error (\S+) mm "
                           r"\(1 sigma (\S+) deg, (\S+) mm\)", run.stdout)
        depths = re.findall(r"Camera (\d+): depth error at (\S+) m (\S+) mm, true (\S+) mm \(1 sigma (\S+) mm\)",
                            run.stdout)
        if len(poses) != 5 or len(depths) != 5 or len(re.findall(r"Depth error of camera \d+: [+-]", run.stdout)) != 5:
            fail("not every camera reported: " + run.stdout[-2000:])
        for camera, degrees, mm, sigma_deg, sigma_mm in poses:
            print("camera %s: %.4f deg, %.2f mm (1 sigma %.4f deg, %.2f mm)" % (
                camera, float(degrees), float(mm), float(sigma_deg), float(sigma_mm)))
            if not float(degrees) <= 0.1 or not float(mm) <= 1.0:
                fail("camera %s is %s deg and %s mm off" % (camera, degrees, mm))
            if not float(degrees) <= 3 * float(sigma_deg) + 1e-6 or not float(mm) <= 3 * float(sigma_mm) + 1e-6:
                fail("camera %s: the error lies beyond 3 sigma" % camera)
        for camera, _, estimated, true, sigma in depths:
            error = abs(float(estimated) - float(true))
            print("camera %s: depth error %.2f mm, true %.2f mm" % (camera, float(estimated), float(true)))
            if not error <= 1.0 or not error <= 3 * float(sigma):
                fail("camera %s: depth error %s mm against %s mm (1 sigma %s)" % (camera, estimated, true, sigma))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    args = parser.parse_args()
    calibrate = os.path.abspath(os.path.join(args.build_dir, "tavorin-calibrate"))
    repo = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
    e2e.ensure_samples(repo, args.build_dir)
    truth = os.path.join(repo, "samples", "OP1", "ground_truth.json")
    recordings = recordings_in_truth_order(truth)
    check_refusals(args.build_dir, calibrate, recordings)
    check_one_frame_not_trusted(args.build_dir, calibrate)
    check_accuracy(calibrate, truth, recordings)
    check_generated_scene(args.build_dir, calibrate,
                          "Cameras capturing 17 and 33 ms after the first, the plate at 0.4 m/s for 9 s:",
                          ["--seconds", "9", "--plate-period", "2.2", "--capture-offsets", "0,17,33"])
    check_generated_scene(args.build_dir, calibrate, "Recordings of a busy host, six frames in ten missing:",
                          ["--drop-frames", "60"])
    check_generated_scene(args.build_dir, calibrate,
                          "Cameras 11 and 22 ms apart on a busy host, each missing its own three frames in ten:",
                          ["--seconds", "6", "--plate-period", "2.2", "--capture-offsets", "0,11,22",
                           "--drop-frames", "30"], min_resolved_share=0.9)
    check_five_camera_row(args.build_dir, calibrate)
    print("OK")


if __name__ == "__main__":
    main()
