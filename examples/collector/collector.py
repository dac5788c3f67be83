#!/usr/bin/python3
"""Stores vmstat samples read through Korbad in the MariaDB table `samples`.

It asks Korbad for "COMMAND INTERVAL COUNT" again and again, turns every
data line of each reply but the first (vmstat's average since boot) into one
row, and keeps the rows in a bounded queue while the database is away.
Standard library and pymysql only; one thread, one select loop.
"""

import argparse
import collections
import itertools
import os
import re
import select
import signal
import socket
import struct
import sys
import time

import pymysql

INT, BIG, TINY = (-2**31, 2**31 - 1), (-2**63, 2**63 - 1), (-128, 127)
# vmstat's column names, in the order of their table columns.
COLUMNS = {
    "r": ("procs_running", INT), "b": ("procs_blocked", INT),
    "swpd": ("swap_used_kb", BIG), "free": ("mem_free_kb", BIG),
    "buff": ("mem_buffers_kb", BIG), "cache": ("mem_cache_kb", BIG),
    "si": ("swap_in_kbs", BIG), "so": ("swap_out_kbs", BIG),
    "bi": ("blocks_in_s", BIG), "bo": ("blocks_out_s", BIG),
    "in": ("interrupts_s", BIG), "cs": ("context_sw_s", BIG),
    "us": ("cpu_user", TINY), "sy": ("cpu_system", TINY), "id": ("cpu_idle", TINY),
    "wa": ("cpu_wait", TINY), "st": ("cpu_stolen", TINY),
}
INSERT = "INSERT IGNORE INTO samples (host, taken_ms, %s) VALUES (%s)" % (
    ", ".join(col for col, _ in COLUMNS.values()), ", ".join(["%s"] * (len(COLUMNS) + 2)))

NUMBER = re.compile(r"-?\d+\Z")
COMMAND_NAME = re.compile(r"[A-Za-z0-9.,:*_-]{1,39}\Z")  # what Korbad passes unchanged
MAX_LINE = 4096         # longer lines are not vmstat's; they are dropped, not buffered
BATCH = 500             # rows per INSERT and commit
BACKOFF_MIN, BACKOFF_MAX = 0.5, 5.0
CONNECT_TIMEOUT = 5.0   # Korbad and database connects
DB_IO_TIMEOUT = 5.0     # one database read or write
STOP_BOUND = 2.0        # how long a stop waits for the database


def log(message):
    sys.stderr.write("%s collector: %s\n" % (time.strftime("%Y-%m-%d %H:%M:%S"), message))
    sys.stderr.flush()


def describe(error):
    if isinstance(error, pymysql.MySQLError) and len(error.args) == 2:
        return "%s %s" % error.args
    return getattr(error, "strerror", None) or str(error) or type(error).__name__


class Backoff:
    """Waits 0.5 s after the first failure, doubling up to 5 s."""

    def __init__(self):
        self.delay, self.due = BACKOFF_MIN, 0.0

    def failed(self):
        self.due = time.monotonic() + self.delay
        self.delay = min(self.delay * 2, BACKOFF_MAX)

    def reset(self):
        self.delay, self.due = BACKOFF_MIN, 0.0


class Parser:
    """Reads one reply's lines. The header line maps positions to columns, so
    extra, missing or reordered columns are tolerated; a repeated header
    (vmstat prints one every 21 lines) remaps without restarting the count."""

    def __init__(self):
        self.columns = None  # [(position, vmstat name)]
        self.width = 0
        self.data_lines = 0

    def line(self, text):
        """Values in COLUMNS order (None where the header lacks a column) for
        a sample line; None for other lines; ValueError for a malformed line."""
        words = text.split()
        if not words or words[0] == "procs":
            return None
        if not NUMBER.match(words[0]):
            if any(NUMBER.match(w) for w in words) or not any(w in COLUMNS for w in words):
                raise ValueError("not vmstat output")
            self.columns = [(i, w) for i, w in enumerate(words) if w in COLUMNS]
            self.width = len(words)
            return None
        if self.columns is None:
            raise ValueError("data before a header")
        if len(words) < self.width:
            raise ValueError("fewer values than header columns")
        values = dict.fromkeys(COLUMNS)
        for i, name in self.columns:
            low, high = COLUMNS[name][1]
            if not NUMBER.match(words[i]) or not low <= int(words[i]) <= high:
                raise ValueError("bad %s value" % name)
            values[name] = int(words[i])
        self.data_lines += 1
        if self.data_lines == 1:
            return None  # vmstat's first line is the average since boot
        return tuple(values.values())


