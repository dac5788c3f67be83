#!/bin/sh
# serve_installed.sh ROOT: run under "unshare -m -n". In mount and network
# namespaces of its own, lays the unpacked package ROOT over /usr and /etc
# (with a scratch layer on top, so nothing of the host changes), enables the
# installed snippet the Debian way and starts Debian's lighttpd with its own
# lighttpd.conf on port 80 of a private loopback. Then fetches pages as a
# browser that reaches the host as "localhost" does, and prints "==== STATUS
# PATH" and each body, then checks the installed systemd units.
set -eu
root=$1
scratch=$(mktemp -d)
mkdir "$scratch/upper" "$scratch/work"
mount -t overlay overlay -o "lowerdir=$root/usr:/usr" /usr
mount -t overlay overlay -o "lowerdir=$root/etc:/etc,upperdir=$scratch/upper,workdir=$scratch/work" /etc
# lighttpd's pid file and logs, and Vandrel's TMP_DIR, out of the host's way.
mount -t tmpfs tmpfs /run
mount -t tmpfs -o mode=0755 tmpfs /var/log
mkdir -p /var/log/lighttpd && chown www-data:www-data /var/log/lighttpd
mount -t tmpfs tmpfs /var/lib
mkdir -p /var/lib/vek-toolkit/tmp && chown www-data:www-data /var/lib/vek-toolkit/tmp
ip link set lo up

lighty-enable-mod vandrel >/dev/null
lighttpd -D -f /etc/lighttpd/lighttpd.conf &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null' EXIT

python3 - <<'PY'
import time, urllib.error, urllib.request
def fetch(path):
    request = urllib.request.Request("http://127.0.0.1" + path, headers={"Host": "localhost"})
    try:
        with urllib.request.urlopen(request, timeout=20) as reply:
            return reply.status, reply.read().decode("utf-8", "replace")
    except urllib.error.HTTPError as e:
        return e.code, ""
for attempt in range(100):
    try:
        fetch("/static/site.css")
        break
    except OSError:
        time.sleep(0.1)
for path in ("/language.page", "/", "/static/site.css", "/static/x.page"):
    status, body = fetch(path)
    print(f"==== {status} {path}")
    print(body)
PY
echo "==== units"
systemd-analyze verify --man=no /usr/lib/systemd/system/korbad.service \
  /usr/lib/systemd/system/vek-collector.service 2>&1 && echo "units verified"
