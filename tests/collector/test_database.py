"""The collector while a private mariadbd goes away: stopped cleanly, then
killed, and started again on the same data directory; or replaced by a
socket that never answers while the collector is stopped."""

import os
import signal
import socket
import sys
import time
import unittest

from collector_harness import Collector, PrivateServer, emitted, expected, korbad, pause, wait_for

QUEUE = 10


class DatabaseOutage(unittest.TestCase):
    def setUp(self):
        self.server = PrivateServer()
        self.addCleanup(self.server.remove)
        self.server.start()
        self.db, self.svc = self.server.database(), korbad()
        self.addCleanup(self.svc.stop)
        self.col = Collector(self, self.db, self.svc, "--command", "fake", "--count", "8",
                             "--queue", str(QUEUE))
        self.assertTrue(wait_for(lambda: len(self.db.rows(self.col.host)) >= 4), self.col.log())

    def outage(self, lines, signum=signal.SIGTERM):
        """Stops the server while the fake holds, lets it print `lines` more
        lines and holds it again; returns the rows read meanwhile."""
        pause(self.svc)
        self.assertTrue(wait_for(lambda: self.db.rows(self.col.host) == expected(self.svc)))
        stored, printed = len(expected(self.svc)), len(emitted(self.svc))
        self.server.stop(signum)
        pause(self.svc, False)
        self.assertTrue(wait_for(lambda: len(emitted(self.svc)) >= printed + lines))
        pause(self.svc)
        return expected(self.svc)[stored:]

    def back(self):
        self.server.start()
        up = time.monotonic()
        self.assertTrue(wait_for(
            lambda: "answering again" in self.col.log().rsplit("unavailable", 1)[-1]))
        took = time.monotonic() - up
        time.sleep(0.3)  # the queue is written right after that line
        return self.db.rows(self.col.host), took

    def test_restarts_keep_what_fits_in_the_queue_and_drop_the_oldest(self):
        queued = self.outage(QUEUE - 2)
        rows, took = self.back()
        print("\n%d queued rows written %.2f s after a clean restart" % (len(queued), took),
              file=sys.stderr)
        self.assertEqual(rows, expected(self.svc))
        self.assertLess(took, 6.0)

        queued = self.outage(QUEUE + 5, signal.SIGKILL)
        dropped = len(queued) - QUEUE
        rows, took = self.back()
        print("%d written %.2f s after a crash, %d oldest dropped" % (QUEUE, took, dropped),
              file=sys.stderr)
        self.assertEqual(rows, [r for r in expected(self.svc) if r not in queued[:dropped]])
        log = self.col.log()
        self.assertIn("queue full (%d rows)" % QUEUE, log)
        self.assertIn("writing %d queued rows (%d older ones were dropped)" % (QUEUE, dropped), log)
        self.assertEqual(log.count("unavailable"), 2, log)
        self.assertEqual(self.col.stop(signal.SIGTERM), 0, log)

    def test_stop_writes_the_queue_if_the_database_answers(self):
        self.outage(3)
        os.kill(self.col.proc.pid, signal.SIGSTOP)  # so only the stop can write
        self.server.start()
        self.col.proc.send_signal(signal.SIGTERM)
        os.kill(self.col.proc.pid, signal.SIGCONT)
        self.assertEqual(self.col.proc.wait(15), 0, self.col.log())
        self.assertEqual(self.db.rows(self.col.host), expected(self.svc))

    def test_stop_is_bounded_when_the_database_does_not_answer(self):
        queued = self.outage(3)
        mute = socket.socket(socket.AF_UNIX)  # accepts, then says nothing
        self.addCleanup(mute.close)
        if os.path.exists(self.server.socket):
            os.remove(self.server.socket)
        mute.bind(self.server.socket)
        mute.listen(16)
        start = time.monotonic()
        self.assertEqual(self.col.stop(signal.SIGTERM, timeout=20), 0, self.col.log())
        took = time.monotonic() - start
        print("\nstopped in %.2f s with a mute database" % took, file=sys.stderr)
        self.assertLess(took, 8.0)  # one database operation (5 s) and the 2 s bound
        self.assertIn("stopping with %d rows unwritten" % len(queued), self.col.log())


if __name__ == "__main__":
    unittest.main()
