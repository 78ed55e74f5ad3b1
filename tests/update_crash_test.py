#!/usr/bin/env python3
"""Kills the update driver (kill -9) at random moments of an update that changes
every client file (CLIENTS/crash-old to the site run-crash): each client file
must then be byte for byte its old or new version. Clients lie by turns beside
the temporary folder and on another volume; a last run in each must complete."""
import argparse
import os
import pathlib
import random
import shutil
import subprocess
import sys
import time

KILLS = 10


def files_of(folder):
    return {path.relative_to(folder).as_posix(): path.read_bytes() for path in folder.rglob("*") if path.is_file()}


def main():
    parser = argparse.ArgumentParser()
    for option in ("--driver", "--wine-run", "--prefix", "--clients", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    work, clients = pathlib.Path(args.work), pathlib.Path(args.clients)
    other_volume = pathlib.Path("/dev/shm") / ("update-crash-test-%d" % os.getpid())
    shutil.rmtree(work, ignore_errors=True)
    old, new = files_of(clients / "crash-old"), files_of(clients / "run-crash")

    def command(client):
        return [args.wine_run, args.prefix, args.driver, "--client", "Z:" + str(client).replace("/", "\\"),
                "--app", "Z:" + str(work / "app").replace("/", "\\"), "--site", "run-crash"]

    def start(client):
        shutil.rmtree(client, ignore_errors=True)
        shutil.copytree(clients / "crash-old", client)
        return subprocess.Popen(command(client), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    # A whole run first times the kills, so that they fall within a run.
    began = time.monotonic()
    start(work / "client").wait()
    whole = time.monotonic() - began
    failures = 0
    for kill in range(1, KILLS + 1):
        client = (work if kill % 2 else other_volume) / "client"
        # wine-run.sh and wine exec each other, so the pid is the Windows process itself.
        process = start(client)
        delay = random.uniform(0.3, 1.0) * whole
        time.sleep(delay)
        process.kill()
        process.wait()
        found = files_of(client)
        torn = sorted(path for path in old if found.get(path) not in (old[path], new[path]))
        failures += len(torn)
        print("%skill %d after %.2f s in %s: %d of %d files new; neither old nor new: %s; stray: %s"
              % ("FAIL: " if torn else "", kill, delay, client, sum(found.get(path) == new[path] for path in old),
                 len(old), torn or "none", sorted(set(found) - set(old)) or "none"), flush=True)
    for client in (work / "client", other_volume / "client"):
        final = subprocess.run(command(client), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        print(final.stdout, end="")
        if final.returncode != 0 or files_of(client) != new:
            print("FAIL: the final run did not complete the update in %s" % client)
            failures += 1
    shutil.rmtree(other_volume, ignore_errors=True)
    return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main())
