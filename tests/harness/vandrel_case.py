#!/usr/bin/python3
"""Black-box runner for Vandrel: one case file in, one run of the interpreter, exact checks out.

A case file is a description followed by sections that start with a line "=== NAME [PATH]".
See tests/README.md for the format. Standard library only, so it runs on a bare Debian.

Usage: vandrel_case.py --prog PATH/TO/Vandrel [--keep] [--timeout S] CASE [CASE...]
"""

import argparse
import difflib
import glob
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile

DEFAULT_TIMEOUT = 10.0

# Section name -> takes a path argument on the header line.
SECTIONS = {
    "page": True,     # file under the temporary document root
    "home": True,     # file under the temporary X_HOME
    "tmp": True,      # file under the temporary TMP_DIR
    "args": False,    # command-line arguments, one per line
    "env": False,     # NAME=VALUE sets, -NAME unsets
    "stdin": False,
    "stdout": False,  # exact bytes, {STAMP} and {...} allowed
    "stderr": False,
    "status": False,  # exit status; -2 and 254 are the same thing
    "file": True,     # exact content of a file after the run
    "regex": True,    # every line a Python regex that must be found in the file
    "exists": True,   # glob must match at least one path
    "absent": True,   # glob must match nothing
}
INPUT_SECTIONS = ("page", "home", "tmp")
PATH_CHECKS = ("file", "regex", "exists", "absent")
ONCE_ONLY = ("args", "env", "stdin", "stdout", "stderr", "status")

# Placeholders known to the harness. PID only exists once the child is started, so it is
# refused in anything that is created before the run.
PLACEHOLDERS = ("ROOT", "HOME", "TMP", "PID")

# Variables of the calling environment that a run keeps besides PATH: sanitizer builds are
# steered through these and must see them.
PASSTHROUGH_PREFIXES = ("ASAN_", "UBSAN_", "LSAN_", "TSAN_", "MSAN_")


class CaseError(Exception):
    """A malformed case file (not a failing interpreter)."""


class Marker:
    """A pattern piece inside an expanded expectation."""

    def __init__(self, name, regex):
        self.name = name
        self.regex = regex

    def __repr__(self):
        return "{%s}" % self.name


def _width(n):
    # printf "%Nd" of a non-negative number: right-aligned in N columns, wider when needed.
    alts = [" " * (n - k) + r"\d{%d}" % k for k in range(1, n)]
    alts.append(r"\d{%d,}" % n)
    return "(?:" + "|".join(alts) + ")"


# One log time stamp: "%5d.%06d [%6d] ".
STAMP_RE = _width(5) + r"\.\d{6} \[" + _width(6) + r"\] "
STAMP = Marker("STAMP", STAMP_RE)
ANY = Marker("...", ".*?")

_SIMPLE_ESCAPES = {"r": "\r", "t": "\t", "n": "\n", "0": "\0", "\\": "\\", "{": "{"}
_NAME_RE = re.compile(r"\{([A-Z]+)\}")
_REP_RE = re.compile(r"\{REP:(\d+):")
# {ENV:NAME}: a variable of the caller's environment (a database socket, credentials), so that
# a case can hand it to the run; a case that needs one which is not set is broken, not skipped.
_ENV_RE = re.compile(r"\{ENV:([A-Za-z_][A-Za-z0-9_]*)\}")


class _AnyEnv(dict):
    """Stands in for the environment while a case is only checked for typos."""

    def __contains__(self, name):
        return True

    def __missing__(self, name):
        return "/x/env/" + name


def _env_value(name, values):
    env = values.get("env", os.environ)
    if name not in env:
        raise CaseError("{ENV:%s}: the environment variable %s is not set" % (name, name))
    return env[name]


