"""The console commands of QuarnLoader.exe run under Wine against the real
Service Control Manager, one administrator's session after another, with
real child programs as witnesses of every per-process command."""

import os
import re
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import PAUSED, RUNNING, STOPPED, USAGE  # noqa: E402

BANNER_VERSION = "### (Quarn) Server Loader version "
ISSUED = "The command was issued - see log entry to see if it succeeded."
FAILED = "The command failed - see log entry for details."


def program_section(n, app, record, name, **extra):
    # qtprog goes input-idle before it creates its window and Wine takes well
    # over a second to bring that window up: a shorter StartPause misses it.
    return harness.section(n, app, ProcessName=name, CommandLine="--record " + record,
                           StartPause=2000, StopPause=1500, **extra)


def sc_state(out):
    m = re.search(r"STATE\s*:\s*(\d+)", out)
    return int(m.group(1)) if m else None


class ConsoleTestCase(harness.E2ETestCase):

    def console(self, d, *args, exact_rc=False):
        """Run the product from its install folder by its Windows path, as
        an administrator would. Returns (exit status, lines after the
        banner, log index before the run)."""
        before = harness.log_count(d)
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), list(args), timeout=60,
                                exact_rc=exact_rc)
        lines = out.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        self.assertGreaterEqual(len(lines), 4, out)
        self.assertEqual(lines[0], "###")
        self.assertTrue(lines[1].startswith(BANNER_VERSION), lines[1])
        self.assertTrue(lines[2].startswith("### "), lines[2])
        self.assertEqual(lines[3], "###")
        self.version = lines[1][len(BANNER_VERSION):]
        return rc, lines[4:], before

    def install(self, d, option, name, kind):
        """An install that succeeds; returns the log index before it."""
        rc, body, start = self.console(d, option)
        self.assertEqual((rc, body), (0, [
            "", "Attempting to install the service ...", "",
            "*** The service will %s ***" % kind, "",
            "The service %s was successfully installed." % name]))
        return start

    def assert_log_has(self, d, start, expected):
        """The expected lines appear in this order after start (the service
        may write lines of its own in between)."""
        lines = harness.log_lines(d, start)
        i = 0
        for line in lines:
            if i < len(expected) and line == expected[i]:
                i += 1
        self.assertEqual(i, len(expected), "missing %r in log:\n%s"
                         % (expected[i:], "\n".join(lines)))

    def process_command(self, d, option, arg):
        """A per-process command the service accepts: announcement and hint
        on the console, the announcement alone in the log."""
        verb = {"-start": "start ", "-stop": "stop ", "-pause": "pause ",
                "-resume": "resume ", "-hide": "hide ", "-show": "show ",
                "-real": "set priority to realtime on ", "-high": "set priority to high on ",
                "-above": "set priority to above normal on ",
                "-normal": "set priority to normal on ",
                "-below": "set priority to below normal on ",
                "-low": "set priority to low on "}[option.lower()]
        announce = "Attempting to " + verb + "process " + arg.lower() + " ... "
        rc, body, start = self.console(d, option, arg)
        self.assertEqual((rc, body), (0, [announce, ISSUED]))
        self.assert_log_has(d, start, [announce])
        self.assertNotIn(ISSUED, harness.log_lines(d, start))
        return start

    def rejected_process_command(self, d, option, arg, verb):
        shown = arg.lower()
        announce = "Attempting to " + verb + "process " + shown + " ... "
        rc, body, start = self.console(d, option, arg)
        invalid = "Invalid process number or name: " + shown
        self.assertEqual((rc, body), (-1, [announce, invalid]))
        self.assert_log_has(d, start, [announce, invalid])
        return start

    def wait_service(self, name, state):
        self.scm.wait(name, state, 15000)

    def assert_stays_down(self, record, starts, seconds=1.5):
        """Several supervision passes go by without a new start."""
        time.sleep(seconds)
        self.assertEqual(len(harness.record_starts(record)), starts,
                         "\n".join(harness.read_record(record)))


