"""Reliability under faults: hung programs, controls arriving at awkward
moments, per-process commands racing the supervision pass, and a
configuration that is broken or goes away. The log file's faults are in
test_log_faults.py."""

import os
import random
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from reliability_case import (CONTINUE, INTERROGATE, OP_START, OP_STOP, PAUSE,  # noqa: E402
                              STOP, ReliabilityCase, count_lines)


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


    def test_the_next_console_drops_an_orphaned_operation(self):
        # A console that ended between its two codes left an operation
        # pending: only the real manager shows that the next console's
        # interrogate reaches the handler, which drops it.
        d = self.install_dir("relpair")
        app = self.prog_copy(d, "pair0")
        name = self.start_service(d, [{"AppName": app, "ProcessName": "p0", "AutoRestart": "no",
                                       "CommandLine": "--no-window"}])
        harness.wait_for_log(d, "Started program " + app, timeout=20)
        self.assertTrue(self.scm.control(name, OP_STOP)[0])
        start = harness.log_count(d)
        rc, out = self.console(d, "-stop", "p0")
        self.assertEqual(rc, 0, out)
        harness.wait_in_order(d, ["Warning: The operation code (129) was dropped: its process "
                                  "code did not arrive.", "Stopped process " + app],
                              start=start, timeout=15)
        self.stop_service(name, 30)


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
