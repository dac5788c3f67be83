"""The Debian package: cpack builds it from this build tree, it is unpacked
into a scratch root, and what is installed works from there: every program
answers with its usage or version text, the configuration is where the
programs look for it, and the example site is served by Debian's lighttpd
with nothing but the installed snippet."""

import os
import re
import socket
import subprocess
import tempfile
import unittest

BUILD = os.environ["TOOLKIT_BUILD"]
HERE = os.path.dirname(os.path.abspath(__file__))

# How each program shows its usage or version text, and a line of it.
USAGE = {
    "Vandrel": ([], "Vandrel script [-Var Value [-Var2 Value2 [..]]]"),
    "Korbad": (["-x"], "Usage: {bin}/Korbad [-p [IP:]port (default:5000)] "),
    "Druvik": (["-h"], "Usage: {bin}/Druvik Options  File [File2]"),
    "Sennel": ([], "Usage: {bin}/Sennel key timeout [reset]"),
    "Orlmet": ([], "Usage: {bin}/Orlmet key MaxID timeout [skip_every_N]"),
    "Pemto": (["-x"], "Usage:\tPemto [-{i|s|r|M}] [-{u|a|k}] [-DnmRh] [interval [count]]"),
    "Hestov": ([], None),  # no options: its report is its answer
}


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Package(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        out = os.path.join(cls.scratch.name, "out")
        subprocess.run(["cpack", "-G", "DEB", "-B", out, "--config",
                        os.path.join(BUILD, "CPackConfig.cmake")],
                       check=True, capture_output=True, cwd=BUILD)
        debs = [f for f in os.listdir(out) if f.endswith(".deb")]
        assert len(debs) == 1, debs
        cls.deb = os.path.join(out, debs[0])
        cls.root = os.path.join(cls.scratch.name, "root")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def test_control_names_dependencies_and_conffiles(self):
        info = subprocess.run(["dpkg-deb", "-I", self.deb], check=True, capture_output=True,
                              text=True).stdout
        self.assertRegex(info, r"Package: vek-toolkit\n")
        depends = re.search(r"Depends: (.*)\n", info).group(1)
        for needed in ("libmariadb3", "libc6", "libstdc++6", "python3-pymysql", "socat"):
            self.assertIn(needed, depends)
        control = subprocess.run(["dpkg-deb", "--ctrl-tarfile", self.deb], check=True,
                                 capture_output=True).stdout
        listed = subprocess.run(["tar", "-xO", "./conffiles"], input=control, check=True,
                                capture_output=True).stdout.decode().split()
        for conffile in listed:
            self.assertTrue(os.path.isfile(self.path(conffile.lstrip("/"))), conffile)
        self.assertIn("/etc/Korbad/access", listed)
        self.assertIn("/etc/Vandrel/x.config", listed)

    def test_every_program_answers_from_the_scratch_root(self):
        bin_dir = self.path("usr", "bin")
        self.assertEqual(sorted(os.listdir(bin_dir)), sorted(USAGE))
        for program, (args, line) in USAGE.items():
            with self.subTest(program=program):
                # Pemto checks the counters before its arguments; simulated
                # ones let it get to the usage text on any machine.
                env = dict(os.environ, PEMTO_SIMULATE="UltraSPARC III")
                run = subprocess.run([os.path.join(bin_dir, program)] + args, capture_output=True,
                                     text=True, timeout=20, stdin=subprocess.DEVNULL,
                                     cwd=self.scratch.name, env=env)
                text = run.stdout + run.stderr
                if line is None:
                    self.assertEqual(run.returncode, 0, text)
                    self.assertEqual(len(text.splitlines()), 4, text)
                else:
                    self.assertIn(line.replace("{bin}", bin_dir), text)

    def test_every_program_and_file_has_its_manual(self):
        man = self.path("usr", "share", "man")
        pages = [os.path.join("man1", p + ".1.gz") for p in USAGE] + [
            os.path.join("man5", p + ".5.gz") for p in ("x.config", "x.env", "Korbad-access")]
        for page in pages:
            with self.subTest(page=page):
                rendered = subprocess.run(["man", "-l", os.path.join(man, page)], check=True,
                                          capture_output=True, text=True,
                                          env=dict(os.environ, MANPAGER="cat", MANWIDTH="80"))
                self.assertIn("SYNOPSIS" if page.startswith("man1") else "DESCRIPTION",
                              rendered.stdout)

    def test_configuration_is_where_the_programs_look(self):
        self.assertTrue(os.access(self.path("etc", "Korbad", "bin", "chldPID.sh"), os.X_OK))
        with open(self.path("etc", "Vandrel", "x.config")) as f:
            lines = [l.split() for l in f if l.strip() and not l.startswith("#")]
        self.assertIn(["localhost:80", "/usr/share/vek-toolkit/site", "toolkit", "hold"], lines)
        self.assertTrue(os.path.isfile(self.path("usr", "share", "vek-toolkit", "site", "x.page")))
        self.assertEqual(os.stat(self.path("etc", "default", "vek-collector")).st_mode & 0o077, 0)
        # The installed Korbad finds its access file in /etc/Korbad by
        # default; pointed at the scratch root it starts and lists it.
        port = free_port()
        korbad = subprocess.Popen([self.path("usr", "bin", "Korbad"), "-p", f"127.0.0.1:{port}"],
                                  env=dict(os.environ, KORBAD_HOME=self.path("etc", "Korbad")),
                                  stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
        try:
            self.assertIn(b"READY for Service", korbad.stderr.readline() + korbad.stderr.readline()
                          + korbad.stderr.readline())
            with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
                s.sendall(b"STAT_LIST\n")
                reply = b""
                while chunk := s.recv(4096):
                    reply += chunk
            self.assertIn(b"STAT: vmstat\n", reply)
        finally:
            korbad.terminate()
            korbad.wait(10)
            korbad.stderr.close()

    def test_installed_site_is_served_by_the_installed_lighttpd_snippet(self):
        run = subprocess.run(["unshare", "-m", "-n", os.path.join(HERE, "serve_installed.sh"),
                              self.root],
                             capture_output=True, text=True, timeout=120)
        pages = dict(re.findall(r"==== (\d+ \S+)\n(.*?)(?=\n==== |\Z)", run.stdout, re.S))
        self.assertIn("<!-- Vandrel v.7.6", pages.get("200 /language.page", ""), run.stdout + run.stderr)
        self.assertIn("<h1>A tour of the page language</h1>", pages["200 /language.page"])
        # The overview runs too; without Korbad and a database it says so.
        self.assertIn("did not answer", pages.get("200 /", ""))
        self.assertIn("svg polyline", pages.get("200 /static/site.css", ""))
        self.assertIn("403 /static/x.page", pages)
        self.assertIn("units verified", run.stdout, run.stdout + run.stderr)


if __name__ == "__main__":
    unittest.main()
