"""Supervised children on the real platform: the service is installed and
driven through scmtool, and each child is a qtprog whose record file tells
what was done to it (start, startup flags, show/hide, quit, hang, exit)."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import (TIMEOUT, WINDOW_START_PAUSE, Child, SupervisionCase,  # noqa: E402
                     log_lines, section, wait_in_order)


class LaunchTest(SupervisionCase):

    def test_window_setting_start_dir_and_startup_flags(self):
        d = self.install_dir()
        os.makedirs(d.path("work"))
        hidden = Child(self, d, "hid")
        plain = Child(self, d, "pln")
        nowin = Child(self, d, "now", "--no-window")
        name = self.run_service(d, [
            section(0, hidden.app, CommandLine=hidden.cmd, Window="hide",
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
            section(1, plain.app, CommandLine=plain.cmd, StartDir=d.winpath("work"),
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
            section(2, nowin.app, CommandLine=nowin.cmd, Window="minimize",
                    StartPause=500, StopPause=500),
        ])
        first = self.started_index(d)
        wait_in_order(d, ["Warning: The window setting cannot be changed for this process."],
                      first)
        # A setting applied silently writes no second line; a child without a
        # window cannot take one and gets the warning.
        self.assertEqual(log_lines(d, first)[:4], [
            "Started program " + hidden.app,
            "Started program " + plain.app,
            "Started program " + nowin.app,
            "Warning: The window setting cannot be changed for this process.",
        ])

        harness.wait_for_record(hidden.rec, "show 0", timeout=TIMEOUT)
        h, p = hidden.starts()[0], plain.starts()[0]
        # Every child is created with SW_SHOWNA in its startup information.
        self.assertEqual(hidden.lines()[1:4], ["startup flags=0x1 show=8", "show 1", "show 0"])
        self.assertEqual(plain.lines()[1:], ["startup flags=0x1 show=8", "show 1"])
        self.assertEqual(self.scm.visible(h["pid"]), False)
        self.assertEqual(self.scm.visible(p["pid"]), True)
        # The default start directory is AppName's folder.
        self.assertEqual(h["cwd"].rstrip("\\").lower(), d.win.lower())
        self.assertEqual(p["cwd"].rstrip("\\").lower(), d.winpath("work").lower())
        self.assertEqual(p["cmd"], plain.app + " " + plain.cmd)
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)

    def test_missing_program_fails_on_every_pass(self):
        d = self.install_dir()
        app = d.winpath("missing.exe")
        name = self.run_service(d, [section(0, app, StartPause=300, StopPause=500)])
        first = self.started_index(d)
        retry = ["Process (0): Attempting to restart program: " + app,
                 "Error ( 2 ): Failed to start program " + app,
                 "The program could not be restarted at this time."]
        wait_in_order(d, retry + retry, first)
        lines = log_lines(d, first)
        self.assertEqual(lines[:7], ["Error ( 2 ): Failed to start program " + app]
                         + retry + retry)
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)


class RunningChildTest(SupervisionCase):

    def test_priority_hide_and_show_of_running_child(self):
        d = self.install_dir()
        child = Child(self, d, "run")
        name = self.run_service(d, [section(0, child.app, CommandLine=child.cmd,
                                            StartPause=WINDOW_START_PAUSE, StopPause=500)])
        pid = child.wait_start()
        first = self.started_index(d)
        wait_in_order(d, ["Started program " + child.app], first)
        self.assertEqual(self.scm.priority(pid), 0x20)

        mark = harness.log_count(d)
        self.send(name, 133, 0)
        wait_in_order(d, ["The process priority was set."], mark)
        self.assertEqual(self.scm.priority(pid), 0x80)
        self.send(name, 136, 0)
        wait_in_order(d, ["The process priority was set.", "The process priority was set."],
                      mark)
        self.assertEqual(self.scm.priority(pid), 0x4000)

        self.hide_and_show(name, child, pid, 2)
        self.assertEqual(child.lines()[-2:], ["show 0", "show 1"])

        # The same child throughout: nothing was restarted, nothing failed.
        time.sleep(1.0)
        self.assertEqual(len(child.starts()), 1)
        self.assertTrue(child.alive(pid))
        self.assertEqual(log_lines(d, mark), ["The process priority was set."] * 2)

    def test_stop_by_quit_message_and_by_termination(self):
        d = self.install_dir()
        polite = Child(self, d, "pol")
        stubborn = Child(self, d, "stb", "--ignore-quit")
        name = self.run_service(d, [
            section(0, polite.app, CommandLine=polite.cmd, AutoRestart="no",
                    StartPause=500, StopPause=1000),
            section(1, stubborn.app, CommandLine=stubborn.cmd, AutoRestart="no",
                    StartPause=500, StopPause=1000),
        ])
        p0, p1 = polite.wait_start(), stubborn.wait_start()
        first = self.started_index(d)
        wait_in_order(d, ["Started program " + polite.app, "Started program " + stubborn.app],
                      first)

        mark = harness.log_count(d)
        self.send(name, 129, 0)
        wait_in_order(d, ["Stopped process " + polite.app], mark)
        self.assertEqual(polite.lines()[-2:], ["quit", "exit 0"])
        self.assertFalse(polite.alive(p0))

        self.send(name, 129, 1)
        wait_in_order(d, ["Terminated process " + stubborn.app], mark)
        self.assertEqual(stubborn.lines()[-2:], ["quit", "quit ignored"])
        self.assertFalse(stubborn.alive(p1))

        # Nothing left to stop.
        self.send(name, 129, 0)
        wait_in_order(d, ["The process could not be stopped."], mark)
        time.sleep(1.5)
        self.assertEqual(log_lines(d, mark), [
            "Stopped process " + polite.app,
            "Terminated process " + stubborn.app,
            "The process could not be stopped.",
        ])
        self.assertEqual((len(polite.starts()), len(stubborn.starts())), (1, 1))


class RestartTest(SupervisionCase):

    def test_exited_child_restarted_unless_auto_restart_is_off(self):
        d = self.install_dir()
        quitter = Child(self, d, "ext", "--exit-after 1500 --exit-code 3")
        once = Child(self, d, "one", "--exit-after 1000")
        self.run_service(d, [
            section(0, quitter.app, CommandLine=quitter.cmd, StartPause=300, StopPause=500),
            section(1, once.app, CommandLine=once.cmd, AutoRestart="no",
                    StartPause=300, StopPause=500),
        ])
        first_pid = quitter.wait_start()
        harness.wait_for_record(quitter.rec, "exit 3", timeout=TIMEOUT)
        harness.wait_for_record(once.rec, "exit 0", timeout=TIMEOUT)
        idx = wait_in_order(d, ["Process (0): Attempting to restart program: " + quitter.app,
                                "Started program " + quitter.app], self.started_index(d))
        self.assertEqual(idx[1], idx[0] + 1)
        second_pid = quitter.wait_start(2)
        self.assertNotEqual(second_pid, first_pid)
        self.assertFalse(quitter.alive(first_pid))

        time.sleep(2.0)  # a few more passes: the other child stays down
        self.assertEqual(len(once.starts()), 1)
        self.assertFalse(any(l.startswith("Process (1)") for l in log_lines(d)), log_lines(d))

    def test_hung_program_stopped_then_restarted_next_pass(self):
        d = self.install_dir()
        ok_child = Child(self, d, "ok")
        hung = Child(self, d, "hng", "--hang-after 4000")
        unwatched = Child(self, d, "unw", "--hang-after 4000")
        name = self.run_service(d, [
            section(0, ok_child.app, CommandLine=ok_child.cmd, NumOfRespChecks=2,
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
            section(1, hung.app, CommandLine=hung.cmd, NumOfRespChecks=2,
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
            section(2, unwatched.app, CommandLine=unwatched.cmd,
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
        ])
        ok_pid = ok_child.wait_start()
        first_pid = hung.wait_start()
        other_pid = unwatched.wait_start()
        harness.wait_for_record(hung.rec, "hang", timeout=TIMEOUT)
        idx = wait_in_order(d, [
            "Process (1): Program is not responding: " + hung.app,
            # A hung thread cannot take WM_QUIT.
            "Terminated process " + hung.app,
            "Process (1): Attempting to restart program: " + hung.app,
            "Started program " + hung.app,
        ], self.started_index(d), timeout=45)
        self.assertEqual(idx[1], idx[0] + 1)
        self.assertEqual(idx[3], idx[2] + 1)
        self.assertNotEqual(hung.wait_start(2), first_pid)
        self.assertFalse(hung.alive(first_pid))
        lines = hung.lines()
        second = [i for i, l in enumerate(lines) if l.startswith("start pid=")][1]
        self.assertEqual(lines[second - 1], "hang")  # never got to read WM_QUIT

        # The answering window is probed as often and never reported.
        self.assertTrue(ok_child.alive(ok_pid))
        self.assertEqual(len(ok_child.starts()), 1)
        self.assertFalse(any(l.startswith("Process (0)") for l in log_lines(d)), log_lines(d))
        # With the probe off a hung child is left alone.
        self.assertTrue(unwatched.alive(other_pid))
        self.assertIn("hang", unwatched.lines())
        self.assertFalse(any(l.startswith("Process (2)") for l in log_lines(d)), log_lines(d))
        self.assertEqual(self.scm.query(name)["state"], harness.RUNNING)


if __name__ == "__main__":
    unittest.main()
