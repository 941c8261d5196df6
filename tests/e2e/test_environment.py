"""Variables set for a program on the real platform: a qtprog records the
environment it was started with."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import (TIMEOUT, Child, SupervisionCase, log_lines, section,  # noqa: E402
                     wait_for_record)


class EnvironmentTest(SupervisionCase):

    def test_child_gets_the_service_environment_with_the_configured_variables(self):
        d = self.install_dir()
        child = Child(self, d, "env", "--report-env")
        self.run_service(d, [section(0, child.app, CommandLine=child.cmd, StopPause=500,
                                     Env_0="QL_HOME=%QL_DRIVE%\\srv", Env_1="QL_RATE=100%%")],
                         settings="Env_0=path=C:\\qltools;%PATH%\nEnv_1=QL_DRIVE=C:\n")
        wait_for_record(child.rec, "startup flags=", timeout=TIMEOUT)
        env = [l[len("env "):] for l in child.lines() if l.startswith("env ")]
        named = {}
        for v in env:
            name = v[:v.index("=", 1)]
            named.setdefault(name.upper(), []).append(v)
        # One variable per name whatever its case, the prepended value first.
        self.assertEqual(len(named["PATH"]), 1)
        path = named["PATH"][0].split("=", 1)[1]
        self.assertTrue(path.startswith("C:\\qltools;") and len(path) > len("C:\\qltools;"), path)
        self.assertEqual(named["QL_HOME"], ["QL_HOME=C:\\srv"])
        self.assertEqual(named["QL_RATE"], ["QL_RATE=100%"])
        self.assertIn("SYSTEMROOT", named)   # the service's own variables are still there
        # The log names the variables, never their values.
        lines = log_lines(d)
        account = [l for l in lines if l.startswith("   Environment variables set: ")]
        self.assertEqual(len(account), 1)
        self.assertEqual(sorted(account[0].split(": ", 1)[1].upper().split(", ")),
                         ["PATH", "QL_DRIVE", "QL_HOME", "QL_RATE"])
        self.assertFalse([l for l in lines if "qltools" in l or "100%" in l])


if __name__ == "__main__":
    unittest.main()
