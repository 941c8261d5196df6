"""Reliability of the log file: deleted or held by another process while the
service writes, and never inherited by a child."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from reliability_case import (OP_NORMAL, PROCESS_BASE, ReliabilityCase,  # noqa: E402
                              check_whole_lines, count_lines)


class LogFileFaults(ReliabilityCase):

    def ticking_service(self, d):
        app = self.prog_copy(d, "tick")
        rec = self.record(d, "tick")
        name = self.start_service(d, [{"AppName": app, "StartPause": 0, "StopPause": 300,
                                       "CommandLine": "--no-window --exit-after 600 --record "
                                       + rec}], restart_interval=300)
        return name, app, d.path("tick.rec")

    def test_log_deleted_while_running_is_recreated(self):
        d = self.install_dir("rellogdel")
        name, app, recfile = self.ticking_service(d)
        harness.wait_until(lambda: count_lines(self.log(d), "Started program " + app) >= 2,
                           30, "two starts", self.ctx(d))
        os.remove(d.log)
        before = len(harness.record_starts(recfile))
        harness.wait_until(lambda: count_lines(self.log(d), "Started program " + app) >= 3,
                           30, "three starts in the new log", self.ctx(d))
        self.stop_service(name, 30)
        new_starts = len(harness.record_starts(recfile)) - before
        lines = check_whole_lines(self, d, [app])
        text = [harness.strip_stamp(l) for l in lines]
        self.assertNotIn("Load completed.", text, "earlier lines are not rewritten")
        started = count_lines(text, "Started program " + app)
        # One start may straddle the deletion.
        self.assertLessEqual(abs(started - new_starts), 1, (started, new_starts))
        for i, t in enumerate(text):
            if t.startswith("Process (0): Attempting to restart program: ") and i + 1 < len(text):
                self.assertEqual(text[i + 1], "Started program " + app)

    HOLD_MS = 5000

    def test_log_held_without_sharing_keeps_its_lines(self):
        """Lines that cannot reach the held file are written after it is
        free, in order, with the time they were written at."""
        d = self.install_dir("rellogheld")
        apps = [self.prog_copy(d, "tick%d" % i) for i in range(2)]
        recs = [self.record(d, "tick%d" % i) for i in range(2)]
        recfiles = [d.path("tick%d.rec" % i) for i in range(2)]
        name = self.start_service(d, [{"AppName": apps[i], "StartPause": 0, "StopPause": 300,
                                       "CommandLine": "--no-window --exit-after 100 --record "
                                       + recs[i]} for i in range(2)], restart_interval=100)
        harness.wait_for_log(d, "Process (1): Attempting to restart program: " + apps[1],
                             timeout=30)
        out = d.path("hold.out")
        # holdfile lets go HOLD_MS after it has started at the earliest: a
        # size read well before that was read while the file was held.
        surely_held_until = time.monotonic() + self.HOLD_MS / 1000 - 0.5
        holder = self.wine.start(d.path("holdfile.exe"),
                                 [d.winpath(harness.LOG_NAME), str(self.HOLD_MS)], stdout_path=out)
        harness.wait_until(lambda: "held" in harness.read_record(out), 30, "holdfile holds",
                           lambda: "\n".join(harness.read_record(out)))
        t_held = time.time()
        size_held = os.path.getsize(d.log)
        base = [len(harness.record_starts(r)) for r in recfiles]
        # When each start was first seen: its lines cannot carry a later time.
        seen = [[], []]
        while holder.poll() is None:
            if time.monotonic() < surely_held_until:
                self.assertEqual(os.path.getsize(d.log), size_held, "nothing reached the held file")
            counts = [len(harness.record_starts(r)) for r in recfiles]
            now = time.time()
            for i in range(2):
                seen[i] += [now] * (counts[i] - base[i] - len(seen[i]))
            time.sleep(0.2)
        self.assertEqual(self.wine.stop(holder, timeout=30), 0)
        n_free = harness.log_count(d)
        harness.wait_for_log(d, "Started program " + apps[0], start=n_free, timeout=20)
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)
        self.stop_service(name, 30)

        raw = check_whole_lines(self, d, apps)
        stamps = [time.mktime(time.strptime(l[:24], "%a %b %d %H:%M:%S %Y")) for l in raw]
        self.assertEqual(stamps, sorted(stamps), "lines in the order they were written")
        text = [harness.strip_stamp(l) for l in raw]
        kept = 0
        for i, app in enumerate(apps):
            starts = harness.record_starts(recfiles[i])
            started = [j for j, t in enumerate(text) if t == "Started program " + app]
            # The stop at the end may end the newest child before it has
            # recorded its start: its line is the one line without a record.
            self.assertIn(len(started) - len(starts), (0, 1), "one line for every start of " + app)
            # The first start seen may have been logged before the hold.
            self.assertGreater(len(seen[i]), 4, "%s restarted while the log was held" % app)
            for k in range(base[i] + 1, base[i] + len(seen[i])):
                j = started[k]
                self.assertEqual(text[j - 1], "Process (%d): Attempting to restart program: %s"
                                 % (i, app))
                for line in (j - 1, j):
                    self.assertGreaterEqual(stamps[line], int(t_held) - 1, raw[line])
                    # Slack for a loaded machine; a stamp taken when the
                    # file came free would be seconds late for most lines.
                    self.assertLessEqual(stamps[line], seen[i][k - base[i]] + 2,
                                         "stamped later than it happened: " + raw[line])
                kept += 2
        print("held log: %d lines written while held, all kept" % kept)


class ChildHandles(ReliabilityCase):

    FLOOD_MS = 15000
    HEIRS = 6

    def test_no_child_inherits_the_log_file(self):
        """Children start while the control thread has the log open for a
        line; none of them may hold the log afterwards."""
        d = self.install_dir("relinherit")
        app = self.prog_copy(d, "heir")
        rec = self.record(d, "heir")
        other = self.prog_copy(d, "steady")
        orec = self.record(d, "steady")
        heir = {"AppName": app, "StartPause": 0,
                "CommandLine": "--no-window --report-handles --exit-after 0 --record " + rec}
        name = self.start_service(d, [{"AppName": other, "StartPause": 0,
                                       "CommandLine": "--no-window --record " + orec}]
                                  + [heir] * self.HEIRS, restart_interval=50)
        harness.wait_for_log(d, "Process (1): Attempting to restart program: " + app, timeout=30)
        before = harness.log_count(d)
        # Each priority command is a line written by the control thread; two
        # senders keep it busier (a pair they split up still logs a line).
        flood = ["flood", name, self.FLOOD_MS, OP_NORMAL, PROCESS_BASE]
        second = self.wine.start(self.wine.bin("scmtool.exe"), flood,
                                 stdout_path=d.path("flood.out"))
        rc, out = self.scm.tool(*flood, timeout=self.FLOOD_MS / 1000 + 60)
        self.assertEqual(self.wine.stop(second, timeout=60), 0)
        self.assertEqual(rc, 0, out)
        self.stop_service(name, 30)
        lines = self.log(d)[before:]
        commands = sum(1 for l in lines if l.startswith("The process priority "))
        reports = [l for l in harness.read_record(d.path("heir.rec")) if l.startswith("handles ")]
        heirs = [l for l in reports if "log=none" not in l]
        print("inherit: %d log lines from commands, %d children reported, %d held the log"
              % (commands, len(reports), len(heirs)))
        # About 500 lines and 115 children on an idle machine.
        self.assertGreater(commands, 50, "the control thread kept the log busy")
        self.assertGreaterEqual(len(reports), 30, "enough children started during the flood")
        self.assertEqual([l for l in reports if not l.startswith("handles self=yes ")], [],
                         "a child could not see its own files: its report proves nothing")
        self.assertEqual(heirs, [], "children holding the service's log")


if __name__ == "__main__":
    unittest.main()
