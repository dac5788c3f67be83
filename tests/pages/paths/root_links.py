#!/usr/bin/python3
"""Symbolic links in the document root: with X_ROOT_LINKS=inside in x.env a page whose real
path leaves the root (a link to a file or to a folder outside) is refused, while a link that
stays inside still runs; without the setting the page name is checked as text only, and a
link out runs as it always did.

Usage: root_links.py --prog PATH/TO/Vandrel
"""

import argparse
import os
import shutil
import subprocess
import sys
import tempfile

REFUSED = "ERROR: Invalid X_PAGE value: %s (a link leads out of X_ROOT) \n\n"


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--prog", required=True)
    opts = ap.parse_args()
    base = os.path.realpath(tempfile.mkdtemp(prefix="vandrel-links-"))
    failures = []
    try:
        root, home, outside = (os.path.join(base, d) for d in ("root", "home", "outside"))
        for d in (root, home, outside, os.path.join(root, "in")):
            os.mkdir(d)
        write(os.path.join(outside, "secret.page"), "outside\n")
        write(os.path.join(root, "in", "real.page"), "inside\n")
        os.symlink("in/real.page", os.path.join(root, "alias.page"))
        os.symlink("../outside/secret.page", os.path.join(root, "out.page"))
        os.symlink("../outside", os.path.join(root, "shared"))

        env = {k: v for k, v in os.environ.items()
               if k == "PATH" or k.startswith(("ASAN_", "UBSAN_", "LSAN_"))}
        env.update(X_HOME=home, TMP_DIR=base)

        def expect(setting, page, status, text):
            if setting is None:
                if os.path.exists(os.path.join(home, "x.env")):
                    os.unlink(os.path.join(home, "x.env"))
            else:
                write(os.path.join(home, "x.env"), "X_ROOT_LINKS=%s\n" % setting)
            proc = subprocess.run([opts.prog, page], cwd=root, env=env, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, timeout=10)
            out = proc.stdout.decode("latin-1")
            if proc.returncode != status or not out.endswith(text):
                failures.append("X_ROOT_LINKS=%s %s: expected status %d ending %r, got %d %r"
                                % (setting, page, status, text, proc.returncode, out[-200:]))

        expect(None, "out.page", 0, "outside\n")
        expect(None, "shared/secret.page", 0, "outside\n")
        expect("inside", "out.page", 254, REFUSED % "out.page")
        expect("inside", "shared/secret.page", 254, REFUSED % "shared/secret.page")
        expect("inside", "alias.page", 0, "inside\n")
    finally:
        shutil.rmtree(base, ignore_errors=True)
    if failures:
        sys.exit("\n".join(failures))
    print("5 passed, 0 failed")


if __name__ == "__main__":
    main()