class AdministratorSession(ConsoleTestCase):

    def test_install_start_every_command_stop_remove(self):
        d = self.install_dir("console_session")
        name = self.scm.unique_name("QLConsole")
        # Two children under different file names so that log lines tell
        # them apart; alpha is never restarted by the loop, beta is.
        shutil.copy2(d.path("qtprog.exe"), d.path("betaprog.exe"))
        app0, app1 = d.winpath("qtprog.exe"), d.winpath("betaprog.exe")
        rec0 = self.scm.track_record(d.path("rec0.txt"))
        rec1 = self.scm.track_record(d.path("rec1.txt"))
        harness.write_ini(d, "[Settings]\nServiceName=%s\nRestartInterval=200\n" % name
                          + program_section(0, app0, d.winpath("rec0.txt"), "alpha",
                                            AutoRestart="no")
                          + program_section(1, app1, d.winpath("rec1.txt"), "beta"))
        exe = d.winpath(harness.PROGRAM_EXE)

        # Install: console text, log text and the registration itself.
        start = self.install(d, "-install", name, "be Interactive")
        self.assertEqual(harness.log_lines(d, start), [
            "Attempting to install the service ...", "Version is " + self.version,
            "*** The service will be Interactive ***",
            "The service %s was successfully installed." % name])
        cfg = self.scm.config(name)
        self.assertEqual((cfg["type"], cfg["start"], cfg["error"], cfg["display"], cfg["path"]),
                         (0x110, 2, 1, name, exe))
        self.assertEqual(self.scm.query(name)["state"], STOPPED)

        rc, body, _ = self.console(d, "-INSTALL")
        self.assertEqual((rc, body), (-1, [
            "", "Attempting to install the service ...", "",
            "*** The service will be Interactive ***", "",
            "The service is already installed."]))
        self.assertEqual(self.scm.config(name), cfg)

        # Start; both children come up.
        rc, body, start = self.console(d, "-start")
        self.assertEqual((rc, body), (0, ["Attempting to start the service ...",
                                          "The service was successfully started."]))
        self.assertEqual(self.scm.query(name)["state"], RUNNING)
        harness.wait_for_record(rec0, "show 1", timeout=20)
        harness.wait_for_record(rec1, "show 1", timeout=20)
        harness.wait_for_log(d, "Started program " + app1, timeout=20, start=start)
        pid0 = harness.record_starts(rec0)[0]["pid"]
        pid1 = harness.record_starts(rec1)[0]["pid"]

        rc, body, _ = self.console(d, "-Start")
        self.assertEqual((rc, body), (0, ["Attempting to start the service ...",
                                          "The service is running."]))

        # Priority classes, read back from the live children.
        for option, arg, pid, cls in (("-high", "1", pid1, 0x80), ("-low", "beta", pid1, 0x40),
                                      ("-above", "0", pid0, 0x8000),
                                      ("-Below", "BETA", pid1, 0x4000),
                                      ("-normal", "alpha", pid0, 0x20),
                                      ("-normal", "1", pid1, 0x20)):
            start = self.process_command(d, option, arg)
            harness.wait_for_log(d, "The process priority was set.", timeout=10, start=start)
            self.assertEqual(self.scm.priority(pid), cls, (option, arg))
        start = self.process_command(d, "-real", "0")
        harness.wait_for_log(d, "The process priority was set.", timeout=10, start=start)
        # Without the privilege for realtime Windows grants high instead.
        self.assertIn(self.scm.priority(pid0), (0x100, 0x80))

        # Paused automatic restart keeps a stopped child down until resumed.
        self.process_command(d, "-pause", "1")
        start = self.process_command(d, "-stop", "Beta")
        harness.wait_for_record(rec1, "quit", timeout=10)
        harness.wait_for_log(d, "Stopped process " + app1, timeout=10, start=start)
        harness.wait_until(lambda: not self.scm.alive(pid1), 10, "beta to end")
        self.assert_stays_down(rec1, 1)
        self.assertNotIn("Process (1): Attempting to restart program: " + app1,
                         harness.log_lines(d, start))
        start = self.process_command(d, "-resume", "beta")
        harness.wait_for_log(d, "Process (1): Attempting to restart program: " + app1,
                             timeout=15, start=start)
        harness.wait_until(lambda: len(harness.record_starts(rec1)) == 2, 15, "beta restart")
        self.assertEqual(harness.record_starts(rec1)[1]["priority"], 0x20)

        # Alpha has no automatic restart: stop and start by hand.
        start = self.process_command(d, "-stop", "0")
        harness.wait_for_record(rec0, "quit", timeout=10)
        harness.wait_for_log(d, "Stopped process " + app0, timeout=10, start=start)
        harness.wait_until(lambda: not self.scm.alive(pid0), 10, "alpha to end")
        start = self.process_command(d, "-start", "ALPHA")
        harness.wait_for_log(d, "Started program " + app0, timeout=15, start=start)
        # (Wine ignores the priority class given to CreateProcess, so the
        # class kept for this relaunch cannot be read back here.)
        self.assertEqual(len(harness.record_starts(rec0)), 2)
        start = self.process_command(d, "-start", "0")
        harness.wait_for_log(d, "The process could not be started.", timeout=10, start=start)
        self.assertEqual(len(harness.record_starts(rec0)), 2)

        # Windows: hide by number, show by name given in capitals. On a
        # relaunch, since the first child on a fresh desktop can take longer
        # than StartPause to make its window.
        pid0 = harness.record_starts(rec0)[1]["pid"]
        harness.wait_for_record(rec0, "show 1", timeout=10, count=2)
        self.process_command(d, "-hide", "0")
        harness.wait_for_record(rec0, "show 0", timeout=10)
        self.assertFalse(self.scm.visible(pid0))
        self.process_command(d, "-SHOW", "ALPHA")
        harness.wait_for_record(rec0, "show 1", timeout=10, count=3)
        self.assertTrue(self.scm.visible(pid0))

        # Numbers in range but beyond the two programs reach the service.
        start = self.process_command(d, "-stop", "5")
        harness.wait_for_log(d, "The process could not be stopped.", timeout=10, start=start)
        start = self.process_command(d, "-pause", "126")
        harness.wait_for_log(d, "The process could not be paused.", timeout=10, start=start)

        # Unknown names and numbers outside 0 to 126 are refused unsent;
        # -127 would have been the stop code of the whole service.
        start = self.rejected_process_command(d, "-stop", "Gamma", "stop ")
        self.rejected_process_command(d, "-stop", "-1", "stop ")
        self.rejected_process_command(d, "-hide", "127", "hide ")
        self.rejected_process_command(d, "-stop", "99999999999", "stop ")
        self.rejected_process_command(d, "-start", "-127", "start ")
        self.assertEqual(self.scm.query(name)["state"], RUNNING)
        service_lines = [l for l in harness.log_lines(d, start)
                         if not l.startswith("Attempting to ")
                         and not l.startswith("Invalid process number or name: ")]
        self.assertEqual(service_lines, [], "service reacted to a refused command")
        # Nothing was left pending: the next pair acts on its own process.
        self.process_command(d, "-hide", "1")
        harness.wait_for_record(rec1, "show 0", timeout=10)
        self.assertFalse(self.scm.visible(harness.record_starts(rec1)[1]["pid"]))
        self.assertTrue(self.scm.visible(pid0))

        # Pause and resume the whole service.
        rc, body, start = self.console(d, "-pause")
        self.assertEqual((rc, body), (0, ["Attempting to pause the service ...", ISSUED]))
        harness.wait_until(lambda: self.scm.query(name)["state"] == PAUSED, 10, "paused")
        harness.wait_for_log(d, "The service has been paused.", timeout=10, start=start)
        self.assertNotIn(ISSUED, harness.log_lines(d, start))
        rc, body, _ = self.console(d, "-start")
        self.assertEqual((rc, body), (0, ["Attempting to start the service ...",
                                          "The service is paused."]))
        rc, body, start = self.console(d, "-RESUME")
        self.assertEqual((rc, body), (0, ["Attempting to resume the service ...", ISSUED]))
        harness.wait_until(lambda: self.scm.query(name)["state"] == RUNNING, 10, "running")
        harness.wait_for_log(d, "The service has been resumed.", timeout=10, start=start)

        # Stop: both children asked to quit, and gone.
        live = [harness.record_starts(rec0)[-1]["pid"], harness.record_starts(rec1)[-1]["pid"]]
        rc, body, start = self.console(d, "-stop")
        self.assertEqual((rc, body), (0, ["Attempting to stop the service ...",
                                          "The service was successfully stopped."]))
        self.assertEqual(self.scm.query(name)["state"], STOPPED)
        self.assert_log_has(d, start, ["Attempting to stop the service ...",
                                       "Stopped process " + app0, "Stopped process " + app1])
        for pid in live:
            self.assertFalse(self.scm.alive(pid))
        rc, body, _ = self.console(d, "-stop")
        self.assertEqual((rc, body), (0, ["Attempting to stop the service ...",
                                          "The service is not running."]))
        rc, body, _ = self.console(d, "-show", "0")
        self.assertEqual((rc, body), (-1, [
            "Attempting to show process 0 ... ",
            "Error (1062) The service could not execute the command.", FAILED]))
        rc, body, _ = self.console(d, "-resume")
        self.assertEqual((rc, body), (-1, [
            "Attempting to resume the service ...",
            "Error (1062) The service could not execute the command.",
            "The service could not be resumed."]))

        # Remove, then every command meets a missing service.
        rc, body, start = self.console(d, "-remove")
        self.assertEqual((rc, body), (0, ["Attempting to remove service %s ...." % name,
                                          "The service %s was successfully removed." % name]))
        self.assertFalse(self.scm.exists(name))
        rc, body, _ = self.console(d, "-remove", exact_rc=True)
        self.assertEqual((rc, body), (-1, ["Attempting to remove service %s ...." % name,
                                           "Error (1060) Could not open the Service."]))
        rc, body, start = self.console(d, "-stop", "alpha")
        self.assertEqual((rc, body), (-1, [
            "Attempting to stop process alpha ... ",
            "Error (1060): The service could not be opened.", FAILED]))
        self.assertEqual(harness.log_lines(d, start), body)
        rc, body, _ = self.console(d, "-start")
        self.assertEqual((rc, body), (-1, ["Attempting to start the service ...",
                                           "Error (1060) Could not open the Service."]))
        rc, body, _ = self.console(d, "-stop")
        self.assertEqual((rc, body), (-1, ["Attempting to stop the service ...",
                                           "Error (1060) Could not open the Service."]))
        rc, body, _ = self.console(d, "-pause")
        self.assertEqual((rc, body), (-1, ["Attempting to pause the service ...",
                                           "Error (1060): The service could not be opened.",
                                           "The service could not be paused."]))


