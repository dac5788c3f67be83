#!/bin/sh
# chldPID.sh PID: prints the process ids of every descendant of PID, one per
# line, each parent before its children. Korbad runs it to end the process
# tree of a command whose client has gone, and of the whole service when it
# is stopped.
#
# Linux: the parent of every process is read from /proc/PID/stat. Processes
# that have already ended (zombies) are left out: there is nothing to kill,
# and listing them would make the caller look again for nothing. This script
# and the processes of its own pipeline are descendants of PID too; they are
# left out as well.

case $1 in
  '' | *[!0-9]*)
    echo "usage: $0 PID" >&2
    exit 2
    ;;
esac

# A process that ends while it is read makes cat complain; that is expected.
cat /proc/[0-9]*/stat 2>/dev/null | awk -v root="$1" -v self="$$" -v parent="$PPID" '
{
  pid = $1 + 0
  # The command name may hold blanks and parentheses: the fields that matter
  # come after its last ")".
  rest = $0
  sub(/^.*\) /, "", rest)
  split(rest, f, " ")
  if (f[1] == "Z" || f[1] == "X") next
  children[f[2] + 0] = children[f[2] + 0] " " pid
}
END {
  # Breadth first from root, skipping our own subtree (and the shell that
  # started us, should one stand between root and us).
  queue[1] = root; head = 1; tail = 1
  while (head <= tail) {
    n = split(children[queue[head++]], kids, " ")
    for (i = 1; i <= n; i++) {
      k = kids[i] + 0
      if (k == self || (k == parent && parent != root)) continue
      print k
      queue[++tail] = k
    }
  }
}'
