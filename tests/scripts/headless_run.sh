#!/bin/bash
# Headless runs of the whole program: a fixed number of tics ends with
# status 0 and the start-up and shutdown texts in order; bad command lines
# and missing game data end with status 1 and their messages.
set -u
BUILD=$1
SRC=$2
. "$SRC/tests/scripts/log_order.inc"
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

# 256 tics (2 s) on the title screen.
"$BUILD/tarnwick" --headless --tics 256 --seed 7 >"$tmp/out" 2>"$tmp/err"
status=$?
check "headless run exits 0 (got $status)" test $status -eq 0
log=$(find "$tmp/home" -name lastlog.txt | head -1)
check "log written into the home folder" test -n "$log"
if [ -n "$log" ]; then
  check "start-up and shutdown texts in order" \
    log_in_order "$log" "${STARTUP_TEXTS[@]}" "${SHUTDOWN_TEXTS[@]}"
fi

# An audio file that cannot be written is reported; the run goes on.
"$BUILD/tarnwick" --headless --tics 4 --record-audio "$tmp/no/such/folder/a.raw" \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "unwritable audio file: run exits 0 (got $status)" test $status -eq 0
check "unwritable audio file: reported" grep -qF "Can't open" "$tmp/err"

# Warp runs without waiting: 12800 tics take well under their 100 s.
start=$(date +%s)
"$BUILD/tarnwick" --headless --warp --tics 12800 --nosound 2>"$tmp/err"
status=$?
check "warp run exits 0 (got $status)" test $status -eq 0
check "warp run does not wait for real time" test $(( $(date +%s) - start )) -lt 30

# A frame rate near zero is limited to one frame a second, not a wait for
# ages: 128 tics are the first frame.
start=$(date +%s)
timeout 60 "$BUILD/tarnwick" --headless --lock-fps 1e-30 --tics 128 >"$tmp/out" 2>"$tmp/err"
status=$?
check "--lock-fps 1e-30 ends (got $status)" test $status -eq 0
check "--lock-fps 1e-30 waits about a second" test $(( $(date +%s) - start )) -lt 20

# Bad command lines: the message on standard error, status 1.
expect_error() {  # expect_error MESSAGE ARGS...
  local message=$1
  shift
  "$BUILD/tarnwick" --headless "$@" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  check "$* -> status 1 (got $status)" test $status -eq 1
  check "$* -> \"$message\"" grep -qF -- "$message" "$tmp/err"
}
expect_error "Bad arg for --erode" --erode nan
expect_error "bad option '--frobnicate'" --frobnicate
expect_error "Too many files!" a.twdemo b.twdemo
expect_error "bad arg for --glversion" --glversion 3
# A track or demo that is not there is said, not ridden round.
expect_error 'No track named "no_such_track"' --track no_such_track
expect_error "Can't open demo file" "$tmp/no_such.twdemo"

"$BUILD/tarnwick" --help >"$tmp/out" 2>&1
status=$?
check "--help exits 0 (got $status)" test $status -eq 0
check "--help lists the options" grep -q -- "--exit-after-race" "$tmp/out"
check "--help lists --print-hash" grep -q -- "--print-hash .*hash" "$tmp/out"

# The world hash: the same run twice gives the same hash, paced or warped.
"$BUILD/tarnwick" --headless --warp --tics 640 --seed 3 --print-hash >"$tmp/h1" 2>/dev/null
"$BUILD/tarnwick" --headless --warp --tics 640 --seed 3 --print-hash >"$tmp/h2" 2>/dev/null
"$BUILD/tarnwick" --headless --tics 640 --seed 3 --print-hash >"$tmp/h3" 2>/dev/null
check "--print-hash prints a hash" grep -qE "^world hash [0-9a-f]{40}$" "$tmp/h1"
check "two runs give the same hash" cmp -s "$tmp/h1" "$tmp/h2"
check "a paced run gives the warped run's hash" cmp -s "$tmp/h1" "$tmp/h3"
"$BUILD/tarnwick" --headless --warp --tics 641 --seed 3 --print-hash >"$tmp/h4" 2>/dev/null
check "one tic more moves the hash" sh -c "! cmp -s '$tmp/h1' '$tmp/h4'"
# Without --seed a headless run starts from seed 0: still the same every run.
"$BUILD/tarnwick" --headless --warp --tics 640 --print-hash >"$tmp/h5" 2>/dev/null
"$BUILD/tarnwick" --headless --warp --tics 640 --print-hash >"$tmp/h6" 2>/dev/null
check "runs without --seed repeat" cmp -s "$tmp/h5" "$tmp/h6"

# Without the game data anywhere: a message, status 1.
mkdir -p "$tmp/bare"
cp "$BUILD/tarnwick" "$tmp/bare/"
XDG_DATA_HOME=$tmp/empty "$tmp/bare/tarnwick" --headless --tics 1 >"$tmp/out" 2>"$tmp/err"
status=$?
check "no game data -> status 1 (got $status)" test $status -eq 1
check "no game data -> message" grep -qF "Can't find game data" "$tmp/err"

exit $fail
