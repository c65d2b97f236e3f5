#!/bin/bash
# The first playable race in a real window under Xvfb at 1280x720: from the
# title, Esc then Enter starts the quick race; after the drop the keyboard
# holds the throttle (the bike waits in first gear), and the rider's eye (from
# "--print-orientation") is more than 30 ft further on 5 s later. The seed is
# fixed so that a failure can be run again.
# Screenshots of the rider and chase views are kept in the build folder
# (race-rider.png, race-chase.png) and probed. Then "--record-video" with
# "--lock-fps 30" for 3 s must give 90 well-formed P6 frames that change.
set -u
BUILD=$1
SRC=$2
if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null ||
   ! command -v import >/dev/null || ! command -v python3 >/dev/null; then
  echo "SKIP: xvfb-run, xdotool, ImageMagick or python3 is missing (scripts/deps.sh installs them)"
  exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/home
unset KORB_LOGFILE TW_HOME
export SDL_AUDIODRIVER=dummy KORB_OPTIONS='[messagebox:no]'
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
rider_shot=$BUILD/race-rider.png
chase_shot=$BUILD/race-chase.png
rm -f "$rider_shot" "$chase_shot"

cat >"$tmp/run.sh" <<'RUN'
out=$2/out
"$1/tarnwick" --width 1280 --height 720 --seed 1 --print-orientation >"$out" 2>"$2/err" &
pid=$!
win=$(timeout 30 xdotool search --sync --name '^Tarnwick$' | head -1)
if [ -z "$win" ]; then
  echo "FAIL: no window appeared"; kill $pid; wait $pid; exit 2
fi
# Race time of the last line printed (0 before any).
race_time() { tail -n 1 "$out" 2>/dev/null | sed -n 's/^t=\([0-9.]*\) .*/\1/p' | head -1; }
# Waits (at most 120 s of wall time) until the race clock reaches $1.
wait_race() {
  for _ in $(seq 1200); do
    t=$(race_time)
    if [ -n "$t" ] && python3 -c "import sys; sys.exit(0 if $t >= $1 else 1)"; then return 0; fi
    sleep 0.1
  done
  return 1
}
sleep 2
xdotool key --window "$win" Escape; sleep 0.5
xdotool key --window "$win" Escape; sleep 0.5
xdotool key --window "$win" Return
if ! wait_race 6; then echo "FAIL: the quick race did not start"; kill $pid; wait $pid; exit 3; fi
# The chase view behind the gate, then back (Tab goes on to the trackside
# view, which falls back to the rider's for the player).
xdotool key --window "$win" Tab
sleep 3
import -window "$win" "$4"
xdotool key --window "$win" Tab
# The rider's view while the grid waits: once the gate drops (between 13 and
# 15 s) the riders beside the player pass close by and may fill the bottom of
# the picture.
wait_race 12
import -window "$win" "$3"
wait_race 15.5
xdotool keydown --window "$win" x
t0=$(race_time)
tail -n 1 "$out" >"$2/start"
wait_race "$(python3 -c "print($t0 + 5)")"
tail -n 1 "$out" >"$2/end"
xdotool keyup --window "$win" x
# The screenshot key saves the race view with its HUD.
xdotool keydown --window "$win" s; sleep 0.3; xdotool keyup --window "$win" s
sleep 2
kill $pid
wait $pid
exit 0
RUN
xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/run.sh" "$BUILD" "$tmp" "$rider_shot" "$chase_shot" || {
  echo "FAIL: the windowed race"; tail -5 "$tmp/err"; exit 1; }
dist=$(python3 - "$tmp/start" "$tmp/end" <<'PY'
import re, sys
def eye(path):
    s = open(path).read()
    return [float(re.search(r'\bp%d=([-0-9.]+)' % i, s).group(1)) for i in range(3)], float(re.search(r't=([0-9.]+)', s).group(1))
(a, ta), (b, tb) = eye(sys.argv[1]), eye(sys.argv[2])
print("%.1f %.2f" % (sum((x - y) ** 2 for x, y in zip(a, b)) ** 0.5, tb - ta))
PY
)
read -r feet seconds <<<"$dist"
if ! python3 -c "import sys; sys.exit(0 if $feet > 30 and $seconds >= 5 else 1)"; then
  echo "FAIL: the rider's eye moved $feet ft in $seconds s of throttle"; exit 1
