"""Programs' output captured to files: a program writing as fast as it can,
captured against its own file and the null device; a captured file held
without sharing while a program writes 100 lines a second; 127 programs
writing 20 lines a second, captured and not."""

import os
import re
import statistics
import time

import harness as h
from harness_procs import cpu_ticks
from watch import BenchError, find_linux_pid, wait_for, wait_line, windows_pids

CLK_TCK = os.sysconf("SC_CLK_TCK")
LINES = {"app": "lines.exe", "programs_copied": ("QuarnLoader.exe", "lines.exe", "holdfile.exe")}
QUIET = {"StartPause": 0, "StopPause": 0, "PrcFileLogging": "no"}


def report(path, timeout):
    """The key=value report a lines.exe run writes when it ends."""
    wait_for("report " + os.path.basename(path), lambda: os.path.exists(path) and
             os.path.getsize(path) > 0, timeout)
    with open(path) as f:
        return {k: int(v) for k, v in (kv.split("=") for kv in f.read().split())}


def numbers(path, stream="out"):
    """The line numbers of one stream in a captured file, in file order."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        return [int(m.group(1)) for m in re.finditer(rb"^%s (\d+) " % stream.encode(), f.read(),
                                                     re.M)]


def settled(path, quiet_s=2.0):
    """Waits until a captured file has stopped growing."""
    last = [None, time.monotonic()]

    def still():
        size = os.path.getsize(path) if os.path.exists(path) else -1
        if size != last[0]:
            last[:] = [size, time.monotonic()]
        return time.monotonic() - last[1] >= quiet_s
    wait_for("%s settled" % os.path.basename(path), still, 120)


def flood(bench, seconds):
    d, _ = bench.install("out_flood", {"RestartInterval": 1000}, [dict(
        QUIET, CommandLine="flood %d {dir}\\captured.txt" % seconds, AutoRestart="no",
        OutputLog="{dir}\\flood.log", OutputLogMaxSize=0)], **LINES)
    bench.start(d)
    captured = report(d.path("captured.txt"), seconds + 60)
    settled(d.path("flood.log"))
    got = len(numbers(d.path("flood.log")))
    bench.finish()
    rates = {"captured": got * 100.0 * 1000 / captured["ms"]}
    # Its own file and the null device: its standard output, as Wine hands it
    # a Unix file. A plain pipe: lines.exe reads its own flooding child's.
    for target, path in (("own", d.path("own.log")), ("null", os.devnull),
                         ("pipe", d.path("pipe.out"))):
        args = ["flood", seconds, d.winpath(target + ".txt")]
        args = ["pipe"] + args if target == "pipe" else args
        proc = bench.wine.start(d.path("lines.exe"), args, stdout_path=path)
        own = report(d.path(target + ".txt"), seconds + 60)
        bench.wine.stop(proc, timeout=30)
        rates[target] = own["lines"] * 100.0 * 1000 / own["ms"]
        if target == "pipe" and h.read_record(path) != ["read=%d" % (own["lines"] * 100)]:
            raise BenchError("the plain pipe's reader missed bytes: %s" % h.read_record(path))
    return {
        "seconds": seconds, "lines_written": captured["lines"], "lines_in_file": got,
        "lines_lost": captured["lines"] - got,
        "captured_bytes_per_s": round(rates["captured"]),
        "own_file_bytes_per_s": round(rates["own"]),
        "null_bytes_per_s": round(rates["null"]),
        "plain_pipe_bytes_per_s": round(rates["pipe"]),
        "ratio_to_own_file": rates["captured"] / rates["own"],
        "ratio_to_plain_pipe": rates["captured"] / rates["pipe"],
    }


def held(bench, hold_ms):
    count = 3 * hold_ms // 10   # 100 lines a second, three times the hold
    d, _ = bench.install("out_held", {"RestartInterval": 1000}, [dict(
        QUIET, CommandLine="%d 10 out 100 0 {dir}\\pace.txt" % count, AutoRestart="no",
        OutputLog="{dir}\\held.log", PrcFileLogging="yes")], **LINES)
    out = d.path("hold.out")
    holder = bench.wine.start(d.path("holdfile.exe"), [d.winpath("held.log"), hold_ms],
                              stdout_path=out)
    wait_for("holdfile holds", lambda: "held" in h.read_record(out), 30)
    t_hold = time.monotonic()
    log = bench.start(d)
    _, t_started, _ = wait_line(log, r"^Started program ", 0, 30)
    wait_for("holdfile ends", lambda: holder.poll() is not None, hold_ms / 1000.0 + 30)
    overlap = time.monotonic() - max(t_hold, t_started)
    pace = report(d.path("pace.txt"), count / 100 + 60)
    settled(d.path("held.log"))
    got = numbers(d.path("held.log"))
    outage = sum(1 for _, t in log.lines if "The output log cannot be written" in t)
    bench.finish()
    return {
        "hold_ms": hold_ms, "hold_while_running_ms": round(overlap * 1000),
        "lines_written": count, "lines_in_file": len(got),
        "lines_lost": count - len(set(got)), "in_order": got == sorted(got),
        "program_lines_per_s": count * 1000.0 / pace["ms"], "nominal_lines_per_s": 100,
        "slowest_write_ms": pace["slowest"], "outage_log_lines": outage,
    }


def many(bench, count, seconds, mode):
    """Program 0 exits at once, so each pass restarts it: the time between
    its restarts is one pass. Every start is logged, so that the start of all
    of them can be seen. Modes: "captured"; "piped", each program writing into
    a plain pipe that its own parent reads (the same writes, no service
    reading them); "off", writing nothing: under Wine each would draw its
    lines in a console of its own, a load on the machine that is no cost of
    the service."""
    key = "out_many_" + mode
    progs = [dict(QUIET, CommandLine="0 0 out", PrcFileLogging="yes")]
    line = {"captured": "1000000 50 out", "piped": "pipe 1000000 50 out", "off": "1000000 50 none"}
    progs += [dict(QUIET, CommandLine=line[mode], PrcFileLogging="yes") for _ in range(count - 1)]
    if mode == "captured":
        for n, p in enumerate(progs):
            p["OutputLog"] = "{dir}\\out%d.log" % n
    d, _ = bench.install(key, {"RestartInterval": 1000}, progs, **LINES)
    log = bench.start(d, timeout=120)
    wait_for("%d programs started" % count, lambda: sum(
        1 for _, t in log.lines if t.startswith("Started program ")) >= count + 2, 60 + 2 * count)
    pid = find_linux_pid(bench.wine.prefix, key + "\\QuarnLoader.exe")
    wpids = windows_pids(bench.wine, "QuarnLoader.exe")
    cpu0, t0 = cpu_ticks(pid), time.monotonic()
    wait_for("the window", lambda: time.monotonic() - t0 >= seconds, seconds + 5)
    cpu = (cpu_ticks(pid) - cpu0) / CLK_TCK
    ws = bench.scm.mem(wpids[0])["ws"] if len(wpids) == 1 else None
    tries = [t for t, x in log.lines if t >= t0 and
             x.startswith("Process (0): Attempting to restart program: ")]
    passes = [b - a for a, b in zip(tries, tries[1:])]
    bench.finish()
    return {"service_cpu_s": cpu, "ws_bytes": ws,
            "pass_median_ms": round(statistics.median(passes) * 1000, 1) if passes else None}


def measure(bench, seconds=10, hold_ms=10000, count=127, window=60):
    results = {"flood": flood(bench, seconds), "held": held(bench, hold_ms)}
    on, piped, off = (many(bench, count, window, mode) for mode in ("captured", "piped", "off"))

    def ratio(a, b):
        return a["pass_median_ms"] / b["pass_median_ms"] if a["pass_median_ms"] and \
            b["pass_median_ms"] else None
    grown = on["ws_bytes"] - off["ws_bytes"] if on["ws_bytes"] and off["ws_bytes"] else None
    results["many"] = {"programs": count, "seconds": window, "captured": on, "not_captured": off,
                       "piped_elsewhere": piped, "pass_ratio": ratio(on, off),
                       "piped_pass_ratio": ratio(piped, off), "ws_growth_bytes": grown}
    if results["flood"]["lines_written"] == 0:
        raise BenchError("the flooding program wrote nothing")
    bench.results["output"] = dict(
        results, method="lines.exe: 'flood' writes one 100-byte line as fast as it can for the "
        "seconds given on its standard output (captured: OutputLog without a limit; its own file "
        "and the null device: a Unix file and /dev/null handed to it by Wine; a plain pipe: "
        "'lines pipe' reads its flooding child's anonymous pipe in 64 KiB reads), rates from "
        "its own count and time; 'held': holdfile.exe holds OutputLog from before the start, "
        "the program's pace and its slowest write from its own report; 'many': program 0 "
        "exits at once (one restart per pass), the others write 20 lines a second, CPU "
        "and working set of the service over the window")
