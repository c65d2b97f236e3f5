#!/bin/bash
# What a first start can meet: every failure that ends the program says why
# on standard error (not only in the log), and a home folder that cannot be
# written gives one warning while the game runs on.
set -u
BUILD=$1
SRC=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/home
unset KORB_LOGFILE TW_HOME KORB_OPTIONS
export SDL_AUDIODRIVER=dummy
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fail=0
check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; cat "$tmp/err"; fi
}

# A home folder that cannot be made (its parent is a file): one warning, and
# the run goes on to its end.
touch "$tmp/file"
XDG_DATA_HOME=$tmp/file "$BUILD/tarnwick" --headless --tics 64 >"$tmp/out" 2>"$tmp/err"
status=$?
check "unwritable home: the run ends normally (status $status)" test $status -eq 0
check "unwritable home: one warning naming the folder" \
  test "$(grep -c "Warning: can't write to the home folder $tmp/file/Tarnwick/" "$tmp/err")" -eq 1
check "unwritable home: nothing else on standard error" test "$(wc -l <"$tmp/err")" -eq 1
"$BUILD/tarnwick" --headless --tics 4 >"$tmp/out" 2>"$tmp/err"
check "a writable home gives no warning" test ! -s "$tmp/err"

# No display at all: the window cannot be opened (SDL's invisible last-resort
# drivers would leave a game running that nobody sees).
timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$BUILD/tarnwick" \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "no display: status 1 (got $status)" test $status -eq 1
check "no display: the reason on standard error" \
  grep -qF "Can't open the window: Can't start video: no display" "$tmp/err"
timeout 60 env -u DISPLAY -u WAYLAND_DISPLAY SDL_VIDEODRIVER=x11 "$BUILD/tarnwick" \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "no X display: status 1 (got $status)" test $status -eq 1
check "no X display: SDL's reason on standard error" \
  grep -qF "Can't open the window: Can't start video: x11 not available" "$tmp/err"

if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
  echo "SKIP: the runs with a display need xvfb-run and xdotool (scripts/deps.sh installs them)"
  exit $fail
fi
xvfb() { xvfb-run -a -s "-screen 0 1280x720x24" "$@"; }

# A GL context of a version no driver makes.
xvfb "$BUILD/tarnwick" --glversion 9.9core >"$tmp/out" 2>"$tmp/err"
status=$?
check "no such GL context: status 1 (got $status)" test $status -eq 1
check "no such GL context: the reason on standard error" \
  grep -qF "Can't open the window: Couldn't create an OpenGL 9.9 core context" "$tmp/err"

# An old GL (the log side is window_close.sh's).
MESA_GL_VERSION_OVERRIDE=3.0 xvfb "$BUILD/tarnwick" --glversion 3.0compatibility \
  >"$tmp/out" 2>"$tmp/err"
status=$?
check "old GL: status 1 (got $status)" test $status -eq 1
check "old GL: the reason and the version found on standard error" \
  grep -qE "^OpenGL version too old: 3.1 or later is needed \(3\.0" "$tmp/err"

# No game data with a display: standard error has the text at once, also
# while a message box waits for OK (Return dismisses it). Where the box
# cannot be shown (an X server without fonts) the log says so and the run
# ends at once.
mkdir -p "$tmp/bare"
cp "$BUILD/tarnwick" "$tmp/bare/"
cat >"$tmp/box.sh" <<'RUN'
XDG_DATA_HOME=$1/empty "$1/bare/tarnwick" >"$1/out" 2>"$1/err" &
pid=$!
log=$1/empty/Tarnwick/lastlog.txt
for i in $(seq 300); do
  box=$(xdotool search --name '^Problem starting Tarnwick$' 2>/dev/null | head -1)
  [ -n "$box" ] && break
  kill -0 $pid 2>/dev/null || break
  sleep 0.1
done
if [ -n "$box" ]; then
  grep -qF "Can't find game data" "$1/err" ||
    { echo "FAIL: not on standard error while the box shows"; kill $pid; wait $pid; exit 3; }
  sleep 0.5
  xdotool key --window "$box" Return
  for i in $(seq 100); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then
    echo "FAIL: Return did not dismiss the box"; kill $pid; wait $pid; exit 4
  fi
  echo "ok: the message box showed and Return dismissed it"
elif grep -qF "Can't show a message box" "$log"; then
  echo "note: no message box can be shown on this X server: $(grep -F "Can't show" "$log" | cut -d' ' -f2-)"
else
  echo "FAIL: neither a message box nor a reason why not"; kill $pid; wait $pid; exit 5
fi
wait $pid
RUN
xvfb bash "$tmp/box.sh" "$tmp"
status=$?
check "no game data with a display: status 1 (got $status)" test $status -eq 1
check "no game data with a display: the message on standard error" \
  grep -qF "Problem starting Tarnwick: Can't find game data" "$tmp/err"
exit $fail
