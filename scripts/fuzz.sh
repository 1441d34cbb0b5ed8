#!/usr/bin/env bash
# Builds the libFuzzer harnesses (build-fuzz, clang, ASan + UBSan) and runs each one for the
# given number of seconds (default 60) on its seed corpus with the format dictionary.
# New inputs go to fuzz/corpus-work/<harness> (not committed); crashes, leaks and time-outs
# are copied to fuzz/findings/ and make the script fail.
#   scripts/fuzz.sh [seconds] [harness...]     harnesses: parse detect decode write stream
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
seconds="${1:-60}"
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -eq 0 ] && harnesses=(parse detect decode write stream)

if ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends libclang-rt-14-dev >/dev/null
fi

CC=clang CXX=clang++ cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build-fuzz -j2 $(printf 'fuzz_%s ' "${harnesses[@]}") >/dev/null

mkdir -p fuzz/findings
status=0
for h in "${harnesses[@]}"; do
  work="fuzz/corpus-work/$h"
  artifacts="$(mktemp -d)"
  mkdir -p "$work"
  echo "== fuzz_$h for ${seconds}s"
  # Leak checking stays on: a leak is a finding like a crash.
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      "build-fuzz/fuzz_$h" -dict=fuzz/cuekit.dict -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
      -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/" \
      "$work" "fuzz/corpus/$h" >"$artifacts/log" 2>&1; then
    status=1
    echo "fuzz_$h found a problem:"
    grep -E 'ERROR|invariant|SUMMARY' "$artifacts/log" | head -20 || true
  fi
  grep -E '^stat::(number_of_executed_units|new_units_added)|cov: ' "$artifacts/log" | tail -3
  for f in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-*; do
    [ -e "$f" ] || continue
    cp "$f" "fuzz/findings/$h-$(basename "$f")"
    echo "  kept fuzz/findings/$h-$(basename "$f")"
  done
  rm -rf "$artifacts"
done
exit "$status"
