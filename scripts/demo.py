"""The demonstration run by scripts/demo.sh: the service under Wine, in a
private prefix and X display, supervising three programs while an
administrator's console commands and the service's log are shown.

  python3 scripts/demo.py --bin-dir DIR --wine LOADER --work DIR --out DIR

DIR of --bin-dir holds QuarnLoader.exe, qtprog.exe and scmtool.exe. Every
wait is bounded; the exit status is non-zero when an expected log line (or
another expected effect) did not appear in time. The prefix and the display
are ended and removed on every way out.
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
import traceback

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402
from harness_procs import FileTail, prefix_processes, windows_processes  # noqa: E402

SERVICE_NAME = "(Quarn) Server Loader"
DEMO_DIR = "C:\\QuarnDemo"
NOTEPAD = "C:\\windows\\notepad.exe"
PING = "C:\\windows\\system32\\ping.exe"
HANGER = DEMO_DIR + "\\qtprog.exe"
RECORD = DEMO_DIR + "\\hanger.txt"

INI = """[Settings]
ServiceName={service}
UserInterface=yes
RestartInterval=1000

[Process_0]
AppName={notepad}
ProcessName=notepad
StartPause=2000
StopPause=1000

[Process_1]
AppName={ping}
ProcessName=ping
CommandLine=-n 100000 127.0.0.1
StartPause=500
StopPause=500

