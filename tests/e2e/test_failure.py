"""When a program fails, on the real platform: AutoRestart=onfailure with
exit codes 0 and 3, a give-up that "-status" shows as failed until "-start n",
and a failure command that records the variables it was given."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (TIMEOUT, Child, SupervisionCase, log_lines, read_record,  # noqa: E402
                     section, wait_for_record, wait_in_order)


class FailureTest(SupervisionCase):

    def status_rows(self, d):
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), ["-status"], timeout=60)
        self.assertEqual(rc, 0, out)
        rows = [line.split() for line in out.split("\n") if re.match(r"^\d+ ", line)]
        return {row[0]: row[2] for row in rows}

    def test_onfailure_give_up_and_the_failure_command(self):
        d = self.install_dir()
        clean = Child(self, d, "cln", "--no-window --exit-after 1000 --exit-code 0")
        fails = Child(self, d, "fls", "--no-window --exit-after 1500 --exit-code 3")
        report = Child(self, d, "cmd", "--no-window --exit-after 0 --report-env")
        self.run_service(d, [
            section(0, clean.app, CommandLine=clean.cmd, AutoRestart="onfailure",
                    StartPause=100, StopPause=200),
            section(1, fails.app, CommandLine=fails.cmd, ProcessName="fls",
                    AutoRestart="onfailure", MaxRestarts=2, StartPause=100, StopPause=200,
                    OnFailure=report.app + " " + report.cmd),
        ])
        first = self.started_index(d)
        ended = "The program ended with exit code 3 (0x00000003): " + fails.app
        gave_up = ("Process (1): The program was restarted 2 times within 3600000 ms; it is "
                   "not restarted again until \"-start 1\": " + fails.app)
        wait_in_order(d, ["Process (0): The program ended by itself with exit code 0; it is "
                          "not restarted: " + clean.app], first)
        wait_in_order(d, ["Process (1): " + ended, "Process (1): " + ended, gave_up], first)
        wait_for_record(report.rec, "env QL_EVENT=gaveup", timeout=TIMEOUT)
        wait_in_order(d, ["Process (1): Ran the failure command (gaveup): " + report.app + " " +
                          report.cmd, "Process (1): The failure command ended with exit code 0"],
                      first)
        lines = log_lines(d, first)
        self.assertEqual(len(clean.starts()), 1, lines)
        self.assertEqual(len(fails.starts()), 3, lines)

        env = [line[4:] for line in read_record(report.rec) if line.startswith("env QL_")]
        self.assertIn("QL_EVENT=exit", env)
        for v in ("QL_NUMBER=1", "QL_NAME=fls", "QL_APP=" + fails.app, "QL_EXITCODE=3",
                  "QL_RESTARTS=2"):
            self.assertIn(v, env)
        missed = [int(v.split("=")[1]) for v in env if v.startswith("QL_MISSED=")]
        self.assertEqual(len(missed) + sum(missed), 3, env)   # each failure ran or was passed on

        self.assertEqual(self.status_rows(d), {"0": "stopped", "1": "failed"})
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), ["-start", "1"], timeout=60)
        self.assertEqual(rc, 0, out)
        fails.wait_start(4)
        self.assertEqual(self.status_rows(d)["1"], "running")
        mark = harness.log_count(d)
        wait_in_order(d, ["Process (1): " + ended,
                          "Process (1): Attempting to restart program: " + fails.app], mark)


if __name__ == "__main__":
    unittest.main()
