#!/usr/bin/env python3
"""quorvex-server at scale: a store of many results, read while uploads go on.

usage: python3 server/measure_scale.py PATH/TO/quorvex-server [ROWS]   (ROWS default 1000000)

Lets the server make an empty store, fills it with ROWS made-up results (most of them DDR4 and
DDR5, each from its own machine, plus 5,000 junk memory types), starts the server on it and,
while one client uploads new results without pause, times the compare answer, the results page
(all, one kind, a ranking), a result page, a kind page and a search. Prints the median and the
95th percentile of each, and the uploads stored meanwhile. Quote `uptime` next to the figures.
"""
import http.client
import os
import random
import re
import signal
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

NAMES = ["DATE", "TIME", "OS", "CPU", "Memory", "Timings (TRCD-TRP-TRAS-CR)", "Mainboard", "Ram#1", "Ram#2",
         "Ram#3", "Ram#4", "READ", "WRITE", "COPY", "LATENCY", "RESULT", "CPUCLK", "IDHASH", "COUNTRY", "BENIMAGE",
         "VERSION", "CPUCORE"]
BOUNDARY = "--------120826210755123"
CPUS = ["Intel Core i7-8700K", "AMD Ryzen 7 5800X", "Intel Core i5-12400", "AMD Ryzen 9 7950X", "Intel Core i9-13900K"]
KINDS = [("DDR4", "Dual", 3200, 0.40), ("DDR5", "Dual", 6000, 0.25), ("DDR4", "Single", 2666, 0.10),
         ("DDR3", "Dual", 1600, 0.10), ("DDR5", "Quad", 5600, 0.05), ("DDR2", "Dual", 800, 0.05)]


def start(exe, data):
    log = open(os.path.join(data, "server.log"), "w+")
    proc = subprocess.Popen([exe, "--listen", "127.0.0.1:0", "--data", data, "--upload-burst", "0"],
                            stderr=log, stdout=subprocess.DEVNULL)
    started = time.monotonic()
    while time.monotonic() - started < 600:
        log.seek(0)
        ports = re.findall(r"listening on 127\.0\.0\.1:(\d+),", log.read())
        if ports and proc.poll() is None:
            return proc, int(ports[-1]), time.monotonic() - started
        if proc.poll() is not None:
            raise SystemExit("the server ended: see " + log.name)
        time.sleep(0.05)
    raise SystemExit("the server did not start")


def fill(path, rows):
    db = sqlite3.connect(path)
    db.execute("PRAGMA synchronous=OFF")
    rnd = random.Random(7)
    columns = ("received_at, link_client, date, time, os, cpu, memory, timings, mainboard, ram1, ram2, ram3, ram4, "
               "read_mbs, write_mbs, copy_mbs, latency_ns, score, cpuclk_mhz, idhash, country, benimage, version, "
               "cpu_cores, mem_type, mem_type_key, channels, channels_key, mem_clock_mhz, record_file")
    now = int(time.time())

    def make(i):
        r = rnd.random()
        acc = 0.0
        for t, c, clock, share in KINDS:
            acc += share
            if r < acc:
                break
        else:
            t, c, clock = "JUNK%04d" % rnd.randrange(5000), "Dual", 3000
        clock = int(clock * rnd.uniform(0.8, 1.25))
        peak = clock * 8 * (2 if c == "Dual" else 4 if c == "Quad" else 1)
        rd, wr, cp = (int(peak * rnd.uniform(0.2, 0.6)) for _ in range(3))
        score = round((rd + wr + cp) / 3000.0, 2)
        lat = round(rnd.uniform(55, 110), 1)
        mem = "16 GB - %s - %d MHz - %s Channel" % (t, clock, c)
        return (now - rows + i, "%016x" % i, "2026-12-08", "12:00:00", "Windows 10", rnd.choice(CPUS), mem,
                "16-18-18-36", "Asus - Prime", "G.skill - F4", "G.skill - F4", "* - *", "* - *", rd, wr, cp, lat,
                score, 4000, "%032X" % i, "DE", "x.tmp", "3.0.24.109", 12, t, t.upper(), c, c.upper(), clock,
                b"x")
    batch = []
    for i in range(rows):
        batch.append(make(i))
        if len(batch) == 50000 or i == rows - 1:
            db.executemany("INSERT INTO results (%s) VALUES (%s)" % (columns, ",".join("?" * 30)), batch)
            batch = []
    db.execute("INSERT OR REPLACE INTO votes SELECT mem_type_key, channels_key, idhash, id, score, mem_clock_mhz, "
               "latency_ns, read_mbs, write_mbs, copy_mbs FROM results ORDER BY id")
    db.commit()
    db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    db.close()


