"""Records while a measurement runs: follow() of a file another process's measurement writes
(also when its conversion deletes it), and stream(), complete and in order, stopping
cleanly when the consumer leaves early."""
import glob
import os
import subprocess
import threading
import time

import numpy as np
import pytest

import zelk2716e
from zelk2716e import _constants as C
from conftest import TOOL, record_numbers, write_param


def wait_for(condition, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, "timed out waiting for " + what
        time.sleep(0.005)


@pytest.mark.parametrize("file_type", ["DBF", "BIN"])
def test_follow_a_measurement_of_zelk_yields_every_record_once_in_order(tmp_path, file_type):
    ini = write_param(tmp_path / "p.ini", channels=2, period="100", file_type=file_type)
    out = tmp_path / "data"
    p = subprocess.Popen([TOOL, "measure", "--param", ini, "--duration", "2", "--no-progress", "--out", str(out)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        # zelk writes the sidecar as soon as the measurement runs: then the layout is there.
        wait_for(lambda: glob.glob(str(out / "*.ini")) and glob.glob(str(out / "*.bin")), what="the sidecar")
        path = glob.glob(str(out / "*.bin"))[0]
        f = zelk2716e.RecordFile(path)
        blocks = list(f.follow())
        assert p.wait(60) == 0, p.stderr.read()
    finally:
        p.kill()
    values = np.concatenate(blocks)
    counted = int(zelk2716e._ini.Ini.load(f.sidecar).find("Záznam", "Počet záznamů"))
    assert len(blocks) > 5 and len(values) == counted > 10000
    assert np.array_equal(values["INDEX"], np.arange(counted))
    raw = np.concatenate(list(zelk2716e.RecordFile(path, f.layout).follow(raw=True))) if file_type == "BIN" else None
    assert os.path.exists(path) == (file_type == "BIN")  # a DBF run deleted it under follow()
    assert np.array_equal(values["CNT0"] + (values["CNT1"].astype(np.int64) << 16), np.arange(counted))
    if raw is not None:
        assert np.array_equal(raw["AIN1"], (16 * np.arange(counted) + 1) % 65536)


def test_follow_a_measurement_of_the_package_in_another_thread(driver_for, tmp_path):
    d = driver_for(channels=1, period="50")
    done = []
    t = threading.Thread(target=lambda: done.append(d.measure(duration=1.5)))
    t.start()
    # The record file's own sidecar (the folder holds the run's parameter file too).
    wait_for(lambda: any(os.path.isfile(b[:-4] + ".ini") for b in glob.glob(str(tmp_path / "Zelk*.bin"))),
             what="the sidecar")
    path = glob.glob(str(tmp_path / "Zelk*.bin"))[0]
    got = np.concatenate(list(zelk2716e.RecordFile(path).follow(raw=True)))
    t.join()
    assert np.array_equal(record_numbers(got), np.arange(done[0].records))
    assert np.array_equal(got, done[0].raw)


def test_stream_at_the_highest_rate_loses_nothing(driver_for):
    d = driver_for(channels=1, cnt1=0, dio=0, period="25", file_type="DBF")  # 40000 records/s
    s = d.stream(records=60000, raw=True)
    blocks = list(s)
    raw = np.concatenate(blocks)
    assert d.read([165])[165].value == 25.0
    assert np.array_equal(raw["CNT0"], np.arange(60000) % 65536)
    assert np.array_equal(raw["AIN0"], (16 * np.arange(60000)) % 65536)
    m = s.measurement
    assert (m.status, m.records) == (C.MEASURE_IDLE, 60000)
    assert zelk2716e.read_table(m.path)["CNT0"][-1] == 59999 % 65536  # the conversion was waited for


class ConsumerFailed(Exception):
    pass


def consume_with(d, how):
    if how == "exception in the loop":
        for _ in d.stream():
            raise ConsumerFailed()
    elif how == "exception inside with":
        with d.stream() as s:
            for _ in s:
                raise ConsumerFailed()
    elif how == "break":
        for _ in d.stream():
            break
    elif how == "KeyboardInterrupt":
        for _ in d.stream():
            raise KeyboardInterrupt()


@pytest.mark.parametrize("how", ["exception in the loop", "exception inside with", "break", "KeyboardInterrupt"])
def test_stream_stops_cleanly_when_the_consumer_leaves(driver_for, tmp_path, how):
    d = driver_for(channels=2, period="100", file_type="DBF")
    t = time.monotonic()
    try:
        consume_with(d, how)
    except (ConsumerFailed, KeyboardInterrupt):
        pass
    # Stopped by the time the loop is left, the table written and the sidecar completed.
    assert d.read([203])[203].value == C.MEASURE_IDLE
    assert time.monotonic() - t < 10
    sidecar = glob.glob(str(tmp_path / "Zelk*.ini"))
    assert len(sidecar) == 1 and zelk2716e._records.sidecar_records(sidecar[0]) is not None
    assert glob.glob(str(tmp_path / "Zelk*.dbf")) and not glob.glob(str(tmp_path / "Zelk*.bin"))
    assert d.measure(records=100).records == 100  # and the instance measures again
