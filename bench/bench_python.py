#!/usr/bin/env python3
"""Figures of the Python package for scripts/bench, each beside its peer measured here:

  py_values RECORDS OURS_S DBFREAD_S PANDAS_CSV_S READ_TABLE_S
      RecordFile(...).values() of RECORDS full records (16 channels, both counters, DIN/DOUT),
      dbfread iterating the driver's table of the same records, pandas reading zelk's CSV of
      them, and read_table of that table;
  py_follow P50_MS P99_MS BLOCKS INTERVAL_MS
      follow() of a record file that `zelk measure` writes at the module's highest rate (one
      channel and CNT0 every 25 us): time from a block being stored (the file growing, seen by
      a separate watcher process) to the block's yield;
  py_stream RECORDS LOST CPU_PCT ZELK_CPU_PCT SECONDS
      stream() at that rate in this process (sequence-coded records: a lost, repeated or
      reordered record breaks CNT0's progression), the CPU share of the whole process (the
      driver's threads included), and of `zelk measure --stream csv` doing the same.

    bench_python.py SIM_DRIVER ZELK_TOOL WORK_DIR RECORDS SECONDS"""
import os
import resource
import subprocess
import sys
import tempfile
import time

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "python"))

SIM, TOOL, WORK, RECORDS, SECONDS = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), float(sys.argv[5])

# This process's simulated module gives sequence-coded records (read at the driver's first start).
_bench = os.path.join(WORK, "sequence.ini")
with open(_bench, "w") as f:
    f.write("[bench]\nsignals = sequence\n")
os.environ["ZELK_SIM_CONFIG"] = _bench

import zelk2716e  # noqa: E402

PARAM = ("[Volba modulu]\r\nVýrobní číslo=12000001\r\n[Logovací soubor]\r\nÚroveň=0\r\n[Měření časovačem]\r\n"
         "Počet kanálů=%d\r\nPerioda [us]=%s\r\nPovolení CNT0=1\r\nPovolení CNT1=%d\r\nPovolení DIN a DOUT=%d\r\n"
         "[Konverze souboru]\r\nTyp souboru=BIN\r\nAdresář=%s\r\n")


def param(path, channels, period, cnt1, dio, folder="", extra=""):
    with open(path, "wb") as f:
        f.write((PARAM % (channels, period, cnt1, dio, folder) + extra).encode("cp1250"))
    return path


def best_of(n, fn):
    best = None
    for _ in range(n):
        t = time.perf_counter()
        fn()
        best = min(best or 1e9, time.perf_counter() - t)
    return best


def bench_values():
    import dbfread
    import pandas as pd

    folder = tempfile.mkdtemp(dir=WORK)
    rng = np.random.default_rng(1)
    layout = zelk2716e.Layout(channels=16, ranges=[n % 6 for n in range(16)], a=2.5, b=-0.5, period_us=190)
    raw = np.zeros(RECORDS, layout.raw_dtype())
    for f in layout.fields:
        raw[f] = rng.integers(0, 4 if f.startswith(("DIN", "DOUT")) else 65535, RECORDS)
    path = os.path.join(folder, "r.bin")
    raw.tofile(path)
    extra = "".join("[Analogový kanál %d]\r\nRozsah=%s\r\nKonstanta A=2.5\r\nKonstanta B=-0.5\r\n"
                    % (n, zelk2716e.RANGE_NAMES[n % 6]) for n in range(16))
    ini = param(os.path.join(folder, "r.ini"), 16, "190", 1, 1, extra=extra)  # the sidecar of r.bin
    subprocess.run([TOOL, "convert", path, "-o", os.path.join(folder, "r.dbf")], check=True, capture_output=True)
    subprocess.run([TOOL, "convert", path, "--format", "csv", "-o", os.path.join(folder, "r.csv")], check=True,
                   capture_output=True)
    assert zelk2716e.RecordFile(path).layout == layout, ini
    ours = best_of(3, lambda: zelk2716e.RecordFile(path).values())
    table = best_of(1, lambda: zelk2716e.read_table(os.path.join(folder, "r.dbf")))
    peer = best_of(1, lambda: sum(1 for _ in dbfread.DBF(os.path.join(folder, "r.dbf"))))
    csv = best_of(1, lambda: pd.read_csv(os.path.join(folder, "r.csv")))
    print("py_values %d %.4f %.3f %.3f %.3f" % (RECORDS, ours, peer, csv, table), flush=True)