def expand(text, values, patterns=False):
    """Expands escapes, repeats and placeholders of a section body.

    Text is a latin-1 str (one char per byte). Returns a list of str and Marker pieces;
    markers only appear when patterns is true (expectations). values maps placeholder names
    to their text; a known placeholder missing from values is an error.
    """
    pieces = []
    buf = []

    def flush():
        if buf:
            pieces.append("".join(buf))
            buf.clear()

    i = 0
    n = len(text)
    while i < n:
        c = text[i]
        if c == "\\":
            nxt = text[i + 1] if i + 1 < n else ""
            if nxt in _SIMPLE_ESCAPES and nxt:
                buf.append(_SIMPLE_ESCAPES[nxt])
                i += 2
            elif nxt == "x":
                hx = text[i + 2:i + 4]
                if not re.fullmatch(r"[0-9A-Fa-f]{2}", hx):
                    raise CaseError("bad escape \\x%s: two hex digits expected" % hx)
                buf.append(chr(int(hx, 16)))
                i += 4
            elif nxt == "c":
                # "\c" swallows the line end: the way to write text without a final newline.
                if i + 2 < n and text[i + 2] != "\n":
                    raise CaseError("\\c must end a line")
                i += 3
            else:
                # A lone backslash stays: page continuation lines end in one.
                buf.append("\\")
                i += 1
        elif c == "{":
            if text.startswith("{...}", i):
                if not patterns:
                    raise CaseError("{...} is only allowed in expectations")
                flush()
                pieces.append(ANY)
                i += 5
                continue
            m = _REP_RE.match(text, i)
            if m:
                end = _closing_brace(text, m.end())
                inner = expand(text[m.end():end], values, patterns)
                flush()
                pieces.extend(inner * int(m.group(1)))
                i = end + 1
                continue
            m = _ENV_RE.match(text, i)
            if m:
                buf.append(_env_value(m.group(1), values))
                i = m.end()
                continue
            m = _NAME_RE.match(text, i)
            if m and m.group(1) == "STAMP":
                if not patterns:
                    raise CaseError("{STAMP} is only allowed in expectations")
                flush()
                pieces.append(STAMP)
                i = m.end()
            elif m and m.group(1) in PLACEHOLDERS:
                name = m.group(1)
                if name not in values:
                    raise CaseError("{%s} is not known at this point (inputs are made before "
                                    "the run starts)" % name)
                buf.append(values[name])
                i = m.end()
            else:
                buf.append(c)
                i += 1
        else:
            buf.append(c)
            i += 1
    flush()
    return _merge(pieces)


def _closing_brace(text, start):
    depth = 1
    i = start
    while i < len(text):
        if text[i] == "\\":
            i += 2
            continue
        if text[i] == "{":
            depth += 1
        elif text[i] == "}":
            depth -= 1
            if depth == 0:
                return i
        i += 1
    raise CaseError("unterminated {REP:...}")


def _merge(pieces):
    # Runs of text are joined once: adding piece by piece is quadratic, and a {REP} of a
    # few megabytes (an upload body) would take minutes.
    out = []
    run = []
    for p in pieces:
        if isinstance(p, str):
            run.append(p)
            continue
        if run:
            out.append("".join(run))
            run = []
        out.append(p)
    if run:
        out.append("".join(run))
    return [p for p in out if p != ""]


def expand_plain(text, values):
    """Expansion for inputs and paths: must come out as plain bytes."""
    return "".join(expand(text, values, patterns=False))


def expect_pieces(body, values):
    """Expands an expectation body. A body whose last line ends in {...} matches to the end,
    whether or not the text ends in a newline: the line end of the case file is not meant."""
    pieces = expand(body, values, patterns=True)
    if len(pieces) >= 2 and pieces[-2] is ANY and pieces[-1] == "\n":
        pieces.pop()
    return pieces


def has_markers(pieces):
    return any(isinstance(p, Marker) for p in pieces)


def pieces_regex(pieces):
    return "".join(p.regex if isinstance(p, Marker) else re.escape(p) for p in pieces)


def matches(pieces, actual):
    """Whole-text match of an expanded expectation against actual (latin-1 str)."""
    if not has_markers(pieces):
        return "".join(pieces) == actual
    return re.fullmatch(pieces_regex(pieces), actual, re.S) is not None


def expand_regex(line, values):
    """A regex section line: placeholders become escaped literals, {STAMP} its pattern;
    backslashes belong to the regex and are left alone."""

    def sub(m):
        name = m.group(1)
        if name == "STAMP":
            return STAMP_RE
        if name in values:
            return re.escape(values[name])
        if name in PLACEHOLDERS:
            raise CaseError("{%s} is not known here" % name)
        return m.group(0)

    line = _ENV_RE.sub(lambda m: re.escape(_env_value(m.group(1), values)), line)
    return _NAME_RE.sub(sub, line)


