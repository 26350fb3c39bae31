"""tavorin-export refuses what it cannot export with a message and a non-zero exit, and leaves no
PLY behind for it; both tools refuse malformed recordings (patched copies of a sample) with a
message and a non-zero exit, each within 60 s."""
import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile


def patched(source, target, edit):
    data = bytearray(open(source, "rb").read())
    edit(data)
    with open(target, "wb") as f:
        f.write(data)
    return target


def depth_precision(bits):
    """The precision byte of the depth's unsigned 16-bit little-endian type."""
    def edit(data):
        at = data.find(bytes([0x10, 0, 0, 0, 2, 0, 0, 0, 0, 0, 16, 0]))
        data[at + 10] = bits
    return edit


def last_timestamp(seconds):
    def edit(data):
        times = [12.0 + k / 30.0 for k in range(6)]
        at = data.find(struct.pack("<6d", *times))
        data[at + 40:at + 48] = struct.pack("<d", seconds)
    return edit


def blob_number(pattern, value):
    """Replaces the first number the pattern's group matches in the raw calibration, padded with spaces."""
    def edit(data):
        m = re.search(pattern, data)
        width = m.end(1) - m.start(1)
        data[m.start(1):m.end(1)] = value.ljust(width).encode()
    return edit


def malformed_recordings(build, root, good, other):
    """Each tool on each malformed recording: non-zero exit, a message, within 60 s, no PLY."""
    cases = [
        ("depth precision 142", depth_precision(142), "stores 142-bit unsigned integers"),
        ("depth precision 17", depth_precision(17), "stores 17-bit unsigned integers"),
        ("timestamp 1e12 s", last_timestamp(1e12), "lies outside"),
        ("timestamp NaN", last_timestamp(float("nan")), "not a finite number"),
        ("timestamps over a day", last_timestamp(2e5), "more than one day"),
        ("focal length 0", blob_number(rb'"ModelParameters":\[[^,]*,[^,]*,([^,]*),', "0"), "focal lengths 0"),
        ("metric radius that maps no pixel", blob_number(rb'"MetricRadius":([0-9.eE+-]*)', "0.0002"),
         "no usable point|no camera has seen the plate|lattice was not found|no camera but camera 0 can be trusted"),
    ]
    failures = []
    ply = os.path.join(root, "malformed.ply")
    os.makedirs(os.path.join(root, "bad", "OP1"))
    for name, edit, message in cases:
        path = patched(good, os.path.join(root, "bad", "OP1", os.path.basename(good)), edit)
        for tool, args in (("tavorin-export", ["--out", ply, path]), ("tavorin-calibrate", [path, other])):
            try:
                run = subprocess.run([os.path.join(build, tool)] + args, capture_output=True,
                                     text=True, timeout=60, cwd=root)
            except subprocess.TimeoutExpired:
                failures.append("%s, %s: still running after 60 s" % (name, tool))
                continue
            if run.returncode <= 0 or not re.search(message, run.stderr):
                failures.append("%s, %s: exit %d, stderr %r" % (name, tool, run.returncode, run.stderr[-400:]))
        if os.path.exists(ply):
            failures.append("%s: a PLY was written" % name)
            os.remove(ply)
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    build = os.path.abspath(parser.parse_args().build_dir)
    export = os.path.join(build, "tavorin-export")
    failures = []
    with tempfile.TemporaryDirectory() as root:
        text = os.path.join(root, "notes.h5")
        with open(text, "w") as f:
            f.write("not a recording\n")
        samples = os.path.join(root, "OP1")
        subprocess.run([os.path.join(build, "tavorin-samples"), "--out", samples, "--seconds", "0.2"],
                       check=True, capture_output=True, timeout=120)
        good, other = [os.path.join(samples, n) for n in sorted(os.listdir(samples)) if n.endswith(".h5")][:2]
        ply = os.path.join(root, "out.ply")
        cases = [
            ("no arguments", [], 2),
            ("unknown option", ["--colour", good], 2),
            ("negative frame", ["--frame", "-1", good], 2),
            ("33 recordings", [good] * 33, 2),
            ("missing file", [os.path.join(root, "missing.h5")], 1),
            ("text file", [text], 1),
            ("frame past the end", ["--frame", "6", good], 1),
            ("one bad of two", [good, text], 1),
        ]
        for name, args, expected in cases:
            run = subprocess.run([export, "--out", ply] + args, capture_output=True, text=True, timeout=60, cwd=root)
            if run.returncode != expected or not run.stderr.strip():
                failures.append("%s: exit %d (expected %d), stderr %r" % (name, run.returncode, expected, run.stderr))
            if os.path.exists(ply):
                failures.append("%s: a PLY was written" % name)
                os.remove(ply)
        run = subprocess.run([export, "--frame", "5", "--out", ply, good], capture_output=True, text=True,
                             timeout=60, cwd=root)
        if run.returncode != 0 or not os.path.getsize(ply) > 1000000:
            failures.append("the last frame does not export: %s %s" % (run.stdout[-300:], run.stderr))
        with open(ply, "rb") as f:
            header = f.read(200)
        if b"comment tavorin-export, each camera's own coordinates in metres, no calibration stored\n" not in header:
            failures.append("without configuration files the PLY claims another frame: %r" % header)
        for tool in ("tavorin-export", "tavorin-calibrate"):
            run = subprocess.run([os.path.join(build, tool), "--help"], capture_output=True, text=True, timeout=60)
            if run.returncode != 0 or "Exit codes: 0" not in run.stdout:
                failures.append("%s --help: exit %d, %r" % (tool, run.returncode, run.stdout))
        failures += malformed_recordings(build, root, good, other)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
