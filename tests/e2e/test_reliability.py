"""Reliability under faults: hung programs, controls arriving at awkward
moments, per-process commands racing the supervision pass, a log file that
disappears or is locked, and a configuration that is broken or goes away."""

import os
import random
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402

# Control codes as the console sends them: the operation, then 128 + n.
OP_START, OP_STOP = 128, 129
OP_NORMAL = 135
PROCESS_BASE = 128
STOP, PAUSE, CONTINUE, INTERROGATE = 1, 2, 3, 4

# Every line the service (or a console command beside it) writes in these
# tests, once the stamp is stripped. A line cut short or glued to another
# matches none of them.
KNOWN_LINES = [re.compile(p) for p in (
    r"^$",
    r"^   \w+ = .*$",
    r"^\[Process_\d+\]$",
    r"^Loading process values from ini file \.\.\.$",
    r"^Load completed\.$",
    r"^The service is now running the main thread\.$",
    r"^Attempting to start processes \.\.\.$",
    r"^Started program (?P<app>.+)$",
    r"^(Stopped|Terminated) process (?P<app>.+)$",
    # A child that is exiting by itself as the stop posts its quit message.
    r"^Stop failed: (?P<app>.+)$",
    r"^Process \(\d+\): Attempting to restart program: (?P<app>.+)$",
    r"^Process \(\d+\): Program is not responding: (?P<app>.+)$",
    r"^The program could not be restarted at this time\.$",
    r"^The service has been (paused|resumed)\.$",
    r"^Attempting to [a-z ]+ \.\.\. $",
    r"^The process could not be (started|stopped)\.$",
    r"^Error \( -?\d+ \): Failed to start program (?P<app>.+)$",
)]


def check_whole_lines(testcase, d, apps):
    """Every log line is stamped, is one of the known messages, and names
    only programs that exist in this configuration."""
    raw = harness.read_log(d)  # raises on a line not ended by CR LF
    for i, line in enumerate(raw):
        testcase.assertRegex(line, harness.STAMP_RE, "line %d has no stamp" % (i + 1))
        text = harness.strip_stamp(line)
        m = next((rx.match(text) for rx in KNOWN_LINES if rx.match(text)), None)
        testcase.assertIsNotNone(m, "line %d is not a whole message: %r" % (i + 1, line))
        if "app" in m.groupdict() and m.group("app") is not None:
            testcase.assertIn(m.group("app"), apps, "line %d: %r" % (i + 1, line))
    return raw


def count_lines(lines, text, start=0):
    return sum(1 for l in lines[start:] if l == text)


class ReliabilityCase(harness.E2ETestCase):
    """A service of our own per test, built from program sections."""

    # Scm's own counter starts afresh in every test, and a deleted service
    # may linger marked for deletion: each test takes a new base name.
    services_made = 0

    def prog_copy(self, d, name):
        """A copy of qtprog under its own name, so log lines can tell the
        programs apart."""
        src = d.path("qtprog.exe")
        dst = d.path(name + ".exe")
        with open(src, "rb") as f, open(dst, "wb") as g:
            g.write(f.read())
        return d.winpath(name + ".exe")

    def start_service(self, d, sections, restart_interval=1000):
        ReliabilityCase.services_made += 1
        name = self.scm.unique_name("QLRel%d_" % ReliabilityCase.services_made)
        text = ["[Settings]", "ServiceName=" + name, "UserInterface=yes",
                "RestartInterval=%d" % restart_interval]
        for i, keys in enumerate(sections):
            text.append("[Process_%d]" % i)
            text += ["%s=%s" % kv for kv in keys.items()]
        self.ini_text = "\n".join(text) + "\n"
        harness.write_ini(d, self.ini_text)
        ok, err = self.scm.create(name, d.winpath(harness.PROGRAM_EXE),
                                  harness.INTERACTIVE_OWN_PROCESS)
        self.assertTrue(ok, "create: error %s" % err)
        ok, err = self.scm.start(name)
        self.assertTrue(ok, "start: error %s" % err)
        self.scm.wait(name, harness.RUNNING, 30000)
        return name

    def record(self, d, name):
        self.scm.track_record(d.path(name + ".rec"))
        return d.winpath(name + ".rec")

    def console(self, d, *args, timeout=45):
        return self.wine.run(d.exe, list(args), cwd=d.unix, timeout=timeout)

    def send(self, name, operation, n):
        """One per-process command as its two control codes."""
        ok, _ = self.scm.control(name, operation)
        ok2, _ = self.scm.control(name, PROCESS_BASE + n)
        return ok and ok2

    def stop_service(self, name, bound_s):
        """Stops the service; returns seconds until it was seen stopped."""
        t0 = time.monotonic()
        ok, state = self.scm.control(name, STOP)
        self.scm.wait(name, harness.STOPPED, int(bound_s * 1000))
        return time.monotonic() - t0

    def log(self, d):
        return harness.read_log(d, strip=True)

    def ctx(self, d):
        return lambda: harness.log_tail(d)

    def alive_starts(self, rec_unix):
        return [s["pid"] for s in harness.record_starts(rec_unix) if self.scm.alive(s["pid"])]


