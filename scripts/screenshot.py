#!/usr/bin/env python3
"""Remakes docs/screenshot.png: the program under Xvfb with the three sample recordings open and
registered to each other, seen from above the work area. Run from anywhere after a build."""
import os
import shutil
import sys
import time

REPO = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(REPO, "tests", "e2e"))
import tavorin_e2e as e2e  # noqa: E402

REGISTRATION_SECONDS = float(os.environ.get("TAVORIN_SCREENSHOT_REGISTRATION_SECONDS", "25"))


def main():
    build = os.path.join(REPO, "build")
    recordings = e2e.ensure_samples(REPO, build)
    workdir = e2e.working_directory(REPO)
    display = e2e.Display()
    program = e2e.Program(display, os.path.join(build, "tavorin"), cwd=workdir)
    try:
        if e2e.wait_for_window(display, "Tavorin", 30) is None:
            raise SystemExit("the program did not open its window")
        time.sleep(1.5)
        # Registration on before the recordings start, so that it sees the plate's whole motion.
        e2e.click(display, *e2e.ACTIVATE_REGISTRATION)
        e2e.choose_recordings(display, recordings[:3])
        time.sleep(REGISTRATION_SECONDS)
        e2e.click(display, *e2e.ACTIVATE_REGISTRATION)
        time.sleep(1)
        # Turn the view down onto the work area and come a little closer.
        display.xdotool("mousemove", "480", "300", "mousedown", "1")
        for step in range(1, 11):
            display.xdotool("mousemove", str(480 - 6 * step), str(300 + 9 * step))
            time.sleep(0.05)
        display.xdotool("mouseup", "1")
        time.sleep(1)
        target = os.path.join(REPO, "docs", "screenshot.png")
        shot = os.path.join(workdir, "shot.png")
        display.screenshot(shot)
        geometry = display.window_geometry()
        e2e.crop(shot, target, geometry)
        print("wrote", target)
        with open(os.path.join(REPO, "build", "screenshot-console.txt"), "w") as f:
            f.write(program.console())
        program.terminate(timeout=10)
    finally:
        program.kill()
        display.close()
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    main()
