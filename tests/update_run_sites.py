#!/usr/bin/env python3
"""Publishes the update sites of the update run's tests and crash test.

Usage: update_run_sites.py SITES CLIENTS

Each scenario's new client goes to CLIENTS/NAME and its site, made by
update_site.py, to SITES/NAME; then the faults of the scenario are put in:
archives whose member differs from the manifest, and PATH.fault files that
the test server reads.
"""
import os
import pathlib
import shutil
import sys
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import update_site  # noqa: E402

CLIENT_BASE = "tavrine/updater/client/"


def random_bytes(size):
    return os.urandom(size)


def make_client(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    for relative, data in files.items():
        path = folder / relative
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)


def replace_member(site, relative, data):
    """The archive of a file now holds other bytes than its manifest describes."""
    archive = site / (CLIENT_BASE + relative + ".zip")
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as out:
        out.writestr(pathlib.PurePosixPath(relative).name, data)


def fault(site, relative, parameters):
    (site / (CLIENT_BASE + relative + ".zip.fault")).write_text(parameters)


def publish(sites, clients, name, files):
    make_client(clients / name, files)
    update_site.publish(clients / name, sites / name)
    return sites / name


def main():
    sites, clients = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    small = {"system/l2.ini": random_bytes(1000), "data/a.bin": random_bytes(300000),
             "data/x": random_bytes(5000), "data/x.zip": random_bytes(7000), "readme.txt": b"new readme\n"}
    publish(sites, clients, "run-basic", small)
    publish(sites, clients, "run-patch-fails", small)

    names = ["fail/crc", "fail/short", "fail/bomb", "fail/folder", "fail/readonly", "ok/good"]
    failures = {name: random_bytes(4096) for name in names}
    site = publish(sites, clients, "run-failures", failures)
    replace_member(site, "fail/crc", random_bytes(4096))
    replace_member(site, "fail/short", random_bytes(4000))
    replace_member(site, "fail/bomb", bytes(64 * 1024 * 1024))

    site = publish(sites, clients, "run-attempts", {"retry/third": random_bytes(3000),
                                                    "retry/never": random_bytes(2000)})
    fault(site, "retry/third", "status=500&faulthits=2")
    fault(site, "retry/never", "status=500")

    site = publish(sites, clients, "run-partial", {"good.bin": random_bytes(2000), "gone.bin": random_bytes(10)})
    fault(site, "gone.bin", "status=404")

    publish(sites, clients, "run-locked", {"locked.bin": random_bytes(8192)})
    for name in ("run-slow-pause", "run-slow-cancel"):
        site = publish(sites, clients, name, {"slow.bin": random_bytes(1024 * 1024)})
        fault(site, "slow.bin", "mode=trickle&step=16384&delay=40")
    publish(sites, clients, "run-big-check", {"big.bin": bytes(96 * 1024 * 1024)})
    make_client(clients / "run-empty", {})
    update_site.publish(clients / "run-empty", sites / "run-empty", files={})

    # Every file of the crash test changes between its old and its new client.
    crash_old = {"files/%03d.bin" % index: random_bytes(30000 + 997 * index) for index in range(120)}
    make_client(clients / "crash-old", crash_old)
    publish(sites, clients, "run-crash", {path: random_bytes(len(data) + 13) for path, data in crash_old.items()})
    return 0


if __name__ == "__main__":
    sys.exit(main())
