#!/usr/bin/env python3
"""Every command of README.md, packaging/QUICKSTART.md and tools/zelk/README.md, run as written:
each line of a ```sh block, and each inline `code` that starts with a program. `bin/zelk ...`
runs in the unpacked package (a `cmake --install` of the build: the archives' layout) with a
clean environment; `zelk ...` there too, with bin/ on PATH as the .deb installs it, in the tool's
README and on README and QUICKSTART lines that name the .deb before it (elsewhere a bare zelk is
"command not found", as in a tarball); `build/linux/...` where build/linux is the build under
test. A command for a real module gets the simulator's D2XX library through LD_LIBRARY_PATH.
Only PLACEHOLDERS are replaced; a command with [optional] parts runs without and with them. One
that runs until Ctrl+C gets SIGINT after its first line and must end with 130, the rest with 0.

Environment: ZELK_SOURCE_DIR (the source tree), ZELK_BUILD_DIR (the build under test)."""
import glob
import os
import re
import shlex
import signal
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.environ["ZELK_SOURCE_DIR"]
BUILD = os.environ["ZELK_BUILD_DIR"]
DOCUMENTS = ("README.md", "packaging/QUICKSTART.md", "tools/zelk/README.md")
WRITTEN_FOR_THE_DEB = {"tools/zelk/README.md"}  # zelk on PATH throughout

# Placeholder in a documented command -> how the test fills it in (cwd: the command's folder).
PLACEHOLDERS = {
    "data/Zelk2716e_....bin": lambda cwd: only(glob.glob(os.path.join(cwd, "data", "Zelk2716e_*.bin"))),
    "data/Zelk2716e_....dbf": lambda cwd: sorted(glob.glob(os.path.join(cwd, "data", "Zelk2716e_*.dbf")))[0],
    "<build dir>": lambda cwd: BUILD,
    "<dir>": lambda cwd: tempfile.mkdtemp(dir=cwd, prefix="install-"),
}

RECURSIVE = "builds and runs every test, this one among them"
FUZZ = "needs the fuzz preset's clang build (scripts/test builds and runs it)"
SYSTEM = "changes the machine as root, for a real module"
EXCLUDED = {
    "scripts/demo": "runs scripts/install-deps (apt-get as root when a package is missing) and builds the linux "
                    "preset into the source tree: a second build from inside a test; its measurement and chart are "
                    "the tool README's measure --param examples/demo.ini and plot, which run here",
    "scripts/test": RECURSIVE,
    "scripts/test linux win32": RECURSIVE,
    "scripts/install-deps": "installs Debian packages as root",
    "cmake --preset linux && cmake --build --preset linux && ctest --preset linux": RECURSIVE,
    "scripts/package": "builds three presets: far too heavy for a test; tests/package/smoke.sh tries its packages",
    "tests/package/smoke.sh": "needs the packages scripts/package writes into dist/",
    "scripts/bench": "a Release build and minutes of benchmarks",
    "cmake --preset fuzz && cmake --build --preset fuzz": FUZZ,
    "ctest --preset fuzz": FUZZ,
    "mkdir -p /tmp/corpus && cp fuzz/corpus/fuzz_link/* /tmp/corpus/": FUZZ + "; it fills a shared /tmp folder",
    "build/fuzz/fuzz/fuzz_link -max_total_time=3600 -timeout=10 /tmp/corpus": FUZZ + "; an hour long",
    "build/fuzz/fuzz/fuzz_link crash-<hash>": FUZZ + ", and a crash file of a fuzz run",
    "ldconfig": SYSTEM,
    "udevadm control --reload": SYSTEM,
    "sudo rmmod ftdi_sio": SYSTEM,
}
# Commands for cmd.exe (bin\zelk ...) need Windows: the win32 and win64 presets run zelk.exe
# under wine (tests/tool/CMakeLists.txt).
WINDOWS = re.compile(r"^bin\\zelk\s")

# The first word of an inline `code` that makes it a command; a bare zelk is the program's name.
PROGRAM = re.compile(r"^(zelk|bin[/\\]zelk|scripts/\S+|tests/\S+\.sh|cmake|ctest|sudo|udevadm|ldconfig)(\s|$)")
HARDWARE = re.compile(r"--driver\s+librq_zelk2716e\.so\b")


