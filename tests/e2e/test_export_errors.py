"""tavorin-export refuses what it cannot export with a message and a non-zero exit, and leaves no
PLY behind for it."""
import argparse
import os
import subprocess
import sys
import tempfile


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
        good = [os.path.join(samples, n) for n in sorted(os.listdir(samples)) if n.endswith(".h5")][0]
        ply = os.path.join(root, "out.ply")
        cases = [
            ("no arguments", [], 2),
            ("unknown option", ["--colour", good], 2),
            ("negative frame", ["--frame", "-1", good], 2),
            ("four recordings", [good] * 4, 2),
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
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
