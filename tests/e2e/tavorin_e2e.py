"""Helpers for end-to-end tests: a private Xvfb display, the real program, screenshots, xdotool."""
import argparse
import fcntl
import glob
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time


def fail(message):
    """Ends a script-style test: its reason on standard output (where ctest shows it), exit 1."""
    print("FAIL: " + message)
    sys.exit(1)


def build_dir():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default="build")
    args, _ = parser.parse_known_args()
    return os.path.abspath(args.build_dir)


def sanitized(build):
    """Whether the build runs under a sanitizer (scripts/sanitize.sh): its programs take several
    times as long for each frame, so counts of frames within a fixed time come out smaller."""
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            return any(line.startswith("TAVORIN_SANITIZE:") and line.strip().split("=", 1)[1] for line in f)
    except OSError:
        return False


class Display:
    """An Xvfb server of its own, so that tests never share a screen."""

    def __init__(self, width=1600, height=900):
        # A server can report its number and still not take connections (it found another server's
        # stale lock for that number and gave up): only a display that answers counts. The server
        # does not reset when that check's client leaves (-noreset): while it resets, it turns the
        # program's connection away.
        for _ in range(3):
            self.server, self.name = self._start(width, height)
            if self._answers():
                break
            self.close()
        else:
            raise RuntimeError("Xvfb did not start a display that answers")
        self.env = dict(os.environ, DISPLAY=self.name, QT_QPA_PLATFORM="xcb")

    @staticmethod
    def _start(width, height):
        read_fd, write_fd = os.pipe()
        server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp",
             "-noreset"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as pipe:
            number = pipe.readline().strip()
        return server, ":" + number if number else ""

    def _answers(self, timeout=10):
        deadline = time.time() + timeout
        while self.name and self.server.poll() is None and time.time() < deadline:
            if subprocess.run(["xdpyinfo", "-display", self.name], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return True
            time.sleep(0.2)
        return False

    def close(self):
        if self.server.poll() is None:
            self.server.terminate()
        self.server.wait(timeout=10)

    def screenshot(self, path):
        # -quality 1: a PNG stored without compression, written in a quarter of the time; the tests
        # take many while they wait for the window, beside other tests.
        subprocess.run(["import", "-window", "root", "-quality", "1", path], env=self.env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def pixels(self, path, x, y, width, height):
        """RGB tuples of a rectangle of a screenshot, row by row."""
        raw = subprocess.run(["convert", path, "-crop", f"{width}x{height}+{x}+{y}", "+repage",
                              "-depth", "8", "rgb:-"], check=True, capture_output=True).stdout
        return [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, check=True, capture_output=True,
                              text=True).stdout

    def window_geometry(self, name="Tavorin"):
        """(x, y, width, height) of the first visible window whose name matches."""
        pattern = "".join("\\" + c if c in "()[]{}.*+?^$|\\" else c for c in name)
        window = self.xdotool("search", "--onlyvisible", "--name", pattern).split()[0]
        out = self.xdotool("getwindowgeometry", "--shell", window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])


class Program:
    """The real program with the repository root as its working directory; its console in a file."""

    def __init__(self, display, executable, args=(), cwd=None):
        self.log = tempfile.NamedTemporaryFile(prefix="tavorin-console-", suffix=".txt", delete=False)
        self.process = subprocess.Popen([executable, *args], cwd=cwd, env=display.env,
                                        stdout=self.log, stderr=subprocess.STDOUT)

    def console(self):
        with open(self.log.name, encoding="utf-8", errors="replace") as f:
            return f.read()

    def terminate(self, timeout=5.0):
        """SIGTERM, then the exit code; raises if the program does not end within the timeout."""
        self.process.send_signal(signal.SIGTERM)
        return self.process.wait(timeout=timeout)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


# Whether this run's build is a sanitizer build; waits for its programs last three times as long.
SANITIZED = sanitized(build_dir())
TIME_SCALE = 3.0 if SANITIZED else 1.0


def wait_for(predicate, timeout, interval=0.25):
    deadline = time.monotonic() + timeout * TIME_SCALE
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return None


# Where the settings bar's controls sit in the 1280 x 720 window (window coordinates).
SOURCE_COMBO = (1090, 50)
SOURCE_COMBO_RECORDING_ENTRY = (1154, 133)
SOURCE_COMBO_LIVE_ENTRY = (1154, 92)
SOURCE_COMBO_NETWORK_ENTRY = (1154, 215)
ACTIVATE_REGISTRATION = (985, 233)
CURSOR_ROWS = (966, 482, 310, 220)  # x, y, width, height of the three cursor rows
SAVE_POINT_BUTTONS = ((1015, 677), (1115, 677), (1215, 677))
REGISTER_WORLD = (1120, 709)  # the visible part of the button, without the Record toggle
VIEWPORT_WIDTH = 1280 - 320
UNDO_ROOM_REGISTRATION = (1199, 709)  # beside "Register World", without the Record toggle
# The recordings' transport over the bottom left of the view (qml/PlaybackBar).
TRANSPORT_PLAY = (44, 694)
TRANSPORT_STEP = (106, 694)
# The Record toggle at the bottom of the bar, shown while live cameras stream: a point beside its
# label, on the button's own grey, where the bar is black without it.
RECORD_BUTTON = (963, 706)
BUTTON_GREY = (0x66, 0x66, 0x66)


# "Save Registration to JSON-File" lies below the bar's first screen; scrolled to its end, the bar
# shows it at a fixed height above the first camera's swatch in the list of cameras: the quality
# section between them holds a header and one row of fixed height per camera.
SAVE_REGISTRATION_ABOVE_FIRST_SWATCH = 144
QUALITY_ROW_PITCH = 98
BAR_SCROLL_POINT = (1100, 500)


def save_registration(display, program, cameras, stored_total, folder):
    """Scrolls the settings bar to its end, presses "Save Registration to JSON-File" (found above
    the list of `cameras` cameras) until `stored_total` files are reported stored in all, and
    scrolls back to the top; whether they were."""
    stored = lambda: program.console().count("Stored Depth Camera Configuration to ") >= stored_total
    done = False
    for _ in range(3):
        scroll_bar_to_end(display)
        shot = os.path.join(folder, "bar-end.png")
        display.screenshot(shot)
        first = swatch_centres(display, shot, CAMERA_SWATCHES[:1])[0]
        if first is None:
            continue
        click(display, 1120, first[1] - SAVE_REGISTRATION_ABOVE_FIRST_SWATCH - cameras * QUALITY_ROW_PITCH)
        if wait_for(stored, 5):
            done = True
            break
    scroll_bar_to_top(display)
    return done


def record_toggle_shown(display, folder):
    shot = os.path.join(folder, "record-toggle.png")
    display.screenshot(shot)
    return display.pixels(shot, *RECORD_BUTTON, 1, 1)[0] == BUTTON_GREY


def working_directory(repo):
    """A fresh working directory for the program: the repository's shaders and empty configuration
    folders, so that a test never touches the user's calibration files. The program finds the font
    atlas beside itself in the build folder."""
    folder = tempfile.mkdtemp(prefix="tavorin-e2e-")
    os.symlink(os.path.join(repo, "shaders"), os.path.join(folder, "shaders"))
    for sub in ("azure", "hdf5/a", "hdf5/b", "hdf5/c", "hdf5/velto", "hdf5/default"):
        os.makedirs(os.path.join(folder, "config", "cameras", sub))
    return folder


def open_window(test, repo, build, env=None):
    """Starts the program in a fresh working directory (working_directory) on a display of its own,
    with `env` added to its environment, as test.workdir, test.display and test.program; all three
    go when the test ends."""
    test.workdir = working_directory(repo)
    test.addCleanup(shutil.rmtree, test.workdir, True)
    start_program(test, build, test.workdir, env)


def start_program(test, build, workdir, env=None):
    """Starts the program in `workdir` on a display of its own, with `env` added to its environment,
    as test.display and test.program, and waits for its window; both go when the test ends."""
    # A display can still be lost after it answered (another test's closing server removes the
    # socket of the number it gave up): then the program starts once more on a fresh one.
    for _ in range(2):
        test.display = Display()
        test.addCleanup(test.display.close)
        test.display.env.update(env or {})
        test.program = Program(test.display, os.path.join(build, "tavorin"), cwd=workdir)
        test.addCleanup(test.program.kill)
        window = wait_for_window(test.display, "Tavorin", 30)
        if window is not None or "could not connect to display" not in test.program.console():
            break
    test.assertIsNotNone(window, "no window; the program said: " + test.program.console()[-3000:])


def assert_clean_exit(test, timeout=15):
    """Closes the program and asserts that it exited with 0 and wrote no GL or shader error."""
    exit_code = test.program.terminate(timeout=timeout)
    console = test.program.console()
    test.assertEqual(exit_code, 0, console)
    errors = [line for line in console.splitlines() if line.startswith("GL ") or line.startswith("ERROR::")]
    test.assertEqual(errors, [], console)


def all_trusted(console, cameras):
    """Whether the console's last word on each camera but camera 0 is that the joint estimate
    trusts it."""
    last = {}
    for line in console.splitlines():
        if line.startswith("Joint estimate: camera "):
            last[line.split()[3]] = line.endswith(") trusted")
    return len(last) == cameras - 1 and all(last.values())


def click_until(display, position, condition, tries=3, timeout=5):
    """Clicks `position` until `condition` holds, at most `tries` times (the window's first click may
    only activate it); the condition's last value."""
    value = None
    for _ in range(tries):
        click(display, *position)
        value = wait_for(condition, timeout)
        if value:
            break
    return value


def run_tool(arguments, folder, expected_rc=0):
    """Runs a tool in `folder`; ends the test when it exits otherwise than expected. Its output."""
    done = subprocess.run(arguments, capture_output=True, text=True, timeout=240, cwd=folder)
    if done.returncode != expected_rc:
        fail("%s exited %d, not %d: %s %s" % (os.path.basename(arguments[0]), done.returncode, expected_rc,
                                             done.stdout[-3000:], done.stderr[-2000:]))
    return done.stdout


def store_sample_calibration(build, folder, scene, seconds=4):
    """Records the sample scene of `scene` (tavorin-samples arguments) with the plate into
    folder/cal/OP1 and stores its calibration there with tavorin-calibrate --store: each camera's
    matrix and the reference of its still view under folder/config/cameras/hdf5/a. The serials. Depth
    only: neither the calibrator nor the check reads colour."""
    run_tool([os.path.join(build, "tavorin-samples"), "--out", "cal/OP1", "--seconds", str(seconds), "--depth-only"]
             + scene, folder)
    recordings = sorted(glob.glob(os.path.join(folder, "cal/OP1/kinect_*.h5")))
    stored = run_tool([os.path.join(build, "tavorin-calibrate"), "--store"] + recordings, folder)
    if stored.count("Stored still view reference to ") != len(recordings):
        fail("tavorin-calibrate --store did not store a still view reference for every camera")
    return [os.path.basename(path)[len("kinect_"):-len(".h5")] for path in recordings]


def two_computer_scene(build, work, seconds):
    """A sample scene of `seconds`, its three cameras split over two folders as over two computers
    (two and one): the scene's folder and the two. Depth only: the nodes publish nothing else."""
    everything = os.path.join(work, "scene")
    subprocess.run([os.path.join(build, "tavorin-samples"), "--out", everything, "--seconds", str(seconds),
                    "--depth-only"], check=True, stdout=subprocess.DEVNULL)
    recordings = sorted(glob.glob(os.path.join(everything, "kinect_*.h5")))
    folders = [os.path.join(work, "pc_a"), os.path.join(work, "pc_b")]
    for folder, share in zip(folders, (recordings[:2], recordings[2:])):
        os.makedirs(folder)
        for path in share:
            os.symlink(path, os.path.join(folder, os.path.basename(path)))
    return everything, folders


def ensure_samples(repo, build):
    """The sample recordings, made once by the generator. Tests that run side by side share them:
    the first one makes them under a lock while the others wait for it, and they are written into a
    folder of their own that takes its place when complete, so that nobody reads half a recording."""
    folder = os.path.join(repo, "samples", "OP1")
    os.makedirs(os.path.dirname(folder), exist_ok=True)
    with open(os.path.join(repo, "samples", ".OP1.lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(folder, "ground_truth.json")):
            making = tempfile.mkdtemp(prefix=".OP1-", dir=os.path.dirname(folder))
            subprocess.run([os.path.join(build, "tavorin-samples"), "--out", making], check=True,
                           stdout=subprocess.DEVNULL)
            shutil.rmtree(folder, ignore_errors=True)
            os.rename(making, folder)
    return sorted(os.path.join(folder, name) for name in os.listdir(folder) if name.endswith(".h5"))


def cloud_pixels(display, path):
    """Pixels of the viewport that are neither the grey background nor an axis bar's pure colour."""
    pixels = display.pixels(path, 0, 0, VIEWPORT_WIDTH, 720)
    def background(rgb):
        r, g, b = rgb
        grey = abs(r - g) < 6 and abs(g - b) < 6 and 110 <= r <= 145
        return grey
    return sum(1 for rgb in pixels if not background(rgb))


def click(display, x, y, window_origin=(0, 0)):
    display.xdotool("mousemove", str(window_origin[0] + x), str(window_origin[1] + y), "click", "1")


def wait_for_window(display, name, timeout=10):
    def find():
        try:
            return display.window_geometry(name)
        except Exception:
            return None
    return wait_for(find, timeout)


def type_into_file_dialog(display, title, path):
    """Types a path into the path field of the file dialog with this title and accepts it."""
    geometry = wait_for_window(display, title)
    if geometry is None:
        raise RuntimeError(f"no file dialog '{title}'")
    x, y, width, _ = geometry
    display.xdotool("mousemove", str(x + width // 2), str(y + 22), "click", "--repeat", "3", "1")
    time.sleep(0.2)
    display.xdotool("key", "ctrl+a")
    display.xdotool("type", "--delay", "10", path)
    display.xdotool("key", "Return")
    time.sleep(0.8)


def press_file_dialog_button(display, title, from_right):
    """Clicks the dialog's button whose centre lies from_right pixels left of its right edge."""
    geometry = wait_for_window(display, title)
    if geometry is None:
        raise RuntimeError(f"no file dialog '{title}'")
    x, y, width, height = geometry
    display.xdotool("mousemove", str(x + width - from_right), str(y + height - 16), "click", "1")
    time.sleep(0.8)


def cancel_file_dialog(display, title):
    press_file_dialog_button(display, title, 125)


def open_folder_in_file_dialog(display, title, folder):
    """Goes to the folder (a typed folder is entered, not returned) and presses Open on it."""
    type_into_file_dialog(display, title, folder)
    press_file_dialog_button(display, title, 40)


DIALOG_TITLES = ("(1) Choose first Azure Kinect Recording:",
                 "(2) Choose second Azure Kinect Recording:",
                 "(3) Choose third Azure Kinect Recording:")


def choose_recordings(display, paths, first_folder=None):
    """Picks "Recording (.hdf5)" and types up to three recording paths; cancels the next dialog.
    With first_folder, the first dialog is first answered with that folder (it must ask again)."""
    click(display, *SOURCE_COMBO)
    time.sleep(0.6)
    click(display, *SOURCE_COMBO_RECORDING_ENTRY)
    if first_folder:
        open_folder_in_file_dialog(display, DIALOG_TITLES[0], first_folder)
    for title, path in zip(DIALOG_TITLES, paths):
        type_into_file_dialog(display, title, path)
    if len(paths) < 3:
        cancel_file_dialog(display, DIALOG_TITLES[len(paths)])


def crop(source, target, geometry):
    x, y, width, height = geometry
    subprocess.run(["convert", source, "-crop", f"{width}x{height}+{x}+{y}", "+repage", target], check=True)


# The list of cameras in the settings bar (qml/CameraList.qml): the colours of the first cameras'
# swatches (scene/CameraIdentity), found on a screenshot to locate the rows wherever the bar puts
# them; a row's show/hide check box sits CAMERA_ROW_CHECKBOX_OFFSET pixels left of its swatch's
# centre, and "Colour by camera" one row above the first row's check box.
CAMERA_SWATCHES = ((255, 140, 0), (0, 217, 255), (255, 51, 217))
CAMERA_ROW_CHECKBOX_OFFSET = 40
# The centre of a ticked check box of the bar (qml/CustomCheckBox), white when not ticked.
CHECKED_GREY = (0x44, 0x44, 0x44)


def swatch_centres(display, path, colours=CAMERA_SWATCHES):
    """(x, y) window pixels of each colour's swatch in the settings bar, or None where it is not shown."""
    left = VIEWPORT_WIDTH
    pixels = display.pixels(path, left, 0, 1280 - left, 720)
    width = 1280 - left
    centres = []
    for colour in colours:
        spots = [(i % width + left, i // width) for i, rgb in enumerate(pixels) if rgb == colour]
        if len(spots) < 100:  # a 16 x 16 swatch
            centres.append(None)
            continue
        centres.append((sum(p[0] for p in spots) // len(spots), sum(p[1] for p in spots) // len(spots)))
    return centres


def scroll_bar(display, button):
    """Thirty wheel notches over the settings bar (button 4 up, 5 down), then time to settle."""
    display.xdotool("mousemove", *map(str, BAR_SCROLL_POINT))
    display.xdotool("click", "--repeat", "30", "--delay", "40", button)
    time.sleep(1.5)


def scroll_bar_to_top(display):
    scroll_bar(display, "4")


def scroll_bar_to_end(display):
    scroll_bar(display, "5")