def visible(text, final=True):
    """Renders bytes in the case notation so that a diff shows CR, tabs and high bytes."""
    out = []
    for ch in text:
        o = ord(ch)
        if ch == "\n":
            out.append("\n")
        elif ch == "\r":
            out.append("\\r")
        elif ch == "\t":
            out.append("\\t")
        elif ch == "\\":
            out.append("\\\\")
        elif o < 32 or o >= 127:
            out.append("\\x%02X" % o)
        else:
            out.append(ch)
    s = "".join(out)
    if final and s and not s.endswith("\n"):
        s += "\\c"
    return s


def visible_pieces(pieces):
    out = []
    for i, p in enumerate(pieces):
        last = i == len(pieces) - 1
        out.append(repr(p) if isinstance(p, Marker) else visible(p, final=last))
    return "".join(out)


class Section:
    def __init__(self, name, arg, body, line):
        self.name = name
        self.arg = arg
        self.body = body
        self.line = line


class Case:
    def __init__(self, path, description, sections):
        self.path = path
        self.description = description
        self.sections = sections

    def first(self, name):
        for s in self.sections:
            if s.name == name:
                return s
        return None

    def all(self, *names):
        return [s for s in self.sections if s.name in names]


def parse_case(data, path="<case>"):
    """Parses a case file (bytes or latin-1 str) into a Case; raises CaseError."""
    if isinstance(data, bytes):
        data = data.decode("latin-1")
    lines = data.splitlines(keepends=True)
    if lines and not lines[-1].endswith("\n"):
        lines[-1] += "\n"
    description = []
    sections = []
    current = None
    for lineno, line in enumerate(lines, 1):
        if line.startswith("=== ") or line.rstrip("\n") == "===":
            head = line[4:].rstrip("\n").strip()
            name, _, arg = head.partition(" ")
            arg = arg.strip()
            if name not in SECTIONS:
                raise CaseError("%s:%d: unknown section '%s'" % (path, lineno, name))
            if SECTIONS[name] and not arg:
                raise CaseError("%s:%d: section '%s' needs a path" % (path, lineno, name))
            if not SECTIONS[name] and arg:
                raise CaseError("%s:%d: section '%s' takes no argument" % (path, lineno, name))
            current = Section(name, arg, "", lineno)
            sections.append(current)
        elif current is None:
            description.append(line)
        else:
            current.body += line
    for name in ONCE_ONLY:
        if sum(1 for s in sections if s.name == name) > 1:
            raise CaseError("%s: section '%s' given twice" % (path, name))
    case = Case(path, "".join(description).strip(), sections)
    _validate(case)
    return case


def _validate(case):
    """Expands everything once with dummy values, so that a typo fails before any run."""
    dummy = {n: "/x/" + n.lower() for n in PLACEHOLDERS}
    dummy["env"] = _AnyEnv()
    inputs = {n: v for n, v in dummy.items() if n != "PID"}
    try:
        for s in case.sections:
            if s.name in INPUT_SECTIONS:
                expand_plain(s.arg, inputs)
                if s.arg.endswith("/") and s.body:
                    raise CaseError("directory %s cannot have content" % s.arg)
                expand_plain(s.body, inputs)
            elif s.name in ("args", "stdin"):
                expand_plain(s.body, inputs)
            elif s.name == "env":
                for line in _list_lines(s.body):
                    if not line.startswith("-") and "=" not in line:
                        raise CaseError("env line '%s': NAME=VALUE or -NAME expected" % line)
                    expand_plain(line, inputs)
            elif s.name == "status":
                _parse_status(s.body)
            elif s.name in ("stdout", "stderr", "file"):
                expect_pieces(s.body, dummy)
            elif s.name in PATH_CHECKS:
                expand_plain(s.arg, dummy)
                if s.name == "regex":
                    for line in _list_lines(s.body):
                        re.compile(expand_regex(line, dummy))
                elif s.body.strip():
                    raise CaseError("section '%s' takes no body" % s.name)
    except CaseError as e:
        raise CaseError("%s:%d: %s" % (case.path, s.line, e)) from None
    except re.error as e:
        raise CaseError("%s:%d: bad regex: %s" % (case.path, s.line, e)) from None


def _list_lines(body):
    return [l for l in body.split("\n") if l.strip()]


