"""Opt-in keys of a program section on the real platform: the restart delay
of a program that keeps dying at once, and the stop of a program together
with what it started (a qtprog that starts another qtprog)."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (TIMEOUT, Child, SupervisionCase, log_lines, record_starts,  # noqa: E402
                     section, wait_for_record, wait_in_order)

DELAY_RE = re.compile(r"^Process \((\d)\): Restart delayed by (\d+) ms: "
                      r"the program ran only (\d+) ms\.$")


def launches(lines, app):
    return lines.count("Started program " + app)


class BackOffTest(SupervisionCase):

    def test_crash_loop_waits_out_growing_delays_and_without_keys_does_not(self):
        d = self.install_dir()
        slow = Child(self, d, "bko", "--no-window --exit-after 0")
        fast = Child(self, d, "fst", "--no-window --exit-after 0")
        self.run_service(d, [
            section(0, slow.app, CommandLine=slow.cmd, StartPause=100, StopPause=200,
                    MinUptime=5000, MaxRestartDelay=4000),
            section(1, fast.app, CommandLine=fast.cmd, StartPause=100, StopPause=200),
        ])
        first = self.started_index(d)
        began = time.monotonic()
        time.sleep(14.0)
        lines = log_lines(d, first)
        elapsed = time.monotonic() - began

        delays = [m.groups() for m in map(DELAY_RE.match, lines) if m]
        self.assertTrue(delays, lines)
        self.assertEqual({n for n, _, _ in delays}, {"0"})   # none for the program without keys
        sequence = [int(dl) for _, dl, _ in delays]
        self.assertEqual(sequence, [1000, 2000, 4000, 4000, 4000][:len(sequence)])
        self.assertTrue(all(int(ran) < 5000 for _, _, ran in delays), delays)
        # Each delay runs from the pass that saw the exit, so no more launches
        # fit than delays that have run out: 1 + 1 (1 s) + 1 (3 s) + 1 (7 s) +
        # 1 (11 s) within 14 s, the first one at the start.
        slow_count = launches(lines, slow.app)
        self.assertLessEqual(slow_count, 5, lines)
        self.assertGreaterEqual(slow_count, 3, lines)
        self.assertLessEqual(len(delays), slow_count)
        # The program without the keys restarts in every pass, as it always did.
        self.assertGreater(launches(lines, fast.app), 2 * slow_count, (elapsed, lines))
        account = log_lines(d)
        self.assertIn("   MinUptime = 5000", account)
        self.assertEqual(account.count("   MaxRestartDelay = 4000"), 1)
        self.assertNotIn("   StopProcessTree = no", account)


class ProcessTreeTest(SupervisionCase):

    def grandchild(self, d, tag):
        """Record path of the qtprog a child starts, and the option for it."""
        rec = self.scm.track_record(d.path(tag + ".rec"))
        return rec, "--child " + d.winpath(tag + ".rec")

    def test_stop_ends_the_tree_only_with_the_key(self):
        d = self.install_dir()
        g_tree, opt_tree = self.grandchild(d, "gtr")
        g_plain, opt_plain = self.grandchild(d, "gpl")
        g_exit, opt_exit = self.grandchild(d, "gex")
        g_away, opt_away = self.grandchild(d, "gaw")
        tree = Child(self, d, "tre", "--no-window " + opt_tree)
        plain = Child(self, d, "pln", "--no-window " + opt_plain)
        exits = Child(self, d, "exi", "--no-window --exit-after 2500 " + opt_exit)
        away = Child(self, d, "awy", "--no-window --breakaway " + opt_away)
        name = self.run_service(d, [
            section(0, tree.app, CommandLine=tree.cmd, AutoRestart="no", StartPause=300,
                    StopPause=1000, StopProcessTree="yes"),
            section(1, plain.app, CommandLine=plain.cmd, AutoRestart="no", StartPause=300,
                    StopPause=1000),
            section(2, exits.app, CommandLine=exits.cmd, StartPause=300, StopPause=1000,
                    StopProcessTree="yes"),
            section(3, away.app, CommandLine=away.cmd, AutoRestart="no", StartPause=300,
                    StopPause=1000, StopProcessTree="yes"),
        ])
        pids = [c.wait_start() for c in (tree, plain)]
        kids = []
        for rec in (g_tree, g_plain, g_exit, g_away):
            wait_for_record(rec, "start pid=", timeout=TIMEOUT)
            kids.append(record_starts(rec)[0]["pid"])
        self.assertTrue(tree.alive(kids[0]) and plain.alive(kids[1]))
        first = self.started_index(d)
        self.assertNotIn("Warning", " ".join(log_lines(d, first)))

        mark = harness.log_count(d)
        self.send(name, 129, 0)
        self.send(name, 129, 1)
        wait_in_order(d, ["Stopped process " + tree.app, "Stopped process " + plain.app], mark)
        self.assertFalse(tree.alive(pids[0]) or plain.alive(pids[1]))
        self.assertFalse(tree.alive(kids[0]), "the tree's grandchild outlived the stop")
        self.assertTrue(plain.alive(kids[1]), "without the key the grandchild runs on")

        # A main process that exits by itself: its child goes before the restart.
        wait_in_order(d, ["Process (2): Attempting to restart program: " + exits.app,
                          "Started program " + exits.app], first)
        wait_for_record(g_exit, "start pid=", timeout=TIMEOUT, count=2)
        self.assertFalse(exits.alive(kids[2]), "the old grandchild met the new instance")
        self.assertTrue(exits.alive(record_starts(g_exit)[1]["pid"]))

        # A child that asked to leave the job may: it started, and the stop
        # of its parent's tree leaves it running.
        mark = harness.log_count(d)
        self.send(name, 129, 3)
        wait_in_order(d, ["Stopped process " + away.app], mark)
        self.assertTrue(away.alive(kids[3]), "the child that broke away was ended")


if __name__ == "__main__":
    unittest.main()
