"""A storm of clients that leave at random points: before sending anything,
half way through their request, right after it, or while their command
runs, by a plain close or a reset. Afterwards the service has no child left,
no zombie, no process of a command, and still answers. The choices are
seeded, so a failure can be replayed."""

import random
import socket
import struct
import time
import unittest

from korbad_harness import HOST, Service, children, wait_for

CLIENTS = 300
AT_ONCE = 30
SEED = 20261209
# Writes every 50 ms, so that a plain close is noticed at the next write,
# and keeps a child, so that there is a tree to clean up.
TICKER = "sleep 1000 &\nwhile :; do echo tick; sleep 0.05; done\n"
REQUESTS = (b"ticker\n", b"ticker 1 2\n", b"hello 1 2 3\n", b"STAT_LIST\n", b"nothing\n")


class Client:
    def __init__(self, port, rng):
        self.sock = socket.create_connection((HOST, port), timeout=5)
        self.sock.setblocking(False)
        request = rng.choice(REQUESTS)
        # None: sends nothing; else a random head of the request, or all of it.
        self.sent = rng.choice((None, rng.randrange(1, len(request) + 1), len(request)))
        if self.sent:
            self.sock.send(request[:self.sent])
        self.read_limit = rng.randrange(0, 400)
        self.leave_at = time.monotonic() + rng.uniform(0, 0.3)
        self.reset = rng.random() < 0.5
        self.received = 0
        self.closed_by_peer = False

    def drain(self):
        try:
            while not self.closed_by_peer:
                data = self.sock.recv(4096)
                if not data:
                    self.closed_by_peer = True
                self.received += len(data)
        except (BlockingIOError, InterruptedError):
            pass
        except OSError:
            self.closed_by_peer = True

    def due(self):
        return (self.closed_by_peer or self.received >= self.read_limit
                or time.monotonic() >= self.leave_at)

    def leave(self):
        if self.reset:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.sock.close()


class Storm(unittest.TestCase):
    def test_clients_leaving_at_random_points_leave_nothing_behind(self):
        svc = Service(lister="script")
        svc.set_access("access 127.0.0.1\n"
                       f"command ticker {svc.script('ticker.sh', TICKER)}\n"
                       "command hello /bin/echo\n")
        with svc.start():
            rng = random.Random(SEED)
            open_clients, started = [], 0
            deadline = time.monotonic() + 30
            while (started < CLIENTS or open_clients) and time.monotonic() < deadline:
                while started < CLIENTS and len(open_clients) < AT_ONCE:
                    open_clients.append(Client(svc.port, rng))
                    started += 1
                for client in list(open_clients):
                    client.drain()
                    if client.due():
                        client.leave()
                        open_clients.remove(client)
                time.sleep(0.005)
            for client in open_clients:
                client.leave()
            self.assertEqual((started, open_clients), (CLIENTS, []), "the storm did not end")

            listener = svc.proc.pid
            self.assertTrue(wait_for(lambda: not children(listener) and not svc.others(),
                                     timeout=20),
                            (children(listener)[:10], svc.others()[:10]))
            self.assertEqual(svc.request(b"hello 1\n"), b"STAT *** OK COMMAND (cmd: hello)\n1\n")
            # Every client had a connection process: it logged the request,
            # or that the client left before one could be read.
            log = svc.log()
            self.assertEqual(len(svc.connect_pids()) + log.count(b"Nread: ")
                             + log.count(b"getpeername: "), CLIENTS + 1)


if __name__ == "__main__":
    unittest.main()
