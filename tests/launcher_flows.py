#!/usr/bin/python3
"""The launcher end to end, as a player uses it.

Each flow publishes the update site that the test build's roots point at
(the site "default" of the local test server), installs the executable in a
fresh folder, starts it under Wine on the suite's own Xvfb, clicks and reads
the logs, the settings file, the client folder, the exit code and screenshots.
The flows share one site, so they run one after another; checks that do not
disturb each other share one start of the launcher, as each start costs seconds.
"""
import argparse
import pathlib
import random
import shutil
import socket
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import update_site  # noqa: E402
from window_harness import (BAR_END, BAR_START, PLAY_BUTTON, POINTS, STATUS_LINE, Launcher,  # noqa: E402
                            VirtualDisplay, WinePrefix, measured_points, settings_for, wait_until, windows_path)

ARGS = None
SESSION = {}
CLIENT_FILES = {
    "system/l2.ini": 3000,
    "system/textures/stone.utx": 300000,
    "maps/Крым 01.map": 120000,
    "music/theme.ogg": 2500000,
}
BIG_FILE = "music/theme.ogg"
BIG_ARCHIVE = "tavrine/updater/client/music/theme.ogg.zip"
READY = [("Подключение...", ""), ("Проверка версии апдейтера", ""), ("Готов к работе", "")]
DONE = ("Готов к работе", "Обновление завершено")
# While a run or a self-update is active, Play keeps the status and says why in the detail.
PLAY_REFUSED = ("(unchanged)", "Завершите начатое обновление перед запуском игры.", -1.0)
SELF_UPDATE_ENDED = "Manual self-update thread clearing interactive busy state."


def content(path):
    return random.Random(path).randbytes(CLIENT_FILES[path])


def setUpModule():
    # Module clean-ups run even when this set-up fails half-way.
    browser = SESSION["browser"] = pathlib.Path(ARGS.work) / "browser" / "browser.exe"
    browser.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(ARGS.recorder, browser)
    display = SESSION["display"] = VirtualDisplay().__enter__()
    unittest.addModuleCleanup(display.__exit__, None, None, None)
    prefix = SESSION["prefix"] = WinePrefix(ARGS.prefix, ARGS.scratch, display)
    unittest.addModuleCleanup(prefix.close)
    prefix.prepared(96, (ARGS.trust, pathlib.Path(ARGS.server_dir) / "ca.der"))
    prefix.registry("[HKEY_LOCAL_MACHINE\\Software\\Classes\\https\\shell\\open\\command]\r\n"
                    '@="\\"%s\\" \\"%%1\\""\r\n' % windows_path(browser).replace("\\", "\\\\"))


class Flow(unittest.TestCase):
    """A site, an installation with its client folder, a running launcher."""

    def setUp(self):
        self.root = pathlib.Path(ARGS.work) / self.id().split(".", 1)[1]
        shutil.rmtree(self.root, ignore_errors=True)
        self.site = pathlib.Path(ARGS.server_dir) / "sites" / "default"
        self.prefix = SESSION["prefix"]
        self.app = None

    def tearDown(self):
        # A flow that failed half-way leaves no launcher behind for the next one.
        if self.app is not None and self.app.running():
            self.prefix.close()

    def publish(self, launcher=None, version="", **config):
        """Publishes the client files with `config` as settings of the configuration."""
        for path in CLIENT_FILES:
            target = self.root / "server-client" / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(content(path))
        update_site.publish(self.root / "server-client", self.site, None, "https://localhost:%s/" % ARGS.port_a,
                            launcher, version, config.items())

    def set_faults(self, faults):
        """Replaces the site's faults: a path below the site -> the test server's fault parameters for it."""
        for old in self.site.rglob("*.fault"):
            old.unlink()
        for path, fault in faults.items():
            (self.site / (path + ".fault")).write_text(fault)

    def install(self, settings=True, env=None):
        """The launcher in a fresh folder; with settings, its client folder is
        "client" beside it, else the launcher's own folder."""
        folder = self.root / "app"
        self.client = folder / "client" if settings else folder
        self.app = Launcher(ARGS.exe, folder, self.prefix, settings_for(self.client) if settings else None, env=env)
        return self.app

    def assert_client(self, whole=(), missing=()):
        """Checks the client folder; every file in it is whole."""
        files = {file.relative_to(self.client).as_posix(): file for file in self.client.rglob("*") if file.is_file()}
        for path, file in files.items():
            self.assertEqual(file.read_bytes(), content(path), path)
        self.assertLessEqual(set(whole), set(files))
        self.assertFalse(set(missing) & set(files))

    def wait_file(self, path):
        """The text of a file that a stand-in writes, once it is there."""
        return wait_until(lambda: path.is_file() and path.read_bytes().decode("utf-8"), 30, str(path))

    def assert_replaced(self):
        """The launcher exited, was replaced by the new updater, and the new one was started."""
        self.assertEqual(self.app.wait_exit(60), 0)
        self.assertEqual(self.wait_file(self.app.folder / "started.txt"), "new\r\n")
        self.assertEqual(self.app.exe.read_bytes(), pathlib.Path(ARGS.new_updater).read_bytes())

    def close_by_system(self):
        """Posts WM_CLOSE; the seconds until a clean exit."""
        started = time.monotonic()
        self.assertEqual(self.prefix.run(ARGS.post_close, timeout=30), 0, "the close helper found no window")
        self.assertEqual(self.app.wait_exit(35), 0)
        self.assertIn("WM_DESTROY received; stopping workers.", self.app.log(debug=True))
        return time.monotonic() - started


