#!/usr/bin/env bash
# Korbad against Debian's socat ("socat TCP-LISTEN:PORT,reuseaddr,fork EXEC:..."),
# both on 127.0.0.1 running the same programs:
#   - connections per second for a one-line command (/bin/echo), CLIENTS
#     clients in parallel for SECONDS seconds;
#   - throughput of one connection streaming LINES text lines (~80 bytes each).
# Each measurement runs REPEAT times, alternating the two servers; the median
# is reported. Every process started here is killed by its id on exit.
#
# Usage: bench/korbad/run.sh      (env: SECONDS_PER_RUN CLIENTS LINES REPEAT BUILD)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-/tmp/korbad-bench-build}
SECONDS_PER_RUN=${SECONDS_PER_RUN:-5}
CLIENTS=${CLIENTS:-4}
LINES=${LINES:-3500000}
REPEAT=${REPEAT:-5}

command -v socat >/dev/null || { echo "socat is needed: apt-get install socat" >&2; exit 1; }

cmake -S "$ROOT" -B "$BUILD" -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD" --target Korbad -j "$(nproc)" >/dev/null
KORBAD=$BUILD/bin/Korbad

work=$(mktemp -d /tmp/korbad_bench_XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

g++ -O2 -std=c++20 -pthread -o "$work/korbad_load" "$ROOT/bench/korbad/korbad_load.cc"

mkdir -p "$work/home/bin"
cp "$ROOT/examples/korbad/bin/chldPID.sh" "$work/home/bin/"
cat >"$work/lines.sh" <<LINES_EOF
#!/bin/sh
yes 'Tue Dec  8 20:56:26 2026  r 1 b 0 swpd 0 free 812344 us 12 sy 3 id 84 wa 1 st 0' | head -n $LINES
LINES_EOF
chmod +x "$work/lines.sh"
printf 'access 127.0.0.1\ncommand oneline /bin/echo\ncommand lines %s\n' "$work/lines.sh" \
  >"$work/home/access"

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
KPORT=$(free_port)
KORBAD_HOME=$work/home "$KORBAD" -p "127.0.0.1:$KPORT" 2>"$work/korbad.log" &
pids+=($!)
SPORT1=$(free_port)
socat "TCP-LISTEN:$SPORT1,bind=127.0.0.1,reuseaddr,fork" "EXEC:/bin/echo STAT-line" 2>"$work/socat1.log" &
pids+=($!)
SPORT2=$(free_port)
socat "TCP-LISTEN:$SPORT2,bind=127.0.0.1,reuseaddr,fork" "EXEC:$work/lines.sh" 2>"$work/socat2.log" &
pids+=($!)
for _ in $(seq 50); do grep -q READY "$work/korbad.log" && break; sleep 0.1; done
sleep 0.5

median() { sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
field() { sed -n "s/.* $1 \([0-9.]*\).*/\1/p"; }

# rate NAME PORT REQUEST / stream NAME PORT: one run, logged to raw, value printed.
rate() {
  "$work/korbad_load" rate "$2" "$3" "$CLIENTS" "$SECONDS_PER_RUN" | sed "s/^/$1 /" \
    | tee -a "$work/raw" | field rate
}
stream() { "$work/korbad_load" stream "$2" lines | sed "s/^/$1 /" | tee -a "$work/raw" | field MBps; }

k_rate=() s_rate=() k_shell=() k_mb=() s_mb=()
for i in $(seq "$REPEAT"); do
  k_rate+=("$(rate korbad "$KPORT" "oneline STAT-line")")
  s_rate+=("$(rate socat "$SPORT1" "oneline STAT-line")")
  # "*" makes the command line go through the shell (the glob matches nothing).
  k_shell+=("$(rate korbad-shell "$KPORT" "oneline STAT-line*")")
  k_mb+=("$(stream korbad "$KPORT")")
  s_mb+=("$(stream socat "$SPORT2")")
done

kr=$(printf '%s\n' "${k_rate[@]}" | median)
sr=$(printf '%s\n' "${s_rate[@]}" | median)
ks=$(printf '%s\n' "${k_shell[@]}" | median)
km=$(printf '%s\n' "${k_mb[@]}" | median)
sm=$(printf '%s\n' "${s_mb[@]}" | median)

echo "== raw runs"
cat "$work/raw"
echo "== medians of $REPEAT runs ($(nproc) CPUs, $CLIENTS clients, ${SECONDS_PER_RUN}s per rate run, $LINES lines)"
printf '%-44s %10s\n' "connections/s, Korbad (/bin/echo, no shell)" "$kr"
printf '%-44s %10s\n' "connections/s, Korbad (through /bin/sh)" "$ks"
printf '%-44s %10s\n' "connections/s, socat EXEC" "$sr"
printf '%-44s %10s\n' "MB/s, Korbad" "$km"
printf '%-44s %10s\n' "MB/s, socat EXEC" "$sm"
awk -v kr="$kr" -v ks="$ks" -v sr="$sr" -v km="$km" -v sm="$sm" 'BEGIN {
  printf "connection rate ratio Korbad/socat: %.2f (through the shell: %.2f)\n", kr / sr, ks / sr
  printf "throughput ratio Korbad/socat:      %.2f\n", km / sm }'
failed() { awk -v who="$1" '$1 == who && $2 == "connections" {f += $5} END {print f + 0}' "$work/raw"; }
echo "connections without a reply, all runs: Korbad $(failed korbad)," \
  "Korbad through the shell $(failed korbad-shell), socat $(failed socat)"
