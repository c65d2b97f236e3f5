#!/usr/bin/env bash
# Installs the Debian packages the project needs, only those that are missing.
# Both ./run.sh and ./test.sh call this; the list lives here and nowhere else.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config git
  # libraries the program links
  libode-dev duktape-dev libsdl2-dev libpng-dev zlib1g-dev
  libegl-dev libgles-dev libgl-dev libegl-mesa0 libgl1-mesa-dri libgbm1
  # data generation (fonts are rasterised at build time)
  fonts-dejavu-core libfreetype-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool imagemagick netpbm gzip
  # listening to "--record-audio" files
  sox
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q || true
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
