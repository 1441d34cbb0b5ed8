#!/usr/bin/env bash
# The README's sample outputs must be what the tool prints: each block after a marker
# "<!-- listing: FILE -->" or "<!-- json: FILE -->" is compared with the tool's output.
set -euo pipefail
tool="$1"
root="$(cd "$(dirname "$0")/../.." && pwd)"
cd "$root"
checked=0
while IFS= read -r marker; do
  kind="$(sed -E 's/<!-- ([a-z]+): .*/\1/' <<<"$marker")"
  file="$(sed -E 's/<!-- [a-z]+: (.*) -->/\1/' <<<"$marker")"
  want="$(awk -v m="$marker" '$0 == m {found=1; next} found && /^```$/ {n++; if (n == 2) exit; next} found && n == 1 {print}' README.md)"
  if [ "$kind" = json ]; then got="$("$tool" --json "$file")"; else got="$("$tool" "$file")"; fi
  if [ "$want" != "$got" ]; then
    echo "README block for $kind $file differs from the tool's output:"
    diff <(printf '%s\n' "$want") <(printf '%s\n' "$got") || true
    exit 1
  fi
  checked=$((checked + 1))
done < <(grep -E '^<!-- (listing|json): .* -->$' README.md)
# The usage synopsis in the README is the tool's own.
"$tool" --help 2>&1 | sed 1d | while IFS= read -r line; do
  grep -qF -- "$line" README.md || { echo "README lacks usage line: $line"; exit 1; }
done
# The C and C++ examples in the README compile against the public headers.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
awk '/^```c$/ {on=1; next} /^```$/ {on=0} on' README.md > "$scratch/readme.c"
awk '/^```cpp$/ {on=1; next} /^```$/ {on=0} on' README.md > "$scratch/readme.cpp"
[ -s "$scratch/readme.c" ] && [ -s "$scratch/readme.cpp" ] || { echo "README lacks its C or C++ example"; exit 1; }
cc -std=c11 -Wall -Werror -fsyntax-only -I include "$scratch/readme.c"
c++ -std=c++20 -Wall -Werror -fsyntax-only -I include "$scratch/readme.cpp"

# The man page names every format and exit code the tool knows.
for fmt in $("$tool" --help 2>&1 | sed -n 's/^  FMT: //p' | tr '|' ' '); do
  grep -qw -- "$fmt" docs/cuekit.1 || { echo "man page lacks format $fmt"; exit 1; }
done
for code in 0 1 2; do grep -qx -- "$code" docs/cuekit.1 || { echo "man page lacks exit code $code"; exit 1; }; done
echo "readme: $checked sample outputs match"
[ "$checked" -gt 0 ]
