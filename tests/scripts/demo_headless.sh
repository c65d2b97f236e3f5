#!/bin/bash
# Demos through the whole program: a headless race recorded with
# --record-demo replays headless to the same order, crossings within two
# tics and the same ground; racing against it puts its riders beside the
# player; a time trial keeps its first lap as the fast lap.
set -u
BUILD=$1
SRC=$2
. "$SRC/scripts/demo_compare.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unset KORB_LOGFILE TW_HOME KORB_OPTIONS
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fail=0
check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}
COMMON=(--headless --warp --seed 3 --track tracks/hollow_creek)

XDG_DATA_HOME=$tmp/rec timeout 200 "$BUILD/tarnwick" "${COMMON[@]}" --race "H......R" --laps 1 \
  --drive follow --erode 1 --exit-after-race --record-demo >"$tmp/rec.out" 2>&1
check "recorded race exits 0" test $? -eq 0
demo=$(find "$tmp/rec" -path "*demos/default.twdemo" | head -1)
check "the demo is in the home folder's demos" test -n "$demo"
[ -n "$demo" ] || exit 1
check "the demo starts with its header" test "$(head -c 5 "$demo")" = "TW06 "

XDG_DATA_HOME=$tmp/play timeout 200 "$BUILD/tarnwick" --headless --warp --exit-after-race \
  "$demo" >"$tmp/play.out" 2>&1
check "replay exits 0" test $? -eq 0
check "replay: same order, laps and finished flags" demo_same_order "$tmp/rec.out" "$tmp/play.out" 2
r1=$(find "$tmp/rec" -name results.txt | head -1)
r2=$(find "$tmp/play" -name results.txt | head -1)
check "replay writes results.txt" test -n "$r2"
[ -n "$r1" ] && [ -n "$r2" ] && check "replay: crossings within two tics" \
  demo_same_crossings "$r1" "$r2" 2
d1=$(demo_digest "$tmp/rec.out")
check "replay: the same ground" test -n "$d1" -a "$d1" = "$(demo_digest "$tmp/play.out")"

# Racing against the demo: the player in gate 1, the demo's two riders
# beside it; recording its own default demo stays possible.
XDG_DATA_HOME=$tmp/vs timeout 200 "$BUILD/tarnwick" "${COMMON[@]}" --race H --laps 1 \
  --drive follow --exit-after-race "$demo" >"$tmp/vs.out" 2>&1
check "race against the demo exits 0" test $? -eq 0
check "race against the demo: three riders in the order" \
  test "$(demo_final_order "$tmp/vs.out" | wc -l)" -eq 3

# A file that is not a demo is said and raced without.
printf 'TW06 1 0 1 1000\ntracks/hollow_creek\n' >"$tmp/bad.twdemo"
XDG_DATA_HOME=$tmp/bad timeout 200 "$BUILD/tarnwick" "${COMMON[@]}" --race H --laps 1 \
  --drive follow --exit-after-race "$tmp/bad.twdemo" >"$tmp/bad.out" 2>&1
check "a malformed demo: the race runs without it" test $? -eq 0
check "a malformed demo: only the player" test "$(demo_final_order "$tmp/bad.out" | wc -l)" -eq 1

# The time trial: the lap after the flying start becomes the fast lap.
XDG_DATA_HOME=$tmp/tt timeout 200 "$BUILD/tarnwick" "${COMMON[@]}" --time-trial --drive follow \
  --exit-after-race >"$tmp/tt.out" 2>&1
check "time trial exits 0" test $? -eq 0
last=$(find "$tmp/tt" -name lastlap.twdemo | head -1)
fast=$(find "$tmp/tt" -name fastlap.twdemo | head -1)
check "time trial: lastlap.twdemo in the track folder" test -n "$last"
check "time trial: fastlap.twdemo from the first lap" test -n "$fast"
# The next lap's recording has begun; the fast lap is the finished first.
[ -n "$fast" ] && check "time trial: the fast lap holds the player" \
  test "$(head -c 7 "$fast")" = "TW06 1 "
[ -n "$fast" ] && check "time trial: the fast lap is a whole lap" \
  test "$(stat -c %s "$fast")" -gt 50000
exit $fail
