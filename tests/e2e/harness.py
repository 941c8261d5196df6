"""Support for the end-to-end tests that run the Windows build under Wine.

Standard library only. Environment read by the tests:

  QL_BIN_DIR     folder with QuarnLoader.exe and the test programs
  QL_WINE        wine loader (default /usr/lib/wine/wine64, else wine)
  QL_E2E_STATE   folder written by "harness.py setup"; its env file gives
                 WINEPREFIX and DISPLAY
  WINEPREFIX, DISPLAY  override the state folder when set

Without a state folder and without WINEPREFIX the harness boots a private
prefix and display of its own and removes them at interpreter exit.

Suite fixture:  python3 harness.py setup STATE_DIR
                python3 harness.py cleanup STATE_DIR

The pieces live in harness_wine (running programs), harness_prefix (prefix
and display), harness_log (configuration, log and record files), harness_scm
(the service manager through scmtool) and harness_procs (/proc and wmic);
this module gathers them for the test files and adds the per-test install
folders, the test case bases and the supervised children.
"""

import os
import shutil
import sys
import unittest

# Re-exported: the test files, the benchmark and the scripts use these as NAME.
from harness_log import (INI_NAME, LOG_NAME, STAMP_RE, TIMEOUT, log_count,  # noqa: F401
                         log_lines, log_tail, read_log, read_record, record_starts, section,
                         strip_stamp, wait_for_log, wait_for_record, wait_in_order, wait_until,
                         write_ini)
from harness_prefix import (BOOT_TIMEOUT, boot_prefix, cleanup, get_wine,  # noqa: F401
                            read_state, setup, start_xvfb)
from harness_scm import (CONTINUE_PENDING, INTERACTIVE_OWN_PROCESS, OWN_PROCESS,  # noqa: F401
                         PAUSE_PENDING, PAUSED, RUNNING, START_PENDING, STOP_PENDING, STOPPED,
                         Scm, dispatcher_lock)
from harness_wine import DEFAULT_TIMEOUT, HarnessError, Wine  # noqa: F401

PROGRAM_EXE = "QuarnLoader.exe"
TEST_PROGRAMS = ("qtprog.exe", "scmtool.exe", "profdump.exe", "holdfile.exe", "nullsvc.exe")

# Non-interactive services (and their children) run on this window station
# under Wine; windows there are invisible to a console-side EnumWindows.
SERVICE_DESKTOP = "__wineservice_winstation\\Default"

# Wine needs well over 300 ms to bring up a child's window, and qtprog goes
# input-idle before it creates it, so a short StartPause can miss the window
# (seen with 1500 ms on a loaded machine).
WINDOW_START_PAUSE = 3000


# The console usage text, line by line, as the executable prints it; the
# unit tests expect the same file.
with open(os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                       "expected_usage.txt"), encoding="ascii") as _f:
    USAGE = _f.read().split("\n")[:-1]


# -- per-test install folders ---------------------------------------------

class InstallDir:
    """A folder inside the prefix holding a copy of the product. Unpacks as
    (unix, win)."""

    def __init__(self, unix, win):
        self.unix = unix
        self.win = win

    def __iter__(self):
        return iter((self.unix, self.win))

    def __fspath__(self):
        return self.unix

    def path(self, name):
        return os.path.join(self.unix, name)

    def winpath(self, name):
        return self.win + "\\" + name

    @property
    def exe(self):
        return self.path(PROGRAM_EXE)

    @property
    def ini(self):
        return self.path(INI_NAME)

    @property
    def log(self):
        return self.path(LOG_NAME)


def make_install_dir(wine, name, blank=False, programs=None):
    """Create C:\\qt\\<name>\\ (with " dir" appended when blank) afresh and
    copy the product and the test programs found in QL_BIN_DIR into it."""
    leaf = name + " dir" if blank else name
    unix = os.path.join(wine.drive_c, "qt", leaf)
    if os.path.exists(unix):
        shutil.rmtree(unix)
    os.makedirs(unix)
    wanted = programs if programs is not None else (PROGRAM_EXE,) + TEST_PROGRAMS
    for prog in wanted:
        src = wine.bin(prog)
        if os.path.exists(src):
            shutil.copy2(src, os.path.join(unix, prog))
        elif programs is not None:
            raise HarnessError("missing program %s" % src)
    return InstallDir(unix, wine.to_windows(unix))


