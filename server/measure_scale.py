#!/usr/bin/env python3
"""quorvex-server at scale, on SQLite and on PostgreSQL side by side, read while uploads go on.

usage: python3 server/measure_scale.py PATH/TO/quorvex-server [--sqlite ROWS] [--postgres ROWS]
                                       [--connection CONNINFO]
  --sqlite ROWS      results in the SQLite store (default 1000000; 0: skip it)
  --postgres ROWS    results in the PostgreSQL store (default 10000000; 0: skip it); the database is
                     --connection's, else $QUORVEX_TEST_POSTGRES: scripts/with-postgres python3 ...
Each store is made by the server, then filled inside the database itself (one INSERT ... SELECT over
a generated series: most results DDR4 and DDR5, four from each machine, machines spread over 100,000
networks, plus 5,000 junk memory types), then the server starts on it and, while one client uploads
new results without pause, the compare answer, the results page (all, one kind, a ranking), a result
page, a kind page and searches are timed. Prints the median and 95th percentile of each per store,
and PostgreSQL's over SQLite's. Quote the load line next to the figures.
"""
import http.client
import os
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

# The generated rows, the same on both stores: machine m = i % machines picks the kind and clock,
# i the figures. Columns as the stores name them.
COLUMNS = ("received_at, link_client, date, time, os, cpu, memory, timings, mainboard, ram1, ram2, ram3, ram4, "
           "read_mbs, write_mbs, copy_mbs, latency_ns, score, cpuclk_mhz, idhash, country, benimage, version, "
           "cpu_cores, mem_type, mem_type_key, channels, channels_key, mem_clock_mhz, record_file, network")
KIND = """CASE WHEN k < 40 THEN 'DDR4' WHEN k < 65 THEN 'DDR5' WHEN k < 75 THEN 'DDR4' WHEN k < 85 THEN 'DDR3'
  WHEN k < 90 THEN 'DDR5' WHEN k < 95 THEN 'DDR2' ELSE 'JUNK' || (m % 5000) END"""
CHANNELS = "CASE WHEN k >= 65 AND k < 75 THEN 'Single' WHEN k >= 85 AND k < 90 THEN 'Quad' ELSE 'Dual' END"
COUNT = "CASE WHEN k >= 65 AND k < 75 THEN 1 WHEN k >= 85 AND k < 90 THEN 4 ELSE 2 END"
BASE = """CASE WHEN k < 40 THEN 3200 WHEN k < 65 THEN 6000 WHEN k < 75 THEN 2666 WHEN k < 85 THEN 1600
  WHEN k < 90 THEN 5600 WHEN k < 95 THEN 800 ELSE 3000 END"""
CPU = """CASE i % 5 WHEN 0 THEN 'Intel Core i7-8700K' WHEN 1 THEN 'AMD Ryzen 7 5800X' WHEN 2 THEN 'Intel Core i5-12400'
  WHEN 3 THEN 'AMD Ryzen 9 7950X' ELSE 'Intel Core i9-13900K' END"""


