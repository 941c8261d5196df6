"""The health check and the programs' variables on the real platform, the
checked ports served by the test on 127.0.0.1. Interval and retries are
small: seconds, not minutes."""

import http.server
import os
import socket
import sys
import threading
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Child, SupervisionCase, log_lines, section, wait_in_order  # noqa: E402


class Ready(http.server.BaseHTTPRequestHandler):
    """200 for the request the check is to make, 404 for any other."""

    def do_GET(self):
        host = "127.0.0.1:%d" % self.server.server_address[1]
        ok = (self.request_version, self.path, self.headers["Host"]) == ("HTTP/1.0", "/ready", host)
        self.server.passed += ok
        self.send_response(200 if ok else 404)
        self.end_headers()

    def log_message(self, *args):
        pass


class HealthTest(SupervisionCase):

    def test_refused_program_is_restarted_answering_one_runs_on_with_its_variables(self):
        d = self.install_dir()
        closed = socket.create_server(("127.0.0.1", 0))
        closed_port = closed.getsockname()[1]
        closed.close()   # nobody listens there: connections are refused
        server = http.server.HTTPServer(("127.0.0.1", 0), Ready)
        server.passed = 0
        threading.Thread(target=server.serve_forever, daemon=True).start()
        refused = Child(self, d, "ref", "--no-window")
        ready = Child(self, d, "rdy", "--no-window --report-env")
        keys = dict(StartPause=200, StopPause=500, HealthInterval=1000, HealthRetries=2,
                    HealthStartPeriod=0)
        self.run_service(d, [
            section(0, refused.app, CommandLine=refused.cmd, HealthCheck="tcp",
                    HealthPort=closed_port, **keys),
            section(1, ready.app, CommandLine=ready.cmd, HealthCheck="http", HealthPath="/ready",
                    HealthPort=server.server_address[1], **keys),
        ], settings="Env_0=path=C:\\qltools;%PATH%\nEnv_1=QL_HOME=C:\\srv\n")
        first = self.started_index(d)
        refused_pid = refused.wait_start()
        ready.wait_start()
        wait_in_order(d, [
            "Process (0): Health check failed (1 of 2): the connection was refused",
            "Process (0): Health check failed (2 of 2): the connection was refused",
            "Process (0): The program failed its health check 2 times in a row: " + refused.app,
            "Stopped process " + refused.app,
            "Process (0): Attempting to restart program: " + refused.app,
            "Started program " + refused.app,
        ], first)
        self.assertFalse(refused.alive(refused_pid))

        # Meanwhile the other one's checks passed; a failure would be logged.
        lines = log_lines(d)
        self.assertGreaterEqual(server.passed, 2)
        self.assertEqual([l for l in lines[first:] if l.startswith("Process (1)")], [], lines)
        self.assertEqual(len(ready.starts()), 1)

        env = [l[4:] for l in ready.lines() if l.startswith("env ")]
        paths = [v for v in env if v.upper().startswith("PATH=")]
        self.assertEqual(len(paths), 1, env)   # one, whatever its letter case
        self.assertRegex(paths[0], r"(?i)^path=C:\\qltools;.")
        self.assertIn("QL_HOME=C:\\srv", env)


if __name__ == "__main__":
    unittest.main()
