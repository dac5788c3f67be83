# A private MariaDB server for the tests, the example site and the
# benchmarks: a fresh data directory under a temporary folder, reachable
# through a Unix socket and a loopback TCP port only, with one database and
# one password-protected user. Sourced; needs common.sh's `say`.
#
#   mariadb_start [DATABASE [PARENT]]
#                              start it, its folder under PARENT (default
#                              TMPDIR or /tmp), and export its coordinates:
#       MYSQL_SOCKET         the Unix socket
#       VANDREL_TEST_HOST    127.0.0.1
#       VANDREL_TEST_PORT    the TCP port (a free one, chosen at start)
#       VANDREL_TEST_DB      the database (default vandrel_test)
#       VANDREL_TEST_USER    the user, allowed on that database only
#       VANDREL_TEST_PASSWD  its password (random per start)
#   mariadb_stop               stop the server by its process id and remove
#                              the folder; safe to call twice, meant for traps
#                              (MARIADB_PID and MARIADB_DIR say which: another
#                              process may set them to stop a server it did
#                              not start)
#
# A server that does not come up is an error with the tail of its log: a run
# that needs the database never goes on without one.

MARIADB_DIR=""
MARIADB_PID=""

# Whether process $1 still runs. A server whose starter has ended is no child
# of ours: once it exits it may stay a zombie until init reaps it, and a
# zombie answers kill -0.
_mariadb_running() {
  kill -0 "$1" 2>/dev/null || return 1
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# A TCP port on 127.0.0.1 that nothing listens on right now.
_mariadb_free_port() {
  python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()'
}

_mariadb_fail() {
  echo "mariadb: $*" >&2
  if [ -n "$MARIADB_DIR" ] && [ -f "$MARIADB_DIR/error.log" ]; then
    echo "---- tail of $MARIADB_DIR/error.log" >&2
    tail -n 30 "$MARIADB_DIR/error.log" >&2
  fi
  mariadb_stop
  return 1
}

# Root's client over the socket (root logs in through the socket as the
# operating-system user root, which is who runs this).
_mariadb_root() {
  mariadb --no-defaults --protocol=socket --socket="$MYSQL_SOCKET" -uroot "$@"
}

mariadb_start() {
  local db=${1:-vandrel_test} parent=${2:-${TMPDIR:-/tmp}}
  local installer server
  installer=$(command -v mariadb-install-db || true)
  server=$(command -v mariadbd || echo /usr/sbin/mariadbd)
  if [ -z "$installer" ] || [ ! -x "$server" ]; then
    echo "mariadb: mariadb-server is not installed (mariadb-install-db, mariadbd)" >&2
    return 1
  fi
  MARIADB_DIR=$(mktemp -d "$parent/vandrel-mariadb.XXXXXX") || {
    MARIADB_DIR=""
    echo "mariadb: cannot make a temporary directory" >&2
    return 1
  }
  export MYSQL_SOCKET="$MARIADB_DIR/mysqld.sock"
  export VANDREL_TEST_HOST=127.0.0.1
  export VANDREL_TEST_DB="$db"
  export VANDREL_TEST_USER=vandrel_tester
  VANDREL_TEST_PASSWD="pw-$(od -An -N8 -tx1 /dev/urandom | tr -d ' \n')"
  export VANDREL_TEST_PASSWD

  say "mariadb: data directory $MARIADB_DIR"
  if ! "$installer" --no-defaults --user=root --datadir="$MARIADB_DIR/data" \
      --auth-root-authentication-method=socket --skip-test-db --skip-name-resolve \
      >"$MARIADB_DIR/install.log" 2>&1; then
    tail -n 30 "$MARIADB_DIR/install.log" >&2
    _mariadb_fail "mariadb-install-db failed"
    return 1
  fi

  # The port is free when chosen but could be taken before the server binds
  # it; a few attempts make that race harmless.
  local attempt up=0
  for attempt in 1 2 3; do
    VANDREL_TEST_PORT=$(_mariadb_free_port)
    export VANDREL_TEST_PORT
    "$server" --no-defaults --user=root --datadir="$MARIADB_DIR/data" \
      --socket="$MYSQL_SOCKET" --port="$VANDREL_TEST_PORT" --bind-address=127.0.0.1 \
      --skip-name-resolve --pid-file="$MARIADB_DIR/mysqld.pid" \
      --log-error="$MARIADB_DIR/error.log" --innodb-buffer-pool-size=64M \
      --innodb-log-file-size=16M --max-connections=200 \
      --character-set-server=utf8mb4 --collation-server=utf8mb4_general_ci \
      >/dev/null 2>&1 &
    MARIADB_PID=$!
    local waited
    for waited in $(seq 1 120); do
      if ! _mariadb_running "$MARIADB_PID"; then break; fi
      if mariadb-admin --no-defaults --protocol=socket --socket="$MYSQL_SOCKET" -uroot \
          ping >/dev/null 2>&1; then
        up=1
        break
      fi
      sleep 0.5
    done
    [ $up -eq 1 ] && break
    if _mariadb_running "$MARIADB_PID"; then
      _mariadb_fail "server did not answer within 60 s"
      return 1
    fi
    wait "$MARIADB_PID" 2>/dev/null || true
    MARIADB_PID=""
    grep -q 'Address already in use' "$MARIADB_DIR/error.log" 2>/dev/null || break
    say "mariadb: port $VANDREL_TEST_PORT was taken, trying another"
  done
  if [ $up -ne 1 ]; then
    _mariadb_fail "server did not start"
    return 1
  fi

  # The user may connect through the socket (host localhost) and over TCP
  # from the loopback address, and sees its own database only.
  if ! _mariadb_root <<SQL
CREATE DATABASE \`$VANDREL_TEST_DB\`;
CREATE USER '$VANDREL_TEST_USER'@'localhost' IDENTIFIED BY '$VANDREL_TEST_PASSWD';
CREATE USER '$VANDREL_TEST_USER'@'127.0.0.1' IDENTIFIED BY '$VANDREL_TEST_PASSWD';
GRANT ALL PRIVILEGES ON \`$VANDREL_TEST_DB\`.* TO '$VANDREL_TEST_USER'@'localhost';
GRANT ALL PRIVILEGES ON \`$VANDREL_TEST_DB\`.* TO '$VANDREL_TEST_USER'@'127.0.0.1';
SQL
  then
    _mariadb_fail "cannot create the database and the user"
    return 1
  fi
  if ! mariadb --no-defaults --protocol=tcp -h 127.0.0.1 -P "$VANDREL_TEST_PORT" \
      -u"$VANDREL_TEST_USER" -p"$VANDREL_TEST_PASSWD" "$VANDREL_TEST_DB" \
      -e 'SELECT 1' >/dev/null; then
    _mariadb_fail "the test user cannot log in over TCP"
    return 1
  fi
  say "mariadb: up (pid $MARIADB_PID, socket $MYSQL_SOCKET, port $VANDREL_TEST_PORT," \
    "database $VANDREL_TEST_DB, user $VANDREL_TEST_USER)"
}

# Runs SQL from standard input (or the arguments) as the test user.
mariadb_user_sql() {
  mariadb --no-defaults --protocol=socket --socket="$MYSQL_SOCKET" \
    -u"$VANDREL_TEST_USER" -p"$VANDREL_TEST_PASSWD" "$VANDREL_TEST_DB" "$@"
}

mariadb_stop() {
  if [ -n "$MARIADB_PID" ]; then
    if _mariadb_running "$MARIADB_PID"; then
      kill -TERM "$MARIADB_PID" 2>/dev/null || true
      local waited
      for waited in $(seq 1 60); do
        _mariadb_running "$MARIADB_PID" || break
        sleep 0.5
      done
      if _mariadb_running "$MARIADB_PID"; then
        echo "mariadb: server $MARIADB_PID did not stop in 30 s; killing it" >&2
        kill -KILL "$MARIADB_PID" 2>/dev/null || true
      fi
    fi
    wait "$MARIADB_PID" 2>/dev/null || true
    MARIADB_PID=""
  fi
  if [ -n "$MARIADB_DIR" ]; then
    rm -rf "$MARIADB_DIR"
    MARIADB_DIR=""
  fi
}
