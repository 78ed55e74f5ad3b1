#!/usr/bin/env python3
"""Measures the update run through the console driver under Wine, side by side
with plain tools, on a large-file and a small-file client; medians of three
runs with a warm cache. Run by hand, not in CI; the data (about 3 GiB) stays
cached in BUILD/update-benchmark between runs.

  1. check of an unchanged client (driver --check-only, its own clock around the
     check phase) against one sequential `cat` of the same files to /dev/null;
  2. update of an empty client over loopback HTTPS from the local site against
     curl --parallel with the same degree, fetching the same archives to disk,
     with the test server's CPU use during each;
  3. peak resident size (VmHWM) of the driver during the large update against the
     driver running an update with an empty plan.

Usage: update_run_benchmark.py [BUILD] [--sets large,small] [--scale 1.0] [--driver EXE]
  --scale shrinks both data sets (0.25: 256 MiB in 500 files, 5,000 small files);
  --driver runs another build of the console driver (an earlier version, say) in
  place of BUILD's, against the same data and server.
"""
import argparse
import os
import pathlib
import random
import re
import shutil
import statistics
import subprocess
import sys
import time

REPO = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(REPO / "tests"))
import update_site  # noqa: E402


def wine_path(path):
    return "Z:" + str(path).replace("/", "\\")


def make_set(folder, count, sizes):
    """The client folder of a data set, written once."""
    done = folder.with_name(folder.name + ".complete")
    if done.exists():
        return
    shutil.rmtree(folder, ignore_errors=True)
    rng = random.Random(7)
    for index in range(count):
        path = folder / ("d%02d" % (index % 50)) / ("f%05d.bin" % index)
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(os.urandom(rng.randint(*sizes)))
    done.write_text("ok")


def files_of(folder):
    return sorted(p for p in folder.rglob("*") if p.is_file())


class Bench:
    def __init__(self, build, work, driver_exe):
        self.build, self.work, self.driver_exe = build, work, driver_exe
        cache = (build / "CMakeCache.txt").read_text()
        self.ports = {k: re.search(r"HTTP_TEST_PORT_%s:STRING=(\d+)" % k, cache).group(1)
                      for k in ("A", "B", "PLAIN", "UNTRUSTED")}
        self.root = "https://localhost:%s/" % self.ports["A"]
        self.server_dir = work / "server"
        self.prefix = build / "wine-prefix"
        self.wine_run = str(REPO / "scripts" / "wine-run.sh")

    def start_server(self):
        subprocess.run([sys.executable, str(REPO / "tests" / "http_test_server.py"), "start", "--dir",
                        str(self.server_dir), "--sites", str(self.work / "sites"), "--port-a", self.ports["A"],
                        "--port-b", self.ports["B"], "--port-plain", self.ports["PLAIN"],
                        "--port-untrusted", self.ports["UNTRUSTED"], "--lifetime", "7200"], check=True)
        self.server_pid = int((self.server_dir / "server.pid").read_text())
        subprocess.run([self.wine_run, str(self.prefix), str(self.build / "tests" / "trust_test_ca.exe"),
                        wine_path(self.server_dir / "ca.der")], check=True, stdout=subprocess.DEVNULL)

    def stop_server(self):
        subprocess.run([sys.executable, str(REPO / "tests" / "http_test_server.py"), "stop", "--dir",
                        str(self.server_dir)], check=True)

    def server_cpu(self):
        fields = pathlib.Path("/proc/%d/stat" % self.server_pid).read_text().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def driver(self, site, client, *extra):
        """The driver's output fields, with the peak resident size of its Wine process
        (wine-run.sh and wine exec each other, so the pid is that process)."""
        app = self.work / "app"
        process = subprocess.Popen([self.wine_run, str(self.prefix), str(self.driver_exe),
                                    "--client", wine_path(client), "--app", wine_path(app), "--site", site, *extra],
                                   stdout=subprocess.PIPE, text=True)
        peak = 0
        while process.poll() is None:
            try:
                status = pathlib.Path("/proc/%d/status" % process.pid).read_text()
                peak = max(peak, int(re.search(r"VmHWM:\s+(\d+)", status).group(1)))
            except (OSError, AttributeError):
                pass
            time.sleep(0.02)
        fields = dict(line.split("=", 1) for line in process.stdout.read().splitlines() if "=" in line)
        fields["vmhwm_kib"] = peak
        return fields

    def timed(self, action):
        """Median seconds of three runs of action(), which may return its own seconds,
        with the server's CPU seconds per wall second over the runs."""
        times, cpu_start, wall_start = [], self.server_cpu(), time.monotonic()
        for _ in range(3):
            start = time.monotonic()
            own = action()
            times.append(own if own is not None else time.monotonic() - start)
        return statistics.median(times), (self.server_cpu() - cpu_start) / (time.monotonic() - wall_start)


