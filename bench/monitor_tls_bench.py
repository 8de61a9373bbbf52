#!/usr/bin/env python3
"""Scrape latency with TLS and basic authentication: tessor-cli monitor against the node exporter given the
same web configuration file (text-file collector only), side by side in one run, on kept-alive and on new
connections, the two servers scraped in turn so that both meet the same load; then the TLS handshake alone
and its phases as the client saw them. Prints p50 and p99 in milliseconds. Loopback only; bounded in count
and time."""

import argparse
import base64
import http.client
import os
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def percentile(values, p):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(p * len(ordered)))]


def wait_for(condition, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


class Scraper:
    def __init__(self, port, d):
        self.port = port
        self.context = ssl.create_default_context(cafile=os.path.join(d, "ca.crt"))
        self.context.load_cert_chain(os.path.join(d, "client.crt"), os.path.join(d, "client.key"))
        token = base64.b64encode(b"prometheus:scrape-secret").decode()
        self.headers = {"Authorization": "Basic " + token}
        self.connection = None

    def scrape(self, keep):
        if self.connection is None or not keep:
            if self.connection:
                self.connection.close()
            self.connection = http.client.HTTPSConnection("127.0.0.1", self.port, context=self.context, timeout=5)
        start = time.perf_counter()
        self.connection.request("GET", "/metrics", headers=self.headers)
        answer = self.connection.getresponse()
        answer.read()
        elapsed = (time.perf_counter() - start) * 1000.0
        if answer.status != 200:
            raise RuntimeError("status %d" % answer.status)
        if answer.getheader("Connection", "").lower() == "close":
            self.connection.close()
            self.connection = None
        return elapsed


def measure(ports, d, keep, count, pause):
    """Scrapes of every server in turn, one after the other, so that both meet the same load."""
    scrapers = {name: Scraper(port, d) for name, port in ports.items()}
    for scraper in scrapers.values():
        scraper.scrape(keep)  # the first: a handshake and bcrypt on either side
    times = {name: [] for name in ports}
    for _ in range(count):
        for name, scraper in scrapers.items():
            times[name].append(scraper.scrape(keep))
            time.sleep(pause)
    return times


class Phases:
    """When the client wrote or read each handshake message, from the TLS library's message callback."""

    def __init__(self, context):
        self.marks = []
        context._msg_callback = self.seen

    def seen(self, connection, direction, version, content_type, message_type, data):
        if content_type == ssl._TLSContentType.HANDSHAKE:
            self.marks.append((time.perf_counter(), direction, getattr(message_type, "name", "")))

    def at(self, direction, name):
        return next((t for t, d, n in self.marks if d == direction and n == name), None)


def handshakes(ports, d, count, pause):
    """TLS handshakes alone (the client's side of it: until its own Finished), no request, every server in
    turn; with their phases: the TCP connection, from it to the ClientHello written, from there to the server's
    ServerHello read (the server's accept and its first flight), and from that to the server's Finished."""
    kinds = ("handshake only", "  TCP connect", "  connect to ClientHello", "  ClientHello to ServerHello",
             "  ServerHello to Finished")
    times = {(kind, name): [] for kind in kinds for name in ports}
    scrapers = {name: Scraper(port, d) for name, port in ports.items()}
    phases = {name: Phases(scraper.context) for name, scraper in scrapers.items()}
    for _ in range(count):
        for name, port in ports.items():
            phases[name].marks.clear()
            start = time.perf_counter()
            with socket.create_connection(("127.0.0.1", port), timeout=5) as raw:
                connected = time.perf_counter()
                with scrapers[name].context.wrap_socket(raw, server_hostname="127.0.0.1"):
                    done = time.perf_counter()
            hello = phases[name].at("write", "CLIENT_HELLO")
            server_hello = phases[name].at("read", "SERVER_HELLO")
            finished = phases[name].at("read", "FINISHED")
            for kind, value in zip(kinds, (done - start, connected - start, hello - connected, server_hello - hello,
                                           finished - server_hello)):
                times[(kind, name)].append(value * 1000.0)
            time.sleep(pause)
    return times


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--build", default=os.path.join(ROOT, "build"), help="build tree with tessor-cli and tessor-sim")
    p.add_argument("--scrapes", type=int, default=500, help="timed scrapes per server and kind (at most 5000)")
    p.add_argument("--pause-ms", type=float, default=10.0, help="pause between scrapes")
    a = p.parse_args()
    if a.scrapes < 10 or a.scrapes > 5000:
        sys.exit("--scrapes: 10 to 5000")
    d = tempfile.mkdtemp(prefix="tessor-bench-tls-")
    processes = []
    try:
        subprocess.run(["/bin/bash", os.path.join(ROOT, "tests/monitor/tls/make-certs.sh"), d], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        with open(os.path.join(d, "prometheus.hash")) as f:
            hashed = f.read().strip()
        with open(os.path.join(d, "web.yml"), "w") as f:
            f.write("tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
                    "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
                    "basic_auth_users:\n  prometheus: %s\n" % hashed)
        board = os.path.join(d, "board")
        processes.append(subprocess.Popen([os.path.join(a.build, "sim/tessor-sim"), "--no-stdin", "--link", board],
                                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        if not wait_for(lambda: os.path.exists(board), 5):
            sys.exit("tessor-sim did not start")
        err = open(os.path.join(d, "monitor.err"), "w+")
        processes.append(subprocess.Popen([os.path.join(a.build, "cli/tessor-cli"), "monitor", board, "--listen",
                                           "127.0.0.1:0", "--web.config.file", os.path.join(d, "web.yml")],
                                          stdout=subprocess.DEVNULL, stderr=err))
        ports = {}

        def serving():
            m = re.search(r"serving https://127\.0\.0\.1:([0-9]+)/", open(err.name).read())
            if m:
                ports["monitor"] = int(m.group(1))
            return m is not None

        if not wait_for(serving, 5):
            sys.exit("the monitor did not start: " + open(err.name).read())
        ports["node exporter"] = free_port()
        os.mkdir(os.path.join(d, "textfile"))
        processes.append(subprocess.Popen(
            ["/usr/bin/prometheus-node-exporter", "--web.config.file=" + os.path.join(d, "web.yml"),
             "--web.listen-address=127.0.0.1:%d" % ports["node exporter"], "--collector.disable-defaults",
             "--collector.textfile", "--collector.textfile.directory=" + os.path.join(d, "textfile")],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        time.sleep(6)  # the monitor's first pass; the exporter listening
        print("Scrape latency with TLS 1.3, a verified client certificate and basic authentication (bcrypt cost 10)")
        print("%d scrapes each, %.0f ms apart, one client; ms" % (a.scrapes, a.pause_ms))
        print("%-28s %-14s %8s %8s %8s" % ("connection", "server", "p50", "p99", "max"))
        def row(kind, name, times):
            print("%-28s %-14s %8.3f %8.3f %8.3f" % (kind, name, percentile(times, 0.5), percentile(times, 0.99),
                                                     max(times)))

        for keep, kind in ((True, "kept alive"), (False, "new per scrape")):
            for name, times in measure(ports, d, keep, a.scrapes, a.pause_ms / 1000.0).items():
                row(kind, name, times)
        for (kind, name), times in handshakes(ports, d, a.scrapes, a.pause_ms / 1000.0).items():
            row(kind, name, times)
        with open("/proc/loadavg") as f:
            print("load average at the end: " + f.read().strip())
    finally:
        for proc in reversed(processes):
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()
        shutil.rmtree(d, ignore_errors=True)


if __name__ == "__main__":
    main()