def fill_sql(dialect, rows, now):
    machines = max(1, rows // 4)
    if dialect == "sqlite":
        series = "series(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM series WHERE i < %d)," % rows
        source = "series"
        hex32 = "printf('%032X', m)"
        hex16 = "printf('%016x', i)"
        time_text = "printf('%08d', i)"
        record = "X'78'"
    else:
        series = ""
        source = "generate_series(1::bigint, %d) AS s(i)" % rows
        hex32 = "upper(lpad(to_hex(m), 32, '0'))"
        hex16 = "lpad(to_hex(i), 16, '0')"
        time_text = "lpad(i::text, 8, '0')"
        record = "'\\x78'::bytea"
    return f"""WITH {"RECURSIVE" if dialect == "sqlite" else ""} {series}
g AS (SELECT i, i % {machines} AS m, ((i % {machines}) * 7919) % 100 AS k, ((i * 104729) % 1000) / 1000.0 AS f1,
             ((i * 15485863) % 1000) / 1000.0 AS f2, ((i * 32452843) % 1000) / 1000.0 AS f3,
             ((i * 49979687) % 1000) / 1000.0 AS f4, (((i % {machines}) * 86028121) % 1000) / 1000.0 AS f5
      FROM {source}),
h AS (SELECT g.*, {KIND} AS t, {CHANNELS} AS c, {COUNT} AS n,
             CAST(({BASE}) * (0.8 + 0.45 * f5) AS INTEGER) AS clock FROM g),
b AS (SELECT h.*, CAST(clock * 8 * n * (0.2 + 0.4 * f1) AS INTEGER) AS rd,
             CAST(clock * 8 * n * (0.2 + 0.4 * f2) AS INTEGER) AS wr,
             CAST(clock * 8 * n * (0.2 + 0.4 * f3) AS INTEGER) AS cp FROM h)
INSERT INTO results ({COLUMNS})
SELECT {now} - {rows} + i, {hex16}, '2026-12-08', {time_text}, 'Windows 10', {CPU},
       '16 GB - ' || t || ' - ' || clock || ' MHz - ' || c || ' Channel', '16-18-18-36', 'Asus - Prime',
       'G.skill - F4', 'G.skill - F4', '* - *', '* - *', rd, wr, cp, round(55 + 55 * f4, 1),
       round((rd + wr + cp) / 3000.0, 2), 4000, {hex32}, 'DE', 'x.tmp', '3.0.24.109', 12, t, upper(t), c,
       upper(c), clock, {record}, 'scale ' || (m % 100000)
FROM b"""


VOTE_COLUMNS = ("mem_type_key, channels_key, idhash, network, result_id, score, mem_clock_mhz, latency_ns, read_mbs, "
                "write_mbs, copy_mbs")
VOTE_SOURCE = ("mem_type_key, channels_key, idhash, network, id, score, mem_clock_mhz, latency_ns, read_mbs, "
               "write_mbs, copy_mbs")


def fill_sqlite(path, rows):
    db = sqlite3.connect(path)
    db.execute("PRAGMA synchronous=OFF")
    db.execute(fill_sql("sqlite", rows, int(time.time())))
    db.execute("INSERT OR REPLACE INTO votes (%s) SELECT %s FROM results ORDER BY id" % (VOTE_COLUMNS, VOTE_SOURCE))
    db.commit()
    db.execute("PRAGMA wal_checkpoint(TRUNCATE)")
    db.close()


def psql(connection, sql):
    subprocess.run(["psql", "-q", "-v", "ON_ERROR_STOP=1", "-X", connection], input=sql.encode(), check=True,
                   stdout=subprocess.DEVNULL)


# The trigram index is built once after the rows are in, far faster than row by row; the same
# definition the server's schema makes.
TEXT_INDEX = ("CREATE INDEX results_text ON results USING gin ((cpu || E'\\n' || mainboard || E'\\n' || ram1 || "
              "E'\\n' || ram2 || E'\\n' || ram3 || E'\\n' || ram4) gin_trgm_ops);")


def fill_postgres(connection, rows):
    psql(connection, "SET maintenance_work_mem = '1GB'; SET synchronous_commit = off;\n"
         "DROP INDEX results_text;\n" + fill_sql("postgresql", rows, int(time.time())) + ";\n" +
         "INSERT INTO votes (%s) SELECT DISTINCT ON (mem_type_key, channels_key, idhash, network) %s FROM results "
         "ORDER BY mem_type_key, channels_key, idhash, network, id DESC;\n" % (VOTE_COLUMNS, VOTE_SOURCE) +
         TEXT_INDEX + "\nVACUUM ANALYZE results; VACUUM ANALYZE votes;\n")


def start(exe, data, store):
    log = open(os.path.join(data, "server.log"), "w+")
    args = [exe, "--listen", "127.0.0.1:0", "--data", data, "--upload-burst", "0"]
    if store:
        args += ["--store", store]
    proc = subprocess.Popen(args, stderr=log, stdout=subprocess.DEVNULL)
    started = time.monotonic()
    while time.monotonic() - started < 1800:
        log.seek(0)
        ports = re.findall(r"listening on 127\.0\.0\.1:(\d+),", log.read())
        if ports and proc.poll() is None:
            return proc, int(ports[-1]), time.monotonic() - started
        if proc.poll() is not None:
            raise SystemExit("the server ended: see " + log.name)
        time.sleep(0.05)
    raise SystemExit("the server did not start")


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


def targets(rows):
    return [("compare (DDR4 dual)", "/compare.php?P1=DDR4&&P2=Dual", 200),
            ("page /", "/", 30),
            ("page of one kind", "/?type=DDR4&channels=Dual", 30),
            ("ranking by score", "/?type=DDR4&channels=Dual&sort=score", 30),
            ("ranking, page 200", "/?type=DDR4&channels=Dual&sort=score&offset=10000", 10),
            ("result page", "/result/%d" % (rows // 2), 30),
            ("kind page (SVG)", "/kind?type=DDR4&channels=Dual", 10),
            ("search 'ryzen 9'", "/?q=ryzen%209", 5),
            ("search a word no result has", "/?q=nowhere", 5),
            ("older page", "/?before=%d" % (rows // 3), 30)]


def measure(exe, name, rows, store, fill):
    print("== %s, %d results" % (name, rows), flush=True)
    with tempfile.TemporaryDirectory(prefix="qvserver-scale-") as data:
        proc, _, _ = start(exe, data, store)  # makes the schema
        proc.send_signal(signal.SIGTERM)
        proc.wait(30)
        started = time.monotonic()
        fill(data)
        print("filled in %.0f s" % (time.monotonic() - started), flush=True)
        proc, port, startup = start(exe, data, store)
        print("server start with them: %.1f s" % startup, flush=True)
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
        print("load: " + open("/proc/loadavg").read().strip())
        figures = {}
        print("%-28s %10s %10s %10s" % ("", "median ms", "p95 ms", "bytes"))
        for label, target, times in targets(rows):
            median, p95, size = timed(port, target, times)
            figures[label] = (median, p95)
            print("%-28s %10.2f %10.2f %10d" % (label, median, p95, size), flush=True)
        stop.set()
        uploader.join()
        print("uploads stored meanwhile: %d in %.1f s" % (stored[0], time.monotonic() - began))
        proc.send_signal(signal.SIGTERM)
        proc.wait(30)
    return figures


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith("-"):
        raise SystemExit(__doc__)
    exe = args.pop(0)
    options = {"--sqlite": "1000000", "--postgres": "10000000", "--connection": os.environ.get("QUORVEX_TEST_POSTGRES")}
    while args:
        key = args.pop(0)
        if key not in options or not args:
            raise SystemExit(__doc__)
        options[key] = args.pop(0)
    results = {}
    if int(options["--sqlite"]):
        rows = int(options["--sqlite"])
        results["SQLite"] = measure(exe, "SQLite", rows, None,
                                    lambda data: fill_sqlite(os.path.join(data, "results.sqlite"), rows))
    if int(options["--postgres"]):
        connection = options["--connection"]
        if not connection:
            raise SystemExit("--postgres needs --connection or QUORVEX_TEST_POSTGRES (scripts/with-postgres)")
        rows = int(options["--postgres"])
        results["PostgreSQL"] = measure(exe, "PostgreSQL", rows, connection,
                                        lambda data: fill_postgres(connection, rows))
    if len(results) == 2:
        print("== p95, side by side")
        print("%-28s %12s %12s %8s" % ("", "SQLite", "PostgreSQL", "ratio"))
        for label, _, _ in targets(0):
            s, p = results["SQLite"][label][1], results["PostgreSQL"][label][1]
            print("%-28s %12.2f %12.2f %8.2f" % (label, s, p, p / s if s else 0))


if __name__ == "__main__":
    main()
