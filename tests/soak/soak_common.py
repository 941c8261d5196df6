"""Shared pieces of the soak runs: a service of our own built from program
sections, the service's process id and memory, and a figures printout that
scripts/soak.sh collects (lines starting with "FIGURE ")."""

import os
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import harness  # noqa: E402,F401
from harness import HarnessError  # noqa: E402,F401
from harness_procs import prefix_processes, rss_kb, windows_processes  # noqa: E402

STOP, PAUSE, CONTINUE, INTERROGATE = 1, 2, 3, 4
STAMP_FORMAT = "%a %b %d %H:%M:%S %Y"


def figure(key, value):
    print("FIGURE %s = %s" % (key, value), flush=True)


def stamp_seconds(raw_line):
    """Calendar seconds of a stamped log line."""
    return time.mktime(time.strptime(raw_line[:24], STAMP_FORMAT))


def linux_pid_of(image_unix_path, prefix=None):
    """Linux process whose Wine command line names this executable (the
    Windows path of it, as Wine starts services), in our own prefix."""
    prefix = prefix or os.environ.get("WINEPREFIX") or _state_prefix()
    leaf = os.path.basename(image_unix_path).lower()
    folder = os.path.basename(os.path.dirname(image_unix_path)).lower()
    for pid, args in prefix_processes(prefix).items():
        if args[0].strip().lower().endswith("\\" + folder + "\\" + leaf):
            return pid
    return None


def _state_prefix():
    state = os.environ.get("QL_E2E_STATE")
    if state and os.path.exists(os.path.join(state, "env")):
        return harness.read_state(state).get("WINEPREFIX")
    return None


class SoakCase(harness.E2ETestCase):

    services_made = 0

    def prog_copy(self, d, name):
        with open(d.path("qtprog.exe"), "rb") as f, open(d.path(name + ".exe"), "wb") as g:
            g.write(f.read())
        return d.winpath(name + ".exe")

    def start_service(self, d, sections, restart_interval=1000, start_timeout_ms=60000):
        SoakCase.services_made += 1
        name = self.scm.unique_name("QLSoak%d_" % SoakCase.services_made)
        harness.write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=yes\nRestartInterval=%d\n"
                          % (name, restart_interval)
                          + "".join(harness.section(i, **keys) for i, keys in enumerate(sections)))
        ok, err = self.scm.create(name, d.winpath(harness.PROGRAM_EXE),
                                  harness.INTERACTIVE_OWN_PROCESS)
        self.assertTrue(ok, "create: error %s" % err)
        ok, err = self.scm.start(name)
        self.assertTrue(ok, "start: error %s" % err)
        self.scm.wait(name, harness.RUNNING, start_timeout_ms)
        return name

    def console(self, d, *args, timeout=60):
        return self.wine.run(d.exe, list(args), cwd=d.unix, timeout=timeout)

    def log(self, d):
        return harness.read_log(d, strip=True)

    def ctx(self, d):
        return lambda: harness.log_tail(d)

    def service_pid(self):
        """Windows process id of the one QuarnLoader.exe in this prefix,
        from the stock process listing (the service status does not carry
        it through scmtool)."""
        listed = windows_processes(self.wine)
        pids = [pid for image, pid in listed if image == "quarnloader.exe"]
        if len(pids) != 1:
            raise HarnessError("expected one QuarnLoader.exe, found %s among %s" % (pids, listed))
        return pids[0]

    def memory(self, d, win_pid):
        """Windows counters plus the Linux resident size of the service."""
        m = self.scm.mem(win_pid)
        lpid = linux_pid_of(d.exe)
        m["linux_rss_kb"] = rss_kb(lpid) if lpid else -1
        return m


def run(module_globals):
    """unittest main that exits non-zero on failure, for soak.sh."""
    prog = unittest.main(module=module_globals["__name__"], exit=False, verbosity=2)
    sys.exit(0 if prog.result.wasSuccessful() else 1)