WATCHER = """
import os, sys, time
path, out, until = sys.argv[1], sys.argv[2], float(sys.argv[3])
seen, lines = -1, []
while time.monotonic() < until:
    try:
        size = os.stat(path).st_size
    except OSError:
        break
    if size != seen:
        lines.append("%.6f %d" % (time.monotonic(), size))
        seen = size
    time.sleep(0.0002)
open(out, "w").write("\\n".join(lines))
"""


def bench_follow(interval=0.01):
    folder = tempfile.mkdtemp(dir=WORK)
    ini = param(os.path.join(folder, "p.ini"), 1, "25", 0, 0)
    env = dict(os.environ)
    env.pop("ZELK_SIM_CONFIG")
    p = subprocess.Popen([TOOL, "measure", "--param", ini, "--duration", str(SECONDS), "--no-progress", "--out",
                          folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    deadline = time.monotonic() + 20
    while not [f for f in os.listdir(folder) if f.endswith(".ini") and f.startswith("Zelk")]:
        assert time.monotonic() < deadline and p.poll() is None, "zelk measure did not start"
        time.sleep(0.002)
    path = [os.path.join(folder, f) for f in os.listdir(folder) if f.endswith(".bin")][0]
    sizes_file = os.path.join(folder, "sizes.txt")
    watcher = subprocess.Popen([sys.executable, "-c", WATCHER, path, sizes_file, str(time.monotonic() + SECONDS + 5)])
    f = zelk2716e.RecordFile(path)
    r = f.layout.record_bytes
    yields = []  # (time, bytes read so far)
    total = 0
    for block in f.follow(interval=interval, raw=True):
        total += len(block) * r
        yields.append((time.monotonic(), total))
    p.wait()
    watcher.wait()
    stored = [tuple(map(float, line.split())) for line in open(sizes_file).read().split("\n") if line]
    latencies, y = [], 0
    for t_stored, size in stored:
        while y < len(yields) and yields[y][1] < size:
            y += 1
        if y < len(yields) and size > 0:
            latencies.append(yields[y][0] - t_stored)
    lat = np.array(latencies) * 1000
    print("py_follow %.2f %.2f %d %.0f" % (np.percentile(lat, 50), np.percentile(lat, 99), len(lat), interval * 1000),
          flush=True)


def cpu_seconds(who):
    u = resource.getrusage(who)
    return u.ru_utime + u.ru_stime


def bench_stream():
    folder = tempfile.mkdtemp(dir=WORK)
    ini = param(os.path.join(folder, "p.ini"), 1, "25", 0, 0, folder=folder)
    with zelk2716e.Driver(ini, library=SIM) as d:
        d.read([0])
        cpu, wall = cpu_seconds(resource.RUSAGE_SELF), time.monotonic()
        counts, expected, lost = 0, 0, 0
        s = d.stream(duration=SECONDS, raw=True)
        for block in s:
            cnt = block["CNT0"].astype(np.int64)
            want = (expected + np.arange(len(block))) % 65536
            lost += int(np.count_nonzero(cnt != want))
            expected += len(block)
            counts += len(block)
        share = 100 * (cpu_seconds(resource.RUSAGE_SELF) - cpu) / (time.monotonic() - wall)
        lost += abs(s.measurement.records - counts)
    before = cpu_seconds(resource.RUSAGE_CHILDREN)
    t = time.monotonic()
    subprocess.run([TOOL, "measure", "--param", ini, "--duration", str(SECONDS), "--no-progress", "--out", folder,
                    "--stream", "csv", "-o", os.devnull], check=True, capture_output=True)
    zelk_share = 100 * (cpu_seconds(resource.RUSAGE_CHILDREN) - before) / (time.monotonic() - t)
    print("py_stream %d %d %.1f %.1f %.0f" % (counts, lost, share, zelk_share, SECONDS), flush=True)


if __name__ == "__main__":
    for bench in (bench_values, bench_follow, bench_stream):
        try:
            bench()
        except Exception as e:  # a figure that cannot be measured is said, the others still run
            print("note: %s: %s" % (bench.__name__, e), file=sys.stderr)
