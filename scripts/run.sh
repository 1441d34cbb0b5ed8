#!/usr/bin/env bash
# Sets up what is missing, builds the tool (Release) if needed and runs it with the given
# arguments; with none, on the sample SubRip file.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/install-deps.sh
if [ ! -f build/build.ninja ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
ninja -C build cuekit_tool >/dev/null
if [ $# -eq 0 ]; then set -- examples/sample.srt; fi
exec build/cuekit "$@"
