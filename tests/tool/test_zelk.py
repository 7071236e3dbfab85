#!/usr/bin/env python3
"""The zelk tool and the example hosts against the simulated-module driver.

Environment: ZELK_TOOL (the zelk executable, beside the sim driver), ZELK_C_HOST (the
built C example host), ZELK_EXAMPLES (the examples folder)."""
import csv
import glob
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

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
        self.assertEqual(rc, 0, out)
        rows = {r["channel"]: r for r in json.loads(out)}
        self.assertIsInstance(rows[0]["value"], float)
        self.assertEqual(rows[16]["status"], {"code": 100, "text": "Kanál nedefinován", "english": "channel not defined"})
        self.assertEqual(rows[70]["status"]["code"], 99)  # an output never read: no request finished
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
        self.assertEqual(rc, 0, out)
        for ch in range(4):
            row = row_of(out, ch)
            self.assertIn("real input - analogový kanál %d" % ch, row)
            self.assertRegex(row, r"-?\d+\.\d{4} V")
            self.assertTrue(row.rstrip().endswith("0 V pořádku (OK)"), row)  # the English gloss last
        self.assertIn("100 Kanál nedefinován", row_of(out, 16))
        self.assertIn("V pořádku", row_of(out, 99))
        self.assertIn("1000.0000 us", row_of(out, 165))

    def test_scaled_channel_uses_the_parameter_file_constants(self):
        # demo.ini: channel 1 on the 5 V range with A = 100,0: at most 500 in magnitude,
        # and about 100 times channel 1 read with the default constants.
        rc, out, _ = zelk("read", "1", "--param", os.path.join(EXAMPLES, "demo.ini"))
        self.assertEqual(rc, 0, out)
        scaled = float(row_of(out, 1).split("analogový kanál 1")[1].split()[0])
        rc, out, _ = zelk("read", "1")
        plain = float(row_of(out, 1).split("analogový kanál 1")[1].split()[0])
        self.assertGreater(abs(scaled), 5 * abs(plain))
        self.assertLessEqual(abs(scaled), 500.0)

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
        self.assertEqual(list(rows[0].keys()), ["INDEX", "AIN0", "AIN1", "CNT1", "DIN0", "DIN1", "DOUT"])
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
        self.assertEqual(zelk("convert", self.bin, "--param", ini, "-o", scaled)[0], 0)
        for a, b in list(zip(dbfread.DBF(plain), dbfread.DBF(scaled)))[:100]:
            self.assertAlmostEqual(b["AIN0"], a["AIN0"] * 0.04, delta=2e-4)
            self.assertEqual(a["AIN1"], b["AIN1"])

    def test_wrong_layout_is_reported(self):
        rc, _, err = zelk("convert", self.bin, "--channels", "3", "-o", os.path.join(self.dir.name, "x.dbf"))
        if os.path.getsize(self.bin) % 12:  # 3 channels, CNT0, CNT1, DIN/DOUT
            self.assertIn("partial record", err)
        self.assertEqual(zelk("convert", self.bin, "--format", "xls")[0], 1)
        self.assertEqual(zelk("convert", os.path.join(self.dir.name, "none.bin"))[0], 5)


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


class TestPlot(unittest.TestCase):
    SVG = "{http://www.w3.org/2000/svg}"

    def check_svg(self, path, names):
        root = ET.parse(path).getroot()
        self.assertEqual(root.tag, self.SVG + "svg")
        lines = {p.get("data-name"): p for p in root.iter(self.SVG + "polyline")}
        self.assertEqual(sorted(lines), sorted(names))
        for p in lines.values():
            self.assertGreater(len(p.get("points").split()), 10)
        legend = [t.text for t in root.iter(self.SVG + "text") if t.get("class") == "legend"]
        self.assertEqual(sorted(legend), sorted(names))
        return "".join(t.text or "" for t in root.iter(self.SVG + "text"))

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
            self.assertIn("engineering units", texts)
            svg = os.path.join(d, "two.svg")
            rc, _, err = zelk("plot", table, "--fields", "AIN1,CNT0", "-o", svg, "--title", "Zkouška <1>")
            self.assertEqual(rc, 0, err)
            self.assertIn("Zkouška <1>", self.check_svg(svg, ["AIN1", "CNT0"]))
            self.assertEqual(zelk("plot", table, "--fields", "AIN7")[0], 1)

            rc, _, _ = zelk("measure", "--format", "bin", "--channels", "1", "--no-cnt0", "--no-cnt1", "--no-dio",
                            "--records", "200", "--out", d, "--no-progress")
            self.assertEqual(rc, 0)
            record_file = measured_files(d, ".bin")[0]
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
        values = [float(l.split(":")[1].split()[0]) for l in out.splitlines() if l.startswith("channel ") and " V" in l
                  and l.split()[1].rstrip(":") in "0123"]
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