class Source:
    """The Korbad side: one request per connection, read without blocking."""

    def __init__(self, opts):
        self.address, self.name, self.count = opts.address, opts.host_name, opts.count
        self.label = "korbad %s:%d" % opts.address
        self.request = ("%s %d %d\n" % (opts.command, opts.interval, opts.count)).encode()
        self.idle = 2 * opts.interval + 10  # longer silence means a dead peer
        self.sock, self.up, self.reason, self.warned = None, None, None, set()
        self.backoff, self.last_ms, self.requests, self.last_ok = Backoff(), 0, 0, False

    def open(self):
        self.requests += 1
        self.last_ok = False
        try:
            sock = socket.create_connection(self.address, timeout=CONNECT_TIMEOUT)
        except OSError as e:
            return self.fail("cannot connect: %s" % describe(e))
        # Reset instead of a normal close: Korbad sets no SO_REUSEADDR, and the
        # TIME_WAIT a normal close leaves on its side would hold its port
        # through a restart. Everything has been read by then.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.sock, self.buf, self.status, self.skip = sock, bytearray(), None, False
        self.parser, self.idle_due = Parser(), time.monotonic() + self.idle
        try:
            sock.sendall(self.request)
        except OSError as e:
            return self.fail("cannot send the request: %s" % describe(e))
        sock.setblocking(False)

    def close(self):
        if self.sock is not None:
            self.sock.close()
            self.sock = None

    def fail(self, reason):
        self.close()
        self.backoff.failed()
        if self.up is not False:
            log("%s: %s (%s); retrying after %.1f s, backing off to %.0f s" % (
                self.label, "lost" if self.up else "unavailable", reason, BACKOFF_MIN, BACKOFF_MAX))
        elif reason != self.reason:
            log("%s: still unavailable (%s)" % (self.label, reason))
        self.up, self.reason = False, reason

    def warn(self, kind, message):
        if kind not in self.warned:
            self.warned.add(kind)
            log("%s: %s (not reported again until it reconnects)" % (self.label, message))

    def read(self):
        """Rows of the lines that arrived; ends the request at its end."""
        try:
            chunk = self.sock.recv(65536)
        except (BlockingIOError, InterruptedError):
            return []
        except OSError as e:
            self.fail("connection lost: %s" % describe(e))
            return []
        if not chunk:
            self.end()
            return []
        self.idle_due = time.monotonic() + self.idle
        self.buf += chunk
        *lines, rest = self.buf.split(b"\n")
        self.buf = bytearray(rest)
        rows = []
        for raw in lines:
            if self.skip:  # the tail of an over-long line
                self.skip = False
                continue
            row = self.take(raw.decode("ascii", "replace").rstrip("\r"))
            if self.sock is None:
                return rows
            if row is not None:
                rows.append(row)
        if len(self.buf) > MAX_LINE:
            self.warn("long", "dropped a line longer than %d bytes" % MAX_LINE)
            self.buf.clear()
            self.skip = True
        return rows

    def take(self, text):
        if self.status is None:
            self.status = text
            if not text.startswith("STAT *** OK COMMAND"):
                self.fail("request refused: %s" % text[:200])
            return None
        try:
            values = self.parser.line(text)
        except ValueError as e:
            self.warn(str(e), "ignored a line (%s): %r" % (e, text[:100]))
            return None
        if values is None:
            return None
        if self.up is not True:  # counted only now: an OK that yields nothing is no recovery
            log("%s: connected; requesting %r for host %s"
                % (self.label, self.request.decode().strip(), self.name))
            self.up, self.reason, self.warned = True, None, set()
        self.backoff.reset()
        # The key is (host, taken_ms): lines read in the same millisecond
        # (and a clock set back) must still get distinct, rising stamps.
        self.last_ms = max(int(time.time() * 1000), self.last_ms + 1)
        return (self.name, self.last_ms) + values

    def end(self):
        if self.buf or self.skip:
            self.warn("partial", "dropped an unfinished last line")  # cut, not to be trusted
        if self.status is None:
            return self.fail("closed before a status line")
        if self.parser.data_lines < self.count:
            return self.fail("closed after %d of %d lines" % (self.parser.data_lines, self.count))
        self.close()
        self.last_ok = True
        self.backoff.due = 0.0  # the next request follows at once


