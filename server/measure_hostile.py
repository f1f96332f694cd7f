#!/usr/bin/env python3
"""quorvex-server against hostile clients, one or more builds side by side in one run.

usage: python3 server/measure_hostile.py PATH/TO/quorvex-server [OTHER/quorvex-server ...]

Each build is started on a free loopback port with a throwaway data folder and meets, in turn:
a header line that never ends (64 MiB offered), 200,000 headers, sixteen clients sending one
head byte a second while a normal request is timed, a declared 100 GB body that never comes,
and SIGTERM while an upload stalls (then a second SIGTERM when the first has not ended it in
10 s). Then, each from a fresh data folder, the attacks on the shared data and on fair shares:
made-up machines from one /24 against 100 honest ones, a stranger's upload under the leader's
IDHASH, look-alike kinds, costly searches and downloads, a picture flood, slow uploads and
partial heads from many addresses, and HTTP details. Loopback addresses 127.x.y.z stand for
distinct clients (127.x.y.0/24 for networks). The table shows what each build did; run it on a
quiet machine and quote `uptime`.
"""
import http.client
import json
import struct
import zlib
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
    return start_with(exe, data)


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


NAMES = ["DATE", "TIME", "OS", "CPU", "Memory", "Timings (TRCD-TRP-TRAS-CR)", "Mainboard", "Ram#1", "Ram#2",
         "Ram#3", "Ram#4", "READ", "WRITE", "COPY", "LATENCY", "RESULT", "CPUCLK", "IDHASH", "COUNTRY", "BENIMAGE",
         "VERSION", "CPUCORE"]
BOUNDARY = "--------120826210755123"


def start_with(exe, data, *options):
    log = open(os.path.join(data, "server.log"), "w+")
    proc = subprocess.Popen([exe, "--listen", "127.0.0.1:0", "--data", os.path.join(data, "store")] + list(options),
                            stderr=log, stdout=subprocess.DEVNULL)
    for _ in range(500):
        log.seek(0)
        m = re.search(r"listening on 127\.0\.0\.1:(\d+),", log.read())
        if m:
            return proc, int(m.group(1))
        time.sleep(0.01)
    proc.kill()
    raise SystemExit("%s did not start" % exe)


def stop(proc):
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(15)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


def rss_mb(proc):
    with open("/proc/%d/status" % proc.pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def record(n, memory="16 GB - DDR4 - 3200 MHz - Dual Channel", bw=(24000, 20000, 22000), latency="70.0",
           text=None, name=None, time_of_day="21:07:55"):
    score = "%.2f" % (sum(bw) / 3000.0)
    cpu = text if text is not None else "Intel Core i7-8700K"
    values = ["2026-12-08", time_of_day, "MS Windows 10 Pro ", cpu, memory, "16-18-18-36-560-2T ",
              text if text is not None else "Asus - Prime Z370-a - Rev 1.xx",
              text if text is not None else "G.skill - F4-3200C16", "* - *", "* - *", "* - *",
              str(bw[0]), str(bw[1]), str(bw[2]), latency, score, "4389",
              "%032X" % n, "DE", name or "m%d.tmp" % n, "3.0.24.109", "12"]
    return ("".join('"%s";' % x for x in NAMES) + "\r\n" + "".join('"%s";' % v for v in values) + "\r\n").encode()


def png58():
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", b"x" * 1) + chunk(b"IEND", b""))


def post(port, path, data, source="127.0.0.1"):
    body = ('--%s\r\nContent-Disposition: form-data; name="file"; filename="%s"\r\n'
            'Content-Type: multipart/form-data\r\nContent-Transfer-Encoding: binary\r\n\r\n'
            % (BOUNDARY, path)).encode() + data + b"\r\n--" + BOUNDARY.encode() + b"--\r\n"
    try:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30, source_address=(source, 0))
        conn.request("POST", "/upload/upload_new.php", body,
                     {"Content-Type": "multipart/form-data; boundary=" + BOUNDARY})
        reply = conn.getresponse()
        text = reply.read().decode(errors="replace")
        conn.close()
        return reply.status, text
    except OSError as e:
        return 0, str(e)


def get(port, target, source="127.0.0.1", timeout=60):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout, source_address=(source, 0))
    started = time.monotonic()
    conn.request("GET", target)
    reply = conn.getresponse()
    body = reply.read()
    conn.close()
    return reply.status, body, time.monotonic() - started, dict(reply.getheaders())


