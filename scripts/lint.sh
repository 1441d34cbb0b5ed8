#!/usr/bin/env bash
# Static analysis: the include layering of src/ and the front ends, then clang-tidy (checks in .clang-tidy) over
# src/, host/, tools/ and python/ with the compile commands of the g++ test build, then cppcheck over
# src/, host/, tools/, python/ and include/. Any finding fails the script. Suppress a false positive
# inline, with the reason next to it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

need=()
command -v run-clang-tidy >/dev/null 2>&1 || need+=(clang-tidy)
command -v cppcheck >/dev/null 2>&1 || need+=(cppcheck)
if [ ${#need[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if [ ! -f build-test/compile_commands.json ]; then
  cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCUEKIT_WERROR=ON \
    -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ >/dev/null
fi

echo "-- layering"
# Layers from the bottom: text (no parse state), core (state, driver, the table's shape),
# formats (the parsers, which core reaches only through the table), writers (which read
# results through a cue view). A layer includes nothing above it, and the library never
# reaches into a front end. The front ends see the library through its public headers only:
# host/ (what they share: reading files) includes neither src/ nor a front end, tools/ and
# python/ include host/ but not src/ nor each other.
inc='^[[:space:]]*#[[:space:]]*include[[:space:]]*"'
private="(\.\./)*(src/)?(text|core|formats|writers)/|(\.\./)*src/"
bad="$({
  grep -nE "$inc(core|formats|writers)/" src/text/*
  grep -nE "${inc}(formats|writers)/" src/core/*
  grep -nE "${inc}writers/" src/formats/*
  grep -rnE "$inc(\.\./)*(tools|python|host)/" src include
  grep -rnE "$inc($private|(\.\./)*(tools|python)/)" host
  grep -rnE "$inc($private|(\.\./)*python/)" tools
  grep -rnE "$inc($private|(\.\./)*tools/)" python
} || true)"
if [ -n "$bad" ]; then
  echo "$bad"
  echo "layering broken: a layer of src/ includes a header above it, the library includes a front end, or a front end includes the library's private headers or another front end"
  exit 1
fi

echo "-- clang-tidy"
# The test build's commands carry g++-only warning switches, which clang would report as unknown.
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -p build-test -quiet -extra-arg=-Wno-unknown-warning-option -j"$(nproc 2>/dev/null || echo 2)" "$root/(src|host|tools|python)/" >"$log" 2>&1; then
  grep -E 'warning:|error:' -A3 "$log" | grep -v '^Suppressed' || cat "$log"
  echo "clang-tidy found problems"
  exit 1
fi

echo "-- cppcheck"
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr --std=c++20 --quiet \
  -I include -I src -I . src host tools python include
echo "lint clean"
