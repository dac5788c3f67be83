"""Runs a Korbad listener for black-box tests: a private KORBAD_HOME, a free
loopback port, the log captured, and every process it started found and
killed by id afterwards.

Every process of one service carries that service's KORBAD_HOME in its
environment (the commands inherit it), which is how the tests find them.
Standard library only.
"""

import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

KORBAD = os.environ.get("KORBAD_BIN", "")
EXAMPLES = os.environ.get("KORBAD_EXAMPLES", "")
HOST = "127.0.0.1"


def _become_subreaper():
    """Processes orphaned by a killed listener come to us, not to an init
    that might never reap them."""
    import ctypes
    PR_SET_CHILD_SUBREAPER = 36
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


_become_subreaper()


def reap_orphans():
    while True:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            return


def wait_for(predicate, timeout=10.0, step=0.02):
    """Polls predicate until it returns something true or time runs out."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() > deadline:
            return value
        time.sleep(step)


def free_port():
    with socket.socket() as s:
        s.bind((HOST, 0))
        return s.getsockname()[1]


def proc_stat(pid):
    """(state, ppid, pgrp) of a process, or None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            data = f.read()
    except OSError:
        return None
    fields = data[data.rindex(b")") + 2:].split()
    return fields[0].decode(), int(fields[1]), int(fields[2])


def alive(pid):
    stat = proc_stat(pid)
    return stat is not None and stat[0] not in ("Z", "X")


def all_pids():
    return [int(name) for name in os.listdir("/proc") if name.isdigit()]


def children(pid):
    result = []
    for p in all_pids():
        stat = proc_stat(p)
        if stat is not None and stat[1] == pid:
            result.append((p, stat[0]))
    return result


def write_script(path, text, mode=0o755):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def request(port, data, timeout=10.0):
    """Sends one request and reads the reply until the service closes."""
    with socket.create_connection((HOST, port), timeout=timeout) as s:
        s.sendall(data)
        return read_all(s, timeout)


def read_all(sock, timeout=10.0):
    sock.settimeout(timeout)
    chunks = []
    while True:
        try:
            chunk = sock.recv(65536)
        except ConnectionResetError:
            break
        if not chunk:
            break
        chunks.append(chunk)
    return b"".join(chunks)


class Service:
    """One Korbad listener on its own home directory and port.

    access: text of the access file. lister: "script" copies the shipped
    chldPID.sh, "ptree" installs a ptree-style lister, None installs none.
    """

    def __init__(self, access="", lister="script", args=None, limits=None):
        self.home = tempfile.mkdtemp(prefix="korbad_home_")
        self.work = tempfile.mkdtemp(prefix="korbad_run_")
        os.makedirs(os.path.join(self.home, "bin"))
        self.set_access(access)
        if lister == "script":
            shutil.copy(os.path.join(EXAMPLES, "bin", "chldPID.sh"),
                        os.path.join(self.home, "bin", "chldPID.sh"))
        elif lister == "ptree":
            write_script(os.path.join(self.home, "bin", "ptree"), PTREE)
        self.extra_args = args
        self.limits = limits
        self.proc = None
        self.port = None
        self.log_path = os.path.join(self.work, "stderr")
        self.out_path = os.path.join(self.work, "stdout")

    # --- files -----------------------------------------------------------
    def path(self, name):
        return os.path.join(self.home, name)

    def set_access(self, text):
        with open(self.path("access"), "w") as f:
            f.write(text)

    def script(self, name, body):
        """A command program under the home; returns its path."""
        path = self.path(name)
        write_script(path, "#!/bin/sh\n" + body)
        return path

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read()

    # --- process ---------------------------------------------------------
    def spawn(self, args):
        env = dict(os.environ, KORBAD_HOME=self.home)
        preexec = None
        if self.limits:
            import resource
            limits = self.limits

            def preexec():
                for res, value in limits.items():
                    resource.setrlimit(res, (value, value))
        with open(self.out_path, "wb") as out, open(self.log_path, "wb") as err:
            self.proc = subprocess.Popen([KORBAD] + args, env=env, stdin=subprocess.DEVNULL,
                                         stdout=out, stderr=err, preexec_fn=preexec)
        return self.proc

    def start(self):
        """Starts on a free port and waits until it is ready."""
        for _ in range(5):
            self.port = free_port()
            args = self.extra_args or ["-p", f"{HOST}:{self.port}"]
            self.spawn(args)
            ready = wait_for(lambda: b"READY for Service" in self.log()
                             or b"Bind Error" in self.log() or self.proc.poll() is not None)
            if ready and b"READY for Service" in self.log():
                return self
            self.kill_all()  # the port was taken meanwhile: try another
        raise RuntimeError("Korbad did not start: %r" % self.log())

    def __enter__(self):
        return self if self.proc is not None else self.start()

    def __exit__(self, *exc):
        self.stop()

    def request(self, data, timeout=10.0):
        return request(self.port, data, timeout)

    def connect(self, data=None):
        s = socket.create_connection((HOST, self.port), timeout=10)
        if data is not None:
            s.sendall(data)
        return s

    def processes(self):
        """Live processes of this service (listener included)."""
        marker = b"KORBAD_HOME=" + self.home.encode() + b"\0"
        found = []
        for pid in all_pids():
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    env = f.read()
            except OSError:
                continue
            if marker in env and alive(pid):
                found.append(pid)
        return found

    def others(self):
        """Live processes of this service other than the listener."""
        return [p for p in self.processes() if p != self.proc.pid]

    def connect_pids(self):
        """Connection process ids in the order of their Connect lines."""
        return [int(m) for m in re.findall(rb"Korbad-(\d+):> Connect", self.log())]

    def kill_all(self):
        for pid in self.processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        if self.proc is not None:
            if self.proc.poll() is None:
                self.proc.kill()
            self.proc.wait(timeout=10)
        wait_for(lambda: not self.processes(), timeout=5)

    def stop(self):
        self.kill_all()
        reap_orphans()
        log = self.log() if os.path.exists(self.log_path) else b""
        shutil.rmtree(self.home, ignore_errors=True)
        shutil.rmtree(self.work, ignore_errors=True)
        # In a sanitizer build a report from any process of the service fails the test.
        for mark in (b"runtime error:", b"ERROR: AddressSanitizer", b"ERROR: LeakSanitizer"):
            if mark in log:
                raise AssertionError("sanitizer report in the Korbad log:\n" + log.decode(
                    errors="replace")[max(0, log.index(mark) - 200):][:2000])


# A ptree-style lister: ancestors from the top down, the process itself, then
# its descendants depth first, one "PID command" line each, indented by depth.
PTREE = r'''#!/usr/bin/python3
import os, sys
target = int(sys.argv[1])
parent, cmd = {}, {}
for name in os.listdir("/proc"):
    if not name.isdigit():
        continue
    try:
        data = open("/proc/%s/stat" % name, "rb").read()
    except OSError:
        continue
    pid = int(name)
    parent[pid] = int(data[data.rindex(b")") + 2:].split()[1])
    cmd[pid] = data[data.index(b"(") + 1:data.rindex(b")")].decode(errors="replace")
chain, p = [], target
while p in parent and p != 0:
    chain.append(p)
    p = parent[p]
chain.reverse()
for depth, pid in enumerate(chain):
    print("%s%d %s" % ("  " * depth, pid, cmd[pid]))
def walk(pid, depth):
    for child in sorted(c for c, pp in parent.items() if pp == pid):
        print("%s%d %s" % ("  " * depth, child, cmd[child]))
        walk(child, depth + 1)
walk(target, len(chain))
'''
