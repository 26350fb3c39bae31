"""Cameras on other computers, on the loopback interface: two tavorin-node processes play the three
sample recordings of an 8 s scene to ROS 2 (two cameras and one); tavorin-record --network takes
every frame they publish, and tavorin-calibrate calibrates the recorded cameras within the bounds of
the local recordings. Calibrated with --store --room in a working directory of their own, they
reach tf without the window: tavorin-tf publishes one transform per camera from the z-up room to
the frame its images carried, at the ground truth's heights and distances, and publishes again when
a stored file changes. Then a node of a live (virtual) camera killed mid-stream and restarted costs
only its own camera, only while it is down."""
import itertools
import json
import math
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import tavorin_e2e as e2e  # noqa: E402
from tavorin_e2e import fail  # noqa: E402

SECONDS = 8
FRAMES = SECONDS * 30
MAX_ROTATION_DEG = 0.1
MAX_TRANSLATION_MM = 1.0
TF_TOLERANCE_M = 0.003
MOVED_M = 0.1


def start_node(build, folder, prefix):
    return subprocess.Popen([os.path.join(build, "tavorin-node"), "--play", folder, "--prefix", prefix],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def start_live_node(build, prefix):
    env = dict(os.environ, TAVORIN_VIRTUAL_CAMERAS="1")
    return subprocess.Popen([os.path.join(build, "tavorin-node"), "--prefix", prefix], env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def start_recorder(build, folder, seconds):
    return subprocess.Popen([os.path.join(build, "tavorin-record"), "--network", "--seconds", str(seconds), "--out",
                             folder], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def frames_recorded(output):
    return {name: int(count) for count, name in re.findall(r"Recorded (\d+) frames of (\S+) to", output)}


def room_points_in_camera0(camera0):
    """--room: the floor rectangle (1, 0, 0), (0, 0, 0), (0, 0, 1) of the truth's room (y up,
    floor at 0) in camera 0's own coordinates."""
    m = camera0["modelMatrixRoom"]  # column-major, camera -> room
    d = [[p[i] - m[12 + i] for i in range(3)] for p in ((1, 0, 0), (0, 0, 0), (0, 0, 1))]
    return ["%.7f" % sum(m[4 * axis + i] * v[i] for i in range(3)) for v in d for axis in range(3)]


def read_tf_static(listener):
    line = listener.stdout.readline()
    return {t["child"]: t for t in json.loads(line)["transforms"]} if line else {}


def check_transforms(transforms, truth, children):
    """One transform per camera from "room" to the frame its images carried, at its true height;
    the distances between cameras as in the truth. The rectangle's middle is the origin, z up:
    a truth point (x, y, z) is published at (x - 0.5, 0.5 - z, y)."""
    if sorted(transforms) != sorted(children.values()) or {t["parent"] for t in transforms.values()} != {"room"}:
        fail("tf_static holds %s, not room -> %s" % (sorted(transforms), sorted(children.values())))
    places = {}
    for camera in truth["cameras"]:
        x, y, z = camera["position"]
        published = transforms[children[camera["serial"]]]["translation"]
        places[camera["serial"]] = (published, [x - 0.5, 0.5 - z, y])
        print("%s at %s, truly at %s" % (children[camera["serial"]], published, places[camera["serial"]][1]))
        if abs(published[2] - y) > TF_TOLERANCE_M or math.dist(*places[camera["serial"]]) > TF_TOLERANCE_M:
            fail("%s is published off its true place" % children[camera["serial"]])
    for a, b in itertools.combinations(places.values(), 2):
        if abs(math.dist(a[0], b[0]) - math.dist(a[1], b[1])) > TF_TOLERANCE_M:
            fail("two cameras are published %.4f m apart, truly %.4f m" % (math.dist(a[0], b[0]), math.dist(a[1], b[1])))


def stored_calibration_reaches_tf(build, work, everything, recorded):
    root = os.path.join(work, "config_root")
    os.makedirs(root)
    with open(os.path.join(everything, "ground_truth.json")) as f:
        truth = json.load(f)
    serials = [c["serial"] for c in truth["cameras"]]
    run = subprocess.run([os.path.join(build, "tavorin-calibrate"), "--store", "--room",
                          *room_points_in_camera0(truth["cameras"][0]),
                          *[os.path.join(recorded, "kinect_%s.h5" % s) for s in serials]],
                         cwd=root, capture_output=True, text=True, timeout=300)
    if run.returncode != 0:
        fail("tavorin-calibrate --store --room exited %d: %s" % (run.returncode, run.stderr[-1000:]))
    # The nodes played the scene's recordings in sorted order, the first two as pc_a.
    computers = dict(zip(sorted(serials), ("pc_a", "pc_a", "pc_b")))
    children = {s: "%s/%s_depth" % (computers[s], s) for s in serials}
    publisher = subprocess.Popen([os.path.join(build, "tavorin-tf")], cwd=root, stdout=subprocess.PIPE,
                                 stderr=subprocess.STDOUT, text=True)
    try:
        time.sleep(1.0)  # the listener joins late, as tf2 listeners do, then waits for a change
        listener = subprocess.Popen([os.path.join(build, "tests", "tavorin_tf_static_listener"), "2", "30"],
                                    stdout=subprocess.PIPE, text=True)
        first = read_tf_static(listener)
        check_transforms(first, truth, children)
        moved = os.path.join(root, "config", "cameras", "ros", "%s_%s.json" % (computers[serials[2]], serials[2]))
        with open(moved) as f:
            stored = json.load(f)
        stored["modelMatrix"][13] += MOVED_M  # the room's y: up
        with open(moved + ".new", "w") as f:
            json.dump(stored, f)
        os.replace(moved + ".new", moved)
        second = read_tf_static(listener)
        raised = {c: round(second[c]["translation"][2] - first[c]["translation"][2], 6) for c in second}
        if raised != {c: MOVED_M if c == children[serials[2]] else 0.0 for c in first}:
            fail("after a stored matrix changed, tf_static moved %s" % raised)
    finally:
        publisher.send_signal(signal.SIGTERM)
        output, _ = publisher.communicate(timeout=30)
    if publisher.returncode != 0:
        fail("tavorin-tf exited %d: %s" % (publisher.returncode, output[-1000:]))


def every_frame_taken_and_calibrated(build, work, everything, folders):
    recorded = os.path.join(work, "recorded")
    recorder = start_recorder(build, recorded, SECONDS + 6)
    time.sleep(2.0)
    nodes = [start_node(build, folders[0], "pc_a"), start_node(build, folders[1], "pc_b")]
    for node in nodes:
        node.communicate(timeout=60)
    output, _ = recorder.communicate(timeout=60)
    if recorder.returncode != 0:
        fail("tavorin-record --network exited %d: %s" % (recorder.returncode, output[-2000:]))
    counts = frames_recorded(output)
    print(counts)
    if len(counts) != 3 or any(count != FRAMES for count in counts.values()):
        fail("not every published frame was recorded: %s" % counts)
    truth = os.path.join(everything, "ground_truth.json")
    with open(truth) as f:
        files = [os.path.join(recorded, os.path.basename(c["file"])) for c in json.load(f)["cameras"]]
    run = subprocess.run([os.path.join(build, "tavorin-calibrate"), "--truth", truth] + files, capture_output=True,
                         text=True, timeout=300)
    last = run.stdout.strip().splitlines()[-1] if run.stdout.strip() else ""
    print(last)
    errors = re.fullmatch(r"max rotation error (\S+) deg, max translation error (\S+) mm", last)
    if run.returncode != 0 or not errors:
        fail("tavorin-calibrate exited %d: %s" % (run.returncode, run.stderr[-1000:]))
    if not float(errors.group(1)) <= MAX_ROTATION_DEG or not float(errors.group(2)) <= MAX_TRANSLATION_MM:
        fail(last)
    return recorded


def a_node_lost_costs_only_its_cameras(build, work, folders):
    recorded = os.path.join(work, "interrupted")
    # The recorder runs until it is told to stop, after the nodes: on a loaded machine a node may
    # start late, and a fixed recording time could end before its last frames.
    recorder = start_recorder(build, recorded, SECONDS + 60)
    time.sleep(2.0)
    live = start_live_node(build, "pc_live")
    played = start_node(build, folders[1], "pc_b")
    time.sleep(3.0)
    live.kill()
    live.wait()
    time.sleep(2.5)
    live = start_live_node(build, "pc_live")
    played.communicate(timeout=60)
    time.sleep(1.0)
    live.send_signal(signal.SIGTERM)
    live.communicate(timeout=60)
    time.sleep(1.0)
    recorder.send_signal(signal.SIGTERM)
    output, _ = recorder.communicate(timeout=60)
    counts = frames_recorded(output)
    gaps = {}
    for name, length in re.findall(r"Gap in the capture of (\S+): no frame for (\S+) s", output):
        gaps[name] = max(gaps.get(name, 0.0), float(length))
    print(counts, gaps)
    played_camera = [name for name in counts if name.startswith("pc_b/")]
    live_camera = [name for name in counts if name.startswith("pc_live/")]
    if len(played_camera) != 1 or counts[played_camera[0]] != FRAMES or played_camera[0] in gaps:
        fail("the camera of the node that stayed lost frames: %s %s" % (counts, gaps))
    # Its gap is its time down (2.5 s and the restart), on its own clock's axis beside the played
    # camera's recording clock, not the distance between the two clocks.
    if len(live_camera) != 1 or not 2.0 <= gaps.get(live_camera[0], 0.0) <= 20.0:
        fail("the restarted node's camera shows no gap of its time down: %s %s" % (counts, gaps))
    # A gap is only seen at the frame after it; the count asks for about a second of frames in all
    # (a sanitizer build renders the virtual camera at a few frames a second).
    if counts[live_camera[0]] < (10 if e2e.SANITIZED else 30):
        fail("the restarted node's camera did not stream again: %s" % counts)


def main():
    build = e2e.build_dir()
    with tempfile.TemporaryDirectory(prefix="tavorin-network-") as work:
        everything, folders = e2e.two_computer_scene(build, work, SECONDS)
        recorded = every_frame_taken_and_calibrated(build, work, everything, folders)
        stored_calibration_reaches_tf(build, work, everything, recorded)
        a_node_lost_costs_only_its_cameras(build, work, folders)
    print("PASS")


if __name__ == "__main__":
    main()
