#!/usr/bin/python3
"""The database client library is loaded by the first database command, not at start-up:
a page without one never maps it (nor the TLS libraries behind it), and a page with one
still reaches the server. Watches the dynamic loader's own log (LD_DEBUG=libs).

Needs the private server of the test run (MYSQL_SOCKET, VANDREL_TEST_*).

Usage: client_on_demand.py --prog PATH/TO/Vandrel
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from database_page import make_home, page_environment, require_database


def run(prog, page_text, home, root, env):
    with open(os.path.join(root, "p.page"), "w") as f:
        f.write(page_text)
    log = os.path.join(home, "ld.log")
    proc = subprocess.run([prog, "p.page", "-X_USER", env["VANDREL_TEST_USER"],
                           "-X_PASSWD", env["VANDREL_TEST_PASSWD"]],
                          cwd=root, env=dict(env, LD_DEBUG="libs", LD_DEBUG_OUTPUT=log),
                          stdout=subprocess.PIPE, timeout=60)
    loaded = ""
    for name in os.listdir(home):  # the loader appends ".PID" to the file name
        if name.startswith("ld.log"):
            with open(os.path.join(home, name)) as f:
                loaded += f.read()
            os.unlink(os.path.join(home, name))
    return proc.returncode, proc.stdout, "libmariadb" in loaded


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prog", required=True)
    opts = ap.parse_args()
    require_database()
    base = tempfile.mkdtemp(prefix="vandrel-client-")
    failures = []
    try:
        home, root = make_home(base)
        env = page_environment(home, base)

        status, out, loaded = run(opts.prog, "no database here\n", home, root, env)
        if status != 0 or out != b"no database here\n" or loaded:
            failures.append("plain page: status %d, output %r, client loaded: %s"
                            % (status, out, loaded))
        status, out, loaded = run(opts.prog, "<@sql> select 40 + 2 as n\n$(n)\n<@end>\n",
                                  home, root, env)
        if status != 0 or out != b"42\n" or not loaded:
            failures.append("database page: status %d, output %r, client loaded: %s"
                            % (status, out, loaded))
    finally:
        shutil.rmtree(base, ignore_errors=True)
    for failure in failures:
        print(failure)
    if failures:
        sys.exit("%d failed" % len(failures))
    print("2 passed, 0 failed")


if __name__ == "__main__":
    main()
