#!/bin/bash
# The program with a real window under Xvfb: it starts, shows its title
# screen, and a close request from the window system ends it with status 0
# after the full shutdown.
set -u
BUILD=$1
SRC=$2
if ! command -v xvfb-run >/dev/null || ! command -v xdotool >/dev/null; then
  echo "SKIP: xvfb-run or xdotool is not installed (scripts/deps.sh installs them)"
  exit 0
fi
. "$SRC/tests/scripts/log_order.inc"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/home
unset KORB_LOGFILE TW_HOME
export SDL_AUDIODRIVER=dummy
# The display libraries (D-Bus, Mesa's driver) keep allocations past exit
# that a sanitizer build would report; the headless test checks our own.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

# Sends WM_DELETE_WINDOW to a window, as a window manager's close button does
# (Xvfb has no window manager).
cat >"$tmp/close.c" <<'C'
#include <X11/Xlib.h>
#include <stdlib.h>
int main(int argc, char **argv) {
  Display *d = XOpenDisplay(NULL);
  if (!d || argc != 2) return 1;
  XEvent e = {0};
  e.xclient.type = ClientMessage;
  e.xclient.window = strtoul(argv[1], NULL, 10);
  e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = XInternAtom(d, "WM_DELETE_WINDOW", False);
  e.xclient.data.l[1] = CurrentTime;
  XSendEvent(d, e.xclient.window, False, NoEventMask, &e);
  XCloseDisplay(d);
  return 0;
}
C
if ! cc -o "$tmp/close" "$tmp/close.c" -lX11; then
  echo "FAIL: cannot build the close helper"
  exit 1
fi

cat >"$tmp/run.sh" <<'RUN'
"$1/tarnwick" >"$2/out" 2>"$2/err" &
pid=$!
win=$(timeout 30 xdotool search --sync --name '^Tarnwick$' | head -1)
if [ -z "$win" ]; then
  echo "FAIL: no window appeared"
  kill $pid
  wait $pid
  exit 2
fi
sleep 2  # some frames of the title screen
"$2/close" "$win"
for i in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
if kill -0 $pid 2>/dev/null; then
  echo "FAIL: still running 30 s after the close request"
  kill $pid
  wait $pid
  exit 3
fi
wait $pid
RUN
xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/run.sh" "$BUILD" "$tmp"
status=$?
fail=0
if [ $status -ne 0 ]; then
  echo "FAIL: status $status"
  cat "$tmp/err"
  fail=1
fi
log=$(find "$tmp/home" -name lastlog.txt | head -1)
if [ -z "$log" ]; then
  echo "FAIL: no log"
  exit 1
fi
log_in_order "$log" "${STARTUP_TEXTS[@]}" "GL_VERSION:" "${SHUTDOWN_TEXTS[@]}" || fail=1
[ $fail -eq 0 ] && echo "ok: window opened, closed on request, shut down in order"

# A context older than 3.1: logged, the second half of the shutdown, status 1.
rm -rf "$tmp/home"
MESA_GL_VERSION_OVERRIDE=3.0 xvfb-run -a -s "-screen 0 1280x720x24" \
  "$BUILD/tarnwick" --glversion 3.0compatibility >"$tmp/out" 2>"$tmp/err"
status=$?
log=$(find "$tmp/home" -name lastlog.txt | head -1)
if [ $status -ne 1 ]; then
  echo "FAIL: old GL gave status $status"
  fail=1
elif ! log_in_order "$log" "GL_VERSION: 3.0" "OpenGL version too old" "Closing audio" \
    "Writing config files" "Deleting models"; then
  fail=1
elif grep -qF "Deallocating bikes" "$log"; then
  echo "FAIL: old GL ran the first half of the shutdown"
  fail=1
else
  echo "ok: old GL refused with status 1"
fi
exit $fail
