#!/usr/bin/env python3
"""Upload throughput of quorvex-server, one client against eight, measured side by side in one run.

usage: python3 server/measure_uploads.py PATH/TO/quorvex-server [SUBMISSIONS]

Starts the server on a free loopback port with a throwaway data folder, sends SUBMISSIONS
submissions (picture then record, as the program posts them) from one client and then from
eight, and prints the rates, their ratio, and the time of a compare answer and of the results
page. Run it on a quiet machine and quote `uptime` next to the figures.
"""
import http.client
import os
import re
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

NAMES = ["DATE", "TIME", "OS", "CPU", "Memory", "Timings (TRCD-TRP-TRAS-CR)", "Mainboard", "Ram#1", "Ram#2",
         "Ram#3", "Ram#4", "READ", "WRITE", "COPY", "LATENCY", "RESULT", "CPUCLK", "IDHASH", "COUNTRY", "BENIMAGE",
         "VERSION", "CPUCORE"]
BOUNDARY = "--------120826210755123"


def picture(width=800, height=600):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)
    rows = os.urandom(width * height * 3 // 8) * 8  # compresses about as badly as a window picture
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 1)) +
            chunk(b"IEND", b""))


def record(n, name):
    values = ["2026-12-08", "21:07:55", "MS Windows 10 Pro ", "Intel Core i7-8700K",
              "16 GB - DDR4 - 3201 MHz - Dual Channel", "16-18-18-36-560-2T ", "Asus - Prime Z370-a - Rev 1.xx",
              "G.skill - F4-3200C16", "G.skill - F4-3200C16", "* - *", "* - *", "13847", "7955", "9381", "65.5",
              "10.39", "4389", "%032X" % n, "DE", name, "3.0.24.109", "12"]
    lines = "".join('"%s";' % x for x in NAMES) + "\r\n" + "".join('"%s";' % v for v in values) + "\r\n"
    return lines.encode()


def post(port, path, data):
    body = ('--%s\r\nContent-Disposition: form-data; name="file"; filename="%s"\r\n'
            'Content-Type: multipart/form-data\r\nContent-Transfer-Encoding: binary\r\n\r\n'
            % (BOUNDARY, path)).encode() + data + b"\r\n--" + BOUNDARY.encode() + b"--\r\n"
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    conn.request("POST", "/upload/upload_new.php", body,
                 {"Content-Type": "multipart/form-data; boundary=" + BOUNDARY,
                  "User-Agent": "Mozilla (Windows) Gecko Firefox", "Accept": "text/html, */*"})
    reply = conn.getresponse()
    reply.read()
    if reply.status != 200:
        raise SystemExit("upload refused: %d" % reply.status)


def get(port, target):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    conn.request("GET", target)
    reply = conn.getresponse()
    reply.read()


def main():
    if len(sys.argv) < 2:
        raise SystemExit(__doc__)
    exe = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 200
    png = picture()
    with tempfile.TemporaryDirectory(prefix="qvserver-measure-") as data:
        server = subprocess.Popen([exe, "--listen", "127.0.0.1:0", "--data", data, "--upload-burst", "0"],
                                  stderr=subprocess.PIPE, text=True)
        try:
            port = int(re.search(r"listening on 127\.0\.0\.1:(\d+)", server.stderr.readline()).group(1))
            threading.Thread(target=server.stderr.read, daemon=True).start()  # drain the request log

            def submit(n):
                name = "m%d.tmp" % n
                folder = "C:\\Users\\u%d\\Temp\\" % n
                post(port, folder + name + ".png", png)
                post(port, folder + name, record(n, name))

            start = time.perf_counter()
            for n in range(count):
                submit(n)
            one = time.perf_counter() - start

            start = time.perf_counter()
            workers = [threading.Thread(target=lambda k=k: [submit(n) for n in range(count + k, 2 * count, 8)])
                       for k in range(8)]
            for w in workers:
                w.start()
            for w in workers:
                w.join()
            eight = time.perf_counter() - start

            start = time.perf_counter()
            for _ in range(200):
                get(port, "/compare.php?P1=DDR4&&P2=Dual")
            compare = (time.perf_counter() - start) / 200
            start = time.perf_counter()
            for _ in range(20):
                get(port, "/")
            page = (time.perf_counter() - start) / 20
        finally:
            server.terminate()
            server.wait(timeout=30)

    print("picture %d bytes; %d submissions each run" % (len(png), count))
    print("one client   : %6.1f submissions/s" % (count / one))
    print("eight clients: %6.1f submissions/s" % (count / eight))
    print("ratio eight/one: %.2f" % (one / eight))
    print("compare answer over %d results: %.2f ms; results page: %.1f ms" % (2 * count, compare * 1000, page * 1000))


if __name__ == "__main__":
    main()
