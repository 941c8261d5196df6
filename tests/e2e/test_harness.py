"""Checks the end-to-end harness and its Windows test programs under Wine,
so that a failing product test points at the product, not at its tools."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import harness_procs  # noqa: E402
from harness import HarnessError  # noqa: E402


class HarnessFiles(harness.E2ETestCase):
    """Pure file helpers: ini writing, log reading, path mapping."""

    def test_paths_map_drive_c_and_z(self):
        w = self.wine
        d = self.install_dir("paths", blank=True)
        self.assertTrue(d.win.startswith("C:\\qt\\paths dir"), d.win)
        self.assertEqual(os.path.realpath(w.to_unix(d.win)), os.path.realpath(d.unix))
        self.assertEqual(w.to_windows("/tmp/x y"), "Z:\\tmp\\x y")
        self.assertEqual(w.to_unix("z:\\tmp\\a"), "/tmp/a")
        self.assertTrue(os.path.exists(d.path("scmtool.exe")))

    def test_ini_gets_crlf_and_log_checks_crlf(self):
        d = self.install_dir("files")
        harness.write_ini(d, "[Settings]\nServiceName=X\n")
        with open(d.ini, "rb") as f:
            self.assertEqual(f.read(), b"[Settings]\r\nServiceName=X\r\n")

        with open(d.log, "wb") as f:
            f.write(b"Mon Mar 05 09:04:05 2007 :: Started program a b\r\nplain\r\n")
        self.assertEqual(harness.read_log(d, strip=True), ["Started program a b", "plain"])
        self.assertEqual(harness.log_count(d), 2)
        m = harness.wait_for_log(d, re.compile(r"program (\S+)"), timeout=1)
        self.assertEqual(m.group(1), "a")
        with self.assertRaises(HarnessError):
            harness.wait_for_log(d, "Started", timeout=0.3, start=1)

        with open(d.log, "ab") as f:
            f.write(b"bare line end\nnext\r\n")
        with self.assertRaises(HarnessError):
            harness.read_log(d)

    def test_section_and_file_tail(self):
        d = self.install_dir("tail")
        harness.write_ini(d, harness.section(3, "C:\\x.exe", StartPause=0, Window="hide"))
        with open(d.ini, "rb") as f:
            self.assertEqual(f.read(), b"[Process_3]\r\nAppName=C:\\x.exe\r\nStartPause=0\r\n"
                                       b"Window=hide\r\n")
        tail = harness_procs.FileTail(d.log)
        self.assertEqual(tail.poll(), [])
        with open(d.log, "wb") as f:
            f.write(b"one\r\ntw")
        self.assertEqual(tail.poll(), ["one"])  # a line still being written waits
        with open(d.log, "ab") as f:
            f.write(b"o\r\n")
        self.assertEqual((tail.poll(), tail.poll()), (["two"], []))
        self.assertEqual(harness_procs.FileTail(d.log, skip_existing=True).poll(), [])

    def test_processes_of_the_prefix(self):
        # The suite's wineserver runs with our prefix; nothing of another's.
        ours = harness_procs.prefix_processes(self.wine.prefix)
        server = [p for p, args in ours.items() if "wineserver" in os.path.basename(args[0])]
        self.assertEqual(len(server), 1, ours)
        self.assertTrue(harness_procs.proc_alive(server[0]))
        self.assertGreater(harness_procs.rss_kb(server[0]), 0)
        self.assertEqual(harness_procs.prefix_processes(self.wine.prefix + "-other"), {})
        names = [name for name, _ in harness_procs.windows_processes(self.wine)]
        self.assertIn("services.exe", names)


class TestPrograms(harness.E2ETestCase):

    def start_qtprog(self, folder, ready, *args):
        """qtprog in the background with a record, once the record shows
        `ready`: (process, record path, Windows pid)."""
        d = self.install_dir(folder)
        rec = self.scm.track_record(d.path("rec.txt"))
        proc = self.wine.start(d.path("qtprog.exe"),
                               ["--record", d.winpath("rec.txt")] + list(args))
        harness.wait_for_record(rec, ready, timeout=20)
        return proc, rec, harness.record_starts(rec)[0]["pid"]

    def test_qtprog_records_start_and_exit_code(self):
        d = self.install_dir("qtstart", blank=True)
        rec = d.path("rec.txt")
        rc, _ = self.wine.run(d.path("qtprog.exe"),
                              ["--record", d.winpath("rec.txt"), "--exit-code", "-3",
                               "a b", "--exit-after", "3000", "--bogus"],
                              cwd=d.unix, exact_rc=True, timeout=30)
        self.assertEqual(rc, -3)
        starts = harness.record_starts(rec)
        self.assertEqual(len(starts), 1)
        self.assertEqual(starts[0]["priority"], 0x20)
        self.assertEqual(starts[0]["cwd"].lower(), d.win.lower())
        self.assertIn('"a b"', starts[0]["cmd"])
        lines = harness.read_record(rec)
        self.assertIn("startup flags=0x0 show=1", lines)
        self.assertIn("show 1", lines)
        self.assertEqual(lines[-1], "exit -3")
        # Without the wrapper only the low byte survives, sign-extended.
        rc, _ = self.wine.run(d.path("qtprog.exe"), ["--no-window", "--exit-after", "0",
                                                     "--exit-code", "-1"], timeout=30)
        self.assertEqual(rc, -1)

    def test_qtprog_quit_ignored_then_hang_detected(self):
        proc, rec, pid = self.start_qtprog("qtquit", "show 1", "--ignore-quit",
                                           "--hang-after", "8000", "--exit-after", "30000")
        self.assertTrue(self.scm.alive(pid))
        self.assertEqual(self.scm.visible(pid), True)
        self.assertEqual(self.scm.probe(pid), (True, None))
        self.assertTrue(self.scm.quit(pid))
        harness.wait_for_record(rec, "quit ignored", timeout=5)
        self.assertTrue(self.scm.alive(pid))

        # Four console round trips must fit before the hang, also on a busy machine.
        harness.wait_for_record(rec, re.compile("^hang$"), timeout=20)
        ok, err = self.scm.probe(pid)
        self.assertFalse(ok)
        self.assertEqual(err, 1460)  # ERROR_TIMEOUT
        self.assertTrue(self.scm.kill(pid))
        self.assertFalse(self.scm.alive(pid))
        # The Unix status of a Wine process ended by TerminateProcess does
        # not carry the Windows exit code, so only its end is checked.
        self.wine.stop(proc)

    def test_qtprog_without_window_quits_on_wm_quit(self):
        proc, rec, pid = self.start_qtprog("qtnowin", "start pid=", "--no-window",
                                           "--exit-code", "5", "--exit-after", "20000")
        self.assertIsNone(self.scm.visible(pid))
        self.assertEqual(self.scm.probe(pid), (False, None))
        self.assertEqual(self.scm.priority(pid), 0x20)
        mem = self.scm.mem(pid)
        self.assertGreater(mem["ws"], 0)
        self.assertGreaterEqual(mem["peak"], mem["ws"])
        self.assertTrue(self.scm.quit(pid))
        self.assertEqual(self.wine.stop(proc), 5)
        self.assertEqual(harness.read_record(rec)[-2:], ["quit", "exit 5"])

    def test_holdfile_blocks_other_opens(self):
        d = self.install_dir("hold")
        out = d.path("held.out")
        proc = self.wine.start(d.path("holdfile.exe"), [d.winpath("locked.txt"), "3000"],
                               stdout_path=out)
        harness.wait_until(lambda: "held" in harness.read_record(out), 20,
                           "holdfile to hold the file")
        rc, text = self.wine.run(d.path("holdfile.exe"), [d.winpath("locked.txt"), "0"])
        self.assertEqual((rc, text.strip()), (1, "error=32"))  # sharing violation
        self.assertEqual(self.wine.stop(proc, timeout=20), 0)
        rc, text = self.wine.run(d.path("holdfile.exe"), [d.winpath("locked.txt"), "0"])
        self.assertEqual((rc, text.strip()), (0, "held"))

    def test_profdump_reads_values_sections_and_defaults(self):
        d = self.install_dir("prof")
        harness.write_ini(d, "[Process_0]\nAppName = C:\\a b\\x.exe \n"
                             "CommandLine=\"q\"\n[Settings]\nK=1\n")
        ini = d.winpath(harness.INI_NAME)
        queries = [
            (ini, "Process_0", "AppName", "dflt"),
            (ini, "process_0", "commandline", ""),
            (ini, "Process_0", "Missing", "dflt"),
            (ini, "Process_0", "<null>", ""),
            (ini, "<null>", "<null>", ""),
        ]
        qfile = d.path("q.txt")
        with open(qfile, "w", newline="\r\n") as f:
            for q in queries:
                f.write("\t".join(q) + "\n")
        rc, out = self.wine.run(d.path("profdump.exe"), [d.winpath("q.txt")])
        self.assertEqual(rc, 0)
        self.assertEqual(out.splitlines(), [
            "C:\\\\a b\\\\x.exe",
            "q",
            "dflt",
            "AppName\\x00CommandLine\\x00",
            "Process_0\\x00Settings\\x00",
        ])


class ServiceControl(harness.E2ETestCase):

    def test_null_service_lifecycle(self):
        d = self.install_dir("nullsvc")
        name = self.scm.unique_name("QLNull")
        self.assertFalse(self.scm.exists(name))
        self.assertEqual(self.scm.create(name, d.winpath("nullsvc.exe"), harness.OWN_PROCESS),
                         (True, None))
        self.assertEqual(self.scm.create(name, d.winpath("other.exe"))[1], 1073)  # exists
        cfg = self.scm.config(name)
        self.assertEqual((cfg["type"], cfg["start"], cfg["error"]), (0x10, 2, 1))
        self.assertEqual(cfg["display"], name)
        self.assertEqual(cfg["path"], d.winpath("nullsvc.exe"))
        self.assertEqual(self.scm.query(name)["state"], harness.STOPPED)

        t0 = time.monotonic()
        self.assertEqual(self.scm.start(name), (True, None))
        self.scm.wait(name, harness.RUNNING, 10000)
        st = self.scm.query(name)
        self.assertEqual((st["state"], st["accepted"]), (harness.RUNNING, 1))
        self.assertLess(time.monotonic() - t0, 20)
        # User-defined codes reach the handler whatever dwControlsAccepted says.
        self.assertEqual(self.scm.control(name, 128), (True, harness.RUNNING))
        ok, state = self.scm.control(name, 1)
        self.assertTrue(ok)
        self.assertIn(state, (harness.STOP_PENDING, harness.STOPPED))
        self.scm.wait(name, harness.STOPPED, 10000)
        self.assertEqual(self.scm.delete(name), (True, None))
        self.assertFalse(self.scm.exists(name))
        self.assertEqual(self.scm.query(name), None)
        self.assertEqual(self.scm.last_error, 1060)


if __name__ == "__main__":
    unittest.main()