fi

# Average colour of a region: "r g b" in 0..255.
band() {
  convert "$1" -crop "$2" +repage -resize 1x1\! -depth 8 -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:
}
for shot in "$rider_shot" "$chase_shot"; do
  size=$(identify -format '%wx%h' "$shot" 2>/dev/null)
  if [ "$size" != "1280x720" ]; then echo "FAIL: $shot is '$size'"; exit 1; fi
  read -r r g b <<<"$(band "$shot" 1280x60+0+0)"
  if [ "$b" -le "$r" ]; then echo "FAIL: no sky at the top of $shot ($r $g $b)"; exit 1; fi
  # Left of the track, between the horizon and the gate (the rider's view)
  # or the grid (the chase view).
  read -r r2 g2 b2 <<<"$(band "$shot" 200x60+0+500)"
  if [ "$r2" -le "$b2" ]; then echo "FAIL: no ground at the bottom of $shot ($r2 $g2 $b2)"; exit 1; fi
  # The tach's dark face in the bottom right corner.
  read -r r3 g3 b3 <<<"$(band "$shot" 60x60+1140+580)"
  if [ $((r3 + g3 + b3)) -ge 150 ]; then echo "FAIL: no tach in $shot ($r3 $g3 $b3)"; exit 1; fi
done
own=$(find "$tmp/home" -name 'screenshot000.png' | head -1)
if [ -z "$own" ] || [ "$(identify -format '%wx%h' "$own")" != "1280x720" ]; then
  echo "FAIL: the screenshot key saved no 1280x720 screenshot000.png"; exit 1
fi
read -r r4 g4 b4 <<<"$(band "$own" 60x60+1140+580)"
if [ $((r4 + g4 + b4)) -ge 150 ]; then echo "FAIL: no HUD in the saved screenshot ($r4 $g4 $b4)"; exit 1; fi
# The followed rider stands in the middle of the chase view: its pixels
# differ from the ground beside it.
read -r cr cg cb <<<"$(band "$chase_shot" 80x120+600+300)"
read -r sr sg sb <<<"$(band "$chase_shot" 80x120+200+300)"
diff=$(( (cr > sr ? cr - sr : sr - cr) + (cg > sg ? cg - sg : sg - cg) + (cb > sb ? cb - sb : sb - cb) ))
if [ $diff -lt 40 ]; then
  echo "FAIL: no rider in the middle of the chase view ($cr $cg $cb against $sr $sg $sb)"; exit 1
fi

# Video: 3 s at a locked 30 frames per second; the orientation lines go to
# standard error then, so the stream stays whole.
cat >"$tmp/video.sh" <<'RUN'
"$1/tarnwick" --width 1280 --height 720 --race HRRRRRRRRR --laps 3 --record-video --lock-fps 30 \
  --print-orientation --tics 384 >"$2/video.ppm" 2>"$2/video.err"
RUN
xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/video.sh" "$BUILD" "$tmp"
frames=$(python3 - "$tmp/video.ppm" <<'PY'
import sys, hashlib
data = open(sys.argv[1], 'rb').read()
header = b"P6\n1280 720\n255\n"
size = 1280 * 720 * 3
pos, digests = 0, []
while pos < len(data):
    if data[pos:pos + len(header)] != header:
        print("bad header at byte %d" % pos); sys.exit(0)
    body = data[pos + len(header):pos + len(header) + size]
    if len(body) != size:
        print("short frame"); sys.exit(0)
    digests.append(hashlib.md5(body).hexdigest())
    pos += len(header) + size
print(len(digests), len(set(digests)))
PY
)
read -r count distinct <<<"$frames"
if ! grep -q '^t=' "$tmp/video.err"; then echo "FAIL: no orientation lines on standard error"; exit 1; fi
if [ "$count" != "90" ] || [ "${distinct:-0}" -lt 10 ]; then
  echo "FAIL: the video is '$frames' (90 frames that change expected)"; tail -3 "$tmp/video.err"; exit 1
fi
echo "race: $feet ft in $seconds s; sky $r $g $b, ground $r2 $g2 $b2; video $count frames, $distinct distinct;" \
     "kept $rider_shot and $chase_shot"
