""""-reload" under Wine with the real service manager: one program's arguments
changed, one removed, one added, one kept. The process ids the programs record
show which were restarted."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
from harness import TIMEOUT, Child, section, wait_until  # noqa: E402


class ReloadTest(harness.SupervisionCase):

    def test_reload_restarts_only_what_changed(self):
        d = self.install_dir()
        args, gone, kept, new = (Child(self, d, t) for t in "args gone kept new".split())

        def sections(*children):
            return "".join(section(n, c.app, CommandLine=c.cmd) for n, c in enumerate(children))

        name = self.run_service(d, [sections(args, gone, kept)])
        pids = [c.wait_start() for c in (args, gone, kept)]

        args.cmd += " --exit-code 0"
        harness.write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=yes\n"
                             "RestartInterval=500\n%s" % (name, sections(args, kept, new)))
        rc, out = self.wine.run(d.winpath(harness.PROGRAM_EXE), ["-reload"], timeout=60)
        self.assertEqual((rc, out.splitlines()[4:]), (0, [
            "Attempting to reload the configuration ...",
            "The configuration was reloaded: 1 added, 1 changed, 1 removed, 1 unchanged."]))
        wait_until(lambda: not gone.alive(pids[1]), TIMEOUT, "removed one ended")
        self.assertTrue(args.alive(args.wait_start(count=2)))
        self.assertTrue(new.alive(new.wait_start()))
        self.assertEqual(len(kept.starts()), 1)
        self.assertTrue(kept.alive(pids[2]))


if __name__ == "__main__":
    unittest.main()
