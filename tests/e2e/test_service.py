"""The service under Wine's real Service Control Manager: installed, started,
controlled and removed through scmtool (not the product's console
commands), judged by its log, its reported states and the qtprog records."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (TIMEOUT, USAGE, WINDOW_START_PAUSE, Child,  # noqa: E402
                     SupervisionCase, dispatcher_lock, log_lines, section, wait_in_order)

DEFAULT_NAME = "(Quarn) Server Loader"
KEYS = ("AppName", "ProcessName", "CommandLine", "StartDir", "Priority", "Window",
        "AutoRestart", "Paused", "StartPause", "StopPause", "NumOfRespChecks", "PrcFileLogging")



def exe_in_use(wine, d):
    """True while a process has QuarnLoader.exe mapped: holdfile's exclusive
    open then fails with a sharing violation."""
    rc, out = wine.run(d.path("holdfile.exe"), [d.winpath(harness.PROGRAM_EXE), "0"])
    if rc == 0 and out.strip() == "held":
        return False
    if out.strip() == "error=32":
        return True
    raise harness.HarnessError("holdfile: rc=%s %r" % (rc, out))


class ServiceCase(SupervisionCase):

    def install(self, d, ini_text=None, type_=harness.INTERACTIVE_OWN_PROCESS):
        name = self.scm.unique_name("QLSvc")
        if ini_text is not None:
            harness.write_ini(d, ini_text.replace("%NAME%", name))
        ok, err = self.scm.create(name, d.winpath(harness.PROGRAM_EXE), type_)
        self.assertTrue(ok, "create failed: error %s" % err)
        return name

    def run_child(self, d, child, start_pause):
        """A running service whose process 0 is this child, started; returns
        the service name and the child's pid."""
        name = self.install(d)
        harness.write_ini(d, "[Settings]\nServiceName=%s\nRestartInterval=500\n" % name
                          + section(0, child.app, CommandLine=child.cmd, StartPause=start_pause,
                                    StopPause=500))
        self.start(name)
        pid = child.wait_start()
        wait_in_order(d, ["Started program " + child.app])
        return name, pid

    def assert_quiet(self, d, seconds, start, prefix):
        """No line starting with prefix appears from `start` on for a while."""
        time.sleep(seconds)
        hits = [l for l in log_lines(d, start) if l.startswith(prefix)]
        self.assertEqual(hits, [], "\n".join(log_lines(d, start)))


class StartTest(ServiceCase):

    def test_start_logs_configuration_and_restarts_exited_program(self):
        d = self.install_dir()
        os.makedirs(d.path("b work"))
        a = Child(self, d, "a")
        b = Child(self, d, "b", "--exit-after 2500")
        sec0 = {"AppName": a.app, "ProcessName": "alpha", "CommandLine": a.cmd,
                "Priority": "High", "Window": "ShowNA", "AutoRestart": "Yes", "Paused": "no",
                "StartPause": "500", "StopPause": "500", "NumOfRespChecks": "0",
                "PrcFileLogging": "yes"}
        sec1 = {"AppName": b.app, "CommandLine": b.cmd, "StartDir": d.winpath("b work"),
                "StartPause": "400", "StopPause": "700"}
        ini = ("[Settings]\nServiceName=%NAME%\nUserInterface=yes\nRestartInterval=600\n"
               + section(0, **sec0) + section(1, **sec1))
        name = self.install(d, ini)
        self.start(name)
        st = self.scm.query(name)
        self.assertEqual((st["state"], st["type"], st["accepted"]),
                         (harness.RUNNING, harness.INTERACTIVE_OWN_PROCESS, 0xB))

        defaults = {"ProcessName": "", "CommandLine": "", "StartDir": "", "Priority": "normal",
                    "Window": "showna", "AutoRestart": "yes", "Paused": "no",
                    "StartPause": "1000", "StopPause": "1000", "NumOfRespChecks": "0",
                    "PrcFileLogging": "yes"}
        expected = ["   ServiceName = " + name, "   UserInterface = Yes",
                    "   RestartInterval = 600", "Loading process values from ini file ..."]
        for n, sec in enumerate((sec0, sec1)):
            expected += ["", "[Process_%d]" % n]
            expected += ["   %s = %s" % (k, sec.get(k, defaults.get(k))) for k in KEYS]
        expected += ["", "Load completed.", "The service is now running the main thread.",
                     "Attempting to start processes ...",
                     "Started program " + a.app, "Started program " + b.app]
        wait_in_order(d, expected[-2:])
        self.assertEqual(log_lines(d)[:len(expected)], expected)
        self.assertEqual(a.starts()[0]["cwd"].rstrip("\\").lower(), d.win.lower())
        self.assertEqual(b.starts()[0]["cwd"].rstrip("\\").lower(),
                         d.winpath("b work").lower())

        harness.wait_for_record(b.rec, "exit 0", timeout=TIMEOUT)
        idx = wait_in_order(d, ["Process (1): Attempting to restart program: " + b.app,
                                "Started program " + b.app], len(expected))
        self.assertEqual(idx[1], idx[0] + 1)
        self.assertEqual(len(b.starts()), 2)
        self.assertEqual(len(a.starts()), 1)
        self.assertTrue(a.alive(a.starts()[0]["pid"]))


