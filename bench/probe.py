#!/usr/bin/env python3
"""Asks 127.0.0.1:53 for NAME (type A) every few milliseconds until a reply with RCODE 0 comes, and
prints the milliseconds since START_NS (a time.time_ns() value taken before the server started).
Gives up after TIMEOUT seconds and prints -1."""

import socket
import struct
import sys
import time


def query(name, ident):
    labels = b"".join(bytes([len(part)]) + part.encode("latin-1") for part in name.split(".") if part)
    return struct.pack(">HHHHHH", ident, 0x0100, 1, 0, 0, 0) + labels + b"\x00" + struct.pack(">HH", 1, 1)


def main():
    name, start_ns, timeout = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.settimeout(0.005)
    deadline = time.monotonic() + timeout
    ident = 0
    while time.monotonic() < deadline:
        ident = (ident + 1) & 0xFFFF
        try:
            sock.sendto(query(name, ident), ("127.0.0.1", 53))
            reply = sock.recv(4096)
            if len(reply) >= 12 and (reply[3] & 0x0F) == 0:
                print("%.1f" % ((time.time_ns() - start_ns) / 1e6))
                return
        except OSError:  # no server yet (refused) or no reply in time
            time.sleep(0.002)
    print("-1")


if __name__ == "__main__":
    main()
