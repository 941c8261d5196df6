"""Wine's Service Control Manager and the processes under it, driven
through scmtool.exe, and the lock that keeps a starting service's dispatcher
pipe to itself."""

import contextlib
import fcntl
import itertools
import os
import re
import time

from harness_log import record_starts
from harness_wine import DEFAULT_TIMEOUT, HarnessError

# Service states and types
STOPPED, START_PENDING, STOP_PENDING, RUNNING = 1, 2, 3, 4
CONTINUE_PENDING, PAUSE_PENDING, PAUSED = 5, 6, 7
OWN_PROCESS, INTERACTIVE_OWN_PROCESS = 0x10, 0x110


@contextlib.contextmanager
def dispatcher_lock(wine, timeout=120):
    """Held from a service start until the service runs, and around a console
    run of the product without arguments. Wine's service manager names the
    pipe for the process it is starting after a counter in the registry, and
    any program that calls StartServiceCtrlDispatcher meanwhile (a console
    run of the product, say) connects to that pipe in place of the service."""
    with open(os.path.join(wine.prefix, "ql-dispatcher.lock"), "a") as f:
        deadline = time.monotonic() + timeout
        while True:
            try:
                fcntl.flock(f, fcntl.LOCK_EX | fcntl.LOCK_NB)
                break
            except BlockingIOError:
                if time.monotonic() >= deadline:
                    raise HarnessError("dispatcher lock not free within %ss" % timeout)
                time.sleep(0.1)
        try:
            yield
        finally:
            fcntl.flock(f, fcntl.LOCK_UN)


class Scm:
    """scmtool.exe wrappers. Services created or tracked here are stopped
    and deleted by cleanup()."""

    def __init__(self, wine, timeout=DEFAULT_TIMEOUT):
        self.wine = wine
        self.timeout = timeout
        self.services = []
        self.records = []

    def tool(self, *args, timeout=None):
        """(rc, stdout stripped); scmtool always prints: silence is Wine's failed start."""
        for _ in range(2):
            rc, out = self.wine.run(self.wine.bin("scmtool.exe"), list(args),
                                    timeout=timeout or self.timeout)
            if rc == 0 or out.strip():
                break
        return rc, out.strip() or self.wine.last_stderr.strip()[-300:]

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
