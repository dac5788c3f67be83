#!/usr/bin/python3
"""Checks the manual pages in doc/man against mandoc and the programs' usage texts.

Every page must be clean under `mandoc -Tlint -W warning`. For each program,
the SYNOPSIS of its page must name the same options as its usage text, with
the same argument names, and the same positional arguments.

Environment:
  TOOLKIT_BIN  folder of the built programs (default: build/bin of this checkout)
  MANUAL_DIR   folder of the pages (default: doc/man of this checkout)

Usage: test_manuals.py [unittest arguments...]
"""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.normpath(os.path.join(HERE, "..", ".."))
MANUAL_DIR = os.environ.get("MANUAL_DIR") or os.path.join(TOP, "doc", "man")
TOOLKIT_BIN = os.environ.get("TOOLKIT_BIN") or os.path.join(TOP, "build", "bin")
TIMEOUT = 10

# How each program is made to print its usage text: arguments, extra
# environment, and whether "-Name Value" in it stands for a variable
# assignment rather than for bundled option letters. Hestov has no usage text.
PROGRAMS = {
    "Vandrel": {"args": [], "name_value": True},
    "Pemto": {"args": ["-x"], "env": {"PEMTO_SIMULATE": "UltraSPARC III", "PEMTO_SIMULATE_CPUS": "2"}},
    "Korbad": {"args": ["-x"]},
    "Druvik": {"args": ["-h"]},
    "Sennel": {"args": []},
    "Orlmet": {"args": []},
    "Hestov": None,
}

# Words of a usage line that stand for the options as a whole.
PLACEHOLDERS = {"Options"}

# mdoc macros that may be called on a SYNOPSIS line after the first one.
CALLABLE = set("Ac Ao Ap Aq Ar Bc Bo Bq Brc Bro Brq Cm Dc Do Dq Dv Ec Em Eo Er Ev Fa Fl Fo Ic "
               "Li Ms Nm No Ns Oc Oo Op Pa Pc Pf Po Pq Qc Qo Ql Qq Sc So Sq Sx Sy Tn Va Xc Xo "
               "Xr".split())
# Macros that may stand between an option and its argument.
BETWEEN = {"Oo", "Op", "Ns", "Pf", "Brq", "Bro", "Bq", "Bo"}
DELIMITER = re.compile(r"^[][(){}|.,:;?!]+$")


