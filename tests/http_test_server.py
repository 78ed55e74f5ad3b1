#!/usr/bin/env python3
"""Fault-injecting HTTP and HTTPS server for the HTTP client's tests.

Listens on loopback only (127.0.0.1 and ::1) on four ports: two HTTPS roots
("a" and "b") whose certificate a test CA signs, one plain HTTP port, and one
HTTPS port whose self-signed certificate nobody trusts. Every request is
appended as one JSON line to requests.jsonl in the state folder before it is
answered.

Query parameters choose the answer (all optional):
  id=KEY        groups requests of one test; hits are counted per path and id
  status=N      status code (200)
  size=N        body of N deterministic bytes: byte i = (131*i + 7*(i>>8) + 13*(i>>16)) mod 256
  mode=M        normal | short (Content-Length, then cut bytes and a close) |
                drop_head (reset before any answer) | drop_mid (cut bytes, then a reset) |
                chunked | noclen (no length, the close ends the body) |
                trickle | stall (cut bytes, then wait for release) | stall_head |
                endless (no length; the body repeats until the client goes away)
  faulthits=N   the mode (and a site file's status) applies to hits 1..N only; later hits are
                answered normally
  cut=N         bytes sent before a short, drop_mid or stall (size // 2; 0 for stall)
  chunk=N       bytes per chunk of a chunked body (4096)
  step=N, delay=MS   trickle and endless: N bytes every MS milliseconds (4096, 50)
  release=NAME  stall until the file release/NAME exists in the state folder
  maxwait=S     longest stall in seconds (120)
  clen=TEXT     the Content-Length header's text instead of the body size
  header=TEXT   an extra response header "Name: value" (repeatable)

A request without an id parameter is served from an update site instead: the
file at its path (percent-decoded, query ignored) in the folder SITES/NAME,
where NAME is the word after "site=" in the User-Agent, else "default"; 404
when there is no such file. Its log line carries NAME as its id. A file beside
it named PATH.fault holds parameters as above (for example "mode=drop_head" or
"status=500&faulthits=2") that apply to that path, found or not. SITES is the
folder "sites" in the state folder, emptied at each start, unless --sites names
another. Both HTTPS roots serve the same sites; tests/update_site.py publishes
them.

Usage:
  http_test_server.py start --dir DIR --port-a N --port-b N --port-plain N --port-untrusted N
                            [--sites SITES] [--lifetime S]
  http_test_server.py stop --dir DIR
"""
import argparse
import errno
import http.server
import json
import os
import pathlib
import re
import shutil
import signal
import socket
import ssl
import struct
import subprocess
import sys
import threading
import time
import urllib.parse

MAX_BODY = 32 * 1024 * 1024
REASONS = {200: "OK", 299: "OK", 300: "Multiple Choices", 404: "Not Found", 500: "Internal Server Error"}
SITE_AGENT = re.compile(r"\bsite=([A-Za-z0-9._-]+)")


def pattern_bytes(size):
    return bytes((131 * i + 7 * (i >> 8) + 13 * (i >> 16)) & 0xFF for i in range(size))


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_certificates(folder):
    """Test CA, a localhost certificate it signs, and an untrusted self-signed one."""
    if (folder / "certs-complete").exists():
        return
    folder.mkdir(parents=True, exist_ok=True)
    days = "825"
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650",
        "-keyout", str(folder / "ca.key"), "-out", str(folder / "ca.pem"),
        "-subj", "/CN=Updater Test CA",
        "-addext", "basicConstraints=critical,CA:TRUE",
        "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    run("openssl", "x509", "-in", str(folder / "ca.pem"), "-outform", "DER", "-out", str(folder / "ca.der"))
    run("openssl", "req", "-newkey", "rsa:2048", "-nodes", "-sha256",
        "-keyout", str(folder / "server.key"), "-out", str(folder / "server.csr"), "-subj", "/CN=localhost")
    (folder / "server.ext").write_text(
        "subjectAltName=DNS:localhost\nbasicConstraints=CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    run("openssl", "x509", "-req", "-sha256", "-days", days, "-in", str(folder / "server.csr"),
        "-CA", str(folder / "ca.pem"), "-CAkey", str(folder / "ca.key"),
        "-set_serial", str(int.from_bytes(os.urandom(8), "big")),
        "-extfile", str(folder / "server.ext"), "-out", str(folder / "server.pem"))
    run("openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", days,
        "-keyout", str(folder / "untrusted.key"), "-out", str(folder / "untrusted.pem"),
        "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost")
    (folder / "certs-complete").write_text("ok\n")