class HungPrograms(ReliabilityCase):

    def test_hung_windows_reported_restarted_and_hide_show_does_not_block(self):
        d = self.install_dir("relhung")
        apps, recs = [], []
        for i in range(4):
            apps.append(self.prog_copy(d, "hung%d" % i))
            recs.append(self.record(d, "hung%d" % i))
        sections = []
        for i in range(3):
            sections.append({"AppName": apps[i],
                             "CommandLine": "--record %s --hang-after 4500%s"
                             % (recs[i], " --ignore-quit" if i == 2 else ""),
                             "StartPause": 2000, "StopPause": 2000 if i == 2 else 500,
                             "NumOfRespChecks": 2})
        # Hung too, but not probed: only the console talks to it.
        sections.append({"AppName": apps[3], "ProcessName": "quiet",
                         "CommandLine": "--record %s --hang-after 3000" % recs[3],
                         "StartPause": 2000, "StopPause": 500, "NumOfRespChecks": 0})
        name = self.start_service(d, sections, restart_interval=800)

        for i in range(3):
            harness.wait_for_log(d, "Process (%d): Program is not responding: %s" % (i, apps[i]),
                                 timeout=60)
        for i in range(3):
            harness.wait_until(lambda: len(harness.record_starts(d.path("hung%d.rec" % i))) >= 2,
                               40, "hung%d restarted" % i, self.ctx(d))
        lines = self.log(d)
        for i in range(3):
            first = harness.record_starts(d.path("hung%d.rec" % i))[0]["pid"]
            self.assertFalse(self.scm.alive(first), "hung%d's first child still alive" % i)
            # Hung: it never read the quit message, so it had to be terminated.
            self.assertIn("Terminated process " + apps[i], lines)
            self.assertNotIn("quit", harness.read_record(d.path("hung%d.rec" % i)))
            nr = lines.index("Process (%d): Program is not responding: %s" % (i, apps[i]))
            self.assertEqual(lines[nr + 1], "Terminated process " + apps[i],
                             "the stop follows the report")
        raw = harness.read_log(d)
        nr = next(j for j, l in enumerate(raw) if l.endswith("not responding: " + apps[2]))
        term = next(j for j, l in enumerate(raw) if j > nr and l.endswith("process " + apps[2]))
        t_nr = time.mktime(time.strptime(raw[nr][:24], "%a %b %d %H:%M:%S %Y"))
        t_term = time.mktime(time.strptime(raw[term][:24], "%a %b %d %H:%M:%S %Y"))
        self.assertGreaterEqual(t_term - t_nr, 1, "terminated before its StopPause of 2 s")

        # The unprobed one is hung; hide and show it from the console.
        harness.wait_for_record(d.path("hung3.rec"), re.compile("^hang$"), timeout=30)
        self.assertEqual(len(harness.record_starts(d.path("hung3.rec"))), 1)
        start = harness.log_count(d)
        for verb in ("-hide", "-show", "-hide"):
            rc, out = self.console(d, verb, "quiet", timeout=30)
            self.assertEqual(rc, 0, out)
        harness.wait_for_log(d, "Attempting to hide process quiet ... ", start=start)
        # The control handler is free: an interrogate is answered at once.
        t0 = time.monotonic()
        ok, state = self.scm.control(name, INTERROGATE)
        self.assertTrue(ok)
        self.assertEqual(state, harness.RUNNING)
        self.assertLess(time.monotonic() - t0, 20)
        after = self.log(d)[start:]
        self.assertNotIn("The process window could not be hidden.", after)
        self.assertNotIn("The process window could not be shown.", after)

        # Stop: every hung program gets StopPause, then termination.
        took = self.stop_service(name, 40)
        self.assertLess(took, 40)
        lines = self.log(d)
        self.assertIn("Terminated process " + apps[3], lines[start:])
        for r in recs:
            for s in harness.record_starts(self.wine.to_unix(r)):
                self.assertFalse(self.scm.alive(s["pid"]))


