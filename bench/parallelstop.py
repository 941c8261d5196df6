"""The service's stop with 20 programs that ignore every stop request,
StopPause 2000: once without "ParallelStop", once with it. One stop each:
the old way takes about 20 x StopPause."""

import time

import harness as h
from watch import BenchError, wait_for

PROGRAMS = 20
STOP_PAUSE_MS = 2000
DEAF = {"CommandLine": "--no-window --ignore-quit", "StartPause": 0, "StopPause": STOP_PAUSE_MS}


def ms(seconds):
    return round(seconds * 1000.0, 1)


def stop_once(bench, key, settings):
    d, name = bench.install("pstop_" + key, settings, [DEAF] * PROGRAMS)
    log = bench.start(d)
    wait_for("%d programs started" % PROGRAMS, lambda: sum(
        1 for _, t in log.lines if t.startswith("Started program ")) >= PROGRAMS, 120)
    scmtool = bench.wine.bin("scmtool.exe")
    # Polling before the control goes out, so its start-up is not counted.
    watch = bench.background(scmtool, ["wait", name, h.STOPPED, 180000])
    time.sleep(2)
    n_log = len(log.lines)
    out = d.path("control.out")
    t0 = time.monotonic()
    control = bench.wine.start(scmtool, ["control", name, 1], stdout_path=out)
    ends = {}

    def ended():
        for what, proc in (("control", control), ("stopped", watch)):
            if what not in ends and proc.poll() is not None:
                ends[what] = time.monotonic()
        return len(ends) == 2

    wait_for("the stop", ended, 200)
    bench.reap(control)
    bench.reap(watch)
    if watch.returncode != 0:
        raise BenchError("%s: never seen stopped" % key)
    lines = [t for _, t in log.lines[n_log:]]
    terminated = sum(1 for t in lines if t.startswith("Terminated process "))
    if terminated != PROGRAMS:
        raise BenchError("%s: %d of %d terminated" % (key, terminated, PROGRAMS))
    result = {"stopped_ms": ms(ends["stopped"] - t0), "control_ms": ms(ends["control"] - t0),
              "control_result": " ".join(h.read_record(out)).strip(),
              "summary_line": next((t for t in lines if t.startswith("All programs stopped")),
                                   None)}
    bench.finish()
    return result


def measure(bench):
    out = {key: stop_once(bench, key, dict({"RestartInterval": 1000}, **extra))
           for key, extra in (("no_key", {}), ("parallel", {"ParallelStop": "yes"}))}
    goal = STOP_PAUSE_MS + 1000
    bench.results["parallel_stop"] = dict(
        out, programs=PROGRAMS, StopPause=STOP_PAUSE_MS, repeats=1, goal_ms=goal,
        goal_met=out["parallel"]["stopped_ms"] <= goal,
        method="one stop each (the old way takes about programs x StopPause); from spawning "
               "'scmtool control NAME 1' (ControlService) to the end of a 'scmtool wait' for "
               "STOPPED already polling every 100 ms, and to the control call's own end "
               "(both include starting the Wine program)")
