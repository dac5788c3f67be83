#!/usr/bin/python3
"""The page output reaches its reader while the page runs, not only at its end: a line written
before a wait arrives as the wait starts, and a line written before a long stretch of page
lines without output arrives a few milliseconds later, not when the page ends. Each page runs
buffered (the default) and with <@option> flush_lines on; the reader notes when each line comes.

Usage: streaming.py --prog PATH/TO/Vandrel
"""

import argparse
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time

# The wait inside each page, and how much of it must lie between the two lines' arrivals:
# the rest is room for a slow start or a loaded machine.
WAIT_S = 1.5
MIN_GAP_S = 1.0

WAIT_US = int(WAIT_S * 1000000)
PAGES = {
    "sleep": "before the wait\n<@usleep> %d\nafter the wait\n" % WAIT_US,
    # Busy for WAIT_S: many page lines, no output and no command that writes out.
    # X_DDT: the microseconds since it was last read.
    "busy": ("before the loop\n<@set> spent $(X_DDT)\n<@while>\n<@spent>+= $(X_DDT)\n"
             "<@if> icmp $(spent) > %d <@break>\n<@end>\nafter the loop\n" % WAIT_US),
}
MODES = {"buffered": "", "flush_lines": "<@option> flush_lines on\n"}


def arrivals(prog, page, base):
    """Runs the page and returns (line, seconds since start) for each line as it arrives."""
    root = os.path.join(base, "root")
    with open(os.path.join(root, "p.page"), "w") as f:
        f.write(page)
    env = {k: v for k, v in os.environ.items()
           if k == "PATH" or k.startswith(("ASAN_", "UBSAN_", "LSAN_"))}
    env.update(X_HOME=os.path.join(base, "home"), TMP_DIR=base)
    start = time.monotonic()
    proc = subprocess.Popen([prog, "p.page"], cwd=root, env=env, stdout=subprocess.PIPE)
    fd = proc.stdout.fileno()
    got, pending = [], b""
    deadline = start + 20
    while time.monotonic() < deadline:
        ready, _, _ = select.select([fd], [], [], deadline - time.monotonic())
        if not ready:
            break
        chunk = os.read(fd, 65536)
        if not chunk:
            break
        now = time.monotonic() - start
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            got.append((line.decode(), now))
    proc.stdout.close()
    try:
        status = proc.wait(timeout=20)
    except subprocess.TimeoutExpired:
        proc.kill()
        status = proc.wait()
    if status != 0 or pending:
        raise AssertionError("status %d, unfinished text %r" % (status, pending))
    return got


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prog", required=True)
    opts = ap.parse_args()
    base = tempfile.mkdtemp(prefix="vandrel-streaming-")
    passed = failed = 0
    try:
        os.mkdir(os.path.join(base, "home"))
        os.mkdir(os.path.join(base, "root"))
        for mode, option in MODES.items():
            for name, page in PAGES.items():
                try:
                    got = arrivals(opts.prog, option + page, base)
                except AssertionError as e:
                    got = [(str(e), 0.0)]
                lines = [line for line, _ in got]
                first, last = page.split("\n")[0], page.rstrip("\n").split("\n")[-1]
                gap = got[-1][1] - got[0][1] if len(got) == 2 else 0.0
                ok = lines == [first, last] and gap >= MIN_GAP_S
                print("%s %s/%s: %r, %.3f s apart" % ("ok" if ok else "FAILED", mode, name,
                                                     lines, gap))
                passed, failed = passed + ok, failed + (not ok)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("%d passed, %d failed" % (passed, failed))
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