class Window(Flow):
    def test_first_start_drag_game_links_and_languages(self):
        self.publish(GameStartPathRu="bin/Игра 2.exe", ForumLink="http://forum.example/board",
                     TelegramLink="t.me/tavrine", AboutLink="")
        app = self.install(settings=False).start().wait_ready()
        self.assertEqual(app.geometry(), (362, 220, 1196, 640))
        self.assertEqual([line[:2] for line in app.ui()], READY)
        self.assertIn("Server config loaded.", app.log())
        self.assertIn("Process DPI awareness requested; uiScale=1.000000", app.log(debug=True))
        shot = app.image()
        self.assertEqual(shot.size, (1196, 640))
        self.assertGreater(len(shot.getcolors(1 << 20) or []), 50, "the frame is not drawn")
        self.assertRegex(app.settings(), r'^\{"ClientPath":"Z:\\\\.*\\\\app","Language":"RU",'
                                         r'"ClanPatchEnabled":false,"DebugLog":true\}$')
        app.drag(600, 300, 120, 70)
        self.assertEqual(app.geometry(), (482, 290, 1196, 640))
        self.assertIn("OnMouseDown x=600, y=300, action=None", app.log(debug=True))

        app.click("Play")
        self.assertEqual(app.ui()[app.wait_status("Клиент не найден")][1], "Запустите обновление перед стартом игры.")
        game = app.folder / "bin" / "Игра 2.exe"
        game.parent.mkdir()
        shutil.copyfile(ARGS.recorder, game)
        app.click("Play")
        self.assertEqual(self.wait_file(game.parent / "record.txt"), "cwd=%s\r\nargs=\r\n" % windows_path(game.parent))
        self.assertIn("Game started: " + windows_path(game), app.log())

        points = measured_points(shot)
        record = SESSION["browser"].parent / "record.txt"
        record.unlink(missing_ok=True)
        app.click(points["Forum"])
        self.assertEqual(self.wait_file(record).split("\r\n")[1], "args=https://forum.example/board")
        app.click("Telegram")
        wait_until(lambda: "args=https://t.me/tavrine\r\n" in self.wait_file(record), 30, "the Telegram link")
        app.click(points["About"])
        app.wait_log("Startup config link is empty: About")

        crops = [app.image().crop(PLAY_BUTTON).tobytes()]
        for point, code in (("LangUk", "UK"), ("LangEn", "EN")):
            app.click(point)
            wait_until(lambda: '"Language":"%s"' % code in app.settings(), 10, "language " + code)
            crops.append(app.image().crop(PLAY_BUTTON).tobytes())
        self.assertEqual(len(set(crops)), 3)
        self.close_by_system()
        self.assertEqual(app.log(debug=True)[-1], "GDI+ shutdown completed. Exiting with code=0")
        app.start().wait_ready()
        self.assertEqual(app.image().crop(PLAY_BUTTON).tobytes(), crops[-1])
        self.assertEqual(app.close(), 0)

    def test_server_down_on_a_120_dpi_screen(self):
        self.prefix = WinePrefix(ARGS.prefix + "-120dpi", ARGS.scratch, SESSION["display"]).prepared(120)
        self.addCleanup(self.prefix.close)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            unreachable = {"http_proxy": "http://127.0.0.1:%d" % probe.getsockname()[1]}
        app = self.install(settings=False, env=unreachable).start().wait_ready()
        self.assertEqual(app.geometry(), (212, 140, 1495, 800))
        self.assertIn("Process DPI awareness requested; uiScale=1.250000", app.log(debug=True))
        self.assertEqual([line[:2] for line in app.ui()], READY)
        self.assertTrue(any(line.startswith("Server config failed, defaults used: ") for line in app.log()))
        self.close_by_system()

    def test_close_while_the_start_up_download_trickles(self):
        self.publish()
        config = self.site / "tavrine_updater" / "UpdateConfig.xml"
        config.write_bytes(config.read_bytes().replace(b"</UpdateConfig>", b"<!--%s--></UpdateConfig>" % (b"x" * 3300)))
        # About 4 KB at 64 bytes every 0.3 s: the download lasts some 20 s. Under
        # Wine a read blocked on a trickling server is not woken by the abort,
        # so the close waits for that read, never for a whole new download.
        (self.site / "tavrine_updater" / "UpdateConfig.xml.fault").write_text("mode=trickle&step=64&delay=300")
        app = self.install(settings=False).start()
        app.wait_window()
        app.wait_log("Loading server config: ")
        time.sleep(2)
        self.assertNotIn("Готов к работе", [line[0] for line in app.ui()])
        print("close during the start-up download took %.1f s" % self.close_by_system(), file=sys.stderr)

    def test_unwritable_settings_never_stop_an_action(self):
        self.publish()
        app = self.install(settings=False)
        app.settings_path.mkdir()
        game = app.folder / "system" / "l2.exe"
        game.parent.mkdir()
        shutil.copyfile(ARGS.recorder, game)
        app.start().wait_ready()
        before = app.image().crop(PLAY_BUTTON).tobytes()
        app.click("Play")
        self.wait_file(game.parent / "record.txt")
        self.assertEqual(app.wait_final(app.update())[:2], DONE)
        app.click("LangEn")
        wait_until(lambda: app.image().crop(PLAY_BUTTON).tobytes() != before, 10, "the English labels")
        app.click(measured_points(app.image())["DebugLog"])
        app.wait_log("Debug logging disabled by UI checkbox.")
        failures = [line for line in app.log() if line.startswith("Settings save failed: ")]
        self.assertEqual(len(failures), 4, app.log())
        self.assertTrue(app.running())
        self.assertEqual(app.close(), 0)


