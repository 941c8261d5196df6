"""Each program's output in files of its own under Wine: merged and separate
streams, rotation, a deleted file, the last words, no keys."""

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
    """One stream's line numbers in file order; every line must be whole."""
    with open(path, "rb") as f:
        matches = [LINE_RE.match(line) for line in f.read().decode("ascii").splitlines(True)]
    assert all(matches), "a line that is not whole in " + path
    return [int(m.group(2)) for m in matches if m.group(1) == stream]


class OutputCaptureTest(SupervisionCase):

    def test_output_goes_to_rotating_files_and_nothing_is_lost(self):
        d = self.install_dir()
        os.makedirs(d.path("logs"))
        tags = ("merged", "rotated", "deleted", "plain")
        for tag in tags:
            shutil.copy2(self.wine.bin("lines.exe"), d.path(tag + ".exe"))

        def prog(n, cmd, restart="no", **keys):
            return section(n, d.winpath(tags[n] + ".exe"), CommandLine=cmd, AutoRestart=restart,
                           StartPause=0, **keys)

        name = self.run_service(d, [
            prog(0, "40 20 both 100 3", "yes", OutputLog="merged.log"),
            prog(1, "150 5 both", Env_0="STREAM=err", OutputLog="logs\\out.log",
                 ErrorLog="logs\\%STREAM%.log", OutputLogMaxSize=1, OutputLogBackups=3),
            prog(2, "300 20 out", OutputLog=d.winpath("deleted.log")),
            prog(3, "5 10 out 100 0 " + d.winpath("plain.rep")),
        ])
        deleted = d.path("deleted.log")
        harness.wait_until(lambda: os.path.exists(deleted) and os.path.getsize(deleted) > 2000,
                           20, "the deleted program's first lines")
        os.remove(deleted)
        last_words = "Process (0): Last output: " + "err 39 ".ljust(98, ".")
        harness.wait_for_log(d, last_words, timeout=30)
        harness.wait_until(lambda: os.path.exists(d.path("plain.rep")), 20, "plain's report")
        # The slowest has ended by then, every line written.
        harness.wait_until(lambda: os.path.exists(deleted) and 299 in numbers(deleted, "out"), 30,
                           "the deleted file's last line")
        self.scm.control(name, SERVICE_CONTROL_STOP)
        self.scm.wait(name, harness.STOPPED, 30000)
        log = harness.read_log(d, strip=True)

        # Merged: both streams in one file, each in its order, every run whole
        # (0..39 again and again, the last one cut short by the stop).
        for stream in ("out", "err"):
            seq = numbers(d.path("merged.log"), stream)
            self.assertTrue(seq and all(n == i % 40 for i, n in enumerate(seq)), stream)
        after = [x for x in log[log.index(last_words) + 1:] if x.startswith("Process (0)")]
        self.assertTrue(after[0].startswith("Process (0): Attempting to restart program: "))

        # Separate and rotated: each stream's newest lines, once and in order,
        # in files within the limit, three backups and no more.
        for stream, other in (("out", "err"), ("err", "out")):
            names = [stream + ".%d.log" % k for k in (3, 2, 1)] + [stream + ".log"]
            files = [os.path.join(d.path("logs"), name) for name in names]
            self.assertFalse(os.path.exists(os.path.join(d.path("logs"), stream + ".4.log")))
            self.assertTrue(all(os.path.getsize(f) <= 1024 and not numbers(f, other)
                                for f in files))
            seq = sum((numbers(f, stream) for f in files), [])
            self.assertEqual(seq, list(range(seq[0], 150)), stream)

        # Deleted: the lines after it went to a new file of the same name.
        seq = numbers(deleted, "out")
        self.assertEqual(seq, list(range(max(seq[0], 1), 300)))

        # Without the keys: no file, no capture line, the program as before.
        self.assertIn("lines=5", " ".join(harness.read_record(d.path("plain.rep"))))
        self.assertEqual([line for line in log if line.startswith("Process (3): ")], [])
        self.assertFalse([line for line in log if "output cannot be" in line], log)


if __name__ == "__main__":
    unittest.main()
