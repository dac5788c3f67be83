#!/usr/bin/python3
"""Black-box tests of Pemto on simulated processors (PEMTO_SIMULATE) and on this host.

Usage: test_pemto.py PATH/TO/Pemto [unittest arguments...]
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

PROG = None
TIMEOUT = 20

PROCESSORS = [
    "UltraSPARC I&II", "UltraSPARC III", "UltraSPARC IIIi & IIIi+", "UltraSPARC III+",
    "UltraSPARC III+ & IV", "UltraSPARC IV+", "UltraSPARC T1", "UltraSPARC T2", "UltraSPARC T2+",
    "Pentium Pro with MMX, Pentium II", "AMD Opteron & Athlon64", "SPARC64 VI & VII",
    "Pentium 4 with HyperThreading",
]

USAGE = (
    "Usage:\tPemto [-{i|s|r|M}] [-{u|a|k}] [-DnmRh] [interval [count]]\n\n"
    "\t-i\t  outputs per-instruction stats (default)\n"
    "\t-s\t  outputs per-second stats\n"
    "\t-r\t  outputs per-reference stats\n"
    "\t-M\t  switches to memory bandwidth stats\n"
    "\t-u\t  tracks user mode (default)\n"
    "\t-k\t  tracks kernel mode\n"
    "\t-a\t  tracks both kernel and user modes\n"
    "\t-n\t  suppress titles\n"
    "\t-p\t  includes per-cpu output\n"
    "\t-D\t  enable debug mode\n"
    "\t-m\t  outputs MAX cpu stats (instead of AVG)\n"
    "\t-R\t  runs Pemto in the RT scheduling class\n"
    "\t-h\t  print extended usage information\n\n")

EXTENDED = (
    "\nVersion 2.0 2008/11\n"
    "\nStatistics:\n"
    "\tmips:   million instructions per second\n"
    "\tbus:    percentage utilization of address bus from CPUs\n"
    "\tflops:  million floating-point instructions per second\n"
    "\tcpi:    cycles per instruction\n"
    "\tdcm:    data-cache misses\n"
    "\ticm:    instruction-cache miss\n"
    "\tecm:    external-cache misses\n"
    "\titlb:   instruction TLB misses\n"
    "\tdtlb:   data TLB misses\n"
    "\tbrr:    branch rate\n"
    "\tbmr:    branch misses\n"
    "\tdsr:    data stall rate\n"
    "\tisr:    instruction stall rate\n"
    "\tfsr:    FP-unit stall rate\n"
    "\tbsr:    branch-misprediction stall rate\n"
    "\trwb:    remote writebacks\n"
    "\trecm:   external-cache misses referencing remote memory\n"
    "\nUS-III Memory Controller Statistics:\n"
    "\tbw:   total bandwidth in MB/s\n"
    "\trd:   total read bandwidth in MB/s\n"
    "\twr:   total write bandwidth in MB/s\n"
    "\nGetting started:\n"
    "\to per-instruction and per-second stats are ratios\n"
    "\to per-reference stats are percentages\n"
    "\to works with Solaris 10 and up\n"
    "\to needs to be run as root\n"
    "\to be careful with interpreting data on idle systems\n"
    "\to some counters may not be working properly\n")

NUMBER = r"(?:-?\d+(?:\.\d+)?|-?inf|-?nan)"


def run(args, processor=None, cpus=None, extra_env=None):
    """Runs Pemto; returns (status, stdout, stderr, seconds). Killed by pid on timeout."""
    env = {k: v for k, v in os.environ.items() if not k.startswith("PEMTO_")}
    if processor is not None:
        env["PEMTO_SIMULATE"] = processor
    if cpus is not None:
        env["PEMTO_SIMULATE_CPUS"] = str(cpus)
    env.update(extra_env or {})
    start = time.monotonic()
    proc = subprocess.Popen([PROG] + args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            env=env, text=True)
    try:
        out, err = proc.communicate(timeout=TIMEOUT)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.communicate()
        raise AssertionError("Pemto %s did not end within %d s" % (args, TIMEOUT))
    return proc.returncode, out, err, time.monotonic() - start


def banner(processor):
    return "\n\tCPU Type: %s with %d counters\n\tReference: " % (
        processor, {"AMD Opteron & Athlon64": 4, "SPARC64 VI & VII": 8}.get(processor, 2))


def report_lines(out):
    """The lines after the banner (which ends with an empty line)."""
    lines = out.split("\n")
    assert lines[0] == "" and lines[1].startswith("\tCPU Type: ") and lines[3] == "", out
    assert lines[-1] == "", "output ends without a newline"
    return lines[4:-1]


def values(line, prefix=True):
    fields = line.split("\t")
    if prefix:
        head = fields[0][:6]
        fields[0] = fields[0][6:]
        return head, [float(f) for f in fields]
    return [float(f) for f in fields]


class PemtoTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="pemto-bb-")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def test_host_without_counters(self):
        status, out, err, _ = run(["1", "1"])
        if status == 1:
            self.assertEqual(out, "")
            self.assertRegex(err, r"^Pemto: cannot access performance counters - [^\n]+\n$")
        else:  # a host with counters gets the generic-event model
            self.assertEqual(status, 0, err)
            self.assertIn("\tCPU Type: ", out)
            self.assertIn("mips\tcpi\tdcm\ticm\tecm\titlb\tdtlb\tbrr\tbmr\tdsr\tisr\n", out)

    def test_unrecognised_processor(self):
        for name in ["UltraSPARC iii", "UltraSPARC III ", "Pentium 4"]:
            status, out, err, _ = run([], processor=name)
            self.assertEqual(status, 1)
            self.assertEqual(out, "")
            self.assertEqual(err, "Pemto: %s is not a recognized cpu type.\n" % name)

    def test_unusable_number_of_simulated_cpus(self):
        for value in ["many", "0", "-2", "4097", "99999999999999999999", "8x", " 8", "2.5"]:
            with self.subTest(value=value):
                status, out, err, _ = run(["1", "1"], processor="UltraSPARC III", cpus=value)
                self.assertEqual(status, 1)
                self.assertEqual(out, "")
                self.assertEqual(err, "Pemto: PEMTO_SIMULATE_CPUS is \"%s\": it must be a whole "
                                      "number from 1 to 4096\n" % value)

    def test_help(self):
        name = "UltraSPARC III"
        for args in (["-h"], ["-h", "-x"], ["-s", "-h", "1", "2"]):
            status, out, err, _ = run(args, processor=name)
            self.assertEqual(status, 0, args)
            self.assertTrue(out.startswith(banner(name)), out)
            body = out[out.index("\n\n", 2) + 2:]
            self.assertEqual(body, USAGE + EXTENDED + "\nCPU info2: %s\n" % name, args)
        # A bad option before -h ends the options: usage on standard error, status 2.
        status, out, err, _ = run(["-x", "-h"], processor=name)
        self.assertEqual(status, 2)
        self.assertTrue(err.endswith(USAGE), err)
        self.assertNotIn("Usage", out)

    def test_usage_errors(self):
        cases = [["-x"], ["1", "2", "3"], ["0.001"], ["1", "0"], ["-5"], ["abc", "2"]]
        for args in cases:
            status, out, err, _ = run(args, processor="UltraSPARC III", cpus=2)
            self.assertEqual(status, 2, args)
            self.assertTrue(err.endswith(USAGE), args)
            self.assertEqual(report_lines(out), [], args)
        # -M on a model without memory statistics says why.
        status, out, err, _ = run(["-M", "1", "1"], processor="UltraSPARC I&II", cpus=2)
        self.assertEqual(status, 2)
        self.assertEqual(err, "Pemto: no memory bandwidth statistics for UltraSPARC I&II\n" + USAGE)

    def check_report(self, out, ncpus, count, percpu=True, titles=True, memory=False):
        """Number and shape of the report lines; returns the data lines."""
        lines = report_lines(out)
        header = None
        if titles:
            header = lines.pop(0)
            if percpu:
                self.assertTrue(header.startswith(" cpu  "), header)
                header = header[6:]
        per_group = 1 + (ncpus if percpu else 0)
        self.assertEqual(len(lines), count * per_group, out)
        if memory:
            if header is not None:
                self.assertEqual(header, "       bw         rd         wr")
            for i, line in enumerate(lines):
                head = " all" if percpu and i % per_group == 0 else ""
                if i % per_group:
                    head = "%4d" % (i % per_group - 1)
                self.assertRegex(line, r"^%s +%s  +%s  +%s$" % (head, NUMBER, NUMBER, NUMBER))
            return lines
        ncols = len(header.split("\t")) if header else None
        for i, line in enumerate(lines):
            row = line.split("\t")
            if ncols:
                self.assertEqual(len(row), ncols, line)
            for field in row[1:]:
                self.assertRegex(field, "^ *%s$" % NUMBER, line)
            if percpu:
                expected = " all  " if i % per_group == 0 else "%4d  " % (i % per_group - 1)
                self.assertEqual(line[:6], expected, line)
                self.assertRegex(line[6:].split("\t")[0], r"^ *%s$" % NUMBER, line)
        return lines

    def test_every_processor_end_to_end(self):
        for name in PROCESSORS:
            status, out, err, _ = run(["-p", "0.05", "2"], processor=name, cpus=3)
            self.assertEqual((status, err), (0, ""), name)
            self.assertTrue(out.startswith(banner(name)), name)
            lines = self.check_report(out, 3, 2)
            # The threads have ended before the last line: its total and
            # average agree with the CPUs' lines.
            _, total = values(lines[-4])
            cpus = [values(l)[1] for l in lines[-3:]]
            self.assertAlmostEqual(total[0], sum(c[0] for c in cpus), delta=2, msg=name)
            self.assertGreater(total[0], 100, name)
            self.assertAlmostEqual(total[3], sum(c[3] for c in cpus) / 3, delta=0.11, msg=name)

    def test_report_kinds_titles_and_timing(self):
        for args in (["-r"], ["-s"], ["-i", "-n"], ["-s", "-p", "-n"]):
            status, out, err, _ = run(args + ["0.05", "2"], processor="AMD Opteron & Athlon64",
                                      cpus=2)
            self.assertEqual((status, err), (0, ""), args)
            self.check_report(out, 2, 2, percpu="-p" in args, titles="-n" not in args)
        # Three lines, after one period to fill the rows and one per line.
        status, out, err, seconds = run(["0.2", "3"], processor="UltraSPARC T2", cpus=2)
        self.assertEqual(status, 0)
        self.assertEqual(len(self.check_report(out, 2, 3, percpu=False)), 3)
        self.assertGreaterEqual(seconds, 0.8)
        self.assertLess(seconds, 3)

    def test_memory_report(self):
        status, out, err, _ = run(["-M", "-p", "0.05", "2"], processor="UltraSPARC III", cpus=2)
        self.assertEqual((status, err), (0, ""))
        lines = self.check_report(out, 2, 2, memory=True)
        bw, rd, wr = [float(f) for f in lines[-3].split()[1:]]
        self.assertGreater(rd, 0)
        self.assertAlmostEqual(bw, rd + wr, delta=0.02)
        # The T-series cannot see its memory controllers.
        status, out, err, _ = run(["-M", "0.05", "1"], processor="UltraSPARC T1", cpus=2)
        self.assertEqual(status, 0)
        self.assertEqual(report_lines(out)[1], "    -1.00      -1.00      -1.00")

    def test_counting_modes(self):
        mips = {}
        for mode in ("-u", "-k", "-a"):
            status, out, err, _ = run([mode, "0.1", "1"], processor="UltraSPARC III", cpus=2)
            self.assertEqual((status, err), (0, ""), mode)
            mips[mode] = values(report_lines(out)[-1], prefix=False)[0]
        # The simulation counts 85% of the events in user mode, 15% in the kernel.
        self.assertAlmostEqual(mips["-k"] / mips["-u"], 0.15 / 0.85, delta=0.03)
        self.assertAlmostEqual(mips["-a"] / mips["-u"], 1 / 0.85, delta=0.05)

    def test_average_and_maximum_of_unmeasured_columns(self):
        for args, cpi in ((["0.05", "1"], "-1.0"), (["-m", "0.05", "1"], "0.0")):
            status, out, err, _ = run(args, processor="UltraSPARC T1", cpus=2)
            self.assertEqual(status, 0)
            self.assertEqual(report_lines(out)[-1].split("\t")[3], cpi, args)

    def test_bus_clock_from_the_device_tree(self):
        tree = os.path.join(self.tmp, "tree")
        os.makedirs(tree)
        with open(os.path.join(tree, "clock-frequency"), "wb") as f:
            f.write(struct.pack(">I", 150000000))
        lines = {}
        for env in ({}, {"PEMTO_DEVICE_TREE": tree}):
            status, out, err, _ = run(["0.05", "1"], processor="UltraSPARC III", cpus=2,
                                      extra_env=env)
            self.assertEqual(status, 0)
            lines[bool(env)] = report_lines(out)[-1].split("\t")
        self.assertEqual(lines[False][1], "inf")  # no clock found: 0 MHz
        self.assertRegex(lines[True][1], r"^\d+\.\d$")
        # The P6 bus runs at 133 MHz whatever the tree says.
        status, out, err, _ = run(["0.05", "1"], processor="Pentium Pro with MMX, Pentium II",
                                  cpus=1)
        self.assertRegex(report_lines(out)[-1].split("\t")[1], r"^\d+\.\d$")

    def test_failing_cpu_makes_the_run_fail(self):
        env = {"PEMTO_SIMULATE_FAIL": "bind@1"}
        status, out, err, _ = run(["-p", "0.05", "2"], processor="UltraSPARC III", cpus=3,
                                  extra_env=env)
        self.assertEqual(status, 1)
        self.assertEqual(err, "Pemto: simulated failure to bind on cpu 1\n"
                              "Pemto: cpu1 - Resource temporarily unavailable\n")
        self.check_report(out, 3, 2)
        status, out, err, _ = run(["-D", "0.05", "1"], processor="UltraSPARC III", cpus=3,
                                  extra_env=env)
        self.assertEqual(status, 1)
        self.assertIn("Pemto: cpc_bind_cpu: simulated failure to bind on cpu 1\n", err)
        # No CPU left to sample: the run ends, even without a count.
        status, out, err, _ = run(["0.05"], processor="UltraSPARC III", cpus=3,
                                  extra_env={"PEMTO_SIMULATE_FAIL": "bind@*"})
        self.assertEqual(status, 1)
        self.assertEqual(report_lines(out), [])
        self.assertEqual(err.count(" - Resource temporarily unavailable\n"), 3)

    def test_realtime_class(self):
        status, out, err, _ = run(["-R", "0.05", "1"], processor="UltraSPARC III", cpus=2)
        self.assertEqual(status, 0)
        if os.geteuid() != 0:
            self.assertEqual(err, "Warning: unable to put Pemto into the RT scheduling class: "
                                  "Operation not permitted\n")
        self.check_report(out, 2, 1, percpu=False)


if __name__ == "__main__":
    PROG = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