def honest(i):
    """The i-th honest DDR4 dual-channel machine, each on a network of its own."""
    clock = 2400 + (i * 37) % 1200
    read = 18000 + (i * 173) % 12000
    return record(i + 1, "16 GB - DDR4 - %d MHz - Dual Channel" % clock, (read, read - 3000, read - 1500),
                  "%d.0" % (60 + i % 30)), "127.%d.%d.1" % (1 + i // 256, i % 256)


def compare(port):
    return get(port, "/compare.php?P1=DDR4&&P2=Dual")[1].decode().split("<BR />")


def measure_trust(exe):
    out = {}
    # 100 honest machines, then 60 made-up ones at the plausible maxima from one /24.
    with tempfile.TemporaryDirectory(prefix="qv-sybil-") as data:
        proc, port = start_with(exe, data, "--upload-burst", "0")
        for i in range(100):
            rec, source = honest(i)
            post(port, "C:\\T\\m%d.tmp" % i, rec, source)
        # The leader's IDHASH from a stranger's network, at 0.3 GByte/s.
        top = json.loads(get(port, "/results.json?type=DDR4&channels=Dual&sort=score&limit=1")[1])["results"][0]
        status, body, _, _ = get(port, top["page"])
        out["vote hijack: leader's IDHASH on its page"] = "published" if any(
            ("%032X" % (i + 1)).encode() in body for i in range(100)) else "not published"
        # Find the leader's IDHASH from our own data: the honest machine with the top score.
        best = max(range(100), key=lambda i: 18000 + (i * 173) % 12000)
        post(port, "C:\\T\\h.tmp", record(best + 1, bw=(300, 300, 300), time_of_day="22:00:00"), "127.250.0.9")
        after = json.loads(get(port, "/results.json?type=DDR4&channels=Dual&sort=score&limit=1")[1])["results"][0]
        out["vote hijack: ranking's top score before / after"] = "%s / %s" % (top["score_gbs"], after["score_gbs"])
        before = compare(port)
        stored = 0
        for k in range(60):
            status, _ = post(port, "C:\\T\\f%d.tmp" % k,
                             record(0x10000 + k, "16 GB - DDR4 - 6000 MHz - Dual Channel", (190000,) * 3, "20.0"),
                             "127.200.0.%d" % (1 + k))
            stored += status == 200
        after = compare(port)
        out["sybil: 100 honest, compare answer"] = " ".join(before)
        out["sybil: +60 fakes from one /24 (burst off), answer"] = "%s (%d stored)" % (" ".join(after), stored)
        out["sybil: score high end after / before"] = "%.2f x" % (float(after[1]) / float(before[1]))
        out["sybil: clock high end after / before"] = "%.2f x" % (float(after[3]) / float(before[3]))
        ranked = json.loads(get(port, "/results.json?type=DDR4&channels=Dual&sort=score&limit=10")[1])["results"]
        out["sybil: fakes in the ranking's top 10"] = str(sum(1 for r in ranked if r["score_gbs"] == 190))
        # Look-alike kinds.
        post(port, "C:\\T\\z.tmp", record(0x20000, "16 GB - DDR4\u200b - 3200 MHz - Dual Channel"), "127.251.0.1")
        rows = get(port, "/")[1].decode()
        out["look-alike: DDR4+U+200B a kind of its own on /"] = "yes" if "DDR4\u200b" in rows else "no"
        stop(proc)
    return out


def measure_costs(exe):
    out = {}
    with tempfile.TemporaryDirectory(prefix="qv-costs-") as data:
        proc, port = start_with(exe, data, "--upload-burst", "0")
        width = 1024
        if post(port, "C:\\T\\w.tmp", record(0x30000, text="<" * width), "127.9.0.1")[0] != 200:
            width = 160
        out["search: longest text stored per field"] = "%d bytes" % width
        for i in range(2000):
            post(port, "C:\\T\\s%d.tmp" % i,
                 record(0x40000 + i, "16 GB - J%d - 3200 MHz - Dual Channel" % i, text="<" * (width - 6) + "%06d" % i),
                 "127.%d.%d.2" % (10 + i // 256 % 100, i % 256))
        out["2,000 junk kinds: kinds listed on /"] = str(len(set(re.findall(rb"type=J\d+", get(port, "/")[1]))))
        pattern = "%3C" * 99 + "q"  # 99 '<' then a letter: every text nearly matches, none does
        searches = [get(port, "/?q=" + pattern)[2] for _ in range(3)]
        out["search of 100 characters over 2,000 long texts"] = "%.3f s" % min(searches)
        done = []
        threads = [threading.Thread(target=lambda: done.append(get(port, "/?q=" + pattern)[0])) for _ in range(8)]
        for t in threads:
            t.start()
        time.sleep(0.05)
        out["8 such searches at once: a version request"] = "%.3f s" % get(port, "/version.php", "127.99.0.1")[2]
        for t in threads:
            t.join()
        out["8 such searches at once: answers"] = " ".join(str(x) for x in sorted(done))
        status, body, secs, _ = get(port, "/results.json?limit=500")
        out["GET /results.json?limit=500 (49 bytes)"] = "%.1f MB in %.2f s" % (len(body) / 1e6, secs)
        base = rss_mb(proc)
        held = []
        for k in range(64):
            s = socket.create_connection(("127.0.0.1", port), timeout=20)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            s.sendall(b"GET /results.json?limit=500 HTTP/1.1\r\nHost: x\r\n\r\n")
            held.append(s)
        time.sleep(3)
        out["64 such downloads left unread: RSS growth"] = "%.0f MB" % (rss_mb(proc) - base)
        for s in held:
            s.close()
        stop(proc)
    return out


def measure_shares(exe):
    out = {}
    with tempfile.TemporaryDirectory(prefix="qv-pictures-") as data:
        proc, port = start_with(exe, data)
        picture = png58()
        codes = {}
        for k in range(2000):
            status, _ = post(port, "C:\\T\\p%d.tmp.png" % k, picture, "127.210.0.%d" % (1 + k % 100))
            codes[status] = codes.get(status, 0) + 1
        out["2,000 pictures from 100 addresses of one /24"] = " ".join("%d x%d" % kv for kv in sorted(codes.items()))
        status, text = post(port, "C:\\T\\honest.tmp.png", picture, "127.211.0.1")
        out["picture flood: an honest picture after it"] = "%d %s" % (status, text.strip())
        stop(proc)
    with tempfile.TemporaryDirectory(prefix="qv-slots-") as data:
        proc, port = start_with(exe, data)
        base = rss_mb(proc)
        stop_event = threading.Event()
        held = []
        lock = threading.Lock()

        def slow_uploads(address):
            for _ in range(20):
                if stop_event.is_set():
                    return
                try:
                    s = socket.socket()
                    s.bind((address, 0))
                    s.settimeout(5)
                    s.connect(("127.0.0.1", port))
                    s.sendall(b"POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data;"
                              b" boundary=b\r\nContent-Length: 2090000\r\n\r\n" + b"x" * 2000000)
                    with lock:
                        held.append(s)
                except OSError:
                    pass
        threads = [threading.Thread(target=slow_uploads, args=("127.%d.0.1" % (100 + a),)) for a in range(30)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        time.sleep(1)
        out["600 slow uploads from 30 networks: connections that took a body"] = str(len(held))
        out["600 slow uploads: RSS growth"] = "%.0f MB" % (rss_mb(proc) - base)
        out["600 slow uploads: a version request"] = timed_get(port, limit=40.0)
        try:
            out["600 slow uploads: a compare request"] = "%.3f s" % get(port, "/compare.php?P1=DDR4&&P2=Dual",
                                                                         "127.99.0.2", 40)[2]
        except OSError:
            out["600 slow uploads: a compare request"] = "no answer in 40 s"
        stop_event.set()
        for s in held:
            s.close()
        held.clear()
        time.sleep(1)
        # 9 addresses x 64 partial GET heads, reopened when cut.
        stop_event.clear()

        def partial_heads(address):
            mine = []
            while not stop_event.is_set():
                while len(mine) < 64 and not stop_event.is_set():
                    try:
                        s = socket.socket()
                        s.bind((address, 0))
                        s.settimeout(2)
                        s.connect(("127.0.0.1", port))
                        s.sendall(b"GET / HTTP/1.1\r\nHost: x\r\n")
                        mine.append(s)
                    except OSError:
                        time.sleep(0.05)
                        break
                for s in list(mine):
                    try:
                        s.setblocking(False)
                        if s.recv(1) == b"":
                            mine.remove(s)
                            s.close()
                    except BlockingIOError:
                        pass
                    except OSError:
                        mine.remove(s)
                        s.close()
                stop_event.wait(0.2)
            for s in mine:
                s.close()
        threads = [threading.Thread(target=partial_heads, args=("127.%d.0.1" % (150 + a),)) for a in range(9)]
        for t in threads:
            t.start()
        time.sleep(3)
        worst = 0.0
        for _ in range(5):
            started = time.monotonic()
            try:
                get(port, "/version.php", "127.99.0.3", 30)
            except OSError:
                pass
            worst = max(worst, time.monotonic() - started)
            time.sleep(0.5)
        out["9 x 64 partial heads, reopened: slowest of 5 version requests"] = "%.3f s" % worst
        stop_event.set()
        for t in threads:
            t.join()
        # HTTP details.
        s = connect(port)
        s.sendall(b"GET /version.php HTTP/1.1\r\nConnection: close\r\n\r\n")
        out["HTTP/1.1 without Host"] = s.recv(200).split(b"\r\n")[0].decode(errors="replace")
        s.close()
        s = connect(port)
        s.sendall(b"POST /upload/upload_new.php HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: 50\r\n"
                  b"Connection: close\r\n\r\nhello")
        out["two Content-Lengths that disagree"] = s.recv(200).split(b"\r\n")[0].decode(errors="replace")
        s.close()
        csp = get(port, "/")[3].get("Content-Security-Policy", "")
        out["pages may be framed by other sites"] = "no" if "frame-ancestors 'none'" in csp else "yes"
        stop(proc)
    return out


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
    results = []
    for exe in sys.argv[1:]:
        out = measure(exe)
        for part in (measure_trust, measure_costs, measure_shares):
            out.update(part(exe))
        results.append((exe, out))
    print("load: " + open("/proc/loadavg").read().strip())
    for key in results[0][1]:
        print(key)
        for exe, out in results:
            print("  %-60s %s" % (exe[-60:], out.get(key, "-")))


if __name__ == "__main__":
    main()
