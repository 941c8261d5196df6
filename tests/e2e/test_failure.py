"""A failing program under Wine: restarted on its exit code, given up, shown
failed until "-start n"; the failure command records its variables."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (TIMEOUT, Child, SupervisionCase, read_record, section,  # noqa: E402
                     wait_for_record, wait_in_order, wait_until)


class FailureTest(SupervisionCase):

    def states(self, d, *args):
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), list(args), timeout=60)
        self.assertEqual(rc, 0, out)
        return {row[0]: row[2] for row in map(str.split, out.split("\n")) if
                row and re.match(r"^\d+$", row[0])}

    def test_onfailure_give_up_and_the_failure_command(self):
        d = self.install_dir()
        fails = Child(self, d, "fls", "--no-window --exit-after 1500 --exit-code 3")
        cmd = Child(self, d, "cmd", "--no-window --exit-after 0 --report-env")
        command = cmd.app + " " + cmd.cmd
        self.run_service(d, [section(0, fails.app, CommandLine=fails.cmd, ProcessName="fls",
                                     AutoRestart="onfailure", MaxRestarts=2, OnFailure=command,
                                     StartPause=100, StopPause=200)])
        ended = "Process (0): The program ended with exit code 3 (0x00000003): " + fails.app
        wait_in_order(d, [ended, ended,
                          "Process (0): The program was restarted 2 times within 3600000 ms; it "
                          "is not restarted again until \"-start 0\": " + fails.app,
                          "Process (0): Ran the failure command (gaveup): " + command,
                          "Process (0): The failure command ended with exit code 0"],
                      self.started_index(d))
        wait_for_record(cmd.rec, "env QL_EVENT=gaveup", timeout=TIMEOUT)
        self.assertEqual(len(fails.starts()), 3)
        # The variables' values are the unit tests'; here they reach the command.
        self.assertIn("env QL_NAME=fls", read_record(cmd.rec))

        # The status file follows the loop's turns: the give-up shows from the next one.
        status = d.path("QuarnLoader.status")
        wait_until(lambda: "\r\nProgram\t0\tfls\tfailed\t" in open(status, "rb").read().decode(),
                   TIMEOUT, "program 0 shown failed in the status file")
        self.assertEqual(self.states(d, "-status"), {"0": "failed"})
        mark = harness.log_count(d)
        self.states(d, "-start", "0")
        fails.wait_start(4)
        # It may have ended again by now: what counts is that it is no longer given up.
        self.assertNotEqual(self.states(d, "-status")["0"], "failed")
        wait_in_order(d, [ended, "Process (0): Attempting to restart program: " + fails.app], mark)


if __name__ == "__main__":
    unittest.main()