class BlankDirectory(ConsoleTestCase):

    def test_non_interactive_install_from_folder_with_blank_starts_and_stops(self):
        d = self.install_dir("console_blank", blank=True)
        self.assertIn(" ", d.win)
        progs = self.install_dir("console_blank_progs", programs=("qtprog.exe",))
        name = self.scm.unique_name("QLBlank")
        rec = self.scm.track_record(progs.path("rec.txt"))
        harness.write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=No\n"
                          "RestartInterval=200\nEventLog=yes\n" % name
                          + program_section(0, progs.winpath("qtprog.exe"),
                                            progs.winpath("rec.txt"), "solo"))
        exe = d.winpath(harness.PROGRAM_EXE)

        self.install(d, "-Install", name, "not be interactive")
        cfg = self.scm.config(name)
        # Quoted, so that no C:\qt\console_blank.exe could be run instead.
        self.assertEqual((cfg["type"], cfg["start"], cfg["display"], cfg["path"]),
                         (0x10, 2, name, '"' + exe + '"'))
        # The event source: the message file unquoted, as the log reads it.
        source = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + name
        rc, out = self.wine.run("reg", ["query", source], timeout=60)
        self.assertEqual(rc, 0, out)
        self.assertRegex(out, r"EventMessageFile\s+REG_EXPAND_SZ\s+" + re.escape(exe) + r"\s")
        self.assertRegex(out, r"TypesSupported\s+REG_DWORD\s+0x7\s")

        rc, body, start = self.console(d, "-start")
        self.assertEqual((rc, body), (0, ["Attempting to start the service ...",
                                          "The service was successfully started."]))
        harness.wait_for_log(d, "   UserInterface = No", timeout=10, start=start)
        harness.wait_for_record(rec, "show 1", timeout=20)
        pid = harness.record_starts(rec)[0]["pid"]
        # The child of a non-interactive service lives on the hidden station.
        self.assertIsNone(self.scm.visible(pid))
        self.assertIsNotNone(self.scm.visible(pid, harness.SERVICE_DESKTOP))

        rc, body, start = self.console(d, "-stop")
        self.assertEqual((rc, body), (0, ["Attempting to stop the service ...",
                                          "The service was successfully stopped."]))
        harness.wait_for_record(rec, "quit", timeout=10)
        self.assertFalse(self.scm.alive(pid))
        rc, body, _ = self.console(d, "-remove")
        self.assertEqual((rc, body), (0, ["Attempting to remove service %s ...." % name,
                                          "The service %s was successfully removed." % name]))
        self.assertNotEqual(self.wine.run("reg", ["query", source], timeout=60)[0], 0)
        # Wine takes the start's and the stop's entries without recording them.
        self.assertFalse([l for l in harness.log_lines(d) if "event log" in l])