class ControlsAtAwkwardMoments(ReliabilityCase):

    def test_stop_during_startup_with_long_startpauses(self):
        d = self.install_dir("relstartup")
        apps = [self.prog_copy(d, "slow%d" % i) for i in range(3)]
        recs = [self.record(d, "slow%d" % i) for i in range(3)]
        sections = [{"AppName": apps[i], "StartPause": 4000, "StopPause": 1500,
                     "CommandLine": "--no-window --ignore-quit --record " + recs[i]}
                    for i in range(3)]
        name = self.start_service(d, sections)
        harness.wait_for_record(d.path("slow0.rec"), "start pid=", timeout=20)
        t0 = time.monotonic()
        ok, state = self.scm.control(name, STOP)
        self.scm.wait(name, harness.STOPPED, 40000)
        took = time.monotonic() - t0
        # The launch in progress finishes (up to 2 x 4 s), then its child
        # gets StopPause; nothing else is started.
        self.assertLess(took, 40)
        lines = self.log(d)
        self.assertEqual(count_lines(lines, "Started program " + apps[0]), 1, lines)
        self.assertNotIn("Started program " + apps[1], lines)
        self.assertEqual(harness.read_record(d.path("slow1.rec")), [])
        self.assertEqual(harness.read_record(d.path("slow2.rec")), [])
        self.assertIn("Terminated process " + apps[0], lines)
        self.assertIn("quit ignored", harness.read_record(d.path("slow0.rec")))
        self.assertEqual(self.alive_starts(d.path("slow0.rec")), [])

    def test_pause_during_a_pass_lets_it_finish_without_restarts(self):
        d = self.install_dir("relpause")
        apps = [self.prog_copy(d, n) for n in ("crash0", "steady", "crash2")]
        rec = self.record(d, "steady")
        sections = [
            {"AppName": apps[0], "CommandLine": "--no-window --exit-after 0", "StartPause": 0},
            {"AppName": apps[1], "CommandLine": "--no-window --record " + rec, "StartPause": 0},
            {"AppName": apps[2], "CommandLine": "--no-window --exit-after 0", "StartPause": 0},
        ]
        # 2 s per program: program 2 is checked 4 s into each pass.
        name = self.start_service(d, sections, restart_interval=6000)
        restart2 = "Process (2): Attempting to restart program: " + apps[2]
        harness.wait_for_log(d, restart2, timeout=30)
        seen = time.monotonic()
        # Now in the 2 s after program 2; the next check of it comes about
        # 6 s later. Pause in the middle of that pass.
        time.sleep(max(0, 2.8 - (time.monotonic() - seen)))
        ok, state = self.scm.control(name, PAUSE)
        self.assertTrue(ok)
        self.assertEqual(state, harness.PAUSED)
        harness.wait_for_log(d, "The service has been paused.", timeout=10)
        lines = self.log(d)
        p = len(lines) - 1 - lines[::-1].index("The service has been paused.")
        failed = harness.wait_for_log(d, "The program could not be restarted at this time.",
                                      start=p, timeout=15)
        lines = self.log(d)
        f = lines.index(failed.string, p)
        self.assertEqual(lines[f - 1], restart2, "the pass in progress went on to program 2")
        # Later passes are skipped: program 0 is not tried in the next one.
        time.sleep(4.5)
        lines = self.log(d)
        self.assertEqual(lines[f + 1:], [], "nothing supervised while paused")
        steady = harness.record_starts(d.path("steady.rec"))
        self.assertEqual(len(steady), 1)
        self.assertTrue(self.scm.alive(steady[0]["pid"]), "running programs are left running")

        ok, state = self.scm.control(name, CONTINUE)
        self.assertTrue(ok)
        harness.wait_for_log(d, "The service has been resumed.", start=f)
        harness.wait_for_log(d, "Started program " + apps[0], start=f, timeout=15)
        self.stop_service(name, 30)
        self.assertEqual(self.alive_starts(d.path("steady.rec")), [])

    def test_commands_racing_the_pass_leave_one_tracked_child(self):
        d = self.install_dir("relrace")
        app = self.prog_copy(d, "racer")
        rec = self.record(d, "racer")
        name = self.start_service(d, [{"AppName": app, "StartPause": 700, "StopPause": 300,
                                       "CommandLine": "--no-window --record " + rec}],
                                  restart_interval=200)
        harness.wait_for_log(d, "Started program " + app, timeout=20)
        rnd = random.Random(7)
        for _ in range(8):
            self.assertTrue(self.send(name, OP_STOP, 0))
            time.sleep(rnd.uniform(0, 0.6))
            self.assertTrue(self.send(name, OP_START, 0))
            time.sleep(rnd.uniform(0, 0.6))
        # Let the launch or stop in progress end and the pass bring it back.
        time.sleep(2.5)
        recfile = d.path("racer.rec")
        harness.wait_until(lambda: len(self.alive_starts(recfile)) == 1, 20,
                           "exactly one racer alive", self.ctx(d))
        lines = self.log(d)
        starts = harness.record_starts(recfile)
        started = count_lines(lines, "Started program " + app)
        ended = (count_lines(lines, "Stopped process " + app)
                 + count_lines(lines, "Terminated process " + app))
        # Every child was launched and logged by the service, and every one
        # but the live one was ended by it: none escaped its records.
        self.assertGreater(len(starts), 2, "the commands did stop and start it")
        self.assertEqual(started, len(starts), lines)
        self.assertEqual(ended, len(starts) - 1, lines)
        self.stop_service(name, 30)
        self.assertEqual(self.alive_starts(recfile), [])
        lines = self.log(d)
        self.assertEqual(count_lines(lines, "Stopped process " + app)
                         + count_lines(lines, "Terminated process " + app), len(starts))


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
            self.assertEqual(len(started), len(starts), "one line for every start of " + app)
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


