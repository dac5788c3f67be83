#!/usr/bin/python3
"""Black-box tests of Hestov: fixture machines under HESTOV_ROOT, a fake prtconf, and this host.

Usage: test_hestov.py PATH/TO/Hestov [unittest arguments...]
"""

import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
FIXTURES = os.path.join(HERE, "fixtures")
PROG = None
TIMEOUT = 10


def host_cpus_and_memory():
    """The third line's tail as the report forms it from sysconf on this host."""
    ncpus = os.sysconf("SC_NPROCESSORS_CONF")
    mem = (os.sysconf("SC_PAGE_SIZE") // 1024) * os.sysconf("SC_PHYS_PAGES") // 1024
    cpus = "%d CPU%s" % (ncpus, "s" if ncpus > 1 else "")
    memory = "  %d MB memory" % mem if mem < 1024 else "  %6.2f GB memory" % (mem / 1024.0)
    return cpus, memory


def expected_pattern(path):
    """Expected report with the host's own values filled in, as a regex."""
    u = os.uname()
    cpus, memory = host_cpus_and_memory()
    with open(path) as f:
        text = re.escape(f.read())
    for name, value in {"NODE": u.nodename[:29], "KERNEL": u.release[:30], "ARCH": u.machine,
                        "CPUS": cpus, "MEMORY": memory}.items():
        text = text.replace(re.escape("{%s}" % name), re.escape(value))
    text = text.replace(re.escape("{DATE}"), r"\d\d/\d\d/\d\d")
    return text.replace(re.escape("{TIME}"), r"\d\d:\d\d:\d\d")


class HestovTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="hestov-bb-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def machine(self, name, with_prtconf):
        """Copies fixture NAME's root into the temp dir; optionally installs the fake prtconf."""
        root = os.path.join(self.tmp, "root")
        shutil.copytree(os.path.join(FIXTURES, name, "root"), root)
        if with_prtconf:
            sbin = os.path.join(root, "usr", "sbin")
            os.makedirs(sbin)
            shutil.copy(os.path.join(FIXTURES, name, "prtconf.txt"), sbin)
            shutil.copy(os.path.join(HERE, "fake_prtconf.sh"), os.path.join(sbin, "prtconf"))
            os.chmod(os.path.join(sbin, "prtconf"), 0o755)
        return root

    def run_hestov(self, env=None, stdout=subprocess.PIPE):
        full = {k: v for k, v in os.environ.items() if re.match(r"(PATH|[A-Z]*SAN_OPTIONS)$", k)}
        full.update({"LC_ALL": "C", "TZ": "UTC"})
        full.update(env or {})
        return subprocess.run([PROG], env=full, stdout=stdout, stderr=subprocess.PIPE,
                              timeout=TIMEOUT, check=False)

    def assertReport(self, fixture, result):
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stdout.decode(),
                         "^" + expected_pattern(os.path.join(FIXTURES, fixture, "expected.txt")) + "$")

    def test_solaris_sources(self):
        root = self.machine("sparc-v440", with_prtconf=True)
        r = self.run_hestov({"HESTOV_ROOT": root})
        self.assertReport("sparc-v440", r)
        self.assertEqual(r.stderr, b"")

    def test_linux_equivalents(self):
        r = self.run_hestov({"HESTOV_ROOT": self.machine("linux-server", with_prtconf=False)})
        self.assertReport("linux-server", r)
        self.assertEqual(r.stderr, b"")

    def test_tool_still_writing_is_killed(self):
        root = self.machine("sparc-v440", with_prtconf=True)
        start = time.monotonic()
        r = self.run_hestov({"HESTOV_ROOT": root, "FAKE_PRTCONF_FOREVER": "1"})
        self.assertLess(time.monotonic() - start, 5)
        self.assertReport("sparc-v440", r)

    def test_prtconf_that_cannot_start(self):
        root = self.machine("sparc-v440", with_prtconf=False)
        broken = os.path.join(self.tmp, "prtconf")
        shutil.copy(os.path.join(HERE, "fake_prtconf.sh"), broken)
        os.chmod(broken, stat.S_IRUSR)
        r = self.run_hestov({"HESTOV_ROOT": root, "HESTOV_PRTCONF": broken})
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"sys child: exec failed\n", r.stderr)
        lines = r.stdout.decode().split("\n")
        self.assertEqual(len(lines), 5, r.stdout)
        # No device-tree values, no banner; the rest is still reported.
        self.assertEqual(lines[1], "Solaris 10 5/08 s10s_u5wos_10 SPARC " + os.uname().release[:30])
        self.assertEqual(lines[2], "   %s   1282 MHz" % os.uname().machine)
        self.assertEqual(lines[3], "   " + "".join(host_cpus_and_memory()))

    def test_hanging_sources_count_as_unavailable(self):
        # prtconf says nothing and never ends; /etc/release is a FIFO whose
        # writer (this test) never writes. Both must end as sources that are
        # not there: as in test_prtconf_that_cannot_start, less its message.
        root = self.machine("sparc-v440", with_prtconf=True)
        release = os.path.join(root, "etc", "release")
        os.unlink(release)
        os.mkfifo(release)
        writer = os.open(release, os.O_RDWR | os.O_NONBLOCK)
        try:
            start = time.monotonic()
            r = self.run_hestov({"HESTOV_ROOT": root, "FAKE_PRTCONF_HANG": "1",
                                 "HESTOV_TIMEOUT": "1"})
            elapsed = time.monotonic() - start
        finally:
            os.close(writer)
        self.assertLess(elapsed, 6)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stderr, b"")
        lines = r.stdout.decode().split("\n")
        self.assertEqual(len(lines), 5, r.stdout)
        self.assertEqual(lines[1], " " + os.uname().release[:30])
        self.assertEqual(lines[2], "   %s   1282 MHz" % os.uname().machine)
        self.assertEqual(lines[3], "   " + "".join(host_cpus_and_memory()))

    def test_this_host(self):
        r = self.run_hestov()
        self.assertEqual(r.returncode, 0, r.stderr)
        lines = r.stdout.decode().split("\n")
        self.assertEqual(len(lines), 5, r.stdout)
        u = os.uname()
        self.assertRegex(lines[0], r"^%s   \d\d/\d\d/\d\d   \d\d:\d\d:\d\d$" % re.escape(u.nodename[:29]))
        self.assertTrue(lines[1].endswith(" " + u.release[:30]), lines[1])
        self.assertRegex(lines[2], r"^.*   %s   \d+(/\d+)? MHz(   \d+ [KM]B E\$)?$" % re.escape(u.machine))
        self.assertTrue(lines[3].endswith("   " + "".join(host_cpus_and_memory())), lines[3])

    def test_write_error_is_not_success(self):
        if not os.path.exists("/dev/full"):
            self.skipTest("no /dev/full")
        with open("/dev/full", "wb") as full:
            r = self.run_hestov({"HESTOV_ROOT": self.machine("linux-server", False)}, stdout=full)
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, b"sys: write error\n")


if __name__ == "__main__":
    PROG = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
