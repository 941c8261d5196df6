"""Soak: a program that exits at once, restarted for two minutes. The service
must keep obeying every control, restart no faster than the passes allow,
log every attempt, and not grow."""

import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from soak_common import (CONTINUE, INTERROGATE, PAUSE, SoakCase, figure, harness,  # noqa: E402
                         run, stamp_seconds)

DURATION_S = int(os.environ.get("QL_SOAK_CRASH_S", "120"))
RESTART_INTERVAL = 1000
CONTROL_BOUND_S = 20   # any single control or console command
STOP_BOUND_S = 30      # one live program with StopPause 1000, plus slack
MEM_GROWTH_BOUND = 2 * 1024 * 1024


class CrashLoop(SoakCase):

    def test_crash_loop_for_two_minutes(self):
        d = self.install_dir("soakcrash")
        crash = self.prog_copy(d, "crash")
        steady = self.prog_copy(d, "steady")
        self.scm.track_record(d.path("steady.rec"))
        name = self.start_service(d, [
            {"AppName": crash, "ProcessName": "crash", "StartPause": 0,
             "CommandLine": "--no-window --exit-after 0"},
            {"AppName": steady, "ProcessName": "steady", "StartPause": 0, "StopPause": 1000,
             "CommandLine": "--no-window --record " + d.winpath("steady.rec")},
        ], restart_interval=RESTART_INTERVAL)
        attempt = "Process (0): Attempting to restart program: " + crash
        harness.wait_for_log(d, attempt, timeout=30)
        pid = self.service_pid()
        time.sleep(3)
        mem0 = self.memory(d, pid)
        t_start = time.monotonic()
        first_line = harness.log_count(d)

        worst = {}

        def timed(what, fn):
            t0 = time.monotonic()
            result = fn()
            took = time.monotonic() - t0
            worst[what] = max(worst.get(what, 0), took)
            self.assertLess(took, CONTROL_BOUND_S, what)
            return result

        rounds = 0
        while time.monotonic() - t_start < DURATION_S:
            rounds += 1
            # Whole service: pause and resume.
            ok, state = timed("pause", lambda: self.scm.control(name, PAUSE))
            self.assertEqual((ok, state), (True, harness.PAUSED))
            ok, state = timed("interrogate", lambda: self.scm.control(name, INTERROGATE))
            self.assertEqual((ok, state), (True, harness.PAUSED))
            ok, state = timed("continue", lambda: self.scm.control(name, CONTINUE))
            self.assertEqual((ok, state), (True, harness.RUNNING))
            # Per process: pause the crashing one's restarts, then resume them.
            n = harness.log_count(d)
            rc, out = timed("console -pause 0", lambda: self.console(d, "-pause", "0"))
            self.assertEqual(rc, 0, out)
            rc, out = timed("console -resume crash", lambda: self.console(d, "-resume", "crash"))
            self.assertEqual(rc, 0, out)
            timed("restart after -resume",
                  lambda: harness.wait_for_log(d, "Started program " + crash, start=n,
                                               timeout=CONTROL_BOUND_S))
            # Stop the steady one; the pass brings it back.
            n = harness.log_count(d)
            rc, out = timed("console -stop steady", lambda: self.console(d, "-stop", "steady"))
            self.assertEqual(rc, 0, out)
            timed("steady stopped and restarted",
                  lambda: harness.wait_for_log(d, "Process (1): Attempting to restart program: "
                                               + steady, start=n, timeout=CONTROL_BOUND_S))
            time.sleep(5)
        elapsed = time.monotonic() - t_start
        mem1 = self.memory(d, pid)

        t0 = time.monotonic()
        ok, state = self.scm.control(name, 1)
        self.scm.wait(name, harness.STOPPED, STOP_BOUND_S * 1000)
        stop_s = time.monotonic() - t0

        raw = harness.read_log(d)[first_line:]
        text = [harness.strip_stamp(l) for l in raw]
        attempts = [i for i, t in enumerate(text) if t == attempt]
        # Every attempt ends in a launch, or, when a pause came in the middle
        # of the pass, in the refusal; lines of the other thread may come between.
        outcomes = {"Started program " + crash, "The program could not be restarted at this time."}
        unfinished = []
        for i in attempts[:-1]:  # the last one may still be finishing
            nxt = next((t for t in text[i + 1:] if t in outcomes or t == attempt), None)
            if nxt not in outcomes:
                unfinished.append(raw[i])
        self.assertEqual(unfinished, [], "attempts without an outcome")
        log_span = stamp_seconds(raw[attempts[-1]]) - stamp_seconds(raw[attempts[0]]) + 1
        max_passes = log_span * 1000.0 / RESTART_INTERVAL + 1
        figure("crash.elapsed_s", "%.1f" % elapsed)
        figure("crash.control_rounds", rounds)
        figure("crash.restart_attempts", len(attempts))
        figure("crash.restart_rate_per_s", "%.2f" % (len(attempts) / log_span))
        figure("crash.max_rate_per_s(1/RestartInterval)", "%.2f" % (1000.0 / RESTART_INTERVAL))
        figure("crash.mean_pass_s", "%.2f" % (log_span / max(1, len(attempts))))
        figure("crash.refused_attempts", text.count("The program could not be restarted at this time."))
        for k in sorted(worst):
            figure("crash.worst_s[%s]" % k, "%.2f" % worst[k])
        figure("crash.stop_s", "%.2f" % stop_s)
        figure("crash.mem_start", mem0)
        figure("crash.mem_end", mem1)
        figure("crash.private_growth_bytes", mem1["private"] - mem0["private"])
        figure("crash.linux_rss_growth_kb", mem1["linux_rss_kb"] - mem0["linux_rss_kb"])
        self.assertLessEqual(len(attempts), max_passes, "restarts faster than the passes")
        self.assertGreater(len(attempts), DURATION_S * 1000 / RESTART_INTERVAL / 4,
                           "the crash loop hardly ran")
        self.assertLess(mem1["private"] - mem0["private"], MEM_GROWTH_BOUND)
        self.assertLess(mem1["ws"] - mem0["ws"], MEM_GROWTH_BOUND)
        self.assertLess(stop_s, STOP_BOUND_S)
        for s in harness.record_starts(d.path("steady.rec")):
            self.assertFalse(self.scm.alive(s["pid"]))


if __name__ == "__main__":
    run(globals())
