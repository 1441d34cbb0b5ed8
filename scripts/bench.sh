#!/usr/bin/env bash
# End-to-end throughput and memory of the tool on generated files, next to peers that read the
# same files and a memchr line count as the floor, all measured in the same run.
#
#   scripts/bench.sh [SIZE_MIB...]      default sizes: 1 16 64 256 (or $BENCH_SIZES)
#
# Environment: BENCH_SIZES="1 16" (quick mode), BENCH_SHAPES="srt vtt ..." (default: every
# shape the generator knows), BENCH_RUNS (runs per figure, median taken; default 3),
# BENCH_TIMEOUT (seconds per run before it is killed; default 60), BENCH_PEERS=0 (skip the
# peers), BENCH_BASELINE=path/to/older/cuekit (adds its listing MB/s and peak memory, and the
# speed-up over it, measured in the same run).
#
# Builds Release in build-bench/, writes the files to bench/data/ (git-ignored; regenerated
# when the generator is newer), installs ffmpeg and libass-dev when missing (as root), and
# prints "-" for a peer that is missing or cannot read a format.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

if [ $# -gt 0 ]; then sizes=("$@"); else read -r -a sizes <<<"${BENCH_SIZES:-1 16 64 256}"; fi
runs="${BENCH_RUNS:-3}"
timeout_s="${BENCH_TIMEOUT:-60}"
build=build-bench
data=bench/data

log() { echo "bench: $*" >&2; }

# --- setup ---------------------------------------------------------------------------------
bash scripts/install-deps.sh
missing=()
command -v ffmpeg >/dev/null 2>&1 || missing+=(ffmpeg)
dpkg -s libass-dev >/dev/null 2>&1 || missing+=(libass-dev)
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  log "installing ${missing[*]}"
  if ! DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null 2>&1; then
    log "could not install ${missing[*]}; those columns will show -"
  fi
fi

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCUEKIT_BENCH=ON -DCUEKIT_TESTS=OFF >/dev/null
ninja -C "$build" -j2 cuekit_tool cuekit_gen cuekit_linecount cuekit_child_usage >/dev/null
tool="$build/cuekit"
gen="$build/bench/cuekit_gen"
usage="$build/bench/cuekit_child_usage"
floor="$build/bench/cuekit_linecount"

# The libass peer: load a script from memory and count its events.
peer_libass=""
if pkg-config --exists libass 2>/dev/null; then
  cat >"$build/peer_libass.c" <<'EOF'
#include <ass/ass.h>
#include <stdio.h>
#include <stdlib.h>
int main(int argc, char **argv) {
    if (argc != 2) return 2;
    FILE *f = fopen(argv[1], "rb");
    if (!f) return 1;
    fseek(f, 0, SEEK_END);
    long size = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *buf = malloc((size_t)size + 1);
    if (!buf) return 1;
    size_t len = fread(buf, 1, (size_t)size, f);
    fclose(f);
    ASS_Library *lib = ass_library_init();
    ASS_Track *track = ass_read_memory(lib, buf, len, NULL);
    if (!track) return 1;
    printf("%d\n", track->n_events);
    ass_free_track(track);
    ass_library_done(lib);
    free(buf);
    return 0;
}
EOF
  # shellcheck disable=SC2046
  if cc -O2 -o "$build/peer_libass" "$build/peer_libass.c" $(pkg-config --cflags --libs libass) 2>/dev/null; then
    peer_libass="$build/peer_libass"
  fi
fi
have_ffmpeg=0
command -v ffmpeg >/dev/null 2>&1 && have_ffmpeg=1
if [ "${BENCH_PEERS:-1}" = 0 ]; then have_ffmpeg=0; peer_libass=""; fi
baseline="${BENCH_BASELINE:-}"

# --- measuring -----------------------------------------------------------------------------
declare -A ext
declare -A ff_reads
all_shapes=()
while read -r name e _; do ext[$name]=$e; all_shapes+=("$name"); done < <("$gen" --list)
read -r -a shapes <<<"${BENCH_SHAPES:-${all_shapes[*]}}"
mkdir -p "$data"

# measure CMD...: prints "MBPS RSSX STATUS" for the file of $bytes bytes.
measure() {
  local st secs kib
  read -r st secs kib < <("$usage" "$runs" "$timeout_s" "$@")
  awk -v b="$bytes" -v s="$secs" -v k="$kib" -v st="$st" \
    'BEGIN { printf "%.1f %.2f %s\n", (s > 0 ? b / s / 1e6 : 0), k * 1024 / b, st }'
}
# A peer's figures, or "- -" when it does not read the file.
peer() {
  local mbps rssx st
  read -r mbps rssx st < <(measure "$@")
  if [ "$st" = ok ]; then echo "$mbps $rssx"; else echo "- -"; fi
}
# The tool's figures; a failed parse or a timeout is flagged next to the number.
ours() {
  local mbps rssx st
  read -r mbps rssx st < <(measure "$@")
  case "$st" in
    ok) echo "$mbps $rssx" ;;
    timeout) echo ">${timeout_s}s -" ;;
    *) echo "${mbps}! ${rssx}" ;;
  esac
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a+0 > 0 && b+0 > 0 && a !~ /[!>]/) printf "%.2f", a / b; else printf "-" }'; }