[Process_2]
AppName={hanger}
ProcessName=hanger
CommandLine=--hang-after 8000 --record {record}
StartPause=3000
StopPause=1000
NumOfRespChecks=2
""".format(service=SERVICE_NAME, notepad=NOTEPAD, ping=PING, hanger=HANGER, record=RECORD)


class DemoFailure(Exception):
    pass


_print_lock = threading.Lock()


def say(text=""):
    with _print_lock:
        print(text, flush=True)


_step = [0]
_t0 = time.monotonic()


def headline(text):
    _step[0] += 1
    say()
    say("=== Step %d (at %.0f s): %s" % (_step[0], time.monotonic() - _t0, text))


class LogFollower:
    """Prints each new line of QuarnLoader.log as "log| ..." as soon as it is
    complete, and keeps them for the waits."""

    STAMP = re.compile(r"^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\d (\d\d:\d\d:\d\d) \d{4} :: ")

    def __init__(self, path):
        self.lines = []
        self._file = FileTail(path)
        self._cond = threading.Condition()
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def start(self):
        self._thread.start()

    def stop(self):
        self._stop.set()
        self._thread.join(timeout=5)
        self._poll()

    def _poll(self):
        new = self._file.poll()
        if not new:
            return
        with self._cond:
            for line in new:
                m = self.STAMP.match(line)
                shown = (m.group(1) + " " + line[m.end():]) if m else line
                say("    log| " + shown)
                self.lines.append(harness.strip_stamp(line))
            self._cond.notify_all()

    def _run(self):
        while not self._stop.is_set():
            self._poll()
            self._stop.wait(0.1)

    def mark(self):
        with self._cond:
            return len(self.lines)

    def wait(self, pattern, start, timeout, what=None):
        """Index of the first line at or after `start` matching pattern (text
        or compiled regex) within timeout seconds."""
        if not hasattr(pattern, "search"):
            what = what or pattern
            pattern = re.compile(re.escape(pattern))
        rx = pattern
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for i in range(start, len(self.lines)):
                    if rx.search(self.lines[i]):
                        return i
                left = deadline - time.monotonic()
                if left <= 0:
                    raise DemoFailure("the log line %r did not appear within %s s"
                                      % (what or rx.pattern, timeout))
                self._cond.wait(min(left, 0.5))

    def seen(self, pattern, start):
        rx = pattern if hasattr(pattern, "search") else re.compile(re.escape(pattern))
        with self._cond:
            return any(rx.search(l) for l in self.lines[start:])


class Demo:
    def __init__(self, args):
        self.args = args
        self.state = os.path.join(args.work, "state")
        self.wine = None
        self.log = None
        self.unix_dir = None

    # -- console ------------------------------------------------------------
    def console(self, *words, expect_rc=0, timeout=60):
        """Run QuarnLoader from C:\\QuarnDemo as an administrator would."""
        say("  %s> QuarnLoader %s" % (DEMO_DIR, " ".join(words)))
        rc, out = self.wine.run(DEMO_DIR + "\\QuarnLoader.exe", list(words), cwd=self.unix_dir,
                                timeout=timeout)
        for line in out.rstrip("\n").split("\n"):
            if line.strip() and not line.startswith("###"):
                say("      " + line)
        if expect_rc is not None and rc != expect_rc:
            raise DemoFailure("QuarnLoader %s ended with %d" % (" ".join(words), rc))
        return rc

    def tool(self, exe, args, timeout=30, show=True):
        if show:
            say("  %s> %s %s" % (DEMO_DIR, exe, " ".join(args)))
        try:
            return self.wine.run(exe, args, cwd=self.unix_dir, timeout=timeout)
        except harness.HarnessError as e:
            raise DemoFailure(str(e))

    def pids(self, image):
        return [pid for name, pid in windows_processes(self.wine) if name == image.lower()]

    def one_pid(self, image, timeout=20):
        deadline = time.monotonic() + timeout
        while True:
            found = self.pids(image)
            if len(found) == 1:
                return found[0]
            if time.monotonic() >= deadline:
                raise DemoFailure("expected one %s, found %r" % (image, found))
            time.sleep(0.5)

    def visible(self, pid):
        rc, out = self.tool(self.wine.bin("scmtool.exe"), ["visible", pid], show=False)
        return out.strip()

    # -- steps --------------------------------------------------------------
    def prepare(self):
        headline("a private Wine prefix and X display")
        self.wine = harness.setup(self.state, loader=self.args.wine, bin_dir=self.args.bin_dir)
        st = harness.read_state(self.state)
        say("  prefix  %s" % self.wine.prefix)
        say("  display %s (Xvfb pid %s)" % (self.wine.display, st["XVFB_PID"]))
        say("  loader  %s" % self.wine.loader)
        # Without a window manager on the display, windows have no frames or
        # titles; Wine's own desktop window draws them.
        # Notepad and the two console windows are placed apart so that the
        # picture shows each of them.
        settings = [(r"HKCU\Software\Wine\Explorer", "Desktop", "REG_SZ", "Default"),
                    (r"HKCU\Software\Wine\Explorer\Desktops", "Default", "REG_SZ", "1024x768")]
        for value, data in (("iWindowPosX", 400), ("iWindowPosY", 300),
                            ("iWindowPosDX", 600), ("iWindowPosDY", 420)):
            settings.append((r"HKCU\Software\Microsoft\Notepad", value, "REG_DWORD", str(data)))
        for exe in (PING, HANGER):
            key = "HKCU\\Console\\" + exe.replace("\\", "_")
            for value in ("WindowSize", "ScreenBufferSize"):
                settings.append((key, value, "REG_DWORD", str((8 << 16) | 60)))
        for key, value, kind, data in settings:
            rc, _ = self.wine.run("reg", ["add", key, "/v", value, "/t", kind, "/d", data, "/f"])
            if rc != 0:
                raise DemoFailure("reg add %s /v %s failed" % (key, value))
        # The desktop of the booted session is already up: begin a new one.
        self.wine.wineserver_kill()
        say("  windows appear in a 1024x768 Wine desktop, with frames and titles")

        headline("writing %s\\ with the product and its QuarnLoader.ini" % DEMO_DIR)
        self.unix_dir = self.wine.to_unix(DEMO_DIR)
        os.makedirs(self.unix_dir, exist_ok=True)
        for prog in ("QuarnLoader.exe", "qtprog.exe"):
            shutil.copy2(self.wine.bin(prog), os.path.join(self.unix_dir, prog))
        harness.write_ini(self.unix_dir, INI)
        say("  %s\\QuarnLoader.ini:" % DEMO_DIR)
        for line in INI.rstrip("\n").split("\n"):
            say("    | " + line)
        say("  notepad: a stock program with a window; ping: a console program;")
        say("  qtprog (\"hanger\"): our test program, its window stops answering after 8 s.")
        say("  A window is looked up once, StartPause ms after the start: generous values")
        say("  keep a busy machine from starting a program slower than that.")
        self.log = LogFollower(os.path.join(self.unix_dir, harness.LOG_NAME))
        self.log.start()

    def install_and_start(self):
        headline("installing the service")
        m = self.log.mark()
        self.console("-install")
        self.log.wait("The service %s was successfully installed." % SERVICE_NAME, m, 20)

        headline("starting the service: it starts the three programs")
        m = self.log.mark()
        self.start_mark = m
        self.console("-start")
        self.log.wait("The service was successfully started.", m, 30)
        for app in (NOTEPAD, PING, HANGER):
            self.log.wait("Started program " + app, m, 30)

    def screenshot(self):
        headline("a picture of the desktop with the supervised windows")
        os.makedirs(self.args.out, exist_ok=True)
        path = os.path.join(self.args.out, "demo-desktop.png")
        if os.path.exists(path):
            os.remove(path)
        time.sleep(2)  # let the windows paint and ping print a few lines
        say("  $ import -window root -display %s %s" % (self.wine.display, path))
        try:
            subprocess.run(["import", "-window", "root", "-display", self.wine.display, path],
                           stdin=subprocess.DEVNULL, timeout=30, check=True)
        except (subprocess.SubprocessError, OSError) as e:
            raise DemoFailure("the screenshot failed: %s" % e)
        with open(path, "rb") as f:
            head = f.read(8)
        size = os.path.getsize(path)
        if head != b"\x89PNG\r\n\x1a\n" or size == 0:
            raise DemoFailure("%s is not a PNG picture" % path)
        say("  saved %s (%d bytes)" % (path, size))
        say("  Notepad sits at the right; the black windows at the top left are the consoles")
        say("  Wine opens for the two console programs, ping and qtprog (qtprog's own small")
        say("  window lies beneath its console).")

    def kill_from_outside(self):
        headline("a program killed from outside is restarted")
        pid = self.one_pid("ping.exe")
        say("  ping.exe runs as process %d (wmic process get name,processid)" % pid)
        m = self.log.mark()
        rc, out = self.tool("taskkill", ["/F", "/PID", str(pid)])
        say("      " + out.strip())
        if rc != 0:
            raise DemoFailure("taskkill ended with %d" % rc)
        i = self.log.wait("Process (1): Attempting to restart program: " + PING, m, 20)
        self.log.wait("Started program " + PING, i, 20)
        say("  ping.exe runs again, as process %d" % self.one_pid("ping.exe"))

    def hung_program(self):
        headline("the hung program is found not responding, stopped and restarted")
        say("  (qtprog stops answering its window 8 s after it starts; the service probes")
        say("   its window every pass and acts after NumOfRespChecks=2 failed probes)")
        m = self.start_mark
        i = self.log.wait("Process (2): Program is not responding: " + HANGER, m, 45)
        i = self.log.wait(re.compile(r"^(Stopped|Terminated) process " + re.escape(HANGER) + "$"),
                          i, 20, "Terminated process " + HANGER)
        i = self.log.wait("Process (2): Attempting to restart program: " + HANGER, i, 20)
        self.log.wait("Started program " + HANGER, i, 20)
        starts = harness.record_starts(self.wine.to_unix(RECORD))
        hung = "hang" in harness.read_record(self.wine.to_unix(RECORD))
        if len(starts) < 2 or not hung:
            raise DemoFailure("qtprog's record shows no hang and restart: %r"
                              % harness.read_record(self.wine.to_unix(RECORD)))
        say("  qtprog's own record: process %d hung, process %d started after it"
            % (starts[0]["pid"], starts[-1]["pid"]))

    def per_process(self):
        headline("per-program commands, by ProcessName")
        notepad = self.one_pid("notepad.exe")
        for verb, state, done in (("hide", "visible=0", "hidden"),
                                  ("show", "visible=1", "shown again")):
            m = self.log.mark()
            self.console("-" + verb, "notepad")
            self.log.wait("Attempting to %s process notepad ..." % verb, m, 20)
            harness.wait_until(lambda: self.visible(notepad) == state, 15,
                               "notepad's window to be " + done.split()[0])
            say("  notepad's window is " + done)
        m = self.log.mark()
        self.console("-low", "ping")
        i = self.log.wait("Attempting to set priority to low on process ping ...", m, 20)
        self.log.wait("The process priority was set.", i, 20)

    def pause_resume(self):
        headline("pausing the service: nothing is restarted until it resumes")
        m = self.log.mark()
        self.console("-pause")
        self.log.wait("The service has been paused.", m, 20)
        pid = self.one_pid("ping.exe")
        say("  killing ping.exe (process %d) while the service is paused" % pid)
        rc, out = self.tool("taskkill", ["/F", "/PID", str(pid)])
        say("      " + out.strip())
        restart = "Process (1): Attempting to restart program: " + PING
        killed = self.log.mark()
        time.sleep(4)
        if self.log.seen(restart, killed):
            raise DemoFailure("ping was restarted while the service was paused")
        say("  4 s later ping.exe is still not running: %r" % (self.pids("ping.exe"),))
        m = self.log.mark()
        self.console("-resume")
        i = self.log.wait("The service has been resumed.", m, 20)
        i = self.log.wait(restart, i, 20)
        self.log.wait("Started program " + PING, i, 20)

    def status_pids(self):
        """{number: process id} from the service's status file."""
        with open(os.path.join(self.unix_dir, "QuarnLoader.status"), "rb") as f:
            lines = [line.split("\t") for line in f.read().decode("latin-1").split("\r\n")]
        return {f[1]: f[4] for f in lines if f[0] == "Program"}

    def reload(self):
        headline("adding a program to QuarnLoader.ini and applying it with -reload")
        harness.wait_until(lambda: "-" not in self.status_pids().values(), 20,
                           "every program running in the status file")
        self.console("-status")
        before = self.status_pids()
        added = ("\n[Process_3]\nAppName=%s\nProcessName=ping2\n"
                 "CommandLine=-n 100000 localhost\nStartPause=500\nStopPause=500\n" % PING)
        harness.write_ini(self.unix_dir, INI + added)
        say("  appended to %s\\QuarnLoader.ini:" % DEMO_DIR)
        for line in added.strip("\n").split("\n"):
            say("    | " + line)
        m = self.log.mark()
        self.console("-reload")
        i = self.log.wait("Process (3): Added: " + PING, m, 20)
        self.log.wait("Started program " + PING, i, 20)
        self.console("-status")
        after = self.status_pids()
        kept = [n for n in ("0", "1") if after.get(n) == before.get(n) != "-"]
        if kept != ["0", "1"]:
            raise DemoFailure("notepad and ping did not keep their processes: %r, %r"
                              % (before, after))
        say("  notepad (process %s) and ping (process %s) kept their process ids; the added"
            % (after["0"], after["1"]))
        say("  program runs as process %s. (The hanger is restarted whenever it hangs.)"
            % after.get("3"))

    def stop_and_remove(self):
        headline("stopping the service: it stops its programs")
        m = self.log.mark()
        self.console("-stop", timeout=90)
        for app in (NOTEPAD, PING, HANGER):
            self.log.wait(re.compile(r"^(Stopped|Terminated) process " + re.escape(app) + "$"),
                          m, 30, "Stopped process " + app)
        self.log.wait("The service was successfully stopped.", m, 30)
        running = {name for name, _ in windows_processes(self.wine)}
        left = [p for p in ("notepad.exe", "ping.exe", "qtprog.exe") if p in running]
        if left:
            raise DemoFailure("still running after the stop: %s" % ", ".join(left))
        say("  none of the three programs is running any more")

        headline("removing the service")
        m = self.log.mark()
        self.console("-remove")
        self.log.wait("The service %s was successfully removed." % SERVICE_NAME, m, 20)

    def show_record(self):
        if self.wine:
            lines = harness.read_record(self.wine.to_unix(RECORD))
            if lines:
                say("  qtprog's record (%s):" % RECORD)
                for line in lines:
                    say("    | " + line)

    # -- the end --------------------------------------------------------------
    def cleanup(self):
        if self.log:
            self.log.stop()
        prefix = os.path.join(self.state, "prefix")
        harness.cleanup(self.state)
        # Whatever still runs with our prefix in its environment is ours.
        return [str(pid) for pid in prefix_processes(prefix) if pid != os.getpid()]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bin-dir", required=True)
    ap.add_argument("--wine", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    signal.signal(signal.SIGHUP, lambda *_: sys.exit(129))

    demo = Demo(args)
    t0 = time.monotonic()
    status = 0
    try:
        demo.prepare()
        demo.install_and_start()
        demo.screenshot()
        demo.kill_from_outside()
        demo.hung_program()
        demo.per_process()
        demo.pause_resume()
        demo.reload()
        demo.stop_and_remove()
    except (DemoFailure, harness.HarnessError) as e:
        say()
        say("!!! demonstration failed: %s" % e)
        demo.show_record()
        status = 1
    except KeyboardInterrupt:
        say()
        say("!!! interrupted")
        status = 130
    except Exception:  # anything unforeseen still ends what we started
        say()
        say("!!! demonstration failed:\n" + traceback.format_exc())
        status = 1
    finally:
        headline("ending every process the demonstration started")
        left = demo.cleanup()
        if left:
            say("!!! still running with the demonstration's prefix: pids %s" % " ".join(left))
            status = status or 1
        else:
            say("  wineserver -k on the prefix, Xvfb ended; nothing of ours is running")
    say()
    if status == 0:
        say("=== Demonstration complete in %.0f s. Desktop picture: %s"
            % (time.monotonic() - t0, os.path.join(args.out, "demo-desktop.png")))
    return status


if __name__ == "__main__":
    sys.exit(main())
