"""Start-up: the command line, banners, usage, the access-file check, the
listening address and the process group."""

import os
import socket
import subprocess
import unittest

from korbad_harness import EXAMPLES, HOST, KORBAD, Service, free_port, proc_stat, wait_for

USAGE = ("{0} v.3.12 (vek)\nUsage: {0} [-p [IP:]port (default:5000)] "
         "[-c connections (default:256)] [-t seconds (default:30)] \n")


def run(args, home=None, env_home=True):
    env = dict(os.environ)
    env.pop("KORBAD_HOME", None)
    if env_home:
        env["KORBAD_HOME"] = home
    return subprocess.run([KORBAD] + args, env=env, capture_output=True, timeout=10,
                          stdin=subprocess.DEVNULL, text=True)


class CommandLine(unittest.TestCase):
    def setUp(self):
        self.svc = Service()  # only for its home directory

    def tearDown(self):
        self.svc.stop()

    def test_usage_errors(self):
        for args, banners in ((["-x"], ""), (["5000"], ""), (["-p"], ""),
                              (["-p", "127.0.0.1:"], ""), (["-p", "none"], ""),
                              (["-c", "0"], ""), (["-t", "1s"], ""),
                              (["-p", "6000", "-v"],
                               "\nKorbad v.3.12 (vek) ==> IP:[any] Port:[6000] PID:{pid}\n")):
            with self.subTest(args=args):
                r = run(args, self.svc.home)
                self.assertEqual(r.returncode, 254)
                self.assertEqual(r.stdout, "")
                # The banner shows the process id, which we learn from it.
                if banners:
                    pid = r.stderr.split("PID:")[1].split("\n")[0]
                    banners = banners.format(pid=pid)
                self.assertEqual(r.stderr, banners + USAGE.format(KORBAD))

    def test_missing_access_file_is_checked_after_the_banners(self):
        os.remove(self.svc.path("access"))
        r = run(["-p", "127.0.0.1:6001", "-p", "6002"], self.svc.home)
        self.assertEqual(r.returncode, 254)
        self.assertEqual(r.stdout, "Not found access file: %s/access\n" % self.svc.home)
        pid = r.stderr.split("PID:")[1].split("\n")[0]
        self.assertEqual(r.stderr,
                         f"\nKorbad v.3.12 (vek) ==> IP:[127.0.0.1] Port:[6001] PID:{pid}\n"
                         f"\nKorbad v.3.12 (vek) ==> IP:[any] Port:[6002] PID:{pid}\n")

    @unittest.skipIf(os.path.exists("/etc/Korbad/access"), "a system configuration exists")
    def test_empty_home_variable_means_the_system_directory(self):
        for env_home in (True, False):
            r = run(["-p", "1.2.3.4:1"], "", env_home)
            self.assertEqual(r.returncode, 254)
            self.assertEqual(r.stdout, "Not found access file: /etc/Korbad/access\n")

    def test_bad_listening_address(self):
        for address in ("300.1.1.1", "localhost", ""):
            with self.subTest(address=address):
                r = run(["-p", address + ":6000"], self.svc.home)
                self.assertEqual(r.returncode, 254)
                self.assertEqual(r.stdout, "## Bad IP address: %s\n\n" % address)
                self.assertTrue(r.stderr.endswith(USAGE.format(KORBAD)), r.stderr)


class Listening(unittest.TestCase):
    def test_listener_leads_its_own_process_group_and_binds_the_address(self):
        with Service("command a /bin/echo\n") as svc:
            pid = svc.proc.pid
            self.assertEqual(proc_stat(pid)[2], pid)
            log = svc.log().decode()
            self.assertEqual(log, f"\nKorbad v.3.12 (vek) ==> IP:[{HOST}] Port:[{svc.port}] "
                                  f"PID:{pid}\nKorbad-{pid}: *** READY for Service! ***\n")
            self.assertEqual(svc.request(b"a ok\n"), b"STAT *** OK COMMAND (cmd: a)\nok\n")

    def test_port_only_and_last_port_wins(self):
        port = free_port()
        svc = Service("command a /bin/echo\n", args=["-p", "127.0.0.1:1", "-p", str(port)])
        with svc:
            svc.port = port
            self.assertEqual(svc.request(b"a 1\n"), b"STAT *** OK COMMAND (cmd: a)\n1\n")


    def test_shipped_example_access_file(self):
        with open(os.path.join(EXAMPLES, "access")) as f:
            svc = Service(f.read())
        with svc:
            self.assertEqual(svc.request(b"STAT_LIST\n"),
                             b"STAT *** LIST COMMAND (STAT_LIST)\nSTAT: uptime\nSTAT: vmstat\n"
                             b"STAT: free\nSTAT: df\nSTAT: hestov\nSTAT *** LIST END (STAT_LIST)\n")


class BindRetry(unittest.TestCase):
    def test_bind_is_retried_until_the_port_is_free(self):
        holder = socket.socket()
        holder.bind((HOST, 0))
        holder.listen()
        port = holder.getsockname()[1]
        svc = Service("command a /bin/echo\n", args=["-p", f"{HOST}:{port}"])
        try:
            svc.spawn(svc.extra_args)
            svc.port = port
            self.assertTrue(wait_for(lambda: b"-- Bind Error, will try again...\n" in svc.log()))
            self.assertNotIn(b"READY", svc.log())
            holder.close()
            # The next attempt comes 30 s after the first.
            self.assertTrue(wait_for(lambda: b"READY for Service" in svc.log(), timeout=40))
            self.assertEqual(svc.log().count(b"Bind Error"), 1)
            self.assertEqual(svc.request(b"a 1\n"), b"STAT *** OK COMMAND (cmd: a)\n1\n")
        finally:
            holder.close()
            svc.stop()


if __name__ == "__main__":
    unittest.main()
