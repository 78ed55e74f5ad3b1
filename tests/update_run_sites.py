#!/usr/bin/env python3
"""update_run_sites.py SITES CLIENTS: publishes the update sites of the update
run's tests (update_site.py), each scenario's new client in CLIENTS/NAME, then
its faults: archives whose member differs from the manifest, PATH.fault files.
"""
import os
import pathlib
import shutil
import sys
import zipfile

sys.path.insert(0, str(pathlib.Path(__file__).parent))
import update_site  # noqa: E402

CLIENT_BASE = "tavrine/updater/client/"


def make_client(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    for relative, data in files.items():
        (folder / relative).parent.mkdir(parents=True, exist_ok=True)
        (folder / relative).write_bytes(data)


def publish(sites, clients, name, files, faults=None, members=None, sizes=None):
    make_client(clients / name, files)
    update_site.publish(clients / name, sites / name, sizes=sizes)
    for relative, parameters in (faults or {}).items():
        (sites / name / (CLIENT_BASE + relative + ".zip.fault")).write_text(parameters)
    for relative, data in (members or {}).items():
        with zipfile.ZipFile(sites / name / (CLIENT_BASE + relative + ".zip"), "w", zipfile.ZIP_DEFLATED) as out:
            out.writestr(pathlib.PurePosixPath(relative).name, data)


def main():
    sites, clients = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    publish(sites, clients, "run-empty", {})
    publish(sites, clients, "run-basic", {"system/l2.ini": os.urandom(1000), "data/a.bin": os.urandom(300000),
                                          "data/x": os.urandom(5000), "data/x.zip": os.urandom(7000),
                                          "readme.txt": b"new readme\n"})
    names = ["fail/crc", "fail/short", "fail/bomb", "fail/folder", "fail/readonly", "fail/locked", "fail/endless",
             "ok/good"]
    publish(sites, clients, "run-failures", {name: os.urandom(4096) for name in names},
            faults={"fail/endless": "mode=endless&step=65536&delay=0"},
            members={"fail/crc": os.urandom(4096), "fail/short": os.urandom(4000), "fail/bomb": bytes(64 << 20)})
    publish(sites, clients, "run-attempts", {"retry/third": os.urandom(3000), "retry/never": os.urandom(2000)},
            faults={"retry/third": "status=500&faulthits=2", "retry/never": "status=500"})
    publish(sites, clients, "run-partial", {"good.bin": os.urandom(2000), "gone.bin": os.urandom(10)},
            faults={"gone.bin": "status=404"})
    for name in ("run-slow-pause", "run-slow-cancel"):
        publish(sites, clients, name, {"slow.bin": os.urandom(1 << 20)},
                faults={"slow.bin": "mode=trickle&step=16384&delay=40"})
    publish(sites, clients, "run-big-check", {"big.bin": bytes(96 << 20)})
    publish(sites, clients, "run-huge", {"huge/a": b"a", "huge/b": b"b"},
            sizes={"huge/a": 2 ** 63 - 1, "huge/b": 2 ** 63 - 1})
    # Every file of the crash test changes between its old and its new client.
    crash_old = {"files/%03d.bin" % index: os.urandom(30000 + 997 * index) for index in range(120)}
    make_client(clients / "crash-old", crash_old)
    publish(sites, clients, "run-crash", {path: os.urandom(len(data) + 13) for path, data in crash_old.items()})
    return 0


if __name__ == "__main__":
    sys.exit(main())