class SelfUpdate(Flow):
    def test_newer_updater_replaces_itself_at_start(self):
        self.publish(launcher=ARGS.new_updater, version="3.0.33")
        self.install(settings=False).start()
        self.assert_replaced()

    def test_failing_refused_unavailable_then_by_hand(self):
        self.publish(launcher=ARGS.new_updater, version="3.0.33", LauncherSha256="0" * 64)
        app = self.install().start().wait_ready()
        app.wait_status("Готов к работе", after=4)
        self.assertEqual([line[:2] for line in app.ui()[:5]], READY[:2] + [
            ("Загрузка новой версии апдейтера", "3.0.32 -> 3.0.33"),
            ("Готов к работе", "Не удалось обновить апдейтер. Продолжаем текущую версию."), READY[2]])
        self.assertIn("Self-update failed: Launcher SHA256 mismatch", app.log())
        self.assertEqual(app.exe.read_bytes(), pathlib.Path(ARGS.exe).read_bytes())

        self.publish(launcher=ARGS.new_updater, version="3.0.32")
        self.set_faults({"tavrine_updater/" + pathlib.Path(ARGS.new_updater).name: "mode=trickle&step=8192&delay=200"})
        point = measured_points(app.image())["SelfUpdate"]
        start = len(app.ui())
        app.click(point)
        app.wait_status("Проверка версии апдейтера", after=start)
        for name in ("Update", "Play", "Cancel"):
            app.click(name)
        app.wait_log(SELF_UPDATE_ENDED, debug=True)
        lines = app.ui()[start:]
        self.assertIn(("Загрузка новой версии апдейтера", "Дождитесь завершения самообновления.", -1.0), lines)
        self.assertIn(PLAY_REFUSED, lines)
        self.assertEqual(lines[-1][:2], ("Готов к работе", "Самообновление отменено."))

        self.publish()
        app.click(point)
        app.wait_log(SELF_UPDATE_ENDED, debug=True, count=2)
        self.assertEqual(app.ui()[-1][:2], ("Готов к работе", "Самообновление недоступно."))
        self.publish(launcher=ARGS.new_updater, version="3.0.32")
        app.click(point)
        self.assert_replaced()


