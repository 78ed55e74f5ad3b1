"""Runs the real launcher under Wine on a private virtual display and watches it.

Shared by every test that starts the executable:

    with VirtualDisplay() as display:
        prefix = WinePrefix(path, scratch, display).prepared(dpi=96, trust=(trust_exe, ca_der))
        with Launcher(exe, folder, prefix, args=["--debug"]) as app:
            app.wait_window()
            app.wait_for_log("SetUi status=Готов к работе", debug=True)
            app.click(640, 560)
            app.screenshot(folder / "after.png")
            app.post_close(post_close_exe)
            assert app.wait_exit(35) == 0
        prefix.close()

VirtualDisplay starts its own Xvfb with -displayfd, so parallel runs never
share a display. WinePrefix turns the crash dialog off (a crash would
otherwise wait on the virtual screen for ever), maps "Segoe UI" to DejaVu Sans,
sets the screen's dpi and trusts the test CA. Launcher copies the executable
into a folder of its own (the program keeps its settings and logs beside
itself), starts it, finds its window with xdotool, clicks and drags at client
coordinates, takes screenshots (each bounded in time: `import` of a window
that has gone hangs), reads the log lines and waits for the exit code.
Pixels are read with Pillow, so run this with the system's /usr/bin/python3.
"""
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

WINDOW_TITLE = "^Tavrine Updater$"
SCREEN_WIDTH, SCREEN_HEIGHT = 1920, 1080
PROXY_VARIABLES = ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                   "all_proxy", "ALL_PROXY")
ROOT = pathlib.Path(__file__).resolve().parent.parent


def wait_until(condition, timeout, step=0.2):
    """Polls condition until it returns something true; that value, or None after timeout seconds."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value or time.monotonic() >= end:
            return value or None
        time.sleep(step)


def windows_path(path):
    """The path as Wine's Z: drive shows it."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def log_messages(path):
    """The messages of a log file, without time, process, thread and level."""
    try:
        text = pathlib.Path(path).read_bytes().decode("utf-8", errors="replace")
    except OSError:
        return []
    messages = []
    for line in text.split("\r\n"):
        if line:
            start = line.find("] ", line.find("][tid:"))
            messages.append(line[start + 2:] if start >= 0 else line)
    return messages


class VirtualDisplay:
    """An Xvfb of its own; the display number comes back through -displayfd."""

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (SCREEN_WIDTH, SCREEN_HEIGHT),
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            number = reader.readline().strip()
        if not number:
            self.process.kill()
            raise RuntimeError("Xvfb did not start")
        self.name = ":" + number
        return self

    def __exit__(self, *error):
        self.process.terminate()
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            self.process.kill()


