"""Variables set for a program, as the child started under Wine sees them."""

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
        env = [l[4:] for l in child.lines() if l.startswith("env ")]
        by_name = {}
        for v in env:
            at = v.index("=", 1)
            by_name.setdefault(v[:at].upper(), []).append(v[at + 1:])
        self.assertEqual(len(by_name["PATH"]), 1)   # one, whatever its letter case
        self.assertRegex(by_name["PATH"][0], r"^C:\\qltools;.")
        self.assertEqual((by_name["QL_HOME"], by_name["QL_RATE"]), (["C:\\srv"], ["100%"]))
        self.assertIn("SYSTEMROOT", by_name)
        lines = log_lines(d)
        names = [l.split(": ", 1)[1] for l in lines if "Environment variables set: " in l]
        self.assertEqual([sorted(n.upper().split(", ")) for n in names],
                         [["PATH", "QL_DRIVE", "QL_HOME", "QL_RATE"]])
        self.assertFalse([l for l in lines if "qltools" in l or "100%" in l])


if __name__ == "__main__":
    unittest.main()