def record(n):
    values = ["2026-12-08", "21:07:55", "MS Windows 10 Pro ", "Intel Core i7-8700K",
              "16 GB - DDR4 - 3201 MHz - Dual Channel", "16-18-18-36-560-2T ", "Asus - Prime Z370-a - Rev 1.xx",
              "G.skill - F4-3200C16", "G.skill - F4-3200C16", "* - *", "* - *", "13847", "7955", "9381", "65.5",
              "10.39", "4389", "F%031X" % n, "DE", "u%d.tmp" % n, "3.0.24.109", "12"]
    return ("".join('"%s";' % x for x in NAMES) + "\r\n" + "".join('"%s";' % v for v in values) + "\r\n").encode()


def post(port, n):
    data = record(n)
    body = ('--%s\r\nContent-Disposition: form-data; name="file"; filename="C:\\Temp\\u%d.tmp"\r\n'
            'Content-Type: multipart/form-data\r\n\r\n' % (BOUNDARY, n)).encode() + data + \
        b"\r\n--" + BOUNDARY.encode() + b"--\r\n"
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    conn.request("POST", "/upload/upload_new.php", body, {"Content-Type": "multipart/form-data; boundary=" + BOUNDARY})
    reply = conn.getresponse()
    reply.read()
    conn.close()
    return reply.status == 200


def timed(port, target, times):
    spent = []
    for _ in range(times):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
        started = time.perf_counter()
        conn.request("GET", target)
        reply = conn.getresponse()
        body = reply.read()
        spent.append((time.perf_counter() - started) * 1000)
        conn.close()
        if reply.status != 200:
            raise SystemExit("%s answered %d" % (target, reply.status))
    spent.sort()
    return statistics.median(spent), spent[int(0.95 * (len(spent) - 1))], len(body)


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    exe = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 1000000
    with tempfile.TemporaryDirectory(prefix="qvserver-scale-") as data:
        proc, _, _ = start(exe, data)
        proc.send_signal(signal.SIGTERM)
        proc.wait(30)
        started = time.monotonic()
        fill(os.path.join(data, "results.sqlite"), rows)
        print("filled %d results in %.0f s" % (rows, time.monotonic() - started))
        proc, port, startup = start(exe, data)
        print("server start with them: %.1f s" % startup)
        stop = threading.Event()
        stored = [0]

        def upload():
            n = 0
            while not stop.is_set():
                n += 1
                if post(port, n):
                    stored[0] += 1
        uploader = threading.Thread(target=upload, daemon=True)
        uploader.start()
        time.sleep(1)
        began = time.monotonic()
        targets = [("compare (DDR4 dual)", "/compare.php?P1=DDR4&&P2=Dual", 200),
                   ("page /", "/", 30),
                   ("page of one kind", "/?type=DDR4&channels=Dual", 30),
                   ("ranking by score", "/?type=DDR4&channels=Dual&sort=score", 30),
                   ("ranking, page 200", "/?type=DDR4&channels=Dual&sort=score&offset=10000", 10),
                   ("result page", "/result/%d" % (rows // 2), 30),
                   ("kind page (SVG)", "/kind?type=DDR4&channels=Dual", 10),
                   ("search 'ryzen 9'", "/?q=ryzen%209", 5),
                   ("search a word no result has", "/?q=nowhere", 5),
                   ("older page", "/?before=%d" % (rows // 3), 30)]
        print("load: " + open("/proc/loadavg").read().strip())
        print("%-28s %10s %10s %10s" % ("", "median ms", "p95 ms", "bytes"))
        for name, target, times in targets:
            median, p95, size = timed(port, target, times)
            print("%-28s %10.2f %10.2f %10d" % (name, median, p95, size))
        stop.set()
        uploader.join()
        print("uploads stored meanwhile: %d in %.1f s" % (stored[0], time.monotonic() - began))
        proc.send_signal(signal.SIGTERM)
        proc.wait(30)


if __name__ == "__main__":
    main()
