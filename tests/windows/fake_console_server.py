#!/usr/bin/env python3
"""A misbehaving console server on 127.0.0.1 for the network faults under Wine.

Listens on a free port of 127.0.0.1, writes the port number to PORT_FILE, and serves each connection in
turn by one script until it has served --connections of them or --lifetime seconds have passed:
  silent         takes the connection and never sends a byte, not even to the telnet options;
  half-reply     echoes the first command line, sends half a reply, and closes the connection;
  refuse-options refuses binary mode, suppress go-ahead and the COM-PORT-OPTION, then answers the first
                 command line as the board would.
"""

import argparse
import os
import socket
import sys
import time

WONT_BINARY = bytes([0xFF, 0xFC, 0])
DONT_BINARY = bytes([0xFF, 0xFE, 0])
DONT_COM_PORT = bytes([0xFF, 0xFE, 44])


def read_command_line(conn, limit_s):
    """The first command line the client sends ("RD 8C10,1"), telnet commands dropped; empty when none
    arrives within limit_s or the client closes."""
    conn.settimeout(0.1)
    deadline = time.monotonic() + limit_s
    data = b""
    while time.monotonic() < deadline:
        try:
            chunk = conn.recv(256)
        except socket.timeout:
            continue
        except OSError:
            break
        if not chunk:
            break
        data += chunk
        text = strip_telnet(data)
        for end in (b"\r", b"\n"):
            if end in text:
                return text.split(end)[0].decode("ascii", "replace").strip()
    return ""


def strip_telnet(data):
    """The bytes without IAC sequences (commands, options and sub-negotiations)."""
    out = bytearray()
    i = 0
    while i < len(data):
        if data[i] != 0xFF:
            out.append(data[i])
            i += 1
        elif i + 1 < len(data) and data[i + 1] == 0xFA:  # sub-negotiation up to IAC SE
            end = data.find(bytes([0xFF, 0xF0]), i + 2)
            i = len(data) if end < 0 else end + 2
        elif i + 1 < len(data) and data[i + 1] == 0xFF:  # an escaped 0xFF
            out.append(0xFF)
            i += 2
        else:
            i += 3 if i + 1 < len(data) and 0xFB <= data[i + 1] <= 0xFE else 2
    return bytes(out)


def silent(conn):
    while read_command_line(conn, 3.0):
        pass


def half_reply(conn):
    line = read_command_line(conn, 5.0)
    if line:
        conn.sendall((line + "\n\r8C").encode("ascii"))


def refuse_options(conn):
    conn.sendall(WONT_BINARY + DONT_BINARY + DONT_COM_PORT)
    line = read_command_line(conn, 8.0)
    if line:
        register = line[3:7]
        conn.sendall((line + "\n\r" + register + ": 3F\n\rL>").encode("ascii"))
        read_command_line(conn, 1.0)


SCRIPTS = {"silent": silent, "half-reply": half_reply, "refuse-options": refuse_options}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("script", choices=sorted(SCRIPTS))
    parser.add_argument("port_file")
    parser.add_argument("--connections", type=int, default=1)
    parser.add_argument("--lifetime", type=float, default=60.0)
    args = parser.parse_args()
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(4)
    server.settimeout(0.2)
    with open(args.port_file + ".new", "w") as f:
        f.write("%d\n" % server.getsockname()[1])
    os.replace(args.port_file + ".new", args.port_file)
    deadline = time.monotonic() + args.lifetime
    served = 0
    while served < args.connections and time.monotonic() < deadline:
        try:
            conn, _ = server.accept()
        except socket.timeout:
            continue
        with conn:
            SCRIPTS[args.script](conn)
        served += 1
    server.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