class WinePrefix:
    """A Wine prefix of the tests' own, made ready for windows: no crash dialog,
    "Segoe UI" mapped, the screen's dpi, the test CA trusted.

    A prefix's desktop keeps the display of the process that started its Wine
    server, so a prefix serves one display at a time: every command here runs
    on that display, and close() ends the prefix's processes before the
    display goes."""

    def __init__(self, path, scratch, display):
        self.path = pathlib.Path(path).resolve()
        self.scratch = pathlib.Path(scratch).resolve()
        self.display = display

    def environment(self, extra=None):
        env = {key: value for key, value in os.environ.items() if key not in PROXY_VARIABLES}
        env.update(WINEPREFIX=str(self.path), WINEDEBUG="-all", DISPLAY=self.display.name,
                   WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe=d")
        env.update(extra or {})
        return env

    def run(self, *command, timeout=120):
        return subprocess.run(["wine", *map(str, command)], env=self.environment(), timeout=timeout,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def prepared(self, dpi=96, trust=None):
        """Creates the prefix when missing and applies the settings; trust = (helper exe, CA .der)."""
        self.close()
        subprocess.run([str(ROOT / "scripts" / "wine-prefix.sh"), str(self.path), str(self.scratch)], check=True,
                       env=self.environment(), timeout=300, stdout=subprocess.DEVNULL)
        registry = ("REGEDIT4\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n\"ShowCrashDialog\"=dword:00000000\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\r\n\"Segoe UI\"=\"DejaVu Sans\"\r\n\r\n"
                    "[HKEY_CURRENT_USER\\Control Panel\\Desktop]\r\n\"LogPixels\"=dword:%08x\r\n" % dpi)
        with tempfile.TemporaryDirectory() as folder:
            reg = pathlib.Path(folder) / "window-tests.reg"
            reg.write_text(registry, encoding="ascii")
            if self.run("regedit", "/S", windows_path(reg)) != 0:
                raise RuntimeError("regedit failed in " + str(self.path))
        if trust is not None and self.run(trust[0], windows_path(trust[1])) != 0:
            raise RuntimeError("the test CA could not be trusted in " + str(self.path))
        return self

    def close(self):
        """Ends every process of the prefix and its Wine server."""
        subprocess.run(["wineserver", "-k"], env=self.environment(), timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.environment(), timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Launcher:
    """One run of the launcher in a folder of its own."""

    def __init__(self, exe, folder, prefix, args=(), env=None):
        self.folder = pathlib.Path(folder).resolve()
        self.folder.mkdir(parents=True, exist_ok=True)
        self.exe = self.folder / pathlib.Path(exe).name
        shutil.copy2(exe, self.exe)
        self.prefix = prefix
        self.args = list(args)
        self.env = env
        self.process = None
        self.window = None

    def __enter__(self):
        self.started = time.monotonic()
        self.process = subprocess.Popen(["wine", str(self.exe), *self.args], cwd=self.folder,
                                        env=self.prefix.environment(self.env),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def __exit__(self, *error):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def xdotool(self, *command, timeout=25):
        result = subprocess.run(["xdotool", *map(str, command)], env=self.prefix.environment(),
                                capture_output=True, text=True, timeout=timeout)
        return result.stdout

    def wait_window(self, timeout=20):
        """The X window id of the visible main window."""
        output = self.xdotool("search", "--sync", "--onlyvisible", "--name", WINDOW_TITLE, timeout=timeout)
        ids = output.split()
        if not ids:
            raise AssertionError("no window appeared")
        self.window = ids[0]
        return self.window

    def geometry(self):
        """(x, y, width, height) of the window on the screen."""
        values = dict(line.split("=", 1) for line in self.xdotool("getwindowgeometry", "--shell",
                                                                  self.window).split())
        return tuple(int(values[key]) for key in ("X", "Y", "WIDTH", "HEIGHT"))

    def click(self, x, y):
        """A left click at client coordinates."""
        self.xdotool("mousemove", "--window", self.window, x, y, "click", "1")

    def drag(self, x, y, dx, dy):
        """Holds the left button at client (x, y) and lets it go dx, dy further."""
        self.xdotool("mousemove", "--window", self.window, x, y, "mousedown", "1")
        self.xdotool("mousemove", "--window", self.window, x + dx, y + dy, "sleep", "0.3", "mouseup", "1")

    def screenshot(self, path):
        """A PNG of the window, or None when it could not be taken in time."""
        try:
            subprocess.run(["import", "-window", self.window, str(path)], env=self.prefix.environment(),
                           timeout=20, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        except (subprocess.TimeoutExpired, subprocess.CalledProcessError):
            return None
        return pathlib.Path(path)

    def log(self, debug=False):
        return log_messages(self.folder / "logs" / ("updater-debug.log" if debug else "updater.log"))

    def wait_for_log(self, text, debug=False, timeout=30):
        """The first log message that starts with text, waiting for it."""
        found = wait_until(lambda: next((m for m in self.log(debug) if m.startswith(text)), None), timeout)
        if found is None:
            raise AssertionError("no log line %r within %s s" % (text, timeout))
        return found

    def statuses(self):
        """The statuses stored by SetUi, in order (needs --debug)."""
        return [m[len("SetUi status="):].split(", detail=")[0] for m in self.log(True) if m.startswith("SetUi status=")]

    def post_close(self, helper):
        """Posts WM_CLOSE through a helper that finds the window by its class."""
        if self.prefix.run(helper, timeout=30) != 0:
            raise AssertionError("the close helper found no window")

    def wait_exit(self, timeout):
        """The exit code, or None when the process still runs after timeout seconds."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

