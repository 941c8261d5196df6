"""A bounded log: the service restarts a program over and over while console
commands write into the same log; both rotate it at its limit."""

import os
import re
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from reliability_case import KNOWN_LINES, ReliabilityCase  # noqa: E402

LIMIT_KIB = 4
BACKUPS = 3
# Far above any line written here (stamp and CR LF included).
LONGEST_LINE = 300

# Two console writers, told apart by the program name they ask for.
WRITERS = ("bad", "odd")
ANNOUNCED = re.compile(r"^Attempting to pause process (bad|odd)(\d+) \.\.\. $")
REFUSED = re.compile(r"^Invalid process number or name: (bad|odd)(\d+)$")


def lock_name(win_path):
    """The log's named lock as the executable derives it from the path."""
    h = 14695981039346656037
    for b in win_path.lower().encode("latin-1"):
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "Global\\QuarnLoader.log.%016x" % h


def marks(texts, rx, writer):
    """(index, number) of each line that rx matches for that writer."""
    found = []
    for j, t in enumerate(texts):
        m = rx.match(t)
        if m and m.group(1) == writer:
            found.append((j, int(m.group(2))))
    return found


class LogRotation(ReliabilityCase):

    def console_writer(self, d, tag, stop, issued, problems):
        """Console commands that only write to the log: a program name that
        does not exist, numbered so that each line can be accounted for."""
        while not stop.is_set():
            word = "%s%d" % (tag, len(issued))
            try:
                rc, out = self.console(d, "-pause", word)
            except harness.HarnessError as e:
                problems.append(str(e))
                return
            if rc != -1:
                problems.append("%s: exit %d: %s" % (word, rc, out))
            issued.append(len(issued))

    def test_two_writers_rotate_without_losing_or_cutting_a_line(self):
        d = self.install_dir("rotlog")
        app = self.prog_copy(d, "tick")
        rec = self.record(d, "tick")
        limit = LIMIT_KIB * 1024
        name = self.start_service(
            d, [{"AppName": app, "StartPause": 0, "StopPause": 300,
                 "CommandLine": "--no-window --exit-after 100 --record " + rec}],
            restart_interval=100,
            settings=["LogMaxSize=%d" % LIMIT_KIB, "LogBackups=%d" % BACKUPS])

        def backup(k):
            return d.path("QuarnLoader.%d.log" % k)

        stop, issued, problems = threading.Event(), {w: [] for w in WRITERS}, []
        writers = [threading.Thread(target=self.console_writer,
                                    args=(d, w, stop, issued[w], problems)) for w in WRITERS]
        for w in writers:
            w.start()
        biggest = 0
        # Two rotations, then stop: a third would only create the last
        # backup, so no line written here has been dropped as the oldest.
        deadline = time.monotonic() + 60
        try:
            while not os.path.exists(backup(2)) and time.monotonic() < deadline:
                try:
                    biggest = max(biggest, os.path.getsize(d.log))
                except FileNotFoundError:
                    pass
                time.sleep(0.05)
        finally:
            stop.set()
            for w in writers:
                w.join(timeout=120)
        self.stop_service(name, 30)
        self.assertEqual(problems, [])
        self.assertTrue(os.path.exists(backup(2)), "two rotations within 60 s")
        self.assertLessEqual(biggest, limit + LONGEST_LINE, "the live file beyond its limit")

        names = self.files(d)
        self.assertLessEqual(len(names) - 1, BACKUPS, names)
        for n in names:
            self.assertLessEqual(os.path.getsize(d.path(n)), limit, n)
        text = self.whole_texts(d, names)
        self.assertEqual(text[0], "   ServiceName = " + name, "the oldest line is still there")
        self.assertIn("   LogMaxSize = %d" % LIMIT_KIB, text[:8])
        self.assertIn("   LogBackups = %d" % BACKUPS, text[:8])
        for w in WRITERS:
            announced, refused = marks(text, ANNOUNCED, w), marks(text, REFUSED, w)
            self.assertEqual([n for _, n in announced], issued[w],
                             "every console line of %s, in order" % w)
            self.assertEqual([n for _, n in refused], issued[w])
            for (a, _), (r, _) in zip(announced, refused):
                self.assertLess(a, r)
        starts = len(harness.record_starts(d.path("tick.rec")))
        started = text.count("Started program " + app)
        # The stop may end the newest child before it recorded its start.
        self.assertIn(started - starts, (0, 1), "one line for every start")
        print("rotation: %d lines in %s; %d starts, %d console commands; live file at most %d "
              "bytes (limit %d)" % (len(text), ", ".join(names), starts,
                                    sum(len(i) for i in issued.values()), biggest, limit))

        # The console alone goes on until the oldest lines have been dropped:
        # never more than LogBackups backups, and what is left is the newest.
        issued = issued[WRITERS[0]]
        first = len(issued)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            oldest = harness.read_log(d, strip=True, name=self.files(d)[0])
            if oldest and oldest[0] != "   ServiceName = " + name:
                break
            rc, out = self.console(d, "-pause", "bad%d" % len(issued))
            self.assertEqual(rc, -1, out)
            issued.append(len(issued))
        names = self.files(d)
        self.assertEqual(len(names) - 1, BACKUPS, names)
        text = self.whole_texts(d, names)
        kept = [n for _, n in marks(text, ANNOUNCED, WRITERS[0])]
        self.assertGreater(len(issued), first)
        self.assertEqual(kept, issued[issued.index(kept[0]):], "the newest lines, in order")
        for n in names:
            self.assertLessEqual(os.path.getsize(d.path(n)), limit, n)
        print("rotation: after %d more commands %s hold commands %d to %d"
              % (len(issued) - first, ", ".join(names), kept[0], kept[-1]))

    HOLD_MS = 4000

    def test_a_held_lock_defers_rotation_in_both_roles_and_costs_no_line(self):
        """Another process holding the log's lock (by the name both roles
        derive from the path) stops the service and a console command from
        rotating, not from writing; when it lets go, rotation resumes."""
        d = self.install_dir("rotheld")
        app = self.prog_copy(d, "tick")
        rec = self.record(d, "tick")
        name = self.start_service(
            d, [{"AppName": app, "StartPause": 0, "StopPause": 300,
                 "CommandLine": "--no-window --exit-after 100 --record " + rec}],
            restart_interval=100, settings=["LogMaxSize=1", "LogBackups=9"])
        harness.wait_until(lambda: len(self.files(d)) >= 2, 30, "a first rotation", self.ctx(d))
        out = d.path("hold.out")
        holder = self.wine.start(d.path("holdfile.exe"),
                                 ["--mutex", lock_name(d.winpath(harness.LOG_NAME)),
                                  str(self.HOLD_MS)], stdout_path=out)
        harness.wait_until(lambda: "held" in harness.read_record(out), 30, "holdfile holds",
                           lambda: "\n".join(harness.read_record(out)))
        # Sampled well inside the hold: holdfile lets go HOLD_MS after it
        # said "held" at the earliest.
        held_until = time.monotonic() + self.HOLD_MS / 1000 - 1
        files = self.files(d)
        starts = len(harness.record_starts(d.path("tick.rec")))
        rc, text = self.console(d, "-pause", "bad0")
        self.assertEqual(rc, -1, text)
        while time.monotonic() < held_until:
            time.sleep(0.1)
        self.assertEqual(self.files(d), files, "no rotation while the lock is held")
        size_held = os.path.getsize(d.log)
        self.assertGreater(size_held, 1024, "both roles went on writing, unrotated")
        self.assertGreater(len(harness.record_starts(d.path("tick.rec"))), starts + 2,
                           "the service was not held up")
        self.assertEqual(self.wine.stop(holder, timeout=30), 0)
        harness.wait_until(lambda: len(self.files(d)) > len(files), 30,
                           "rotation once the lock is free", self.ctx(d))
        self.stop_service(name, 30)
        text = self.whole_texts(d, self.files(d))
        self.assertEqual(text[0], "   ServiceName = " + name)
        self.assertEqual([n for _, n in marks(text, ANNOUNCED, "bad")], [0])
        self.assertEqual([n for _, n in marks(text, REFUSED, "bad")], [0])
        started = text.count("Started program " + app)
        self.assertIn(started - len(harness.record_starts(d.path("tick.rec"))), (0, 1))
        print("held lock: the live file grew to %d bytes (limit 1024) unrotated; %s after"
              % (size_held, ", ".join(self.files(d))))

    def whole_texts(self, d, names):
        """The messages of the files' lines, oldest first. Each line must be
        stamped and one whole message (read_log checks its CR LF)."""
        texts = []
        for n in names:
            for line in harness.read_log(d, name=n):
                self.assertRegex(line, harness.STAMP_RE, "%s: a line without its stamp" % n)
                t = harness.strip_stamp(line)
                whole = (ANNOUNCED.match(t) or REFUSED.match(t)
                         or any(rx.match(t) for rx in KNOWN_LINES))
                self.assertTrue(whole, "%s: not a whole message: %r" % (n, line))
                texts.append(t)
        return texts

    @staticmethod
    def files(d):
        """The log's files, oldest first."""
        return [n for n in ("QuarnLoader.%d.log" % k for k in range(9, 0, -1))
                if os.path.exists(d.path(n))] + [harness.LOG_NAME]


if __name__ == "__main__":
    unittest.main()
