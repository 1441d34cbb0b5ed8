#!/usr/bin/env bash
# The README's line, against the module as `cmake --install --component python` puts it into a
# scratch prefix (the real prefix, /usr/local, is where Debian's python3 looks by itself).
set -euo pipefail
build="$1" python="$2" site="$3"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --component python --prefix "$work" >/dev/null
test -f "$work/$site/cuekit.pyi"
got="$(PYTHONPATH="$work/$site" PYTHONDONTWRITEBYTECODE=1 "$python" -c \
  "import cuekit; print(cuekit.parse_file('examples/sample.srt').cues[0].lines)")"
[ "$got" = "['Where were you last night?']" ] || { echo "unexpected: $got"; exit 1; }
