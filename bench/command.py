"""A killed program's restart latency while "-start 0" of a slow starter
(StartPause 60000, paused so that only the command starts it) is under way,
against the same kill with no command."""

import statistics
import time

import harness as h
from harness_procs import proc_alive
from watch import Tail, find_linux_pid, wait_for, wait_line

INTERVAL_MS, SLOW_MS = 1000, 60000
SLOW = {"CommandLine": "--no-window --record {dir}\\slow.rec", "Paused": "yes",
        "StartPause": SLOW_MS, "StopPause": 0}
VICTIM = {"CommandLine": "--no-window --record {dir}\\victim.rec", "StartPause": 0,
          "StopPause": 0}


def ms(seconds):
    return round(seconds * 1000.0, 1)


def kill(bench, d, rec):
    """Seconds from the victim's death to its next start record."""
    time.sleep(bench.rng.uniform(0.0, INTERVAL_MS / 1000.0))  # any phase of the pass
    rec.poll()
    pid = h.record_starts(d.path("victim.rec"))[-1]["pid"]
    lpid = find_linux_pid(bench.wine.prefix, "qtprog.exe", "victim.rec")
    n = len(rec.lines)
    killer = bench.background(bench.wine.bin("scmtool.exe"), ["kill", pid])
    dead = wait_for("the victim's death", lambda: None if proc_alive(lpid) else time.monotonic(),
                    30)
    _, started, _ = wait_line(rec, r"^start pid=", n, SLOW_MS / 1000.0 + 30, "its restart")
    bench.reap(killer)
    return started - dead


def measure(bench, repeats=3):
    d, name = bench.install("command", {"RestartInterval": INTERVAL_MS}, [SLOW, VICTIM])
    log = bench.start(d)
    slow = Tail(d.path("slow.rec"), skip_existing=False)
    victim = Tail(d.path("victim.rec"), skip_existing=False)
    wait_line(victim, r"^start pid=", 0, 30, "the victim's start")
    alone = [kill(bench, d, victim) for _ in range(repeats)]
    under_way, console = [], []
    for _ in range(repeats):
        log.poll()
        n_log, n_slow = len(log.lines), len(slow.lines)
        t0 = time.monotonic()
        cmd = bench.background(d.exe, ["-start", "0"])
        wait_line(slow, r"^start pid=", n_slow, 30, "the slow starter's launch")
        under_way.append(kill(bench, d, victim))
        # Both launches logged: the command is over.
        wait_for("the end of -start 0", lambda: sum(
            1 for _, t in log.lines[n_log:] if t.startswith("Started program ")) >= 2,
            SLOW_MS / 1000.0 + 30)
        console.append(bench.wait_proc(cmd) - t0)
        log.poll()
        n_log = len(log.lines)
        bench.wait_proc(bench.background(d.exe, ["-stop", "0"]))
        wait_line(log, r"^(Stopped|Terminated) process ", n_log, 30)
    med, base = statistics.median(under_way), statistics.median(alone)
    bench.results["start_command"] = {
        "RestartInterval": INTERVAL_MS, "StartPause": SLOW_MS, "repeats": repeats,
        "median_ms": ms(med), "baseline_median_ms": ms(base), "ratio": med / base,
        "bound_ms": INTERVAL_MS, "within_bound": med * 1000.0 <= INTERVAL_MS,
        "samples_ms": [ms(x) for x in under_way], "baseline_samples_ms": [ms(x) for x in alone],
        "console_exit_ms": [ms(x) for x in console],
        "method": "program 1 killed by 'scmtool kill' while 'QuarnLoader -start 0' (program 0, "
                  "Paused=yes, StartPause 60000, launched as its record shows) is under way; "
                  "from the Linux process gone from /proc to program 1's next start record; "
                  "baseline the same kill with no command; bound RestartInterval + program "
                  "1's StartPause (0)"}
    bench.finish()
