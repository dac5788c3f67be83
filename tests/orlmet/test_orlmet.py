#!/usr/bin/python3
"""Black-box tests of Orlmet: usage and refusals, and live clients beside garbage slots.

Usage: test_orlmet.py PATH/TO/Orlmet [unittest arguments...]
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import sysv_shm

PROG = None
HEADER = "\n_______Group-ID__    Tot  Rds  Wrs    SEL1    SEL2     DEL     INS     UPD C/N\n"
NUMBERS = r" +(-?\d+)" * 9 + "$"
MOVING = (1, 2, 3, 5, 6)  # clients whose reads grow; 4 stands still


class OrlmetTest(unittest.TestCase):
    def setUp(self):
        self.key = sysv_shm.test_key()
        sysv_shm.remove(self.key)
        self.addCleanup(sysv_shm.remove, self.key)

    def test_usage_and_refusals(self):
        usage = "\n%s (vek) v.1.3\n\nUsage: %s key MaxID timeout [skip_every_N]\n" % (PROG, PROG)
        key = str(self.key)
        for args, message in ((["505", "10"], ""), ([key, "0", "1"], "\tillegal MaxID: 0\n"),
                              ([key, "100001", "1"], "\tillegal MaxID: 100001\n"),
                              ([key, "5", "0"], "\tillegal timeout: 0 (whole seconds, at least "
                                                "1)\n")):
            r = subprocess.run([PROG, *args], capture_output=True, text=True, timeout=10)
            self.assertEqual(r.returncode, 255)
            self.assertTrue(r.stdout.startswith(message + usage + "  MaxID"), r.stdout)
            self.assertIn("skip_every_N -- print only the 1st, (N+1)th, (2N+1)th... changed "
                          "client line\n", r.stdout)
        self.assertFalse(sysv_shm.exists(self.key))
        sysv_shm.Segment(self.key, 3 * sysv_shm.SLOT_SIZE).detach()
        r = subprocess.run([PROG, key, "4", "1"], capture_output=True, text=True, timeout=10)
        self.assertEqual((r.returncode, r.stdout), (254, "### Cannot get SHM...\n"))

    def test_live_clients_beside_garbage(self):
        seg = sysv_shm.Segment(self.key, 8 * sysv_shm.SLOT_SIZE)
        self.addCleanup(seg.detach)
        seg.set_client(4, "still 10 10 30 0 50 0 0 10")
        seg.set_client(7, "junk abc def ghi jkl mno pqr stu vwx")  # words, not numbers
        seg.set_client(8, b"\x1b" * 7 + b"9" * 193)  # the table's last slot, no NUL in it
        fixed = seg.read(600, 200) + seg.read(1200)
        stop = threading.Event()

        def clients():  # one read and one write each per 50 ms: SEL1 3 and DEL 5 per operation
            n = 0
            while not stop.is_set():
                n += 1
                for i in MOVING:
                    group = "g" * 31 if i == 6 else "c%d" % i
                    seg.set_client(i, "%s %d %d %d 0 %d 0 0 %d" % (group, n, n, 3 * n, 5 * n, n))
                time.sleep(0.05)

        writer = threading.Thread(target=clients)
        writer.start()
        p = None
        try:
            with tempfile.TemporaryFile() as out:
                p = subprocess.Popen([PROG, str(self.key), "8", "1"], stdout=out)
                deadline = time.monotonic() + 20
                while os.pread(out.fileno(), 1 << 20, 0).count(HEADER.encode()) < 3:
                    self.assertLess(time.monotonic(), deadline, "too few intervals")
                    time.sleep(0.05)
                p.send_signal(signal.SIGTERM)
                p.wait(timeout=10)
                text = os.pread(out.fileno(), 1 << 20, 0).decode("latin-1")
        finally:
            stop.set()
            writer.join()
            if p is not None and p.poll() is None:
                p.kill()
                p.wait()
        self.assertEqual(p.returncode, -signal.SIGTERM, "still running when stopped")
        self.assertEqual(seg.read(600, 200) + seg.read(1200), fixed, "the reporter never writes")
        blocks = [block.split("\n")[:-1] for block in text.split(HEADER)]
        self.assertEqual(blocks[0], [])
        self.assertGreaterEqual(len(blocks), 4, text)
        for lines in blocks[2:]:  # whole intervals
            clients = [re.match(r"^ *(\S+)-(\d{4})" + NUMBERS, line) for line in lines[:-2]]
            self.assertTrue(all(clients), lines)
            self.assertEqual([int(m.group(2)) for m in clients], list(MOVING))
            for m in clients:
                tot, rds, wrs, sel1, sel2, dele, ins, upd, _ = (int(x) for x in m.groups()[2:])
                group = "g" * 31 if m.group(2) == "0006" else "c" + m.group(2)[-1]
                self.assertEqual(m.group(1), group)
                self.assertGreater(rds, 5)  # about 20 in a second
                self.assertEqual((tot, wrs, sel1, sel2, dele, ins, upd),
                                 (2 * rds, rds, 3, 0, 5, 0, 0))
            total = re.match(r"^ +ALL-sum " + NUMBERS, lines[-2])
            self.assertTrue(total and re.match(r"^ +ALL-tps " + NUMBERS, lines[-1]), lines)
            tot, rds, wrs, sel1, _, dele, _, _, changed = (int(x) for x in total.groups())
            self.assertEqual((tot, sel1, dele, changed), (rds + wrs, 3, 5, len(MOVING)), lines)


if __name__ == "__main__":
    PROG = sys.argv.pop(1)
    unittest.main()
