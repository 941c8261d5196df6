"""The health check and the programs' variables on the real platform, the
checked ports served by the test on 127.0.0.1. Interval and retries are
small: seconds, not minutes."""

import http.server
import os
import socket
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Child, SupervisionCase, log_lines, section, wait_in_order  # noqa: E402


class Ready(http.server.BaseHTTPRequestHandler):
    """200 for the request the check is to make, 404 for any other."""

    def do_GET(self):
        host = "127.0.0.1:%d" % self.server.server_address[1]
        ok = (self.request_version, self.path, self.headers["Host"]) == ("HTTP/1.0", "/ready", host)
        self.send_response(200 if ok else 404)
        self.end_headers()

    def log_message(self, *args):
        pass


class HealthTest(SupervisionCase):

    def test_deaf_server_is_restarted_slow_starter_is_not_and_gets_its_variables(self):
        d = self.install_dir()
        deaf_port = socket.create_server(("127.0.0.1", 0))   # connections wait in its backlog
        slow_port = http.server.HTTPServer(("127.0.0.1", 0), Ready, bind_and_activate=False)
        slow_port.server_bind()   # refuses connections until it listens
        deaf = Child(self, d, "def", "--no-window")
        slow = Child(self, d, "slw", "--no-window --report-env")
        keys = dict(StartPause=200, StopPause=500, HealthInterval=1000, HealthRetries=2)
        self.run_service(d, [
            section(0, deaf.app, CommandLine=deaf.cmd, HealthCheck="tcp",
                    HealthPort=deaf_port.getsockname()[1], **keys),
            section(1, slow.app, CommandLine=slow.cmd, HealthCheck="http", HealthPath="/ready",
                    HealthPort=slow_port.server_address[1], HealthStartPeriod=6000, **keys),
        ], settings="Env_0=path=C:\\qltools;%PATH%\nEnv_1=QL_HOME=C:\\srv\n")
        first = self.started_index(d)
        deaf_pid = deaf.wait_start()
        slow.wait_start()

        # Passing checks ended the first one's start period: once its port
        # closes, its failures count although it runs on.
        time.sleep(3.0)
        deaf_port.close()
        slow_port.server_activate()
        threading.Thread(target=slow_port.serve_forever, daemon=True).start()
        wait_in_order(d, [
            "Process (0): Health check failed (1 of 2): the connection was refused",
            "Process (0): Health check failed (2 of 2): the connection was refused",
            "Process (0): The program failed its health check 2 times in a row: " + deaf.app,
            "Stopped process " + deaf.app,
            "Process (0): Attempting to restart program: " + deaf.app,
            "Started program " + deaf.app,
        ], first)
        self.assertFalse(deaf.alive(deaf_pid))

        # The slow starter's failures before its port opened fell in its
        # start period; answers that did not pass would count after it.
        time.sleep(3.0)
        lines = log_lines(d)
        self.assertEqual([l for l in lines[first:] if l.startswith("Process (1)")], [], lines)
        self.assertEqual(len(slow.starts()), 1)

        env = [l[4:] for l in slow.lines() if l.startswith("env ")]
        paths = [v for v in env if v.upper().startswith("PATH=")]
        self.assertEqual(len(paths), 1, env)   # one, whatever its letter case
        self.assertRegex(paths[0], r"(?i)^path=C:\\qltools;.")
        self.assertIn("QL_HOME=C:\\srv", env)
        names = [l.split(": ", 1)[1].upper() for l in lines if "variables set: " in l]
        self.assertEqual(names, ["PATH, QL_HOME"] * 2)   # names only: values are often secrets
        self.assertFalse([l for l in lines if "qltools" in l])


if __name__ == "__main__":
    unittest.main()
