"""Runs the real launcher under Wine on a private virtual display and plays it.

VirtualDisplay starts its own Xvfb with -displayfd, so parallel runs never
share a display. WinePrefix turns the crash dialog off (a crash would otherwise
wait on the virtual screen for ever), sets the screen's dpi and trusts the test
CA. A Launcher is one installation of the executable in a folder of its own
(the program keeps its settings and logs beside itself): it clicks the click
areas by name at scale 1.0, drags, takes screenshots (bounded in time: `import`
of a window that has gone hangs), reads the "SetUi status=" lines of the debug
log as (status, detail, percent) and waits for statuses, log lines and the exit
code. Its plain white background and empty character image give every row of
the window's background one colour, so the controls stand out. Pixels are read
with Pillow: run this with the system's /usr/bin/python3.
"""
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

from PIL import Image

PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                   "all_proxy", "ALL_PROXY")
ROOT = pathlib.Path(__file__).resolve().parent.parent
LOG_PREFIX = re.compile(r"^\[.*?\]\[tid:\d+\]\[\w+\] ")
SETUI = re.compile(r"^SetUi status=(.*?), detail=(.*), percent=(-?[0-9.]+)$")
# Click points at scale 1.0 (client 1196 x 640): the centres of the click areas.
POINTS = {"Play": (364, 353), "Update": (562, 353), "ResetGameSettings": (562, 408), "Cancel": (407, 530),
          "LangUk": (390, 602), "LangEn": (435, 602), "Close": (1136, 52), "Telegram": (55, 165)}
# Crops (left, top, right, bottom) and points of a screenshot.
PLAY_BUTTON = (220, 318, 508, 390)
STATUS_LINE = (95, 403, 685, 433)
BAR_START = (110, 473)
BAR_END = (600, 473)
# A run ends with the only SetUi of percent 100, or with one of these at 0.
ENDED_AT_ZERO = ("Обновление отменено", "Ошибка обновления")


