"""What the reliability tests share: the control codes they send, the log
lines the service may write, and a test case that builds a service of its
own from program sections."""

import re
import time

import harness

# Control codes as the console sends them: the operation, then 128 + n.
OP_START, OP_STOP = 128, 129
OP_NORMAL = 135
PROCESS_BASE = 128
STOP, PAUSE, CONTINUE, INTERROGATE = 1, 2, 3, 4

# Every line the service (or a console command beside it) writes in these
# tests, once the stamp is stripped. A line cut short or glued to another
# matches none of them.
KNOWN_LINES = [re.compile(p) for p in (
    r"^$",
    r"^   \w+ = .*$",
    r"^\[Process_\d+\]$",
    r"^Loading process values from ini file \.\.\.$",
    r"^Load completed\.$",
    r"^The service is now running the main thread\.$",
    r"^Attempting to start processes \.\.\.$",
    r"^Started program (?P<app>.+)$",
    r"^(Stopped|Terminated) process (?P<app>.+)$",
    # A child that is exiting by itself as the stop posts its quit message.
    r"^Stop failed: (?P<app>.+)$",
    r"^Process \(\d+\): Attempting to restart program: (?P<app>.+)$",
    r"^Process \(\d+\): Program is not responding: (?P<app>.+)$",
    r"^The program could not be restarted at this time\.$",
    r"^The service has been (paused|resumed)\.$",
    r"^Attempting to [a-z ]+ \.\.\. $",
    r"^The process could not be (started|stopped)\.$",
    r"^Error \( -?\d+ \): Failed to start program (?P<app>.+)$",
)]


def check_whole_lines(testcase, d, apps):
    """Every log line is stamped, is one of the known messages, and names
    only programs that exist in this configuration."""
    raw = harness.read_log(d)  # raises on a line not ended by CR LF
    for i, line in enumerate(raw):
        testcase.assertRegex(line, harness.STAMP_RE, "line %d has no stamp" % (i + 1))
        text = harness.strip_stamp(line)
        m = next((rx.match(text) for rx in KNOWN_LINES if rx.match(text)), None)
        testcase.assertIsNotNone(m, "line %d is not a whole message: %r" % (i + 1, line))
        if "app" in m.groupdict() and m.group("app") is not None:
            testcase.assertIn(m.group("app"), apps, "line %d: %r" % (i + 1, line))
    return raw


def count_lines(lines, text, start=0):
    return sum(1 for l in lines[start:] if l == text)


class ReliabilityCase(harness.E2ETestCase):
    """A service of our own per test, built from program sections."""

    # Scm's own counter starts afresh in every test, and a deleted service
    # may linger marked for deletion: each test takes a new base name.
    services_made = 0

    def prog_copy(self, d, name):
        """A copy of qtprog under its own name, so log lines can tell the
        programs apart."""
        src = d.path("qtprog.exe")
        dst = d.path(name + ".exe")
        with open(src, "rb") as f, open(dst, "wb") as g:
            g.write(f.read())
        return d.winpath(name + ".exe")

    def start_service(self, d, sections, restart_interval=1000, settings=()):
        """settings: further "Key=value" lines for [Settings]."""
        ReliabilityCase.services_made += 1
        name = self.scm.unique_name("QLRel%d_" % ReliabilityCase.services_made)
        text = ["[Settings]", "ServiceName=" + name, "UserInterface=yes",
                "RestartInterval=%d" % restart_interval] + list(settings)
        for i, keys in enumerate(sections):
            text.append("[Process_%d]" % i)
            text += ["%s=%s" % kv for kv in keys.items()]
        self.ini_text = "\n".join(text) + "\n"
        harness.write_ini(d, self.ini_text)
        ok, err = self.scm.create(name, d.winpath(harness.PROGRAM_EXE),
                                  harness.INTERACTIVE_OWN_PROCESS)
        self.assertTrue(ok, "create: error %s" % err)
        ok, err = self.scm.start(name)
        self.assertTrue(ok, "start: error %s" % err)
        self.scm.wait(name, harness.RUNNING, 30000)
        return name

    def record(self, d, name):
        self.scm.track_record(d.path(name + ".rec"))
        return d.winpath(name + ".rec")

    def console(self, d, *args, timeout=45):
        return self.wine.run(d.exe, list(args), cwd=d.unix, timeout=timeout)

    def send(self, name, operation, n):
        """One per-process command as its two control codes."""
        ok, _ = self.scm.control(name, operation)
        ok2, _ = self.scm.control(name, PROCESS_BASE + n)
        return ok and ok2

    def stop_service(self, name, bound_s):
        """Stops the service; returns seconds until it was seen stopped."""
        t0 = time.monotonic()
        ok, state = self.scm.control(name, STOP)
        self.scm.wait(name, harness.STOPPED, int(bound_s * 1000))
        return time.monotonic() - t0

    def log(self, d):
        return harness.read_log(d, strip=True)

    def ctx(self, d):
        return lambda: harness.log_tail(d)

    def alive_starts(self, rec_unix):
        return [s["pid"] for s in harness.record_starts(rec_unix) if self.scm.alive(s["pid"])]
