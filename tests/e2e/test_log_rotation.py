"""A bounded log: the service restarts a program over and over while console
commands write into the same log; both roles rotate it at its limit."""

import os
import re
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from reliability_case import KNOWN_LINES, ReliabilityCase  # noqa: E402

LONGEST_LINE = 300  # far above any line written here, stamp and CR LF included
# Console commands that only write to the log: a program name that does not
# exist, numbered per writer so that every line can be accounted for.
ANNOUNCED = re.compile(r"^Attempting to pause process (bad|odd)(\d+) \.\.\. $")
REFUSED = re.compile(r"^Invalid process number or name: (bad|odd)(\d+)$")


def lock_name(win_path):
    """The log's named lock as the executable derives it from the path."""
    h = 14695981039346656037
    for b in win_path.lower().encode("latin-1"):
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "Global\\QuarnLoader.log.%016x" % h


def numbers(texts, rx, writer):
    return [int(m.group(2)) for m in map(rx.match, texts) if m and m.group(1) == writer]


class LogRotation(ReliabilityCase):

    def ticking_service(self, d, kib, backups):
        app = self.prog_copy(d, "tick")
        rec = self.record(d, "tick")
        name = self.start_service(
            d, [{"AppName": app, "StartPause": 0, "StopPause": 300,
                 "CommandLine": "--no-window --exit-after 100 --record " + rec}],
            restart_interval=100, settings=["LogMaxSize=%d" % kib, "LogBackups=%d" % backups])
        return name, app

    def pause_bad(self, d, word):
        rc, out = self.console(d, "-pause", word)
        self.assertEqual(rc, -1, out)

    def writer(self, d, tag, stop, issued, problems):
        try:
            while not stop.is_set():
                self.pause_bad(d, "%s%d" % (tag, len(issued)))
                issued.append(len(issued))
        except (AssertionError, harness.HarnessError) as e:
            problems.append(str(e))

    @staticmethod
    def files(d):
        """The log's files, oldest first."""
        return [n for n in ("QuarnLoader.%d.log" % k for k in range(9, 0, -1))
                if os.path.exists(d.path(n))] + [harness.LOG_NAME]

    def whole_texts(self, d, limit=None):
        """The messages of all files, oldest first; every file within the
        limit, every line stamped and one whole message (and CR LF ended)."""
        texts = []
        for n in self.files(d):
            if limit:
                self.assertLessEqual(os.path.getsize(d.path(n)), limit, n)
            for line in harness.read_log(d, name=n):
                t = harness.strip_stamp(line)
                self.assertTrue(harness.STAMP_RE.match(line) and (
                    ANNOUNCED.match(t) or REFUSED.match(t)
                    or any(rx.match(t) for rx in KNOWN_LINES)), "%s: %r" % (n, line))
                texts.append(t)
        return texts

    def assert_every_start_logged(self, d, texts, app):
        starts = len(harness.record_starts(d.path("tick.rec")))
        # The stop may end the newest child before it recorded its start.
        self.assertIn(texts.count("Started program " + app) - starts, (0, 1))
        return starts

    def test_two_writers_rotate_without_losing_or_cutting_a_line(self):
        d = self.install_dir("rotlog")
        name, app = self.ticking_service(d, 4, 3)
        stop, issued, problems = threading.Event(), {"bad": [], "odd": []}, []
        writers = [threading.Thread(target=self.writer, args=(d, w, stop, issued[w], problems))
                   for w in issued]
        for w in writers:
            w.start()
        # Two rotations, then stop: a third would only make the last backup,
        # so no line written so far has been dropped as the oldest.
        biggest, deadline = 0, time.monotonic() + 60
        try:
            while len(self.files(d)) < 3 and time.monotonic() < deadline:
                if os.path.exists(d.log):
                    biggest = max(biggest, os.path.getsize(d.log))
                time.sleep(0.05)
        finally:
            stop.set()
            for w in writers:
                w.join(timeout=120)
        self.stop_service(name, 30)
        self.assertEqual(problems, [])
        self.assertEqual(len(self.files(d)), 3, "two rotations within 60 s")
        self.assertLessEqual(biggest, 4096 + LONGEST_LINE)
        texts = self.whole_texts(d, 4096)
        self.assertEqual(texts[0], "   ServiceName = " + name, "the oldest line is still there")
        self.assertEqual(texts[2:4], ["   LogMaxSize = 4", "   LogBackups = 3"])
        for w in issued:
            self.assertEqual(numbers(texts, ANNOUNCED, w), issued[w], "every line, in order")
            self.assertEqual(numbers(texts, REFUSED, w), issued[w])
        starts = self.assert_every_start_logged(d, texts, app)
        print("rotation: %d lines in %s; %d starts, %d console commands; live file at most %d "
              "bytes (limit 4096)" % (len(texts), ", ".join(self.files(d)), starts,
                                      len(issued["bad"]) + len(issued["odd"]), biggest))

        # The console alone goes on until the first lines have been dropped:
        # never more than LogBackups backups, and what is left is the newest.
        bad, deadline = issued["bad"], time.monotonic() + 60
        while harness.read_log(d, strip=True, name=self.files(d)[0])[0] == texts[0]:
            self.assertLess(time.monotonic(), deadline, "the oldest file dropped within 60 s")
            self.pause_bad(d, "bad%d" % len(bad))
            bad.append(len(bad))
        self.assertEqual(len(self.files(d)), 4)
        kept = numbers(self.whole_texts(d, 4096), ANNOUNCED, "bad")
        self.assertEqual(kept, bad[kept[0]:], "the newest lines, in order")
        print("rotation: then %s hold commands bad%d to bad%d"
              % (", ".join(self.files(d)), kept[0], kept[-1]))

    HOLD_MS = 4000

    def test_a_held_lock_defers_rotation_in_both_roles_and_costs_no_line(self):
        """Another process holding the lock named after the log's path stops
        the service and a console command from rotating, not from writing."""
        d = self.install_dir("rotheld")
        name, app = self.ticking_service(d, 1, 9)
        harness.wait_until(lambda: len(self.files(d)) >= 2, 30, "a first rotation", self.ctx(d))
        out = d.path("hold.out")
        holder = self.wine.start(d.path("holdfile.exe"),
                                 ["--mutex", lock_name(d.winpath(harness.LOG_NAME)),
                                  str(self.HOLD_MS)], stdout_path=out)
        harness.wait_until(lambda: "held" in harness.read_record(out), 30, "holdfile holds",
                           lambda: "\n".join(harness.read_record(out)))
        # holdfile lets go HOLD_MS after it said "held" at the earliest.
        held_until = time.monotonic() + self.HOLD_MS / 1000 - 1
        files = self.files(d)
        starts = len(harness.record_starts(d.path("tick.rec")))
        self.pause_bad(d, "bad0")
        time.sleep(max(0, held_until - time.monotonic()))
        self.assertEqual(self.files(d), files, "no rotation while the lock is held")
        size_held = os.path.getsize(d.log)
        self.assertGreater(size_held, 1024, "both roles went on writing")
        self.assertGreater(len(harness.record_starts(d.path("tick.rec"))), starts + 2,
                           "the service was not held up")
        self.assertEqual(self.wine.stop(holder, timeout=30), 0)
        harness.wait_until(lambda: len(self.files(d)) > len(files), 30,
                           "rotation once the lock is free", self.ctx(d))
        self.stop_service(name, 30)
        texts = self.whole_texts(d)
        self.assertEqual(texts[0], "   ServiceName = " + name)
        self.assertEqual(numbers(texts, ANNOUNCED, "bad") + numbers(texts, REFUSED, "bad"), [0, 0])
        self.assert_every_start_logged(d, texts, app)
        print("held lock: the live file grew to %d bytes (limit 1024) unrotated; then %s"
              % (size_held, ", ".join(self.files(d))))


if __name__ == "__main__":
    unittest.main()
