"""Each program's output in files of its own under Wine: merged and separate
streams, rotation with retention, a file held and one deleted while the
program writes, the last words before a restart, and a program without the
keys left as it was."""

import os
import re
import shutil
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import SupervisionCase, section  # noqa: E402

SERVICE_CONTROL_STOP = 1
LINE_RE = re.compile(r"^(out|err) (\d+) \.*\r\n$")


def numbers(path, stream):
    """The line numbers of one stream in the file, in file order; any line
    that is not a whole numbered line fails the parse."""
    with open(path, "rb") as f:
        text = f.read().decode("ascii")
    found = []
    for line in text.splitlines(keepends=True):
        m = LINE_RE.match(line)
        assert m, "not a whole line: %r in %s" % (line, path)
        if m.group(1) == stream:
            found.append(int(m.group(2)))
    return found


def is_run_of(seq, top):
    """0..top-1 again and again, the last run possibly cut short."""
    return bool(seq) and all(n == i % top for i, n in enumerate(seq))


class OutputCaptureTest(SupervisionCase):

    def copy_lines(self, d, tag):
        shutil.copy2(self.wine.bin("lines.exe"), d.path(tag + ".exe"))
        return d.winpath(tag + ".exe")

    def test_output_goes_to_rotating_files_and_nothing_is_lost(self):
        d = self.install_dir()
        os.makedirs(d.path("logs"))
        apps = [self.copy_lines(d, t) for t in ("merged", "rotated", "held", "deleted", "plain")]
        # Held without sharing before the service first opens it, and let go
        # while the program still writes.
        out = d.path("hold.out")
        holder = self.wine.start(d.path("holdfile.exe"), [d.winpath("held.log"), "5000"],
                                 stdout_path=out)
        harness.wait_until(lambda: "held" in harness.read_record(out), 20, "holdfile holds")
        name = self.run_service(d, [
            section(0, apps[0], CommandLine="40 20 both 100 3", AutoRestart="yes", StartPause=0,
                    OutputLog="merged.log"),
            section(1, apps[1], CommandLine="150 5 both", AutoRestart="no", StartPause=0,
                    Env_0="STREAM=err", OutputLog="logs\\out.log",
                    ErrorLog="logs\\%STREAM%.log", OutputLogMaxSize=1, OutputLogBackups=3),
            section(2, apps[2], CommandLine="400 20 out", AutoRestart="no", StartPause=0,
                    OutputLog="held.log"),
            section(3, apps[3], CommandLine="300 20 out", AutoRestart="no", StartPause=0,
                    OutputLog=d.winpath("deleted.log")),
            section(4, apps[4], CommandLine="5 10 out 100 0 " + d.winpath("plain.rep"),
                    AutoRestart="no", StartPause=0),
        ])
        held = d.path("held.log")
        deleted = d.path("deleted.log")
        harness.wait_until(lambda: os.path.exists(deleted) and os.path.getsize(deleted) > 2000,
                           20, "the deleted program's first lines")
        os.remove(deleted)
        holder.wait(20)
        last_words = "Process (0): Last output: " + "err 39 ".ljust(98, ".")
        harness.wait_for_log(d, last_words, timeout=30)
        harness.wait_until(lambda: os.path.exists(d.path("plain.rep")), 20, "plain's report")
        # The two slowest have ended by then, every line written.
        harness.wait_until(lambda: os.path.exists(deleted) and 299 in numbers(deleted, "out"), 30,
                           "the deleted file's last line")
        harness.wait_until(lambda: 399 in numbers(held, "out"), 30, "the held file's last line")
        self.scm.control(name, SERVICE_CONTROL_STOP)
        self.scm.wait(name, harness.STOPPED, 30000)
        log = harness.read_log(d, strip=True)

        # Merged: both streams in one file, each in its order, every run whole.
        for stream in ("out", "err"):
            self.assertTrue(is_run_of(numbers(d.path("merged.log"), stream), 40), stream)
        i = log.index(last_words)
        after = [line for line in log[i + 1:] if line.startswith("Process (0): ")]
        self.assertTrue(after[0].startswith("Process (0): Attempting to restart program: "),
                        after[:1])

        # Separate and rotated: each stream's newest lines, once and in order,
        # in files within the limit, three backups and no more.
        for stream, base in (("out", "out"), ("err", "err")):
            logs = d.path("logs")
            files = [os.path.join(logs, "%s.%d.log" % (base, k)) for k in (3, 2, 1)]
            files.append(os.path.join(logs, base + ".log"))
            self.assertFalse(os.path.exists(os.path.join(logs, base + ".4.log")))
            seq = []
            for f in files:
                self.assertLessEqual(os.path.getsize(f), 1024, f)
                seq += numbers(f, stream)
                self.assertEqual(numbers(f, "err" if stream == "out" else "out"), [], f)
            self.assertEqual(seq, list(range(seq[0], 150)), stream)

        # Held: nothing lost, the outage said once.
        self.assertEqual(numbers(held, "out"), list(range(400)))
        outage = [line for line in log if line.startswith(
            "Process (2): The output log cannot be written (error ")]
        self.assertEqual(len(outage), 1, outage)
        self.assertTrue(outage[0].endswith(d.winpath("held.log")), outage)

        # Deleted: the lines after it went to a new file of the same name.
        seq = numbers(deleted, "out")
        self.assertEqual(seq, list(range(seq[0], 300)))
        self.assertGreater(seq[0], 0)

        # Without the keys: no file, no capture line, the program as before.
        self.assertIn("lines=5", " ".join(harness.read_record(d.path("plain.rep"))))
        self.assertEqual([line for line in log if line.startswith("Process (4): ")], [])
        self.assertFalse([line for line in log if "output cannot be" in line], log)


if __name__ == "__main__":
    unittest.main()
