"""The service's stop with the opt-in Settings keys on the real manager:
ParallelStop stops five programs that ignore the quit message in about one
StopPause and answers the stop control at once; StopOnShutdown makes the
service take the shutdown notice."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (STOP_PENDING, STOPPED, Child, SupervisionCase, log_lines,  # noqa: E402
                     section)

SUMMARY_RE = re.compile(r"^All programs stopped in (\d+) ms \(5 terminated\)\.$")
PROGRAMS = 5
STOP_PAUSE_MS = 2000


class StopTest(SupervisionCase):

    def test_parallel_stop_answers_at_once_and_stops_in_one_stop_pause(self):
        d = self.install_dir()
        kids = [Child(self, d, "df%d" % i, "--no-window --ignore-quit") for i in range(PROGRAMS)]
        name = self.run_service(d, [
            section(i, k.app, CommandLine=k.cmd, StartPause=0, StopPause=STOP_PAUSE_MS)
            for i, k in enumerate(kids)], settings="ParallelStop=yes\nStopOnShutdown=yes\n")
        pids = [k.wait_start() for k in kids]
        # Only the system sends the shutdown notice, and Wine 8 never does (not
        # at "wineboot -e", "-s", "-k" or "-r", nor "wineserver -k"): here only
        # its acceptance shows; the stop it begins is the one below.
        self.assertTrue(self.scm.query(name)["accepted"] & 0x4)
        began = time.monotonic()
        self.assertEqual(self.scm.control(name, 1), (True, STOP_PENDING))
        self.assertLess(time.monotonic() - began, STOP_PAUSE_MS / 1000.0,
                        "the control call waits for nothing")
        self.scm.wait(name, STOPPED, STOP_PAUSE_MS + 8000)
        lines = log_lines(d)
        [took] = [int(m.group(1)) for m in map(SUMMARY_RE.match, lines) if m]
        self.assertLessEqual(took, STOP_PAUSE_MS + 1000, lines)
        self.assertFalse([p for k, p in zip(kids, pids) if k.alive(p)])

if __name__ == "__main__":
    unittest.main()