class BadCommandLines(ConsoleTestCase):
    """Nothing here needs the service; none of these may touch the log
    beyond what is asked, nor the manager."""

    def test_malformed_command_lines(self):
        d = self.install_dir("console_bad")
        name = self.scm.unique_name("QLBad")
        harness.write_ini(d, "[Settings]\nServiceName=%s\n" % name)

        rc, body, start = self.console(d, "-stop", "1", "2")
        self.assertEqual((rc, body), (-1, ["Too many command options."] + USAGE))
        self.assertEqual(harness.log_lines(d, start), [])

        for args in (["-bogus"], ["-INSTALLX"], ["-install", "now"], ["-remove", "1"],
                     ["-hide"], [""], ["install"], ["-p"]):
            rc, body, start = self.console(d, *args)
            self.assertEqual((rc, body), (-1, ["Invalid command option."] + USAGE), args)
            self.assertEqual(harness.log_lines(d, start), ["Invalid command option."], args)
        self.assertFalse(self.scm.exists(name))

        # An empty process argument is neither a number nor a name.
        rc, body, start = self.console(d, "-stop", "")
        self.assertEqual((rc, body), (-1, ["Attempting to stop process  ... ",
                                           "Invalid process number or name: "]))
        # "00" has the value 0 but is not "0", so it is a name, and no
        # section has it.
        rc, body, _ = self.console(d, "-low", "00")
        self.assertEqual((rc, body), (-1, ["Attempting to set priority to low on process 00 ... ",
                                           "Invalid process number or name: 00"]))

        # Started from a console with no argument: the usage, nothing logged.
        rc, body, start = self.console(d)
        self.assertEqual((rc, body), (-1, USAGE))
        self.assertEqual(harness.log_lines(d, start), [])