class State:
    def __init__(self, folder, sites, lifetime):
        self.folder = folder
        self.sites = sites
        self.stop = threading.Event()
        self.deadline = time.monotonic() + lifetime
        self.lock = threading.Lock()
        self.hits = {}
        self.bodies = {}
        self.log = open(folder / "requests.jsonl", "a", encoding="utf-8")

    def record(self, entry):
        key = (entry["path"], entry["id"])
        with self.lock:
            self.hits[key] = self.hits.get(key, 0) + 1
            entry["hit"] = self.hits[key]
            self.log.write(json.dumps(entry, sort_keys=True) + "\n")
            self.log.flush()
        return entry["hit"]

    def body(self, size):
        with self.lock:
            cached = self.bodies.get(size)
        if cached is None:
            cached = pattern_bytes(size)
            with self.lock:
                if len(self.bodies) > 16:
                    self.bodies.clear()
                self.bodies[size] = cached
        return cached

    def wait_for_release(self, name, max_wait):
        """True once the release file exists; False when the wait ran out or the server stops."""
        marker = self.folder / "release" / name
        end = time.monotonic() + max_wait
        while time.monotonic() < end and not self.stop.is_set():
            if marker.exists():
                return True
            time.sleep(0.05)
        return False


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    timeout = 30

    def log_message(self, format, *args):
        pass

    def finish(self):
        try:
            super().finish()
        except OSError:
            pass

    def do_GET(self):
        self.close_connection = True
        state = self.server.state
        parts = urllib.parse.urlsplit(self.path)
        params = urllib.parse.parse_qs(parts.query, keep_blank_values=True)
        site = site_file = None
        if "id" not in params:
            site = self.site_name()
            site_file, faults = self.site_file(site, parts.path)
            params.update(faults)

        def value(name, default):
            return params.get(name, [default])[0]

        def number(name, default):
            try:
                return int(value(name, str(default)))
            except ValueError:
                return default

        entry = {
            "time": time.time(),
            "role": self.server.role,
            "port": self.server.server_address[1],
            "method": self.command,
            "target": self.path,
            "path": parts.path,
            "query": parts.query,
            "id": value("id", site or ""),
            "headers": {name.lower(): text for name, text in self.headers.items()},
        }
        hit = state.record(entry)

        fault_hits = number("faulthits", 0)
        faulted = fault_hits <= 0 or hit <= fault_hits
        mode = value("mode", "normal") if faulted else "normal"
        if site is None:
            size = max(0, min(number("size", 0), MAX_BODY))
            body = state.body(size)
            status = number("status", 200)
        else:
            found = site_file is not None and site_file.is_file()
            # Big files of the benchmarks' sites go out streamed, not held in memory.
            streamed = found and mode == "normal"
            body = site_file.read_bytes() if found and not streamed else b""
            size = site_file.stat().st_size if found else 0
            plain_status = 200 if found else 404
            status = number("status", plain_status) if faulted else plain_status
        cut = max(0, min(number("cut", 0 if mode == "stall" else size // 2), size))

        if mode == "stall_head":
            if not state.wait_for_release(value("release", ""), number("maxwait", 120)):
                return
        if mode == "drop_head":
            self.reset()
            return

        head = ["HTTP/1.1 %d %s" % (status, REASONS.get(status, "Status")),
                "Content-Type: application/octet-stream"]
        if mode == "chunked":
            head.append("Transfer-Encoding: chunked")
        elif mode not in ("noclen", "endless"):
            head.append("Content-Length: " + value("clen", str(size)))
        head.append("Connection: close")
        head.extend(params.get("header", []))
        self.wfile.write(("\r\n".join(head) + "\r\n\r\n").encode("latin-1"))

        if mode == "chunked":
            chunk = max(1, number("chunk", 4096))
            for start in range(0, size, chunk):
                piece = body[start:start + chunk]
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.wfile.write(b"0\r\n\r\n")
        elif mode == "short":
            self.wfile.write(body[:cut])
        elif mode == "drop_mid":
            self.wfile.write(body[:cut])
            self.reset()
        elif mode in ("trickle", "endless"):
            step = max(1, number("step", 4096))
            delay = max(0, number("delay", 50)) / 1000.0
            while True:
                for start in range(0, size, step):
                    if state.stop.is_set():
                        return
                    self.wfile.write(body[start:start + step])
                    time.sleep(delay)
                if mode == "trickle" or size == 0:
                    return
        elif mode == "stall":
            self.wfile.write(body[:cut])
            if state.wait_for_release(value("release", ""), number("maxwait", 120)):
                self.wfile.write(body[cut:])
        elif site is not None and streamed:
            with open(site_file, "rb") as source:
                shutil.copyfileobj(source, self.wfile, 1 << 20)
        else:
            self.wfile.write(body)

    def site_name(self):
        match = SITE_AGENT.search(self.headers.get("User-Agent", ""))
        return match.group(1) if match else "default"

    def site_file(self, site, url_path):
        """The site's file for the path (None when the path climbs out) and the fault
        parameters kept beside it."""
        relative = pathlib.PurePosixPath(urllib.parse.unquote(url_path).lstrip("/"))
        if ".." in relative.parts:
            return None, {}
        path = self.server.state.sites / site / relative
        fault = path.with_name(path.name + ".fault")
        text = fault.read_text().strip() if fault.is_file() else ""
        return path, urllib.parse.parse_qs(text, keep_blank_values=True)

    def reset(self):
        """Ends the connection with a TCP reset instead of an orderly close."""
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, family, role, state, tls_context):
        self.address_family = family
        self.role = role
        self.state = state
        self.tls_context = tls_context
        super().__init__(address, Handler)

    def server_bind(self):
        if self.address_family == socket.AF_INET6:
            self.socket.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
        super().server_bind()

    def finish_request(self, request, client_address):
        request.settimeout(30)
        if self.tls_context is None:
            self.RequestHandlerClass(request, client_address, self)
            return
        try:
            tls = self.tls_context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError):
            return
        try:
            self.RequestHandlerClass(tls, client_address, self)
        finally:
            tls.close()

    def handle_error(self, request, client_address):
        pass


def tls_context(folder, name):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(str(folder / (name + ".pem")), str(folder / (name + ".key")))
    return context


def serve(args):
    folder = pathlib.Path(args.dir)
    state = State(folder, pathlib.Path(args.sites) if args.sites else folder / "sites", args.lifetime)
    signal.signal(signal.SIGTERM, lambda *_: state.stop.set())
    signal.signal(signal.SIGINT, lambda *_: state.stop.set())
    trusted = tls_context(folder, "server")
    untrusted = tls_context(folder, "untrusted")
    roles = [("a", args.port_a, trusted), ("b", args.port_b, trusted),
             ("plain", args.port_plain, None), ("untrusted", args.port_untrusted, untrusted)]
    servers = []
    for role, port, context in roles:
        for host, family in (("127.0.0.1", socket.AF_INET), ("::1", socket.AF_INET6)):
            try:
                servers.append(Server((host, port), family, role, state, context))
            except OSError as error:
                # A machine without IPv6 is fine; a port that another program holds is not:
                # "localhost" could reach that program instead of this server.
                if family == socket.AF_INET6 and error.errno in (errno.EADDRNOTAVAIL, errno.EAFNOSUPPORT):
                    print("no IPv6 listener on port %d: %s" % (port, error), flush=True)
                    continue
                print("cannot listen on %s port %d: %s" % (host, port, error.strerror), flush=True)
                return 1
    threads = [threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
               for server in servers]
    for thread in threads:
        thread.start()
    (folder / "ready").write_text(str(os.getpid()))
    print("serving pid %d" % os.getpid(), flush=True)
    while not state.stop.is_set() and time.monotonic() < state.deadline:
        state.stop.wait(1.0)
    state.stop.set()
    for server in servers:
        server.shutdown()
        server.server_close()
    (folder / "ready").unlink(missing_ok=True)
    print("stopped", flush=True)
    return 0


def server_pid(folder):
    """The pid of a running server started from this folder, or None."""
    try:
        pid = int((folder / "server.pid").read_text().strip())
        command = pathlib.Path("/proc/%d/cmdline" % pid).read_bytes().split(b"\0")
    except (OSError, ValueError):
        return None
    if b"serve" in command and any(part.endswith(b"http_test_server.py") for part in command):
        return pid
    return None


def stop(args):
    folder = pathlib.Path(args.dir)
    pid = server_pid(folder)
    if pid is not None:
        os.kill(pid, signal.SIGTERM)
        end = time.monotonic() + 10
        while time.monotonic() < end and server_pid(folder) == pid:
            time.sleep(0.1)
        if server_pid(folder) == pid:
            os.kill(pid, signal.SIGKILL)
    (folder / "server.pid").unlink(missing_ok=True)
    return 0


def start(args):
    folder = pathlib.Path(args.dir)
    folder.mkdir(parents=True, exist_ok=True)
    stop(args)
    make_certificates(folder)
    (folder / "release").mkdir(exist_ok=True)
    (folder / "ready").unlink(missing_ok=True)
    (folder / "requests.jsonl").write_text("")
    if not args.sites:
        shutil.rmtree(folder / "sites", ignore_errors=True)
    command = [sys.executable, os.path.abspath(__file__), "serve", "--dir", str(folder),
               "--port-a", str(args.port_a), "--port-b", str(args.port_b),
               "--port-plain", str(args.port_plain), "--port-untrusted", str(args.port_untrusted),
               "--lifetime", str(args.lifetime)] + (["--sites", args.sites] if args.sites else [])
    with open(folder / "server.log", "wb") as log:
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True, close_fds=True)
    (folder / "server.pid").write_text(str(process.pid))
    end = time.monotonic() + 30
    while time.monotonic() < end:
        if (folder / "ready").exists():
            print("test server running, pid %d, state in %s" % (process.pid, folder))
            return 0
        if process.poll() is not None:
            break
        time.sleep(0.1)
    if process.poll() is None:
        process.kill()
    sys.stderr.write((folder / "server.log").read_text(errors="replace"))
    print("test server did not start", file=sys.stderr)
    return 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("action", choices=["start", "serve", "stop"])
    parser.add_argument("--dir", required=True)
    parser.add_argument("--port-a", type=int, default=47443)
    parser.add_argument("--port-b", type=int, default=47444)
    parser.add_argument("--port-plain", type=int, default=47445)
    parser.add_argument("--port-untrusted", type=int, default=47446)
    parser.add_argument("--sites")
    parser.add_argument("--lifetime", type=int, default=1200)
    args = parser.parse_args()
    if args.action == "serve":
        return serve(args)
    return start(args) if args.action == "start" else stop(args)


if __name__ == "__main__":
    sys.exit(main())
