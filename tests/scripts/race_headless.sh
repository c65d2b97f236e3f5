#!/bin/bash
# Races without menus: a two-lap race ridden by the planned rider ends the
# program with the rider finished, "results.txt" in the home folder, and
# laps like the ride tool's; the same race twice gives the same results;
# a time trial reports its flying lap; runs that cannot race say so.
set -u
BUILD=$1
SRC=$2
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
RACE=(--headless --seed 1 --track tracks/hollow_creek --race H --laps 2 --drive follow
  --exit-after-race)

# The example as a user types it, paced in real time (two laps, under three
# minutes); it runs while the warped races below use the processor.
start=$(date +%s)
XDG_DATA_HOME=$tmp/paced timeout 280 "$BUILD/tarnwick" "${RACE[@]}" >"$tmp/paced.out" \
  2>"$tmp/paced.err" &
paced=$!

# The same race warped, twice, each with a home of its own.
for run in 1 2; do
  XDG_DATA_HOME=$tmp/h$run timeout 120 "$BUILD/tarnwick" "${RACE[@]}" --warp >"$tmp/out$run" \
    2>"$tmp/err$run"
  status=$?
  check "warped race $run exits 0 (got $status)" test $status -eq 0
done
results=$(find "$tmp/h1" -name results.txt | head -1)
check "results.txt in the home folder" test -n "$results"
check "the local rider finished 2 laps first" grep -q "^ 1\. slot 0 #999: 2 laps" "$tmp/out1"
check "each lap printed" grep -q "^lap 2 slot 0 #999: " "$tmp/out1"
if [ -n "$results" ]; then
  check "results list the rider with 2 laps" grep -q "^ 999 | yz250f(2017) |    2 | " "$results"
  check "results lines end with CR LF" test "$(grep -c $'\r$' "$results")" -eq "$(wc -l <"$results")"
  other=$(find "$tmp/h2" -name results.txt | head -1)
  check "two runs give the same results but for the date" \
    cmp -s <(sed 's/|Date=[0-9]*/|Date=/' "$results") <(sed 's/|Date=[0-9]*/|Date=/' "$other")
fi
check "two runs print the same" cmp -s "$tmp/out1" "$tmp/out2"

# The second lap against the ride tool's planned rider on the same course.
"$BUILD/tools/ride/ride" --follow --gates --seconds 200 --every 100000 >"$tmp/ride" 2>&1
ride_lap=$(sed -n 's/^# timing lap 2: .*, \([0-9.]*\) s$/\1/p' "$tmp/ride")
race_lap=$(sed -n 's/^lap 2 slot 0 #999: \([0-9.]*\) s$/\1/p' "$tmp/out1")
echo "second lap: race $race_lap s, ride tool $ride_lap s"
check "second lap within 5 % of the ride tool's" \
  awk -v a="$race_lap" -v b="$ride_lap" 'BEGIN { d = a - b; if (d < 0) d = -d; exit !(b > 0 && d <= 0.05 * b) }'

# A time trial ridden by the planned rider: the lap after the flying start.
XDG_DATA_HOME=$tmp/tt timeout 120 "$BUILD/tarnwick" --headless --warp --seed 1 \
  --track tracks/hollow_creek --time-trial --drive follow --exit-after-race >"$tmp/tt" 2>&1
status=$?
check "time trial exits 0 (got $status)" test $status -eq 0
check "time trial reports its flying start" grep -q "^time trial: flying start$" "$tmp/tt"
check "time trial reports a flying-start lap" \
  grep -qE "^time trial lap 1: [0-9]+\.[0-9]{3} s \(flying start\)$" "$tmp/tt"

# A race with a robot, warped, ends once it is over (a robot that cannot
# finish would end it a minute after the last crossing), and the results
# hold the finished rider; it is not started again. Without
# --exit-after-race, --warp starts the same race again, the lineup one gate on.
XDG_DATA_HOME=$tmp/hr timeout 120 "$BUILD/tarnwick" --headless --warp --seed 2 --race "H......R" --laps 1 \
  --drive follow --exit-after-race >"$tmp/hr.out" 2>&1
status=$?
check "race with a robot exits 0 (got $status)" test $status -eq 0
check "race with a robot: results with the finished rider" \
  grep -q "^ 999 | yz250f(2017) |    1 | " "$(find "$tmp/hr" -name results.txt | head -1)"
check "race with a robot: not restarted" test "$(grep -c '^lap .*#999:' "$tmp/hr.out")" -eq 1
XDG_DATA_HOME=$tmp/again timeout 120 "$BUILD/tarnwick" --headless --warp --seed 2 --race H --laps 1 \
  --drive follow --tics 26000 >"$tmp/again.out" 2>&1
check "--warp starts the race again, one gate on" grep -q "^lap 1 slot 1 #999: " "$tmp/again.out"

# A control script drives the player: it rides away from where it stood.
printf '# away from the gate after the drop\n0 clutch=1\n16 throttle=1\n' >"$tmp/script"
XDG_DATA_HOME=$tmp/s "$BUILD/tarnwick" --headless --warp --seed 1 --race H --laps 1 \
  --drive "$tmp/script" --tics 2600 --print-hash >"$tmp/s1" 2>"$tmp/err"
status=$?
check "--drive FILE runs (got $status)" test $status -eq 0
XDG_DATA_HOME=$tmp/s "$BUILD/tarnwick" --headless --warp --seed 1 --race H --laps 1 \
  --tics 2600 --print-hash >"$tmp/s2" 2>"$tmp/err"
check "--drive FILE moves the rider" sh -c "! cmp -s '$tmp/s1' '$tmp/s2'"

# Runs that cannot race: a message, status 1, at once.
expect_error() {  # expect_error MESSAGE ARGS...
  local message=$1
  shift
  XDG_DATA_HOME=$tmp/e timeout 60 "$BUILD/tarnwick" --headless "$@" >"$tmp/out" 2>"$tmp/err"
  local status=$?
  check "$* -> status 1 (got $status)" test $status -eq 1
  check "$* -> \"$message\"" grep -qF -- "$message" "$tmp/err"
}
expect_error "Nothing to race" --exit-after-race
expect_error "Nothing to race" --exit-after-race --tics 1000000
expect_error "can't open $tmp/none" --race H --drive "$tmp/none"
expect_error "--drive rides in a race" --drive follow
printf '0 clutch=1\n5 wheelie=1\n' >"$tmp/bad"
expect_error "unknown control 'wheelie'" --race H --drive "$tmp/bad"

wait $paced
status=$?
elapsed=$(( $(date +%s) - start ))
echo "paced race: $elapsed s"
check "the example command exits 0 (got $status)" test $status -eq 0
check "the example command finishes the race" grep -q "^ 1\. slot 0 #999: 2 laps" "$tmp/paced.out"
check "the example command ran paced, not warped" test $elapsed -ge 100
check "the paced race printed what the warped one did" cmp -s "$tmp/paced.out" "$tmp/out1"
paced_results=$(find "$tmp/paced" -name results.txt | head -1)
check "results.txt in the home folder after the paced race" test -n "$paced_results"

exit $fail
