#!/usr/bin/python3
"""Black-box tests of Sennel: usage, idle slots, reset, garbage slots, and live Druvik processes
side by side.

Usage: test_sennel.py PATH/TO/Sennel PATH/TO/Druvik [unittest arguments...]
"""

import os
import random
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import sysv_shm

PROG = DRUVIK = None
HEADER = ("\n ID  GROUP                     NAME     OpTot   ReadTot  WriteTot     Op/s   Read/s  "
          "Write/s\n  0  none                      none         0         0         0        0     "
          "   0        0\n")


def intervals(out):
    """Lines after each header: [after the start header, interval 1, ...]. Split at "\\n" only:
    garbage groups may hold bytes that str.splitlines also breaks at."""
    assert out.startswith(HEADER), repr(out[:300])
    return [[line for line in block.split("\n") if line] for block in out.split(HEADER)[1:]]


class SennelTest(unittest.TestCase):
    def setUp(self):
        self.key = sysv_shm.test_key()
        sysv_shm.remove(self.key)
        self.addCleanup(sysv_shm.remove, self.key)

    def segment(self):
        seg = sysv_shm.Segment(self.key, sysv_shm.TABLE_SIZE)
        self.addCleanup(seg.detach)
        return seg

    def run_until(self, headers, *args):
        """Sennel until it has printed `headers` headers (whole intervals: it flushes each one
        at its end), then SIGTERM: (intervals, exit status)."""
        with tempfile.TemporaryFile() as out:
            p = subprocess.Popen([PROG, str(self.key), *args], stdout=out)
            try:
                deadline = time.monotonic() + 20
                while os.pread(out.fileno(), 1 << 20, 0).count(HEADER.encode()) < headers:
                    self.assertLess(time.monotonic(), deadline, "too few intervals")
                    time.sleep(0.05)
                p.send_signal(signal.SIGTERM)
                p.wait(timeout=10)
            finally:
                p.kill()
                p.wait()
            return intervals(os.pread(out.fileno(), 1 << 20, 0).decode("latin-1")), p.returncode

    def test_usage_and_refused_timeout(self):
        for args in ([], ["505"], [str(self.key), "0"], [str(self.key), "-3"]):
            r = subprocess.run([PROG, *args], capture_output=True, text=True, timeout=10)
            self.assertEqual(r.returncode, 255)
            self.assertTrue(r.stdout.endswith("\n%s (vek) v.4.0\n\nUsage: %s key timeout [reset]\n"
                                              % (PROG, PROG)), r.stdout)
            self.assertEqual(r.stdout.startswith("\tillegal timeout: "), len(args) == 2)
        self.assertFalse(sysv_shm.exists(self.key))

    def test_idle_slot_shown_once_then_cleared(self):
        blocks, code = self.run_until(3, "1")  # creates the segment, zero-filled
        self.assertEqual(code, -signal.SIGTERM)
        self.assertTrue(len(blocks) >= 3 and not any(blocks), blocks)
        seg = self.segment()
        self.assertEqual(seg.read(), bytes(sysv_shm.TABLE_SIZE))
        seg.set_session(5, "idle", 1, 40, 30, 10)
        blocks, _ = self.run_until(3, "1")
        line = "  5  idle                  idle-005        40        30        10      0.0      0.0"
        self.assertEqual(blocks[1:3], [[line + "      0.0"], []])
        self.assertEqual(seg.session(5), ("idle", 0, 40, 30, 10))

    def test_reset_and_garbage(self):
        seg = self.segment()
        table = bytearray(random.Random(11).getrandbits(8) for _ in range(sysv_shm.TABLE_SIZE))
        table[:48] = b"ZZZ\x1b" + b"Z" * 28 + (1).to_bytes(4, "little") * 4  # group without NUL
        seg.write(0, bytes(table))
        blocks, code = self.run_until(3, "1")
        self.assertEqual(code, -signal.SIGTERM, "still running when stopped")
        first = blocks[1]
        self.assertEqual(first[0][:74], "  1  ZZZ?" + "Z" * 27 + "  ZZZ?" + "Z" * 27 + "-001 ")
        # A line per alive slot, each bounded: at most 31 characters of group, no control
        # characters, counters and rates at the end.
        alive = [i + 1 for i in range(1024) if table[48 * i + 32:48 * i + 36] != bytes(4)]
        self.assertEqual([int(line[:4]) for line in first], alive)
        for line in first:
            self.assertLess(len(line), 2 * 31 + 100, line)
            self.assertFalse(re.search(r"[\x00-\x1f\x7f]", line), repr(line))
            self.assertTrue(re.search(r"-\d{3,4}(  +-?\d+){3}(  +-?\d+\.\d){3}$", line), line)
        self.assertEqual(blocks[2], [], "every slot was idle and got cleared")
        seg.write(0, bytes(table))
        blocks, _ = self.run_until(2, "1", "reset")
        self.assertEqual(seg.read(), bytes(sysv_shm.TABLE_SIZE))
        self.assertFalse(any(blocks), blocks)

    def test_live_benchmarks_side_by_side(self):
        with tempfile.NamedTemporaryFile() as data:
            data.write(bytes(64 * 1024))
            data.flush()
            reporter = subprocess.Popen([PROG, str(self.key), "1", "reset"],
                                        stdout=subprocess.PIPE)
            self.addCleanup(reporter.wait)
            self.addCleanup(reporter.kill)
            reporter.stdout.read(len(HEADER))  # the segment exists and has been reset
            benches = [subprocess.Popen(
                [DRUVIK, "-i", str(ident), "-k", str(self.key), "-g", group, "-m", "rnd", "-b",
                 "0", "-e", "64", "-s", "1", "-l", "200", "-n", "500", data.name],
                stdout=subprocess.DEVNULL) for ident, group in ((9, "alpha"), (10, "beta"))]
            self.assertEqual([b.wait(timeout=20) for b in benches], [0, 0])
        time.sleep(1.2)  # one more interval after the last operation
        reporter.send_signal(signal.SIGTERM)
        out = reporter.communicate(timeout=10)[0].decode("latin-1")
        seen = {}
        for block in intervals(HEADER + out):
            for line in block:
                m = re.match(r"^ *\d+  (\S+) +\S+-\d+ +(\d+) +\d+ +\d+ +([\d.]+) ", line)
                self.assertTrue(m, line)
                seen.setdefault(m.group(1), []).append((int(m.group(2)), float(m.group(3))))
        self.assertEqual(sorted(seen), ["alpha", "beta"], out)
        for rows in seen.values():
            # Counters grow to the final 500; some interval ran near the 200 I/Os a second.
            self.assertEqual(rows[-1][0], 500, rows)
            self.assertEqual(rows, sorted(rows, key=lambda r: r[0]))
            self.assertTrue(any(100 <= rate <= 400 for _, rate in rows), rows)


if __name__ == "__main__":
    PROG, DRUVIK = sys.argv.pop(1), sys.argv.pop(1)
    unittest.main()