fmt='%-18s %5s %9s %9s %9s %6s %6s %9s %6s %9s %6s %9s %8s %8s'
if [ -n "$baseline" ]; then fmt="$fmt %9s %6s %8s"; fi
fmt="$fmt\n"
header=(shape MiB cues list_MB/s json_MB/s rss_x jrss_x ffmpeg rss_x libass rss_x memchr /peer /memchr)
[ -n "$baseline" ] && header+=(base_MB/s rss_x /base)
printf "$fmt" "${header[@]}"
for size in "${sizes[@]}"; do
  bytes=$((size * 1024 * 1024))
  for shape in "${shapes[@]}"; do
    [ -n "${ext[$shape]:-}" ] || { log "unknown shape $shape"; continue; }
    f="$data/$shape-${size}M${ext[$shape]}"
    if [ ! -f "$f" ] || [ "$gen" -nt "$f" ]; then "$gen" "$shape" "$bytes" "$f"; fi

    # One untimed run reads the cue count (and warms the page cache for the timed runs).
    head_line="$(timeout "$timeout_s" "$tool" "$f" 2>/dev/null | head -n1 || true)"
    case "$head_line" in
      "# format="*) cues="${head_line##*cues=}" ;;
      *) cues=fail ;;
    esac

    read -r list rss < <(ours "$tool" "$f")
    read -r json jrss < <(ours "$tool" "$f" --json)

    ff="- -"
    if [ "$have_ffmpeg" = 1 ]; then
      charenc=(); [ "$shape" = cp1252 ] && charenc=(-sub_charenc CP1252)
      # A peer that exits 0 but converts no cue has not read the format; it gets no figure.
      # Checked once per shape, on a 1 MiB file of it.
      if [ -z "${ff_reads[$shape]:-}" ]; then
        small="$data/$shape-1M${ext[$shape]}"
        [ -f "$small" ] || "$gen" "$shape" $((1024 * 1024)) "$small"
        n="$(timeout "$timeout_s" ffmpeg -nostdin -v error "${charenc[@]}" -i "$small" -map 0:s:0 -c:s srt -f srt - 2>/dev/null |
          grep -c -- '-->' || true)"
        if [ "${n:-0}" -gt 0 ]; then ff_reads[$shape]=1; else ff_reads[$shape]=0; fi
      fi
      if [ "${ff_reads[$shape]}" = 1 ]; then
        ff="$(peer ffmpeg -nostdin -v error "${charenc[@]}" -i "$f" -map 0:s:0 -c:s srt -f srt -y /dev/null)"
      fi
    fi
    la="- -"
    if [ -n "$peer_libass" ] && [ "$shape" = ass ]; then la="$(peer "$peer_libass" "$f")"; fi
    read -r ffm ffr <<<"$ff"
    read -r lam lar <<<"$la"
    read -r mc _ < <(peer "$floor" "$f")

    best="$(awk -v a="$ffm" -v b="$lam" 'BEGIN { m = (a+0 > b+0) ? a : b; if (m+0 > 0) print m; else print "-" }')"
    row=("$shape" "$size" "$cues" "$list" "$json" "$rss" "$jrss" "$ffm" "$ffr" "$lam" "$lar" "$mc"
      "$(ratio "$list" "$best")" "$(ratio "$list" "$mc")")
    if [ -n "$baseline" ]; then
      read -r bl blr < <(ours "$baseline" "$f")
      row+=("$bl" "$blr" "$(ratio "$list" "$bl")")
    fi
    printf "$fmt" "${row[@]}"
  done
done
echo
echo "MB/s = 10^6 bytes per second of file, median of $runs runs, whole process (start-up included);"
echo "rss_x = peak resident set / file size (jrss_x: with --json); ffmpeg converts the subtitles to"
echo "SubRip into /dev/null (cp1252: told the code page; no figure where it converts no cue), libass"
echo "loads the script and counts events;"
echo "memchr reads the file and counts line feeds. /peer and /memchr: list_MB/s over the fastest peer"
echo "and over memchr. N! = the tool exited non-zero (no parser accepted the file); - = not available."
[ -n "$baseline" ] && echo "base: $baseline, listing to /dev/null; /base = list_MB/s over base_MB/s."
exit 0
