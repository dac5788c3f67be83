"""Self-test of the case harness: parser, notation, matching and the runner itself.

The runner part drives a small shell script instead of the interpreter, so the harness can be
trusted before the interpreter exists.
"""

import os
import shutil
import tempfile
import time
import unittest

import vandrel_case as vc

VALUES = {"ROOT": "/r/root", "HOME": "/r/home", "TMP": "/r/tmp"}


class ParseTest(unittest.TestCase):
    def test_sections_bodies_and_description(self):
        case = vc.parse_case(b"What it checks.\n=== page sub/a.page\nline 1\n\nline 3\n"
                             b"=== args\na.page\n=== status\n-2\n")
        self.assertEqual(case.description, "What it checks.")
        self.assertEqual([(s.name, s.arg) for s in case.sections],
                         [("page", "sub/a.page"), ("args", ""), ("status", "")])
        # Empty lines inside a body are content.
        self.assertEqual(case.sections[0].body, "line 1\n\nline 3\n")
        self.assertEqual(vc._parse_status(case.first("status").body), 254)

    def test_missing_final_newline_of_file_is_supplied(self):
        case = vc.parse_case(b"=== stdout\nabc")
        self.assertEqual(case.first("stdout").body, "abc\n")

    def test_errors(self):
        for bad in (b"=== pages x\n", b"=== page\n", b"=== stdout x\n",
                    b"=== stdout\n=== stdout\n", b"=== status\nzero\n",
                    b"=== env\nNOEQUALS\n", b"=== page a/\ncontent\n",
                    b"=== regex f\n([\n", b"=== exists f\nbody\n"):
            with self.assertRaises(vc.CaseError, msg=bad):
                vc.parse_case(bad)

    def test_typos_in_notation_fail_at_parse_time(self):
        with self.assertRaises(vc.CaseError):
            vc.parse_case(b"=== page p\n\\xZ1\n")
        with self.assertRaises(vc.CaseError):
            vc.parse_case(b"=== page p\n{PID}\n")
        with self.assertRaises(vc.CaseError):
            vc.parse_case(b"=== page p\n{STAMP}\n")


class ExpandTest(unittest.TestCase):
    def plain(self, text, values=VALUES):
        return vc.expand_plain(text, values)

    def test_escapes(self):
        self.assertEqual(self.plain(r"a\tb\rc\0d\xE9\\e\{ROOT}"),
                         "a\tb\rc\0d\xe9\\e{ROOT}")

    def test_lone_backslash_stays(self):
        self.assertEqual(self.plain("<@set> a \\\nb\n"), "<@set> a \\\nb\n")
        self.assertEqual(self.plain("x\\"), "x\\")
        self.assertEqual(self.plain('\\"q\\"'), '\\"q\\"')

    def test_no_newline_marker(self):
        self.assertEqual(self.plain("one\\c\ntwo\\c\n"), "onetwo")
        with self.assertRaises(vc.CaseError):
            self.plain("one\\c two\n")

    def test_placeholders(self):
        self.assertEqual(self.plain("{ROOT}/x {HOME} {TMP}"), "/r/root/x /r/home /r/tmp")
        # Braces that are not placeholders are ordinary text.
        self.assertEqual(self.plain("{%s} {X_ROOT} {} {root}"), "{%s} {X_ROOT} {} {root}")
        with self.assertRaises(vc.CaseError):
            self.plain("{PID}")

    def test_environment_placeholder(self):
        values = dict(VALUES, env={"SOCK": "/run/s.sock"})
        self.assertEqual(self.plain("-S {ENV:SOCK} {REP:2:{ENV:SOCK}}", values),
                         "-S /run/s.sock /run/s.sock/run/s.sock")
        self.assertEqual(vc.expand_regex(r"^a{ENV:SOCK}$", values), r"^a/run/s\.sock$")
        with self.assertRaises(vc.CaseError):
            self.plain("{ENV:NOT_SET_ANYWHERE}", values)
        # A case is checked for typos without the variables it will need at run time.
        vc.parse_case(b"=== home x.config\nshell:00 {ROOT} {ENV:NOT_SET_ANYWHERE}\n")

    def test_repeat(self):
        self.assertEqual(self.plain("<{REP:3:ab}>"), "<ababab>")
        self.assertEqual(self.plain("{REP:2:\\x41{ROOT};}"), "A/r/root;A/r/root;")
        self.assertEqual(self.plain("{REP:0:x}y"), "y")
        self.assertEqual(len(self.plain("{REP:2094:z}")), 2094)
        with self.assertRaises(vc.CaseError):
            self.plain("{REP:3:abc")

    def test_large_repeat_is_fast_and_byte_exact(self):
        # A body of some megabytes (an upload) must expand in linear time.
        start = time.monotonic()
        text = self.plain("[{REP:200000:\\r\\n\\0\\xFF-{REP:2:ab}}]")
        self.assertLess(time.monotonic() - start, 5.0)
        self.assertEqual(len(text), 2 + 200000 * 9)
        self.assertEqual(text[:11], "[\r\n\0\xff-abab\r")
        self.assertEqual(text[-3:], "ab]")
        pieces = vc.expand("a{REP:50000:x{STAMP}}b", dict(VALUES, PID="1"), patterns=True)
        self.assertEqual(len(pieces), 100001)
        self.assertEqual((pieces[0], pieces[1], pieces[-1]), ("ax", vc.STAMP, "b"))

    def test_markers_only_in_expectations(self):
        pieces = vc.expand("a{STAMP}b{...}c", dict(VALUES, PID="7"), patterns=True)
        self.assertEqual(pieces, ["a", vc.STAMP, "b", vc.ANY, "c"])


