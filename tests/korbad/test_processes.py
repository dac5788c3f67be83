"""Processes: a client that goes away ends its command's whole tree (one
that has only finished sending is still served), SIGTERM to the listener
ends everything, a connection stopped by hand ends alone, and two hundred
simultaneous clients are served without leaving zombies."""

import os
import selectors
import signal
import socket
import struct
import time
import unittest

from korbad_harness import HOST, Service, alive, children, proc_stat, read_all, wait_for

# Prints a line, then waits on children and grandchildren; one of them
# ignores SIGTERM, so only the tree clean-up can end it.
TREE = """sleep 1000 &
sh -c 'sleep 1001 & sleep 1002' &
sh -c "trap '' TERM; sleep 1005" &
echo started
wait
"""
BEFORE_FIRST_LINE = "sleep 1003 &\nsleep 1004\necho late\n"
CHATTY = "yes chatty\n"
PACED = "echo one\nsleep 0.3\necho two\n"


def make_service(lister="script"):
    svc = Service(lister=lister)
    svc.set_access("access 127.0.0.1\n" + "".join(
        f"command {name} {svc.script(name + '.sh', body)}\n"
        for name, body in (("tree", TREE), ("before", BEFORE_FIRST_LINE),
                           ("chatty", CHATTY), ("paced", PACED)))
        # A program that runs without a shell, so that hundreds of
        # requests cost little more than the service's own work.
        + "command hello /bin/echo\n")
    return svc.start()


def descendants(pid):
    found, todo = [], [pid]
    while todo:
        for child, state in children(todo.pop()):
            if state != "Z":
                found.append(child)
                todo.append(child)
    return found


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat", "rb") as f:
        data = f.read()
    fields = data[data.rindex(b")") + 2:].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def leave(sock, reset=False):
    if reset:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    sock.close()


class ClientGoesAway(unittest.TestCase):
    def start_tree(self, svc, request, first=b"", size=3, half_close=False):
        """Starts request, reads the first bytes; returns the socket, the
        connection process and the tree it has."""
        known = len(svc.connect_pids())
        s = svc.connect(request)
        if half_close:
            s.shutdown(socket.SHUT_WR)
        if first:
            self.assertTrue(s.recv(len(first), socket.MSG_WAITALL).startswith(first))
        conn = wait_for(lambda: svc.connect_pids()[known:])[0]
        tree = wait_for(lambda: len(descendants(conn)) >= size and descendants(conn))
        self.assertTrue(tree, "the command did not start its children")
        return s, conn, tree

    def leave_during(self, svc, request, first=b"", size=3, reset=False, half_close=False):
        """Starts request, reads the first bytes, leaves; returns the tree it had."""
        s, conn, tree = self.start_tree(svc, request, first, size, half_close)
        leave(s, reset)
        return conn, tree

    def assert_all_gone(self, svc, pids):
        left = wait_for(lambda: not [p for p in pids if alive(p)], timeout=10)
        self.assertTrue(left, [(p, proc_stat(p)) for p in pids if alive(p)])

    def test_tree_is_killed_with_the_script(self):
        svc = make_service("script")
        with svc:
            conn, tree = self.leave_during(svc, b"tree\n", b"STAT *** OK COMMAND (cmd: tree)\n")
            self.assert_all_gone(svc, tree + [conn])
            self.assertEqual(svc.others(), [])
            self.assertIn(b'Korbad-%d:> Exit -> [127.0.0.1] CMD= "tree\\n"' % conn, svc.log())
            # A command that is still writing, and one that never wrote.
            conn, tree = self.leave_during(svc, b"chatty\n", b"STAT *** OK", size=1)
            self.assert_all_gone(svc, tree + [conn])
            # Having read nothing, a plain close would look like a half-close
            # until the service next writes, which this command never does; a
            # reset is seen at once.
            conn, tree = self.leave_during(svc, b"before\n", reset=True)
            self.assert_all_gone(svc, tree + [conn])
            self.assertEqual(svc.others(), [])
            self.assertTrue(alive(svc.proc.pid))

    def test_client_that_finished_sending_gets_the_whole_reply(self):
        with make_service() as svc, svc.connect(b"paced\n") as s:
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(read_all(s), b"STAT *** OK COMMAND (cmd: paced)\none\ntwo\n")

    def test_client_that_finished_sending_is_gone_once_it_closes(self):
        svc = make_service()
        with svc:
            # A close during a chatty command still ends its tree.
            conn, tree = self.leave_during(svc, b"chatty\n", b"STAT *** OK", size=1,
                                           half_close=True)
            self.assert_all_gone(svc, tree + [conn])
            # During a silent one the end of the client's stream must not keep
            # waking the service, and its reset must still be seen.
            s, conn, tree = self.start_tree(svc, b"tree\n", b"STAT *** OK", half_close=True)
            used = cpu_seconds(conn)
            time.sleep(0.3)
            self.assertLess(cpu_seconds(conn) - used, 0.1)
            leave(s, reset=True)
            self.assert_all_gone(svc, tree + [conn])
            self.assertEqual(svc.others(), [])

    def test_tree_is_killed_with_the_ptree_tool(self):
        svc = make_service("ptree")
        with svc:
            conn, tree = self.leave_during(svc, b"tree\n", b"STAT *** OK")
            self.assert_all_gone(svc, tree + [conn])
            self.assertEqual(svc.others(), [])

    def test_without_a_lister_only_the_connection_ends(self):
        svc = make_service(None)
        with svc:
            conn, tree = self.leave_during(svc, b"tree\n", b"STAT *** OK")
            self.assertTrue(wait_for(lambda: not alive(conn)))
            time.sleep(0.2)
            self.assertTrue(all(alive(p) for p in tree))


