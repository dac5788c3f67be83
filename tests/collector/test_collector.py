"""The collector against a real Korbad and the database of the test run:
what it stores and refuses, and a Korbad restart in the middle."""

import os
import signal
import subprocess
import sys
import time
import unittest

from collector_harness import HOST, Collector, Database, emitted, expected, korbad, pause, wait_for

ODD = """cat <<'EOF'
 r  b   swpd   free  inact active   si   so    bi    bo   in   cs us sy id wa st gu
 9  9  9  9  9  9  9  9  9  9  9  9  9  9  9  9  9  9
 1  0  10  100  5  6  0  0  3  4  50  60  1  2  97  0  0  0
vmstat: something odd
 2  0  20  200  5  6  0  0  3  4  50  60  1  2  97  0  0  300
 3  0  30  12x  5  6  0  0  3  4  50  60  1  2  97  0  0  0
 4  0  40  400  5  6  0  0  3  4  50  60  200  2  97  0  0  0
 r b free us
 5 1 500 7
 6 1 600 8 x y
 7 1 7
EOF
printf ' 8 1 800 9'
"""


class WithKorbad(unittest.TestCase):
    def setUp(self):
        self.db, self.svc = Database.shared(), korbad(odd=ODD)
        self.addCleanup(self.svc.stop)

    def once(self, command, count="5"):
        run = Collector(self, self.db, self.svc, "--command", command, "--count", count, "--once")
        return run, run.proc.wait(15)

    def test_once_stores_every_line_but_the_first_with_its_values(self):
        run, status = self.once("fake", "6")
        self.assertEqual(status, 0, run.log())
        self.assertEqual(len(emitted(self.svc)), 6)
        self.assertEqual(self.db.rows(run.host), expected(self.svc))

    def test_columns_follow_the_header_and_bad_lines_are_left_out(self):
        run, status = self.once("odd")  # all in one piece: the rows share a millisecond
        self.assertEqual(status, 0, run.log())
        n = None
        self.assertEqual(self.db.rows(run.host), [
            (1, 0, 10, 100, n, n, 0, 0, 3, 4, 50, 60, 1, 2, 97, 0, 0),
            (2, 0, 20, 200, n, n, 0, 0, 3, 4, 50, 60, 1, 2, 97, 0, 0),
            (5, 1, n, 500, n, n, n, n, n, n, n, n, 7, n, n, n, n),
            (6, 1, n, 600, n, n, n, n, n, n, n, n, 8, n, n, n, n)])
        for reason in ("not vmstat output", "bad free value", "bad us value",
                       "fewer values than header columns", "unfinished last line"):
            self.assertIn(reason, run.log())

    def test_refusals(self):
        run, status = self.once("hidden")
        self.assertEqual((status, self.db.rows(run.host)), (1, []))
        self.assertIn("STAT *** BAD COMMAND (no access: hidden)", run.log())
        for args, reason in ((["--count", "1"], "--count: 1 is outside 2..100000"),
                             (["--host-name", "h" * 65], "at most 64 characters")):
            bad = subprocess.run([os.environ["COLLECTOR"], "127.0.0.1:1", *args],
                                 capture_output=True, timeout=10)
            self.assertEqual(bad.returncode, 2, args)
            self.assertIn(reason, bad.stderr.decode())

    def test_korbad_restart_loses_no_line_that_was_read(self):
        run = Collector(self, self.db, self.svc, "--command", "fake", "--count", "4")
        self.assertTrue(wait_for(lambda: len(self.db.rows(run.host)) >= 8), run.log())
        pause(self.svc)
        printed = emitted(self.svc, times=True)  # a request's first line follows the last one's
        self.assertLess(max(t - printed[i - 1][1] for i, (first, t) in enumerate(printed)
                            if first and i), 0.4)  # end 0.1 s after it: no back-off between
        before = expected(self.svc)
        self.svc.kill_all()  # mid-request
        self.assertTrue(wait_for(lambda: "lost (closed after" in run.log()
                                 and "Connection refused" in run.log()), run.log())
        self.assertEqual(self.db.rows(run.host), before)

        self.svc.spawn(["-p", "%s:%d" % (HOST, self.svc.port)])  # same port
        wait_for(lambda: b"READY" in self.svc.log() or b"Bind Error" in self.svc.log())
        self.assertIn(b"READY", self.svc.log())
        up = time.monotonic()
        pause(self.svc, False)
        self.assertTrue(wait_for(lambda: len(self.db.rows(run.host)) >= len(before) + 8), run.log())
        back = time.monotonic() - up
        print("\nsampling again %.2f s after Korbad came back" % back, file=sys.stderr)
        self.assertLess(back, 6.0)  # the back-off never waits more than 5 s
        pause(self.svc)
        self.assertTrue(wait_for(lambda: self.db.rows(run.host) == expected(self.svc)), run.log())
        self.assertEqual(run.stop(signal.SIGINT), 0, run.log())
        log = run.log()
        self.assertEqual(log.count("connected; requesting"), 2, log)
        self.assertLess(len(log.splitlines()), 10, log)  # state changes, not samples


if __name__ == "__main__":
    unittest.main()
