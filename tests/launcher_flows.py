#!/usr/bin/python3
"""The launcher end to end, as a player uses it.

Each flow publishes the update site that the test build's roots point at
(the site "default" of the local test server), installs the executable in a
fresh folder, starts it under Wine on the suite's own Xvfb, clicks and reads
the logs, the settings file, the client folder, the exit code and screenshots.
The flows share one site, so they run one after another.
"""
import argparse
import pathlib
import random
import shutil
import sys
import time
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
import launcher_driver as driver  # noqa: E402
import update_site  # noqa: E402
from window_harness import VirtualDisplay, WinePrefix, wait_until  # noqa: E402

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
SLOW = "mode=trickle&step=8192&delay=40"  # 200 KB/s
CRAWL = "mode=trickle&step=8192&delay=200"
# While a run or a self-update is active, Play keeps the status and says why in the detail.
PLAY_REFUSED = ("(unchanged)", "Завершите начатое обновление перед запуском игры.", -1.0)


def content(path, size):
    return random.Random(path).randbytes(size)


def setUpModule():
    work = pathlib.Path(ARGS.work)
    browser = work / "browser" / "browser.exe"
    browser.parent.mkdir(parents=True, exist_ok=True)
    shutil.copyfile(ARGS.recorder, browser)
    SESSION["browser"] = browser
    SESSION["display"] = VirtualDisplay().__enter__()
    SESSION["prefix"] = WinePrefix(ARGS.prefix, ARGS.scratch, SESSION["display"]).prepared(
        96, (ARGS.trust, pathlib.Path(ARGS.server_dir) / "ca.der"))
    driver.send_links_to(SESSION["prefix"], browser)


def tearDownModule():
    if "prefix" in SESSION:
        SESSION["prefix"].close()
    if "display" in SESSION:
        SESSION["display"].__exit__(None, None, None)


class Flow(unittest.TestCase):
    """One flow: a site, an installation with its client folder, a running launcher."""

    def setUp(self):
        self.root = pathlib.Path(ARGS.work) / self.id().split(".", 1)[1]
        shutil.rmtree(self.root, ignore_errors=True)
        self.server_client = self.root / "server-client"
        self.site = pathlib.Path(ARGS.server_dir) / "sites" / "default"
        self.launcher = None

    def tearDown(self):
        # A flow that failed half-way leaves no launcher behind for the next one.
        if self.launcher is not None and self.launcher.running():
            SESSION["prefix"].close()

    def publish(self, files=CLIENT_FILES, faults=(), launcher=None, version="", **config):
        """Publishes `files` as the source client; `faults` maps a path below the
        site to the test server's fault parameters for it."""
        for path, size in files.items():
            target = self.server_client / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(content(path, size))
        update_site.publish(self.server_client, self.site, {"client": sorted(files)},
                            "https://localhost:%s/" % ARGS.port_a, launcher, version, config.items())
        for path, fault in dict(faults).items():
            (self.site / (path + ".fault")).write_text(fault)

    def install(self, settings=True):
        """The launcher in a fresh folder, its client folder beside it."""
        folder = self.root / "app"
        self.client = folder / "client"
        self.launcher = driver.Player(ARGS.exe, folder, SESSION["prefix"],
                                      driver.settings_for(self.client) if settings else None)
        return self.launcher

    def launch(self, local=(), start_up=READY):
        """Installs and starts the launcher and checks its start-up statuses;
        `local` lists the files already in its client folder, with the server's
        content."""
        launcher = self.install()
        for path in local:
            target = self.client / path
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(content(path, CLIENT_FILES[path]))
        launcher.start().wait_window()
        lines = wait_until(lambda: launcher.ui()[:len(start_up)] if len(launcher.ui()) >= len(start_up) else None, 60)
        self.assertEqual([line[:2] for line in lines or []], start_up)
        return launcher

    def update(self):
        """Clicks Update; the index of the run's first SetUi line."""
        start = len(self.launcher.ui())
        self.launcher.click("Update")
        return self.launcher.wait_status("Проверка файлов", after=start)

    def assert_client(self, whole=(), missing=()):
        for path in whole:
            self.assertEqual((self.client / path).read_bytes(), content(path, CLIENT_FILES[path]), path)
        for path in missing:
            self.assertFalse((self.client / path).exists(), path)

    def assert_no_partial_file(self):
        for file in self.client.rglob("*"):
            if file.is_file():
                path = file.relative_to(self.client).as_posix()
                self.assertEqual(file.read_bytes(), content(path, CLIENT_FILES[path]), path)

    def wait_file(self, path, timeout=30):
        """The text of a file that a stand-in writes, once it is there."""
        text = wait_until(lambda: path.is_file() and path.read_bytes().decode("utf-8"), timeout)
        self.assertIsNotNone(text, "%s was not written" % path)
        return text