class Store:
    """The database side: a bounded queue, written whenever the server answers."""

    def __init__(self, opts, statements):
        self.params = dict(user=opts.db_user, password=os.environ.get("COLLECTOR_DB_PASSWORD", ""),
                           database=opts.db_name, charset="utf8mb4", autocommit=False)
        if opts.db_socket:
            self.params["unix_socket"] = opts.db_socket
            where = "socket " + opts.db_socket
        else:
            self.params.update(host=opts.db_host, port=opts.db_port)
            where = "%s:%d" % (opts.db_host, opts.db_port)
        self.label = "database %s at %s" % (opts.db_name, where)
        self.statements, self.limit = statements, opts.queue
        self.queue, self.dropped = collections.deque(), 0
        self.conn, self.up, self.backoff, self.quiet = None, None, Backoff(), False

    def add(self, rows):
        for row in rows:
            if len(self.queue) >= self.limit:
                self.queue.popleft()
                self.dropped += 1
                if self.dropped == 1:
                    log("%s: queue full (%d rows); dropping the oldest samples until it answers"
                        % (self.label, self.limit))
            self.queue.append(row)

    def connect(self, timeout=CONNECT_TIMEOUT, io_timeout=DB_IO_TIMEOUT):
        conn = None
        try:
            conn = pymysql.connect(connect_timeout=timeout, read_timeout=io_timeout,
                                   write_timeout=io_timeout, **self.params)
            with conn.cursor() as cursor:
                for statement in self.statements:
                    cursor.execute(statement)
            conn.commit()
        except (pymysql.MySQLError, OSError) as e:
            if conn is not None:
                conn.close()
            return self.fail(e)
        self.conn = conn
        if not self.queue:
            self.recovered()

    def recovered(self):
        """Logged once the server takes rows again, not when it merely
        accepts a connection: a lasting error on insert must not make every
        retry look like a recovery."""
        if self.up is None:
            log("%s: connected" % self.label)
        elif self.up is False:
            log("%s: answering again; writing %d queued rows%s" % (
                self.label, len(self.queue),
                " (%d older ones were dropped)" % self.dropped if self.dropped else ""))
        self.up, self.dropped = True, 0
        self.backoff.reset()

    def flush(self, deadline=None):
        while self.queue and self.conn is not None:
            batch = list(itertools.islice(self.queue, BATCH))
            try:
                with self.conn.cursor() as cursor:
                    cursor.executemany(INSERT, batch)
                self.conn.commit()
            except (pymysql.MySQLError, OSError) as e:
                return self.fail(e)
            if self.up is not True:
                self.recovered()
            for _ in batch:  # only once committed: a lost reply means writing again
                self.queue.popleft()
            if deadline is not None and time.monotonic() > deadline:
                return

    def close(self):
        if self.conn is not None:
            try:
                self.conn.close()
            except (pymysql.MySQLError, OSError):
                pass  # the server went first
            self.conn = None

    def fail(self, error):
        self.close()
        self.backoff.failed()
        if self.up is not False and not self.quiet:
            log("%s: unavailable (%s); keeping up to %d samples in memory, retrying after "
                "%.1f s, backing off to %.0f s"
                % (self.label, describe(error), self.limit, BACKOFF_MIN, BACKOFF_MAX))
        self.up = False


def run(opts, statements):
    source, store = Source(opts), Store(opts, statements)
    stop = []
    wake, wake_in = socket.socketpair()
    wake.setblocking(False)
    wake_in.setblocking(False)
    signal.set_wakeup_fd(wake_in.fileno())
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda number, frame: stop.append(number))

    store.connect()
    while not stop:
        if source.sock is None:
            if opts.once and source.requests:
                break
            if time.monotonic() >= source.backoff.due:
                source.open()
        if store.queue and store.conn is None and time.monotonic() >= store.backoff.due:
            store.connect()
        store.flush()
        due = [source.idle_due if source.sock is not None else source.backoff.due]
        if store.queue and store.conn is None:
            due.append(store.backoff.due)
        watched = [wake] + ([source.sock] if source.sock is not None else [])
        ready = select.select(watched, [], [], max(0.0, min(due) - time.monotonic()))[0]
        if wake in ready:
            while True:
                try:
                    wake.recv(64)
                except BlockingIOError:
                    break
        if source.sock in ready:
            store.add(source.read())
        elif source.sock is not None and time.monotonic() >= source.idle_due:
            source.fail("no output for %d s" % source.idle)

    source.close()
    if store.queue:
        store.quiet = True
        deadline = time.monotonic() + STOP_BOUND
        if store.conn is None:
            store.connect(timeout=STOP_BOUND, io_timeout=STOP_BOUND)
        store.flush(deadline)
    store.close()
    if store.queue:
        log("%s: stopping with %d rows unwritten" % (store.label, len(store.queue)))
    if stop:
        log("stopped by signal %d" % stop[0])
    if opts.once:
        return 0 if source.last_ok and not store.queue else 1
    return 0


