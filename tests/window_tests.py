"""The launcher's window, started as the real test-build executable under Wine.

Usage: window_tests.py --exe EXE --post-close EXE --trust-exe EXE --ca CA.der
       --prefix PREFIX --scratch FOLDER --server-dir FOLDER --work FOLDER
       [unittest arguments]
The update site's default folder is shared by every run of the executable, so
CTest runs this under a resource lock.
"""
import argparse
import pathlib
import shutil
import socket
import sys
import time
import unittest

from PIL import Image

from window_harness import Launcher, VirtualDisplay, WinePrefix

READY_STATUSES = ["Подключение...", "Проверка версии апдейтера", "Готов к работе"]
CONFIG = ("<UpdateConfig><GameStartPathRu>system/l2.exe</GameStartPathRu>"
          "<AboutLink>about.tavrine.example</AboutLink>%s</UpdateConfig>")
OPTIONS = None


def closed_port():
    """A loopback port on which nothing listens."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class WindowTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # Class clean-ups run even when this set-up fails half-way.
        cls.display = VirtualDisplay().__enter__()
        cls.addClassCleanup(cls.display.__exit__, None, None, None)
        cls.trust = (OPTIONS.trust_exe, OPTIONS.ca)
        cls.prefix = WinePrefix(OPTIONS.prefix, OPTIONS.scratch, cls.display)
        cls.addClassCleanup(cls.prefix.close)
        cls.prefix.prepared(96, cls.trust)
        cls.site = pathlib.Path(OPTIONS.server_dir) / "sites" / "default" / "tavrine_updater"

    def setUp(self):
        self.site.mkdir(parents=True, exist_ok=True)
        (self.site / "UpdateConfig.xml").write_text(CONFIG % "", encoding="utf-8")

    def tearDown(self):
        for name in ("UpdateConfig.xml", "UpdateConfig.xml.fault"):
            (self.site / name).unlink(missing_ok=True)

    def launch(self, name, prefix=None, env=None):
        folder = pathlib.Path(OPTIONS.work) / name
        shutil.rmtree(folder, ignore_errors=True)
        return Launcher(OPTIONS.exe, folder, prefix or self.prefix, ["--debug"], env)

    def close_cleanly(self, app, within=35):
        started = time.monotonic()
        app.post_close(OPTIONS.post_close)
        self.assertEqual(app.wait_exit(within), 0)
        return time.monotonic() - started

    def test_normal_start(self):
        with self.launch("normal-start") as app:
            app.wait_window()
            self.assertEqual(app.geometry(), (362, 220, 1196, 640))
            app.wait_for_log("SetUi status=Готов к работе", debug=True)
            self.assertEqual(app.statuses(), READY_STATUSES)
            self.assertIn("Server config loaded.", app.log())
            self.assertIn("Process DPI awareness requested; uiScale=1.000000", app.log(debug=True))
            shot = app.screenshot(app.folder / "ready.png")
            self.assertIsNotNone(shot)
            with Image.open(shot) as image:
                self.assertEqual(image.size, (1196, 640))
                self.assertGreater(len(image.convert("RGB").getcolors(1 << 20) or []), 50, "the frame is not drawn")
            settings = (app.folder / "updater_settings.json").read_bytes().decode("utf-8")
            self.assertRegex(settings, r'^\{"ClientPath":"Z:\\\\.*normal-start","Language":"RU",'
                                       r'"ClanPatchEnabled":false,"DebugLog":true\}$')
            self.close_cleanly(app)
        self.assertIn("WM_DESTROY received; stopping workers.", app.log(debug=True))
        self.assertEqual(app.log(debug=True)[-1], "GDI+ shutdown completed. Exiting with code=0")

    def test_server_down(self):
        unreachable = {"http_proxy": "http://127.0.0.1:%d" % closed_port()}
        with self.launch("server-down", env=unreachable) as app:
            app.wait_window()
            app.wait_for_log("SetUi status=Готов к работе", debug=True)
            self.assertEqual(app.statuses(), READY_STATUSES)
            self.assertTrue(any(line.startswith("Server config failed, defaults used: ") for line in app.log()))
            self.close_cleanly(app)

    def test_drag_on_empty_space_moves_the_window(self):
        with self.launch("drag") as app:
            app.wait_window()
            app.wait_for_log("SetUi status=Готов к работе", debug=True)
            x, y, width, height = app.geometry()
            app.drag(600, 300, 120, 70)
            self.assertEqual(app.geometry(), (x + 120, y + 70, width, height))
            self.assertIn("OnMouseDown x=600, y=300, action=None", app.log(debug=True))
            self.close_cleanly(app)

    def test_close_while_the_start_up_download_trickles(self):
        (self.site / "UpdateConfig.xml").write_text(CONFIG % ("<!--%s-->" % ("x" * 4000)), encoding="utf-8")
        # About 4 KB at 64 bytes every 0.3 s: the download lasts some 20 s. Under
        # Wine a read blocked on a trickling server is not woken by the abort,
        # so the close waits for that read, never for a whole new download.
        (self.site / "UpdateConfig.xml.fault").write_text("mode=trickle&step=64&delay=300")
        with self.launch("close-during-start") as app:
            app.wait_window()
            app.wait_for_log("Loading server config: ")
            time.sleep(2)
            self.assertNotIn("Готов к работе", app.statuses())
            took = self.close_cleanly(app)
            print("close during the start-up download took %.1f s" % took, file=sys.stderr)
            self.assertLess(took, 35)
        self.assertIn("WM_DESTROY received; stopping workers.", app.log(debug=True))

    def test_high_dpi_scales_the_window(self):
        prefix = WinePrefix(OPTIONS.prefix + "-120dpi", OPTIONS.scratch, self.display).prepared(120, self.trust)
        self.addCleanup(prefix.close)
        with self.launch("dpi-120", prefix) as app:
            app.wait_window()
            self.assertEqual(app.geometry(), (212, 140, 1495, 800))
            self.assertIn("Process DPI awareness requested; uiScale=1.250000",
                          app.wait_for_log("Process DPI awareness", debug=True))
            app.wait_for_log("SetUi status=Готов к работе", debug=True)
            self.close_cleanly(app)


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    for name in ("exe", "post-close", "trust-exe", "ca", "prefix", "scratch", "server-dir", "work"):
        parser.add_argument("--" + name, required=True)
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