def _parse_status(body):
    items = _list_lines(body)
    if len(items) != 1 or not re.fullmatch(r"-?\d+", items[0].strip()):
        raise CaseError("status must be one integer")
    return int(items[0].strip()) % 256


def _b(s):
    return s.encode("latin-1")


class Result:
    def __init__(self):
        self.failures = []   # (title, detail)
        self.command = ""
        self.kept = None


def build_env(case, values):
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
    for k, v in os.environ.items():
        if k.startswith(PASSTHROUGH_PREFIXES):
            env[k] = v
    env["X_HOME"] = values["HOME"]
    env["TMP_DIR"] = values["TMP"]
    s = case.first("env")
    if s:
        for line in _list_lines(s.body):
            line = expand_plain(line, values)
            if line.startswith("-"):
                env.pop(line[1:], None)
            else:
                k, _, v = line.partition("=")
                env[k] = v
    return env


def _write_inputs(case, dirs, values):
    for s in case.all(*INPUT_SECTIONS):
        rel = expand_plain(s.arg, values)
        target = os.path.join(dirs[s.name], rel)
        if rel.endswith("/"):
            os.makedirs(target, exist_ok=True)
            continue
        parent = os.path.dirname(target)
        if parent:
            os.makedirs(parent, exist_ok=True)
        with open(target, "wb") as f:
            f.write(_b(expand_plain(s.body, values)))


def run_case(case, prog, timeout=DEFAULT_TIMEOUT, keep=False, log=None):
    """Runs one case; returns a Result. Temporary directories go unless keep is set."""
    result = Result()
    base = os.path.realpath(tempfile.mkdtemp(prefix="vandrel-case-"))
    dirs = {"page": os.path.join(base, "root"), "home": os.path.join(base, "home"),
            "tmp": os.path.join(base, "tmp")}
    for d in dirs.values():
        os.mkdir(d)
    values = {"ROOT": dirs["page"], "HOME": dirs["home"], "TMP": dirs["tmp"]}
    try:
        _write_inputs(case, dirs, values)
        env = build_env(case, values)
        s = case.first("args")
        args = [expand_plain(a, values) for a in _list_lines(s.body)] if s else []
        s = case.first("stdin")
        stdin = _b(expand_plain(s.body, values)) if s else b""
        argv = [prog] + args
        result.command = "cd %s && env -i %s %s" % (
            shlex.quote(dirs["page"]),
            " ".join(shlex.quote("%s=%s" % kv) for kv in sorted(env.items())),
            " ".join(shlex.quote(a) for a in argv))
        if log:
            log("run: " + result.command)
        proc = subprocess.Popen([_b(a) for a in argv], cwd=dirs["page"],
                                env={_b(k): _b(v) for k, v in env.items()},
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, start_new_session=True)
        timed_out = False
        try:
            out, err = proc.communicate(stdin, timeout=timeout)
        except subprocess.TimeoutExpired:
            timed_out = True
            _kill_group(proc.pid)
            try:
                out, err = proc.communicate(timeout=5)
            except subprocess.TimeoutExpired:
                # Something outside the group still holds the pipes; stop reading them.
                proc.kill()
                proc.wait()
                out = err = b""
        # Anything the page left running in the background goes with the run.
        _kill_group(proc.pid)
        values["PID"] = str(proc.pid)
        _check(case, result, values, out.decode("latin-1"), err.decode("latin-1"),
               proc.returncode, timed_out, timeout)
    finally:
        if keep:
            result.kept = base
        else:
            shutil.rmtree(base, ignore_errors=True)
    return result