class Update(Flow):
    # The launcher keeps the configuration it loaded at start-up, with the
    # manifests' checksums, so within one start the site changes only by faults.
    def test_runs_reset_pause_cancel_faults_and_close(self):
        self.publish()
        app = self.install().start().wait_ready()
        before = app.image().getpixel(BAR_END)
        self.assertEqual(app.wait_final(app.update())[:2], DONE)
        self.assert_client(whole=CLIENT_FILES)
        after = app.image().getpixel(BAR_END)
        self.assertTrue(after[0] > 200 and after[1] > 150 and after != before, (before, after))
        self.assertEqual(app.wait_final(app.update())[:2], ("Готов к работе", "Файлы уже актуальны"))

        # The reset box removes the system folder before the run: a file the site does not list is gone.
        (self.client / "system" / "old.ini").write_text("old")
        app.click("ResetGameSettings")
        app.wait_log("Reset checkbox toggled; resetGameSettings=true", debug=True)
        self.assertEqual(app.wait_final(app.update())[:2], DONE)
        self.assertTrue(any(line.startswith("System directory removed before update: ") for line in app.log()))
        self.assert_client(whole=CLIENT_FILES, missing=("system/old.ini",))
        app.click("ResetGameSettings")
        app.wait_log("Reset checkbox toggled; resetGameSettings=false", debug=True)

        # The big file stalls after its first bytes until the test releases it, so
        # the canceling state stays on screen while the blocked transfer waits.
        release = pathlib.Path(ARGS.server_dir) / "release" / "cancel-flow"
        release.unlink(missing_ok=True)
        self.set_faults({BIG_ARCHIVE: "mode=stall&cut=65536&release=cancel-flow"})
        shutil.rmtree(self.client)
        finished = app.log(debug=True).count("Update thread finished.")
        run = app.update()
        wait_until(lambda: all((self.client / path).exists() for path in CLIENT_FILES if path != BIG_FILE), 60,
                   "the small files")
        running = app.image()
        app.click("Update")
        app.wait_log("RunUpdate toggled pause; paused=true", debug=True)
        self.assertNotEqual(app.image().getpixel(POINTS["Update"]), running.getpixel(POINTS["Update"]))
        app.click("Update")
        app.wait_log("RunUpdate toggled pause; paused=false", debug=True)
        app.click("Play")
        wait_until(lambda: PLAY_REFUSED in app.ui()[run:], 10, "Play refused")
        app.click("Cancel")
        canceling = app.image()
        self.assertEqual(app.log(debug=True).count("Update thread finished."), finished)
        self.assertNotEqual(canceling.crop(STATUS_LINE).tobytes(), running.crop(STATUS_LINE).tobytes())
        self.assertGreater(running.getpixel(BAR_START)[0], 200)
        self.assertLess(canceling.getpixel(BAR_START)[0], 120)
        release.touch()
        self.assertEqual(app.wait_final(run), ("Обновление отменено", "", 0.0))
        self.assert_client(missing=(BIG_FILE,))

        # One archive cut short, one holding other bytes, a missing manifest: the big file still comes.
        for path in ("system/l2.ini", "maps/Крым 01.map"):
            (self.client / path).unlink()
        self.set_faults({"tavrine/updater/client/system/l2.ini.zip": "mode=short",
                         "tavrine/updater/patch/UpdateInfo.xml": "status=404",
                         "tavrine/updater/patch/UpdateInfo.xml.zip": "status=404"})
        update_site.write_zip(self.site / "tavrine/updater/client/maps/Крым 01.map.zip", "Крым 01.map",
                              b"x" * CLIENT_FILES["maps/Крым 01.map"])
        self.assertEqual(app.wait_final(app.update()), ("Обновление завершено с ошибками",
                                                        "Не скачано файлов: 2, Не загружено манифестов: 1", 100.0))
        self.assert_client(whole=("system/textures/stone.utx", BIG_FILE), missing=("system/l2.ini", "maps/Крым 01.map"))
        self.assertIn("Manifest failed: patch: HTTP status 404", app.log())

        self.set_faults({BIG_ARCHIVE: "mode=trickle&step=8192&delay=40"})
        (self.client / BIG_FILE).unlink()
        app.wait_status("Скачивание", after=app.update())
        app.click("Close")
        self.assertEqual(app.wait_exit(35), 0)
        self.assert_client(missing=(BIG_FILE,))


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("--exe", "--recorder", "--new-updater", "--post-close", "--trust", "--prefix", "--scratch",
                 "--server-dir", "--work", "--port-a"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    started = time.monotonic()
    program = unittest.main(argv=[sys.argv[0], "-v", *rest], exit=False)
    print("launcher flows took %.0f s" % (time.monotonic() - started))
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
