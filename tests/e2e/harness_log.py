"""The files the tests read and write in an install folder: the
configuration, the product's log and qtprog's record files, with bounded
waits for lines to appear in them. A folder is a path or anything with
__fspath__ (an InstallDir)."""

import os
import re
import time

from harness_wine import HarnessError, decode

INI_NAME = "QuarnLoader.ini"
LOG_NAME = "QuarnLoader.log"
STAMP_RE = re.compile(r"^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d \d\d:\d\d:\d\d \d{4} :: ")
TIMEOUT = 30  # the supervision waits, generous for a loaded machine


# -- configuration ------------------------------------------------------------

def write_ini(d, text, name=INI_NAME):
    """Write the configuration file with CR LF line ends (single-byte text)."""
    body = text.replace("\r\n", "\n").replace("\n", "\r\n")
    path = os.path.join(os.fspath(d), name)
    with open(path, "wb") as f:
        f.write(body.encode("latin-1"))
    return path


def section(n, AppName, **keys):
    """A [Process_n] section, keys in the order given. AppName is named
    as its key so that a dict of keys can be passed whole."""
    lines = ["[Process_%d]" % n, "AppName=" + AppName] + ["%s=%s" % kv for kv in keys.items()]
    return "\n".join(lines) + "\n"


# -- the log ------------------------------------------------------------------

def strip_stamp(line):
    return STAMP_RE.sub("", line, count=1)


def read_log(d, strip=False, check_crlf=True, name=LOG_NAME):
    """Lines of the log (without line ends). Raises if a complete line does
    not end in CR LF; a last line still being written is re-read once."""
    path = os.path.join(os.fspath(d), name)
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


def log_lines(d, start=0):
    """Log lines from index `start` on, without their stamps."""
    return read_log(d, strip=True)[start:]


def wait_in_order(d, expected, start=0, timeout=TIMEOUT):
    """Wait until the log from `start` holds the expected lines in this order
    (other lines may come between); returns their indexes in the whole log."""
    deadline = time.monotonic() + timeout
    while True:
        lines = read_log(d, strip=True)
        found, pos = [], start
        for want in expected:
            try:
                pos = lines.index(want, pos)
            except ValueError:
                break
            found.append(pos)
            pos += 1
        if len(found) == len(expected):
            return found
        if time.monotonic() >= deadline:
            raise HarnessError("log lines %r not seen in order within %ss; log:\n%s"
                               % (expected, timeout, "\n".join(lines[start:][-40:])))
        time.sleep(0.1)


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
            return decode(f.read()).splitlines()
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
