#!/usr/bin/python3
"""Updates a demo game client with the launcher, against a local update site.

Generates a demo client and publishes it as an update site, serves the site on
loopback HTTPS at the ports the launcher's test build was built with, and starts
that build under Wine in a prefix of its own that trusts the site's test CA.
The local client starts old and incomplete. With DISPLAY set the player clicks;
without it the launcher runs on a virtual display of its own: Update is clicked
for the player, and screenshots before, during and after are saved. Either way
the final status and how the client folder changed are printed at the end.
"""
import argparse
import hashlib
import os
import pathlib
import random
import shutil
import signal
import subprocess
import sys
import time
from types import SimpleNamespace

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
import update_site  # noqa: E402
from window_harness import Launcher, VirtualDisplay, WinePrefix, settings_for  # noqa: E402

# The demo client: relative path -> size. The game is a small program that
# records where it was started.
DEMO_FILES = {
    "system/l2.ini": 4000,
    "system/textures/stone.utx": 1500000,
    "system/textures/grass.utx": 2200000,
    "maps/Крым 01.map": 900000,
    "maps/Крым 02.map": 1100000,
    "music/theme.ogg": 6000000,
}
# What the player's client holds before the update: one file current, one outdated.
LOCAL_CURRENT = "maps/Крым 01.map"
LOCAL_OUTDATED = "system/l2.ini"
# The biggest file comes slowly, as over a real line, so the progress is visible.
SLOW_FILE = "music/theme.ogg"


def cache_value(build, name):
    for line in (build / "CMakeCache.txt").read_text().splitlines():
        if line.startswith(name + ":"):
            return line.split("=", 1)[1]
    raise SystemExit("%s is not in %s/CMakeCache.txt" % (name, build))


def snapshot(folder):
    return {path.relative_to(folder).as_posix(): hashlib.sha256(path.read_bytes()).hexdigest()
            for path in folder.rglob("*") if path.is_file()} if folder.is_dir() else {}


def make_client(server_client, client, game):
    for path, size in DEMO_FILES.items():
        target = server_client / path
        target.parent.mkdir(parents=True, exist_ok=True)
        target.write_bytes(random.Random(path).randbytes(size))
    (server_client / "system" / "l2.exe").write_bytes(game.read_bytes())
    for path in (LOCAL_CURRENT, LOCAL_OUTDATED):
        (client / path).parent.mkdir(parents=True, exist_ok=True)
        shutil.copyfile(server_client / path, client / path)
    (client / LOCAL_OUTDATED).write_text("; an outdated settings file\n")


def report_changes(before, after):
    print("Client folder changes:")
    for path in sorted(set(before) | set(after)):
        if path not in before:
            change = "added"
        elif path not in after:
            change = "removed"
        else:
            change = "replaced" if before[path] != after[path] else "unchanged"
        print("  %-9s %s" % (change, path))


def run_headless(launcher, shots):
    """Clicks Update for the player and takes the screenshots."""
    launcher.start().wait_ready()
    launcher.image(shots / "1-before.png")
    start = launcher.update()
    launcher.wait_status("Скачивание", after=start)
    launcher.wait_log("SetProgressUi status=", debug=True)
    time.sleep(1)
    launcher.image(shots / "2-during.png")
    status, detail, _ = launcher.wait_final(start, timeout=300)
    launcher.image(shots / "3-after.png")
    print("Screenshots: %s/1-before.png, 2-during.png, 3-after.png" % shots)
    print("Final status: %s | %s" % (status, detail))
    print("Launcher exit code: %d" % launcher.close())


def main():
    # A terminated demo still stops its server, its display and its Wine processes.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True, help="the build folder")
    build = pathlib.Path(parser.parse_args().build).resolve()
    demo = build / "demo"
    server = demo / "server"
    shutil.rmtree(demo / "client", ignore_errors=True)
    shutil.rmtree(demo / "server-client", ignore_errors=True)
    make_client(demo / "server-client", demo / "client", build / "tests" / "recorder_standin.exe")
    port_a = cache_value(build, "HTTP_TEST_PORT_A")
    update_site.publish(demo / "server-client", demo / "sites" / "default", None, "https://localhost:%s/" % port_a)
    (demo / "sites" / "default" / "tavrine" / "updater" / "client" / (SLOW_FILE + ".zip.fault")).write_text(
        "mode=trickle&step=65536&delay=50")
    subprocess.run([sys.executable, str(ROOT / "tests" / "http_test_server.py"), "start", "--dir", str(server),
                    "--sites", str(demo / "sites"), "--port-a", port_a,
                    "--port-b", cache_value(build, "HTTP_TEST_PORT_B"),
                    "--port-plain", cache_value(build, "HTTP_TEST_PORT_PLAIN"),
                    "--port-untrusted", cache_value(build, "HTTP_TEST_PORT_UNTRUSTED"), "--lifetime", "86400"],
                   check=True)
    display = SimpleNamespace(name=os.environ["DISPLAY"]) if os.environ.get("DISPLAY") else VirtualDisplay().__enter__()
    prefix = WinePrefix(demo / "wine-prefix", demo / "scratch", display)
    try:
        print("Preparing the Wine prefix %s ..." % prefix.path, flush=True)
        prefix.prepared(96, (build / "tests" / "trust_test_ca.exe", server / "ca.der"))
        launcher = Launcher(build / "test-launcher" / "TavrineUpdater.exe", demo / "launcher", prefix,
                            settings_for(demo / "client"), plain_images=False)
        before = snapshot(demo / "client")
        if isinstance(display, SimpleNamespace):
            print("The launcher is open: click Update, then close it when done.", flush=True)
            launcher.start().wait_exit(None)
            shown = [line for line in launcher.ui() if line[0] != "(unchanged)"]
            if shown:
                print("Final status: %s | %s" % shown[-1][:2])
        else:
            run_headless(launcher, demo)
        report_changes(before, snapshot(demo / "client"))
        print("Logs: %s/logs" % launcher.folder)
    finally:
        prefix.close()
        if not isinstance(display, SimpleNamespace):
            display.__exit__(None, None, None)
        subprocess.run([sys.executable, str(ROOT / "tests" / "http_test_server.py"), "stop", "--dir", str(server)],
                       check=False)
    return 0


if __name__ == "__main__":
    sys.exit(main())