def _kill_group(pgid):
    try:
        os.killpg(pgid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass


def _check(case, result, values, out, err, returncode, timed_out, timeout):
    fail = result.failures.append
    if timed_out:
        fail(("timeout", "no exit within %g seconds; killed" % timeout))
    s = case.first("status")
    expected_status = _parse_status(s.body) if s else 0
    if not timed_out:
        if returncode < 0:
            fail(("status", "killed by signal %d (expected exit status %d)"
                  % (-returncode, expected_status)))
        elif returncode != expected_status:
            fail(("status", "exit status %d, expected %d" % (returncode, expected_status)))
    for name, actual in (("stdout", out), ("stderr", err)):
        s = case.first(name)
        if s:
            pieces = expect_pieces(s.body, values)
            if not matches(pieces, actual):
                fail((name, diff_text(pieces, actual)))
    for s in case.all(*PATH_CHECKS):
        path = expand_plain(s.arg, values)
        if not os.path.isabs(path):
            path = os.path.join(values["ROOT"], path)
        shown = s.arg
        if s.name in ("exists", "absent"):
            found = glob.glob(path)
            if s.name == "exists" and not found:
                fail(("exists " + shown, "nothing matches %s" % path))
            if s.name == "absent" and found:
                fail(("absent " + shown, "present: %s" % ", ".join(sorted(found))))
            continue
        try:
            with open(path, "rb") as f:
                content = f.read().decode("latin-1")
        except OSError as e:
            fail(("%s %s" % (s.name, shown), "cannot read %s: %s" % (path, e.strerror)))
            continue
        if s.name == "file":
            pieces = expect_pieces(s.body, values)
            if not matches(pieces, content):
                fail(("file " + shown, diff_text(pieces, content)))
        else:
            missing = [l for l in _list_lines(s.body)
                       if not re.search(expand_regex(l, values), content, re.M)]
            if missing:
                fail(("regex " + shown, "patterns not found:\n  " + "\n  ".join(missing)
                      + "\n--- content:\n" + visible(content)))


def diff_text(pieces, actual):
    expected = visible_pieces(pieces)
    if STAMP in pieces:
        # Stamps differ on every run; show them as the placeholder so the diff stays quiet.
        parts = re.split(STAMP_RE, actual)
        act = "".join(visible(p, final=False) + ("{STAMP}" if i < len(parts) - 1 else "")
                      for i, p in enumerate(parts))
        if act and not act.endswith("\n"):
            act += "\\c"
    else:
        act = visible(actual)
    lines = difflib.unified_diff(expected.splitlines(keepends=True),
                                 act.splitlines(keepends=True),
                                 "expected", "actual", lineterm="\n")
    text = "".join(l if l.endswith("\n") else l + "\n" for l in lines)
    if has_markers(pieces):
        # A line diff against a pattern is noisy; name the first piece that cannot be placed.
        k = 0
        while k < len(pieces) and re.match(pieces_regex(pieces[:k + 1]), actual, re.S):
            k += 1
        if k < len(pieces):
            bad = pieces[k]
            shown = repr(bad) if isinstance(bad, Marker) else visible(bad, final=False)
            text = "first expected piece not found (after %d matched): %s\n%s" % (
                k, shown, text)
        else:
            text = "all pieces found, but the actual text goes on past the end\n" + text
    return text + "--- actual, in full:\n" + act


def main(argv=None):
    ap = argparse.ArgumentParser(description="Run Vandrel black-box cases.")
    ap.add_argument("--prog", required=True, help="the Vandrel binary under test")
    ap.add_argument("--timeout", type=float, default=DEFAULT_TIMEOUT)
    ap.add_argument("--keep", action="store_true", help="keep the temporary directories")
    ap.add_argument("-v", "--verbose", action="store_true")
    ap.add_argument("cases", nargs="+")
    opts = ap.parse_args(argv)
    prog = os.path.abspath(opts.prog)
    if not os.access(prog, os.X_OK):
        print("error: program not found or not executable: %s" % prog)
        return 2
    passed = failed = 0
    log = print if (opts.verbose or opts.keep) else None
    for path in opts.cases:
        try:
            with open(path, "rb") as f:
                case = parse_case(f.read(), path)
            result = run_case(case, prog, opts.timeout, opts.keep, log)
        except CaseError as e:
            print("BROKEN CASE %s\n  %s" % (path, e))
            failed += 1
            continue
        if result.kept:
            print("kept %s" % result.kept)
        real = result.failures
        if not real:
            passed += 1
            print("PASS %s" % path)
            continue
        failed += 1
        print("FAIL %s" % path)
        if case.description:
            print("  " + case.description.replace("\n", "\n  "))
        for title, detail in real:
            print("--- %s: %s" % (title, detail.rstrip("\n")) if "\n" not in detail
                  else "--- %s:\n%s" % (title, detail.rstrip("\n")))
        print("--- reproduce:\n  %s %s --prog %s --keep %s" % (
            shlex.quote(sys.executable), shlex.quote(os.path.abspath(__file__)),
            shlex.quote(prog), shlex.quote(os.path.abspath(path))))
        print("  (the run was: %s)" % result.command)
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
