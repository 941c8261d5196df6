"""The Windows programs of the end-to-end tests, run under Wine in one
prefix plus X display (see harness_prefix for how that is booted)."""

import os
import re
import shutil
import subprocess
import tempfile
import time

DEFAULT_TIMEOUT = 60


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


def decode(data):
    return data.decode("latin-1").replace("\r\n", "\n")


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
        self.last_stderr = decode(err)
        rc = proc.returncode
        if exact_rc:
            m = re.search(r"ql-exit=(-?\d+)", self.last_stderr)
            if not m:
                raise HarnessError("no exit code from scmtool exec: %s" % self.last_stderr)
            rc = int(m.group(1))
        elif rc >= 128:
            rc -= 256
        return rc, decode(out)

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

