#!/usr/bin/env bash
# Output files of the converting tool: -o writes the whole text or nothing, never over an input;
# --out-dir names one file per input and never lets two inputs share one.
set -u
tool="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
fail=0
check() { # check NAME EXPECTED_CODE COMMAND... : the exit code, and no temporary file left behind
  local name="$1" want="$2"
  shift 2
  "$@" >"$tmp/.stdout" 2>"$tmp/err"
  local code=$?
  if [ "$code" != "$want" ]; then echo "[$name] exit $code, expected $want: $(cat "$tmp/err")"; fail=1; fi
  # Temporary files are named after their destination plus six characters.
  if find "$tmp" -name '*.*.??????' | grep -q .; then echo "[$name] a temporary file was left"; fail=1; fi
}
cp "$root/examples/sample.srt" "$tmp/a.srt"
cp "$root/examples/sample.vtt" "$tmp/a.vtt"

check "-o writes the file" 0 "$tool" "$tmp/a.srt" -o "$tmp/a.ass"
cmp -s "$tmp/a.ass" <("$tool" "$tmp/a.srt" --to ass) || { echo "[-o] file differs from standard output"; fail=1; }
check "-o over the input" 1 "$tool" "$tmp/a.srt" --to srt -o "$tmp/a.srt"
cmp -s "$tmp/a.srt" "$root/examples/sample.srt" || { echo "[-o over the input] the input changed"; fail=1; }
check "-o through a link to the input" 1 bash -c "ln -s a.srt '$tmp/link.srt' && '$tool' '$tmp/a.srt' -o '$tmp/link.srt'"
check "-o without a target" 2 "$tool" "$tmp/a.srt" -o "$tmp/out.unknown"
check "-o with two inputs" 2 "$tool" "$tmp/a.srt" "$tmp/a.vtt" --to srt -o "$tmp/b.srt"

# A write that fails half-way (file size limit) leaves neither the file nor a temporary one.
big="$tmp/big.srt"
for i in $(seq 1 3000); do printf '%d\n00:00:01,000 --> 00:00:02,000\nline %d of a longer file\n\n' "$i" "$i"; done >"$big"
check "failed write" 1 bash -c "trap '' XFSZ; ulimit -f 16; exec '$tool' '$big' -o '$tmp/big.vtt'"
[ -e "$tmp/big.vtt" ] && { echo "[failed write] a partial file was left"; fail=1; }

mkdir -p "$tmp/out"
check "--out-dir, two names alike" 1 "$tool" "$tmp/a.srt" "$tmp/a.vtt" --to txt --out-dir "$tmp/out"
[ -s "$tmp/out/a.txt" ] || { echo "[--out-dir] the first input's file is missing"; fail=1; }
grep -q "refusing to overwrite the output of an earlier input" "$tmp/err" || { echo "[--out-dir] no message: $(cat "$tmp/err")"; fail=1; }
check "--out-dir without --to" 2 "$tool" "$tmp/a.srt" --out-dir "$tmp/out"
[ $fail = 0 ] && echo "convert files: all cases pass"
exit $fail
