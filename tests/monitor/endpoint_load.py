#!/usr/bin/env python3
"""Bounded loopback load on the monitor's endpoint: a crowd of idle and trickling connections and rounds of
multi-range requests, while a valid scrape is timed. Prints the figures as key=value lines; exits 1 when a
given limit is broken, 2 on bad usage. Stops by itself after --duration seconds at the most."""

import argparse
import resource
import socket
import sys
import threading
import time


def parse_args():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("--port", type=int, required=True, help="the endpoint's port on 127.0.0.1")
    p.add_argument("--pid", type=int, help="the monitor's process, for its resident memory")
    p.add_argument("--held", type=int, default=0, help="connections opened and left idle")
    p.add_argument("--trickle", type=int, default=0, help="connections sending a request a byte at a time")
    p.add_argument("--sources", type=int, default=16, help="loopback source addresses the crowd comes from")
    p.add_argument("--ranges", type=int, default=0, help="multi-range requests sent at once, per round")
    p.add_argument("--rounds", type=int, default=1, help="rounds of multi-range requests")
    p.add_argument("--scrapes", type=int, default=50, help="valid scrapes timed")
    p.add_argument("--scrape-gap", type=float, default=0.05, help="seconds between timed scrapes")
    p.add_argument("--hold", type=float, default=0.0,
                   help="seconds the crowd is kept after the scrapes (for scrapes timed by another program)")
    p.add_argument("--duration", type=float, default=60.0, help="hard limit of the whole run, seconds")
    p.add_argument("--max-scrape-ms", type=float, help="limit on every single scrape")
    p.add_argument("--max-p99-ms", type=float, help="limit on the 99th percentile scrape")
    p.add_argument("--max-rss-mib", type=float, help="limit on the monitor's resident memory")
    p.add_argument("--min-held", type=int, default=0, help="crowd connections that must be open at once")
    a = p.parse_args()
    if a.duration <= 0 or a.duration > 600 or a.held + a.trickle > 5000 or a.ranges > 256:
        p.error("counts and time are bounded: at most 5000 connections, 256 ranges, 600 s")
    return a


def raise_file_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    want = min(hard, max(soft, needed + 64))
    resource.setrlimit(resource.RLIMIT_NOFILE, (want, hard))


def rss_mib(pid):
    if not pid:
        return None
    try:
        with open(f"/proc/{pid}/status") as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
    except OSError:
        return None
    return None


def connect(port, source, timeout=2.0):
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.settimeout(timeout)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def read_response(s, limit=64 << 20):
    """Status code and body length of one response on a Connection: close request."""
    data = b""
    while len(data) < limit:
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    parts = head.split(b" ", 2)
    status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
    return status, len(body), len(data)


class Crowd:
    """Connections kept open: idle ones send half a request line, trickling ones add a byte now and then.
    One the server lets go is opened again, so the crowd keeps its size."""

    def __init__(self, port, held, trickle, sources):
        self.port = port
        self.sources = [f"127.0.0.{2 + i}" for i in range(max(1, sources))]
        self.slots = [("held", None)] * held + [("trickle", None)] * trickle
        self.reopened = 0
        self.refused = 0
        self.next_byte = 0.0

    def fill(self):
        for i, (kind, s) in enumerate(self.slots):
            if s is not None:
                continue
            try:
                s = connect(self.port, self.sources[i % len(self.sources)], timeout=0.5)
                s.sendall(b"GET /metr" if kind == "held" else b"GET /metrics HTTP/1.1\r\nX-Slow: ")
                s.setblocking(False)
                self.slots[i] = (kind, s)
            except OSError:
                self.refused += 1

    def tend(self):
        """Notices closed connections, trickles a byte on the others every half second, refills."""
        now = time.monotonic()
        trickle_now = now >= self.next_byte
        if trickle_now:
            self.next_byte = now + 0.5
        for i, (kind, s) in enumerate(self.slots):
            if s is None:
                continue
            closed = False
            try:
                if s.recv(4096) == b"":
                    closed = True
            except BlockingIOError:
                pass
            except OSError:
                closed = True
            if not closed and kind == "trickle" and trickle_now:
                try:
                    s.send(b"a")
                except OSError:
                    closed = True
            if closed:
                s.close()
                self.slots[i] = (kind, None)
                self.reopened += 1
        self.fill()

    def open_count(self):
        return sum(1 for _, s in self.slots if s is not None)

    def close(self):
        for _, s in self.slots:
            if s is not None:
                s.close()


