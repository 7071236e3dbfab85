#!/usr/bin/env python3
"""The zelk tool and the example hosts against the simulated-module driver.

Environment: ZELK_TOOL (the zelk executable, beside the sim driver), ZELK_C_HOST (the
built C example host), ZELK_EXAMPLES (the examples folder)."""
import csv
import glob
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ET
import zlib

import dbfread

ZELK = os.environ["ZELK_TOOL"]
SIM_DRIVER = os.path.join(os.path.dirname(ZELK), "librq_zelk2716e_sim.so")
EXAMPLES = os.environ["ZELK_EXAMPLES"]
C_HOST = os.environ.get("ZELK_C_HOST", "")


def zelk(*args, timeout=120, bench=None):
    env = None
    if bench is not None:  # the simulated module's bench, as ZELK_SIM_CONFIG names it
        fd, path = tempfile.mkstemp(suffix=".ini")
        with os.fdopen(fd, "w") as f:
            f.write(bench)
        env = dict(os.environ, ZELK_SIM_CONFIG=path)
    try:
        p = subprocess.run([ZELK, *args], capture_output=True, text=True, timeout=timeout, env=env)
    finally:
        if env:
            os.unlink(env["ZELK_SIM_CONFIG"])
    return p.returncode, p.stdout, p.stderr


def row_of(out, channel):
    for line in out.splitlines():
        cells = line.split()
        if cells and cells[0] == str(channel):
            return line
    raise AssertionError("no row for channel %s in:\n%s" % (channel, out))


class TestInfo(unittest.TestCase):
    def test_driver_texts_and_module_identity(self):
        rc, out, _ = zelk("info")
        self.assertEqual(rc, 0, out)
        self.assertIn("0x30000 (196608)", out)
        self.assertIn("GetDriverInfo    Ovladač ZELK-2716E v.1.0.0", out)  # cp1250 shown as UTF-8
        self.assertIn("serial number    12000001", out)
        self.assertIn("ZELK-2716E", out.split("module type")[1].splitlines()[0])
        self.assertIn("device status    0 V pořádku", out)

    def test_serials_not_on_the_bench_are_device_statuses(self):
        rc, out, _ = zelk("info", "--serial", "12000099")
        self.assertEqual(rc, 3)
        self.assertIn("device status    5 Nenalezen požadovaný USB modul.", out)
        self.assertIn("module type      ---", out)
        rc, out, _ = zelk("info", "--serial", "99999999")
        self.assertEqual(rc, 3)
        self.assertIn("device status    17 Zadaný ZELK modul není ovladačem podporován", out)
        rc, out, _ = zelk("info", "--serial", "12100002")  # the bench's second module
        self.assertEqual(rc, 0, out)

    def test_driver_and_parameter_file_failures(self):
        rc, _, err = zelk("info", "--driver", "/nonexistent/librq.so")
        self.assertEqual(rc, 2)
        self.assertIn("cannot load the driver /nonexistent/librq.so", err)
        with tempfile.TemporaryDirectory() as d:
            bad = os.path.join(d, "bad.ini")
            with open(bad, "wb") as f:
                f.write("[Volba modulu]\r\nUSB timeout=0\r\nVýrobní číslo=12000001\r\n".encode("cp1250"))
            rc, _, err = zelk("info", "--param", bad)
            self.assertEqual(rc, 2)
            self.assertIn("Init failed: Chyba parametrického souboru - Volba modulu / USB timeout = 0.", err)
            rc, _, err = zelk("info", "--param", os.path.join(d, "missing.ini"))
            self.assertEqual(rc, 5)  # a missing file is a file error for every command
            self.assertIn("missing.ini: no such file", err)

    def test_json_for_scripts_and_english_glosses(self):
        rc, out, _ = zelk("--version")
        self.assertEqual((rc, out.strip()), (0, "zelk 1.0.0"))
        rc, out, _ = zelk("info", "--json", "--serial", "12000099")
        self.assertEqual(rc, 3)
        self.assertEqual(json.loads(out)["device_status"],
                         {"code": 5, "text": "Nenalezen požadovaný USB modul.", "english": "requested USB module not found"})
        rc, out, _ = zelk("read", "0,16,70,99,165", "--json")
        self.assertEqual(rc, 4, out)  # channel 16 is not defined
        rows = {r["channel"]: r for r in json.loads(out)}
        self.assertIsInstance(rows[0]["value"], float)
        self.assertEqual(rows[16]["status"], {"code": 100, "text": "Kanál nedefinován", "english": "channel not defined"})
        self.assertEqual(rows[70]["status"]["code"], 99)  # an output never read: no request finished
        self.assertEqual((rows[16]["value"], rows[70]["value"]), (None, None))
        self.assertEqual(rows[99]["value"], "V pořádku")
        self.assertEqual((rows[165]["value"], rows[165]["unit"]), (1000.0, "us"))
        channels = json.loads(zelk("channels", "--json")[1])
        self.assertEqual(len(channels), 77)
        self.assertEqual([c["direction"] for c in channels if c["channel"] in (0, 165, 200)],
                         ["input", "bidirectional", "output"])
        devices = json.loads(zelk("devices", "--json")[1])["devices"]
        self.assertEqual([d["serial"] for d in devices], ["12000001", "12100002"])
        rc, out, _ = zelk("write", "165=300,5")  # a decimal comma, as the parameter file takes it
        self.assertEqual(rc, 0)
        self.assertIn("300.500", row_of(out, 165))

    def test_driver_options_before_or_after_the_command(self):
        with tempfile.TemporaryDirectory() as d:
            missing = os.path.join(d, "missing.ini")
            for args, rc, message in ((("--serial", "12000099", "info"), 3, "device status    5 "),
                                      (("info", "--serial", "12000099"), 3, "device status    5 "),
                                      (("--serial", "12100002", "--usb-timeout", "200", "info"), 0, "12100002"),
                                      (("--driver", "/nonexistent/librq.so", "read", "0"), 2, "cannot load the driver"),
                                      (("--param", missing, "write", "78=1"), 5, "missing.ini: no such file"),
                                      (("--serial", "12000001", "channels"), 1, "not for channels"),
                                      (("--log", os.path.join(d, "x.log"), "plot", missing), 1, "not for plot")):
                with self.subTest(args=args):
                    code, out, err = zelk(*args)
                    self.assertEqual(code, rc, out + err)
                    self.assertIn(message, out + err)

    def test_usage_errors_and_help(self):
        self.assertEqual(zelk()[0], 1)
        self.assertEqual(zelk("frobnicate")[0], 1)
        rc, out, _ = zelk("--help")
        self.assertEqual(rc, 0)
        for word in ("measure", "convert", "plot", "130"):
            self.assertIn(word, out)


