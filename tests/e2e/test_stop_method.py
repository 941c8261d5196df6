"""The stop method on the real platform: a console server (a qtprog without a
message queue whose console handler exits with code 7) asked to quit with
Ctrl+C, and the same server without the key, terminated as before."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Child, SupervisionCase, log_lines, section, wait_in_order  # noqa: E402


class StopMethodTest(SupervisionCase):

    def test_ctrlc_ends_a_console_server_by_its_handler_and_without_the_key_it_is_terminated(self):
        d = self.install_dir()
        polite = Child(self, d, "ctl", "--console-server")
        plain = Child(self, d, "pln", "--console-server")
        name = self.run_service(d, [
            section(0, polite.app, CommandLine=polite.cmd, AutoRestart="no", StopMethod="ctrlc"),
            section(1, plain.app, CommandLine=plain.cmd, AutoRestart="no"),
        ])
        pids = [polite.wait_start(), plain.wait_start()]
        first = self.started_index(d)
        wait_in_order(d, ["Started program " + polite.app, "Started program " + plain.app],
                      first)

        mark = harness.log_count(d)
        self.send(name, 129, 0)
        wait_in_order(d, ["Stopped process " + polite.app], mark)
        self.assertEqual(polite.lines()[-2:], ["ctrl-c", "exit 7"])
        self.assertFalse(polite.alive(pids[0]))
        self.assertNotIn("Stop failed: " + polite.app, log_lines(d, mark))

        mark = harness.log_count(d)
        self.send(name, 129, 1)
        wait_in_order(d, ["Stop failed: " + plain.app, "Terminated process " + plain.app], mark)
        self.assertNotIn("ctrl-c", plain.lines())
        self.assertFalse(plain.alive(pids[1]))
        # The service took its own copy of the event and lives on.
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)

        account = log_lines(d)
        self.assertEqual(account.count("   StopMethod = ctrlc"), 1)


if __name__ == "__main__":
    unittest.main()
