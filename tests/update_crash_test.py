#!/usr/bin/env python3
"""Kills the update driver (kill -9 of its Wine process) at random moments of
an update in which every client file changes, and checks after each kill that
every client file is byte for byte its old or its new version. A last run
must then complete the update. All of it twice: with the client beside the
temporary folder, and with the client on another volume.

The client starts from CLIENTS/crash-old before each killed run; the site
run-crash holds the new version, CLIENTS/run-crash.
"""
import argparse
import os
import pathlib
import random
import shutil
import signal
import subprocess
import sys
import time

KILLS = 10


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def files_of(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes() for path in folder.rglob("*") if path.is_file()}


def kill_runs(args, client, app):
    """Ten killed runs and a final one in the given client folder; the failures found."""
    clients = pathlib.Path(args.clients)
    old, new = files_of(clients / "crash-old"), files_of(clients / "run-crash")
    command = [args.wine_run, args.prefix, args.driver, "--client", wine_path(client), "--app", wine_path(app),
               "--site", "run-crash"]
    failures = []
    # A whole run first times the kills, so that they fall within a run.
    shutil.copytree(clients / "crash-old", client)
    start = time.monotonic()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    whole = time.monotonic() - start
    for kill in range(1, KILLS + 1):
        shutil.rmtree(client, ignore_errors=True)
        shutil.copytree(clients / "crash-old", client)
        # wine-run.sh and wine exec each other, so the pid is the Windows process itself.
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        delay = random.uniform(0.3, 1.0) * whole
        time.sleep(delay)
        process.send_signal(signal.SIGKILL)
        process.wait()
        found = files_of(client)
        stray = sorted(set(found) - set(old))
        torn = sorted(path for path in old if found.get(path) not in (old[path], new[path]))
        replaced = sum(found.get(path) == new[path] for path in old)
        print("kill %d after %.2f s: %d of %d files new, %d torn or missing, stray: %s"
              % (kill, delay, replaced, len(old), len(torn), stray or "none"), flush=True)
        failures += ["kill %d: %s is neither old nor new" % (kill, path) for path in torn]

    final = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    print(final.stdout, end="")
    if final.returncode != 0 or files_of(client) != new:
        failures.append("the final run did not complete the update in " + str(client))
    return failures


def main():
    parser = argparse.ArgumentParser()
    for option in ("--driver", "--wine-run", "--prefix", "--clients", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    work = pathlib.Path(args.work)
    shutil.rmtree(work, ignore_errors=True)
    # The temporary folder sits beside the driver's folder in the build; a client
    # on the memory file system lies on another volume than it.
    other_volume = pathlib.Path("/dev/shm") / ("update-crash-test-%d" % os.getpid())
    print("client and temporary folder on one volume:")
    failures = kill_runs(args, work / "client", work / "app")
    print("client on another volume:")
    failures += kill_runs(args, other_volume / "client", work / "app")
    shutil.rmtree(other_volume, ignore_errors=True)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