class ControlTest(ServiceCase):

    def test_pause_blocks_restarts_until_continue(self):
        d = self.install_dir()
        c = Child(self, d, "c")
        name, pid = self.run_child(d, c, 300)

        mark = harness.log_count(d)
        self.assertEqual(self.scm.control(name, 2), (True, harness.PAUSED))
        self.assertEqual(self.scm.query(name)["state"], harness.PAUSED)
        wait_in_order(d, ["The service has been paused."], mark)
        time.sleep(1.5)  # let the pass in progress end
        self.assertTrue(self.scm.kill(pid))
        killed = harness.log_count(d)
        self.send(name, 128, 0)
        wait_in_order(d, ["The process could not be started."], killed)
        self.assert_quiet(d, 3.0, killed, "Process (0)")
        self.assertEqual(len(c.starts()), 1)
        self.assertEqual(self.scm.query(name)["state"], harness.PAUSED)

        self.assertEqual(self.scm.control(name, 3), (True, harness.RUNNING))
        idx = wait_in_order(d, ["The service has been resumed.",
                                "Process (0): Attempting to restart program: " + c.app,
                                "Started program " + c.app], killed)
        self.assertEqual(idx[2], idx[1] + 1)
        self.assertNotEqual(c.wait_start(2), pid)
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)
        self.assertEqual(log_lines(d, killed)[:2],
                         ["The process could not be started.", "The service has been resumed."])

    def test_per_process_command_pairs(self):
        d = self.install_dir()
        self.keep_desktop(d)
        c = Child(self, d, "c")
        name, first = self.run_child(d, c, WINDOW_START_PAUSE)
        mark = harness.log_count(d)

        self.send(name, 130, 0)  # pause auto restart: no line of its own
        self.send(name, 129, 0)
        wait_in_order(d, ["Stopped process " + c.app], mark)
        self.assertEqual(c.lines()[-2:], ["quit", "exit 0"])
        self.assertFalse(c.alive(first))
        self.assert_quiet(d, 2.0, mark, "Process (0)")

        self.send(name, 128, 0)  # starts even though paused
        wait_in_order(d, ["Started program " + c.app], mark)
        second = c.wait_start(2)
        self.send(name, 128, 0)
        wait_in_order(d, ["The process could not be started."], mark)

        self.hide_and_show(name, c, second, 3)

        self.send(name, 133, 0)
        wait_in_order(d, ["The process priority was set."], mark)
        self.assertEqual(self.scm.priority(second), 0x80)

        self.send(name, 129, 0)
        self.send(name, 131, 0)  # resume: the next pass restarts it
        wait_in_order(d, ["Stopped process " + c.app,
                          "Process (0): Attempting to restart program: " + c.app,
                          "Started program " + c.app], mark)
        c.wait_start(3)

        # Process 5 does not exist.
        self.send(name, 130, 5)
        self.send(name, 131, 5)
        wait_in_order(d, ["The process could not be paused.",
                          "The process could not be resumed."], mark)
        self.assertEqual(log_lines(d, mark), [
            "Stopped process " + c.app,
            "Started program " + c.app,
            "The process could not be started.",
            "The process priority was set.",
            "Stopped process " + c.app,
            "Process (0): Attempting to restart program: " + c.app,
            "Started program " + c.app,
            "The process could not be paused.",
            "The process could not be resumed.",
        ])

    def test_unassigned_operation_code(self):
        d = self.install_dir()
        c = Child(self, d, "c", "--no-window")
        name, pid = self.run_child(d, c, 300)
        mark = harness.log_count(d)
        self.send(name, 138, 2)  # 138 then 130
        # The pair is complete: the next pair is taken as a new one.
        self.send(name, 133, 0)
        wait_in_order(d, ["Error: Unrecognized service control code (130).",
                          "The process priority was set."], mark)
        self.assertEqual(log_lines(d, mark), ["Error: Unrecognized service control code (130).",
                                              "The process priority was set."])
        self.assertEqual(self.scm.priority(pid), 0x80)
        self.assertTrue(c.alive(pid))


