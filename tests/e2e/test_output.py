"""Output captured under Wine: merged and separate streams through real pipes
and the last words; rotation, outages and taken files are shown natively."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Child, SupervisionCase, section  # noqa: E402

SERVICE_CONTROL_STOP = 1
LINE_RE = re.compile(r"^(out|err) (\d+) \.*\r\n$")


def numbers(path, stream):
    """One stream's line numbers in file order; every line must be whole."""
    with open(path, "rb") as f:
        matches = [LINE_RE.match(line) for line in f.read().decode("ascii").splitlines(True)]
    assert all(matches), "a line that is not whole in " + path
    return [int(m.group(2)) for m in matches if m.group(1) == stream]


class OutputCaptureTest(SupervisionCase):

    def test_output_goes_through_pipes_to_files_and_nothing_is_lost(self):
        d = self.install_dir()
        os.makedirs(d.path("logs"))
        mrg, sep = (Child(self, d, tag, "--no-window --exit-after 0 --lines " + lines)
                    for tag, lines in (("mrg", "40 20 --exit-code 3"), ("sep", "150 5")))
        name = self.run_service(d, [
            section(0, mrg.app, CommandLine=mrg.cmd, StartPause=0, OutputLog="merged.log"),
            section(1, sep.app, CommandLine=sep.cmd, StartPause=0, AutoRestart="no",
                    OutputLog="logs\\out.log", ErrorLog="logs\\err.log")])
        last_words = "Process (0): Last output: " + "err 39 ".ljust(98, ".")
        harness.wait_for_log(d, last_words, timeout=30)
        harness.wait_for_record(sep.rec, "exit 0", timeout=20)
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

        # Separate: each stream in its own file, every line once and in order.
        for stream, other in (("out", "err"), ("err", "out")):
            path = os.path.join(d.path("logs"), stream + ".log")
            self.assertEqual((numbers(path, stream), numbers(path, other)), (list(range(150)), []))
        self.assertFalse([line for line in log if "output cannot be" in line], log)


if __name__ == "__main__":
    unittest.main()
