#!/bin/sh
# Stands in for prtconf: prints the recorded output "prtconf.txt" beside it,
# for the two argument forms the report uses. With FAKE_PRTCONF_FOREVER set it
# then keeps writing, as a tool that is killed before it ends. With
# FAKE_PRTCONF_HANG set it says nothing for 20 s first, as a tool that hangs
# (bounded, so that nothing outlives a run that is not stopped).
case "$*" in
  -vp | -pv) ;;
  *) echo "prtconf: unexpected arguments: $*" >&2; exit 2 ;;
esac
if [ -n "$FAKE_PRTCONF_HANG" ]; then sleep 20; fi
cat "$(dirname "$0")/prtconf.txt" || exit 1
if [ -n "$FAKE_PRTCONF_FOREVER" ]; then
  while :; do echo "    filler:  00000000"; done
fi
