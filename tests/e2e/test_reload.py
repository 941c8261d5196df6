""""-reload" under Wine against the real Service Control Manager: a running
service with four programs; an edited file that changes one program's
arguments and another's StopPause only, removes one and adds one; then the
same programs in another order; then no file at all. The process ids the
programs recorded show which of them were restarted."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import Child, section, wait_until, TIMEOUT  # noqa: E402

STATUS_ROW = re.compile(r"^ *(\d+)  (\S+) +(\S+) +(\d+|-)  ")


class ReloadTest(harness.SupervisionCase):

    def console(self, d, option):
        """Runs the console with one option; (exit status, lines after the
        banner), both kept for the test's report."""
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), [option], timeout=60)
        lines = out.split("\n")
        if lines and lines[-1] == "":
            lines.pop()
        sys.stderr.write("\n%s output (exit %d):\n%s\n" % (option, rc, "\n".join(lines[4:])))
        return rc, lines[4:]

    def shown(self, d, pids):
        """Waits for the status file to show these process ids by number,
        then checks that "-status" shows them too."""
        want = [(str(n), str(p)) for n, p in enumerate(pids)]
        wait_until(lambda: self.on_file(d) == want, TIMEOUT, "status file showing %r" % want)
        rc, out = self.console(d, "-status")
        self.assertEqual(rc, 0, out)
        self.assertEqual([STATUS_ROW.match(line).group(1, 4) for line in out[2:]], want)

    def on_file(self, d):
        """(number, process id) of each Program line of the status file."""
        return [tuple(line.split("\t")[1:5:3]) for line in self.status_text(d).split("\r\n")
                if line.startswith("Program\t")]

    def reload(self, d, file_text, rc, outcome):
        harness.write_ini(d, file_text)
        before = harness.log_count(d)
        got, out = self.console(d, "-reload")
        self.assertEqual((got, out), (rc, ["Attempting to reload the configuration ...", outcome]))
        return before

    def test_reload_restarts_only_what_changed(self):
        d = self.install_dir()
        args, pause, gone, kept, new = (Child(self, d, tag) for tag in
                                        ("args", "paus", "gone", "kept", "new"))

        def sec(n, child, **keys):
            return section(n, child.app, ProcessName=child.exe[:4], CommandLine=child.cmd, **keys)

        name = self.run_service(d, [sec(0, args), sec(1, pause), sec(2, gone), sec(3, kept)])
        pids = {c: c.wait_start() for c in (args, pause, gone, kept)}
        head = "[Settings]\nServiceName=%s\nUserInterface=yes\nRestartInterval=500\n" % name
        self.shown(d, [pids[c] for c in (args, pause, gone, kept)])

        # New arguments for 0, a new StopPause for 1, 2 removed, 3 renumbered
        # into its place and a new program at 3.
        args.cmd += " --exit-code 0"
        edited = [sec(0, args), sec(1, pause, StopPause=2000), sec(2, kept), sec(3, new)]
        before = self.reload(d, head + "".join(edited), 0,
                             "The configuration was reloaded: 1 added, 2 changed, 1 removed, "
                             "1 unchanged.")
        harness.wait_in_order(d, [
            "Process (2): Removed: " + gone.app,
            "Process (0): Restarted with new launch settings: " + args.app,
            "Process (1): Changed without a restart: StopPause",
            "Process (3): Moved to number 2: " + kept.app,
            "Process (3): Added: " + new.app,
        ], start=before)
        pids[args] = args.wait_start(count=2)
        pids[new] = new.wait_start()
        wait_until(lambda: not gone.alive(pids[gone]), TIMEOUT, "the removed program ended")
        for c in (pause, kept):
            self.assertEqual(len(c.starts()), 1, c.exe)
            self.assertTrue(c.alive(pids[c]), c.exe)
        order = (args, pause, kept, new)
        self.shown(d, [pids[c] for c in order])

        # The same programs in the reverse order: each moves with its child.
        self.reload(d, head + "".join(sec(n, c) if c is not pause else sec(n, c, StopPause=2000)
                                      for n, c in enumerate(reversed(order))), 0,
                    "The configuration was reloaded: 0 added, 0 changed, 0 removed, "
                    "4 unchanged.")
        self.shown(d, [pids[c] for c in reversed(order)])
        rows = self.on_file(d)

        # Without its file the console would not know the service's name, so
        # the manager's own command asks; the service keeps everything.
        os.remove(d.ini)
        before = harness.log_count(d)
        ok, err = self.scm.control(name, 6)
        self.assertTrue(ok, err)
        missing = ("The configuration was not reloaded: the file is missing: "
                   + d.winpath(harness.INI_NAME))
        harness.wait_for_log(d, missing, timeout=TIMEOUT, start=before)
        wait_until(lambda: "Reload\t3\t" + missing in self.status_text(d), TIMEOUT,
                   "the refusal in the status file")
        self.assertEqual(self.on_file(d), rows)
        for c in order:
            self.assertEqual(len(c.starts()), 2 if c is args else 1, c.exe)
            self.assertTrue(c.alive(pids[c]), c.exe)

    @staticmethod
    def status_text(d):
        with open(d.path("QuarnLoader.status"), "rb") as f:
            return f.read().decode("latin-1")

if __name__ == "__main__":
    unittest.main()
