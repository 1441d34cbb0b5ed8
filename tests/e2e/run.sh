#!/usr/bin/env bash
# Runs the tool on each case under tests/e2e/cases and compares stdout, stderr and the exit
# code exactly. A case is a folder with `args` (one argument a line, paths relative to the
# repository root), `stdout`, `stderr` and `code`, and optionally `stdin`, which reaches the
# tool through a pipe. The tool runs under the name "cuekit".
set -u
tool="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
pass=0 fail=0
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
for dir in tests/e2e/cases/*/; do
  name="$(basename "$dir")"
  args=()
  if [ -s "$dir/args" ]; then mapfile -t args < "$dir/args"; fi
  if [ -f "$dir/stdin" ]; then
    cat "$dir/stdin" | (exec -a cuekit "$tool" "${args[@]}") >"$tmp/out" 2>"$tmp/err"
  else
    (exec -a cuekit "$tool" "${args[@]}") </dev/null >"$tmp/out" 2>"$tmp/err"
  fi
  code=$?
  ok=1
  cmp -s "$tmp/out" "$dir/stdout" || { ok=0; echo "[$name] stdout differs:"; diff "$dir/stdout" "$tmp/out" | head -20; }
  cmp -s "$tmp/err" "$dir/stderr" || { ok=0; echo "[$name] stderr differs:"; diff "$dir/stderr" "$tmp/err" | head -20; }
  [ "$code" = "$(cat "$dir/code")" ] || { ok=0; echo "[$name] exit code $code, expected $(cat "$dir/code")"; }
  if [ $ok = 1 ]; then pass=$((pass + 1)); else fail=$((fail + 1)); fi
done
echo "e2e: $pass passed, $fail failed"
[ $fail = 0 ]
