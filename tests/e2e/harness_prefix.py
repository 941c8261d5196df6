"""The prefix and X display of a test run: booted once per suite
("harness.py setup STATE_DIR"), described in STATE_DIR/env, and ended by
"harness.py cleanup STATE_DIR". Without a state folder and without
WINEPREFIX a run boots a private pair of its own, removed at exit."""

import atexit
import os
import shutil
import signal
import subprocess
import tempfile
import time

from harness_procs import cmdline
from harness_wine import DEFAULT_TIMEOUT, HarnessError, Wine

BOOT_TIMEOUT = 240


def read_state(state_dir):
    """KEY=VALUE pairs of STATE_DIR/env."""
    result = {}
    path = os.path.join(state_dir, "env")
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if "=" in line:
                k, v = line.split("=", 1)
                result[k] = v
    return result



def _display_free(n):
    return not (os.path.exists("/tmp/.X11-unix/X%d" % n) or os.path.exists("/tmp/.X%d-lock" % n))


_xvfb_procs = []


def start_xvfb(log_path, first=60, last=250):
    """Start Xvfb on the first free display. Returns (":N", pid)."""
    for n in range(first, last):
        if not _display_free(n):
            continue
        log = open(log_path, "ab")
        proc = subprocess.Popen(["Xvfb", ":%d" % n, "-nolisten", "tcp", "-screen", "0",
                                 "1024x768x24"], stdin=subprocess.DEVNULL, stdout=log,
                                stderr=log, start_new_session=True)
        log.close()
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if proc.poll() is not None:
                break  # lost a race for this display: try the next one
            if os.path.exists("/tmp/.X11-unix/X%d" % n):
                _xvfb_procs.append(proc)  # outlives this call on purpose
                return ":%d" % n, proc.pid
            time.sleep(0.1)
        if proc.poll() is None:
            _end_pid(proc.pid, "Xvfb")
    raise HarnessError("no free X display could be started")



def _end_pid(pid, expect_name, timeout=5):
    """SIGTERM, then SIGKILL, a process we started, checked by its name."""
    args = cmdline(pid)
    if not args or expect_name not in os.path.basename(args[0]):
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.kill(pid, sig)
        except ProcessLookupError:
            return
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                wpid, _ = os.waitpid(pid, os.WNOHANG)
                if wpid == pid:
                    return
            except ChildProcessError:
                if not os.path.exists("/proc/%d" % pid):
                    return
            time.sleep(0.1)


REG_SETTINGS = [
    ["add", r"HKCU\Software\Wine\WineDbg", "/v", "ShowCrashDialog", "/t", "REG_DWORD",
     "/d", "0", "/f"],
    # With no Debugger value Wine falls back to winedbg and a crash stalls;
    # a debugger that cannot start makes the crashing program end at once.
    ["add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "/v", "Auto",
     "/t", "REG_SZ", "/d", "1", "/f"],
    ["add", r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "/v", "Debugger",
     "/t", "REG_SZ", "/d", r"C:\windows\system32\ql-no-debugger.exe", "/f"],
]


def boot_prefix(wine):
    """Create and configure the prefix; verify that a crash does not stall."""
    # The loader boots a new prefix by itself before the first command; an
    # explicit "wineboot -i" on top of that leaves two service managers
    # running, each with its own service database.
    for i, args in enumerate(REG_SETTINGS):
        rc, out = wine.run("reg", args, timeout=BOOT_TIMEOUT if i == 0 else DEFAULT_TIMEOUT)
        if rc != 0:
            raise HarnessError("reg %s failed: %s %s" % (args, out, wine.last_stderr))
    scmtool = wine.bin("scmtool.exe")
    if os.path.exists(scmtool):
        t0 = time.monotonic()
        wine.run(scmtool, ["crash"], timeout=45)
        if time.monotonic() - t0 > 30:
            raise HarnessError("a crashing program took too long to end")


def setup(state_dir, loader=None, bin_dir=None):
    state_dir = os.path.abspath(state_dir)
    os.makedirs(state_dir, exist_ok=True)
    display, xpid = start_xvfb(os.path.join(state_dir, "xvfb.log"))
    wine = Wine(os.path.join(state_dir, "prefix"), display, loader, bin_dir)
    env_lines = ["WINEPREFIX=" + wine.prefix, "DISPLAY=" + display, "XVFB_PID=%d" % xpid,
                 "QL_WINE=" + wine.loader, "WINESERVER=" + wine.wineserver]
    with open(os.path.join(state_dir, "env"), "w", encoding="utf-8") as f:
        f.write("\n".join(env_lines) + "\n")
    try:
        # A persistent server spares every later call its start-up; it must
        # not hold our standard handles, or a fixture runner waits on them.
        os.makedirs(wine.prefix, exist_ok=True)
        subprocess.run([wine.wineserver, "-p"], env=wine.env(), timeout=30,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        boot_prefix(wine)
    except Exception:
        cleanup(state_dir)
        raise
    return wine


def cleanup(state_dir):
    state_dir = os.path.abspath(state_dir)
    try:
        st = read_state(state_dir)
    except OSError:
        return
    if st.get("WINEPREFIX"):
        wine = Wine(st["WINEPREFIX"], st.get("DISPLAY"), st.get("QL_WINE"))
        wine.wineserver_kill()
    if st.get("XVFB_PID"):
        _end_pid(int(st["XVFB_PID"]), "Xvfb")
    prefix = st.get("WINEPREFIX", "")
    if prefix.startswith(state_dir + os.sep) and os.path.isdir(prefix):
        shutil.rmtree(prefix, ignore_errors=True)
    try:
        os.remove(os.path.join(state_dir, "env"))
    except OSError:
        pass


_standalone_state = None


def get_wine():
    """The Wine of this test run: explicit WINEPREFIX/DISPLAY, else the
    suite's state folder, else a private one made now and removed at exit."""
    global _standalone_state
    loader = os.environ.get("QL_WINE")
    state_dir = os.environ.get("QL_E2E_STATE")
    st = {}
    if state_dir and os.path.exists(os.path.join(state_dir, "env")):
        st = read_state(state_dir)
    prefix = os.environ.get("WINEPREFIX") or st.get("WINEPREFIX")
    display = os.environ.get("DISPLAY") or st.get("DISPLAY")
    if prefix:
        return Wine(prefix, display, loader or st.get("QL_WINE"))
    if _standalone_state is None:
        _standalone_state = tempfile.mkdtemp(prefix="ql-e2e-")
        atexit.register(lambda: (cleanup(_standalone_state),
                                 shutil.rmtree(_standalone_state, ignore_errors=True)))
        setup(_standalone_state, loader)
    return Wine(read_state(_standalone_state)["WINEPREFIX"],
                read_state(_standalone_state)["DISPLAY"], loader)
