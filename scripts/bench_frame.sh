#!/bin/bash
# The frame benchmark: the real program under Xvfb at 1280x720 racing ten
# robots on the default track, following one in the rider view for half of
# SECONDS (default 60) and in the chase view for the rest. It prints frames
# per second, the frame time's median, 90th and 99th percentiles and worst,
# and triangles, model polygons, billboards and texture changes per frame.
# A second run finishes the GL at every checkpoint of the frame, so each
# pass's rasterisation counts in that pass, and prints the average ms of
# each pass.
#
#   scripts/bench_frame.sh [SECONDS]        (BUILD=build-dir to choose the build)
set -eu
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}
SECONDS_RUN=${1:-60}
for tool in xvfb-run xdotool python3; do
  command -v $tool >/dev/null || { echo "$tool is missing (scripts/deps.sh installs it)"; exit 1; }
done
[ -x "$BUILD/tarnwick" ] || { echo "build the game first: cmake --build $BUILD --target tarnwick data"; exit 1; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
export XDG_DATA_HOME=$tmp/home SDL_AUDIODRIVER=dummy KORB_OPTIONS='[messagebox:no]'
unset KORB_LOGFILE TW_HOME

cat >"$tmp/run.sh" <<'RUN'
build=$1 stats=$2 half=$3
cd "$build"
TW_FRAME_STATS=$stats ./tarnwick --width 1280 --height 720 --track tracks/hollow_creek \
  --race RRRRRRRRRR --laps 100 >/dev/null 2>&1 &
pid=$!
win=$(timeout 60 xdotool search --sync --name "^Tarnwick$" 2>/dev/null | head -1)
# The clock starts with the first drawn frame of the race.
for _ in $(seq 600); do [ -s "$stats" ] && break; sleep 0.1; done
sleep "$half"
xdotool keydown --window "$win" Tab; sleep 0.2; xdotool keyup --window "$win" Tab
sleep "$half"
kill $pid
wait $pid 2>/dev/null
exit 0
RUN

half=$(python3 -c "print($SECONDS_RUN / 2)")
build_dir=$(cd "$BUILD" && pwd)
echo "frames: $SECONDS_RUN s at 1280x720, ten robots on tracks/hollow_creek ($(nproc) cores)"
xvfb-run -a -s "-screen 0 1280x720x24" bash "$tmp/run.sh" "$build_dir" "$tmp/plain.txt" "$half"
TW_FRAME_STATS_FINISH=1 xvfb-run -a -s "-screen 0 1280x720x24" \
  env TW_FRAME_STATS_FINISH=1 bash "$tmp/run.sh" "$build_dir" "$tmp/passes.txt" "$half"

python3 - "$tmp/plain.txt" "$tmp/passes.txt" <<'PY'
import sys
def frames(path):
    out = []
    for line in open(path):
        f = dict(kv.split("=") for kv in line.split())
        out.append({k: float(v) for k, v in f.items()})
    return out[10:]  # the first frames warm the caches
def pct(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(p / 100 * len(xs)))]
plain = frames(sys.argv[1])
if not plain:
    print("no frames were drawn"); sys.exit(1)
ms = [f["frame"] for f in plain]
print("%d frames, %.1f frames per second" % (len(ms), 1000 * len(ms) / sum(ms)))
print("frame ms: median %.1f  p90 %.1f  p99 %.1f  worst %.1f" % (pct(ms, 50), pct(ms, 90), pct(ms, 99), max(ms)))
for view, name in ((0, "rider view"), (3, "chase view")):
    v = [f for f in plain if int(f["view"]) == view]
    if v:
        print("  %s: %d frames, median %.1f ms" % (name, len(v), pct([f["frame"] for f in v], 50)))
n = len(plain)
print("per frame: triangles %.0f  model polygons %.0f  billboards %.0f  texture changes %.0f  ground polygons %.0f" % tuple(
    sum(f[k] for f in plain) / n for k in ("tri", "poly", "bb", "tex", "ground")))
passes = frames(sys.argv[2])
if passes:
    names = ["js", "rendertex", "drawterrain", "drawbikes", "drawstatues", "drawbillboards", "drawghosts", "draw", "flip"]
    print("with the GL finished at every checkpoint (%d frames, median frame %.1f ms):" % (
        len(passes), pct([f["frame"] for f in passes], 50)))
    print("  " + "  ".join("%s %.2f" % (k, sum(f.get(k, 0) for f in passes) / len(passes)) for k in names) + "  (ms)")
PY
