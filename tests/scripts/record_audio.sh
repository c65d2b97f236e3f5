#!/bin/bash
# "--record-audio" headless: 1380 bytes a tic; the recording's pitch follows
# the ridden engine's rpm where it holds steady; the same command twice
# gives the same bytes.
set -u
BUILD=$1
SRC=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unset TW_HOME KORB_OPTIONS
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fail=0
check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}
TICS=1400
# A time trial's flying start: riding from the first seconds.
RUN=(--headless --debug --seed 1 --track tracks/hollow_creek --time-trial --drive follow
  --lock-fps 60 --tics $TICS)
# Paced in real time (about 11 s): both runs at once.
for run in 1 2; do
  KORB_LOGFILE=$tmp/log$run XDG_DATA_HOME=$tmp/h$run timeout 120 "$BUILD/tarnwick" "${RUN[@]}" \
    --record-audio "$tmp/a$run.raw" >"$tmp/out$run" 2>&1 &
done
wait
size=$(stat -c %s "$tmp/a1.raw" 2>/dev/null || echo 0)
check "1380 bytes a tic ($size for $TICS tics)" test "$size" -eq $((TICS * 1380))
check "two runs record the same bytes" cmp -s "$tmp/a1.raw" "$tmp/a2.raw"
check "the recording is not silent" test -n "$(od -An -tx1 -v "$tmp/a1.raw" | grep -v ' 00 00' | head -1)"
"$BUILD/tests/scripts/pitch_track" "$tmp/a1.raw" "$tmp/log1" >"$tmp/pitch"
status=$?
cat "$tmp/pitch"
check "the pitch follows the rpm within 3 %" test $status -eq 0
exit $fail
