#!/usr/bin/env bash
# Output files of the converting tool: -o writes the whole text or nothing, never over an input;
# --out-dir names one file per input and never lets two inputs share one.
set -u
tool="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
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

# No output replaces an input of the run, read already or not, nor an earlier output, however
# the folder is spelled. Each row: name, folder, arguments after --to srt --out-dir FOLDER,
# the file that must keep its text (relative to $tmp/d) and that text.
mkdir -p "$tmp/d/a" "$tmp/d/b" "$tmp/d/w" "$tmp/d/od" "$tmp/d/od2"
printf 'WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nfrom vtt\n' >"$tmp/d/ep.vtt"
printf '1\n00:00:01,000 --> 00:00:02,000\nfrom srt\n' | tee "$tmp/d/ep.srt" "$tmp/d/a/x.srt" "$tmp/d/w/x.srt" >/dev/null
cp "$tmp/d/ep.vtt" "$tmp/d/b/x.srt"
cp "$tmp/d/ep.vtt" "$tmp/d/w/x.vtt"
while IFS='|' read -r name dir args keep text; do
  # shellcheck disable=SC2086
  check "$name" 1 bash -c "cd '$tmp/d' && exec '$tool' --to srt --out-dir $dir $args"
  grep -q "$text" "$tmp/d/$keep" || { echo "[$name] $keep lost its text"; fail=1; }
done <<'ROWS'
another input, named later|.|ep.vtt ep.srt|ep.srt|from srt
another input, in a walked folder|.|.|ep.srt|from srt
same name, relative folder|od|a/x.srt b/x.srt|od/x.srt|from srt
same name, walked side by side|od2|w|od2/x.srt|from srt
ROWS
check "the input itself" 1 bash -c "cd '$tmp/d' && exec '$tool' --to srt --out-dir . ep.srt ep.vtt"
grep -qx "ep.srt: refusing to overwrite the input" "$tmp/err" || { echo "[the input itself] message: $(cat "$tmp/err")"; fail=1; }
check "--out-dir missing" 1 "$tool" --to srt --out-dir "$tmp/none" "$tmp/a.srt" "$tmp/a.vtt"
[ "$(wc -l <"$tmp/err")" = 1 ] || { echo "[--out-dir missing] not one message: $(cat "$tmp/err")"; fail=1; }

# -o onto a link whose file does not exist yet writes that file and keeps the link.
ln -s made.srt "$tmp/dangling.srt"
check "-o onto a dangling link" 0 "$tool" "$tmp/a.vtt" -o "$tmp/dangling.srt"
[ -L "$tmp/dangling.srt" ] && [ -s "$tmp/made.srt" ] || { echo "[-o onto a dangling link] the link was replaced"; fail=1; }
[ $fail = 0 ] && echo "convert files: all cases pass"
exit $fail
