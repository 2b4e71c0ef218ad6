#!/usr/bin/env bash
# procloop as the dynamic loader meets it: the binary needs neither libpulse nor
# libxcb (opened when first needed, so that few libraries are mapped before main
# and Ctrl+C finds the program's handlers sooner), and a library that cannot be
# opened is its own error line, exit status 1.
#
#   tests/process/loader_test.sh <procloop>
set -euo pipefail
procloop=$1
fail() { echo "loader_test: $*" >&2; exit 1; }

needed=$(readelf -d "$procloop" | grep NEEDED)
[[ $needed != *libpulse* && $needed != *libxcb* ]] || fail "the loader maps them at the start: $needed"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
: >"$dir/libpulse.so.0"
: >"$dir/libxcb.so.1"
while IFS='|' read -r args lines; do
  status=0
  # shellcheck disable=SC2086  # the table's arguments are words
  err=$(LD_LIBRARY_PATH=$dir "$procloop" $args 2>&1 >/dev/null) || status=$?
  [ "$status" = 1 ] || fail "$args: exit status $status"
  # shellcheck disable=SC2059  # the table's lines are formats
  [ "$err" = "$(printf "$lines" "$dir")" ] || fail "$args: said: $err"
done <<'TABLE'
--pid 1|info: pid=1 includeChildren=false\nerror: cannot load libpulse.so.0: %s/libpulse.so.0: file too short
--list|error: cannot load libpulse.so.0: %s/libpulse.so.0: file too short
--hwnd 4194305|error: cannot load libxcb.so.1: %s/libxcb.so.1: file too short\nerror: could not resolve HWND 0000000000400001 to a process id
TABLE
echo "loader_test: no audio or X library at the start; the 3 cases say why they cannot open one"
