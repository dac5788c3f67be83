"""The measuring half of bench/vandrel_vs_peers/run, which prepares what this needs: the
site folder with the pages (WORK/site), Vandrel's home with its x.config (WORK/home), the
compiled bare client and a running MariaDB whose coordinates are in the environment
(MYSQL_SOCKET, VANDREL_TEST_*), holding the table bench_rows.

Every run is a whole process started with posix_spawn, its standard output on /dev/null,
timed from spawn to reaped (wall clock) with its user+system time from wait4. The runs are
interleaved: each round runs every side of every workload once, the sides in a rotating
order, so that the machine's noise falls on all of them alike.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

QUERY = "select id, name from bench_rows order by id limit 100000"
# Peak RSS is compared between a run and one ten times smaller; growth up to this much
# is allocator noise, keeping even a few bytes per pass or row would exceed it.
FLAT_KIB = 1024
RSS_RUNS = 3


def parse():
    ap = argparse.ArgumentParser()
    ap.add_argument("--work", required=True)
    ap.add_argument("--vandrel", required=True)
    ap.add_argument("--client", required=True)
    ap.add_argument("--runs", type=int, default=21)
    return ap.parse_args()


def make_env(work):
    env = dict(os.environ, X_HOME=os.path.join(work, "home"), TMP_DIR=work)
    # A request's variables would make either interpreter act as a web server's CGI.
    for name in ("REQUEST_METHOD", "GATEWAY_INTERFACE", "QUERY_STRING", "SCRIPT_FILENAME",
                 "REDIRECT_STATUS", "PATH_INFO"):
        env.pop(name, None)
    return env


def variant(site, source, target, old, new):
    """A copy of a page with its size changed, for the memory comparison."""
    with open(os.path.join(site, source)) as f:
        text = f.read()
    if text.count(old) != 1:
        sys.exit(f"{source}: expected '{old}' once, to make {target}")
    with open(os.path.join(site, target), "w") as f:
        f.write(text.replace(old, new))
    return target


class Runner:
    def __init__(self, env):
        self.env = env
        self.devnull = os.open(os.devnull, os.O_WRONLY)

    def timed(self, cmd):
        """(wall ms, CPU ms) of one run with its output on /dev/null."""
        start = time.perf_counter()
        pid = os.posix_spawn(cmd[0], cmd, self.env,
                             file_actions=[(os.POSIX_SPAWN_DUP2, self.devnull, 1)])
        _, status, usage = os.wait4(pid, 0)
        wall = time.perf_counter() - start
        code = os.waitstatus_to_exitcode(status)
        if code != 0:
            sys.exit(f"{' '.join(cmd)}: exit status {code}")
        return wall * 1000, (usage.ru_utime + usage.ru_stime) * 1000

    def output(self, cmd):
        proc = subprocess.run(cmd, env=self.env, stdout=subprocess.PIPE)
        if proc.returncode != 0:
            sys.exit(f"{' '.join(cmd)}: exit status {proc.returncode}")
        return proc.stdout

    def peak_rss_kib(self, cmd):
        """Maximum resident set size of the program alone, as GNU time reports it."""
        with tempfile.NamedTemporaryFile("r") as report:
            proc = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + cmd,
                                  env=self.env, stdout=self.devnull)
            if proc.returncode != 0:
                sys.exit(f"{' '.join(cmd)}: exit status {proc.returncode}")
            return int(report.read().split()[-1])


def first_difference(a, b):
    for number, (x, y) in enumerate(zip(a.split(b"\n"), b.split(b"\n")), 1):
        if x != y:
            return f"line {number}: {x[:80]!r} against {y[:80]!r}"
    return "one output is a prefix of the other"


def check_outputs(runner, name, sides, lines):
    """Every side must print the same bytes: the timings compare like with like only then."""
    outputs = {side: runner.output(cmd) for side, cmd in sides.items()}
    (first, reference), *others = outputs.items()
    for side, out in others:
        if out != reference:
            sys.exit(f"FAIL {name}: {side} ({len(out)} bytes) and {first} ({len(reference)} bytes)"
                     f" print different output, {first_difference(out, reference)}")
    got = reference.count(b"\n")
    if got != lines or not reference.endswith(b"\n"):
        sys.exit(f"FAIL {name}: expected {lines} lines, got {got}")
    print(f"  {name}: {' = '.join(outputs)}: {len(reference)} bytes, {lines} lines")


def quartiles(values):
    q = statistics.quantiles(values, n=4, method="inclusive") if len(values) > 1 else values * 3
    return q[0], q[2]


def main():
    opts = parse()
    site = os.path.join(opts.work, "site")
    env = make_env(opts.work)
    runner = Runner(env)
    os.chdir(site)  # posix_spawn has no working directory of its own: every run starts here
    php = shutil.which("php-cgi")
    if not php:
        sys.exit("php-cgi is not installed")
    login = ["-X_USER", env["VANDREL_TEST_USER"], "-X_PASSWD", env["VANDREL_TEST_PASSWD"]]

    def vandrel(page, *extra):
        return [opts.vandrel, page, *extra]

    def peer(script):
        return [php, "-q", script]

    workloads = [
        # name, sides, lines of output, goals as (side, highest Vandrel/side ratio)
        ("hello", {"Vandrel": vandrel("hello.page"), "php-cgi": peer("hello.php")}, 1,
         [("php-cgi", 0.1)]),
        ("loop", {"Vandrel": vandrel("loop.page"), "php-cgi": peer("loop.php")}, 20000,
         [("php-cgi", 0.5)]),
        ("rows", {"Vandrel": vandrel("rows.page", *login), "php-cgi": peer("rows.php"),
                  "C client": [opts.client, QUERY]}, 100000,
         [("php-cgi", 0.7), ("C client", 1.5)]),
    ]

    load_before = os.getloadavg()
    print(f"Vandrel: {opts.vandrel}")
    print(f"php-cgi: {php} ({runner.output([php, '-v']).decode().splitlines()[0]})")
    print(f"load average at start: {load_before[0]:.2f} {load_before[1]:.2f} {load_before[2]:.2f}"
          f" on {os.cpu_count()} CPUs")
    print("outputs:")
    for name, sides, lines, _ in workloads:
        check_outputs(runner, name, sides, lines)

    # The output checks loaded the programs and the table into the caches; one more
    # untimed round lets every side start from the same warm state.
    for _, sides, _, _ in workloads:
        for cmd in sides.values():
            runner.timed(cmd)

    samples = {(name, side): [] for name, sides, _, _ in workloads for side in sides}
    print(f"timing {opts.runs} interleaved rounds ...", flush=True)
    for round_number in range(opts.runs):
        for name, sides, _, _ in workloads:
            order = list(sides.items())
            shift = round_number % len(order)
            for side, cmd in order[shift:] + order[:shift]:
                samples[(name, side)].append(runner.timed(cmd))

    wall = {key: statistics.median(s[0] for s in values) for key, values in samples.items()}
    cpu = {key: statistics.median(s[1] for s in values) for key, values in samples.items()}

    print()
    print(f"Wall-clock medians of {opts.runs} runs, output to /dev/null; goal: Vandrel/peer at most")
    header = (f"{'workload':9} {'Vandrel ms':>11} {'php-cgi ms':>11} {'C client ms':>12}"
              f" {'V/php':>7} {'goal':>5} {'met':>4} {'V/C':>7} {'goal':>5} {'met':>4}")
    print(header)
    print("-" * len(header))
    met_count = goal_count = 0
    for name, sides, _, goals in workloads:
        cells = [f"{name:9}", f"{wall[(name, 'Vandrel')]:11.2f}", f"{wall[(name, 'php-cgi')]:11.2f}",
                 f"{wall[(name, 'C client')]:12.2f}" if "C client" in sides else f"{'-':>12}"]
        for peer_side in ("php-cgi", "C client"):
            limit = dict(goals).get(peer_side)
            if limit is None:
                cells += [f"{'-':>7}", f"{'-':>5}", f"{'-':>4}"]
                continue
            ratio = wall[(name, "Vandrel")] / wall[(name, peer_side)]
            met = ratio <= limit
            met_count += met
            goal_count += 1
            cells += [f"{ratio:7.3f}", f"{limit:5.2f}", f"{'yes' if met else 'NO':>4}"]
        print(" ".join(cells))
    print(f"goals met: {met_count} of {goal_count}")

    print()
    print("Spread and CPU (user+system of the process itself; the rows' server work is not in it)")
    print(f"{'workload':9} {'side':9} {'wall median':>12} {'wall q1-q3':>17} {'CPU median':>11}")
    for name, sides, _, _ in workloads:
        for side in sides:
            q1, q3 = quartiles([s[0] for s in samples[(name, side)]])
            print(f"{name:9} {side:9} {wall[(name, side)]:12.2f} {f'{q1:.2f}-{q3:.2f}':>17}"
                  f" {cpu[(name, side)]:11.2f}")

    loop_small = variant(site, "loop.page", "loop_2000.page", "> 20000 ", "> 2000 ")
    rows_small = variant(site, "rows.page", "rows_10000.page", "limit 100000", "limit 10000")
    pairs = [("loop", 2000, vandrel(loop_small), 20000, vandrel("loop.page")),
             ("rows", 10000, vandrel(rows_small, *login), 100000, vandrel("rows.page", *login))]
    print()
    print(f"Vandrel peak RSS (GNU time %M, median of {RSS_RUNS} runs); flat: growth at most {FLAT_KIB} KiB")
    print(f"{'workload':9} {'small':>7} {'KiB':>8} {'large':>7} {'KiB':>8} {'growth':>8} {'flat':>5}")
    for name, small_n, small_cmd, large_n, large_cmd in pairs:
        small, large = [], []
        for _ in range(RSS_RUNS):
            small.append(runner.peak_rss_kib(small_cmd))
            large.append(runner.peak_rss_kib(large_cmd))
        s, l = statistics.median(small), statistics.median(large)
        print(f"{name:9} {small_n:7d} {s:8.0f} {large_n:7d} {l:8.0f} {l - s:+8.0f}"
              f" {'yes' if l - s <= FLAT_KIB else 'NO':>5}")

    load_after = os.getloadavg()
    print()
    print(f"load average at end: {load_after[0]:.2f} {load_after[1]:.2f} {load_after[2]:.2f}")


if __name__ == "__main__":
    main()
