#!/usr/bin/python3
"""A row loop runs in constant memory: the row's values live in one region that is reset
for every row, and each variable keeps only its current value. Runs the same page over 1000
and over 100000 rows (with a value above the 256-byte small-block size, so that big blocks
are made and dropped for every row) and compares the peak resident sizes of the two runs.

Needs the private server of the test run (MYSQL_SOCKET, VANDREL_TEST_*); fails without it.

Usage: row_loop_memory.py --prog PATH/TO/Vandrel
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

from database_page import make_home, page_environment, require_database

PAGE = """<@sql> select seq as id, repeat(char(97 + seq % 26), 300) as big, concat('h', seq) as name \
from seq_1_to_{rows}
$(id) $(len:big) $(name)
<@end>
rows $(X_ROWS)
"""
# Growth allowed between the small and the large run: above the noise of the sanitizer
# build's allocator (some hundred KiB), below what keeping a dozen bytes per row would cost
# (a kept row region costs tens of MiB).
ALLOWED_GROWTH_KIB = 1024


def run(prog, rows, home, root, env):
    with open(os.path.join(root, "p.page"), "w") as f:
        f.write(PAGE.format(rows=rows))
    # /usr/bin/time reports the peak of the program alone: this process's own size would
    # count in a resource usage taken here, as the child starts as a copy of it.
    report = os.path.join(home, "time.txt")
    proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report, prog, "p.page",
                           "-X_USER", env["VANDREL_TEST_USER"],
                           "-X_PASSWD", env["VANDREL_TEST_PASSWD"]],
                          cwd=root, env=env, stdout=subprocess.PIPE, timeout=120)
    lines = proc.stdout.split(b"\n")
    if proc.returncode != 0 or lines[-2:] != [b"rows %d" % rows, b""] or len(lines) != rows + 2:
        sys.exit("run over %d rows failed: status %d, %d lines, end %r"
                 % (rows, proc.returncode, len(lines) - 1, lines[-2:]))
    with open(report) as f:
        return int(f.read().split()[-1])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prog", required=True)
    opts = ap.parse_args()
    require_database()
    base = tempfile.mkdtemp(prefix="vandrel-rowmem-")
    try:
        home, root = make_home(base)
        env = page_environment(home, base)
        # A sanitizer build keeps freed blocks in quarantine, which would look like growth.
        asan = os.environ.get("ASAN_OPTIONS", "")
        env["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "quarantine_size_mb=0"
        small = run(opts.prog, 1000, home, root, env)
        large = run(opts.prog, 100000, home, root, env)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("peak resident size: 1000 rows %d KiB, 100000 rows %d KiB" % (small, large))
    if large - small > ALLOWED_GROWTH_KIB:
        sys.exit("memory grows with the rows: +%d KiB" % (large - small))
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
