"""Watching the service from outside: files polled together, each line with
the time it was first seen, and the processes of our own Wine prefix."""

import re
import time

import harness as h
from harness_procs import FileTail, prefix_processes, proc_alive, windows_processes

POLL = 0.01


class BenchError(Exception):
    pass


WATCHED = []  # every live Tail, polled together so that no line's time is late


class Tail:
    """Complete lines appended to a file, each with the time it was first
    seen. Log lines lose their stamp."""

    def __init__(self, path, skip_existing=True):
        WATCHED.append(self)
        self.file = FileTail(path, skip_existing)
        self.lines = []  # (seen, text)

    def poll(self):
        new = self.file.poll()
        now = time.monotonic()
        self.lines += [(now, h.strip_stamp(text)) for text in new]

    def find(self, pattern, start=0):
        """(index, seen, text) of the first line from start matching, or None."""
        rx = re.compile(pattern)
        for i in range(start, len(self.lines)):
            if rx.search(self.lines[i][1]):
                return i, self.lines[i][0], self.lines[i][1]
        return None


def wait_for(what, cond, timeout):
    """Poll every watched file and cond() every POLL s until cond() is truthy."""
    deadline = time.monotonic() + timeout
    while True:
        for t in WATCHED:
            t.poll()
        v = cond()
        if v:
            return v
        if time.monotonic() > deadline:
            raise BenchError("timed out after %ss waiting for %s" % (timeout, what))
        time.sleep(POLL)


def wait_line(tail, pattern, start, timeout, what=None):
    return wait_for(what or pattern, lambda: tail.find(pattern, start), timeout)


def pass_times(tail, passes, first_timeout, timeout):
    """The moments of passes + 1 "Process (0): Attempting to restart" lines
    after a first one (the warm-up), each the start of a pass, and the time
    the launch in each took (to its "Started program" line)."""
    rx_try = r"^Process \(0\): Attempting to restart program: "
    i, _, _ = wait_line(tail, rx_try, 0, first_timeout)
    attempts, launches = [], []
    while len(attempts) < passes + 1:
        i, t_try, _ = wait_line(tail, rx_try, i + 1, timeout)
        _, t_started, _ = wait_line(tail, r"^Started program ", i + 1, timeout)
        attempts.append(t_try)
        launches.append(t_started - t_try)
    return attempts, launches


def own_wine_processes(prefix):
    """{linux pid: command line} of the processes running in our own prefix."""
    return {pid: " ".join(args) for pid, args in prefix_processes(prefix).items()}


def find_linux_pid(prefix, *needles):
    """The one live process of our prefix whose command line holds every needle."""
    hits = [p for p, c in own_wine_processes(prefix).items()
            if all(n.lower() in c.lower() for n in needles) and proc_alive(p)]
    if len(hits) != 1:
        raise BenchError("expected one process with %s, found %s" % (needles, hits))
    return hits[0]


def windows_pids(wine, image):
    return [pid for name, pid in windows_processes(wine) if name == image.lower()]

