"""What the tests that run Vandrel pages against the test database share: the server's
coordinates, which the ctest fixture passes in the environment, and a shell-run home whose
x.config names a page folder and the test database."""

import os
import sys

COORDINATES = ("MYSQL_SOCKET", "VANDREL_TEST_DB", "VANDREL_TEST_USER", "VANDREL_TEST_PASSWD")


def require_database():
    """Ends the test with a clear message when the server's coordinates are missing."""
    missing = [n for n in COORDINATES if n not in os.environ]
    if missing:
        sys.exit("not set: %s (run through ctest: its mariadb fixture starts the server)"
                 % ", ".join(missing))


def make_home(base):
    """Makes BASE/home, whose x.config serves BASE/root with the test database, and
    BASE/root; returns (home, root)."""
    home, root = os.path.join(base, "home"), os.path.join(base, "root")
    os.mkdir(home)
    os.mkdir(root)
    with open(os.path.join(home, "x.config"), "w") as f:
        f.write("shell:00 %s %s\n" % (root, os.environ["VANDREL_TEST_DB"]))
    return home, root


def page_environment(home, tmp_dir):
    """The environment of a page run: the path, the database login and the sanitizers'
    options of this one, the given home and scratch folder, nothing else."""
    env = {k: v for k, v in os.environ.items()
           if k in ("PATH", "MYSQL_SOCKET", "VANDREL_TEST_USER", "VANDREL_TEST_PASSWD")
           or k.startswith(("ASAN_", "UBSAN_", "LSAN_"))}
    env.update(X_HOME=home, TMP_DIR=tmp_dir)
    return env
