#!/usr/bin/python3
"""Black-box tests of Druvik: options and messages, files, positions, the rw chain, loop mode,
pacing, signals and the published slot.

Usage: test_druvik.py PATH/TO/Druvik [unittest arguments...]
"""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import sysv_shm

PROG = None
USAGE_TAIL = "\nNote: both -e and -b  must be specified for random I/Os\n"
PATTERN = bytes((i + 32) % 128 for i in range(1024))  # the first KB of the data buffer


def counts(out):
    """(reads, writes) of a final report."""
    m = re.search(r"Reads: (\d+)\nWrites: (\d+)\nIOs: (\d+)\n", out)
    assert m and int(m.group(1)) + int(m.group(2)) == int(m.group(3)), out
    return int(m.group(1)), int(m.group(2))


class DruvikTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="druvik-bb-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.key = sysv_shm.test_key()
        sysv_shm.remove(self.key)
        self.addCleanup(sysv_shm.remove, self.key)

    def file(self, name, blocks, block=1024, fill=b"\0"):
        """A file of blocks of `fill`; with fill=None block i holds byte i."""
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            for i in range(blocks):
                f.write((bytes([i % 256]) if fill is None else fill) * block)
        return path

    def blocks(self, path, block=1024):
        with open(path, "rb") as f:
            data = f.read()
        return [data[i:i + block] for i in range(0, len(data), block)]

    def druvik(self, *args, env=None, status=0):
        # Bytes decoded by hand: text mode would turn the report's "\r" into "\n".
        r = subprocess.run([PROG, *args], capture_output=True, timeout=30, env=env)
        out, err = r.stdout.decode(), r.stderr.decode()
        self.assertEqual(r.returncode, status, out + err)
        return out, err

    def background(self, *args):
        p = subprocess.Popen([PROG, *args], stdout=subprocess.PIPE)
        self.addCleanup(p.wait)
        self.addCleanup(p.kill)
        return p

    def test_usage_and_refusals(self):
        out, err = self.druvik("-h", status=254)
        self.assertEqual(out, "")
        self.assertTrue(err.startswith("\n%s (vek) v.4.0\nUsage: %s Options  File [File2]\n"
                                       % (PROG, PROG)) and err.endswith(USAGE_TAIL), err)
        f = self.file("data", 4)
        size = "\t illegal IOsize: should be between 1 and 10240 KB\n"
        cases = [(["-s", "0"], size), (["-s", "10241"], size),
                 (["-c", "append"], "\tillegal command append\n"),
                 (["-m", "back"], "\tillegal I/O mode: back\n"),
                 (["-t", "direct"], "\tillegal I/O type: direct\n"),
                 (["-o", "W"], "\t RW-Order chain is too short!\n"),
                 (["-n", "-5", "-e", "10"], "\t illegal I/O count: should be 0 or more\n"),
                 (["-l", "4", "-s", "8"], "\t illegal KB/s limit < IO size\n"),
                 (["-m", "rnd", "-b", "9", "-e", "9"], ""), (["-x"], "")]
        cases = [(args + ["-i", "-1", f], message) for args, message in cases]
        cases += [(["-i", "-1"], ""), ([f], "\t Empty ID number...\n")]  # no file; no -i
        for args, message in cases:
            with self.subTest(args=args):
                out, err = self.druvik(*args, status=254)
                self.assertEqual(out, message)
                self.assertTrue(err.endswith(USAGE_TAIL), err)
        big = self.file("big", 20, block=1 << 20)
        out, _ = self.druvik("-s", "10240", "-n", "2", "-i", "-1", big)
        self.assertIn("I/O size: 10485760 bytes\n", out)
        self.assertEqual(counts(out), (2, 0))

    def test_missing_file_is_not_created(self):
        path = os.path.join(self.tmp, "absent")
        present = self.file("present", 4)
        for args in (["-c", "read", path], ["-c", "write", path], ["-c", "rw", present, path]):
            _, err = self.druvik("-i", "-1", *args, status=2)  # ENOENT
            self.assertEqual(err, "\n### I/O ERROR: %s  errno: 2\n" % path)
            self.assertFalse(os.path.exists(path))

    def test_sequential_writes_in_place(self):
        f = self.file("data", 300, fill=b"\1")
        out, _ = self.druvik("-c", "write", "-s", "1", "-b", "100", "-e", "200", "-i", "-1", f)
        self.assertIn("Files: R[-] W[%s], RW-Order:RW  P-syscall:no offset:100 nbrec:100 \n" % f,
                      out)
        self.assertEqual(counts(out), (0, 100))
        self.assertEqual(self.blocks(f), [b"\1" * 1024] * 100 + [PATTERN] * 100 +
                         [b"\1" * 1024] * 100)  # nothing truncated either

    def test_end_of_file_stops_a_sequential_run(self):
        f = self.file("short", 10)
        for args, reads in ((["-n", "100"], 10), (["-t", "aio", "-b", "4"], 6)):
            out, err = self.druvik("-s", "1", "-i", "-1", *args, f)
            self.assertIn("\n## End of file reached on %s: sequential run stopped\n" % f, out)
            self.assertEqual(counts(out), (reads, 0))
            self.assertEqual(err, "")

    def test_end_of_file_stops_a_random_run(self):
        f = self.file("short", 10)
        for extra in ([], ["-P"], ["-t", "aio"]):
            with self.subTest(extra=extra):
                # Pipes left unread until the end: a run that floods standard error blocks on
                # it instead of filling memory, and is killed.
                with subprocess.Popen([PROG, "-m", "rnd", "-s", "1", "-e", "100000", "-n", "1000",
                                       "-i", "-1", *extra, f], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE) as p:
                    try:
                        p.wait(timeout=5)
                    except subprocess.TimeoutExpired:
                        p.kill()
                        p.wait()
                    out, err = p.stdout.read().decode(), p.stderr.read(1024).decode()
                self.assertEqual(p.returncode, 0, err)
                self.assertIn("\n## End of file reached on %s: random run stopped\n" % f, out)
                self.assertLess(counts(out)[0], 1000)
                self.assertEqual(err, "")

    def test_random_positions_stay_between_begin_and_end(self):
        for extra in ([], ["-P"], ["-t", "aio"], ["-t", "osync", "-P"]):
            with self.subTest(extra=extra):
                f = self.file("data", 40, fill=b"\1")
                out, _ = self.druvik("-c", "write", "-m", "rnd", "-s", "1", "-b", "10", "-e", "20",
                                     "-n", "300", "-i", "-1", *extra, f)
                self.assertEqual(counts(out), (0, 300))
                touched = [i for i, b in enumerate(self.blocks(f)) if b != b"\1" * 1024]
                self.assertTrue(set(touched) <= set(range(10, 20)) and len(touched) > 5, touched)
                self.assertTrue(all(self.blocks(f)[i] == PATTERN for i in touched))

    def test_rw_chain_one_file_and_two(self):
        # Reads and writes share the data buffer, so each write puts back what the read before
        # it found: that tells which block went where.
        one = self.file("one", 100, fill=None)
        out, _ = self.druvik("-c", "rw", "-o", "RRW", "-s", "1", "-n", "30", "-i", "-1", one)
        self.assertEqual(counts(out), (20, 10))
        # One file: reads and writes share its position; block 3k+2 gets block 3k+1.
        self.assertEqual(self.blocks(one), [bytes([i - (i % 3 == 2 and i < 30)]) * 1024
                                            for i in range(100)])
        src, dst = self.file("src", 100, fill=None), self.file("dst", 100, fill=b"\xff")
        out, _ = self.druvik("-c", "rw", "-o", "RRW", "-s", "1", "-n", "30", "-t", "aio", "-i",
                             "-1", src, dst)
        self.assertIn("Files: R[%s] W[%s], RW-Order:RRW" % (src, dst), out)
        self.assertEqual(counts(out), (20, 10))
        # Two files: the writes go to the second, block k getting source block 2k+1.
        self.assertEqual(self.blocks(src), [bytes([i]) * 1024 for i in range(100)])
        self.assertEqual(self.blocks(dst), [bytes([2 * k + 1]) * 1024 for k in range(10)] +
                         [b"\xff" * 1024] * 90)

    def test_loop_mode_wraps_to_begin(self):
        f = self.file("data", 300, fill=b"\1")
        p = self.background("-c", "write", "-s", "1", "-b", "100", "-e", "200", "-L", "-i", "-1", f)
        time.sleep(1.0)
        p.send_signal(signal.SIGTERM)
        out = p.communicate(timeout=10)[0].decode()
        self.assertEqual(p.returncode, 0)
        self.assertIn("\rTermination required\nElapsed: ", out)
        # Counted since the last wrap: at most one pass over the 100 blocks (a stop
        # that lands right after the 100th write, before the wrap, reads 100).
        self.assertLessEqual(counts(out)[1], 100)
        self.assertEqual(self.blocks(f), [b"\1" * 1024] * 100 + [PATTERN] * 100 +
                         [b"\1" * 1024] * 100)

    def test_pacing_to_the_limit(self):
        f = self.file("data", 40, block=8192)
        start = time.monotonic()
        out, _ = self.druvik("-l", "80", "-n", "25", "-i", "-1", f)
        elapsed = time.monotonic() - start
        self.assertIn("I/O throughput limited to: 80 KB/sec (10 IO/sec)\n", out)
        self.assertEqual(counts(out), (25, 0))
        # 10 I/Os a second: waits for the next second at 10 and at 20.
        self.assertTrue(1.0 <= elapsed < 4.0, elapsed)

    def test_signals(self):
        f = self.file("data", 64)
        for io_type, limit in (("buff", "2000"), ("aio", "0")):
            with self.subTest(io_type=io_type):
                p = self.background("-t", io_type, "-c", "rw", "-m", "rnd", "-b", "0", "-e", "64",
                                    "-s", "1", "-l", limit, "-i", "-1", f)
                while not p.stdout.readline().startswith(b"==> "):
                    pass
                time.sleep(0.3)
                if io_type == "buff":  # a status line; the aio type keeps no SIGUSR1 handler
                    p.send_signal(signal.SIGUSR1)
                    time.sleep(0.3)
                p.send_signal(signal.SIGINT)
                out = p.communicate(timeout=10)[0].decode()
                self.assertEqual(p.returncode, 0)
                self.assertIn("\rTermination required\nElapsed: ", out)
                reads, writes = counts(out)
                self.assertTrue(reads > 0 and reads - writes in (0, 1), out)  # RW, cut anywhere
                if io_type == "buff":
                    self.assertTrue(re.search(r"^SIG aio: [1-9]\d*$", out, re.M), out)

    def test_published_slot(self):
        f = self.file("data", 100)
        out, _ = self.druvik("-i", "7", "-k", str(self.key), "-g", "bench-a", "-s", "1", "-n",
                             "50", f)
        self.assertIn("\n## STAT>  shmkey: %d  group: bench-a  id: 7\n" % self.key, out)
        seg = sysv_shm.Segment(self.key, sysv_shm.TABLE_SIZE)
        self.addCleanup(seg.close)
        self.assertEqual(seg.session(7), ("bench-a", 1, 50, 50, 0))
        env = dict(os.environ, SHMKEY=str(self.key))
        for ident in ("0", "2000"):  # out of range: slot 1; the key from the environment
            out, _ = self.druvik("-c", "write", "-i", ident, "-s", "1", "-n", "5", "-g", "x" * 40,
                                 f, env=env)
            self.assertIn("group: %s  id: 1\n" % ("x" * 31), out)
            self.assertEqual(seg.session(1), ("x" * 31, 1, 5, 0, 5))
        seg.close()
        sysv_shm.Segment(self.key, 100).detach()  # too small for the table
        out, _ = self.druvik("-i", "1", "-k", str(self.key), "-n", "1", f, status=254)
        self.assertTrue(out.endswith("\n### Cannot get SHM...\n"), out)
        sysv_shm.remove(self.key)
        out, _ = self.druvik("-i", "-1", "-s", "1", "-n", "4", f, env=env)
        self.assertEqual(counts(out), (4, 0))
        self.assertNotIn("## STAT>", out)
        self.assertFalse(sysv_shm.exists(self.key))


if __name__ == "__main__":
    PROG = sys.argv.pop(1)
    unittest.main()