class MatchTest(unittest.TestCase):
    def expect(self, text):
        return vc.expand(text, dict(VALUES, PID="42"), patterns=True)

    def test_exact(self):
        self.assertTrue(vc.matches(self.expect("a\\r\n"), "a\r\n"))
        self.assertFalse(vc.matches(self.expect("a\\r\n"), "a\r\n\n"))
        self.assertFalse(vc.matches(self.expect("a\n"), "a"))
        self.assertTrue(vc.matches(self.expect("a\\c\n"), "a"))

    def test_stamp(self):
        p = self.expect("{STAMP}msg")
        for good in ("    0.123456 [     0] msg", "   12.000001 [123456] msg",
                     "123456.999999 [1234567] msg"):
            self.assertTrue(vc.matches(p, good), good)
        for bad in ("0.123456 [0] msg", "    0.12345 [     0] msg",
                    "    0.123456 [     0]msg", "    0.1234567 [     0] msg",
                    "   0 .123456 [     0] msg"):
            self.assertFalse(vc.matches(p, bad), bad)

    def test_any(self):
        p = self.expect("head\n{...}tail {PID}\n")
        self.assertTrue(vc.matches(p, "head\ntail 42\n"))
        self.assertTrue(vc.matches(p, "head\nx\ny\ntail 42\n"))
        self.assertFalse(vc.matches(p, "head\ntail 43\n"))
        # Regex characters in the literal parts are literal.
        self.assertFalse(vc.matches(self.expect("a.c{...}"), "abc"))

    def test_trailing_any_ignores_the_case_file_line_end(self):
        p = vc.expect_pieces("head{...}\n", dict(VALUES, PID="1"))
        self.assertTrue(vc.matches(p, "head and more"))
        self.assertTrue(vc.matches(p, "head\n"))
        # Elsewhere a newline after {...} is still required.
        p = vc.expect_pieces("a{...}\nb\n", dict(VALUES, PID="1"))
        self.assertFalse(vc.matches(p, "axb\n"))

    def test_regex_lines(self):
        rx = vc.expand_regex(r"\A{STAMP}X \d+ {ROOT}/a\.page", VALUES)
        self.assertRegex("    1.000000 [    10] X 12 /r/root/a.page", rx)
        self.assertNotRegex("    1.000000 [    10] X 12 /r/rootXa.page", rx)
        self.assertEqual(vc.expand_regex(r"x{2}", VALUES), r"x{2}")

    def test_visible(self):
        self.assertEqual(vc.visible("a\tb\r\n\xe9\\"), "a\\tb\\r\n\\xE9\\\\\\c")
        self.assertEqual(vc.visible_pieces(self.expect("x{STAMP}y{...}")),
                         "x{STAMP}y{...}")


FAKE = """#!/bin/sh
echo "cwd=$(pwd)"
echo "home=$X_HOME tmp=$TMP_DIR leak=${VANDREL_SELFTEST_LEAK-unset} extra=${EXTRA-unset} pid=$$"
for a in "$@"; do echo "arg=$a"; done
cat
cat page.txt
echo made > "$TMP_DIR/out.$$"
exit 3
"""


class RunTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vandrel-selftest-")
        self.prog = os.path.join(self.dir, "fake")
        with open(self.prog, "w") as f:
            f.write(FAKE)
        os.chmod(self.prog, 0o755)
        os.environ["VANDREL_SELFTEST_LEAK"] = "yes"
        self.made = []
        real_mkdtemp = tempfile.mkdtemp

        def spy(*a, **k):
            d = real_mkdtemp(*a, **k)
            self.made.append(d)
            return d

        tempfile.mkdtemp = spy
        self.addCleanup(setattr, tempfile, "mkdtemp", real_mkdtemp)

    def tearDown(self):
        del os.environ["VANDREL_SELFTEST_LEAK"]
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_text(self, text, **kw):
        return vc.run_case(vc.parse_case(text.encode("latin-1")), self.prog, **kw)

    GOOD = ("=== page page.txt\npage \\xE9\\c\n"
            "=== env\nEXTRA=a b\n"
            "=== args\nfirst arg\n{ROOT}/x\n"
            "=== stdin\nin\\r\n"
            "=== stdout\ncwd={ROOT}\n"
            "home={HOME} tmp={TMP} leak=unset extra=a b pid={PID}\n"
            "arg=first arg\narg={ROOT}/x\nin\\r\npage \\xE9\\c\n"
            "=== status\n3\n"
            "=== file {TMP}/out.{PID}\nmade\n"
            "=== regex {TMP}/out.{PID}\n^ma\n"
            "=== exists {TMP}/out.*\n"
            "=== absent {TMP}/nothing*\n")

    def test_passing_case_and_clean_environment(self):
        result = self.run_text(self.GOOD)
        self.assertEqual(result.failures, [])
        # The temporary directories are gone.
        self.assertTrue(self.made)
        for d in self.made:
            self.assertFalse(os.path.exists(d))

    def test_each_check_can_fail(self):
        swaps = [("=== status\n3\n", "=== status\n0\n", "status"),
                 ("leak=unset", "leak=yes", "stdout"),
                 ("=== file {TMP}/out.{PID}\nmade\n", "=== file {TMP}/out.{PID}\nmade\\c\n",
                  "file {TMP}/out.{PID}"),
                 ("^ma\n", "^ade\n", "regex {TMP}/out.{PID}"),
                 ("=== exists {TMP}/out.*", "=== exists {TMP}/gone*", "exists {TMP}/gone*"),
                 ("=== absent {TMP}/nothing*", "=== absent {TMP}/out.*", "absent {TMP}/out.*")]
        for old, new, title in swaps:
            text = self.GOOD.replace(old, new)
            self.assertNotEqual(text, self.GOOD)
            result = self.run_text(text)
            self.assertEqual([t for t, _ in result.failures], [title], new)

    def test_diff_shows_invisible_bytes(self):
        result = self.run_text(self.GOOD.replace("in\\r\npage", "in\npage"))
        title, detail = result.failures[0]
        self.assertEqual(title, "stdout")
        self.assertIn("+in\\r", detail)
        self.assertIn("-in\n", detail)

    def test_default_status_is_zero(self):
        result = self.run_text("=== page page.txt\n")
        self.assertEqual([t for t, _ in result.failures], ["status"])

    def test_unset_variable(self):
        result = self.run_text("=== page page.txt\n=== env\n-X_HOME\n=== status\n3\n"
                               "=== stdout\ncwd={ROOT}\n"
                               "home= tmp={TMP} leak=unset extra=unset pid={PID}\n")
        self.assertEqual(result.failures, [])

    def test_environment_reaches_the_run_only_when_named(self):
        result = self.run_text("=== page page.txt\n=== env\nEXTRA={ENV:VANDREL_SELFTEST_LEAK}\n"
                               "=== status\n3\n=== stdout\ncwd={ROOT}\n"
                               "home={HOME} tmp={TMP} leak=unset extra=yes pid={PID}\n")
        self.assertEqual(result.failures, [])
        with self.assertRaises(vc.CaseError):
            self.run_text("=== env\nEXTRA={ENV:NOT_SET_ANYWHERE}\n")

    def test_timeout_kills_the_run(self):
        with open(self.prog, "w") as f:
            f.write("#!/bin/sh\nexec sleep 30\n")
        start = time.monotonic()
        result = self.run_text("=== stdout\n", timeout=0.5)
        self.assertLess(time.monotonic() - start, 5)
        self.assertIn("timeout", [t for t, _ in result.failures])


if __name__ == "__main__":
    unittest.main()