def run_set(bench, name, count, sizes):
    client = bench.work / ("client-%s-%d" % (name, count))
    make_set(client, count, sizes)
    site = "bench-%s-%d" % (name, count)
    published = bench.work / "sites" / (site + ".complete")
    if not published.exists():
        update_site.publish(client, bench.work / "sites" / site, root=bench.root)
        published.write_text("ok")
    files = files_of(client)
    total = sum(p.stat().st_size for p in files)
    print("== %s set: %d files, %.1f MiB" % (name, len(files), total / 2**20), flush=True)

    subprocess.run(["cat", *map(str, files)], stdout=subprocess.DEVNULL)
    cat_s, _ = bench.timed(lambda: subprocess.run(["cat", *map(str, files)], stdout=subprocess.DEVNULL) and None)
    result = {}

    def check():
        result.update(bench.driver(site, client, "--check-only"))
        return float(result["check_ms"]) / 1000

    check_s, _ = bench.timed(check)
    print("check: driver %.3f s (%d check workers of %s CPUs, %s downloads), cat %.3f s, ratio %.2f"
          % (check_s, int(result["check_degree"]), result["cpu"], result["downloads"], cat_s, check_s / cat_s))

    target = bench.work / ("update-" + name)

    failed = []

    def update():
        shutil.rmtree(target, ignore_errors=True)
        result.update(bench.driver(site, target))
        failed.append(int(result["failed"]))
        return float(result["run_ms"]) / 1000

    update_s, update_cpu = bench.timed(update)
    peak_kib = int(result["vmhwm_kib"])
    degree = {0: 3, 1: 2, 2: 2, 3: 3, 4: 3}.get(os.cpu_count(), 4 if os.cpu_count() <= 8 else 5)
    urls = [bench.root + "tavrine/updater/client/" + p.relative_to(client).as_posix() + ".zip" for p in files]
    curl_dir = bench.work / "curl"
    config = bench.work / "curl-urls.txt"
    config.write_text("".join('url = "%s"\noutput = "%s/%d.zip"\n' % (u, curl_dir, i) for i, u in enumerate(urls)))

    def curl():
        shutil.rmtree(curl_dir, ignore_errors=True)
        curl_dir.mkdir()
        subprocess.run(["curl", "-s", "--no-progress-meter", "--parallel", "--parallel-max", str(degree), "-H", "Connection: close",
                        "-A", "bench site=" + site, "--cacert", str(bench.server_dir / "ca.pem"), "-K", str(config)],
                       check=True)

    curl_s, curl_cpu = bench.timed(curl)
    archives = sum(p.stat().st_size for p in curl_dir.iterdir())
    print("update: driver %.2f s = %.1f MiB/s (server CPU %.0f%%), curl x%d %.2f s = %.1f MiB/s (server CPU %.0f%%),"
          " ratio to curl %.2f; files the driver gave up per run: %s"
          % (update_s, archives / 2**20 / update_s, 100 * update_cpu, degree, curl_s, archives / 2**20 / curl_s,
             100 * curl_cpu, curl_s / update_s, failed))
    return peak_kib


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default=str(REPO / "build"))
    parser.add_argument("--sets", default="large,small")
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--driver")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    driver_exe = pathlib.Path(args.driver).resolve() if args.driver else build / "tests" / "update_driver.exe"
    subprocess.run(["cmake", "--build", str(build), "--target", "update_driver", "trust_test_ca"], check=True,
                   stdout=subprocess.DEVNULL)
    work = build / "update-benchmark"
    (work / "sites").mkdir(parents=True, exist_ok=True)
    bench = Bench(build, work, driver_exe)
    empty = work / "client-empty"
    empty.mkdir(exist_ok=True)
    update_site.publish(empty, work / "sites" / "bench-empty", files={}, root=bench.root)
    bench.start_server()
    try:
        peaks = {}
        sets = {"large": (int(2000 * args.scale), (524288, 524288)),
                "small": (int(20000 * args.scale), (1024, 8192))}
        for name in args.sets.split(","):
            peaks[name] = run_set(bench, name, *sets[name])
        reference = int(bench.driver("bench-empty", empty)["vmhwm_kib"])
        for name, peak in peaks.items():
            print("peak memory: %s update %.1f MiB, empty plan %.1f MiB, difference %.1f MiB"
                  % (name, peak / 1024, reference / 1024, (peak - reference) / 1024))
    finally:
        bench.stop_server()
    return 0


if __name__ == "__main__":
    sys.exit(main())
