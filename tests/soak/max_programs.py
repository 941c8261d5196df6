"""Soak: the most programs the service takes (127), started, supervised for a
while and stopped. Program 0 exits at once, so each pass shows in the log as
its restart attempt; the time between two attempts is one pass."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from soak_common import SoakCase, figure, harness, run, stamp_seconds  # noqa: E402

COUNT = 127
RESTART_INTERVAL = 2000
SUPERVISE_S = int(os.environ.get("QL_SOAK_MAX_S", "50"))
START_BOUND_S = 240
STOP_BOUND_S = 240


class MaxPrograms(SoakCase):

    def test_127_programs(self):
        d = self.install_dir("soakmax")
        crash = self.prog_copy(d, "pacer")
        app = d.winpath("qtprog.exe")
        recs = []
        sections = [{"AppName": crash, "StartPause": 0, "CommandLine": "--no-window --exit-after 0"}]
        for i in range(1, COUNT):
            rec = self.scm.track_record(d.path("p%03d.rec" % i))
            recs.append(rec)
            windowed = i % 8 == 0
            sections.append({
                "AppName": app, "StartPause": i % 51, "StopPause": 2000,
                "NumOfRespChecks": 3 if windowed else 0,
                "CommandLine": ("" if windowed else "--no-window ") + "--record "
                + d.winpath("p%03d.rec" % i)})
        t0 = time.monotonic()
        name = self.start_service(d, sections, restart_interval=RESTART_INTERVAL)
        started_line = "Started program " + app
        harness.wait_until(lambda: harness.read_log(d, strip=True).count(started_line) >= COUNT - 1,
                           START_BOUND_S, "all programs started", self.ctx(d))
        start_s = time.monotonic() - t0
        harness.wait_until(lambda: all(harness.record_starts(r) for r in recs), 60,
                           "every program's record", self.ctx(d))
        first = harness.log_count(d)
        time.sleep(SUPERVISE_S)
        pids = [harness.record_starts(r)[0]["pid"] for r in recs]
        dead = [p for p in pids if not self.scm.alive(p)]
        self.assertEqual(dead, [], "programs died while supervised")
        for r in recs:
            self.assertEqual(len(harness.record_starts(r)), 1, r)

        raw = harness.read_log(d)[first:]
        attempt = "Process (0): Attempting to restart program: " + crash
        times = [stamp_seconds(l) for l in raw if harness.strip_stamp(l) == attempt]
        self.assertGreater(len(times), 3, "too few passes to measure")
        pass_s = (times[-1] - times[0]) / (len(times) - 1)
        ratio = pass_s * 1000.0 / RESTART_INTERVAL

        t1 = time.monotonic()
        self.scm.control(name, 1)
        self.scm.wait(name, harness.STOPPED, STOP_BOUND_S * 1000)
        stop_s = time.monotonic() - t1
        alive = [p for p in pids if self.scm.alive(p)]
        lines = self.log(d)
        stopped = lines.count("Stopped process " + app) + lines.count("Terminated process " + app)

        figure("max.programs", COUNT)
        figure("max.start_all_s", "%.1f" % start_s)
        figure("max.passes_measured", len(times) - 1)
        figure("max.mean_pass_s", "%.2f" % pass_s)
        figure("max.pass_over_RestartInterval", "%.2f" % ratio)
        figure("max.stop_s", "%.1f" % stop_s)
        figure("max.stopped_lines", stopped)
        figure("max.alive_after_stop", len(alive))
        self.assertEqual(alive, [], "stop left programs running")
        self.assertEqual(stopped, COUNT - 1)
        # RestartInterval plus probes and the pacer's launch; nothing like
        # a second interval.
        self.assertGreaterEqual(ratio, 0.9)
        self.assertLess(ratio, 1.6)


if __name__ == "__main__":
    run(globals())
