"""The failure policy's figures.

Crash loop: one qtprog that exits at once with code 3, MaxRestarts=5: the
launches until it is given up, the time from its first launch to the give-up
line, and the events the service reports. ReportEvent records nothing under
Wine, so the events are counted as the log lines that each go with exactly
one report: "ended with exit code" (a failure that is restarted), the give-up
line, and a failure command that failed.

Hanging failure command: program 0 exits at once with code 3 in every pass,
once without OnFailure and once with a command that never ends. The pass is
the time between two of program 0's restart lines, less the launch between
them; the command's end is timed from its "Ran" line."""

import statistics
import time

from watch import pass_times, wait_for, wait_line

CRASHER = {"CommandLine": "--no-window --exit-after 0 --exit-code 3", "StartPause": 0,
           "StopPause": 0}
INTERVAL = 1000
TIMEOUT_MS = 5000
EVENT_LINES = (" The program ended with exit code ", " The program was restarted ",
               " The failure command was ended after ", " The failure command could not ")


def crash_loop(bench):
    d, _ = bench.install("fail_loop", {"RestartInterval": INTERVAL},
                         [dict(CRASHER, MaxRestarts=5)])
    log = bench.start(d)
    _, t_first, _ = wait_line(log, r"^Started program ", 0, 60)
    i, t_gave, _ = wait_line(log, r"^Process \(0\): The program was restarted ", 0, 60)
    time.sleep(3 * INTERVAL / 1000.0)   # nothing may follow
    wait_for("the log", lambda: True, 1)
    texts = [text for _, text in log.lines]
    bench.finish()
    return {"launches": sum(t.startswith("Started program ") for t in texts),
            "ms_to_failed": round((t_gave - t_first) * 1000.0),
            "events": sum(any(e in t for e in EVENT_LINES) for t in texts),
            "give_up_events": sum(" The program was restarted " in t for t in texts),
            "launches_after_give_up": sum(t.startswith("Started program ") for t in texts[i:])}


def passes(bench, key, extra, count=12):
    d, _ = bench.install(key, {"RestartInterval": INTERVAL}, [dict(CRASHER, **extra)])
    log = bench.start(d)
    tries, launches = pass_times(log, count, 60, 60)
    ends = []
    if extra:
        j = 0
        while len(ends) < 2:
            j, t_ran, _ = wait_line(log, r"^Process \(0\): Ran the failure command ", j, 60)
            _, t_end, text = wait_line(log, r"^Process \(0\): The failure command was ended ",
                                       j, 2 * TIMEOUT_MS / 1000.0 + 10)
            ends.append(round((t_end - t_ran) * 1000.0))
            j += 1
    bench.finish()
    net = [(b - a - l) * 1000.0 for a, b, l in zip(tries, tries[1:], launches)]
    return statistics.median(net), ends


def measure(bench):
    loop = crash_loop(bench)
    plain, _ = passes(bench, "fail_plain", {})
    hanging, ends = passes(bench, "fail_cmd", {
        "OnFailure": "{dir}\\qtprog.exe --no-window", "OnFailureTimeout": TIMEOUT_MS})
    bench.results["failure"] = {
        "crash_loop": loop,
        "pass_without_command_ms": round(plain, 1),
        "pass_with_hanging_command_ms": round(hanging, 1),
        "pass_ratio": round(hanging / plain, 3),
        "command_ended_after_ms": ends, "OnFailureTimeout": TIMEOUT_MS,
        "method": "crash loop of one qtprog exiting with 3, MaxRestarts=5, RestartInterval=1000; "
                  "events = log lines that each go with one report (ReportEvent records "
                  "nothing under Wine); pass = median time between program 0's restart lines "
                  "less the launch, over 12 passes, without and with a failure command that "
                  "never ends; its end = from its 'Ran' line to its 'was ended' line"}