class Termination(unittest.TestCase):
    def test_sigterm_to_listener_ends_everything(self):
        svc = make_service()
        with svc:
            silent = svc.connect()  # never sends: waits out its request time-out
            busy = [svc.connect(b"tree\n") for _ in range(2)]
            for s in busy:
                self.assertEqual(s.recv(40, socket.MSG_WAITALL)[:12], b"STAT *** OK ")
            self.assertTrue(wait_for(lambda: len(svc.others()) >= 3 + 2 * 6))
            everything = svc.processes()
            os.kill(svc.proc.pid, signal.SIGTERM)
            self.assertEqual(svc.proc.wait(timeout=10), 0)
            self.assertTrue(wait_for(lambda: not [p for p in everything if alive(p)]),
                            [p for p in everything if alive(p)])
            for s in [silent] + busy:
                read_all(s, timeout=5)  # ends, rather than timing out
                s.close()
            self.assertIn(b"Korbad-%d: *** EXIT: got SIGTERM! ***\n" % svc.proc.pid, svc.log())

    def test_sigterm_to_one_connection_ends_only_that_one(self):
        svc = make_service()
        with svc:
            first = svc.connect(b"tree\n")
            first.recv(12, socket.MSG_WAITALL)
            conn1 = wait_for(lambda: svc.connect_pids())[0]
            second = svc.connect(b"tree\n")
            second.recv(12, socket.MSG_WAITALL)
            conn2 = wait_for(lambda: len(svc.connect_pids()) == 2 and svc.connect_pids())[1]
            tree1 = wait_for(lambda: len(descendants(conn1)) >= 4 and descendants(conn1))
            tree2 = wait_for(lambda: len(descendants(conn2)) >= 4 and descendants(conn2))
            os.kill(conn1, signal.SIGTERM)
            self.assertTrue(wait_for(lambda: not [p for p in tree1 + [conn1] if alive(p)]))
            self.assertIn(b"Korbad-%d: *** EXIT: got SIGTERM! ***\n" % conn1, svc.log())
            self.assertTrue(all(alive(p) for p in tree2 + [conn2, svc.proc.pid]))
            self.assertEqual(svc.request(b"hello 1\n"), b"STAT *** OK COMMAND (cmd: hello)\n1\n")
            first.close()
            second.close()


class WithOptions(Service):
    """A service started with options after its "-p"."""

    def __init__(self, access, options):
        super().__init__(access)
        self.options = options

    def spawn(self, args):
        return super().spawn(args + self.options)


class Limits(unittest.TestCase):
    def test_silent_client_is_dropped_after_the_request_time_out(self):
        with WithOptions("command hello /bin/echo\n", ["-t", "1"]) as svc, svc.connect() as s:
            start = time.monotonic()
            self.assertEqual(read_all(s, timeout=5), b"")
            self.assertTrue(0.9 < time.monotonic() - start < 3, time.monotonic() - start)
            self.assertTrue(wait_for(lambda: svc.others() == [], timeout=3), svc.others())
            self.assertIn(b"Nread: Connection timed out\n errno= 110\n", svc.log())
            self.assertEqual(svc.request(b"hello 1\n"), b"STAT *** OK COMMAND (cmd: hello)\n1\n")

    def test_connection_over_the_limit_is_closed_at_once(self):
        with WithOptions("command hello /bin/echo\n", ["-c", "2"]) as svc:
            held = [svc.connect() for _ in range(2)]
            self.assertTrue(wait_for(lambda: len(children(svc.proc.pid)) == 2))
            with svc.connect() as s:
                start = time.monotonic()
                self.assertEqual(read_all(s, timeout=5), b"")
                self.assertLess(time.monotonic() - start, 3)
            self.assertIn(b"Korbad-%d: -- Too many connections (2): refused [127.0.0.1]\n"
                          % svc.proc.pid, svc.log())
            # A connection that ends frees its place.
            held.pop().close()
            self.assertTrue(wait_for(lambda: len(children(svc.proc.pid)) == 1))
            self.assertEqual(svc.request(b"hello 1\n"), b"STAT *** OK COMMAND (cmd: hello)\n1\n")
            held.pop().close()


class ManyClients(unittest.TestCase):
    CLIENTS = 200

    def test_hundreds_at_once_are_served_and_reaped(self):
        svc = make_service()
        with svc:
            sel = selectors.DefaultSelector()
            replies = {}
            for i in range(self.CLIENTS):
                s = socket.socket()
                s.setblocking(False)
                s.connect_ex((HOST, svc.port))
                sel.register(s, selectors.EVENT_WRITE, i)
                replies[i] = b""
            deadline = time.monotonic() + 60
            open_count = self.CLIENTS
            while open_count and time.monotonic() < deadline:
                for key, events in sel.select(timeout=1):
                    s, i = key.fileobj, key.data
                    if events & selectors.EVENT_WRITE:
                        s.send(b"hello %d\n" % i)
                        sel.modify(s, selectors.EVENT_READ, i)
                        continue
                    data = s.recv(4096)
                    replies[i] += data
                    if not data:
                        sel.unregister(s)
                        s.close()
                        open_count -= 1
            for key in list(sel.get_map().values()):
                key.fileobj.close()
            for i, reply in replies.items():
                self.assertEqual(reply, b"STAT *** OK COMMAND (cmd: hello)\n%d\n" % i)
            # Every connection process has ended and been reaped.
            listener = svc.proc.pid
            self.assertTrue(wait_for(lambda: children(listener) == [], timeout=10),
                            children(listener)[:10])
            self.assertEqual(len(svc.connect_pids()), self.CLIENTS)


if __name__ == "__main__":
    unittest.main()
