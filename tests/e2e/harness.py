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
"""

import atexit
import itertools
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

PROGRAM_EXE = "QuarnLoader.exe"
INI_NAME = "QuarnLoader.ini"
LOG_NAME = "QuarnLoader.log"
TEST_PROGRAMS = ("qtprog.exe", "scmtool.exe", "profdump.exe", "holdfile.exe", "nullsvc.exe")

# Non-interactive services (and their children) run on this window station
# under Wine; windows there are invisible to a console-side EnumWindows.
SERVICE_DESKTOP = "__wineservice_winstation\\Default"

# Service states and types
STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4
CONTINUE_PENDING, PAUSE_PENDING, PAUSED = 5, 6, 7
OWN_PROCESS, INTERACTIVE_OWN_PROCESS = 0x10, 0x110

STAMP_RE = re.compile(r"^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4} :: ")

BOOT_TIMEOUT = 240
DEFAULT_TIMEOUT = 60


# The console usage text, line by line, as the executable prints it.
USAGE = [
    "",
    "Usage: quarnloader < command >",
    "",
    " Service Commands",
    "       -install    installs the service",
    "       -remove     removes the service",
    "       -start      starts the service",
    "       -stop       stops the service",
    "       -pause      pauses the service if running",
    "       -resume     resumes the service if paused",
    "",
    " Process Commands, n = process number from INI file",
    "       -stop n     stops process",
    "       -start n    starts process",
    "       -pause n    pauses auto restart",
    "       -resume n   resumes auto restart",
    "       -hide n     hides process window",
    "       -show n     unhides process window",
    "       -real n     sets priority to realtime",
    "       -high n     sets priority to high",
    "       -above n    sets priority to above normal",
    "       -normal n   sets priority to normal",
    "       -below n    sets priority to below normal",
    "       -low n      sets priority to low",
]


class HarnessError(AssertionError):
    """A bounded wait ran out or a helper failed; the text carries context."""


def _default_loader():
    env = os.environ.get("QL_WINE")
    if env:
        return env
    if os.path.exists("/usr/lib/wine/wine64"):
        return "/usr/lib/wine/wine64"
    return shutil.which("wine64") or "wine"


def _wineserver_for(loader):
    path = shutil.which(loader) or loader
    cand = os.path.join(os.path.dirname(os.path.realpath(path)), "wineserver")
    if os.path.exists(cand):
        return cand
    return shutil.which("wineserver") or "wineserver"


def to_signed32(v):
    v &= 0xFFFFFFFF
    return v - 0x100000000 if v >= 0x80000000 else v


def _decode(data):
    return data.decode("latin-1").replace("\r\n", "\n")


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


class Wine:
    """One Wine prefix plus display, and the programs run inside it."""

    def __init__(self, prefix, display, loader=None, bin_dir=None):
        self.prefix = os.path.abspath(prefix)
        self.display = display
        self.loader = loader or _default_loader()
        self.wineserver = _wineserver_for(self.loader)
        self.bin_dir = bin_dir or os.environ.get("QL_BIN_DIR", "")
        self.last_stderr = ""
        self._background = []

    # -- environment ------------------------------------------------------
    def env(self):
        e = dict(os.environ)
        e["WINEPREFIX"] = self.prefix
        if self.display:
            e["DISPLAY"] = self.display
        e["WINEDEBUG"] = "-all"
        # No prompts for the .NET and HTML engines while the prefix boots.
        e["WINEDLLOVERRIDES"] = "mscoree,mshtml="
        return e

    @property
    def drive_c(self):
        return os.path.join(self.prefix, "drive_c")

    def bin(self, name):
        """Unix path of a built program in QL_BIN_DIR."""
        return os.path.join(self.bin_dir, name)

    # -- paths ------------------------------------------------------------
    def to_windows(self, unix_path):
        p = os.path.abspath(unix_path)
        c = os.path.realpath(self.drive_c)
        rp = os.path.realpath(p) if os.path.exists(p) else p
        for base in (self.drive_c, c):
            if rp == base or rp.startswith(base + os.sep):
                rel = rp[len(base):].lstrip(os.sep)
                return "C:\\" + rel.replace("/", "\\")
        return "Z:" + p.replace("/", "\\")

    def to_unix(self, win_path):
        p = win_path.replace("\\", "/")
        m = re.match(r"^([A-Za-z]):/?(.*)$", p)
        if not m:
            raise HarnessError("not an absolute Windows path: %r" % win_path)
        drive, rest = m.group(1).upper(), m.group(2)
        if drive == "C":
            return os.path.join(self.drive_c, rest)
        if drive == "Z":
            return "/" + rest
        raise HarnessError("no mapping for drive %s:" % drive)

    # -- running ----------------------------------------------------------
    def _cmd(self, exe, args):
        return [self.loader, exe] + [str(a) for a in args]

    def run(self, exe, args=(), cwd=None, timeout=DEFAULT_TIMEOUT, exact_rc=False):
        """Run a Windows program to its end. Returns (rc, stdout) with CRLF
        turned into LF. The exit status Wine passes to Unix keeps only the
        low byte, so rc is that byte sign-extended (255 -> -1); with
        exact_rc the program runs under "scmtool exec", which reports the
        full 32-bit code. Stderr is kept in last_stderr."""
        cmd = self._cmd(exe, args)
        if exact_rc:
            if os.path.isabs(exe):
                exe = self.to_windows(exe)
            cmd = [self.loader, self.bin("scmtool.exe"), "exec", exe] + [str(a) for a in args]
        # Files, not pipes: Wine's own background processes (services,
        # explorer) inherit the handles and would hold a pipe open for good.
        with tempfile.TemporaryFile() as fout, tempfile.TemporaryFile() as ferr:
            proc = subprocess.Popen(cmd, cwd=cwd, env=self.env(), stdin=subprocess.DEVNULL,
                                    stdout=fout, stderr=ferr)
            try:
                proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                # Left to "wineserver -k" at cleanup: Wine processes are never
                # killed from the Unix side.
                self._background.append(proc)
                raise HarnessError("timeout after %ss: %s" % (timeout, " ".join(cmd)))
            fout.seek(0)
            ferr.seek(0)
            out, err = fout.read(), ferr.read()
        self.last_stderr = _decode(err)
        rc = proc.returncode
        if exact_rc:
            m = re.search(r"ql-exit=(-?\d+)", self.last_stderr)
            if not m:
                raise HarnessError("no exit code from scmtool exec: %s" % self.last_stderr)
            rc = int(m.group(1))
        elif rc >= 128:
            rc -= 256
        return rc, _decode(out)

    def start(self, exe, args=(), cwd=None, stdout_path=None):
        """Start a Windows program in the background (Popen). Its stdout
        goes to stdout_path (or is dropped)."""
        out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
        try:
            proc = subprocess.Popen(self._cmd(exe, args), cwd=cwd, env=self.env(),
                                    stdin=subprocess.DEVNULL, stdout=out,
                                    stderr=subprocess.STDOUT if stdout_path else subprocess.DEVNULL)
        finally:
            if stdout_path:
                out.close()
        self._background.append(proc)
        return proc

    def stop(self, proc, win_pid=None, timeout=10):
        """End a background program: through TerminateProcess when its
        Windows pid is known, then wait for it. Returns its exit status."""
        if proc.poll() is None and win_pid is not None:
            self.run(self.bin("scmtool.exe"), ["kill", win_pid], timeout=timeout)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError("background program did not end within %ss" % timeout)
        if proc in self._background:
            self._background.remove(proc)
        return rc

    def wait_background(self, timeout=10):
        """Wait for every background program still listed; True if all ended."""
        deadline = time.monotonic() + timeout
        for proc in list(self._background):
            left = max(0.1, deadline - time.monotonic())
            try:
                proc.wait(timeout=left)
                self._background.remove(proc)
            except subprocess.TimeoutExpired:
                return False
        return True

    def wineserver_kill(self, timeout=30):
        try:
            subprocess.run([self.wineserver, "-k"], env=self.env(), timeout=timeout,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass
        self.wait_background(timeout=10)


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


def _unix_dir(d):
    return d.unix if isinstance(d, InstallDir) else os.fspath(d)


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


def write_ini(d, text, name=INI_NAME):
    """Write the configuration file with CR LF line ends (single-byte text)."""
    body = text.replace("\r\n", "\n").replace("\n", "\r\n")
    path = os.path.join(_unix_dir(d), name)
    with open(path, "wb") as f:
        f.write(body.encode("latin-1"))
    return path


def strip_stamp(line):
    return STAMP_RE.sub("", line, count=1)


def read_log(d, strip=False, check_crlf=True, name=LOG_NAME):
    """Lines of the log (without line ends). Raises if a complete line does
    not end in CR LF; a last line still being written is re-read once."""
    path = os.path.join(_unix_dir(d), name)
    for attempt in range(2):
        try:
            with open(path, "rb") as f:
                data = f.read()
        except FileNotFoundError:
            return []
        if data and not data.endswith(b"\r\n") and attempt == 0:
            time.sleep(0.2)
            continue
        break
    text = data.decode("latin-1")
    parts = text.split("\r\n")
    if parts and parts[-1] == "":
        parts.pop()
    if check_crlf:
        for i, p in enumerate(parts):
            if "\n" in p or "\r" in p:
                raise HarnessError("log line %d does not end in CR LF: %r" % (i + 1, p))
        if data and not data.endswith(b"\r\n"):
            raise HarnessError("last log line does not end in CR LF: %r" % parts[-1])
    if strip:
        parts = [strip_stamp(p) for p in parts]
    return parts


def log_tail(d, n=40):
    try:
        lines = read_log(d, check_crlf=False)
    except OSError as e:
        return "<log unreadable: %s>" % e
    return "\n".join(lines[-n:]) if lines else "<log empty or missing>"


def _matcher(pattern):
    if isinstance(pattern, str):
        return re.compile(re.escape(pattern))
    return pattern


def wait_for_log(d, pattern, timeout=10, start=0, strip=True):
    """Poll the log every 100 ms until a line at index >= start matches
    pattern (plain text or compiled regex, searched in the line without its
    stamp when strip). Returns the re.Match; .string is the line."""
    rx = _matcher(pattern)
    deadline = time.monotonic() + timeout
    while True:
        lines = read_log(d, strip=strip)
        for line in lines[start:]:
            m = rx.search(line)
            if m:
                return m
        if time.monotonic() >= deadline:
            raise HarnessError("no log line matching %r within %ss; log:\n%s"
                               % (rx.pattern, timeout, "\n".join(lines[-40:])))
        time.sleep(0.1)


def log_count(d):
    """Number of log lines now: a start index for wait_for_log."""
    return len(read_log(d, check_crlf=False))


def wait_until(predicate, timeout, what, context=None):
    """Poll predicate every 100 ms; return its first truthy value."""
    deadline = time.monotonic() + timeout
    while True:
        v = predicate()
        if v:
            return v
        if time.monotonic() >= deadline:
            extra = ("\n" + context()) if context else ""
            raise HarnessError("timed out after %ss waiting for %s%s" % (timeout, what, extra))
        time.sleep(0.1)


# -- qtprog record files ---------------------------------------------------

def read_record(path):
    """Lines of a qtprog record file ([] while it does not exist)."""
    try:
        with open(path, "rb") as f:
            return _decode(f.read()).splitlines()
    except FileNotFoundError:
        return []


def record_starts(path):
    """One dict per "start" line: pid (int), cwd, priority (int), cmd."""
    rx = re.compile(r"^start pid=(\d+) cwd=(.*) priority=0x([0-9a-fA-F]+) cmd=(.*)$")
    starts = []
    for line in read_record(path):
        m = rx.match(line)
        if m:
            starts.append({"pid": int(m.group(1)), "cwd": m.group(2),
                           "priority": int(m.group(3), 16), "cmd": m.group(4)})
    return starts


def wait_for_record(path, pattern, timeout=10, count=1):
    """Wait until `count` record lines match pattern (plain text or
    compiled regex); returns the matching lines."""
    rx = _matcher(pattern)

    def found():
        hits = [l for l in read_record(path) if rx.search(l)]
        return hits if len(hits) >= count else None

    return wait_until(found, timeout, "record %r in %s" % (rx.pattern, path),
                      lambda: "record:\n" + "\n".join(read_record(path)))


# -- Service Control Manager and processes through scmtool ---------------

class Scm:
    """scmtool.exe wrappers. Services created or tracked here are stopped
    and deleted by cleanup()."""

    def __init__(self, wine, timeout=DEFAULT_TIMEOUT):
        self.wine = wine
        self.timeout = timeout
        self.services = []
        self.records = []

    def tool(self, *args, timeout=None):
        """Run scmtool; returns (rc, stdout stripped)."""
        rc, out = self.wine.run(self.wine.bin("scmtool.exe"), list(args),
                                timeout=timeout or self.timeout)
        return rc, out.strip()

    def _ok(self, *args, timeout=None):
        rc, out = self.tool(*args, timeout=timeout)
        if rc != 0:
            raise HarnessError("scmtool %s failed: %s" % (" ".join(map(str, args)), out))
        return out

    @staticmethod
    def _error(out):
        m = re.search(r"error=(-?\d+)", out)
        return int(m.group(1)) if m else None

    # services
    # Counted per process, not per Scm: each test has its own Scm, and the
    # service of the test before may still be marked for deletion.
    _names_made = itertools.count(1)

    def unique_name(self, base="QLTest"):
        name = "%s%d_%d" % (base, os.getpid(), next(Scm._names_made))
        self.track(name)
        return name

    def track(self, name):
        if name not in self.services:
            self.services.append(name)
        return name

    def create(self, name, path, type_=OWN_PROCESS):
        self.track(name)
        rc, out = self.tool("create", name, path, "%x" % type_)
        return rc == 0, self._error(out)

    def delete(self, name):
        rc, out = self.tool("delete", name)
        return rc == 0, self._error(out)

    def start(self, name, timeout=None):
        rc, out = self.tool("start", name, timeout=timeout)
        return rc == 0, self._error(out)

    def control(self, name, code):
        """(True, state) or (False, error code)."""
        rc, out = self.tool("control", name, code)
        if rc == 0:
            return True, int(re.search(r"state=(\d+)", out).group(1))
        return False, self._error(out)

    def query(self, name):
        """dict state/type/accepted/exit/specific, or None if it cannot be
        queried (error in .last_error)."""
        rc, out = self.tool("query", name)
        self.last_error = self._error(out) if rc else None
        if rc != 0:
            return None
        m = re.match(r"state=(\d+) type=0x([0-9a-f]+) accepted=0x([0-9a-f]+) "
                     r"exit=(-?\d+) specific=(-?\d+)", out)
        return {"state": int(m.group(1)), "type": int(m.group(2), 16),
                "accepted": int(m.group(3), 16), "exit": int(m.group(4)),
                "specific": int(m.group(5))}

    def config(self, name):
        out = self._ok("config", name)
        cfg = {}
        for line in out.splitlines():
            k, _, v = line.partition("=")
            cfg[k] = v
        for k in ("start", "error"):
            cfg[k] = int(cfg[k])
        cfg["type"] = int(cfg["type"], 16)
        return cfg

    def wait(self, name, state, timeout_ms=10000):
        """Milliseconds until the state was seen; raises on time-out."""
        rc, out = self.tool("wait", name, state, timeout_ms,
                            timeout=timeout_ms / 1000.0 + self.timeout)
        if rc != 0:
            raise HarnessError("service %s not in state %s within %s ms: %s"
                               % (name, state, timeout_ms, out))
        return int(re.search(r"after_ms=(\d+)", out).group(1))

    def exists(self, name):
        return self._ok("exists", name) == "yes"

    # processes
    def priority(self, pid):
        return int(self._ok("priority", pid), 16)

    def kill(self, pid):
        rc, _ = self.tool("kill", pid)
        return rc == 0

    def alive(self, pid):
        return self._ok("alive", pid) == "yes"

    def quit(self, pid):
        """Post WM_QUIT to the process's first thread; True if posted."""
        rc, _ = self.tool("quit", pid)
        return rc == 0

    def image(self, pid):
        rc, out = self.tool("image", pid)
        return out if rc == 0 else None

    def mem(self, pid):
        out = self._ok("mem", pid)
        return {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", out)}

    def visible(self, pid, desktop=None):
        """True/False for the main window's WS_VISIBLE, None without one."""
        args = ["visible", pid] + ([desktop] if desktop else [])
        out = self._ok(*args)
        if out == "nowindow":
            return None
        return out == "visible=1"

    def probe(self, pid, desktop=None):
        """(True, None) if the main window answered WM_NULL within 1 s,
        (False, error) otherwise; error None when there is no window."""
        args = ["probe", pid] + ([desktop] if desktop else [])
        rc, out = self.tool(*args)
        return rc == 0, self._error(out)

    # safety net
    def track_record(self, path):
        """qtprog processes named in this record are killed by cleanup()."""
        if path not in self.records:
            self.records.append(path)
        return path

    def cleanup(self):
        problems = []
        for name in reversed(self.services):
            try:
                if not self.exists(name):
                    continue
                st = self.query(name)
                if st and st["state"] != STOPPED:
                    if st["state"] == PAUSED:
                        self.control(name, 3)
                    self.control(name, 1)
                    try:
                        self.wait(name, STOPPED, 20000)
                    except HarnessError as e:
                        problems.append(str(e))
                ok, err = self.delete(name)
                if not ok and err not in (1060, 1072):  # gone, or marked for deletion
                    problems.append("delete %s: error %s" % (name, err))
            except HarnessError as e:
                problems.append(str(e))
        self.services = []
        for path in self.records:
            for s in record_starts(path):
                try:
                    # Ids are reused quickly under Wine: only end our own.
                    img = self.image(s["pid"])
                    if img and img.lower().endswith("qtprog.exe") and self.alive(s["pid"]):
                        self.kill(s["pid"])
                except HarnessError as e:
                    problems.append(str(e))
        self.records = []
        return problems


# -- prefix and display ----------------------------------------------------

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
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            cmd = f.read().split(b"\0")[0].decode("latin-1", "replace")
    except OSError:
        return
    if expect_name not in os.path.basename(cmd):
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
