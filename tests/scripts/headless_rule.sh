#!/bin/bash
# The simulation (core, terrain, bike, race, net, script) stays headless: no
# file of it includes an SDL, EGL or GL header, or a header of the layers
# that stand on them (platform, gfx, menu, app); no library of it links
# SDL, EGL or GL, or those layers' libraries, however indirectly.
set -u
BUILD=$1
SRC=$2
SIMULATION=(core terrain bike race net script)
fail=0

# Includes, as written in every file of the folders.
cd "$SRC" || exit 1
bad=$(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][[:space:]]*(SDL|EGL/|GL/|GLES|KHR/|GLFW/|platform/|gfx/|menu/|app/)' \
  "${SIMULATION[@]}" 2>/dev/null)
if [ -n "$bad" ]; then
  echo "FAIL: simulation files include SDL, GL or a layer above them:"
  echo "$bad"
  fail=1
else
  echo "ok: no simulation file includes SDL, EGL, GL, platform, gfx, menu or app headers"
fi

# What each library links, as the build resolved it.
links=$BUILD/tests/scripts/headless_links.txt
if [ ! -s "$links" ]; then
  echo "FAIL: $links is missing (configure the build again)"
  exit 1
fi
forbidden_name() {  # the library name of a link item: SDL2, EGL, GL, GLESv2...
  local n=${1##*/}
  n=${n##*::}
  n=${n#-l}
  n=${n#lib}
  n=${n%%.*}
  [[ $n =~ ^(SDL.*|EGL|GL|GLX|GLU|GLES.*|OpenGL)$ || $1 =~ ^tw_(platform|gfx|menu|app)$ ]]
}
while IFS= read -r line; do
  lib=${line%%:*}
  found=""
  for item in ${line#*:}; do
    if forbidden_name "$item"; then found+=" $item"; fi
  done
  if [ -n "$found" ]; then
    echo "FAIL: $lib links$found"
    fail=1
  else
    echo "ok: $lib links no SDL, GL or drawing library"
  fi
done <"$links"

# What a program of each library loads at run time.
for lib in "${SIMULATION[@]}"; do
  probe=$BUILD/tests/scripts/headless_probe_tw_$lib
  if [ ! -x "$probe" ]; then
    echo "FAIL: $probe was not built"
    fail=1
    continue
  fi
  loaded=$(ldd "$probe" | grep -E 'lib(SDL2|EGL|GL|GLX|GLU|GLES[^ ]*|OpenGL)[.-]')
  if [ -n "$loaded" ]; then
    echo "FAIL: a program of tw_$lib loads:"
    echo "$loaded"
    fail=1
  else
    echo "ok: a program of tw_$lib loads no SDL or GL library"
  fi
done
exit $fail
