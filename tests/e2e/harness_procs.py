"""Linux processes of a Wine prefix seen through /proc, Windows processes
through wmic, and a file followed as it grows. Shared by the end-to-end
harness, the benchmark, the soak runs and the demonstration."""

import os
import re


def cmdline(pid):
    """Arguments of a live process ([] once it is gone)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            data = f.read()
    except OSError:
        return []
    return [a.decode("latin-1") for a in data.split(b"\0")[:-1]]


def prefix_processes(prefix=None):
    """{linux pid: arguments} of the processes whose environment names this
    WINEPREFIX (of every process without a prefix)."""
    want = ("WINEPREFIX=" + prefix).encode() if prefix else None
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        pid = int(entry)
        if want:
            try:
                with open("/proc/%d/environ" % pid, "rb") as f:
                    if want not in f.read().split(b"\0"):
                        continue
            except OSError:
                continue
        args = cmdline(pid)
        if args:
            found[pid] = args
    return found


def proc_stat(pid):
    """Fields of /proc/PID/stat from the state on (field 3 is [0])."""
    with open("/proc/%d/stat" % pid) as f:
        data = f.read()
    return data[data.rindex(")") + 2:].split()


def proc_alive(pid):
    try:
        return proc_stat(pid)[0] not in ("Z", "X")
    except (OSError, ValueError):
        return False


def cpu_ticks(pid):
    f = proc_stat(pid)
    return int(f[11]) + int(f[12])  # utime + stime, all threads


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return None


def windows_processes(wine):
    """(image name in lower case, Windows pid) of every running process,
    from Wine's wmic (its tasklist lists nothing)."""
    _, out = wine.run("wmic", ["process", "get", "name,processid"], timeout=60)
    found = []
    # UTF-16 read as single bytes: the NULs go, the ASCII stays.
    for line in out.replace("\0", "").splitlines():
        m = re.match(r"^\W*(\S+)\s+(\d+)\s*$", line)
        if m:
            found.append((m.group(1).lower(), int(m.group(2))))
    return found


class FileTail:
    """Complete lines appended to a file since the last poll, without their
    line ends; a line still being written waits for the next poll."""

    def __init__(self, path, skip_existing=False):
        self.path = path
        self.offset = os.path.getsize(path) if skip_existing and os.path.exists(path) else 0

    def poll(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return []
        end = data.rfind(b"\n")
        if end < 0:
            return []
        self.offset += end + 1
        return [p.decode("latin-1").rstrip("\r") for p in data[:end].split(b"\n")]
