"""The measures: one method per phase, each on a service of its own."""

import os
import random
import statistics
import sys
import time

import command
import crashloop
import failure
import harness as h
import health
import heldlog
import output
import parallelstop
import reload
import stopmethod
from harness_procs import cpu_ticks, proc_alive, rss_kb
from watch import (WATCHED, BenchError, Tail, find_linux_pid, own_wine_processes, pass_times,
                   wait_for, wait_line, windows_pids)

PROBE_TIMEOUT_MS = 1000  # the service's wait for a window to answer WM_NULL
CLK_TCK = os.sysconf("SC_CLK_TCK")


def median(xs):
    return statistics.median(xs) if xs else None


def ms(seconds):
    return round(seconds * 1000.0, 1)


class Bench:
    def __init__(self, out_dir):
        self.out_dir = out_dir
        self.wine = h.get_wine()
        if not self.wine.bin_dir:
            raise BenchError("QL_BIN_DIR is not set")
        self.scm = h.Scm(self.wine)
        self.results = {}
        self.rng = random.Random(7)
        self.tag = "%d" % os.getpid()

    # services
    def install(self, key, settings, programs, app="qtprog.exe",
                programs_copied=("QuarnLoader.exe", "qtprog.exe", "nullsvc.exe")):
        """An install folder C:\\qt\\bench_<key>\\ with an ini of the given
        [Settings] and [Process_n] sections (dicts) running `app`, the service
        installed with the product's own -install. "{dir}" in a value stands
        for the folder."""
        d = h.make_install_dir(self.wine, "bench_" + key, programs=programs_copied)
        name = "QLBench_%s_%s" % (key, self.tag)
        lines = ["[Settings]", "ServiceName=" + name]
        lines += ["%s=%s" % kv for kv in settings.items()]
        for n, prog in enumerate(programs):
            lines.append("[Process_%d]" % n)
            lines.append("AppName=" + d.winpath(app))
            lines += ["%s=%s" % (k, str(v).replace("{dir}", d.win)) for k, v in prog.items()]
        h.write_ini(d, "\n".join(lines) + "\n")
        self.scm.track(name)
        rc, out = self.wine.run(d.exe, ["-install"])
        if rc != 0:
            raise BenchError("-install failed: %s" % out)
        return d, name

    def start(self, d, timeout=60):
        """-start, then wait for the main thread's first line."""
        tail = Tail(d.log)
        self.wine.run(d.exe, ["-start"], timeout=timeout)
        wait_line(tail, r"^The service is now running the main thread\.$", 0, timeout)
        return tail

    def finish(self):
        del WATCHED[:]
        problems = self.scm.cleanup()
        if problems:
            print("bench: cleanup: " + "; ".join(problems), file=sys.stderr)

    def background(self, exe, args):
        return self.wine.start(exe, args)

    def reap(self, proc, timeout=60):
        self.wine.stop(proc, timeout=timeout)

    def wait_proc(self, proc, timeout=60):
        """Seen end time of a background program started just before."""
        wait_for("program end", lambda: proc.poll() is not None, timeout)
        t = time.monotonic()
        self.reap(proc)
        return t

    # -- the service's start ----------------------------------------------
    def bench_start(self, repeats=5):
        """From "-start" to RUNNING: a "scmtool wait" (QueryServiceStatus
        every 100 ms) started together with the command; its end is the
        witness. The floor is nullsvc started and watched the same way."""
        d, name = self.install("start", {"RestartInterval": 1000},
                               [{"CommandLine": "--no-window", "StartPause": 0, "StopPause": 0}])
        null_name = "QLBench_null_%s" % self.tag
        ok, err = self.scm.create(null_name, d.winpath("nullsvc.exe") + " " + null_name)
        scmtool = self.wine.bin("scmtool.exe")
        loader_s, log_s, null_s = [], [], []
        for _ in range(repeats):
            tail = Tail(d.log)
            t0 = time.monotonic()
            cmd = self.background(d.exe, ["-start"])
            watch = self.background(scmtool, ["wait", name, h.RUNNING, 30000])
            t_run = self.wait_proc(watch)
            wait_line(tail, r"^The service is now running the main thread\.$", 0, 30)
            loader_s.append(t_run - t0)
            log_s.append(tail.find(r"^The service is now running the main thread\.$")[1] - t0)
            self.wait_proc(cmd)
            self.stop_service(name)

            if ok:
                t0 = time.monotonic()
                cmd = self.background(scmtool, ["start", null_name])
                watch = self.background(scmtool, ["wait", null_name, h.RUNNING, 30000])
                null_s.append(self.wait_proc(watch) - t0)
                self.wait_proc(cmd)
                self.stop_service(null_name)
        self.results["service_start"] = {
            "repeats": repeats,
            "method": "from spawning 'QuarnLoader -start' to the end of a 'scmtool wait' "
                      "for RUNNING spawned with it; nullsvc: 'scmtool start' likewise",
            "median_ms": ms(median(loader_s)),
            "main_thread_line_median_ms": ms(median(log_s)),
            "nullsvc_median_ms": ms(median(null_s)) if null_s else None,
            "ratio_to_nullsvc": (median(loader_s) / median(null_s)) if null_s else None,
            "samples_ms": [ms(x) for x in loader_s],
            "nullsvc_samples_ms": [ms(x) for x in null_s],
            "nullsvc_error": None if ok else err,
        }
        self.finish()

    def stop_service(self, name, timeout_ms=60000):
        self.scm.control(name, 1)
        self.scm.wait(name, h.STOPPED, timeout_ms)

    # -- restart latency and console round trip ----------------------------
    def bench_restart(self, kills=20, commands=8):
        ri, sp = 1000, 500
        d, name = self.install("restart", {"RestartInterval": ri},
                               [{"CommandLine": "--record {dir}\\rec0.txt",
                                 "StartPause": sp, "StopPause": 500}])
        rec_path = d.path("rec0.txt")
        log = self.start(d)
        rec = Tail(rec_path, skip_existing=False)
        wait_line(log, r"^Started program ", 0, 30)
        prefix = self.wine.prefix
        to_log, to_start, kill_lag = [], [], []
        for _ in range(kills):
            time.sleep(self.rng.uniform(0.0, ri / 1000.0))  # any phase of the pass
            rec.poll()
            log.poll()
            starts = h.record_starts(rec_path)
            pid = starts[-1]["pid"]
            lpid = find_linux_pid(prefix, "qtprog.exe", "rec0.txt")
            n_log, n_rec = len(log.lines), len(rec.lines)
            t_kill = time.monotonic()
            killer = self.background(self.wine.bin("scmtool.exe"), ["kill", pid])
            t_dead = wait_for("death of qtprog %d" % pid, lambda: None if proc_alive(lpid)
                              else time.monotonic(), 30)
            kill_lag.append(t_dead - t_kill)
            _, t_rec, _ = wait_line(rec, r"^start pid=", n_rec, 30, "relaunch in the record")
            i, _, _ = wait_line(log, r"^Process \(0\): Attempting to restart program: ", n_log, 30)
            _, t_log, _ = wait_line(log, r"^Started program ", i + 1, 30)
            self.reap(killer)
            to_start.append(t_rec - t_dead)
            to_log.append(t_log - t_dead)
        bound = ri + 2 * sp
        self.results["restart_latency"] = {
            "kills": kills, "RestartInterval": ri, "StartPause": sp,
            "method": "death = the qtprog's Linux process gone from /proc after 'scmtool kill'; "
                      "logged = the 'Started program' line after 'Process (0): Attempting to "
                      "restart' seen in the log; relaunch = the new start line in its record",
            "median_ms": ms(median(to_log)), "worst_ms": ms(max(to_log)),
            "bound_ms": bound, "worst_to_bound": max(to_log) * 1000.0 / bound,
            "median_to_bound": median(to_log) * 1000.0 / bound,
            "relaunch_median_ms": ms(median(to_start)), "relaunch_worst_ms": ms(max(to_start)),
            "kill_to_death_median_ms": ms(median(kill_lag)),
            "samples_ms": [ms(x) for x in to_log],
            "relaunch_samples_ms": [ms(x) for x in to_start],
        }

        # console round trip on the same service
        trips, console = [], []
        for _ in range(commands):
            time.sleep(self.rng.uniform(0.1, 0.5))
            log.poll()
            n = len(log.lines)
            t0 = time.monotonic()
            cmd = self.background(d.exe, ["-stop", "0"])
            i, t1, text = wait_line(log, r"^(Stopped process |Terminated process |The process "
                                         r"could not be stopped\.)", n, 30)
            console.append(self.wait_proc(cmd) - t0)
            if not text.startswith(("Stopped", "Terminated")):
                raise BenchError("-stop 0 failed: %s" % text)
            trips.append(t1 - t0)
            wait_line(log, r"^Started program ", i + 1, 30)  # restarted by the next pass
        self.results["console_round_trip"] = {
            "repeats": commands,
            "method": "from spawning 'QuarnLoader -stop 0' to its 'Stopped process' line "
                      "seen in the log",
            "median_ms": ms(median(trips)), "worst_ms": ms(max(trips)),
            "console_exit_median_ms": ms(median(console)),
            "samples_ms": [ms(x) for x in trips],
        }
        self.finish()

    # -- hang to stop -------------------------------------------------------
    def bench_hang(self, repeats=4):
        # The window is looked up once, StartPause after the launch: under a
        # loaded Wine a child can take over a second to open it.
        ri, checks, sp, stp = 500, 3, 2000, 300
        d, name = self.install("hang", {"RestartInterval": ri}, [{
            "CommandLine": "--hang-after 3000 --record {dir}\\rech.txt",
            "StartPause": sp, "StopPause": stp, "NumOfRespChecks": checks}])
        log = self.start(d)
        rec = Tail(d.path("rech.txt"), skip_existing=False)
        detect, stop = [], []
        n_rec = 0
        for _ in range(repeats):
            i, t_hang, _ = wait_line(rec, r"^hang$", n_rec, 60, "hang in the record")
            n_rec = i + 1
            log.poll()
            # Lines before the hang was seen cannot be about this hang.
            first = next((k for k, (t, _) in enumerate(log.lines) if t >= t_hang),
                         len(log.lines))
            j, t_nr, _ = wait_line(log, r"^Process \(0\): Program is not responding: ", first, 60)
            _, t_st, _ = wait_line(log, r"^(Stopped|Terminated) process ", j + 1, 60)
            detect.append(t_nr - t_hang)
            stop.append(t_st - t_hang)
        pass_ms = ri + PROBE_TIMEOUT_MS  # a pass with one hung window
        bound = checks * pass_ms
        self.results["hang_to_stop"] = {
            "repeats": repeats, "RestartInterval": ri, "NumOfRespChecks": checks,
            "StopPause": stp, "pass_with_hung_window_ms": pass_ms,
            "method": "from qtprog's 'hang' record line to 'Program is not responding' and to "
                      "the 'Terminated process' line; bound NumOfRespChecks x (RestartInterval "
                      "+ 1000 ms probe time-out)",
            "detect_median_ms": ms(median(detect)), "detect_worst_ms": ms(max(detect)),
            "stop_median_ms": ms(median(stop)), "stop_worst_ms": ms(max(stop)),
            "bound_ms": bound, "detect_median_to_bound": median(detect) * 1000.0 / bound,
            "detect_worst_to_bound": max(detect) * 1000.0 / bound,
            "samples_ms": [ms(x) for x in detect], "stop_samples_ms": [ms(x) for x in stop],
        }
        self.finish()

    # -- pass length --------------------------------------------------------
    def bench_pass(self, counts=(1, 16, 127), passes=10):
        """Program 0 exits at once, so every pass restarts it: the time
        between successive 'Process (0): Attempting to restart' lines is one
        pass. The launch it contains (to its 'Started program' line) is
        measured too, so the pass is also given without it."""
        ri = 1000
        out = {}
        for count in counts:
            key = "pass%d" % count
            progs = [{"CommandLine": "--no-window --exit-after 0", "StartPause": 0,
                      "StopPause": 0}]
            progs += [{"CommandLine": "--no-window", "StartPause": 0, "StopPause": 0,
                       "PrcFileLogging": "no"} for _ in range(count - 1)]
            d, name = self.install(key, {"RestartInterval": ri}, progs)
            log = self.start(d, timeout=120)
            attempts, launches = pass_times(log, passes, 60 + count, 30)
            lengths = [b - a for a, b in zip(attempts, attempts[1:])]
            net = [x - l for x, l in zip(lengths, launches)]
            nominal = count * (ri // count)
            out[str(count)] = {
                "programs": count, "passes": len(lengths),
                "median_ms": ms(median(lengths)), "min_ms": ms(min(lengths)),
                "max_ms": ms(max(lengths)),
                "ratio": median(lengths) * 1000.0 / ri,
                "launch_median_ms": ms(median(launches)),
                "ratio_without_launch": median(net) * 1000.0 / ri,
                "nominal_sleep_ms": nominal, "nominal_ratio": nominal / ri,
                "samples_ms": [ms(x) for x in lengths],
            }
            self.finish()
        self.results["pass_length"] = {
            "RestartInterval": ri,
            "method": "time between successive 'Process (0): Attempting to restart' lines of a "
                      "program that exits at once (one per pass); nominal sleep = "
                      "Count x (RestartInterval / Count, integer division)",
            "by_count": out,
        }

    # -- crash loop with and without restart back-off --------------------------
    def bench_crashloop(self, seconds=45):
        crashloop.measure(self, seconds)

    # -- the failure policy: a crash loop given up, a failure command that hangs --
    def bench_failure(self):
        failure.measure(self)

    # -- a log line while the log file is held ----------------------------------
    def bench_heldlog(self, window_ms=3000):
        heldlog.measure(self, window_ms)

    # -- programs' output captured to files ---------------------------------------
    def bench_output(self):
        output.measure(self)

    # -- health checks: the pass with failing checks, and the start period -----
    def bench_health(self):
        health.measure(self)

    # -- a console server's stop, with and without a stop method --------------
    def bench_stopmethod(self):
        stopmethod.measure(self)

    # -- the service's stop with programs that ignore it, with and without ParallelStop --
    def bench_parallelstop(self):
        parallelstop.measure(self)

    # -- a kill while a console start waits out a long StartPause ----------------
    def bench_command(self):
        command.measure(self)

    # -- a reload of the whole table ----------------------------------------------
    def bench_reload(self):
        reload.measure(self)

    # -- idle cost ------------------------------------------------------------
    def bench_idle(self, seconds=60, count=127):
        """The service with 127 idle programs next to nullsvc, both over the
        same window: CPU from /proc (utime+stime), memory as the working set
        (scmtool mem) and VmRSS."""
        progs = [{"CommandLine": "--no-window", "StartPause": 0, "StopPause": 0}
                 for _ in range(count)]
        d, name = self.install("idle", {"RestartInterval": 1000}, progs)
        null_name = "QLBench_nullidle_%s" % self.tag
        ok, err = self.scm.create(null_name, d.winpath("nullsvc.exe") + " " + null_name)
        if not ok:
            raise BenchError("nullsvc could not be created: error %s" % err)
        log = self.start(d, timeout=120)
        wait_for("%d programs started" % count,
                 lambda: sum(1 for _, t in log.lines if t.startswith("Started program ")) >= count,
                 60 + 2 * count)
        self.scm.start(null_name)
        self.scm.wait(null_name, h.RUNNING, 30000)
        time.sleep(3)
        prefix = self.wine.prefix
        lp_svc = find_linux_pid(prefix, "bench_idle\\QuarnLoader.exe")
        lp_null = find_linux_pid(prefix, "nullsvc.exe")
        lp_server = [p for p, c in own_wine_processes(prefix).items() if "wineserver" in c]
        wp_svc = windows_pids(self.wine, "QuarnLoader.exe")
        wp_null = windows_pids(self.wine, "nullsvc.exe")

        def mem(wpids):
            if len(wpids) != 1:
                return None
            try:
                return self.scm.mem(wpids[0])["ws"]
            except h.HarnessError:
                return None

        ws0 = (mem(wp_svc), mem(wp_null))
        rss0 = (rss_kb(lp_svc) * 1024, rss_kb(lp_null) * 1024)
        c0 = (cpu_ticks(lp_svc), cpu_ticks(lp_null), sum(cpu_ticks(p) for p in lp_server))
        t0 = time.monotonic()
        time.sleep(seconds)
        c1 = (cpu_ticks(lp_svc), cpu_ticks(lp_null), sum(cpu_ticks(p) for p in lp_server))
        span = time.monotonic() - t0
        ws1 = (mem(wp_svc), mem(wp_null))
        rss1 = (rss_kb(lp_svc) * 1024, rss_kb(lp_null) * 1024)
        lines_during = sum(1 for t, _ in log.lines if t >= t0)
        cpu = [(c1[k] - c0[k]) / CLK_TCK for k in range(3)]
        tick = 1.0 / CLK_TCK

        def ratio(a, b):
            return a / b if a is not None and b else None

        self.results["idle_cost"] = {
            "programs": count, "seconds": round(span, 2),
            "method": "CPU: utime+stime of the Linux process of each service (own prefix only) "
                      "over the same window; memory: working set by 'scmtool mem' (Windows "
                      "pid from wmic) and VmRSS from /proc",
            "service_cpu_s": cpu[0], "nullsvc_cpu_s": cpu[1],
            "service_cpu_percent": 100.0 * cpu[0] / span,
            "cpu_ratio": ratio(cpu[0], cpu[1]),
            "cpu_ratio_at_least": cpu[0] / max(cpu[1], tick),
            "wineserver_cpu_s": cpu[2],
            "service_ws_bytes": [ws0[0], ws1[0]], "nullsvc_ws_bytes": [ws0[1], ws1[1]],
            "service_rss_bytes": [rss0[0], rss1[0]], "nullsvc_rss_bytes": [rss0[1], rss1[1]],
            "ws_ratio": ratio(ws1[0], ws1[1]), "rss_ratio": ratio(rss1[0], rss1[1]),
            "log_lines_during": lines_during,
        }
        self.finish()