def multi_range_round(port, count):
    """count requests at once, each asking for many overlapping byte ranges; their statuses and sizes."""
    ranges = ",".join(["0-"] * 200)
    request = f"GET /metrics HTTP/1.1\r\nHost: x\r\nRange: bytes={ranges}\r\nConnection: close\r\n\r\n"
    socks = []
    for i in range(count):
        try:
            s = connect(port, f"127.0.1.{1 + i % 200}", timeout=5.0)
            s.sendall(request.encode())
            socks.append(s)
        except OSError:
            pass
    out = []
    for s in socks:
        try:
            out.append(read_response(s))
        except OSError:
            out.append((0, 0, 0))
        s.close()
    return out


def scrape(port):
    start = time.monotonic()
    s = connect(port, "127.0.0.1", timeout=5.0)
    s.sendall(b"GET /metrics HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    status, body, _ = read_response(s)
    s.close()
    return status, body, (time.monotonic() - start) * 1000.0


def percentile(values, p):
    if not values:
        return float("nan")
    v = sorted(values)
    return v[min(len(v) - 1, int(round(p / 100.0 * (len(v) - 1))))]


def main():
    a = parse_args()
    deadline = time.monotonic() + a.duration
    raise_file_limit(a.held + a.trickle + a.ranges + 16)
    status, whole, _ = scrape(a.port)
    if status != 200:
        print(f"error=the endpoint does not serve /metrics (status {status})")
        return 1
    rss_start = rss_mib(a.pid)

    crowd = Crowd(a.port, a.held, a.trickle, a.sources)
    crowd.fill()
    max_open = crowd.open_count()
    range_results = []
    for _ in range(a.rounds):
        if time.monotonic() > deadline:
            break
        range_results += multi_range_round(a.port, a.ranges)
        crowd.tend()
    rss_peak = max([v for v in (rss_start, rss_mib(a.pid)) if v is not None], default=None)

    # The crowd is tended by a thread of its own, so the timed scrapes come independently of its bursts,
    # as a Prometheus server's would.
    stop = threading.Event()
    opened = [max_open]

    def tend():
        while not stop.is_set() and time.monotonic() < deadline:
            crowd.tend()
            opened[0] = max(opened[0], crowd.open_count())
            time.sleep(0.01)

    tender = threading.Thread(target=tend)
    tender.start()
    times = []
    failed = 0
    for _ in range(a.scrapes):
        if time.monotonic() > deadline:
            break
        try:
            st, body, ms = scrape(a.port)
            times.append(ms)
            failed += 0 if st == 200 and body > 0 else 1
        except OSError:
            failed += 1
        r = rss_mib(a.pid)
        if r is not None:
            rss_peak = max(rss_peak or 0, r)
        time.sleep(a.scrape_gap)
    hold_end = min(deadline, time.monotonic() + a.hold)
    while time.monotonic() < hold_end:
        r = rss_mib(a.pid)
        if r is not None:
            rss_peak = max(rss_peak or 0, r)
        time.sleep(0.1)
    stop.set()
    tender.join()
    max_open = opened[0]
    crowd.close()

    range_codes = sorted({c for c, _, _ in range_results})
    range_biggest = max([n for _, _, n in range_results], default=0)
    print(f"whole_body_bytes={whole}")
    print(f"crowd_open_max={max_open} crowd_reopened={crowd.reopened} crowd_refused={crowd.refused}")
    print(f"range_requests={len(range_results)} range_statuses={range_codes} range_biggest_response={range_biggest}")
    print(f"scrapes={len(times)} failed={failed} p50_ms={percentile(times, 50):.2f} "
          f"p99_ms={percentile(times, 99):.2f} max_ms={max(times, default=float('nan')):.2f}")
    if rss_peak is not None:
        print(f"rss_start_mib={rss_start:.1f} rss_peak_mib={rss_peak:.1f}")

    faults = []
    if a.scrapes and (failed or len(times) < a.scrapes):
        faults.append(f"{failed} scrapes failed, {a.scrapes - len(times)} not made in time")
    if any(c not in (200, 416) for c, _, _ in range_results):
        faults.append(f"a multi-range request was answered with {range_codes}, not 200 or 416")
    if range_biggest > 2 * whole + 4096:
        faults.append(f"a multi-range answer of {range_biggest} bytes outgrew the whole body")
    if a.max_scrape_ms is not None and max(times, default=0) > a.max_scrape_ms:
        faults.append(f"a scrape took {max(times):.1f} ms")
    if a.max_p99_ms is not None and percentile(times, 99) > a.max_p99_ms:
        faults.append(f"the 99th percentile scrape took {percentile(times, 99):.1f} ms")
    if a.max_rss_mib is not None and rss_peak is not None and rss_peak > a.max_rss_mib:
        faults.append(f"resident memory reached {rss_peak:.1f} MiB")
    if max_open < a.min_held:
        faults.append(f"only {max_open} crowd connections were open at once")
    for f in faults:
        print("fault=" + f)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