class TestRead(unittest.TestCase):
    def test_analog_status_and_undefined_channels(self):
        rc, out, _ = zelk("read", "0-3,16,97-99,165")
        self.assertEqual(rc, 4, out)
        for ch in range(4):
            row = row_of(out, ch)
            self.assertIn("real input - analogový kanál %d" % ch, row)
            self.assertRegex(row, r"-?\d+\.\d{4} V")
            self.assertTrue(row.rstrip().endswith("0 V pořádku (OK)"), row)  # the English gloss last
        self.assertRegex(row_of(out, 16), r"^16 +--- +– +100 Kanál nedefinován")
        self.assertIn("V pořádku", row_of(out, 99))
        self.assertIn("1000.0000 us", row_of(out, 165))

    def test_scaled_channel_uses_the_parameter_file_constants(self):
        # demo.ini: channel 1 on the 5 V range with A = 100,0: at most 500 in magnitude,
        # and about 100 times channel 1 read with the default constants.
        rc, out, _ = zelk("read", "1", "--param", os.path.join(EXAMPLES, "demo.ini"))
        self.assertEqual(rc, 0, out)
        self.assertRegex(row_of(out, 1), r"^1 +Teplota +real input - analogový kanál 1 +-?\d+\.\d{4} °C +0 V")
        scaled = float(row_of(out, 1).split("analogový kanál 1")[1].split()[0])
        rc, out, _ = zelk("read", "1")
        plain = float(row_of(out, 1).split("analogový kanál 1")[1].split()[0])
        self.assertGreater(abs(scaled), 5 * abs(plain))
        self.assertLessEqual(abs(scaled), 500.0)

    def test_reads_without_a_value(self):
        # A read that did not finish with status 0 has no value: "–" in the tables, null in
        # JSON. The period (165) is answered by the driver itself and keeps its value when the
        # module fails; an undefined channel (16, 20) exits 4, a failing module 3.
        failing = TestDeviceFailure.FAILING_INPUTS
        scenarios = (("0,16", None, 4, {16}), ("0,1,165", failing, 3, {0, 1}), ("0,20", None, 4, {20}),
                     ("0-1,165", None, 0, set()))

        def read_table(out):
            head = out.splitlines()[0]
            at, end = head.index("value"), head.index("status")
            return {int(l.split()[0]): l[at:end].strip() for l in out.splitlines()[1:]}

        def read_json(out):
            return {r["channel"]: r["value"] for r in json.loads(out)}

        def watch_lines(out):
            head, first = [l.split("\t") for l in out.splitlines()[:2]]
            return {int(h.split()[0][2:]): v for h, v in zip(head[1:], first[1:])}

        forms = ((("read",), read_table, "–"), (("read", "--json"), read_json, None),
                 (("watch", "--count", "1", "--interval", "10"), watch_lines, "–"))
        for channels, bench, code, without in scenarios:
            for args, parse, none in forms:
                with self.subTest(channels=channels, command=args):
                    rc, out, err = zelk(args[0], channels, *args[1:], bench=bench)
                    self.assertEqual(rc, code, out + err)
                    values = parse(out)
                    self.assertEqual({ch for ch, v in values.items() if v == none}, without, out)
                    for ch, v in values.items():
                        if ch not in without:
                            self.assertRegex(str(v), r"^-?\d+(\.\d+)?( |$)")
                    if 16 in without or 20 in without:
                        self.assertIn("not defined (status 100)", err)

    def test_bad_channel_lists(self):
        for bad in ("204", "5-2", "x", "1,,2"):
            rc, _, err = zelk("read", bad)
            self.assertEqual(rc, 1, bad)
            self.assertIn("bad channel list item", err)


class TestWrite(unittest.TestCase):
    def test_limits_the_driver_applies(self):
        rc, out, _ = zelk("write", "78=7", "164=0", "165=10", "173=300", "103=2", "132=17", "166=70000", "200=0")
        self.assertEqual(rc, 0, out)
        expected = {78: "3", 164: "1", 165: "25.000", 173: "127", 103: "2   (rozsah 2V)",
                    132: "1   (vstup AIN1)", 166: "65535", 200: "0"}
        header = out.splitlines()[0]
        stored_at = header.index("driver stored")
        limits_at = header.index("limits applied")
        for ch, value in expected.items():
            row = row_of(out, ch)
            self.assertEqual(row[limits_at:stored_at].strip(), value, row)
            self.assertTrue(row[stored_at:].startswith(value), row)
            self.assertTrue(row.rstrip().endswith("0 V pořádku (OK)"), row)  # the English gloss last

    def test_every_changed_value_says_what_was_used_and_why(self):
        cases = [("78=7", "channel 78: asked 7, used 3, because only the low 2 bits are kept"),
                 ("164=0", "channel 164: asked 0, used 1, because the timer measures at least 1 channel"),
                 ("164=20", "channel 164: asked 20, used 16, because the module has 16 channels"),
                 ("165=1e9", "channel 165: asked 1000000000.0000, used 32767.500, because the longest period is 32767.5 us"),
                 ("165=10", "channel 165: asked 10.0000, used 25.000, because the shortest period the driver takes is 25 us; "
                            "a start raises it further to the layout's shortest"),
                 ("173=300", "channel 173: asked 300, used 127, because the longest settle time is 127 us"),
                 ("132=17", "channel 132: asked 17, used 1   (vstup AIN1), because only the low 4 bits are kept"),
                 ("166=70000", "channel 166: asked 70000, used 65535, because a counter preset has 16 bits"),
                 ("82=70000", "channel 82: asked 70000: the driver keeps 70000, the module's 16-bit counter gets 4464"),
                 ("78=2", None), ("165=500", None)]
        for arg, note in cases:
            with self.subTest(arg):
                rc, out, err = zelk("write", arg)
                self.assertEqual(rc, 0, out + err)
                notes = [l for l in out.splitlines() if l.startswith("channel ")]
                self.assertEqual(notes, [note] if note else [], out)
                # Columns stay apart however wide a value is.
                header, row = out.splitlines()[:2]
                self.assertEqual(row[header.index("limits applied") - 2:header.index("limits applied")], "  ", out)

    def test_measure_says_which_period_it_used_and_why(self):
        for period, used, why in (("10", "50.0", "the shortest period for 2 channels, CNT0, CNT1, DIN/DOUT is 50.0 us"),
                                  ("40000", "32767.5", "the longest period is 32767.5 us"),
                                  ("100.3", "100.5", "periods go in 0.5 us steps")):
            with self.subTest(period), tempfile.TemporaryDirectory() as d:
                rc, out, err = zelk("measure", "--channels", "2", "--period", period, "--records", "3", "--out", d,
                                    "--no-progress")
                self.assertEqual(rc, 0, out + err)
                self.assertIn("period            asked %.1f us, used %s us, because %s" % (float(period), used, why), out)

    def test_rejected_before_the_driver_is_asked(self):
        for arg, msg in (("0=1", "is an input"), ("16=1", "not defined"), ("165=abc", "real number"),
                         ("78=-1", "whole number"), ("70=2", "0 or 1"), ("78", "CH=VALUE")):
            rc, _, err = zelk("write", arg)
            self.assertEqual(rc, 1, arg)
            self.assertIn(msg, err)

    def test_module_missing_finishes_with_the_device_status(self):
        rc, out, err = zelk("write", "78=1", "--serial", "12000099")
        self.assertEqual(rc, 3)
        self.assertIn("5 Nenalezen požadovaný USB modul.", row_of(out, 78))


class TestWindow(unittest.TestCase):
    def test_settings_page(self):
        rc, out, _ = zelk("window")
        self.assertEqual(rc, 0)
        self.assertIn("Ovladač ZELK-2716E (v.č. 12000001)", out)
        self.assertIn("[Nastavení ovladače]", out)
        self.assertIn("Status: V pořádku", out)

    def test_diagnostics_page_through_typed_keys(self):
        rc, out, _ = zelk("window", "--page", "diagnostics", "--keys", "x9\b16\n")
        self.assertEqual(rc, 0)
        self.assertIn("Číslo kanálu: 16", out)
        self.assertIn("Status: Kanál nedefinován", out)
        rc, out, _ = zelk("window", "--channel", "3")
        self.assertIn("Typ: real input - analogový kanál 3", out)
        self.assertIn("Přepočtové konst.: 1.0000 / 0.0000", out)


