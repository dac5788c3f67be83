"""The whole toolkit as scripts/run serves it: started without a terminal on a
port of our own, used over HTTP and in headless Chromium, stopped with TERM.

ServedSite starts scripts/run once per test class and remembers every process
it grew, so that the tests can check nothing of it outlives its stop."""

import os
import re
import select
import signal
import socket
import subprocess
import time
import urllib.request

ROOT = os.environ.get("TOOLKIT_ROOT") or os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", ".."))
BIN = os.environ.get("TOOLKIT_BIN") or os.path.join(ROOT, "build", "bin")

# What a page shows when the interpreter or the database failed.
ERROR_MARKS = ("<hr><h3><pre>", "Something went wrong", 'class="error"')


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def descendants(pid):
    """Process ids below pid, from /proc."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    stat = f.read()
            except OSError:
                continue
            parents.setdefault(int(stat[stat.rindex(")") + 2:].split()[1]), []).append(int(entry))
    found, todo = [], [pid]
    while todo:
        for child in parents.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(") ")[1][0] != "Z"
    except OSError:
        return False


class ServedSite:
    def __init__(self, start_timeout=180):
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}/"
        self.output = []
        env = dict(os.environ, PORT=str(self.port), TOOLKIT_BIN=BIN)
        self.proc = subprocess.Popen(
            [os.path.join(ROOT, "scripts", "run")], cwd=ROOT, env=env,
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
            start_new_session=True)
        if not self._read_until(f"Serving {self.url}\n", start_timeout):
            self.stop()
            raise RuntimeError("scripts/run did not serve:\n" + "".join(self.output))
        folder = re.search(r"run folder (\S+)", "".join(self.output))
        self.run_dir = folder.group(1) if folder else None
        self.pids = descendants(self.proc.pid)

    def _read_until(self, line, timeout):
        deadline = time.monotonic() + timeout
        pending = b""
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.proc.stdout], [], [], 0.5)
            if not ready:
                if self.proc.poll() is not None:
                    return False
                continue
            chunk = os.read(self.proc.stdout.fileno(), 4096)
            if not chunk:
                return False
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for text in lines:
                self.output.append(text.decode(errors="replace") + "\n")
                if self.output[-1] == line:
                    return True
        return False

    def run_env(self):
        """The run's x.env: the database login and the service coordinates."""
        values = {}
        with open(os.path.join(self.run_dir, "home", "x.env")) as f:
            for line in f:
                if "=" in line and not line.startswith("#"):
                    name, value = line.rstrip("\n").split("=", 1)
                    values[name] = value
        return values

    def fetch(self, path, timeout=30):
        with urllib.request.urlopen(self.url + path.lstrip("/"), timeout=timeout) as reply:
            return reply.status, reply.read().decode("utf-8", errors="replace")

    def stop(self, timeout=20):
        """TERM to scripts/run; returns the seconds it took to end."""
        start = time.monotonic()
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.proc.stdout.close()
        return time.monotonic() - start