class StopTest(ServiceCase):

    def test_stop_while_programs_are_being_started(self):
        d = self.install_dir()
        kids = [Child(self, d, t) for t in ("a", "b", "c")]
        name = self.install(d, type_=harness.OWN_PROCESS)
        harness.write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=no\n"
                             "RestartInterval=500\n" % name
                          + "".join(section(n, k.app, CommandLine=k.cmd, StartPause=2000,
                                            StopPause=500) for n, k in enumerate(kids)))
        self.start(name)
        self.assertTrue(exe_in_use(self.wine, d))
        begin = wait_in_order(d, ["   UserInterface = No", "Attempting to start processes ...",
                                  "Started program " + kids[0].app])[1] + 1
        # The second program is now inside its StartPause.
        ok, state = self.scm.control(name, 1)
        self.assertTrue(ok, "stop control failed: error %s" % state)
        self.scm.wait(name, harness.STOPPED, 20000)

        expected = ["Started program " + kids[0].app, "Started program " + kids[1].app,
                    "Stopped process " + kids[0].app, "Stopped process " + kids[1].app]
        wait_in_order(d, expected[-2:], begin)
        harness.wait_until(lambda: not exe_in_use(self.wine, d), 20,
                           "the service process to end", lambda: harness.log_tail(d))
        self.assertEqual(log_lines(d, begin), expected)
        self.assertEqual(self.scm.query(name)["state"], harness.STOPPED)
        for k in kids[:2]:
            self.assertEqual(k.lines()[-2:], ["quit", "exit 0"])
            self.assertFalse(k.alive(k.starts()[0]["pid"]))
        self.assertEqual(kids[2].lines(), [])
        time.sleep(1.5)
        self.assertEqual(log_lines(d, begin), expected)

    def test_missing_or_empty_configuration_runs_without_programs(self):
        for case in ("missing", "empty"):
            with self.subTest(case):
                d = self.install_dir("cfg_" + case)
                # The dispatcher of an own-process service does not compare the
                # name, so the service registered under a unique name runs
                # although it calls itself by the default name.
                name = self.install(d, None if case == "missing" else "",
                                    type_=harness.OWN_PROCESS)
                self.start(name)
                expected = ["   ServiceName = " + DEFAULT_NAME, "   UserInterface = Yes",
                            "   RestartInterval = 1000",
                            "Loading process values from ini file ...", "", "Load completed.",
                            "The service is now running the main thread.",
                            "Attempting to start processes ..."]
                wait_in_order(d, expected[-1:])
                time.sleep(2.5)  # a couple of empty passes
                self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)
                self.assertEqual(self.scm.control(name, 1), (True, harness.STOPPED))
                self.scm.wait(name, harness.STOPPED, 20000)
                harness.wait_until(lambda: not exe_in_use(self.wine, d), 20,
                                   "the service process to end")
                self.assertEqual(log_lines(d), expected)


class ConsoleTest(ServiceCase):

    def test_no_arguments_from_a_console(self):
        d = self.install_dir()
        with dispatcher_lock(self.wine):
            rc, out = self.wine.run(d.exe, [], cwd=d.unix)
        self.assertEqual(rc, -1)
        lines = out.split("\n")
        self.assertEqual(lines[-1], "")
        lines.pop()
        self.assertEqual(lines[0], "###")
        self.assertRegex(lines[1], r"^### \(Quarn\) Server Loader version \S(.*\S)?$")
        self.assertTrue(lines[2].startswith("### "), lines[2])
        self.assertEqual(lines[3], "###")
        self.assertEqual(lines[4:], USAGE)
        self.assertFalse(os.path.exists(d.log))
        with dispatcher_lock(self.wine):
            rc, _ = self.wine.run(d.exe, [], cwd=d.unix, exact_rc=True)
        self.assertEqual(rc, -1)


if __name__ == "__main__":
    unittest.main()
