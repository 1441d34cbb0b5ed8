#!/usr/bin/env bash
# Installs everything needed to build, test and benchmark cuekit on Debian bookworm.
# Idempotent: packages already present are left alone. Must run as root (or via sudo).
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

need=()
for p in g++ clang clang-tidy cppcheck libclang-rt-14-dev cmake ninja-build pkg-config libgtest-dev libbenchmark-dev make \
         python3 python3-jsonschema libuchardet-dev; do
  dpkg -s "$p" >/dev/null 2>&1 || need+=("$p")
done
if ! dpkg -s libyyjson-dev >/dev/null 2>&1; then need+=(libyyjson-dev); fi
[ ${#need[@]} -eq 0 ] && exit 0

# yyjson is not in bookworm; trixie's package installs cleanly. A low pin keeps every other
# package on bookworm.
if [[ " ${need[*]} " == *" libyyjson-dev "* ]] && ! apt-cache policy libyyjson-dev 2>/dev/null | grep -q trixie; then
  if ! grep -rqs trixie /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "deb http://deb.debian.org/debian trixie main" | $SUDO tee /etc/apt/sources.list.d/trixie.list >/dev/null
  fi
  printf 'Package: *\nPin: release n=trixie\nPin-Priority: 100\n' | $SUDO tee /etc/apt/preferences.d/trixie-low >/dev/null
fi

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
if ! dpkg -s libyyjson-dev >/dev/null 2>&1; then
  $SUDO apt-get install -y -qq -t trixie --no-install-recommends libyyjson-dev >/dev/null
fi
