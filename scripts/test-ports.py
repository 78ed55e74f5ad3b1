#!/usr/bin/env python3
"""Prints four free loopback ports for the HTTP test servers of one build folder.

The first block tried depends only on the folder's path, so a folder keeps its
ports from run to run and two clones on one machine start far apart; a block
with any port in use on 127.0.0.1 or ::1 is passed over for the next one.
"""
import errno
import hashlib
import socket
import sys

FIRST_PORT = 20000
BLOCKS = 3000  # up to port 31999, below the system's range for outgoing connections
PORTS_PER_BLOCK = 4


def free(port):
    for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
        try:
            probe = socket.socket(family, socket.SOCK_STREAM)
        except OSError:
            continue  # no IPv6 on this machine
        with probe:
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            try:
                probe.bind((host, port))
            except OSError as error:
                if error.errno not in (errno.EADDRNOTAVAIL, errno.EAFNOSUPPORT):
                    return False
    return True


def main():
    start = int.from_bytes(hashlib.sha256(sys.argv[1].encode()).digest()[:4], "big") % BLOCKS
    for step in range(BLOCKS):
        first = FIRST_PORT + PORTS_PER_BLOCK * ((start + step) % BLOCKS)
        ports = list(range(first, first + PORTS_PER_BLOCK))
        if all(free(port) for port in ports):
            print(" ".join(map(str, ports)))
            return 0
    print("no four free test ports between %d and %d" % (FIRST_PORT, FIRST_PORT + PORTS_PER_BLOCK * BLOCKS),
          file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