def only(paths):
    assert len(paths) == 1, paths
    return paths[0]


def documented_commands(text):
    """(line number, command, whether its line names the .deb before it) for each command of a
    document, in order."""
    found, fence = [], None
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if stripped.startswith("```"):
            fence = None if fence is not None else stripped[3:].strip()
            continue
        if fence is not None:
            command = re.sub(r"\s+#.*$", "", stripped)  # a comment after the command
            if fence in ("sh", "bash") and command:
                found.append((number, command, False))
            continue
        for match in re.finditer(r"`([^`]+)`", line):
            span = match.group(1).strip()
            if PROGRAM.match(span) and (not span.split()[0].endswith("zelk") or len(span.split()) > 1):
                found.append((number, span, ".deb" in line[:match.start()]))
    return found


def variants(command):
    """The command without its [optional] parts, then with all of them."""
    if "[" not in command:
        return [command]
    return [re.sub(r"\s*\[[^\]]*\]", "", command), re.sub(r"\[([^\]]*)\]", r"\1", command)]


def runs_until_ctrl_c(words):
    if "zelk" not in os.path.basename(words[0]):
        return False
    command = next((w for w in words[1:] if not w.startswith("-")), "")
    return ((command == "watch" and "--count" not in words) or (command == "window" and "--follow" in words)
            or (command == "measure" and "--records" not in words and "--duration" not in words))


class TestDocCommands(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.TemporaryDirectory()
        # The unpacked package: the install rules give the archives' layout.
        cls.package = os.path.join(cls.work.name, "zelk2716e")
        subprocess.run(["cmake", "--install", BUILD, "--prefix", cls.package], check=True, capture_output=True)
        # A source tree's root, its build/linux being the build under test.
        cls.source = os.path.join(cls.work.name, "source")
        os.makedirs(os.path.join(cls.source, "build"))
        os.symlink(BUILD, os.path.join(cls.source, "build", "linux"))
        cls.env = {"PATH": "/usr/bin:/bin", "HOME": cls.work.name, "LANG": "C.UTF-8", "TMPDIR": cls.work.name}
        # A sanitizer build's own settings (its suppressions) go with it.
        cls.env.update({k: v for k, v in os.environ.items() if k in ("ASAN_OPTIONS", "LSAN_OPTIONS", "TSAN_OPTIONS")})

    @classmethod
    def tearDownClass(cls):
        cls.work.cleanup()

    def place(self, command, deb):
        """The folder and the environment a reader runs the command in."""
        env = dict(self.env)
        if command.startswith("build/") or command.startswith("cmake "):
            return self.source, env
        if deb:
            env["PATH"] = os.path.join(self.package, "bin") + ":" + env["PATH"]
        if HARDWARE.search(command):
            env["LD_LIBRARY_PATH"] = os.path.join(BUILD, "d2xx")
        return self.package, env

    def run_command(self, command, deb):
        cwd, env = self.place(command, deb)
        for placeholder, value in PLACEHOLDERS.items():
            if placeholder in command:
                command = command.replace(placeholder, value(cwd))
        words = shlex.split(command)
        if not runs_until_ctrl_c(words):
            p = subprocess.run(command, shell=True, cwd=cwd, env=env, capture_output=True, text=True, timeout=120)
            self.assertEqual(p.returncode, 0, "%s\n%s%s" % (command, p.stdout, p.stderr))
            return
        p = subprocess.Popen(words, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        first = p.stdout.readline()  # it runs: the first line is out
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=60)
        self.assertTrue(first, command + "\n" + err)
        self.assertEqual(p.returncode, 130, "%s\n%s%s%s" % (command, first, out, err))

    def test_documented_commands_run_as_written(self):
        seen = set()
        for document in DOCUMENTS:
            with open(os.path.join(SOURCE, document), encoding="utf-8") as f:
                commands = documented_commands(f.read())
            self.assertTrue(commands, document)
            for line, command, deb in commands:
                seen.add(command)
                if command in EXCLUDED or WINDOWS.match(command):
                    continue
                for variant in variants(command):
                    with self.subTest(document=document, line=line, command=variant):
                        self.run_command(variant, deb or document in WRITTEN_FOR_THE_DEB)
        # An exclusion whose command left the documents would hide the next one of that name.
        self.assertEqual(sorted(set(EXCLUDED) - seen), [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
