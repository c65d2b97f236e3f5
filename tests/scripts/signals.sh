#!/bin/bash
# Ctrl-C (SIGINT) and SIGTERM end the program through its orderly shutdown,
# headless and with a window: status 0 and every shutdown text in the log.
set -u
BUILD=$1
SRC=$2
. "$SRC/tests/scripts/log_order.inc"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
unset KORB_LOGFILE TW_HOME
export SDL_AUDIODRIVER=dummy KORB_OPTIONS='[messagebox:no]'
# The display libraries keep allocations past exit; the headless tests check
# our own leaks.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
fail=0
check() {  # check DESCRIPTION CONDITION...
  local what=$1
  shift
  if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; fail=1; fi
}

# Starts the game (a background job of a script ignores SIGINT unless told
# otherwise), waits until its log shows the main loop is near, sends the
# signal, and expects status 0 with the shutdown complete.
# signal_run NAME SIGNAL [ARGS...]
signal_run() {
  local name=$1 sig=$2
  shift 2
  export XDG_DATA_HOME=$tmp/$name
  env --default-signal=INT "$BUILD/tarnwick" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err" &
  local pid=$! log=$XDG_DATA_HOME/Tarnwick/lastlog.txt
  for i in $(seq 300); do
    grep -qF "Tarnwick version" "$log" 2>/dev/null && break
    sleep 0.1
  done
  sleep 2  # into the main loop
  kill -"$sig" $pid
  local status
  for i in $(seq 300); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then
    echo "FAIL: $name: still running 30 s after SIG$sig"
    kill -KILL $pid
    fail=1
  fi
  wait $pid
  status=$?
  check "$name: SIG$sig ends with status 0 (got $status)" test $status -eq 0
  check "$name: the log holds the whole shutdown" \
    log_in_order "$log" "${STARTUP_TEXTS[@]}" "${SHUTDOWN_TEXTS[@]}"
}

signal_run headless-term TERM --headless
signal_run headless-int INT --headless

if command -v xvfb-run >/dev/null; then
  # The same with a window: the signal must not bypass the loop either.
  cat >"$tmp/windowed.sh" <<'RUN'
. "$1"
signal_run "$2" "$3"
exit $fail
RUN
  declare -f check signal_run log_in_order >"$tmp/functions.sh"
  {
    echo "BUILD='$BUILD' tmp='$tmp' fail=0"
    declare -p STARTUP_TEXTS SHUTDOWN_TEXTS
  } >>"$tmp/functions.sh"
  for sig in INT TERM; do
    xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/windowed.sh" "$tmp/functions.sh" \
      "window-${sig,,}" $sig || fail=1
  done
else
  echo "SKIP: windowed runs need xvfb-run (scripts/deps.sh installs it)"
fi
exit $fail
