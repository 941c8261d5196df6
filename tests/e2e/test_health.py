"""The health check on the real platform, with real sockets on 127.0.0.1: a
window-less server that stops listening while it runs on is stopped and
started again; a slow starter whose port opens within its start period is
left alone. Interval and retries are small here so that the scenario takes
seconds where the defaults would take minutes."""

import os
import socket
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (TIMEOUT, Child, SupervisionCase, log_lines, section,  # noqa: E402
                     wait_for_record, wait_in_order)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class HealthTest(SupervisionCase):

    def test_deaf_server_is_restarted_and_slow_starter_is_not(self):
        d = self.install_dir()
        deaf_port, slow_port = free_port(), free_port()
        deaf = Child(self, d, "def", "--no-window --listen %d --unlisten-after 3000" % deaf_port)
        slow = Child(self, d, "slw", "--no-window --listen %d --listen-after 6000" % slow_port)
        self.run_service(d, [
            section(0, deaf.app, CommandLine=deaf.cmd, StartPause=200, StopPause=500,
                    HealthCheck="tcp", HealthPort=deaf_port, HealthInterval=1000,
                    HealthRetries=2),
            section(1, slow.app, CommandLine=slow.cmd, StartPause=200, StopPause=500,
                    HealthCheck="http", HealthPort=slow_port, HealthPath="/ready",
                    HealthInterval=1000, HealthRetries=2, HealthStartPeriod=15000),
        ], interval=500)
        first = self.started_index(d)
        deaf_pid = deaf.wait_start()
        wait_for_record(deaf.rec, "listen port=%d" % deaf_port, timeout=TIMEOUT)

        # Passed while it listened, so its start period is over: the failures
        # after it closed its port count, and it is stopped although it runs.
        wait_for_record(deaf.rec, "unlisten", timeout=TIMEOUT)
        self.assertTrue(deaf.alive(deaf_pid))
        wait_in_order(d, [
            "Process (0): Health check failed (1 of 2): the connection was refused",
            "Process (0): Health check failed (2 of 2): the connection was refused",
            "Process (0): The program failed its health check 2 times in a row: " + deaf.app,
            "Stopped process " + deaf.app,
            "Process (0): Attempting to restart program: " + deaf.app,
            "Started program " + deaf.app,
        ], first)
        self.assertFalse(deaf.alive(deaf_pid))
        deaf.wait_start(count=2)

        # The slow starter answered HTTP within its start period: its early
        # failures were not counted and it was never restarted.
        wait_for_record(slow.rec, "listen port=%d" % slow_port, timeout=TIMEOUT)
        time.sleep(3.0)
        lines = log_lines(d, first)
        self.assertEqual([l for l in lines if l.startswith("Process (1)")], [], lines)
        self.assertEqual(lines.count("Started program " + slow.app), 1, lines)
        self.assertEqual(len(slow.starts()), 1)
        self.assertIn("   HealthStartPeriod = 15000", log_lines(d))


if __name__ == "__main__":
    unittest.main()
