"""The collector against a real Korbad serving a fake vmstat, which numbers
its lines across requests (so every stored value can be checked) and logs
each line it printed, marking the first of a request, which must not be
stored. A "pause" file in the Korbad home holds it before its next line, so
a test can be sure that all it printed was read before it breaks something.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import pymysql
from korbad_harness import HOST, Service, wait_for, write_script  # noqa: F401

FAKE_VMSTAT = r'''#!/usr/bin/python3
import os, sys, time
at = lambda name: os.path.join(os.path.dirname(os.path.abspath(__file__)), name)
k = int(open(at("seq")).read()) if os.path.exists(at("seq")) else 0
print("procs -----------memory---------- ---swap-- -----io---- -system-- ------cpu-----")
print(" r  b   swpd   free   buff  cache   si   so    bi    bo   in   cs us sy id wa st", flush=True)
for i in range(int(sys.argv[2])):
    while os.path.exists(at("pause")):
        time.sleep(0.02)
    k += 1
    open(at("seq"), "w").write(str(k))
    line = " ".join(map(str, (k, k % 3, 10 * k, 100 * k + 7, k + 1, k + 2, k % 2, 0, 3 * k, 4 * k,
                              k + 5, k + 6, k % 100, 7 * k % 100, 99 - k % 100, k % 5, 1)))
    print(line, flush=True)
    open(at("emitted"), "a").write("%d %.3f %s\n" % (i == 0, time.time(), line))
    time.sleep(0.1)
'''


def korbad(**scripts):
    """Korbad serving "fake", the shell scripts given, and "hidden" (granted
    to another address only)."""
    svc = Service()
    write_script(svc.path("fake"), FAKE_VMSTAT)
    lines = ["access 127.0.0.1", "command fake " + svc.path("fake")]
    lines += ["command %s %s" % (name, svc.script(name, body)) for name, body in scripts.items()]
    svc.set_access("\n".join(lines + ["access 192.0.2.1", "command hidden /bin/echo", ""]))
    return svc.start()


def emitted(svc, times=False):
    """[(first line of its request, values)] as the fake printed them, or
    [(first, time printed)]."""
    if not os.path.exists(svc.path("emitted")):
        return []
    with open(svc.path("emitted")) as f:
        return [(w[0] == "1", float(w[1]) if times else tuple(map(int, w[2:])))
                for w in map(str.split, f)]


def expected(svc):
    return [values for first, values in emitted(svc) if not first]


def pause(svc, on=True):
    if on:
        open(svc.path("pause"), "w").close()
        time.sleep(0.4)  # the line in flight arrives
    else:
        os.remove(svc.path("pause"))


class Database:
    def __init__(self, unix_socket, user, password, database):
        self.params = dict(unix_socket=unix_socket, user=user, password=password, database=database)

    @classmethod
    def shared(cls):
        names = ("MYSQL_SOCKET", "VANDREL_TEST_USER", "VANDREL_TEST_PASSWD", "VANDREL_TEST_DB")
        if not all(map(os.environ.get, names)):
            raise RuntimeError("needs the database of the test run (ctest's mariadb fixture): "
                               + " ".join(names))
        return cls(*map(os.environ.get, names))

    def query(self, sql, *args):
        conn = pymysql.connect(connect_timeout=5, read_timeout=10, autocommit=True, **self.params)
        try:
            with conn.cursor() as c:
                c.execute(sql, args)
                return [tuple(row) for row in c.fetchall()]
        finally:
            conn.close()

    def rows(self, host):
        """The values of a host's rows (schema.sql's order), oldest first."""
        try:
            rows = self.query("SELECT * FROM samples WHERE host = %s ORDER BY taken_ms", host)
        except pymysql.ProgrammingError:  # no table before the collector's first connect
            return []
        return [row[2:] for row in rows]


class Collector:
    """A running collector, killed (and its rows deleted) when the test ends."""

    def __init__(self, test, db, svc, *args):
        self.host, self.err = "t%d-%s" % (os.getpid(), test._testMethodName[:50]), tempfile.TemporaryFile()
        p = db.params
        self.proc = subprocess.Popen(
            [os.environ["COLLECTOR"], "%s:%d" % (HOST, svc.port), "--interval", "1", "--host-name",
             self.host, "--db-socket", p["unix_socket"], "--db-user", p["user"], "--db-name",
             p["database"], *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=self.err, env=dict(os.environ, COLLECTOR_DB_PASSWORD=p["password"]))
        test.addCleanup(self.cleanup, db)

    def log(self):
        self.err.seek(0)
        return self.err.read().decode(errors="replace")

    def stop(self, signum, timeout=15):
        self.proc.send_signal(signum)
        return self.proc.wait(timeout)

    def cleanup(self, db):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        self.err.close()
        try:
            db.query("DELETE FROM samples WHERE host = %s", self.host)
        except pymysql.MySQLError:
            pass  # a private server that is gone already


class PrivateServer:
    """A mariadbd of our own, on its socket only, that can be stopped and
    started again on the same data directory."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="collector_db_")
        self.socket, self.proc = os.path.join(self.dir, "sock"), None
        self.common = ["--no-defaults", "--datadir=" + os.path.join(self.dir, "data")]
        self.common += ["--user=root"] if os.geteuid() == 0 else []
        done = subprocess.run(["mariadb-install-db", *self.common, "--skip-test-db",
                               "--auth-root-authentication-method=normal", "--skip-name-resolve"],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if done.returncode != 0:
            shutil.rmtree(self.dir)
            raise RuntimeError("mariadb-install-db: " + done.stdout.decode(errors="replace"))

    def start(self):
        log = os.path.join(self.dir, "error.log")
        self.proc = subprocess.Popen(
            ["/usr/sbin/mariadbd", *self.common, "--socket=" + self.socket, "--skip-networking",
             "--pid-file=" + os.path.join(self.dir, "pid"), "--log-error=" + log,
             "--innodb-buffer-pool-size=16M", "--innodb-log-file-size=8M"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not wait_for(lambda: self.proc.poll() is not None or self.root(close=True), timeout=30) \
                or self.proc.poll() is not None:
            raise RuntimeError("mariadbd did not start: " + open(log).read()[-2000:])

    def root(self, close=False):
        try:
            conn = pymysql.connect(unix_socket=self.socket, user="root", connect_timeout=2)
        except pymysql.MySQLError:
            return None
        return conn.close() or True if close else conn

    def stop(self, signum):
        self.proc.send_signal(signum)
        self.proc.wait(30)

    def database(self):
        with self.root() as conn, conn.cursor() as c:
            c.execute("CREATE DATABASE col")
            c.execute("CREATE USER collector@localhost IDENTIFIED BY 'pw-collector'")
            c.execute("GRANT ALL ON col.* TO collector@localhost")
        return Database(self.socket, "collector", "pw-collector", "col")

    def remove(self):
        if self.proc is not None and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)
