#!/bin/bash
# "--console" in a headless run with a home folder holding a full
# configuration: the line takes effect, the reply reaches the log, and the
# configuration written at shutdown differs from the one read in that one
# line only.
set -u
BUILD=$1
SRC=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/home
unset KORB_LOGFILE TW_HOME
fail=0
check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

home=$tmp/home/Tarnwick
mkdir -p "$home"
cp "$SRC/tests/app/fixtures/config_all" "$home/config"
"$BUILD/tarnwick" --headless --tics 16 --console "/fov 90" --console "/nosuchcommand" \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "run exits 0 (got $status)" test $status -eq 0
check "the reply is logged" grep -q "] fov set$" "$home/lastlog.txt"
sed 's/^fov=95.000000$/fov=90.000000/' "$SRC/tests/app/fixtures/config_all" >"$tmp/expected"
check "fov=90 written back, every other line as read" cmp -s "$tmp/expected" "$home/config"
if ! cmp -s "$tmp/expected" "$home/config"; then diff "$tmp/expected" "$home/config" | head -20; fi
check "no temporary file left" test ! -e "$home/config.tmp"

# --help lists the option.
"$BUILD/tarnwick" --help >"$tmp/help"
check "--help lists --console" grep -q -- "--console" "$tmp/help"
exit $fail
