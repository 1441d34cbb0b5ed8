#!/usr/bin/env bash
# Installs everything needed to build, test and benchmark cuekit on Debian bookworm.
# Idempotent: packages already present are left alone. Must run as root (or via sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=()
for p in g++ clang clang-tidy cppcheck libclang-rt-14-dev cmake ninja-build pkg-config libgtest-dev libbenchmark-dev make \
         python3 python3-jsonschema python3-dev pybind11-dev python3-pytest python3-dask python3-distributed \
         python3-srt python3-webvtt libuchardet-dev ffmpeg fonts-dejavu-core python3-pip python3-venv; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
# Not in bookworm, or too old there; trixie's packages install cleanly. yyjson is for the tests
# only; scikit-build-core builds the Python wheel.
from_trixie=()
for p in libyyjson-dev python3-pysubs2 python3-scikit-build-core python3-packaging; do
  dpkg -s "$p" >/dev/null 2>&1 || from_trixie+=("$p")
done
# Bookworm's python3-packaging 23 lacks what scikit-build-core calls.
packaging="$(dpkg-query -W -f='${Version}' python3-packaging 2>/dev/null || true)"
if [ -n "$packaging" ] && dpkg --compare-versions "$packaging" lt 25; then from_trixie+=(python3-packaging); fi
[ ${#need[@]} -eq 0 ] && [ ${#from_trixie[@]} -eq 0 ] && exit 0

# A low pin keeps every other package on bookworm.
if [ ${#from_trixie[@]} -gt 0 ] && ! apt-cache policy "${from_trixie[0]}" 2>/dev/null | grep -q trixie; then
  if ! grep -rqs trixie /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "deb http://deb.debian.org/debian trixie main" | $SUDO tee /etc/apt/sources.list.d/trixie.list >/dev/null
  fi
  printf 'Package: *\nPin: release n=trixie\nPin-Priority: 100\n' | $SUDO tee /etc/apt/preferences.d/trixie-low >/dev/null
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
if [ ${#need[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
if [ ${#from_trixie[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq -t trixie --no-install-recommends "${from_trixie[@]}" >/dev/null
fi
