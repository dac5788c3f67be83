# The whole toolkit on loopback, for scripts/run: a private MariaDB, Korbad,
# lighttpd running Vandrel over the example site, and the collector. Sourced;
# needs common.sh and mariadb.sh.
#
#   stack_start BIN PORT   start every part and wait until each answers
#   stack_wait             block until a part ends on its own (returns 1)
#   stack_stop             stop every part by its process id, remove the
#                          run folder and the shared-memory segment; safe to
#                          call twice, meant for traps
#
# Everything a run writes lives in one private folder (STACK_DIR): the
# Vandrel home, TMP_DIR, uploads, the logs.

STACK_DIR=""
STACK_PIDS=()     # in start order; stopped in reverse
STACK_NAMES=()
STACK_SHMKEY=""

_stack_fail() {
  echo "scripts/run: $*" >&2
  local log
  for log in "$STACK_DIR"/logs/*.log; do
    [ -s "$log" ] || continue
    echo "---- tail of $log" >&2
    tail -n 15 "$log" >&2
  done
  return 1
}

# _stack_spawn NAME LOG COMMAND...: starts COMMAND in the background in a
# process group of its own, so that what it starts (CGI runs, benchmark
# runs a page began) can be stopped with it.
_stack_spawn() {
  local name=$1 log=$2
  shift 2
  setsid "$@" >>"$log" 2>&1 </dev/null &
  STACK_PIDS+=($!)
  STACK_NAMES+=("$name")
}

# _stack_until SECONDS COMMAND...: retries COMMAND every 0.2 s.
_stack_until() {
  local tries=$(($1 * 5))
  shift
  while [ $tries -gt 0 ]; do
    "$@" >/dev/null 2>&1 && return 0
    tries=$((tries - 1))
    sleep 0.2
  done
  return 1
}

_stack_port_free() {
  python3 - "$1" <<'EOF'
import socket, sys
s = socket.socket()
try:
    s.bind(("127.0.0.1", int(sys.argv[1])))
except OSError:
    sys.exit(1)
EOF
}

_stack_korbad_answers() {
  printf 'STAT_LIST\n' | timeout 3 socat -t 2 - "TCP:127.0.0.1:$1" | grep -q '^STAT \*\*\* LIST END'
}

_stack_http_answers() {
  python3 - "$1" <<'EOF'
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1], timeout=5) as reply:
    sys.exit(0 if reply.status == 200 and b"<html" in reply.read() else 1)
EOF
}

_stack_has_samples() {
  [ -n "$(mariadb_user_sql -N -e 'select 1 from samples limit 1' 2>/dev/null)" ]
}

stack_start() {
  local bin=$1 port=$2
  local site="$ROOT/examples/site"
  if ! _stack_port_free "$port"; then
    echo "scripts/run: port $port on 127.0.0.1 is taken; choose another with PORT=..." >&2
    return 1
  fi
  STACK_DIR=$(mktemp -d "${TMPDIR:-/tmp}/toolkit-run.XXXXXX")
  mkdir -p "$STACK_DIR/home" "$STACK_DIR/tmp" "$STACK_DIR/uploads" "$STACK_DIR/logs"
  say "run folder $STACK_DIR"

  mariadb_start toolkit || return 1
  mariadb_user_sql <"$ROOT/examples/collector/schema.sql" &&
    mariadb_user_sql <"$site/data/hosts.sql" || { _stack_fail "cannot load the example tables"; return 1; }

  # Korbad serves the shipped example access file and process-tree lister,
  # and finds Hestov on its PATH.
  local korbad_port
  korbad_port=$(_mariadb_free_port)
  _stack_spawn Korbad "$STACK_DIR/logs/korbad.log" \
    env KORBAD_HOME="$ROOT/examples/korbad" PATH="$bin:$PATH" "$bin/Korbad" -p "127.0.0.1:$korbad_port"
  _stack_until 10 _stack_korbad_answers "$korbad_port" ||
    { _stack_fail "Korbad did not answer on port $korbad_port"; return 1; }
  say "Korbad on 127.0.0.1:$korbad_port"

  # The segment key is the run's own, so that it can be removed at the end.
  STACK_SHMKEY=$((0x7ab00000 + port))
  ipcrm -M "$STACK_SHMKEY" 2>/dev/null || true

  # Vandrel's home: the server lines for this port, and x.env with the
  # run's coordinates after the shipped lines.
  sed -e "s|@SITE@|$site|g" -e "s|@PORT@|$port|g" "$ROOT/examples/home/x.config.in" \
    >"$STACK_DIR/home/x.config"
  {
    cat "$ROOT/examples/home/x.env"
    echo "# Added by scripts/run for this run."
    echo "TMP_DIR=$STACK_DIR/tmp"
    echo "UPLOAD_DIR=$STACK_DIR/uploads"
    echo "TOOLKIT_BIN=$bin"
    echo "KORBAD_HOST=127.0.0.1"
    echo "KORBAD_PORT=$korbad_port"
    echo "SHMKEY=$STACK_SHMKEY"
    echo "MYSQL_SOCKET=$MYSQL_SOCKET"
    echo "SITE_DB_USER=$VANDREL_TEST_USER"
    echo "SITE_DB_PASSWD=$VANDREL_TEST_PASSWD"
  } >"$STACK_DIR/home/x.env"
  chmod 600 "$STACK_DIR/home/x.env"

  _stack_spawn lighttpd "$STACK_DIR/logs/lighttpd.log" \
    env TOOLKIT_PORT="$port" TOOLKIT_SITE="$site" TOOLKIT_VANDREL="$bin/Vandrel" \
    TOOLKIT_LOGS="$STACK_DIR/logs" X_HOME="$STACK_DIR/home" PATH="$bin:$PATH" \
    lighttpd -D -f "$ROOT/examples/lighttpd/lighttpd.conf"

  _stack_spawn collector "$STACK_DIR/logs/collector.log" \
    env COLLECTOR_DB_PASSWORD="$VANDREL_TEST_PASSWD" \
    "$ROOT/examples/collector/collector.py" "127.0.0.1:$korbad_port" \
    --host-name localhost --interval 1 --count 60 \
    --db-socket "$MYSQL_SOCKET" --db-user "$VANDREL_TEST_USER" --db-name "$VANDREL_TEST_DB"

  _stack_until 15 _stack_http_answers "http://127.0.0.1:$port/" ||
    { _stack_fail "the site did not answer on port $port"; return 1; }
  _stack_until 20 _stack_has_samples ||
    { _stack_fail "the collector stored no sample"; return 1; }
}

stack_wait() {
  local pid i
  wait -n "${STACK_PIDS[@]}" $MARIADB_PID 2>/dev/null || true
  kill -0 "$MARIADB_PID" 2>/dev/null || _stack_fail "the MariaDB server (pid $MARIADB_PID) ended"
  for i in "${!STACK_PIDS[@]}"; do
    pid=${STACK_PIDS[$i]}
    kill -0 "$pid" 2>/dev/null || _stack_fail "${STACK_NAMES[$i]} (pid $pid) ended"
  done
  return 1
}

# Stops one part: TERM to its process group, up to 5 s, then KILL.
_stack_stop_one() {
  local pid=$1 waited
  kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || return 0
  for waited in $(seq 1 25); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -KILL -- "-$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

stack_stop() {
  local i
  for ((i = ${#STACK_PIDS[@]} - 1; i >= 0; i--)); do
    _stack_stop_one "${STACK_PIDS[$i]}"
  done
  STACK_PIDS=()
  STACK_NAMES=()
  mariadb_stop
  if [ -n "$STACK_SHMKEY" ]; then
    ipcrm -M "$STACK_SHMKEY" 2>/dev/null || true
    STACK_SHMKEY=""
  fi
  if [ -n "$STACK_DIR" ]; then
    rm -rf "$STACK_DIR"
    STACK_DIR=""
  fi
}
