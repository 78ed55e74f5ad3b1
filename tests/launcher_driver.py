"""The launcher as a player sees it, on top of window_harness.

A Player is one installation of the test build in a folder of its own. It
clicks at the drawing's fixed geometry at scale 1.0 by the name of the click
area, reads the "SetUi status=" lines of the debug log as (status, detail,
percent), waits for statuses and for the end of an update run, and finds the
click areas whose places follow measured text widths on a screenshot. Its
image folders hold a plain white background and an empty character image,
so every row of the window's background has one colour and the controls
stand out.
"""
import pathlib
import re
import shutil
import tempfile
import time

from PIL import Image

import window_harness
from window_harness import wait_until, windows_path

SETUI = re.compile(r"^SetUi status=(.*?), detail=(.*), percent=(-?[0-9.]+)$")
# Click points at scale 1.0 (client 1196 x 640): the centres of the click areas.
POINTS = {
    "Play": (364, 353), "Update": (562, 353), "ResetGameSettings": (562, 408),
    "Cancel": (407, 530), "ClanPatch": (598, 530),
    "LangRu": (345, 602), "LangUk": (390, 602), "LangEn": (435, 602),
    "Minimize": (1093, 52), "Close": (1136, 52), "Telegram": (55, 165), "Facebook": (55, 207),
}
# Crops (left, top, right, bottom) and points of a screenshot.
PLAY_BUTTON = (220, 318, 508, 390)
STATUS_LINE = (95, 403, 685, 433)
BAR_START = (110, 473)
BAR_END = (600, 473)
# A run ends with the only SetUi of percent 100, or with one of these at 0.
ENDED_AT_ZERO = ("Обновление отменено", "Ошибка обновления")


def settings_for(client):
    """A settings file that points the launcher at the client folder, in Russian, with debug logging."""
    return ('{"ClientPath":"%s","Language":"RU","ClanPatchEnabled":false,"DebugLog":true}'
            % windows_path(client).replace("\\", "\\\\"))


def send_links_to(prefix, browser_exe):
    """Makes the prefix open https links with browser_exe."""
    command = windows_path(browser_exe).replace("\\", "\\\\")
    with tempfile.TemporaryDirectory() as folder:
        registry = pathlib.Path(folder) / "browser.reg"
        registry.write_text("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\https\\shell\\open\\command]\r\n"
                            '@="\\"%s\\" \\"%%1\\""\r\n' % command, encoding="ascii")
        if prefix.run("regedit", "/S", windows_path(registry)) != 0:
            raise RuntimeError("regedit failed in " + str(prefix.path))


class Player(window_harness.Launcher):
    def __init__(self, exe, folder, prefix, settings=None, plain_images=True, args=("--debug",)):
        shutil.rmtree(folder, ignore_errors=True)
        super().__init__(exe, folder, prefix, args)
        if plain_images:
            (self.folder / "img" / "br").mkdir(parents=True)
            (self.folder / "img" / "char").mkdir(parents=True)
            Image.new("RGB", (64, 32), (255, 255, 255)).save(self.folder / "img" / "br" / "plain.png")
            Image.new("RGBA", (8, 8), (0, 0, 0, 0)).save(self.folder / "img" / "char" / "none.png")
        if settings is not None:
            self.settings_path.write_text(settings, encoding="utf-8")

    @property
    def settings_path(self):
        return self.folder / "updater_settings.json"

    def settings(self):
        return self.settings_path.read_text(encoding="utf-8") if self.settings_path.is_file() else ""

    def start(self):
        """Starts the executable; waits that follow look only at log lines it writes."""
        self.window = None
        self.first_line = len(self.ui())
        return self.__enter__()

    def running(self):
        return self.process is not None and self.process.poll() is None

    def click(self, point):
        """A click on a named click area, or at a client point (x, y)."""
        x, y = POINTS[point] if isinstance(point, str) else point
        if self.window is None:
            self.wait_window()
        super().click(x, y)
        time.sleep(0.3)

    def image(self, path=None):
        if self.window is None:
            self.wait_window()
        time.sleep(0.5)  # the repaint that the last status asked for reaches the screen
        shot = self.screenshot(path or self.folder / "shot.png")
        if shot is None:
            raise AssertionError("no screenshot of the window")
        with Image.open(shot) as image:
            return image.convert("RGB")

    def ui(self):
        """(status, detail, percent) of every SetUi line, in order."""
        return [(m.group(1), m.group(2), float(m.group(3)))
                for m in map(SETUI.match, self.log(debug=True)) if m]

    def wait_status(self, status, after=0, timeout=60):
        """The index of the first SetUi line from `after` on that shows `status`."""
        found = wait_until(lambda: next((i + 1 for i, line in enumerate(self.ui()) if i >= after and
                                         line[0] == status), None), timeout)
        if found is None:
            raise AssertionError("no status %r within %s s" % (status, timeout))
        return found - 1

    def wait_ready(self, timeout=60):
        self.wait_window(timeout)
        return self.wait_status("Готов к работе", after=self.first_line, timeout=timeout)

    def wait_final(self, after, timeout=120):
        """The final SetUi line of the update run that began after SetUi line `after`."""
        found = wait_until(lambda: next((line for line in self.ui()[after:] if line[2] == 100.0 or
                                         (line[0] in ENDED_AT_ZERO and line[2] == 0.0)), None), timeout)
        if found is None:
            raise AssertionError("the update run did not end within %s s" % timeout)
        return found

    def close(self, timeout=40):
        """Clicks Close; the exit code."""
        if self.running():
            self.click("Close")
        code = self.wait_exit(timeout)
        if code is None:
            raise AssertionError("the launcher did not exit within %s s" % timeout)
        return code


def ink_clusters(image, rows, left, right, gap):
    """Column ranges in [left, right) whose pixels in `rows` differ from the row's
    background colour at x 5, merged across gaps of at most `gap` columns."""
    pixels = image.load()
    backgrounds = {y: pixels[5, y] for y in rows}

    def inked(x):
        return any(max(abs(a - b) for a, b in zip(pixels[x, y], backgrounds[y])) > 24 for y in rows)

    clusters = []
    for x in range(left, right):
        if inked(x):
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
