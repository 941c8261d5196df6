"""A reload on a full table: 127 programs and nothing changed, then one
section added to 126 running programs. Process ids come from the status
file; the service's CPU from /proc."""

import os
import time

import harness as h
from harness_procs import cpu_ticks
from watch import BenchError, find_linux_pid, own_wine_processes, wait_for

CLK_TCK = os.sysconf("SC_CLK_TCK")
INTERVAL_MS = 1000
IDLE = {"CommandLine": "--no-window", "StartPause": 0, "StopPause": 0}
START_PAUSE_MS = 1000   # the added program's, as a user leaves it


def ms(seconds):
    return round(seconds * 1000.0, 1)


def status(d):
    """(reload number, its outcome, {number: pid}) from the status file."""
    try:
        with open(d.path("QuarnLoader.status"), "rb") as f:
            lines = [line.split("\t") for line in f.read().decode("latin-1").split("\r\n")]
    except FileNotFoundError:
        return 0, None, {}
    reload = next((f for f in lines if f[0] == "Reload"), ["", "0", None])
    return int(reload[1]), reload[2], {int(f[1]): f[4] for f in lines if f[0] == "Program"}


def write(d, name, sections):
    lines = ["[Settings]", "ServiceName=" + name, "RestartInterval=%d" % INTERVAL_MS]
    for n, keys in enumerate(sections):
        lines += ["[Process_%d]" % n, "AppName=" + d.winpath("qtprog.exe")]
        lines += ["%s=%s" % kv for kv in keys.items()]
    h.write_ini(d, "\n".join(lines) + "\n")


def reload(bench, d, name, number, log):
    """Sends the control and waits for outcome `number`: (seconds to it,
    seconds between the reload's first log line and its outcome line, which
    the supervision thread spent on it, CPU seconds meanwhile of the service
    and of wineserver, the outcome, seconds from the control to that first
    line, seconds until scmtool's control call returned)."""
    pid = find_linux_pid(bench.wine.prefix, "bench_reload\\QuarnLoader.exe")
    n_log = len(log.lines)
    server = [p for p, c in own_wine_processes(bench.wine.prefix).items() if "wineserver" in c]
    cpu0 = cpu_ticks(pid), sum(cpu_ticks(p) for p in server)
    t0 = time.monotonic()
    # In the background: the log is watched while the call runs.
    ctl = bench.background(bench.wine.bin("scmtool.exe"), ["control", name, 6])
    sent = bench.wait_proc(ctl) - t0
    if ctl.returncode:
        raise BenchError("the control was refused: scmtool returned %s" % ctl.returncode)
    wait_for("reload %d" % number, lambda: status(d)[0] >= number and
             log.find(r"^The configuration was", n_log), 30)
    took = time.monotonic() - t0
    begun = log.find(r"^Reloading the configuration file", n_log)[1]
    spent = log.find(r"^The configuration was", n_log)[1] - begun
    cpu = ((cpu_ticks(pid) - cpu0[0]) / CLK_TCK,
           (sum(cpu_ticks(p) for p in server) - cpu0[1]) / CLK_TCK)
    return took, spent, cpu, status(d)[1], begun - t0, sent


def measure(bench):
    d, name = bench.install("reload", {"RestartInterval": INTERVAL_MS}, [IDLE] * 127)
    log = bench.start(d, timeout=120)
    wait_for("127 programs running", lambda: len(status(d)[2]) == 127 and
             "-" not in status(d)[2].values(), 300)
    before = status(d)[2]
    # What a control costs before it reaches the service: scmtool's own start.
    t0 = time.monotonic()
    bench.scm.control(name, 4)
    delivery = time.monotonic() - t0
    n_log = len(log.lines)
    took, spent, cpu, outcome, _, _ = reload(bench, d, name, 1, log)
    # A pass after it: still nothing started or stopped.
    t_end = time.monotonic()
    wait_for("a pass", lambda: time.monotonic() - t_end >= INTERVAL_MS / 1000.0, 5)
    lines = [t for _, t in log.lines[n_log:]]
    unchanged = {
        "outcome": outcome,
        "ms_to_outcome": ms(took),
        "supervision_thread_ms": ms(spent),
        "control_delivery_ms": ms(delivery),
        # Begun at the top of the turn after the request, at most a pass later.
        "within_one_pass": (took - spent - delivery) * 1000.0 <= INTERVAL_MS,
        "service_cpu_s": cpu[0], "wineserver_cpu_s": cpu[1],
        "pids_kept": status(d)[2] == before,
        "started_or_stopped": sum(1 for t in lines if t.startswith(
            ("Started program ", "Stopped process ", "Terminated process "))),
    }

    write(d, name, [IDLE] * 126)
    reload(bench, d, name, 2, log)
    before = status(d)[2]
    rec = d.path("new.rec")
    write(d, name, [IDLE] * 126 + [{"CommandLine": "--no-window --record " + d.winpath("new.rec")}])
    t0 = time.monotonic()
    took, spent, cpu, outcome, begun, sent = reload(bench, d, name, 3, log)
    wait_for("the added program's start", lambda: os.path.exists(rec) and any(
        line.startswith("start pid=") for line in h.read_record(rec)), 30)
    started = time.monotonic() - t0
    after = status(d)[2]
    added = {
        "outcome": outcome,
        "ms_to_outcome": ms(took),
        "supervision_thread_ms": ms(spent),
        "ms_to_new_start": ms(started),
        # Where it goes: to the reload's first line, reading and matching, then the launch.
        "split_ms": [ms(begun), ms(spent), ms(started - begun - spent)],
        "control_call_ms": ms(sent),
        "bound_ms": INTERVAL_MS + START_PAUSE_MS,
        "within_bound": started * 1000.0 <= INTERVAL_MS + START_PAUSE_MS,
        "others_kept_pids": all(after.get(n) == pid for n, pid in before.items()),
        "service_cpu_s": cpu[0], "wineserver_cpu_s": cpu[1],
    }
    bench.results["reload"] = {
        "programs": 127, "RestartInterval": INTERVAL_MS, "unchanged": unchanged, "added": added,
        "method": "SERVICE_CONTROL_PARAMCHANGE by scmtool; times from sending it to the "
                  "outcome in the status file (polled every 10 ms) and to the added qtprog's "
                  "own start record, split at the reload's first and outcome lines as seen in the "
                  "log; the supervision thread's time from its first reload "
                  "log line to the outcome line as seen in the log; delivery = an "
                  "interrogate by scmtool; CPU = utime+stime of the service's and wineserver's "
                  "Linux processes"}
    bench.finish()