class StartUp(Flow):
    def test_newer_updater_replaces_itself(self):
        self.publish(launcher=ARGS.new_updater, version="3.0.33")
        launcher = self.install(settings=False).start()
        self.assertEqual(launcher.wait_exit(60), 0)
        self.assertEqual(self.wait_file(launcher.folder / "started.txt"), "new\r\n")
        self.assertEqual(launcher.exe.read_bytes(), pathlib.Path(ARGS.new_updater).read_bytes())

    def test_failing_self_update_keeps_running(self):
        self.publish(launcher=ARGS.new_updater, version="3.0.33", LauncherSha256="0" * 64)
        launcher = self.launch(start_up=READY[:2] + [
            ("Загрузка новой версии апдейтера", "3.0.32 -> 3.0.33"),
            ("Готов к работе", "Не удалось обновить апдейтер. Продолжаем текущую версию."), READY[2]])
        self.assertIn("Self-update failed: Launcher SHA256 mismatch", launcher.log())
        self.assertEqual(launcher.exe.read_bytes(), pathlib.Path(ARGS.exe).read_bytes())
        self.assertEqual(launcher.close(), 0)


class Update(Flow):
    def test_empty_client_becomes_complete_then_current(self):
        self.publish()
        launcher = self.launch()
        before = launcher.image().getpixel(driver.BAR_END)
        self.assertEqual(launcher.wait_final(self.update())[:2], ("Готов к работе", "Обновление завершено"))
        self.assert_client(whole=CLIENT_FILES)
        after = launcher.image().getpixel(driver.BAR_END)
        self.assertTrue(after[0] > 200 and after[1] > 150 and after != before, (before, after))
        self.assertEqual(launcher.wait_final(self.update())[:2], ("Готов к работе", "Файлы уже актуальны"))
        self.assertEqual(launcher.close(), 0)

    def test_server_faults_end_with_counts(self):
        self.publish(faults={"tavrine/updater/client/system/l2.ini.zip": "mode=short",
                             "tavrine/updater/patch/UpdateInfo.xml": "status=404",
                             "tavrine/updater/patch/UpdateInfo.xml.zip": "status=404"})
        update_site.write_zip(self.site / "tavrine/updater/client/maps/Крым 01.map.zip", "Крым 01.map",
                              b"x" * CLIENT_FILES["maps/Крым 01.map"])
        launcher = self.launch()
        self.assertEqual(launcher.wait_final(self.update()),
                         ("Обновление завершено с ошибками",
                          "Не скачано файлов: 2, Не загружено манифестов: 1", 100.0))
        self.assert_client(whole=("system/textures/stone.utx", BIG_FILE),
                           missing=("system/l2.ini", "maps/Крым 01.map"))
        self.assertIn("Manifest failed: patch: HTTP status 404", launcher.log())
        self.assertEqual(launcher.close(), 0)

    def test_reset_box_removes_system_folder_first(self):
        self.publish(files={path: size for path, size in CLIENT_FILES.items() if path != "system/l2.ini"})
        launcher = self.launch(local=("maps/Крым 01.map", "system/l2.ini"))
        launcher.click("ResetGameSettings")
        launcher.wait_for_log("Reset checkbox toggled; resetGameSettings=true", debug=True)
        self.assertEqual(launcher.wait_final(self.update())[:2], ("Готов к работе", "Обновление завершено"))
        self.assertTrue(any(line.startswith("System directory removed before update: ") for line in launcher.log()))
        self.assert_client(whole=("maps/Крым 01.map", "system/textures/stone.utx", BIG_FILE),
                           missing=("system/l2.ini",))
        self.assertEqual(launcher.close(), 0)


