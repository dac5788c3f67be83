#!/bin/sh
# Stands in for prtconf: prints the recorded output "prtconf.txt" beside it,
# for the two argument forms the report uses. With FAKE_PRTCONF_FOREVER set it
# then keeps writing, as a tool that is killed before it ends.
case "$*" in
  -vp | -pv) ;;
  *) echo "prtconf: unexpected arguments: $*" >&2; exit 2 ;;
esac
cat "$(dirname "$0")/prtconf.txt" || exit 1
if [ -n "$FAKE_PRTCONF_FOREVER" ]; then
  while :; do echo "    filler:  00000000"; done
fi
