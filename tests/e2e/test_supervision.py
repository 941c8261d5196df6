"""Supervised children on the real platform: the service is installed and
driven through scmtool, and each child is a qtprog whose record file tells
what was done to it (start, startup flags, show/hide, quit, hang, exit)."""

import contextlib
import fcntl
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import HarnessError  # noqa: E402

# Wine needs well over 300 ms to bring up a child's window, and qtprog goes
# input-idle before it creates it, so a short StartPause can miss the window
# (seen with 1500 ms on a loaded machine).
WINDOW_START_PAUSE = 3000
TIMEOUT = 30


@contextlib.contextmanager
def dispatcher_lock(wine, timeout=120):
    """Held from a service start until the service runs, and around a console
    run of the product without arguments. Wine's service manager names the
    pipe for the process it is starting after a counter in the registry, and
    any program that calls StartServiceCtrlDispatcher meanwhile (a console
    run of the product, say) connects to that pipe in place of the service."""
    with open(os.path.join(wine.prefix, "ql-dispatcher.lock"), "a") as f:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    raise HarnessError("dispatcher lock not free within %ss" % timeout)
                time.sleep(0.1)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


class Child:
    """One configured qtprog under its own file name, so that log lines about
    different processes can be told apart."""

    def __init__(self, case, d, tag, args=""):
        exe = tag + "_qtprog.exe"
        shutil.copy2(d.path("qtprog.exe"), d.path(exe))
        self.exe = exe
        self.app = d.winpath(exe)
        self.rec = case.scm.track_record(d.path(tag + ".rec"))
        self.cmd = ("--record %s %s" % (d.winpath(tag + ".rec"), args)).strip()
        self.case = case

    def starts(self):
        return harness.record_starts(self.rec)

    def lines(self):
        return harness.read_record(self.rec)

    def wait_start(self, count=1):
        harness.wait_for_record(self.rec, "start pid=", timeout=TIMEOUT, count=count)
        return self.starts()[count - 1]["pid"]

    def alive(self, pid):
        # Ids are reused quickly under Wine: alive means our image runs there.
        scm = self.case.scm
        if not scm.alive(pid):
            return False
        img = scm.image(pid)
        return bool(img) and img.lower().endswith(self.exe.lower())


def section(n, app, **keys):
    lines = ["[Process_%d]" % n, "AppName=" + app] + ["%s=%s" % kv for kv in keys.items()]
    return "\n".join(lines) + "\n"


def log_lines(d, start=0):
    return harness.read_log(d, strip=True)[start:]


def wait_in_order(d, expected, start=0, timeout=TIMEOUT):
    """Wait until the log from `start` holds the expected lines in this order
    (other lines may come between); returns their indexes in the whole log."""
    deadline = time.monotonic() + timeout
    while True:
        lines = harness.read_log(d, strip=True)
        found, pos = [], start
        for want in expected:
            try:
                pos = lines.index(want, pos)
            except ValueError:
                break
            found.append(pos)
            pos += 1
        if len(found) == len(expected):
            return found
        if time.monotonic() >= deadline:
            raise HarnessError("log lines %r not seen in order within %ss; log:\n%s"
                               % (expected, timeout, "\n".join(lines[start:][-40:])))
        time.sleep(0.1)


class SupervisionCase(harness.E2ETestCase):

    def run_service(self, d, sections, interval=500):
        name = self.scm.unique_name("QLSup")
        harness.write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=yes\n"
                             "RestartInterval=%d\n%s" % (name, interval, "".join(sections)))
        ok, err = self.scm.create(name, d.winpath(harness.PROGRAM_EXE),
                                  harness.INTERACTIVE_OWN_PROCESS)
        self.assertTrue(ok, "create failed: error %s" % err)
        with dispatcher_lock(self.wine):
            ok, err = self.scm.start(name)
            self.assertTrue(ok, "start failed: error %s" % err)
            self.scm.wait(name, harness.RUNNING, 20000)
        return name

    def send(self, name, op, n):
        """One per-process command: the operation code, then 128 + n."""
        for code in (op, 128 + n):
            ok, res = self.scm.control(name, code)
            self.assertTrue(ok, "control %d failed: error %s" % (code, res))

    def keep_desktop(self, d):
        """Keep a window of our own on the default desktop. Once its last
        window has closed, Wine lets the desktop go; a child that the service
        starts after that is invisible to console-side window lookups."""
        rec = self.scm.track_record(d.path("keeper.rec"))
        proc = self.wine.start(d.path("qtprog.exe"), ["--record", d.winpath("keeper.rec")])
        harness.wait_for_record(rec, "show 1", timeout=TIMEOUT)
        pid = harness.record_starts(rec)[0]["pid"]
        self.addCleanup(self.wine.stop, proc, pid)

    def started_index(self, d):
        return wait_in_order(d, ["Attempting to start processes ..."])[0] + 1


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

        self.send(name, 139, 0)
        harness.wait_for_record(child.rec, "show 0", timeout=TIMEOUT)
        self.assertEqual(self.scm.visible(pid), False)
        self.send(name, 140, 0)
        harness.wait_for_record(child.rec, "show 1", timeout=TIMEOUT, count=2)
        self.assertEqual(self.scm.visible(pid), True)
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

    def test_hung_window_stopped_then_restarted_next_pass(self):
        d = self.install_dir()
        hung = Child(self, d, "hng", "--hang-after 4000")
        unwatched = Child(self, d, "unw", "--hang-after 4000")
        self.run_service(d, [
            section(0, hung.app, CommandLine=hung.cmd, NumOfRespChecks=2,
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
            section(1, unwatched.app, CommandLine=unwatched.cmd,
                    StartPause=WINDOW_START_PAUSE, StopPause=500),
        ])
        first_pid = hung.wait_start()
        other_pid = unwatched.wait_start()
        harness.wait_for_record(hung.rec, "hang", timeout=TIMEOUT)
        idx = wait_in_order(d, [
            "Process (0): Program is not responding: " + hung.app,
            # A hung thread cannot take WM_QUIT.
            "Terminated process " + hung.app,
            "Process (0): Attempting to restart program: " + hung.app,
            "Started program " + hung.app,
        ], self.started_index(d), timeout=45)
        self.assertEqual(idx[1], idx[0] + 1)
        self.assertEqual(idx[3], idx[2] + 1)
        self.assertNotEqual(hung.wait_start(2), first_pid)
        self.assertFalse(hung.alive(first_pid))
        lines = hung.lines()
        second = [i for i, l in enumerate(lines) if l.startswith("start pid=")][1]
        self.assertEqual(lines[second - 1], "hang")  # never got to read WM_QUIT

        # With the probe off a hung child is left alone.
        self.assertTrue(unwatched.alive(other_pid))
        self.assertIn("hang", unwatched.lines())
        self.assertFalse(any(l.startswith("Process (1)") for l in log_lines(d)), log_lines(d))


if __name__ == "__main__":
    unittest.main()