class IndependentClients(ConsoleTestCase):
    """Wine's own sc.exe and net.exe on a service this executable installed."""

    def sc(self, *args):
        return self.wine.run("sc", list(args), timeout=60)

    def test_wine_sc_and_net_drive_the_installed_service(self):
        d = self.install_dir("console_clients")
        name = self.scm.track(self.scm.unique_name("QLClients") + " svc")
        rec = self.scm.track_record(d.path("rec.txt"))
        harness.write_ini(d, "[Settings]\nServiceName=%s\nRestartInterval=200\n" % name
                          + program_section(0, d.winpath("qtprog.exe"), d.winpath("rec.txt"),
                                            "solo"))
        rc, body, _ = self.console(d, "-install")
        self.assertEqual(body[-1], "The service %s was successfully installed." % name)

        rc, out = self.sc("query", name)
        if rc != 0 or sc_state(out) is None:
            self.skipTest("Wine's sc.exe cannot query services here: %r" % out)
        self.assertEqual(sc_state(out), STOPPED, out)
        self.assertRegex(out, r"TYPE\s*:\s*110")

        rc, out = self.sc("start", name)
        self.assertEqual(rc, 0, out)
        self.wait_service(name, RUNNING)
        harness.wait_for_record(rec, "show 1", timeout=20)
        rc, out = self.sc("query", name)
        self.assertEqual((rc, sc_state(out)), (0, RUNNING), out)

        # The product's pause is seen by the other client.
        rc, body, _ = self.console(d, "-pause")
        self.assertEqual((rc, body), (0, ["Attempting to pause the service ...", ISSUED]))
        harness.wait_until(lambda: sc_state(self.sc("query", name)[1]) == PAUSED, 10,
                           "sc to see the pause")
        rc, body, _ = self.console(d, "-resume")
        self.assertEqual(rc, 0)
        self.wait_service(name, RUNNING)

        pid = harness.record_starts(rec)[0]["pid"]
        rc, out = self.sc("stop", name)
        self.assertEqual(rc, 0, out)
        self.wait_service(name, STOPPED)
        harness.wait_for_record(rec, "quit", timeout=10)
        self.assertFalse(self.scm.alive(pid))

        rc, out = self.wine.run("net", ["start", name], timeout=60)
        self.assertEqual(rc, 0, out)
        self.wait_service(name, RUNNING)
        harness.wait_until(lambda: len(harness.record_starts(rec)) == 2, 20, "second start")
        harness.wait_for_record(rec, "show 1", timeout=20, count=2)
        rc, body, _ = self.console(d, "-start")
        self.assertEqual(body, ["Attempting to start the service ...", "The service is running."])

        pid = harness.record_starts(rec)[1]["pid"]
        rc, out = self.wine.run("net", ["stop", name], timeout=60)
        self.assertEqual(rc, 0, out)
        self.wait_service(name, STOPPED)
        harness.wait_for_record(rec, "quit", timeout=10, count=2)
        self.assertFalse(self.scm.alive(pid))
        rc, body, _ = self.console(d, "-stop")
        self.assertEqual(body, ["Attempting to stop the service ...",
                                "The service is not running."])

        # Removing a running service asks it to stop and deletes it once
        # it has.
        self.assertEqual(self.sc("start", name)[0], 0)
        self.wait_service(name, RUNNING)
        harness.wait_until(lambda: len(harness.record_starts(rec)) == 3, 20, "third start")
        pid = harness.record_starts(rec)[2]["pid"]
        rc, body, _ = self.console(d, "-remove")
        self.assertEqual((rc, body), (0, ["Attempting to remove service %s ...." % name,
                                          "The service %s was successfully removed." % name]))
        harness.wait_until(lambda: not self.scm.exists(name), 20, "registration to go")
        harness.wait_until(lambda: not self.scm.alive(pid), 10, "child to end")
        rc, out = self.sc("query", name)
        self.assertNotEqual(rc, 0, out)


if __name__ == "__main__":
    unittest.main()