def wait_until(condition, timeout, what):
    """Polls condition until it returns something true and returns that; fails
    naming `what` after timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= end:
            raise AssertionError("%s: not within %s s" % (what, timeout))
        time.sleep(0.2)


def windows_path(path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def settings_for(client):
    """A settings file that points the launcher at the client folder, in Russian, with debug logging."""
    return ('{"ClientPath":"%s","Language":"RU","ClanPatchEnabled":false,"DebugLog":true}'
            % windows_path(client).replace("\\", "\\\\"))


class VirtualDisplay:
    """An Xvfb of its own; the display number comes back through -displayfd."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1920x1080x24",
                                         "-nolisten", "tcp"], pass_fds=(write_end,),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            self.name = ":" + reader.readline().strip()
        if self.name == ":":
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        return self

    def __exit__(self, *error):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class WinePrefix:
    """A Wine prefix of the tests' own. A prefix's desktop keeps the display of
    the process that started its Wine server, so a prefix serves one display at
    a time: every command here runs on that display, and close() ends the
    prefix's processes before the display goes."""

    def __init__(self, path, scratch, display):
        self.path = pathlib.Path(path).resolve()
        self.scratch = pathlib.Path(scratch).resolve()
        self.display = display

    def environment(self, extra=None):
        env = {key: value for key, value in os.environ.items() if key not in PROXY_VARIABLES}
        env.update(WINEPREFIX=str(self.path), WINEDEBUG="-all", DISPLAY=self.display.name,
                   WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d", **(extra or {}))
        return env

    def run(self, *command, program="wine", timeout=120):
        return subprocess.run([program, *map(str, command)], env=self.environment(), timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def registry(self, text):
        """Imports registry entries (REGEDIT4 lines after the header)."""
        with tempfile.TemporaryDirectory() as folder:
            reg = pathlib.Path(folder) / "tests.reg"
            reg.write_text("REGEDIT4\r\n\r\n" + text, encoding="ascii")
            if self.run("regedit", "/S", windows_path(reg)) != 0:
                raise RuntimeError("regedit failed in " + str(self.path))

    def prepared(self, dpi=96, trust=None):
        """Creates the prefix when missing and applies the settings; trust = (helper exe, CA .der)."""
        self.close()
        subprocess.run([str(ROOT / "scripts" / "wine-prefix.sh"), str(self.path), str(self.scratch)], check=True,
                       env=self.environment(), timeout=300, stdout=subprocess.DEVNULL)
        self.registry("[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n\r\n"
                      "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"LogPixels\"=dword:%08x\r\n" % dpi)
        if trust is not None and self.run(trust[0], windows_path(trust[1])) != 0:
            raise RuntimeError("the test CA could not be trusted in " + str(self.path))
        return self

    def close(self):
        """Ends every process of the prefix and its Wine server."""
        self.run("-k", program="wineserver", timeout=60)
        self.run("-w", program="wineserver", timeout=60)


class Launcher:
    """One installation of the launcher in a fresh folder; `settings` is the
    text of its settings file, none when None."""

    def __init__(self, exe, folder, prefix, settings=None, plain_images=True, env=None):
        self.folder = pathlib.Path(folder).resolve()
        shutil.rmtree(self.folder, ignore_errors=True)
        self.folder.mkdir(parents=True)
        self.exe = self.folder / pathlib.Path(exe).name
        shutil.copy2(exe, self.exe)
        self.prefix, self.env, self.process = prefix, env, None
        self.settings_path = self.folder / "updater_settings.json"
        if plain_images:
            for kind, mode, size, colour in (("br", "RGB", (64, 32), (255, 255, 255)), ("char", "RGBA", (8, 8), 0)):
                (self.folder / "img" / kind).mkdir(parents=True)
                Image.new(mode, size, colour).save(self.folder / "img" / kind / "plain.png")
        if settings is not None:
            self.settings_path.write_text(settings, encoding="utf-8")

    def settings(self):
        return self.settings_path.read_text(encoding="utf-8") if self.settings_path.is_file() else ""

    def start(self):
        """Starts the executable with --debug; waits that follow look only at SetUi lines it writes."""
        self.window, self.first_line = None, len(self.ui())
        self.process = subprocess.Popen(["wine", str(self.exe), "--debug"], cwd=self.folder,
                                        env=self.prefix.environment(self.env),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def xdotool(self, *command, timeout=25):
        return subprocess.run(["xdotool", *map(str, command)], env=self.prefix.environment(),
                              capture_output=True, text=True, timeout=timeout).stdout

    def wait_window(self):
        """The X window id of the visible main window."""
        if self.window is None:
            ids = self.xdotool("search", "--sync", "--onlyvisible", "--name", "^Tavrine Updater$",
                                timeout=60).split()
            if not ids:
                raise AssertionError("no window appeared")
            self.window = ids[0]
        return self.window

    def geometry(self):
        """(x, y, width, height) of the window on the screen."""
        values = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell",
                                                                  self.wait_window()).split())
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def click(self, point):
        """A left click on a named click area, or at a client point (x, y)."""
        x, y = POINTS[point] if isinstance(point, str) else point
        self.xdotool("mousemove", "--window", self.wait_window(), x, y, "click", "1")
        time.sleep(0.3)

    def drag(self, x, y, dx, dy):
        """Holds the left button at client (x, y) and lets it go dx, dy further."""
        self.xdotool("mousemove", "--window", self.wait_window(), x, y, "mousedown", "1")
        self.xdotool("mousemove", "--window", self.window, x + dx, y + dy, "sleep", "0.3", "mouseup", "1")

    def image(self, path=None):
        """A screenshot of the window as an RGB image, saved at path."""
        window = self.wait_window()
        time.sleep(0.5)  # the repaint that the last status asked for reaches the screen
        path = path or self.folder / "shot.png"
        try:
            subprocess.run(["import", "-window", window, str(path)], env=self.prefix.environment(), timeout=20,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        except (subprocess.TimeoutExpired, subprocess.CalledProcessError):
            raise AssertionError("no screenshot of the window") from None
        with Image.open(path) as image:
            return image.convert("RGB")

    def log(self, debug=False):
        """The messages of a log, without time, process, thread and level."""
        try:
            text = (self.folder / "logs" / ("updater-debug.log" if debug else "updater.log")).read_bytes()
        except OSError:
            return []
        return [LOG_PREFIX.sub("", line) for line in text.decode("utf-8", errors="replace").split("\r\n") if line]

    def wait_log(self, text, debug=False, count=1, timeout=30):
        """Waits until `count` log messages start with text; the first of them."""
        found = wait_until(lambda: [m for m in self.log(debug) if m.startswith(text)][count - 1:], timeout,
                           "log line %r x%d" % (text, count))
        return found[0]

    def ui(self):
        """(status, detail, percent) of every SetUi line, in order."""
        return [(m.group(1), m.group(2), float(m.group(3))) for m in map(SETUI.match, self.log(True)) if m]

    def wait_status(self, status, after=0, timeout=60):
        """The index of the first SetUi line from `after` on that shows `status`."""
        return wait_until(lambda: next((i + 1 for i, line in enumerate(self.ui()) if i >= after and
                                        line[0] == status), None), timeout, "status " + status) - 1

    def wait_ready(self):
        self.wait_window()
        self.wait_status("Готов к работе", after=self.first_line)
        return self

    def update(self):
        """Clicks Update; the index of the run's first SetUi line."""
        start = len(self.ui())
        self.click("Update")
        return self.wait_status("Проверка файлов", after=start)

    def wait_final(self, after, timeout=120):
        """The final SetUi line of the update run that began after SetUi line `after`."""
        return wait_until(lambda: next((line for line in self.ui()[after:] if line[2] == 100.0 or
                                        (line[0] in ENDED_AT_ZERO and line[2] == 0.0)), None), timeout,
                          "the end of the update run")

    def wait_exit(self, timeout=40):
        """The exit code; fails when the process still runs after timeout seconds."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the launcher did not exit within %s s" % timeout) from None

    def close(self):
        """Clicks Close; the exit code."""
        self.click("Close")
        return self.wait_exit()


def ink_clusters(image, rows, left, right, gap):
    """Column ranges in [left, right) whose pixels in `rows` differ from the row's
    background colour at x 5, merged across gaps of at most `gap` columns."""
    pixels = image.load()
    clusters = []
    for x in range(left, right):
        if any(max(abs(a - b) for a, b in zip(pixels[x, y], pixels[5, y])) > 24 for y in rows):
            if clusters and x - clusters[-1][1] <= gap:
                clusters[-1][1] = x
            else:
                clusters.append([x, x])
    return clusters


def measured_points(image):
    """Click points of the areas placed by measured text widths: the four top-bar
    links and, on the bottom line, the debug option and the self-update control."""
    height = image.size[1]
    links = ink_clusters(image, range(48, 68), 30, 1000, 14)[:4]
    points = {name: ((a + b) // 2, 57) for name, (a, b) in zip(("About", "Donation", "Registration", "Forum"), links)}
    bottom = ink_clusters(image, range(height - 24, height - 8), 12, 800, 10)
    for name, (a, b) in zip(("Version", "DebugLog", "SelfUpdate"), bottom):
        points[name] = ((a + b) // 2, height - 16)
    return points
