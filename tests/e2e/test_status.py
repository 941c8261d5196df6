""""-status" under Wine against the real Service Control Manager: a running
service with three programs (one running, one whose restarting is paused,
one that keeps exiting), the same service stopped, and no service at all.
The process ids shown are checked against what the programs recorded."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import STOPPED, TIMEOUT, Child, section, wait_until  # noqa: E402

STAMP = r"[A-Z][a-z]{2} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d \d{4}"
ROW = re.compile(r"^ *(\d+)  (\S+) +(running|stopped|paused|waiting|hung) +(\d+|-)  (%s) +(\d+)$"
                 % STAMP)
STATUS_NAME = "QuarnLoader.status"


def file_rows(d):
    """The status file's program lines as lists of fields; [] while absent."""
    try:
        with open(d.path(STATUS_NAME), "rb") as f:
            text = f.read().decode("latin-1")
    except FileNotFoundError:
        return []
    return [line.split("\t")[1:] for line in text.split("\r\n") if line.startswith("Program\t")]


def file_writer(d):
    with open(d.path(STATUS_NAME), "rb") as f:
        m = re.search(rb"\r\nWriter\t(\d+)\r\n", f.read())
    return int(m.group(1))


class StatusTest(harness.SupervisionCase):

    def status(self, d):
        """Runs "-status"; (exit status, lines after the banner, log index
        before the run). Every output is kept for the test's report."""
        before = harness.log_count(d)
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), ["-status"], timeout=60)
        lines = out.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        self.assertEqual(lines[0], "###", out)
        sys.stderr.write("\n-status output (exit %d):\n%s\n" % (rc, "\n".join(lines[4:])))
        return rc, lines[4:], before

    def rows(self, lines):
        """The program rows, parsed; they line up column by column."""
        found = [ROW.match(line) for line in lines]
        self.assertTrue(all(found), "\n".join(lines))
        stamp_columns = {m.start(5) for m in found}
        self.assertEqual(len(stamp_columns), 1, "columns not aligned:\n" + "\n".join(lines))
        return [m.groups() for m in found]

    def test_running_stopped_and_not_installed(self):
        d = self.install_dir()
        steady = Child(self, d, "stdy")
        held = Child(self, d, "held")
        quitter = Child(self, d, "quit", "--exit-after 600 --no-window")
        name = self.run_service(d, [
            section(0, steady.app, ProcessName="web", CommandLine=steady.cmd,
                    StartPause=300, StopPause=500),
            section(1, held.app, ProcessName="db", CommandLine=held.cmd,
                    StartPause=300, StopPause=500),
            section(2, quitter.app, CommandLine=quitter.cmd, StartPause=300, StopPause=500),
        ])
        steady_pid, held_pid = steady.wait_start(), held.wait_start()
        quitter.wait_start(count=3)
        self.send(name, 130, 1)
        wait_until(lambda: len(file_rows(d)) == 3 and file_rows(d)[1][2] == "paused",
                   TIMEOUT, "program 1 shown paused in the status file")

        rc, out, before = self.status(d)
        self.assertEqual(rc, 0)
        self.assertEqual(out[0], "Service %s: running" % name)
        self.assertRegex(out[1], "^Status written %s$" % STAMP)
        rows = self.rows(out[2:])
        self.assertEqual(len(rows), 3, out)
        self.assertEqual(rows[0][:4], ("0", "web", "running", str(steady_pid)))
        self.assertEqual(rows[1][:4], ("1", "db", "paused", str(held_pid)))
        self.assertEqual((rows[0][5], rows[1][5]), ("0", "0"))
        number, process_name, state, pid, _, restarts = rows[2]
        self.assertEqual((number, process_name), ("2", "-"))
        # The run shown is launch number restarts + 1, with its own process id.
        restarts = int(restarts)
        starts = quitter.starts()
        self.assertGreaterEqual(restarts, 2)
        self.assertLessEqual(restarts + 1, len(starts))
        if state == "running":
            self.assertEqual(pid, str(starts[restarts]["pid"]))
        else:
            self.assertEqual((state, pid), ("stopped", "-"))
        # The file is this service's: its writer is the service's process.
        image = self.scm.image(file_writer(d))
        self.assertTrue(image and image.lower() == d.winpath(harness.PROGRAM_EXE).lower(), image)
        # The service logs its restarts meanwhile; "-status" adds nothing.
        for line in harness.log_lines(d, before):
            self.assertFalse(line.startswith(("Service ", "Status written")), line)

        ok, _ = self.scm.control(name, 1)
        self.assertTrue(ok)
        self.scm.wait(name, STOPPED, 20000)
        rc, out, _ = self.status(d)
        self.assertEqual(rc, 0)
        self.assertEqual(out[0], "Service %s: stopped" % name)
        rows = self.rows(out[2:])
        self.assertEqual([r[2:4] for r in rows], [("stopped", "-")] * 3)
        self.assertGreaterEqual(int(rows[2][5]), restarts)

        ok, err = self.scm.delete(name)
        self.assertTrue(ok, err)
        wait_until(lambda: not self.scm.exists(name), TIMEOUT, "service removed")
        rc, out, before = self.status(d)
        self.assertEqual(rc, -1)
        self.assertEqual(out, ["Service %s: not installed" % name,
                               "The service is not installed, so it has no status."])


if __name__ == "__main__":
    unittest.main()