def measured_files(folder, ext):
    return sorted(glob.glob(os.path.join(folder, "Zelk2716e_12000001_*" + ext)))


class TestMeasure(unittest.TestCase):
    def test_record_count_into_a_table(self):
        with tempfile.TemporaryDirectory() as d:
            rc, out, err = zelk("measure", "--channels", "3", "--no-cnt1", "--period", "250", "--records", "1500",
                                "--out", d, "--no-progress")
            self.assertEqual(rc, 0, out + err)
            self.assertIn("records stored    1500", out)
            self.assertIn("period used       250.0 us", out)
            tables = measured_files(d, ".dbf")
            self.assertEqual(len(tables), 1, os.listdir(d))
            self.assertEqual(measured_files(d, ".bin"), [])  # converted, then deleted
            self.assertIn("wrote             " + tables[0], out)
            t = dbfread.DBF(tables[0])
            rows = list(t)
            self.assertEqual(t.field_names, ["INDEX", "AIN0", "AIN1", "AIN2", "CNT0", "DIN0", "DIN1", "DOUT"])
            self.assertEqual([r["INDEX"] for r in rows], list(range(1500)))
            self.assertTrue(all(-10.0 <= r["AIN2"] <= 10.0 for r in rows))

    def test_unknown_module_fails_before_starting(self):
        with tempfile.TemporaryDirectory() as d:
            rc, _, err = zelk("measure", "--serial", "12000099", "--records", "10", "--out", d)
            self.assertEqual(rc, 3)
            self.assertIn("device status 5", err)
            self.assertEqual(os.listdir(d), [])

    def test_folder_names_with_czech_letters_and_letters_cp1250_lacks(self):
        with tempfile.TemporaryDirectory() as d:
            czech = os.path.join(d, "měření žluťoučký kůň", "data 1")
            rc, out, err = zelk("measure", "--records", "300", "--no-progress", "--format", "bin", "--out", czech)
            self.assertEqual(rc, 0, out + err)
            records = measured_files(czech, ".bin")
            self.assertEqual(len(records), 1, os.listdir(d))
            self.assertIn("wrote             " + records[0], out)
            self.assertEqual(os.listdir(d), ["měření žluťoučký kůň"])
            rc, out, err = zelk("convert", records[0])
            self.assertEqual(rc, 0, out + err)
            self.assertEqual(len(dbfread.DBF(measured_files(czech, ".dbf")[0])), 300)
            rc, out, err = zelk("measure", "--records", "300", "--no-progress", "--out", os.path.join(d, "数据"))
            self.assertEqual(rc, 1, out + err)
            self.assertIn("数据 has characters that code page 1250 lacks", err)
            self.assertEqual(os.listdir(d), ["měření žluťoučký kůň"])

    def test_option_errors(self):
        self.assertEqual(zelk("measure", "--format", "xls")[0], 1)
        self.assertEqual(zelk("measure", "--channels", "17")[0], 1)


