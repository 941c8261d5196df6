"""When a program fails, on the real platform: AutoRestart=onfailure with
exit codes 0 and 3, a give-up that "-status" shows as failed until "-start n",
and a failure command that records the variables it was given."""

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
        clean = Child(self, d, "cln", "--no-window --exit-after 1000 --exit-code 0")
        fails = Child(self, d, "fls", "--no-window --exit-after 1500 --exit-code 3")
        cmd = Child(self, d, "cmd", "--no-window --exit-after 0 --report-env")
        command = cmd.app + " " + cmd.cmd
        keys = dict(AutoRestart="onfailure", StartPause=100, StopPause=200)
        self.run_service(d, [
            section(0, clean.app, CommandLine=clean.cmd, **keys),
            section(1, fails.app, CommandLine=fails.cmd, ProcessName="fls", MaxRestarts=2,
                    OnFailure=command, **keys)])
        first = self.started_index(d)
        ended = "Process (1): The program ended with exit code 3 (0x00000003): " + fails.app
        # Each program's lines in their order; the two programs' lines interleave as they will.
        wait_in_order(d, ["Process (0): The program ended by itself with exit code 0; it is "
                          "not restarted: " + clean.app], first)
        wait_in_order(d, [ended, ended,
                          "Process (1): The program was restarted 2 times within 3600000 ms; it "
                          "is not restarted again until \"-start 1\": " + fails.app,
                          "Process (1): Ran the failure command (gaveup): " + command,
                          "Process (1): The failure command ended with exit code 0"], first)
        wait_for_record(cmd.rec, "env QL_EVENT=gaveup", timeout=TIMEOUT)
        self.assertEqual((len(clean.starts()), len(fails.starts())), (1, 3))
        # The variables' values are the unit tests'; here they reach the command.
        self.assertIn("env QL_NAME=fls", read_record(cmd.rec))

        # The status file follows the loop's turns: the give-up shows from the next one.
        status = d.path("QuarnLoader.status")
        wait_until(lambda: "\r\nProgram\t1\tfls\tfailed\t" in open(status, "rb").read().decode(),
                   TIMEOUT, "program 1 shown failed in the status file")
        self.assertEqual(self.states(d, "-status"), {"0": "stopped", "1": "failed"})
        mark = harness.log_count(d)
        self.states(d, "-start", "1")
        fails.wait_start(4)
        # It may have ended again by now: what counts is that it is no longer given up.
        self.assertNotEqual(self.states(d, "-status")["1"], "failed")
        wait_in_order(d, [ended, "Process (1): Attempting to restart program: " + fails.app], mark)


if __name__ == "__main__":
    unittest.main()
