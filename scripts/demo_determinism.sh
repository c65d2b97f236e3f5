#!/bin/bash
# A race recorded headless and replayed headless must end alike: the same
# order, laps and finished flags, every crossing within 2 tics, the same
# ground once the ruts are dug; and a replay sought back and forward in the
# middle ends as the plain replay does (bench_demo, which also measures the
# demo's size and the replay's speed).
# usage: scripts/demo_determinism.sh BUILD SLOTS [LAPS] [SEED] [ERODE]
#   SLOTS as "--race" takes them ("RRRRRRRRRRRRRRRRRRRR" for 20 robots, "H"
#   for the planned rider). DEMO_OUT=FILE keeps the recorded demo.
set -u
BUILD=${1:?build folder}
SLOTS=${2:?slots}
LAPS=${3:-3}
SEED=${4:-1}
ERODE=${5:-1}  # the ground is dug: its digest means something
here=$(dirname "$0")
. "$here/demo_compare.sh"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
drive=()
[[ $SLOTS == *H* ]] && drive=(--drive follow)
XDG_DATA_HOME=$tmp/rec "$BUILD/tarnwick" --headless --warp --seed "$SEED" \
  --track tracks/hollow_creek --race "$SLOTS" --laps "$LAPS" "${drive[@]}" --erode "$ERODE" \
  --exit-after-race \
  --record-demo >"$tmp/rec.out" 2>"$tmp/rec.err" || { echo "recording failed"; exit 1; }
demo=$(find "$tmp/rec" -name default.twdemo | head -1)
[ -n "$demo" ] || { echo "no demo written"; exit 1; }
# DEMO_OUT=FILE keeps the demo for later runs of bench_demo.
[ -n "${DEMO_OUT:-}" ] && cp "$demo" "$DEMO_OUT"
XDG_DATA_HOME=$tmp/play "$BUILD/tarnwick" --headless --warp --seed "$SEED" --exit-after-race \
  "$demo" >"$tmp/play.out" 2>"$tmp/play.err" || { echo "replay failed"; exit 1; }
fail=0
echo "recorded:"; sed -n '/^final order:/,$p' "$tmp/rec.out"
echo "replayed:"; sed -n '/^final order:/,$p' "$tmp/play.out"
demo_same_order "$tmp/rec.out" "$tmp/play.out" 2 && echo "ok: same order, laps, finished" || fail=1
r1=$(find "$tmp/rec" -name results.txt | head -1)
r2=$(find "$tmp/play" -name results.txt | head -1)
if [ -n "$r1" ] && [ -n "$r2" ]; then
  demo_same_crossings "$r1" "$r2" 2 && echo "ok: crossings within 2 tics" || fail=1
else
  echo "no results.txt to compare"; fail=1
fi
d1=$(demo_digest "$tmp/rec.out"); d2=$(demo_digest "$tmp/play.out")
[ -n "$d1" ] && [ "$d1" = "$d2" ] && echo "ok: same ground $d1" || { echo "ground differs: $d1 $d2"; fail=1; }
"$BUILD/bench/bench_demo" "$demo" 20 || fail=1
exit $fail