class Interrupt(Flow):
    def test_pause_resume_refused_play_then_cancel(self):
        # The big file stalls after its first bytes until the test releases it, so
        # the canceling state stays on screen while the blocked transfer waits.
        release = pathlib.Path(ARGS.server_dir) / "release" / "cancel-flow"
        release.unlink(missing_ok=True)
        self.publish(faults={BIG_ARCHIVE: "mode=stall&cut=65536&release=cancel-flow"})
        launcher = self.launch()
        run = self.update()
        small = [path for path in CLIENT_FILES if path != BIG_FILE]
        self.assertIsNotNone(wait_until(lambda: all((self.client / path).exists() for path in small), 60))
        running = launcher.image()
        launcher.click("Update")
        launcher.wait_for_log("RunUpdate toggled pause; paused=true", debug=True)
        self.assertNotEqual(launcher.image().getpixel(driver.POINTS["Update"]), running.getpixel(driver.POINTS["Update"]))
        launcher.click("Update")
        launcher.wait_for_log("RunUpdate toggled pause; paused=false", debug=True)
        launcher.click("Play")
        self.assertIsNotNone(wait_until(lambda: PLAY_REFUSED in launcher.ui()[run:], 10))
        launcher.click("Cancel")
        canceling = launcher.image()
        self.assertNotIn("Update thread finished.", launcher.log(debug=True))
        self.assertNotEqual(canceling.crop(driver.STATUS_LINE).tobytes(), running.crop(driver.STATUS_LINE).tobytes())
        self.assertGreater(running.getpixel(driver.BAR_START)[0], 200)
        self.assertLess(canceling.getpixel(driver.BAR_START)[0], 120)
        release.touch()
        self.assertEqual(launcher.wait_final(run), ("Обновление отменено", "", 0.0))
        self.assert_no_partial_file()
        self.assertEqual(launcher.close(), 0)

    def test_close_during_download_exits_cleanly(self):
        self.publish(faults={BIG_ARCHIVE: SLOW})
        launcher = self.launch()
        launcher.wait_status("Скачивание", after=self.update())
        started = time.monotonic()
        launcher.click("Close")
        self.assertEqual(launcher.wait_exit(35), 0)
        self.assertLess(time.monotonic() - started, 35)
        self.assert_no_partial_file()


class SelfUpdate(Flow):
    def test_manual_self_update_replaces_the_same_version(self):
        self.publish(launcher=ARGS.new_updater, version="3.0.32")
        launcher = self.launch()
        launcher.click(driver.measured_points(launcher.image())["SelfUpdate"])
        self.assertEqual(launcher.wait_exit(60), 0)
        self.assertEqual(self.wait_file(launcher.folder / "started.txt"), "new\r\n")
        self.assertEqual(launcher.exe.read_bytes(), pathlib.Path(ARGS.new_updater).read_bytes())

    def test_refusals_while_self_updating_and_without_package(self):
        self.publish(launcher=ARGS.new_updater, version="3.0.32",
                     faults={"tavrine_updater/" + pathlib.Path(ARGS.new_updater).name: CRAWL})
        launcher = self.launch()
        point = driver.measured_points(launcher.image())["SelfUpdate"]
        start = len(launcher.ui())
        launcher.click(point)
        launcher.wait_status("Проверка версии апдейтера", after=start)
        launcher.click("Update")
        launcher.click("Play")
        launcher.click("Cancel")
        ended = "Manual self-update thread clearing interactive busy state."
        launcher.wait_for_log(ended, debug=True)
        lines = launcher.ui()
        self.assertIn(("Загрузка новой версии апдейтера", "Дождитесь завершения самообновления.", -1.0), lines)
        self.assertIn(PLAY_REFUSED, lines)
        self.assertEqual(lines[-1][:2], ("Готов к работе", "Самообновление отменено."))
        self.publish()
        launcher.click(point)
        self.assertIsNotNone(wait_until(lambda: launcher.log(debug=True).count(ended) == 2, 30))
        self.assertEqual(launcher.ui()[-1][:2], ("Готов к работе", "Самообновление недоступно."))
        self.assertEqual(launcher.close(), 0)


