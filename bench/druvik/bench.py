"""Druvik against fio: see bench/druvik/run."""

import ctypes
import json
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

druvik = sys.argv[1]
runs = int(os.environ.get("RUNS", "3"))
rand_ios = int(os.environ.get("RAND_IOS", "1000000"))
seq_mb = int(os.environ.get("SEQ_MB", "4096"))
rand_mb = 1024
work = tempfile.mkdtemp(prefix="druvik-bench-", dir=os.environ.get("BENCH_DIR", "/var/tmp"))
key = 0x4D000000 + (os.getpid() & 0xFFFFFF)  # Druvik publishes its slot here


def make_file(name, mb):
    path = os.path.join(work, name)
    block = bytes((i * 7) % 251 for i in range(1 << 20))
    with open(path, "wb") as f:
        for _ in range(mb):
            f.write(block)
    return path


def warm(path):
    """Reads the file through, so that it sits in the page cache."""
    with open(path, "rb", buffering=0) as f:
        while f.read(1 << 24):
            pass


class Usage:
    """Child CPU time, measured around one child as RUSAGE_CHILDREN differences."""

    def __enter__(self):
        self.before = os.times()
        return self

    def __exit__(self, *exc):
        after = os.times()
        self.cpu = (after.children_user - self.before.children_user
                    + after.children_system - self.before.children_system)


def measure(cmd):
    with Usage() as u:
        start = time.perf_counter()
        r = subprocess.run(cmd, capture_output=True)
        wall = time.perf_counter() - start
    if r.returncode != 0:
        sys.exit("%s failed (%d): %s" % (cmd[0], r.returncode, r.stderr.decode()))
    return r.stdout.decode(), wall, u.cpu


def run_druvik(args, ios):
    out, wall, cpu = measure([druvik, *args])
    reads = int(re.search(r"^Reads: (\d+)$", out, re.M).group(1))
    assert reads == ios, out
    ms_per_io = float(re.search(r"Time\(ms\) per IO: ([\d.]+)", out).group(1))
    cpu_ms_per_io = float(re.search(r"CPU time\(ms\) per IO: ([\d.]+)", out).group(1))
    return {"iops": 1000.0 / ms_per_io, "cpu_us": cpu_ms_per_io * 1000.0,
            "ext_iops": ios / wall, "ext_cpu_us": cpu / ios * 1e6}


def run_fio(args, ios, lean):
    cmd = ["fio", "--name=peer", "--numjobs=1", "--thread", "--direct=0", "--invalidate=0",
           "--number_ios=%d" % ios, "--output-format=json", *args]
    if lean:
        cmd.append("--gtod_reduce=1")
    out, wall, cpu = measure(cmd)
    job = json.loads(out[out.index("{"):])["jobs"][0]
    read = job["read"]
    assert read["total_ios"] == ios, read["total_ios"]
    runtime_s = read["runtime"] / 1000.0
    return {"iops": read["iops"],
            "cpu_us": (job["usr_cpu"] + job["sys_cpu"]) / 100.0 * runtime_s / ios * 1e6,
            "ext_iops": ios / wall, "ext_cpu_us": cpu / ios * 1e6}


def remove_segment():
    libc = ctypes.CDLL(None)
    shmid = libc.shmget(key, 0, 0)
    if shmid >= 0:
        libc.shmctl(shmid, 0, None)  # IPC_RMID


def main():
    print("==> files in %s: rand %d MB, seq %d MB" % (work, rand_mb, seq_mb), flush=True)
    rand = make_file("rand.dat", rand_mb)
    seq = make_file("seq.dat", seq_mb)
    blocks8k = rand_mb * 128
    workloads = [
        ("rand8k", rand, rand_ios,
         ["-c", "read", "-m", "rnd", "-s", "8", "-b", "0", "-e", str(blocks8k), "-P", "-t", "buff",
          "-n", str(rand_ios), "-i", "1", "-k", str(key), "-g", "bench", rand],
         ["--filename=" + rand, "--rw=randread", "--bs=8k", "--ioengine=psync",
          "--size=%dm" % rand_mb, "--io_size=%d" % (rand_ios * 8192), "--norandommap",
          "--randrepeat=0"]),
        ("seq1m", seq, seq_mb,
         ["-c", "read", "-m", "seq", "-s", "1024", "-b", "0", "-t", "buff", "-n", str(seq_mb),
          "-i", "1", "-k", str(key), "-g", "bench", seq],
         ["--filename=" + seq, "--rw=read", "--bs=1m", "--ioengine=sync", "--size=%dm" % seq_mb]),
    ]
    peers = [("fio", False), ("fio-lean", True)]
    rows = []
    for name, path, ios, dargs, fargs in workloads:
        results = {"Druvik": [], "fio": [], "fio-lean": []}
        for r in range(runs):
            warm(path)
            order = [("Druvik", None)] + peers
            if r % 2:
                order.reverse()
            for tool, lean in order:
                if tool == "Druvik":
                    results[tool].append(run_druvik(dargs, ios))
                else:
                    results[tool].append(run_fio(fargs, ios, lean))
        med = {tool: {k: statistics.median(x[k] for x in res) for k in res[0]}
               for tool, res in results.items()}
        rows.append((name, ios, med))

    print("\n%-7s %-9s %8s | %12s %10s | %12s %10s" % ("load", "tool", "I/Os", "IOPS",
                                                        "CPU us/IO", "ext IOPS", "ext us/IO"))
    for name, ios, med in rows:
        for tool in ("Druvik", "fio", "fio-lean"):
            m = med[tool]
            print("%-7s %-9s %8d | %12.0f %10.3f | %12.0f %10.3f" % (
                name, tool, ios, m["iops"], m["cpu_us"], m["ext_iops"], m["ext_cpu_us"]))
    print("\nratios (medians of %d): IOPS Druvik/peer (>= 1 is the goal), CPU per I/O "
          "Druvik/peer (<= 1 is the goal)" % runs)
    for name, _, med in rows:
        d = med["Druvik"]
        for peer in ("fio", "fio-lean"):
            p = med[peer]
            print("%-7s vs %-9s IOPS %.2f  CPU/IO %.2f   (outside view: IOPS %.2f  CPU/IO %.2f)" % (
                name, peer, d["iops"] / p["iops"], d["cpu_us"] / p["cpu_us"],
                d["ext_iops"] / p["ext_iops"], d["ext_cpu_us"] / p["ext_cpu_us"]))


try:
    main()
finally:
    remove_segment()
    shutil.rmtree(work, ignore_errors=True)
