""""-reload" under Wine with the real service manager: one program's arguments
and another's StopPause changed, one removed, one added; then all renumbered;
then no file. The process ids the programs record show which were restarted."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import TIMEOUT, Child, section, wait_until  # noqa: E402
from test_status import file_rows  # noqa: E402


class ReloadTest(harness.SupervisionCase):

    def test_reload_restarts_only_what_changed(self):
        d = self.install_dir()
        args, pause, gone, kept, new = (Child(self, d, t) for t in "args pse gone kept new".split())
        keys = {}

        def sections(children):
            return "".join(section(n, c.app, CommandLine=c.cmd, **keys.get(c, {}))
                           for n, c in enumerate(children))

        def running(children, starts):
            # Each has started that often and runs, at its number in the status file.
            pids = [c.wait_start(count=k) for c, k in zip(children, starts)]
            self.assertEqual([len(c.starts()) for c in children], starts)
            self.assertTrue(all(c.alive(p) for c, p in zip(children, pids)))
            want = [[str(n), str(p)] for n, p in enumerate(pids)]
            wait_until(lambda: [r[0:4:3] for r in file_rows(d)] == want, TIMEOUT,
                       "status file showing %r" % want)

        def reload(children, counts):
            harness.write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=yes\n"
                                 "RestartInterval=500\n%s" % (name, sections(children)))
            rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), ["-reload"], timeout=60)
            self.assertEqual((rc, out.splitlines()[4:]), (0, [
                "Attempting to reload the configuration ...",
                "The configuration was reloaded: " + counts]))

        first = (args, pause, gone, kept)
        name = self.run_service(d, [sections(first)])
        running(first, [1] * 4)

        args.cmd += " --exit-code 0"
        keys[pause] = {"StopPause": 2000}
        order, back = (args, pause, kept, new), (new, kept, pause, args)
        reload(order, "1 added, 2 changed, 1 removed, 1 unchanged.")
        wait_until(lambda: not gone.alive(gone.starts()[0]["pid"]), TIMEOUT, "removed one ended")
        running(order, [2, 1, 1, 1])

        reload(back, "0 added, 0 changed, 0 removed, 4 unchanged.")
        running(back, [1, 1, 1, 2])

        # Without its file the console would not know the service's name.
        os.remove(d.ini)
        self.assertTrue(self.scm.control(name, 6)[0])
        harness.wait_for_log(d, "The configuration was not reloaded: the file is missing: "
                             + d.winpath(harness.INI_NAME), timeout=TIMEOUT)
        running(back, [1, 1, 1, 2])


if __name__ == "__main__":
    unittest.main()
