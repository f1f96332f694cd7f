#!/usr/bin/env python3
"""quorvex-server against hostile clients, one or more builds side by side in one run.

usage: python3 server/measure_hostile.py PATH/TO/quorvex-server [OTHER/quorvex-server ...]

Each build is started on a free loopback port with a throwaway data folder and meets, in turn:
a header line that never ends (64 MiB offered), 200,000 headers, sixteen clients sending one
head byte a second while a normal request is timed, a declared 100 GB body that never comes,
and SIGTERM while an upload stalls (then a second SIGTERM when the first has not ended it in
10 s). The table shows what each build did; run it on a quiet machine and quote `uptime`.
"""
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def start(exe, data):
    log = open(os.path.join(data, "server.log"), "w+")
    proc = subprocess.Popen([exe, "--listen", "127.0.0.1:0", "--data", os.path.join(data, "store")],
                            stderr=log, stdout=subprocess.DEVNULL)
    for _ in range(500):
        log.seek(0)
        m = re.search(r"listening on 127\.0\.0\.1:(\d+),", log.read())
        if m:
            return proc, int(m.group(1))
        time.sleep(0.01)
    proc.kill()
    raise SystemExit("%s did not start" % exe)


def peak_rss_mb(proc):
    with open("/proc/%d/status" % proc.pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return 0.0


def connect(port, timeout=20):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    return s


def offer(port, head, total, limit=10.0):
    """Sends head then filler up to total bytes; returns (bytes taken, seconds, first reply line)."""
    s = connect(port)
    s.settimeout(limit)
    sent = 0
    started = time.monotonic()
    chunk = b"a" * 65536
    try:
        s.sendall(head)
        while sent < total and time.monotonic() - started < limit:
            s.sendall(chunk)
            sent += len(chunk)
    except OSError:
        pass
    reply = b""
    try:
        reply = s.recv(200)
    except OSError:
        pass
    s.close()
    return sent, time.monotonic() - started, reply.split(b"\r\n")[0].decode(errors="replace") or "(hung up)"


def timed_get(port, target="/version.php", limit=40.0):
    started = time.monotonic()
    try:
        s = connect(port, limit)
        s.sendall(b"GET " + target.encode() + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
        data = s.recv(4096)
        s.close()
        return "%.3f s" % (time.monotonic() - started) if data.startswith(b"HTTP/1.1 200") else "refused"
    except OSError:
        return "no answer in %.0f s" % limit


def measure(exe):
    out = {}
    with tempfile.TemporaryDirectory(prefix="qv-hostile-") as data:
        proc, port = start(exe, data)
        base = peak_rss_mb(proc)

        sent, secs, line = offer(port, b"GET / HTTP/1.1\r\nHost: x\r\nX-Endless: ", 64 << 20)
        out["endless header line: bytes taken"] = "%.1f MiB in %.1f s, %s" % (sent / 2**20, secs, line)
        out["endless header line: peak RSS growth"] = "%.0f MB" % (peak_rss_mb(proc) - base)

        flood = b"GET / HTTP/1.1\r\nHost: x\r\n" + b"X-a: b\r\n" * 200000 + b"\r\n"
        sent, secs, line = offer(port, flood, 0)
        out["200,000 headers: answer"] = line

        stop = threading.Event()
        slow = []

        def trickle(s):
            try:
                while not stop.is_set():
                    s.send(b"X")
                    stop.wait(1.0)
            except OSError:
                pass
        for _ in range(16):
            s = connect(port)
            s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
            t = threading.Thread(target=trickle, args=(s,), daemon=True)
            t.start()
            slow.append((s, t))
        time.sleep(0.5)
        out["16 slow clients: a version request"] = timed_get(port, limit=15.0)
        stop.set()
        for s, t in slow:
            t.join()
            s.close()

        s = connect(port, 15)
        s.sendall(b"POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                  b"boundary=b\r\nContent-Length: 107374182400\r\n\r\n")
        started = time.monotonic()
        try:
            reply = s.recv(200)
            out["declared 100 GB body: answer"] = "%s after %.2f s" % (
                reply.split(b"\r\n")[0].decode(errors="replace") or "(hung up)", time.monotonic() - started)
        except OSError:
            out["declared 100 GB body: answer"] = "none in 15 s"
        s.close()

        stalled = connect(port)
        stalled.sendall(b"POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; "
                        b"boundary=b\r\nContent-Length: 100000\r\n\r\n--b\r\n")
        time.sleep(0.3)
        started = time.monotonic()
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(10)
            out["SIGTERM with a stalled upload"] = "exited after %.2f s" % (time.monotonic() - started)
        except subprocess.TimeoutExpired:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(5)
                out["SIGTERM with a stalled upload"] = "still running after 10 s; the second SIGTERM ended it"
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
                out["SIGTERM with a stalled upload"] = "still running after 10 s and a second SIGTERM: killed"
        stalled.close()
    return out


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    results = [(exe, measure(exe)) for exe in sys.argv[1:]]
    print("load: " + open("/proc/loadavg").read().strip())
    for key in results[0][1]:
        print(key)
        for exe, out in results:
            print("  %-60s %s" % (exe[-60:], out.get(key, "-")))


if __name__ == "__main__":
    main()
