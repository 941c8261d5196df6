"""The stop method on the real platform: a console server (a qtprog without a
message queue whose console handler exits with code 7) asked to quit with
Ctrl+C, while the service takes its own copy of the event and lives on."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Child, SupervisionCase, section, wait_in_order  # noqa: E402


class StopMethodTest(SupervisionCase):

    def test_ctrlc_ends_a_console_server_by_its_handler(self):
        d = self.install_dir()
        polite = Child(self, d, "ctl", "--console-server")
        name = self.run_service(d, [
            section(0, polite.app, CommandLine=polite.cmd, AutoRestart="no", StopMethod="ctrlc"),
        ])
        pid = polite.wait_start()
        # Stopping before the start is logged finds the program still busy starting.
        wait_in_order(d, ["Started program " + polite.app], self.started_index(d))
        mark = harness.log_count(d)
        self.send(name, 129, 0)
        wait_in_order(d, ["Stopped process " + polite.app], mark)
        self.assertEqual(polite.lines()[-2:], ["ctrl-c", "exit 7"])
        self.assertFalse(polite.alive(pid))
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)


if __name__ == "__main__":
    unittest.main()
