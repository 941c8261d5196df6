"""Soak: what the client of a stop sees while the service's stop control
blocks. 20 and 127 programs ignore the quit message, each with StopPause
2000, so the stop takes about 2 s per program. One client sends the stop
(ControlService through scmtool) while another queries the status in a
loop; the figures are printed, and the run fails only if the service never
stops or leaves a program running."""

import os
import re
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from soak_common import SoakCase, figure, harness, linux_pid_of, run  # noqa: E402

STOP_PAUSE_MS = 2000
COUNTS = [int(n) for n in os.environ.get("QL_SOAK_BLOCK_COUNTS", "20 127").split()]


class BlockingStop(SoakCase):

    def measure(self, count):
        d = self.install_dir("soakblock%d" % count)
        app = d.winpath("qtprog.exe")
        recs = [self.scm.track_record(d.path("b%03d.rec" % i)) for i in range(count)]
        sections = [{"AppName": app, "StartPause": 0, "StopPause": STOP_PAUSE_MS,
                     "CommandLine": "--no-window --ignore-quit --record "
                     + d.winpath("b%03d.rec" % i)} for i in range(count)]
        name = self.start_service(d, sections)
        harness.wait_until(lambda: all(harness.record_starts(r) for r in recs), 240,
                           "all %d started" % count, self.ctx(d))
        pids = [harness.record_starts(r)[0]["pid"] for r in recs]
        lpid = linux_pid_of(d.exe)
        expected_s = count * STOP_PAUSE_MS / 1000.0

        timeline = []
        done = threading.Event()
        t0 = time.monotonic()

        def poll():
            while not done.is_set():
                try:
                    rc, out = self.scm.tool("query", name, timeout=60)
                except harness.HarnessError as e:
                    out = "harness: %s" % e
                m = re.search(r"state=(\d+)", out)
                err = re.search(r"error=(\d+)", out)
                what = "state %s" % m.group(1) if m else "error %s" % (err.group(1) if err else out)
                timeline.append((time.monotonic() - t0, what))
                time.sleep(0.5)

        poller = threading.Thread(target=poll, daemon=True)
        poller.start()
        control_rc, control_out = self.wine.run(self.wine.bin("scmtool.exe"),
                                                ["control", name, "1"],
                                                timeout=expected_s + 300)
        control_s = time.monotonic() - t0
        bound = expected_s + 180
        stopped_s = None
        while time.monotonic() - t0 < bound:
            if timeline and timeline[-1][1] == "state 1":
                stopped_s = timeline[-1][0]
                break
            time.sleep(0.5)
        process_end_s = None
        while lpid and time.monotonic() - t0 < bound + 60:
            if not os.path.exists("/proc/%d" % lpid):
                process_end_s = time.monotonic() - t0
                break
            time.sleep(0.5)
        done.set()
        poller.join(timeout=90)
        alive = [p for p in pids if self.scm.alive(p)]
        lines = self.log(d)
        terminated = lines.count("Terminated process " + app)

        changes = []
        for t, what in timeline:
            if not changes or changes[-1][1] != what:
                changes.append((t, what))
        tag = "block%d" % count
        figure(tag + ".expected_stop_s", "%.0f" % expected_s)
        figure(tag + ".control_returned_s", "%.1f" % control_s)
        figure(tag + ".control_result", "rc=%d %s" % (control_rc, control_out.strip()))
        figure(tag + ".states_seen", ", ".join("%.1fs %s" % c for c in changes))
        figure(tag + ".stopped_seen_s", "%.1f" % stopped_s if stopped_s is not None else "never")
        figure(tag + ".service_process_ended_s",
               "%.1f" % process_end_s if process_end_s is not None else "not seen")
        figure(tag + ".terminated_lines", terminated)
        figure(tag + ".children_alive_after", len(alive))
        self.assertIsNotNone(stopped_s, "the service never reported stopped")
        self.assertEqual(alive, [], "programs left running")
        self.assertEqual(terminated, count)

    def test_blocking_stop(self):
        for count in COUNTS:
            with self.subTest(count=count):
                self.measure(count)


if __name__ == "__main__":
    run(globals())
