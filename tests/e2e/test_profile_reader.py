"""The simulated profile reader against the real one: every lookup of a corpus
of awkward files must give the same text from GetPrivateProfileStringA under
Wine (profdump.exe) and from the native build's reader (profdump_native).

QL_NATIVE_BIN_DIR names the native build folder (default: build/native of
this checkout).

Lookups whose real answer depends on memory past a file's end are left out
of the comparison; the test prints how many it holds and leaves out."""

import os
import shutil
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "profile"))

import harness  # noqa: E402
import make_corpus  # noqa: E402

SHOWN_MISMATCHES = 20
RANDOM_FILES = 200
MIN_LOOKUPS = 3100  # the corpus shrinking unnoticed would hollow the test out
MAX_LEFT_OUT = 20   # nor may leaving lookups out grow unnoticed


def native_tool():
    folder = os.environ.get("QL_NATIVE_BIN_DIR") or os.path.join(ROOT, "build", "native")
    return os.path.join(folder, "profdump_native")


def lines_of(output):
    """Output lines; both tools end every line with CR LF."""
    return output.replace("\r\n", "\n").split("\n")[:-1] if output else []


class ProfileReaderTest(harness.E2ETestCase):

    def setUp(self):
        super().setUp()
        self.tool = native_tool()
        if not os.access(self.tool, os.X_OK):
            self.fail("native query tool not built: %s (set QL_NATIVE_BIN_DIR)" % self.tool)
        self.unix_dir = os.path.join(self.wine.drive_c, "qlprof_%d" % os.getpid())
        shutil.rmtree(self.unix_dir, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.unix_dir, True)
        self.win_dir = self.wine.to_windows(self.unix_dir)

    def run_wine(self, query_path):
        rc, out = self.wine.run(self.wine.bin("profdump.exe"),
                                [self.wine.to_windows(query_path)], timeout=120)
        self.assertEqual(rc, 0, "profdump.exe failed: %s %s" % (out, self.wine.last_stderr))
        return lines_of(out)

    def run_native(self, query_path):
        proc = subprocess.run([self.tool, "--drive-c", self.wine.drive_c, query_path],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(proc.returncode, 0,
                         "profdump_native failed: %s" % proc.stderr.decode("latin-1"))
        out = proc.stdout.decode("latin-1")
        self.assertTrue(out.endswith("\r\n"), "profdump_native lines must end in CR LF")
        return lines_of(out)

    def test_every_lookup_agrees_with_the_real_reader(self):
        corpus = make_corpus.write_corpus(self.unix_dir, self.win_dir,
                                          random_count=RANDOM_FILES)
        query_path = corpus.query_path
        with open(query_path, "rb") as f:
            queries = [q for q in f.read().decode("latin-1").split("\r\n") if q]
        self.assertEqual(len(queries), len(corpus.queries))
        reasons = {}
        for _, why in corpus.left_out:
            reasons[why] = reasons.get(why, 0) + 1
        print("profile reader: %d lookups compared, %d left out%s"
              % (len(queries), len(corpus.left_out),
                 "".join("\n  %d: %s" % (n, why) for why, n in sorted(reasons.items()))))
        self.assertGreaterEqual(len(queries), MIN_LOOKUPS)
        self.assertLessEqual(len(corpus.left_out), MAX_LEFT_OUT)
        # The odd-length files still answer for the lines before their last.
        self.assertTrue(any(q.endswith("utf16be_odd.ini\tU\tk\tdflt") for q in queries))

        theirs = self.run_wine(query_path)
        ours = self.run_native(query_path)
        self.assertEqual(len(theirs), len(queries), "profdump.exe: one line per lookup")
        self.assertEqual(len(ours), len(queries), "profdump_native: one line per lookup")

        mismatches = [(q, w, n) for q, w, n in zip(queries, theirs, ours) if w != n]
        if mismatches:
            report = ["%d of %d lookups differ; the first ones:" % (len(mismatches), len(queries))]
            for q, w, n in mismatches[:SHOWN_MISMATCHES]:
                path, section, key, default = q.split("\t")
                report.append("  file %s  section %r  key %r  default %r\n"
                              "    wine: %r\n    ours: %r" % (path.rsplit("\\", 1)[-1], section,
                                                              key, default, w, n))
            self.fail("\n".join(report))
        print("profile reader: %d lookups agree" % len(queries))


if __name__ == "__main__":
    unittest.main()