class TestConvert(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # A BIN measurement without a record limit, ended by Ctrl+C as a user ends it.
        cls.dir = tempfile.TemporaryDirectory()
        p = subprocess.Popen([ZELK, "measure", "--format", "bin", "--channels", "2", "--no-cnt0", "--out",
                              cls.dir.name], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            bins = measured_files(cls.dir.name, ".bin")
            if bins and os.path.getsize(bins[0]) >= 400 * 8:
                break
            time.sleep(0.05)
        p.send_signal(signal.SIGINT)
        cls.out, cls.err = p.communicate(timeout=60)
        cls.rc = p.returncode
        cls.bin = measured_files(cls.dir.name, ".bin")[0]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_interrupted_measurement_leaves_whole_records(self):
        self.assertEqual(self.rc, 130, self.out + self.err)
        self.assertIn("stopped by Ctrl+C", self.out)
        size = os.path.getsize(self.bin)
        self.assertEqual(size % 8, 0)  # 2 channels, CNT1, DIN/DOUT: 8 bytes per record
        self.assertIn("records stored    %d" % (size // 8), self.out)

    def test_table_and_csv_agree_with_the_record_file(self):
        records = os.path.getsize(self.bin) // 8
        dbf = os.path.join(self.dir.name, "out.dbf")
        rc, out, err = zelk("convert", self.bin, "--channels", "2", "--no-cnt0", "-o", dbf)
        self.assertEqual(rc, 0, err)
        self.assertIn("%d rows" % records, out)
        table = list(dbfread.DBF(dbf))
        self.assertEqual(len(table), records)
        rc, _, err = zelk("convert", self.bin, "--channels", "2", "--no-cnt0", "--format", "csv")
        self.assertEqual(rc, 0, err)
        with open(os.path.splitext(self.bin)[0] + ".csv", newline="") as f:
            rows = list(csv.DictReader(f))
        self.assertEqual(len(rows), records)
        # The options agree with the sidecar, which gives the period: TIME in seconds.
        self.assertEqual(list(rows[0].keys()), ["INDEX", "TIME", "AIN0", "AIN1", "CNT1", "DIN0", "DIN1", "DOUT"])
        for t, c in zip(table[:: max(1, records // 50)], rows[:: max(1, records // 50)]):
            self.assertAlmostEqual(t["AIN1"], float(c["AIN1"]), places=4)
            self.assertEqual(t["CNT1"], int(c["CNT1"]))

    def test_ranges_and_constants_of_a_parameter_file(self):
        # The same raw samples on the 200 mV range with A = 2 scale by 2 x 0.2 / 10.
        ini = os.path.join(self.dir.name, "scaled.ini")
        with open(ini, "wb") as f:
            f.write(("[Volba modulu]\r\nVýrobní číslo=12000001\r\n[Analogový kanál 0]\r\nRozsah=200mV\r\n"
                     "Konstanta A=2,0\r\n[Měření časovačem]\r\nPočet kanálů=2\r\nPovolení CNT0=0\r\n").encode("cp1250"))
        plain = os.path.join(self.dir.name, "plain.dbf")
        scaled = os.path.join(self.dir.name, "scaled.dbf")
        self.assertEqual(zelk("convert", self.bin, "--channels", "2", "--no-cnt0", "-o", plain)[0], 0)
        # The 200 mV range contradicts the sidecar's 10 V: only --force reads the file so.
        self.assertEqual(zelk("convert", self.bin, "--param", ini, "-o", scaled, "--force")[0], 0)
        for a, b in list(zip(dbfread.DBF(plain), dbfread.DBF(scaled)))[:100]:
            self.assertAlmostEqual(b["AIN0"], a["AIN0"] * 0.04, delta=2e-4)
            self.assertEqual(a["AIN1"], b["AIN1"])

    def test_wrong_layout_is_reported(self):
        rc, _, err = zelk("convert", self.bin, "--channels", "3", "--force", "-o", os.path.join(self.dir.name, "x.dbf"))
        if os.path.getsize(self.bin) % 10:  # 3 channels, and from the sidecar CNT1 and DIN/DOUT
            self.assertIn("partial record", err)
        self.assertEqual(zelk("convert", self.bin, "--format", "xls")[0], 1)
        self.assertEqual(zelk("convert", os.path.join(self.dir.name, "none.bin"))[0], 5)

    def csv_of(self, *args):
        rc, out, err = zelk("convert", *args, "--format", "csv", "-o", "-")
        self.assertEqual(rc, 0, err)
        return list(csv.DictReader(out.splitlines())), err

    def test_a_layout_against_the_sidecar_is_refused_unless_forced(self):
        three = os.path.join(self.dir.name, "three.ini")
        with open(three, "wb") as f:
            f.write("[Volba modulu]\r\nVýrobní číslo=12000001\r\n[Měření časovačem]\r\nPočet kanálů=3\r\n"
                    .encode("cp1250"))
        out = os.path.join(self.dir.name, "refused", "out.csv")
        for args, messages in ((("convert", self.bin, "--channels", "4"), ["analog channels 4 (the sidecar: 2)"]),
                               (("convert", self.bin, "--no-dio"), ["DIN/DOUT not recorded (the sidecar: recorded)"]),
                               (("convert", self.bin, "--ranges", "10V,5V"), ["range of AIN1 5V (the sidecar: 10V)"]),
                               (("convert", self.bin, "--period", "250"), ["period 250 us (the sidecar: 1000 us)"]),
                               (("convert", self.bin, "--param", three),
                                ["analog channels 3 (the sidecar: 2)", "CNT0 recorded (the sidecar: not recorded)"]),
                               (("--param", three, "convert", self.bin), ["contradicts the sidecar"]),
                               (("plot", self.bin, "--channels", "1"), ["analog channels 1 (the sidecar: 2)"])):
            with self.subTest(args=args):
                target = out.replace(".csv", ".svg") if args[0] == "plot" else out  # plot draws pictures only
                rc, _, err = zelk(*args, "-o", target)
                self.assertEqual(rc, 5, err)
                for message in messages:
                    self.assertIn(message, err)
                self.assertIn("--force", err)
                self.assertFalse(os.path.exists(target))
        # Forced, the command line is used: AIN1 on the 5 V range, 250 us between records.
        plain, _ = self.csv_of(self.bin)
        forced, err = self.csv_of(self.bin, "--ranges", "10V,5V", "--period", "250", "--force")
        self.assertIn("warning: --force", err)
        self.assertEqual(float(forced[4]["TIME"]), 4 * 250e-6)
        for a, b in list(zip(plain, forced))[:50]:
            self.assertAlmostEqual(float(b["AIN1"]), float(a["AIN1"]) / 2, places=4)

    def test_a_sidecar_of_another_file_or_count_is_warned(self):
        name = os.path.basename(self.bin)
        records = os.path.getsize(self.bin) // 8
        with open(os.path.splitext(self.bin)[0] + ".ini", "rb") as f:
            own = f.read().decode("cp1250")
        self.assertIn("Soubor=%s\r\n" % name, own)
        self.assertIn("Počet záznamů=%d\r\n" % records, own)
        other = "Zelk2716e_12000001_20200101_000000.bin"
        for case, sidecar, warnings in (
                ("its own", own, []),
                ("copied from another run",
                 own.replace(name, other).replace("záznamů=%d" % records, "záznamů=3035"),
                 ["was written for %s, not for %s" % (other, name),
                  "says 3035 records, %s holds %d" % (name, records)]),
                ("written at the start", re.sub(r"(Soubor|Počet záznamů)=[^\r]*\r\n", "", own), [])):
            with self.subTest(case=case), tempfile.TemporaryDirectory(dir=self.dir.name) as d:
                copy = os.path.join(d, name)
                shutil.copy(self.bin, copy)
                with open(os.path.splitext(copy)[0] + ".ini", "wb") as f:
                    f.write(sidecar.encode("cp1250"))
                rows, err = self.csv_of(copy)
                self.assertEqual(len(rows), records)
                self.assertEqual(err.count("warning"), len(warnings), err)
                for warning in warnings:
                    self.assertIn(warning, err)

    def test_output_folder_is_made_and_an_existing_output_kept(self):
        out = os.path.join(self.dir.name, "new", "deeper", "table.dbf")
        for extra, code, message in (((), 0, "wrote"), ((), 5, "exists: give --force"), (("--force",), 0, "wrote")):
            before = os.path.getmtime(out) if os.path.exists(out) else None
            rc, stdout, err = zelk("convert", self.bin, "-o", out, *extra)
            self.assertEqual(rc, code, err)
            self.assertIn(message, stdout + err)
            if code:
                self.assertEqual(os.path.getmtime(out), before)
        self.assertEqual(len(dbfread.DBF(out)), os.path.getsize(self.bin) // 8)


# Czech upper-case keys, blanks around "=", quoted values and a decimal comma: the driver
# folds the case, trims and unquotes; channel 0 on the 1 V range with A = 2.5.
PARAM_TEXT = ('[VOLBA MODULU]\r\nVÝROBNÍ ČÍSLO = "12000001"\r\n'
              '[ANALOGOVÝ KANÁL 0]\r\nROZSAH = "1V"\r\nKONSTANTA A = "2,5"\r\n'
              '[MĚŘENÍ ČASOVAČEM]\r\nPOČET KANÁLŮ=2\r\nPOVOLENÍ CNT0=0\r\nPERIODA [US]="500"\r\n')
SEQUENCE_BENCH = "[bench]\nsignals = sequence\n"  # the same samples in every run


class TestParamFiles(unittest.TestCase):
    def test_measure_and_convert_read_what_the_driver_reads(self):
        for encoding in ("cp1250", "utf-8", "utf-8-sig", "utf-16"):
            with self.subTest(encoding=encoding), tempfile.TemporaryDirectory() as d:
                ini = os.path.join(d, "zelk.ini")
                with open(ini, "wb") as f:
                    f.write(PARAM_TEXT.encode(encoding))
                rc, out, err = zelk("measure", "--param", ini, "--format", "bin", "--records", "300", "--out",
                                    os.path.join(d, "bin"), "--no-progress", bench=SEQUENCE_BENCH)
                self.assertEqual(rc, 0, out + err)
                self.assertIn("measuring 2 channels +CNT1 +DIN/DOUT", out)
                self.assertIn("period used       500.0 us", out)
                record_file = measured_files(os.path.join(d, "bin"), ".bin")[0]
                self.assertEqual(os.path.getsize(record_file), 300 * 8)
                with open(ini, "rb") as f:
                    self.assertEqual(f.read(), PARAM_TEXT.encode(encoding))  # the user's file is not touched
                # The sidecar is the run's file: every line kept, the same encoding, the folder added.
                with open(os.path.splitext(record_file)[0] + ".ini", "rb") as f:
                    sidecar = f.read().decode(encoding)
                for line in PARAM_TEXT.split("\r\n")[:6]:
                    self.assertIn(line, sidecar)
                self.assertIn("Adresář=" + os.path.join(d, "bin"), sidecar)

                rc, out, err = zelk("measure", "--param", ini, "--format", "DBF", "--records", "300", "--out",
                                    os.path.join(d, "dbf"), "--no-progress", bench=SEQUENCE_BENCH)
                self.assertEqual(rc, 0, out + err)
                driver_table = measured_files(os.path.join(d, "dbf"), ".dbf")[0]
                converted = os.path.join(d, "converted.dbf")
                rc, out, err = zelk("convert", record_file, "--param", ini, "-o", converted)
                self.assertEqual(rc, 0, err)
                rows = list(dbfread.DBF(converted))
                self.assertEqual(rows, list(dbfread.DBF(driver_table)))
                self.assertEqual(len(rows), 300)
                self.assertAlmostEqual(min(r["AIN0"] for r in rows), -2.5, places=3)  # -1 V x 2.5

    def test_convert_takes_the_sidecar_and_refuses_what_does_not_fit(self):
        with tempfile.TemporaryDirectory() as d:
            rc, out, err = zelk("measure", "--channels", "2", "--no-cnt0", "--period", "500", "--format", "bin",
                                "--records", "200", "--out", d, "--no-progress")
            self.assertEqual(rc, 0, out + err)
            record_file = measured_files(d, ".bin")[0]
            rc, out, err = zelk("convert", record_file, "--format", "CSV", "-o", "-")
            self.assertEqual(rc, 0, err)
            rows = list(csv.DictReader(out.splitlines()))
            self.assertEqual(len(rows), 200)
            self.assertEqual(list(rows[0]), ["INDEX", "TIME", "AIN0", "AIN1", "CNT1", "DIN0", "DIN1", "DOUT"])
            self.assertEqual(float(rows[10]["TIME"]), 10 * 500e-6)
            self.assertIn("layout from " + os.path.splitext(record_file)[0] + ".ini", err)
            rc, _, err = zelk("plot", record_file)  # layout and period from the sidecar too
            self.assertEqual(rc, 0, err)
            root = ET.parse(os.path.splitext(record_file)[0] + ".svg").getroot()
            self.assertIn("time [s]", "".join(t.text or "" for t in root.iter("{http://www.w3.org/2000/svg}text")))

            with open(record_file, "rb") as f:
                records = f.read()
            odd = os.path.join(d, "odd.bin")
            with open(odd, "wb") as f:
                f.write(records + b"\0\0\0")
            table = os.path.join(d, "table.dbf")
            self.assertEqual(zelk("convert", record_file, "-o", table)[0], 0)
            disguised = os.path.join(d, "disguised.bin")
            with open(table, "rb") as src, open(disguised, "wb") as dst:
                dst.write(src.read())
            for args, message in (((odd, "--channels", "2", "--no-cnt0"), "not a whole number of 8-byte records"),
                                  ((table,), "is a dBASE table"),
                                  ((disguised, "--channels", "2"), "is a dBASE table")):
                out_file = os.path.join(d, "out.csv")
                rc, _, err = zelk("convert", *args, "--format", "csv", "-o", out_file)
                self.assertEqual(rc, 5, args)
                self.assertIn(message, err)
                self.assertIn("nothing written", err)
                self.assertFalse(os.path.exists(out_file))
            rc, _, err = zelk("convert", odd)  # no sidecar, no layout
            self.assertEqual(rc, 1)
            self.assertIn("--param", err)


    def test_a_killed_measurement_leaves_its_layout_beside_the_data(self):
        with tempfile.TemporaryDirectory() as d:
            p = subprocess.Popen([ZELK, "measure", "--format", "bin", "--channels", "3", "--no-cnt1", "--period", "400",
                                  "--out", d, "--no-progress"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline and not (measured_files(d, ".ini") and measured_files(d, ".bin")
                                                       and os.path.getsize(measured_files(d, ".bin")[0]) >= 100 * 10):
                time.sleep(0.05)
            p.kill()  # no chance to write anything at the end
            p.communicate(timeout=60)
            record_file = measured_files(d, ".bin")[0]
            rc, out, err = zelk("convert", record_file, "--format", "csv", "-o", "-")
            self.assertEqual(rc, 0, err)
            rows = list(csv.DictReader(out.splitlines()))
            self.assertEqual(list(rows[0]), ["INDEX", "TIME", "AIN0", "AIN1", "AIN2", "CNT0", "DIN0", "DIN1", "DOUT"])
            self.assertEqual(len(rows), os.path.getsize(record_file) // 10)
            self.assertEqual(float(rows[5]["TIME"]), 5 * 400e-6)

            sidecar = os.path.splitext(record_file)[0] + ".ini"
            for content, message in ((b"", "is empty"), (b"\x00\x01garbage", "cannot be read as a parameter file")):
                with open(sidecar, "wb") as f:
                    f.write(content)
                rc, _, err = zelk("convert", record_file, "--format", "csv", "-o", os.path.join(d, "x.csv"))
                self.assertEqual(rc, 5, err)
                self.assertIn("the sidecar " + sidecar + " " + message, err)


class TestLive(unittest.TestCase):
    SEQUENCE = "[bench]\nsignals = sequence\n"

    def test_stream_gives_every_stored_record_once_in_order_as_the_table_has_it(self):
        for fmt in ("csv", "jsonl"):
            with self.subTest(fmt), tempfile.TemporaryDirectory() as d:
                stream = os.path.join(d, "records." + fmt)
                rc, out, err = zelk("measure", "--channels", "3", "--no-cnt1", "--period", "200", "--records", "4000",
                                    "--out", d, "--no-progress", "--stream", fmt, "-o", stream, bench=self.SEQUENCE)
                self.assertEqual(rc, 0, out + err)
                self.assertIn("records streamed  4000", out)
                with open(stream) as f:
                    if fmt == "csv":
                        rows = list(csv.DictReader(f))
                    else:
                        rows = [json.loads(line) for line in f]
                self.assertEqual([int(r["INDEX"]) for r in rows], list(range(4000)))
                self.assertEqual(float(rows[7]["TIME"]), 7 * 200e-6)
                self.assertEqual(measured_files(d, ".bin"), [])  # the conversion deleted it under the stream
                table = list(dbfread.DBF(measured_files(d, ".dbf")[0]))
                for row, rec in zip(rows, table):
                    for field in ("AIN0", "AIN1", "AIN2", "CNT0", "DIN0", "DIN1", "DOUT"):
                        self.assertAlmostEqual(float(row[field]), rec[field], places=4)

    def test_stream_on_stdout_moves_what_zelk_says_to_stderr_and_stops_on_a_closed_pipe(self):
        with tempfile.TemporaryDirectory() as d:
            p = subprocess.Popen([ZELK, "measure", "--channels", "1", "--format", "bin", "--out", d, "--stream", "csv"],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            header = p.stdout.readline()
            self.assertEqual(header.strip(), "INDEX,TIME,AIN0,CNT0,CNT1,DIN0,DIN1,DOUT")
            for _ in range(100):
                self.assertTrue(p.stdout.readline())
            p.stdout.close()  # the reader goes away: zelk stops the measurement cleanly
            err = p.stderr.read()
            p.stderr.close()
            p.wait(timeout=60)
            self.assertEqual(p.returncode, 5, err)
            self.assertIn("stopped: the stream's output failed", err)
            self.assertIn("records stored", err)
            stored = int(err.split("records stored")[1].split()[0])
            self.assertEqual(os.path.getsize(measured_files(d, ".bin")[0]), stored * 8)

    def test_json_lines_of_measure_and_watch(self):
        with tempfile.TemporaryDirectory() as d:
            rc, out, err = zelk("measure", "--channels", "2", "--records", "2500", "--period", "1000", "--out", d,
                                "--json")
            self.assertEqual(rc, 0, out + err)
            events = [json.loads(line) for line in out.splitlines()]
            self.assertEqual(events[-1]["event"], "end")
            self.assertEqual(events[-1]["stored"], 2500)
            self.assertEqual(events[-1]["measurement_status"], 0)
            progress = [e for e in events if e["event"] == "progress"]
            self.assertTrue(progress, out)
            self.assertEqual(progress[0]["period_rate"], 1000)
            for e in progress:
                self.assertGreaterEqual(e["behind"], 0)
        rc, out, _ = zelk("watch", "0,98", "--count", "3", "--interval", "10", "--json")
        self.assertEqual(rc, 0)
        cycles = [json.loads(line) for line in out.splitlines()]
        self.assertEqual([c["cycle"] for c in cycles], [1, 2, 3])
        self.assertEqual([ch["channel"] for ch in cycles[0]["channels"]], [0, 98])

    def test_loss_is_reported_while_the_measurement_runs(self):
        with tempfile.TemporaryDirectory() as d:
            p = subprocess.Popen([ZELK, "measure", "--channels", "16", "--period", "200", "--format", "bin", "--out", d],
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                 env=dict(os.environ, ZELK_SIM_CONFIG=self.slow_link(d)))
            # The warning comes while it runs, before any stop (which comes anyway after 30 s).
            guard = threading.Timer(30, p.send_signal, [signal.SIGINT])
            guard.start()
            line = p.stderr.readline()
            while line and "records are being lost" not in line:
                line = p.stderr.readline()
            self.assertIn("records are being lost", line)
            self.assertIsNone(p.poll())
            p.send_signal(signal.SIGINT)
            out, _ = p.communicate(timeout=60)
            guard.cancel()
            self.assertIn("behind", out)

    @staticmethod
    def slow_link(d):
        path = os.path.join(d, "bench.ini")
        with open(path, "w") as f:
            f.write("[bench]\nbandwidth = 20000\n")
        return path


class TestCheck(unittest.TestCase):
    # (lines of a parameter file after a valid [Volba modulu], findings expected as
    # (line, "error"|"warning", text fragment)); line numbers count the two lines in front.
    CASES = [
        ("typical mistakes",
         ["[Analogovy kanal 1]", "Rozsah=5v", "Konstnta A=2", "[Měření časovačem]", "Pocet kanalu=3",
          "Povolení CNT0=ano"],
         [(3, "warning", 'did you mean "Analogový kanál 1"? (letter case, accents or blanks differ)'),
          (4, "warning", '"Rozsah=5v": not a range name (10V, 5V, 2V, 1V, 500mV, 200mV, exact case); the driver uses 10V'),
          (5, "warning", 'did you mean "Konstanta A"?'),
          (7, "warning", 'did you mean "Počet kanálů"?'),
          (8, "warning", '"Povolení CNT0=ano": not a whole number; the driver keeps 1 (recorded)')]),
        ("limits and what is used instead",
         ["[Měření časovačem]", "Počet kanálů=20", "Perioda [us]=10", "Přednastavení CNT0=70000",
          "Povolení DIN a DOUT=256"],
         [(4, "warning", "outside 1..16; the driver uses 16"),
          (5, "warning", "a measurement runs at 180.0 us"),  # 16 channels, 2 counters, no DIN/DOUT
          (6, "warning", "outside 0..65535; the driver uses 4464"),
          (7, "warning", "outside 0..1; the driver uses 0 (not recorded)")]),
        ("repeats: the first wins",
         ["[Konverze souboru]", "Typ souboru=BIN", "typ souboru=DBF", "[Konverze souboru]", "Adresář=x"],
         [(5, "warning", "repeats the key of line 4 in [Konverze souboru]: the first one counts"),
          (6, "warning", "repeats the section of line 3: the driver reads the first one only")]),
        ("what Init refuses",
         ["USB timeout=0", "[Analogový kanál 0]", "Konstanta B=abc", "[Konverze souboru]", "Typ souboru=XLS"],
         [(3, "error", '"USB timeout=0": outside 1..10000: Init refuses it'),
          (5, "error", '"Konstanta B=abc": not a number: Init refuses it'),
          (7, "error", "neither BIN nor DBF: Init refuses it")]),
        ("the tool's own keys and a clean file",
         ["[Analogový kanál 3]", "Název=Teplota", "Jednotka=°C", "Konstanta A=100", "[Záznam]", "Počet záznamů=5"],
         []),
    ]

    def test_findings_with_line_numbers(self):
        with tempfile.TemporaryDirectory() as d:
            for name, lines, expected in self.CASES:
                with self.subTest(name):
                    path = os.path.join(d, "p.ini")
                    with open(path, "wb") as f:
                        f.write("\r\n".join(["[Volba modulu]", "Výrobní číslo=12000001"] + lines).encode("cp1250"))
                    rc, out, err = zelk("check", path)
                    found = [l for l in out.splitlines() if ": warning: " in l or ": error: " in l]
                    self.assertEqual(len(found), len(expected), out)
                    for (line, kind, fragment), got in zip(expected, found):
                        self.assertTrue(got.startswith("%s:%d: %s: " % (path, line, kind)), got)
                        self.assertIn(fragment, got)
                    errors = any(k == "error" for _, k, _ in expected)
                    self.assertEqual(rc, 5 if errors else 0, out)
                    self.assertIn("encoding Windows-1250", out)
                    if expected and not errors:
                        self.assertEqual(zelk("check", path, "--strict")[0], 5)

    def test_commands_warn_first_and_init_failures_name_the_key(self):
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "p.ini")
            with open(path, "w", encoding="utf-8") as f:  # UTF-8: the driver converts it
                f.write("[Volba modulu]\nVýrobní číslo=12000001\n[Měření časovačem]\nPocet kanalu=3\n")
            rc, out, err = zelk("read", "0", "--param", path)
            self.assertEqual(rc, 0, err)
            self.assertIn(path + ':4: warning: "Pocet kanalu" is not a key the driver reads', err)
            rc, out, err = zelk("read", "0", "--param", path, "--strict")
            self.assertEqual(rc, 5, err)
            self.assertIn("--strict", err)
            self.assertNotIn("V pořádku", out)  # nothing was started
            with open(path, "w", encoding="utf-8") as f:
                f.write("[Volba modulu]\nVyrobni cislo=12000001\n")
            rc, _, err = zelk("info", "--param", path)
            self.assertEqual(rc, 2, err)
            self.assertIn("Init failed: Chybný parametrický soubor", err)
            self.assertIn('no key "Výrobní číslo" in [Volba modulu]', err)
            self.assertIn('did you mean "Výrobní číslo"?', err)


# Channel 0 named, in °C through Jednotka with A = 100; 1 left alone (V); 2 scaled without a
# unit; 3 named with a comma (quoted in the CSV), in V; 4 with an empty Jednotka (no unit).
LABELS_PARAM = ("[Volba modulu]\r\nVýrobní číslo=12000001\r\n"
                "[Analogový kanál 0]\r\nNázev=Teplota\r\nKonstanta A=100\r\nJednotka=°C\r\n"
                "[Analogový kanál 2]\r\nKonstanta A=2\r\n[Analogový kanál 3]\r\nNázev=Tlak, vstup\r\n"
                "[Analogový kanál 4]\r\nJEDNOTKA = \r\n[Měření časovačem]\r\nPočet kanálů=5\r\n"
                "Povolení CNT0=0\r\nPovolení CNT1=0\r\nPovolení DIN a DOUT=0\r\n")
# channel: name, unit, column heading, the value axis of its plot panel
LABELS = {0: ("Teplota", "°C", "AIN0 Teplota [°C]", "°C"), 1: ("", "V", "AIN1", "V"),
          2: ("", "", "AIN2", "(U + B) x A, A = 2, B = 0"), 3: ("Tlak, vstup", "V", "AIN3 Tlak, vstup [V]", "V"),
          4: ("", "", "AIN4", "(U + B) x A, A = 1, B = 0")}


class TestLabels(unittest.TestCase):
    def test_read_and_watch_show_names_and_units(self):
        for encoding in ("cp1250", "utf-8", "utf-16"):
            with self.subTest(encoding=encoding), tempfile.TemporaryDirectory() as d:
                ini = os.path.join(d, "labels.ini")
                with open(ini, "wb") as f:
                    f.write(LABELS_PARAM.encode(encoding))
                rc, out, err = zelk("read", "0-4", "--json", "--param", ini)
                self.assertEqual(rc, 0, err)
                self.assertEqual({r["channel"]: (r["name"], r["unit"]) for r in json.loads(out)},
                                 {ch: label[:2] for ch, label in LABELS.items()})
                rc, out, err = zelk("read", "0-4", "--param", ini)
                self.assertEqual(rc, 0, err)
                for ch, (name, unit, _, _) in LABELS.items():
                    self.assertRegex(row_of(out, ch), r"^%d +%s +real input.* -?\d+\.\d{4}%s +0 V"
                                     % (ch, re.escape(name), re.escape(" " + unit) if unit else ""))
                rc, out, err = zelk("watch", "0-4", "--count", "1", "--interval", "10", "--param", ini)
                self.assertEqual(rc, 0, err)
                head, cells = [l.split("\t") for l in out.splitlines()[:2]]
                self.assertEqual(head, ["cycle"] + ["ch" + LABELS[ch][2][3:] for ch in range(5)])
                self.assertEqual([c.split()[1:] for c in cells[1:]], [[LABELS[ch][1]] if LABELS[ch][1] else []
                                                                      for ch in range(5)])

    def test_csv_headings_and_plot_legends(self):
        with tempfile.TemporaryDirectory() as d:
            ini = os.path.join(d, "labels.ini")
            with open(ini, "wb") as f:
                f.write(LABELS_PARAM.encode("cp1250"))
            rc, out, err = zelk("measure", "--param", ini, "--format", "bin", "--records", "200", "--out", d,
                                "--no-progress")
            self.assertEqual(rc, 0, out + err)
            record_file = measured_files(d, ".bin")[0]
            rc, out, err = zelk("convert", record_file, "--format", "csv", "-o", "-")
            self.assertEqual(rc, 0, err)
            head = next(csv.reader(out.splitlines()))
            headings = [LABELS[ch][2] for ch in range(5)]
            self.assertEqual(head, ["INDEX", "TIME"] + headings)
            self.assertEqual([h.split()[0] for h in head[2:]], ["AIN%d" % ch for ch in range(5)])  # findable
            svg = os.path.join(d, "labels.svg")
            rc, _, err = zelk("plot", record_file, "-o", svg)
            self.assertEqual(rc, 0, err)
            TestPlot.check_svg(self, svg, ["AIN%d" % ch for ch in range(5)], headings)
            axes = {}
            for ch in range(5):
                axes.setdefault(LABELS[ch][3], []).append("AIN%d" % ch)
            self.assertEqual(TestPlot.panels(svg), list(axes.items()))


class TestDeviceFailure(unittest.TestCase):
    FAILING_INPUTS = "[command fault]\ncommand = 0x90\nfault = wrong echo\ntimes = always\n"

    def test_read_and_watch_end_with_the_device_status(self):
        rc, out, err = zelk("read", "0-1", bench=self.FAILING_INPUTS)
        self.assertEqual(rc, 3, out + err)
        self.assertIn("13 Chyba povelu", row_of(out, 1))
        self.assertIn("device status 13", err)
        rc, out, err = zelk("watch", "0", "--count", "2", "--interval", "10", bench=self.FAILING_INPUTS)
        self.assertEqual(rc, 3, out + err)
        self.assertEqual(zelk("watch", "0", "--count", "2", "--interval", "10")[0], 0)

    def test_ctrl_c_ends_a_following_window_with_130(self):
        p = subprocess.Popen([ZELK, "window", "--follow"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 60
        line = p.stdout.readline()  # the first page is out: the window runs
        self.assertTrue(line, "no output from zelk window --follow")
        self.assertLess(time.monotonic(), deadline)
        p.send_signal(signal.SIGINT)
        p.communicate(timeout=60)
        self.assertEqual(p.returncode, 130)


class TestDataLoss(unittest.TestCase):
    def test_records_lost_on_a_slow_link_fail_the_measurement(self):
        with tempfile.TemporaryDirectory() as d:
            rc, out, err = zelk("measure", "--channels", "16", "--period", "200", "--records", "3000", "--format",
                                "bin", "--out", d, "--no-progress", bench="[bench]\nbandwidth = 20000\n")
            self.assertEqual(rc, 4, out + err)
            self.assertIn("records were lost", err)
            self.assertIn("38 bytes per record", err)
            self.assertIn("records stored    3000", out)  # the stored count alone does not show it


SVG = "{http://www.w3.org/2000/svg}"


class TestPlot(unittest.TestCase):
    SVG = SVG

    def check_svg(self, path, names, legends=None):
        root = ET.parse(path).getroot()
        self.assertEqual(root.tag, SVG + "svg")
        lines = {p.get("data-name"): p for p in root.iter(SVG + "polyline")}
        self.assertEqual(sorted(lines), sorted(names))
        for p in lines.values():
            self.assertGreater(len(p.get("points").split()), 10)
        legend = [t.text for t in root.iter(SVG + "text") if t.get("class") == "legend"]
        self.assertEqual(sorted(legend), sorted(legends or names))
        return "".join(t.text or "" for t in root.iter(SVG + "text"))

    @staticmethod
    def panels(svg):
        """The value axis of each panel, top down, and the fields drawn in it."""
        return [(g.get("data-axis"), [p.get("data-name") for p in g.iter(SVG + "polyline")])
                for g in ET.parse(svg).getroot().iter(SVG + "g") if g.get("class") == "panel"]

    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        rc, out, err = zelk("measure", "--channels", "16", "--format", "bin", "--records", "300", "--out",
                            cls.dir.name, "--no-progress")
        assert rc == 0, out + err
        cls.sixteen = measured_files(cls.dir.name, ".bin")[0]

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def test_sixteen_channels_colours_and_panels(self):
        svg = os.path.join(self.dir.name, "all.svg")
        rc, _, err = zelk("plot", self.sixteen, "-o", svg)
        self.assertEqual(rc, 0, err)
        strokes = [p.get("stroke") for p in ET.parse(svg).getroot().iter(SVG + "polyline")]
        self.assertEqual(len(strokes), 21)
        self.assertEqual(len(set(strokes)), 21, strokes)  # no two traces share a colour
        self.assertEqual(self.panels(svg), [("V", ["AIN%d" % n for n in range(16)]), ("counter value", ["CNT0"]),
                                            ("counter value", ["CNT1"]), ("digital lines", ["DIN0", "DIN1", "DOUT"])])

    def test_png_pictures_and_names_refused(self):
        svg = os.path.join(self.dir.name, "size.svg")
        self.assertEqual(zelk("plot", self.sixteen, "-o", svg)[0], 0)
        root = ET.parse(svg).getroot()
        size = (int(root.get("width")), int(root.get("height")))
        for name, code, message in (("x.png", 0, "1100 x %d pixels" % size[1]), ("X.PNG", 0, ""),
                                    ("x.jpg", 1, "give a name ending in .svg or .png"),
                                    ("x", 1, "give a name ending in .svg or .png")):
            with self.subTest(name=name):
                out_file = os.path.join(self.dir.name, name)
                rc, out, err = zelk("plot", self.sixteen, "-o", out_file)
                self.assertEqual(rc, code, err)
                self.assertIn(message, out + err)
                if code:
                    self.assertFalse(os.path.exists(out_file))
                    continue
                with open(out_file, "rb") as f:
                    png = f.read()
                self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
                # The chunks read back with zlib: IHDR (size, 8-bit RGB), and pixels that are
                # not all white.
                chunks, at = {}, 8
                while at < len(png):
                    length = int.from_bytes(png[at:at + 4], "big")
                    kind, body = png[at + 4:at + 8], png[at + 8:at + 8 + length]
                    self.assertEqual(int.from_bytes(png[at + 8 + length:at + 12 + length], "big"),
                                     zlib.crc32(kind + body))
                    chunks[kind] = chunks.get(kind, b"") + body
                    at += 12 + length
                ihdr = chunks[b"IHDR"]
                self.assertEqual((int.from_bytes(ihdr[:4], "big"), int.from_bytes(ihdr[4:8], "big")), size)
                self.assertEqual(ihdr[8:10], b"\x08\x02")
                pixels = zlib.decompress(chunks[b"IDAT"])
                self.assertEqual(len(pixels), size[1] * (1 + 3 * size[0]))
                self.assertGreater(sum(1 for b in pixels[::7] if b < 128), 1000)
                if shutil.which("file"):
                    self.assertIn("PNG image data, %d x %d" % size,
                                  subprocess.run(["file", out_file], capture_output=True, text=True).stdout)

    def test_fields_in_any_letter_case(self):
        svg = os.path.join(self.dir.name, "some.svg")
        for fields, drawn in (("ain1,Cnt0", ["AIN1", "CNT0"]), ("AIN15,din1,dout", ["AIN15", "DIN1", "DOUT"])):
            rc, _, err = zelk("plot", self.sixteen, "--fields", fields, "-o", svg)
            self.assertEqual(rc, 0, err)
            self.check_svg(svg, drawn)
        valid = ", ".join(["AIN%d" % n for n in range(16)] + ["CNT0", "CNT1", "DIN0", "DIN1", "DOUT"])
        for unknown in ("ain16", "index", "CNT"):
            rc, _, err = zelk("plot", self.sixteen, "--fields", "ain1," + unknown, "-o", svg)
            self.assertEqual(rc, 1, unknown)
            self.assertIn("no field %s in %s; its fields are %s" % (unknown, self.sixteen, valid), err)

    def test_table_and_record_file(self):
        with tempfile.TemporaryDirectory() as d:
            rc, out, err = zelk("measure", "--channels", "2", "--records", "300", "--out", d, "--no-progress")
            self.assertEqual(rc, 0, out + err)
            table = measured_files(d, ".dbf")[0]
            rc, out, err = zelk("plot", table, "--period", "1000")
            self.assertEqual(rc, 0, err)
            texts = self.check_svg(os.path.splitext(table)[0] + ".svg",
                                   ["AIN0", "AIN1", "CNT0", "CNT1", "DIN0", "DIN1", "DOUT"])
            self.assertIn("time [s]", texts)
            svg = os.path.join(d, "two.svg")
            rc, _, err = zelk("plot", table, "--fields", "AIN1,CNT0", "-o", svg, "--title", "Zkouška <1>")
            self.assertEqual(rc, 0, err)
            self.assertIn("Zkouška <1>", self.check_svg(svg, ["AIN1", "CNT0"]))
            self.assertEqual(zelk("plot", table, "--fields", "AIN7")[0], 1)

            rc, _, _ = zelk("measure", "--format", "bin", "--channels", "1", "--no-cnt0", "--no-cnt1", "--no-dio",
                            "--records", "200", "--out", d, "--no-progress")
            self.assertEqual(rc, 0)
            record_file = measured_files(d, ".bin")[0]
            os.unlink(os.path.splitext(record_file)[0] + ".ini")  # the command line alone: no period
            rc, _, err = zelk("plot", record_file, "--channels", "1", "--no-cnt0", "--no-cnt1", "--no-dio")
            self.assertEqual(rc, 0, err)
            texts = self.check_svg(os.path.splitext(record_file)[0] + ".svg", ["AIN0"])
            self.assertIn("record index", texts)

    def test_not_a_table(self):
        with tempfile.NamedTemporaryFile(suffix=".dbf") as f:
            f.write(b"not a table at all, not at all" * 3)
            f.flush()
            rc, _, err = zelk("plot", f.name)
            self.assertEqual(rc, 5)
            self.assertIn("not a dBASE III table", err)


class TestHosts(unittest.TestCase):
    def check(self, cmd, encoding):
        env = dict(os.environ, PYTHONIOENCODING="utf-8")
        p = subprocess.run(cmd, capture_output=True, timeout=60, env=env)
        out = p.stdout.decode(encoding)
        self.assertEqual(p.returncode, 0, out + p.stderr.decode("cp1250", "replace"))
        self.assertIn("channel 98: device status 0", out)
        self.assertIn("channel 99: V pořádku", out)
        values = [float(l.split(":")[1].split()[0]) for l in out.splitlines()
                  if l.split(":")[0] in ("channel 0", "channel 1", "channel 2", "channel 3")]
        self.assertEqual(len(values), 4)

    def test_c_host(self):
        # It prints the driver's texts as they come: cp1250.
        self.check([C_HOST, SIM_DRIVER, os.path.join(EXAMPLES, "demo.ini")], "cp1250")

    def test_c_host_measures_through_notifications(self):
        with tempfile.TemporaryDirectory() as d:
            with open(os.path.join(EXAMPLES, "demo.ini"), "rb") as f:
                # BIN: the records are on disk when the status returns to 0 (a table comes later).
                text = f.read().decode("cp1250").replace("Adresář=", "Adresář=" + d, 1)
                text = text.replace("Typ souboru=DBF", "Typ souboru=BIN", 1)
            ini = os.path.join(d, "demo.ini")
            with open(ini, "wb") as f:
                f.write(text.encode("cp1250"))
            p = subprocess.run([C_HOST, SIM_DRIVER, ini, "200"], capture_output=True, timeout=120)
            out = p.stdout.decode("cp1250")
            self.assertEqual(p.returncode, 0, out)
            self.assertIn("write cycle: finished", out)
            self.assertIn("measurement: 200 records stored, status 0", out)
            self.assertEqual(os.path.getsize(measured_files(d, ".bin")[0]), 200 * 14)  # 4 channels, counters, DIN/DOUT

    @unittest.skipIf(os.environ.get("ZELK_SANITIZER") == "thread",
                     "python cannot load a ThreadSanitizer-built driver (its runtime must come first)")
    def test_python_host(self):
        self.check([sys.executable, os.path.join(EXAMPLES, "python_host", "host.py"), SIM_DRIVER,
                    os.path.join(EXAMPLES, "demo.ini")], "utf-8")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