def parse_args(argv):
    env = os.environ.get

    def whole(low, high):
        def check(text):
            try:
                value = int(text)
            except ValueError:
                raise argparse.ArgumentTypeError("not a whole number: %r" % text)
            if not low <= value <= high:
                raise argparse.ArgumentTypeError("%d is outside %d..%d" % (value, low, high))
            return value
        return check

    parser = argparse.ArgumentParser(
        description="Asks Korbad at ADDRESS for vmstat samples again and again and stores "
                    "them in the MariaDB table `samples` (created from schema.sql).",
        epilog="Environment: COLLECTOR_DB_PASSWORD (the database password; never on the "
               "command line), MYSQL_SOCKET, COLLECTOR_DB_HOST, COLLECTOR_DB_PORT, "
               "COLLECTOR_DB_USER, COLLECTOR_DB_NAME stand in for the --db options. "
               "Status changes are logged to standard error; SIGTERM or SIGINT stop it "
               "after writing what is queued (waiting at most 2 s for the database).")
    parser.add_argument("address", metavar="ADDRESS", help="Korbad's HOST:PORT (port 5000 if left out)")
    parser.add_argument("--command", default="vmstat", help="command name declared in Korbad's access file (default: vmstat)")
    parser.add_argument("--interval", type=whole(1, 3600), default=5, help="seconds between samples (default: 5)")
    parser.add_argument("--count", type=whole(2, 100000), default=12,
                        help="vmstat lines per request, the first of which is skipped (default: 12)")
    parser.add_argument("--host-name", help="value of the host column (default: ADDRESS as HOST:PORT)")
    parser.add_argument("--queue", type=whole(1, 10000000), default=10000,
                        help="rows kept while the database is away (default: 10000)")
    parser.add_argument("--once", action="store_true",
                        help="one request, then exit: 0 if it ended normally and every row was stored, else 1")
    parser.add_argument("--schema", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "schema.sql"),
                        help="SQL run at each database connect (default: schema.sql beside this script)")
    parser.add_argument("--db-socket", help="Unix socket of the server (default: $MYSQL_SOCKET unless --db-host is given)")
    parser.add_argument("--db-host", help="server host for TCP (default: $COLLECTOR_DB_HOST or 127.0.0.1)")
    parser.add_argument("--db-port", help="server port (default: $COLLECTOR_DB_PORT or 3306)")
    parser.add_argument("--db-user", default=env("COLLECTOR_DB_USER", "collector"), help="default: $COLLECTOR_DB_USER or collector")
    parser.add_argument("--db-name", default=env("COLLECTOR_DB_NAME", "Vandrel"), help="default: $COLLECTOR_DB_NAME or Vandrel")
    opts = parser.parse_args(argv)

    host, _, port = opts.address.rpartition(":") if ":" in opts.address else (opts.address, "", "5000")
    try:
        opts.address = (host, whole(1, 65535)(port))
    except argparse.ArgumentTypeError as e:
        parser.error("bad port in ADDRESS: %s" % e)
    if not host:
        parser.error("ADDRESS needs a host: HOST:PORT")
    if not COMMAND_NAME.match(opts.command):
        parser.error("--command: 1 to 39 letters, digits or .,:*_-")
    opts.host_name = opts.host_name or "%s:%d" % opts.address
    if len(opts.host_name) > 64:
        parser.error("--host-name: at most 64 characters (the host column)")
    if opts.db_socket is None and opts.db_host is None:
        opts.db_socket = env("MYSQL_SOCKET") or None
    opts.db_host = opts.db_host or env("COLLECTOR_DB_HOST", "127.0.0.1")
    try:
        opts.db_port = whole(1, 65535)(opts.db_port or env("COLLECTOR_DB_PORT", "3306"))
    except argparse.ArgumentTypeError as e:
        parser.error("--db-port: %s" % e)
    try:
        with open(opts.schema) as f:
            text = re.sub(r"--[^\n]*", "", f.read())  # schema.sql holds no "--" in strings
    except OSError as e:
        parser.error("--schema %s: %s" % (opts.schema, describe(e)))
    statements = [s.strip() for s in text.split(";") if s.strip()]
    if not statements:
        parser.error("--schema %s: no SQL statement in it" % opts.schema)
    return opts, statements


if __name__ == "__main__":
    sys.exit(run(*parse_args(sys.argv[1:])))
