#!/bin/bash
# The title screen in a real window under Xvfb: "--width 800 --height 600"
# on a larger screen gives an 800x600 window, not the whole screen. A
# screenshot is kept in the build folder (title-800x600.png) and probed for
# the sky above and the ground below.
set -u
BUILD=$1
SRC=$2
if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null ||
   ! command -v import >/dev/null; then
  echo "SKIP: xvfb-run, xdotool or ImageMagick is missing (scripts/deps.sh installs them)"
  exit 0
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/home
unset KORB_LOGFILE TW_HOME
export SDL_AUDIODRIVER=dummy KORB_OPTIONS='[messagebox:no]'
# The display libraries keep allocations past exit; the headless tests
# check our own leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
shot=$BUILD/title-800x600.png
rm -f "$shot"

cat >"$tmp/run.sh" <<'RUN'
"$1/tarnwick" --width 800 --height 600 >"$2/out" 2>"$2/err" &
pid=$!
win=$(timeout 30 xdotool search --sync --name '^Tarnwick$' | head -1)
if [ -z "$win" ]; then
  echo "FAIL: no window appeared"; kill $pid; wait $pid; exit 2
fi
sleep 3  # let the title screen settle
xdotool getwindowgeometry "$win" | grep Geometry >"$2/geometry"
import -window "$win" "$3"
kill $pid
wait $pid
exit 0
RUN
xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/run.sh" "$BUILD" "$tmp" "$shot"
if [ ! -s "$shot" ]; then
  echo "FAIL: no screenshot"; cat "$tmp/err"; exit 1
fi
if ! grep -q "Geometry: 800x600$" "$tmp/geometry"; then
  echo "FAIL: the window is not 800x600 on a 1280x720 screen: $(cat "$tmp/geometry")"; exit 1
fi
size=$(identify -format '%wx%h' "$shot")
if [ "$size" != "800x600" ]; then
  echo "FAIL: screenshot is $size, not 800x600"; exit 1
fi
# Average colour of a band: "r g b" in 0..255.
band() {
  convert "$shot" -crop "$1" +repage -resize 1x1\! -depth 8 -format '%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]' info:
}
read -r r g b <<<"$(band 800x40+0+0)"
if [ "$b" -le "$r" ]; then
  echo "FAIL: the top of the title screen is not sky ($r $g $b)"; exit 1
fi
read -r r2 g2 b2 <<<"$(band 800x40+0+560)"
if [ "$r2" -le "$b2" ]; then
  echo "FAIL: the bottom of the title screen is not ground ($r2 $g2 $b2)"; exit 1
fi
colours=$(convert "$shot" -format '%k' info:)
if [ "$colours" -lt 50 ]; then
  echo "FAIL: the title screen has only $colours colours"; exit 1
fi
echo "title screen: sky $r $g $b, ground $r2 $g2 $b2, $colours colours; kept in $shot"