class E2ETestCase(unittest.TestCase):
    """Gives each test self.wine and self.scm; services and qtprog processes
    a test registered are stopped and removed after it."""

    @classmethod
    def setUpClass(cls):
        cls.wine = get_wine()
        if not cls.wine.bin_dir or not os.path.isdir(cls.wine.bin_dir):
            raise unittest.SkipTest("QL_BIN_DIR is not set to the Windows build")

    def setUp(self):
        self.scm = Scm(self.wine)
        self.addCleanup(self._cleanup_scm)

    def _cleanup_scm(self):
        problems = self.scm.cleanup()
        if problems:
            raise HarnessError("cleanup: " + "; ".join(problems))

    def install_dir(self, name=None, blank=False, programs=None):
        return make_install_dir(self.wine, name or self.id().rsplit(".", 1)[-1], blank, programs)


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
        return record_starts(self.rec)

    def lines(self):
        return read_record(self.rec)

    def wait_start(self, count=1):
        wait_for_record(self.rec, "start pid=", timeout=TIMEOUT, count=count)
        return self.starts()[count - 1]["pid"]

    def alive(self, pid):
        # Ids are reused quickly under Wine: alive means our image runs there.
        scm = self.case.scm
        if not scm.alive(pid):
            return False
        img = scm.image(pid)
        return bool(img) and img.lower().endswith(self.exe.lower())


class SupervisionCase(E2ETestCase):
    """A test whose service supervises Child programs."""

    def run_service(self, d, sections, interval=500, settings=""):
        name = self.scm.unique_name("QLSup")
        write_ini(d, "[Settings]\nServiceName=%s\nUserInterface=yes\n"
                     "RestartInterval=%d\n%s%s" % (name, interval, settings, "".join(sections)))
        ok, err = self.scm.create(name, d.winpath(PROGRAM_EXE), INTERACTIVE_OWN_PROCESS)
        self.assertTrue(ok, "create failed: error %s" % err)
        try:
            self.start(name)
        except HarnessError as e:
            raise HarnessError("%s (now %s); the log ends:\n%s"
                               % (e, self.scm.query(name), log_tail(d, 15))) from None
        return name

    def start(self, name):
        with dispatcher_lock(self.wine):
            ok, err = self.scm.start(name)
            self.assertTrue(ok, "start failed: error %s" % err)
            self.scm.wait(name, RUNNING, 20000)

    def send(self, name, op, n):
        """One per-process command: the operation code, then 128 + n."""
        for code in (op, 128 + n):
            ok, res = self.scm.control(name, code)
            self.assertTrue(ok, "control %d failed: error %s" % (code, res))

    def hide_and_show(self, name, child, pid, shows):
        """Hide, then show, the window of process 0; `shows` counts the
        "show 1" lines its record then holds."""
        self.send(name, 139, 0)
        wait_for_record(child.rec, "show 0", timeout=TIMEOUT)
        self.assertEqual(self.scm.visible(pid), False)
        self.send(name, 140, 0)
        wait_for_record(child.rec, "show 1", timeout=TIMEOUT, count=shows)
        self.assertEqual(self.scm.visible(pid), True)

    def keep_desktop(self, d):
        """Keep a window of our own on the default desktop. Once its last
        window has closed, Wine lets the desktop go; a child that the service
        starts after that is invisible to console-side window lookups."""
        rec = self.scm.track_record(d.path("keeper.rec"))
        proc = self.wine.start(d.path("qtprog.exe"), ["--record", d.winpath("keeper.rec")])
        wait_for_record(rec, "show 1", timeout=TIMEOUT)
        pid = record_starts(rec)[0]["pid"]
        self.addCleanup(self.wine.stop, proc, pid)

    def started_index(self, d):
        return wait_in_order(d, ["Attempting to start processes ..."])[0] + 1


def main(argv):
    if len(argv) == 3 and argv[1] in ("setup", "cleanup"):
        if argv[1] == "setup":
            setup(argv[2])
        else:
            cleanup(argv[2])
        return 0
    sys.stderr.write("usage: harness.py setup|cleanup STATE_DIR\n")
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