class Choices(Flow):
    def test_language_relabels_at_once_and_survives_restart(self):
        self.publish()
        launcher = self.launch()
        crops = [launcher.image().crop(driver.PLAY_BUTTON).tobytes()]
        for point, code in (("LangUk", "UK"), ("LangEn", "EN")):
            launcher.click(point)
            self.assertIsNotNone(wait_until(lambda: '"Language":"%s"' % code in launcher.settings(), 10))
            crops.append(launcher.image().crop(driver.PLAY_BUTTON).tobytes())
        self.assertEqual(len(set(crops)), 3)
        self.assertEqual(launcher.close(), 0)
        launcher.start().wait_ready()
        self.assertEqual(launcher.image().crop(driver.PLAY_BUTTON).tobytes(), crops[-1])
        self.assertEqual(launcher.close(), 0)

    def test_play_starts_the_game_in_its_folder(self):
        self.publish(GameStartPathRu="bin/Игра 2.exe")
        launcher = self.launch()
        launcher.click("Play")
        refused = launcher.wait_status("Клиент не найден")
        self.assertEqual(launcher.ui()[refused][1], "Запустите обновление перед стартом игры.")
        game = self.client / "bin" / "Игра 2.exe"
        game.parent.mkdir(parents=True)
        shutil.copyfile(ARGS.recorder, game)
        launcher.click("Play")
        self.assertEqual(self.wait_file(game.parent / "record.txt"),
                         "cwd=%s\r\nargs=\r\n" % driver.windows_path(game.parent))
        self.assertIn("Game started: " + driver.windows_path(game), launcher.log())
        self.assertEqual(launcher.close(), 0)

    def test_links_open_in_the_browser(self):
        self.publish(ForumLink="http://forum.example/board", TelegramLink="t.me/tavrine", AboutLink="")
        launcher = self.launch()
        points = driver.measured_points(launcher.image())
        record = SESSION["browser"].parent / "record.txt"
        record.unlink(missing_ok=True)
        launcher.click(points["Forum"])
        self.assertEqual(self.wait_file(record).split("\r\n")[1], "args=https://forum.example/board")
        launcher.click("Telegram")
        self.assertIsNotNone(wait_until(lambda: "args=https://t.me/tavrine\r\n" in self.wait_file(record), 30))
        launcher.click(points["About"])
        launcher.wait_for_log("Startup config link is empty: About")
        self.assertEqual(launcher.close(), 0)

    def test_unwritable_settings_never_stop_an_action(self):
        self.publish()
        launcher = self.install(settings=False)
        launcher.settings_path.mkdir()
        game = launcher.folder / "system" / "l2.exe"
        game.parent.mkdir()
        shutil.copyfile(ARGS.recorder, game)
        launcher.start().wait_ready()
        before = launcher.image().crop(driver.PLAY_BUTTON).tobytes()
        launcher.click("Play")
        self.wait_file(game.parent / "record.txt")
        self.assertEqual(launcher.wait_final(self.update())[:2], ("Готов к работе", "Обновление завершено"))
        launcher.click("LangEn")
        self.assertIsNotNone(wait_until(lambda: launcher.image().crop(driver.PLAY_BUTTON).tobytes() != before, 10))
        launcher.click(driver.measured_points(launcher.image())["DebugLog"])
        launcher.wait_for_log("Debug logging disabled by UI checkbox.")
        failures = [line for line in launcher.log() if line.startswith("Settings save failed: ")]
        self.assertEqual(len(failures), 4, launcher.log())
        self.assertTrue(launcher.running())
        self.assertEqual(launcher.close(), 0)


def main():
    global ARGS
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("--exe", "--recorder", "--new-updater", "--trust", "--prefix", "--scratch", "--server-dir",
                 "--work", "--port-a"):
        parser.add_argument(name, required=True)
    ARGS, rest = parser.parse_known_args()
    started = time.monotonic()
    program = unittest.main(argv=[sys.argv[0], "-v", *rest], exit=False)
    print("launcher flows took %.0f s" % (time.monotonic() - started))
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
