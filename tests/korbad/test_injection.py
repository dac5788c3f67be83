"""Nothing a client sends may run anything but a declared command's program.

A corpus of hostile requests goes to a service whose only granted command
prints its arguments. Each reply is compared with what a model of the
request handling says must reach the program, and no request may leave the
trace of any other program having run."""

import glob
import os
import unittest

from korbad_harness import Service

ALLOWED = set(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,:*/-_")


def expected_argv(request, path):
    """What the program must receive: sanitised, split, cut like the service."""
    text = request[:1024].split(b"\0")[0]
    text = bytes(c if c in ALLOWED else 0x20 for c in text).lstrip(b" ")
    end = text.find(b" ")
    end = 98 if end < 0 or end > 98 else end
    word, args = text[:end], text[end:]
    word = word.rsplit(b"/", 1)[-1]
    line = (path + b" " + args)[:511]
    return word, line.split()[1:]


class Injection(unittest.TestCase):
    def test_corpus(self):
        svc = Service()
        with svc:
            runs = svc.path("runs")
            program = svc.script("args.sh", f'echo run >> {runs}\nprintf "%s|" "$@"; echo\n')
            svc.set_access(f"access 127.0.0.1\ncommand args {program}\n")
            trap = svc.path("pwned").encode()
            touch = b"touch " + trap
            payloads = [
                b"5;" + touch, b"5 && " + touch, b"5 | " + touch, b"5 || " + touch,
                b"$(" + touch + b")", b"`" + touch + b"`", b"5\n" + touch + b"\n",
                b"5\r\n" + touch, b"'; " + touch + b"; '", b'"; ' + touch + b'; "',
                b"5 > " + trap, b"5 >> " + trap, b"5 < /etc/passwd", b"${IFS}touch${IFS}" + trap,
                b"5 & " + touch + b" &", b"\\; " + touch, b"#; " + touch, b"~root $HOME $PATH",
                b"!!; " + touch, b"5\x00; " + touch, b"\x00" + touch,
                b"caf\xc3\xa9 \xff\xfe\x80 " + touch, b"A=b " + touch, b"\t" + touch,
                b"-x --option=1 /etc/passwd,x:y", b"5" + (b";" + touch) * 200,
                b"\x1b[2J\x7f\x01\x02 " + touch, b"%s%n%x " + touch, b"{a,b} [x] ?",
            ]
            requests = [b"args " + p for p in payloads]
            requests += [b"args;" + touch, b";args " + touch, b"args$(" + touch + b")",
                         b"/../../args 1", b"args" + b"\x00" * 2000, b"$(args)"]
            # Requests that name some other program must be refused.
            refused = [b"sh -c '" + touch + b"'", b"/bin/sh -c touch", b"../../bin/sh",
                       touch, b"args.sh", b"ARGS", b"\x00args 5", b"a\rrgs"]
            ok_replies = 0
            for req in requests + refused:
                word, argv = expected_argv(req, program.encode())
                with self.subTest(req=req[:60]):
                    reply = svc.request(req)
                    if word == b"args":
                        ok_replies += 1
                        # printf prints its format once even without arguments.
                        printed = b"".join(a + b"|" for a in argv) or b"|"
                        self.assertEqual(reply, b"STAT *** OK COMMAND (cmd: args)\n" + printed
                                         + b"\n")
                        for arg in argv:
                            self.assertTrue(set(arg) <= ALLOWED, arg)
                    else:
                        self.assertEqual(reply, b"STAT *** BAD COMMAND (no access: "
                                         + word + b")\n")
            self.assertEqual(glob.glob(svc.path("pwned*")), [])
            with open(runs) as f:
                self.assertEqual(f.read().count("run"), ok_replies)
            # The refused requests really were aimed at another name.
            self.assertGreater(len(requests) + len(refused), ok_replies)
            self.assertEqual(ok_replies, len(requests))


if __name__ == "__main__":
    unittest.main()
