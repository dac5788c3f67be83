"""The wire protocol: status lines, the list, access runs, arguments, the
first-line rule and the log lines, against a running Korbad."""

import os
import re
import resource
import socket
import time
import unittest

from korbad_harness import Service, read_all, wait_for

ARGS_BODY = 'printf "%s|" "$@"; echo\n'


class Protocol(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.svc = Service()
        svc = cls.svc
        args = svc.script("args.sh", ARGS_BODY)
        svc.script("silent.sh", "echo only on stderr >&2\n")
        svc.script("noeol.sh", "printf 'no line end'\n")
        svc.script("slowline.sh", "printf 'part '; sleep 0.3; printf 'one\\ntwo\\n'\n")
        svc.script("long.sh", "head -c 3000 /dev/zero | tr '\\0' x; echo; echo end\n")
        os.makedirs(svc.path("globdir"))
        for name in ("b.txt", "a.txt"):
            open(os.path.join(svc.path("globdir"), name), "w").close()
        svc.set_access(
            f"command open {svc.path('args.sh')}\n"
            "access 10.9.9.9\n"
            f"command elsewhere {args}\n"
            "access 10.9.9.8\n"
            "access 127.0.0.1\n"
            f"command args {args}\n"
            f"command silent {svc.path('silent.sh')}\n"
            f"command missing {svc.path('nothing-here')}\n"
            f"command noeol {svc.path('noeol.sh')}\n"
            f"command slowline {svc.path('slowline.sh')}\n"
            f"command long {svc.path('long.sh')}\n"
            "command fds /bin/ls\n"
            "access 10.9.9.7\n"
            f"command later {args}\n")
        svc.start()

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def test_list_shows_open_and_granted_commands_in_file_order(self):
        self.assertEqual(
            self.svc.request(b"STAT_LIST\n"),
            b"STAT *** LIST COMMAND (STAT_LIST)\n"
            b"STAT: open\nSTAT: args\nSTAT: silent\nSTAT: missing\nSTAT: noeol\n"
            b"STAT: slowline\nSTAT: long\nSTAT: fds\n"
            b"STAT *** LIST END (STAT_LIST)\n")

    def test_granted_command_runs_with_its_arguments(self):
        self.assertEqual(self.svc.request(b"args 5 -x a,b:c\n"),
                         b"STAT *** OK COMMAND (cmd: args)\n5|-x|a,b:c|\n")
        self.assertEqual(self.svc.request(b"open"), b"STAT *** OK COMMAND (cmd: open)\n|\n")
        # The directory part of the word is dropped.
        self.assertEqual(self.svc.request(b"/any/dir/args 5\n"),
                         b"STAT *** OK COMMAND (cmd: args)\n5|\n")

    def test_refusals_name_the_command_word(self):
        for req, word in ((b"elsewhere\n", b"elsewhere"), (b"later 1\n", b"later"),
                          (b"undeclared\n", b"undeclared"), (b" ;|&\n", b""),
                          (b"/usr/bin/\n", b"")):
            with self.subTest(req=req):
                self.assertEqual(self.svc.request(req),
                                 b"STAT *** BAD COMMAND (no access: " + word + b")\n")

    def test_command_without_output_is_not_found(self):
        for name in (b"silent", b"missing"):
            with self.subTest(name=name):
                self.assertEqual(self.svc.request(name + b"\n"),
                                 b"STAT *** BAD COMMAND (not found: " + name + b")\n")

    def test_first_line_rule(self):
        self.assertEqual(self.svc.request(b"noeol\n"),
                         b"STAT *** OK COMMAND (cmd: noeol)\nno line end")
        self.assertEqual(self.svc.request(b"slowline\n"),
                         b"STAT *** OK COMMAND (cmd: slowline)\npart one\ntwo\n")
        self.assertEqual(self.svc.request(b"long\n"),
                         b"STAT *** OK COMMAND (cmd: long)\n" + b"x" * 3000 + b"\nend\n")

    def test_command_inherits_no_socket_of_the_service(self):
        # ls sees the standard descriptors and the one it opened to read.
        self.assertEqual(self.svc.request(b"fds /proc/self/fd\n"),
                         b"STAT *** OK COMMAND (cmd: fds)\n0\n1\n2\n3\n")

    def test_shell_expands_star_in_arguments(self):
        pattern = self.svc.path("globdir") + "/*.txt"
        reply = self.svc.request(b"args " + pattern.encode() + b"\n")
        expected = "|".join(os.path.join(self.svc.path("globdir"), n) for n in ("a.txt", "b.txt"))
        self.assertEqual(reply, b"STAT *** OK COMMAND (cmd: args)\n" + expected.encode() + b"|\n")

    def test_request_is_one_read(self):
        with self.svc.connect(b"args 1") as s:
            time.sleep(0.3)
            try:
                s.sendall(b" 2\n")
            except OSError:
                pass
            self.assertEqual(read_all(s), b"STAT *** OK COMMAND (cmd: args)\n1|\n")

    def test_long_requests_are_cut(self):
        # 1024 bytes are read; the command line is cut at 511 characters.
        path = self.svc.path("args.sh")
        reply = self.svc.request(b"args " + b"a" * 3000 + b"\n")
        head = b"STAT *** OK COMMAND (cmd: args)\n"
        self.assertTrue(reply.startswith(head), reply[:80])
        self.assertEqual(reply[len(head):], b"a" * (511 - len(path) - 2) + b"|\n")
        # A word longer than 98 characters is cut, the rest is its argument.
        reply = self.svc.request(b"x" * 98 + b"args 1\n")
        self.assertEqual(reply, b"STAT *** BAD COMMAND (no access: " + b"x" * 98 + b")\n")

    def test_connect_and_exit_log_lines(self):
        request = b"args 1;2 " + b"q" * 40 + b"\n"
        self.svc.request(request)
        pid = self.svc.connect_pids()[-1]
        stamp = rb"TIME: \w{3} \w{3} [ \d]\d \d\d:\d\d:\d\d \d{4}\n"
        connect_line = re.escape(b'Korbad-%d:> Connect -> [127.0.0.1] CMD= "' % pid
                                 + request.replace(b"\n", b"\\n") + b'" ') + stamp
        self.assertRegex(self.svc.log(), connect_line)
        exit_line = re.escape(b'Korbad-%d:> Exit -> [127.0.0.1] CMD= "' % pid + request[:39]
                              + b'" ') + stamp
        self.assertIsNotNone(wait_for(lambda: re.search(exit_line, self.svc.log())),
                             self.svc.log()[-400:])

    def test_client_that_sends_nothing_and_leaves_gets_no_reply(self):
        with self.svc.connect() as s:
            s.shutdown(socket.SHUT_WR)
            self.assertEqual(read_all(s), b"")
        self.assertTrue(wait_for(lambda: b"Nread: Success\n errno= 0\n" in self.svc.log()))
        # The listener goes on serving.
        self.assertEqual(self.svc.request(b"open\n"), b"STAT *** OK COMMAND (cmd: open)\n|\n")


class Configuration(unittest.TestCase):
    def test_access_file_is_read_for_every_request(self):
        with Service("command a /bin/echo\n") as svc:
            self.assertEqual(svc.request(b"a 1\n"), b"STAT *** OK COMMAND (cmd: a)\n1\n")
            svc.set_access("access 10.1.1.1\ncommand a /bin/echo\ncommand b /bin/echo\n")
            self.assertEqual(svc.request(b"a 1\n"), b"STAT *** BAD COMMAND (no access: a)\n")
            os.remove(svc.path("access"))
            self.assertEqual(svc.request(b"a 1\n"),
                             b"STAT *** BAD COMMAND (service not configured: a)\n")
            self.assertEqual(svc.request(b"STAT_LIST\n"),
                             b"STAT *** LIST COMMAND (STAT_LIST)\n"
                             b"STAT *** BAD COMMAND (service not configured: STAT_LIST)\n")

    def test_half_command_line_never_runs_the_clients_words(self):
        with Service("command sneaky\n") as svc:
            marker = svc.path("ran")
            self.assertEqual(svc.request(b"sneaky touch " + marker.encode() + b"\n"),
                             b"STAT *** BAD COMMAND (no access: sneaky)\n")
            self.assertFalse(os.path.exists(marker))

    def test_shell_that_cannot_start(self):
        # The standard descriptors, the listening socket and the connection
        # fit under the limit; the command's output pipe does not.
        svc = Service("command a /bin/echo\n", limits={resource.RLIMIT_NOFILE: 5})
        with svc:
            self.assertEqual(svc.request(b"a 1\n"), b"STAT *** BAD COMMAND (cannot start: a)\n")


if __name__ == "__main__":
    unittest.main()