class ConfigurationFaults(ReliabilityCase):

    def test_bad_programs_and_a_vanishing_configuration(self):
        d = self.install_dir("relconfig")
        missing = d.winpath("nothere.exe")
        nodir = self.prog_copy(d, "nodir")
        junk = d.winpath("junk.exe")
        with open(d.path("junk.exe"), "wb") as f:
            f.write(random.Random(3).randbytes(4096))
        # Needs a DLL that is not there: the same program with one import renamed.
        with open(d.path("qtprog.exe"), "rb") as f:
            image = f.read()
        self.assertEqual(image.count(b"USER32.dll"), 1)
        with open(d.path("nodll.exe"), "wb") as f:
            f.write(image.replace(b"USER32.dll", b"QLMISS.dll"))
        nodll = d.winpath("nodll.exe")
        good = self.prog_copy(d, "good")
        rec = self.record(d, "good")
        sections = [
            {"AppName": missing, "StartPause": 0},
            {"AppName": nodir, "StartDir": d.winpath("no such dir"), "StartPause": 0,
             "CommandLine": "--no-window"},
            {"AppName": junk, "StartPause": 0},
            {"AppName": nodll, "StartPause": 0, "CommandLine": "--no-window"},
            {"AppName": good, "ProcessName": "srv", "StartPause": 0,
             "CommandLine": "--no-window --record " + rec},
        ]
        name = self.start_service(d, sections, restart_interval=1000)

        # The codes CreateProcessA really gives for these two here.
        scmtool = self.wine.bin("scmtool.exe")
        real = {}
        for app in (missing, junk):
            self.wine.run(scmtool, ["exec", app], timeout=30)
            m = re.search(r"ql-exec-error=(\d+)", self.wine.last_stderr)
            self.assertIsNotNone(m, self.wine.last_stderr)
            real[app] = int(m.group(1))
        self.assertEqual(real, {missing: 2, junk: 193})

        fail_rx = re.compile(r"^Error \( (-?\d+) \): Failed to start program (.+)$")
        for app, code in ((missing, 2), (junk, 193), (nodir, 267)):
            m = harness.wait_for_log(d, re.compile(r"^Error \( -?\d+ \): Failed to start program "
                                                   + re.escape(app) + "$"), timeout=20)
            self.assertEqual(int(fail_rx.match(m.string).group(1)), code, m.string)
        # Retried every pass, each failure logged in full.
        attempt = "Process (0): Attempting to restart program: " + missing
        harness.wait_for_log(d, attempt, timeout=20)
        harness.wait_until(lambda: count_lines(self.log(d), "Started program " + nodll) >= 2,
                           20, "the program without its DLL started again", self.ctx(d))
        lines = self.log(d)
        i = lines.index(attempt)
        self.assertEqual(lines[i + 1:i + 3], ["Error ( 2 ): Failed to start program " + missing,
                                             "The program could not be restarted at this time."])
        self.assertEqual(len(harness.record_starts(d.path("good.rec"))), 1)

        # The configuration goes away, then turns to garbage: name lookups fail.
        for fault in ("deleted", "garbage"):
            if fault == "deleted":
                os.remove(d.ini)
            else:
                with open(d.ini, "wb") as f:
                    f.write(b"\x00\xff[Sett\r\nings\x1a]=\r\n" + random.Random(5).randbytes(2000))
            start = harness.log_count(d)
            rc, out = self.console(d, "-stop", "srv")
            self.assertEqual(rc, -1, out)
            self.assertIn("Invalid process number or name: srv\n", out)
            harness.wait_for_log(d, "Invalid process number or name: srv", start=start)
            self.assertEqual(self.scm.query(name)["state"], harness.RUNNING, fault)
        n = count_lines(self.log(d), "Started program " + nodll)
        harness.wait_until(lambda: count_lines(self.log(d), "Started program " + nodll) > n,
                           20, "supervision goes on", self.ctx(d))
        good_starts = harness.record_starts(d.path("good.rec"))
        self.assertEqual(len(good_starts), 1)
        self.assertTrue(self.scm.alive(good_starts[0]["pid"]))

        # Restored, the name reaches the service again.
        harness.write_ini(d, self.ini_text)
        start = harness.log_count(d)
        rc, out = self.console(d, "-stop", "srv")
        self.assertEqual(rc, 0, out)
        harness.wait_for_log(d, "Stopped process " + good, start=start, timeout=20)
        self.assertFalse(self.scm.alive(good_starts[0]["pid"]))
        self.stop_service(name, 30)


if __name__ == "__main__":
    unittest.main()
