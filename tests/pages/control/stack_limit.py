#!/usr/bin/python3
"""Nesting ends with the interpreter's error, never with a crash, whatever the stack limit:
9999 nested loops (below the nesting count's limit) under a 1 MiB stack.

Usage: stack_limit.py --prog PATH/TO/Vandrel
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile

LEVELS = 9999
STACK_BYTES = 1024 * 1024


def small_stack():
    resource.setrlimit(resource.RLIMIT_STACK, (STACK_BYTES, STACK_BYTES))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prog", required=True)
    opts = ap.parse_args()
    base = tempfile.mkdtemp(prefix="vandrel-stack-")
    try:
        with open(os.path.join(base, "p.page"), "w") as f:
            f.write('<@set> w "1"\n' + "<@while> words w\n" * LEVELS + "deep\n"
                    + "<@end>\n" * LEVELS + "after\n")
        env = {k: v for k, v in os.environ.items()
               if k == "PATH" or k.startswith(("ASAN_", "UBSAN_", "LSAN_"))}
        env.update(X_HOME=base, TMP_DIR=base)
        proc = subprocess.run([opts.prog, "p.page"], cwd=base, env=env, preexec_fn=small_stack,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    if proc.returncode != 254 or b"ERROR: Blocks nested too deeply: <@while> words w" not in proc.stdout:
        sys.exit("expected the nesting error and status 254, got status %d, output %r, errors %r"
                 % (proc.returncode, proc.stdout[-300:], proc.stderr[-300:]))
    print("1 passed, 0 failed")


if __name__ == "__main__":
    main()