def clean_environment(home):
    """The caller's environment without anything that changes how a program runs."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("PEMTO_", "KORBAD_", "X_", "HTTP_", "SERVER_", "REQUEST_",
                                "CONTENT_", "QUERY_", "PATH_", "SCRIPT_", "GATEWAY_"))
           or k == "PATH"}
    env["X_HOME"] = home  # Vandrel: an empty home, so that no installed site runs
    env["LC_ALL"] = "C"
    return env


def usage_text(program):
    """Everything the program prints when asked for its usage, stdout then stderr."""
    how = PROGRAMS[program]
    with tempfile.TemporaryDirectory() as scratch:
        env = clean_environment(scratch)
        env.update(how.get("env", {}))
        result = subprocess.run([os.path.join(TOOLKIT_BIN, program)] + how["args"], cwd=scratch,
                                env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=TIMEOUT)
    return (result.stdout + result.stderr).decode("utf-8", "replace")


def words(text):
    return re.findall(r"[A-Za-z0-9_]+", text)


class Usage:
    """Options and arguments of a usage text.

    letters:   option letters
    arguments: option letter -> words of its argument ([] for none)
    operands:  words of the positional arguments, in order
    """

    def __init__(self, text, name_value=False):
        self.letters, self.arguments, self.operands = set(), {}, []
        lines = text.splitlines()
        at = next((i for i, line in enumerate(lines) if "Usage:" in line), None)
        if at is None:
            raise ValueError("no 'Usage:' line in:\n" + text)
        line = lines[at].split("Usage:", 1)[1]
        if not line.strip():  # the usage itself is on the next non-empty line
            at = next(i for i in range(at + 1, len(lines)) if lines[i].strip())
            line = lines[at]
        self._parse_line(line, name_value)
        # Option lines below it: "  -c command   -- text" or "\t-i\t  text".
        for line in lines[at + 1:]:
            m = re.match(r"^\s+-([A-Za-z0-9])(?:\s+(\w+))?\s+--\s", line)
            if m:
                self._add(m.group(1), [m.group(2)] if m.group(2) else [])
                continue
            m = re.match(r"^\s+-([A-Za-z0-9])\s", line)
            if m:
                self._add(m.group(1), [])

    def _add(self, letter, argument):
        self.letters.add(letter)
        if argument or letter not in self.arguments:
            self.arguments[letter] = argument

    def _parse_line(self, line, name_value):
        line = re.sub(r"\([^()]*\)", " ", line)  # remarks such as "(default:5000)"
        tokens = re.findall(r"\[|\]|[^\s\[\]]+", line)[1:]  # less the program name
        depth, owner = 0, None  # owner: the option whose argument is being read, and its depth
        for token in tokens:
            if token == "[":
                depth += 1
                continue
            if token == "]":
                depth -= 1
                if owner and depth < owner[1]:
                    owner = None
                continue
            if token.startswith("-") and not name_value:
                letters = words(token[1:])
                for letter in "".join(letters):
                    self._add(letter, [])
                owner = (letters[0], depth) if len(letters) == 1 and len(letters[0]) == 1 else None
                continue
            for word in words(token):
                if owner:
                    self.arguments[owner[0]].append(word)
                elif word not in PLACEHOLDERS:
                    self.operands.append(word)

    def option_words(self):
        return {w for argument in self.arguments.values() for w in argument}


def read_section(page_text, name):
    """The lines of section `name` of an mdoc page."""
    out, inside = [], False
    for line in page_text.splitlines():
        if line.startswith(".Sh "):
            inside = line[4:].strip().strip('"') == name
            continue
        if inside:
            out.append(line)
    return out


def macro_tokens(lines):
    """(macro, word) pairs of the macro lines, line by line; a macro with no
    word gives (macro, None)."""
    result = []
    for line in lines:
        if not line.startswith(".") or line.startswith(".\\\""):
            continue
        line = line.replace("\\&", "").replace("\\-", "-").replace("\\e", "\\")
        parts = [p[1:-1].replace('""', '"') if p.startswith('"') else p
                 for p in re.findall(r'"(?:[^"]|"")*"|\S+', line[1:])]
        pairs, macro, empty = [], None, False
        for i, part in enumerate(parts):
            if i == 0 or part in CALLABLE:
                if macro is not None and empty:
                    pairs.append((macro, None))
                macro, empty = part, True
                continue
            pairs.append((macro, part))
            empty = False
        if macro is not None and empty:
            pairs.append((macro, None))
        result.append(pairs)
    return result


class Synopsis:
    """Options and arguments named by the SYNOPSIS of a page."""

    def __init__(self, page_text):
        self.lines = macro_tokens(read_section(page_text, "SYNOPSIS"))
        self.letters, self.arguments = set(), set()
        for pairs in self.lines:
            for macro, word in pairs:
                if word is None or DELIMITER.match(word):
                    continue
                if macro == "Fl":
                    self.letters.update("".join(words(word)))
                elif macro == "Ar":
                    self.arguments.update(words(word))

    def argument_of(self, letter):
        """For each `Fl letter` of the SYNOPSIS, the first word of the argument
        that follows it on the same line, or None."""
        found = []
        for pairs in self.lines:
            for i, (macro, word) in enumerate(pairs):
                if macro != "Fl" or word != letter:
                    continue
                following = None
                for later_macro, later_word in pairs[i + 1:]:
                    if later_macro == "Ar" and later_word and not DELIMITER.match(later_word):
                        following = words(later_word)[0] if words(later_word) else None
                        break
                    if later_macro in BETWEEN or (later_word and DELIMITER.match(later_word)):
                        continue
                    break
                found.append(following)
        return found


def page_of(program):
    path = os.path.join(MANUAL_DIR, program + ".1")
    if not os.path.isfile(path):
        return None
    with open(path, encoding="utf-8") as f:
        return f.read()


class UsageParserTest(unittest.TestCase):
    """The extraction itself, so that a broken parser cannot pass every page."""

    def test_usage_forms(self):
        u = Usage("x\nUsage:\tPemto [-{i|s|r|M}] [-DnmRh] [interval [count]]\n\n\t-p\t  per-cpu\n")
        self.assertEqual(u.letters, set("isrMDnmRhp"))
        self.assertEqual(u.operands, ["interval", "count"])
        u = Usage("Usage: ./Korbad [-p [IP:]port (default:5000)] \n")
        self.assertEqual((u.letters, u.arguments, u.operands), ({"p"}, {"p": ["IP", "port"]}, []))
        u = Usage("Usage: ./D Options  File [File2]\n  -h      -- help\n  -c command  -- do (1:2), -1\n"
                  "Note: both -e and -b\n")
        self.assertEqual((u.letters, u.arguments, u.operands),
                         ({"h", "c"}, {"h": [], "c": ["command"]}, ["File", "File2"]))
        u = Usage("Usage:\n\tV script [-Var Value [-Var2 Value2 [..]]]\n", name_value=True)
        self.assertEqual((u.letters, u.operands), (set(), ["script", "Var", "Value", "Var2", "Value2"]))

    def test_synopsis_forms(self):
        s = Synopsis(".Sh SYNOPSIS\n.Nm\n.Op Fl i | s\n.Op Fl DnR\n.Op Fl p Oo Ar IP : Oc Ns Ar port\n"
                     ".Op Fl c Ar command\n.Ar File Op Ar File2\n.Sh DESCRIPTION\n.Fl x Ar y\n")
        self.assertEqual(s.letters, set("isDnRpc"))
        self.assertEqual(s.arguments, {"IP", "port", "command", "File", "File2"})
        self.assertEqual(s.argument_of("p"), ["IP"])
        self.assertEqual(s.argument_of("c"), ["command"])
        self.assertEqual(s.argument_of("i"), [None])
        s = Synopsis(".Sh SYNOPSIS\n.Nm\n.Ar script\n.Op Fl Ns Ar Var Ar Value ...\n")
        self.assertEqual((s.letters, s.arguments), (set(), {"script", "Var", "Value"}))


class ManualTest(unittest.TestCase):

    def test_lint(self):
        mandoc = shutil.which("mandoc")
        if mandoc is None:
            self.fail("mandoc is not installed")
        if not os.path.isdir(MANUAL_DIR):
            self.fail("no manual folder %s" % MANUAL_DIR)
        pages = sorted(p for p in os.listdir(MANUAL_DIR) if re.search(r"\.[1-9]$", p))
        if not pages:
            self.fail("no manual pages in %s" % MANUAL_DIR)
        for page in pages:
            with self.subTest(page=page):
                result = subprocess.run([mandoc, "-Tlint", "-W", "warning", page], cwd=MANUAL_DIR,
                                        capture_output=True, text=True, timeout=TIMEOUT)
                report = result.stdout + result.stderr
                if report or result.returncode != 0:
                    self.fail("%s: mandoc -Tlint -W warning reports (status %d):\n%s"
                              % (page, result.returncode, report))

    def check_program(self, program):
        text = page_of(program)
        if text is None:
            self.fail("no manual for %s (%s.1 in %s)" % (program, program, MANUAL_DIR))
        synopsis = Synopsis(text)
        if not synopsis.lines:
            self.fail("%s.1: no SYNOPSIS section" % program)
        how = PROGRAMS[program]
        if how is None:
            usage = Usage("Usage: %s\n" % program)  # takes no options and no arguments
        else:
            usage = Usage(usage_text(program), how.get("name_value", False))

        problems = []
        missing, extra = usage.letters - synopsis.letters, synopsis.letters - usage.letters
        if missing:
            problems.append("options of the usage text missing from SYNOPSIS: "
                            + " ".join("-" + c for c in sorted(missing)))
        if extra:
            problems.append("options in SYNOPSIS that the usage text does not name: "
                            + " ".join("-" + c for c in sorted(extra)))
        for letter in sorted(usage.letters & synopsis.letters):
            expected = usage.arguments.get(letter) or []
            for found in synopsis.argument_of(letter):
                if expected and found != expected[0]:
                    problems.append("-%s takes %s in the usage text, but SYNOPSIS gives it %s"
                                    % (letter, " ".join(expected), found and "Ar " + found))
                elif not expected and found:
                    problems.append("-%s takes no argument in the usage text, but SYNOPSIS gives "
                                    "it Ar %s" % (letter, found))
        # A word that repeats an earlier one with a number ("File2" after
        # "File") may be written as "..." instead.
        known = set(usage.operands) | usage.option_words()
        repeats = {w for w in known if re.sub(r"\d+$", "", w) in known - {w}}
        required = known - repeats
        if required - synopsis.arguments:
            problems.append("arguments of the usage text missing as .Ar in SYNOPSIS: "
                            + " ".join(sorted(required - synopsis.arguments)))
        if synopsis.arguments - known - PLACEHOLDERS:
            problems.append(".Ar words in SYNOPSIS that the usage text does not name: "
                            + " ".join(sorted(synopsis.arguments - known - PLACEHOLDERS)))
        if problems:
            self.fail("%s.1 disagrees with the usage text of %s:\n  %s"
                      % (program, program, "\n  ".join(problems)))


def _make_test(program):
    return lambda self: self.check_program(program)


for _program in PROGRAMS:
    setattr(ManualTest, "test_synopsis_" + _program, _make_test(_program))


if __name__ == "__main__":
    unittest.main()
